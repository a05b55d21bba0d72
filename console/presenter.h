// Shows the surface on the terminal while the program paints into it.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "console/presentation.h"

// The program never tells its canvas that a picture is done: it only sets pixels. So a thread
// of the canvas's own looks at the surface every tick, and sends the text rows that changed
// since it last looked. A large picture appears band by band as its rows are painted; the last
// pixel is on screen within a tick or two, whatever the program does next (it usually waits
// for Enter); and whatever is still unshown when the canvas closes is shown before it does.
// While nothing changes, it looks less often (a tenth of a second): pixels painted after such
// a pause wait that long for their first look.
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

    Presentation presentation_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;  // last: starts once everything above is ready
};
