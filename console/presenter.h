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
    // Encodes the given text rows in order and writes them, in batches: row by row, or each
    // run of adjacent rows as one where the encoder shows runs.
    void showRuns(const std::vector<int>& rows, const CellGeometry& cells);
    void showRows(const std::vector<int>& rows, const CellGeometry& cells);
    void writeBuffer();

    PaintingTerminal& terminal_;
    Surface& surface_;
    std::unique_ptr<Encoder> encoder_;
    std::unique_ptr<Encoder> twin_;  // a second encoder, for two helper threads, where rows allow
    CellGeometry cells_;
    std::vector<int> rows_;              // the rows a presentation shows
    std::vector<ByteBuffer> rowBytes_;   // and their bytes, where two threads encode them
    ByteBuffer buffer_;
    bool terminalGone_ = false;
    bool cut_ = false;  // a stop ended the presentation on the terminal: show its rows again

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;  // last: starts once everything above is ready
};
