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
#include "console/terminal/terminal.h"

// The program never tells its canvas that a picture is done: it only sets pixels. So a thread
// of the canvas's own looks at the surface every tick, and sends the text rows that changed
// since it last looked. A large picture appears band by band as its rows are painted; the last
// pixel is on screen within a tick or two, whatever the program does next (it usually waits
// for Enter); and whatever is still unshown when the canvas closes is shown before it does.
class Presenter {
public:
    // `cells` gives the cell size in pixels; the window's size is asked anew each time.
    Presenter(Terminal& terminal, Surface& surface, std::unique_ptr<Encoder> encoder,
              CellGeometry cells);
    ~Presenter();  // shows what is left, then stops the thread

    Presenter(const Presenter&) = delete;
    Presenter& operator=(const Presenter&) = delete;

private:
    void run();
    void present();
    // The window as it is now, in text cells.
    CellGeometry windowNow() const;
    // Encodes the given text rows in order and writes them, in batches: row by row, or each
    // run of adjacent rows as one where the encoder shows runs.
    void showRuns(const std::vector<int>& rows, const CellGeometry& cells);
    void showRows(const std::vector<int>& rows, const CellGeometry& cells);
    // The buffer's bytes up to here show rows_[0, shown) (a row, or a run, ends here).
    void endSegment(std::size_t shown) { segments_.push_back(Segment{buffer_.size(), shown}); }
    // Writes the buffer segment by segment, as long as the window keeps the size the rows were
    // encoded for; what a resize leaves unwritten is dropped.
    void writeBuffer();
    void send(const char* data, std::size_t size);

    Terminal& terminal_;
    Surface& surface_;
    std::unique_ptr<Encoder> encoder_;
    std::unique_ptr<Encoder> twin_;  // a second encoder for a helper thread, where rows allow
    CellGeometry cells_;
    std::vector<int> rows_;              // the rows a presentation shows
    std::vector<ByteBuffer> rowBytes_;   // and their bytes, where two threads encode them
    ByteBuffer buffer_;
    struct Segment {
        std::size_t end;    // where its bytes end in the buffer
        std::size_t shown;  // how many of rows_ are shown once they are written
    };
    std::vector<Segment> segments_;
    std::size_t shown_ = 0;  // how many of rows_ went to the terminal
    CellGeometry shownIn_;   // the window the rows were encoded for
    // Text rows painted at least once, and those to show at the next look: changed, cut short
    // by a stop or a resize, or past the window's edges when they changed.
    std::vector<bool> painted_, pending_;
    bool terminalGone_ = false;
    bool cut_ = false;      // a stop ended the presentation on the terminal: show its rows again
    bool resized_ = false;  // the window changed size while the rows were written

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;  // last: starts once everything above is ready
};
