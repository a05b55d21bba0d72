// What every console canvas's encoder does: turn one text row of the surface into the bytes
// that show it on the terminal. Encoders only produce bytes; the presenter writes them.
#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "console/bytes/byte_buffer.h"
#include "console/surface/surface.h"

// How the surface's pixels meet the terminal's text cells.
struct CellGeometry {
    int cellWidth = 1;   // pixels a text cell holds across
    int cellHeight = 2;  // and down
    int columns = 0;     // the window, in text cells, as it is now
    int rows = 0;
};

// Adjacent text rows that an encoder shows as one whole, and of them the text columns from
// `firstColumn` up to `endColumn` (all of them, unless the encoder cuts its runs across too).
struct Piece {
    int firstRow = 0, lastRow = 0;
    int firstColumn = 0, endColumn = std::numeric_limits<int>::max();
};

class Encoder {
public:
    virtual ~Encoder() = default;

    // A presentation starts: the terminal's colours are at their defaults (after SGR 0).
    virtual void reset() {}

    // Appends the bytes that show text row `row`: pixel rows row * cellHeight up to the next
    // text row, across the window's columns. Nothing may land outside the window, scroll it,
    // or leave an escape sequence open. The cursor may be left anywhere.
    virtual void encodeRow(const Surface& surface, int row, const CellGeometry& cells,
                           ByteBuffer& out) = 0;

    // Encoders that show a run of adjacent text rows as one whole (one image) say so; the
    // presenter then gives them each run of changed rows instead of one row at a time, cut
    // into pieces of about runRows() rows where they say so (0: any number; a piece may hold
    // more, and the encoder cuts it as it must), and across into pieces of runColumns()
    // columns where they say so (0: never); a twin may encode one piece while this encoder
    // encodes another. The same rules hold.
    virtual bool showsRuns() const { return false; }
    virtual int runRows(const CellGeometry&) const { return 0; }
    virtual int runColumns(const CellGeometry&) const { return 0; }
    virtual void encodeRun(const Surface& surface, const Piece& piece, const CellGeometry& cells,
                           ByteBuffer& out)
    {
        for (int row = piece.firstRow; row <= piece.lastRow; ++row)
            encodeRow(surface, row, cells, out);
    }

    // Another encoder like this one, for a second thread, where the bytes of each row (or
    // piece of a run) stand on their own (nothing carried from one to the next); null where
    // they do not.
    virtual std::unique_ptr<Encoder> twin() const { return nullptr; }

    // Where the bytes the last encodeRun (or encodeRow) appended may be cut short, should the
    // window change size while they are written: offsets into `out` (which the presenter gives
    // each piece empty) after which a string terminator ends what is open (a sixel image after
    // a whole band) or does nothing (between kitty images). Encoders whose pieces are a text
    // row each have none.
    const std::vector<std::size_t>& cutPoints() const { return cutPoints_; }

    // Called from the encoding thread at each cut point as it is reached, with `out`: the
    // bytes before it are final, and may be written while the encoder goes on (the buffer
    // keeps them where they are, however it grows, until it is cleared). Null: none.
    virtual void watchCuts(std::function<void(const ByteBuffer&)> watch) { watch_ = std::move(watch); }

    // The bytes of the last encodeRun (or encodeRow) did not all reach the terminal (a resize
    // or a stop cut them short): an encoder that keeps track of what the terminal shows takes
    // them back. Only for encoders without a twin: the presenter calls it right after.
    virtual void unsent() {}

protected:
    // Takes note of a cut point at the end of `out`.
    void cutHere(const ByteBuffer& out)
    {
        cutPoints_.push_back(out.size());
        if (watch_)
            watch_(out);
    }

    std::vector<std::size_t> cutPoints_;

private:
    std::function<void(const ByteBuffer&)> watch_;
};
