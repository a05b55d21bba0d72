#include "console/presenter.h"

#include <algorithm>
#include <chrono>

namespace {

// Often enough that the picture follows the painting without visible delay.
constexpr std::chrono::milliseconds tick(16);

// Once this many looks in a row showed nothing, the program is waiting (for Enter, mostly),
// and looks come at a slower pace: a resized window or rows the window lost are still seen to
// within a tenth of a second, at next to no cost. Each look wakes the thread and asks the
// window's size; under wine both are requests to its server, and sixty looks a second took
// about 1% of a core there on their own.
constexpr int looksBeforeResting = 4;
constexpr std::chrono::milliseconds restingTick(100);

}  // namespace

Presenter::Presenter(PaintingTerminal& terminal, Surface& surface,
                     std::unique_ptr<Encoder> encoder, CellGeometry cells)
    : presentation_(terminal, surface, std::move(encoder), cells)
{
    thread_ = terminal.startWriter([this] { run(); });
}

Presenter::~Presenter()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void Presenter::run()
{
    // A look every tick, counted from the start of the last one: after a look that took
    // longer (a large picture's images), the next follows at once.
    std::unique_lock<std::mutex> lock(mutex_);
    int idle = 0;  // looks in a row that showed nothing
    for (auto look = std::chrono::steady_clock::now() + tick;;) {
        const bool stopping = wake_.wait_until(lock, look, [this] { return stop_; });
        const auto started = std::chrono::steady_clock::now();
        lock.unlock();
        const bool showed = presentation_.present(stopping);  // after a stop too: the last look
        lock.lock();
        if (stopping)
            return;
        idle = showed ? 0 : std::min(idle + 1, looksBeforeResting);
        look = started + (idle < looksBeforeResting ? tick : restingTick);
    }
}
