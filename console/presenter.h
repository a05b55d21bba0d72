// Shows the surface on the terminal while the program paints into it.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "console/bytes/byte_buffer.h"
#include "console/encoders/encoder.h"
#include "console/surface/surface.h"
#include "console/terminal/painting_terminal.h"

// The program never tells its canvas that a picture is done: it only sets pixels. So a thread
// of the canvas's own looks at the surface every tick, and sends the text rows that changed
// since it last looked. A large picture appears band by band as its rows are painted; the last
// pixel is on screen within a tick or two, whatever the program does next (it usually waits
// for Enter); and whatever is still unshown when the canvas closes is shown before it does.
class Presenter {
public:
    // `cells` gives the cell size in pixels; the window's size is asked anew each time.
    Presenter(PaintingTerminal& terminal, Surface& surface, std::unique_ptr<Encoder> encoder,
              CellGeometry cells);
    ~Presenter();  // shows what is left, then stops the thread

    Presenter(const Presenter&) = delete;
    Presenter& operator=(const Presenter&) = delete;

private:
    void run();
    void present();
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

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;  // last: starts once everything above is ready
};
