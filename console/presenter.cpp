#include "console/presenter.h"

#include <chrono>

namespace {

// Often enough that the picture follows the painting without visible delay; seldom enough
// that an idle look costs nothing worth measuring.
constexpr std::chrono::milliseconds tick(16);

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
    for (auto look = std::chrono::steady_clock::now() + tick;;) {
        const bool stopping = wake_.wait_until(lock, look, [this] { return stop_; });
        look = std::chrono::steady_clock::now() + tick;
        lock.unlock();
        presentation_.present();  // after a stop too: that is the last look
        lock.lock();
        if (stopping)
            return;
    }
}
