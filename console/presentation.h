// What the presenter shows at each look: the text rows of the surface that changed since the
// last, as the encoder makes them, written to the terminal as one presentation.
#pragma once

#include <memory>
#include <vector>

#include "console/bytes/byte_buffer.h"
#include "console/encoders/encoder.h"
#include "console/surface/surface.h"
#include "console/terminal/painting_terminal.h"

// Single-threaded: the presenter's thread makes every look (console/presenter.h), and so may a
// test, without a thread of its own.
class Presentation {
public:
    // `cells` gives the cell size in pixels; the window's size is asked anew each time.
    Presentation(PaintingTerminal& terminal, Surface& surface, std::unique_ptr<Encoder> encoder,
                 CellGeometry cells);

    Presentation(const Presentation&) = delete;
    Presentation& operator=(const Presentation&) = delete;

    // One look: the rows that changed (or that a stop or a resize kept from the terminal, or
    // that the window lost) are shown, as far as the window allows; the last look shows every
    // one, the others may wait one look for rows still being painted. Whether any were shown.
    bool present(bool last = false);

private:
    // A piece's bytes as the encoder made them, and the points at which they may be cut
    // (offsets into those bytes).
    struct Encoded {
        ByteBuffer bytes;
        std::vector<std::size_t> cuts;
    };

    // The window as it is now, in text cells.
    CellGeometry windowNow() const;
    // Takes note of the window's size: one that grew or changed its width needs every painted
    // row again, one that shrank its new last row (what was on its way past the new edge
    // landed there: a terminal keeps the cursor inside).
    void noteWindow(const CellGeometry& window);
    // Looks at the window: whether it still has the size the pieces were made for.
    bool windowKeeps(const CellGeometry& cells);
    // The rows a presentation shows, as the encoder takes them: row by row, or runs of
    // adjacent rows cut where the encoder says, down and across (and for a second thread).
    void cutIntoPieces(const CellGeometry& cells);
    void encode(Encoder& encoder, const Piece& piece, Encoded& into, const CellGeometry& cells);
    // Encodes the pieces and writes them in order; returns how many reached the terminal whole.
    std::size_t showPieces(const CellGeometry& cells);
    // Writes a piece from `from` (0 or a cut point) up to each cut point in turn, as long as
    // the window keeps the size it was made for. Whether it was written whole.
    bool writePiece(const Encoded& piece, std::size_t from, const CellGeometry& cells);
    // Writes bytes [from, to) of a piece, from a cut point (or its start) to a cut point (or
    // its end), if the window keeps the size the piece was made for; a resize leaves them
    // unwritten, and ends an image it cuts. Whether they were written.
    bool writeSegment(const char* bytes, std::size_t from, std::size_t to,
                      const CellGeometry& cells);
    void send(const char* data, std::size_t size);

    PaintingTerminal& terminal_;
    Surface& surface_;
    std::unique_ptr<Encoder> encoder_;
    std::unique_ptr<Encoder> twin_;  // a second encoder, for two helper threads, where rows allow
    CellGeometry cells_;
    CellGeometry window_;            // the window as last seen
    std::vector<int> rows_;          // the rows a presentation shows
    std::vector<Piece> pieces_;      // those rows, as the encoder takes them
    std::vector<Encoded> encoded_;   // the pieces encoded and not yet written, in turn; kept
                                     // from look to look, so their memory is made once
    // Text rows painted at least once, and those to show at the next look: changed, cut short
    // by a stop or a resize, or past the window's edges when they changed.
    std::vector<bool> painted_, pending_;
    bool terminalGone_ = false;
    bool cut_ = false;  // a stop ended the presentation on the terminal: show its rows again
    bool waited_ = false;  // the last look left its rows for this one
};
