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

    // One look: the rows that changed (or that a stop or a resize kept from the terminal) are
    // shown, as far as the window allows.
    void present();

private:
    // The window as it is now, in text cells.
    CellGeometry windowNow() const;
    // The rows a presentation shows, as the encoder takes them: row by row, or runs of
    // adjacent rows cut where the encoder says (and for a second thread).
    void cutIntoPieces(const CellGeometry& cells);
    // Encodes the pieces in order and writes them, in batches.
    void showPieces(const CellGeometry& cells);
    // Appends a piece's bytes (`from` onwards in `bytes`, where the encoder has just put them)
    // to what is to be written, with the points at which it may be cut.
    void addPiece(const ByteBuffer& bytes, std::size_t from, const std::vector<std::size_t>& cuts);
    // Whether the window's size is no longer the one the pieces were encoded for.
    bool windowResized();
    // Writes the buffer piece by piece, as long as the window keeps the size the pieces were
    // encoded for (looked at before the first piece too, where `checkFirst`); what a resize
    // leaves unwritten is dropped, and an image it cuts is ended.
    void writeBuffer(bool checkFirst = true);
    void send(const char* data, std::size_t size);

    PaintingTerminal& terminal_;
    Surface& surface_;
    std::unique_ptr<Encoder> encoder_;
    std::unique_ptr<Encoder> twin_;  // a second encoder, for two helper threads, where rows allow
    CellGeometry cells_;
    std::vector<int> rows_;              // the rows a presentation shows
    struct Piece {
        int firstRow, lastRow;
    };
    std::vector<Piece> pieces_;          // those rows, as the encoder takes them
    std::vector<ByteBuffer> pieceBytes_; // and their bytes, where two threads encode them
    std::vector<std::vector<std::size_t>> pieceCuts_;  // and where they may be cut
    ByteBuffer buffer_;
    struct Segment {
        std::size_t end;  // where its bytes end in the buffer
        bool endsPiece;   // else it ends where a piece may be cut
    };
    std::vector<Segment> segments_;
    std::size_t piecesShown_ = 0;         // pieces that went to the terminal
    CellGeometry shownIn_;  // the window the pieces were encoded for
    // Text rows painted at least once, and those to show at the next look: changed, cut short
    // by a stop or a resize, or past the window's edges when they changed.
    std::vector<bool> painted_, pending_;
    bool terminalGone_ = false;
    bool cut_ = false;      // a stop ended the presentation on the terminal: show its rows again
    bool resized_ = false;  // the window changed size while the pieces were written
};
