#include "platform/presenter.h"

#include <signal.h>

#include <algorithm>
#include <chrono>

namespace {

// Often enough that the picture follows the painting without visible delay; seldom enough
// that an idle look costs nothing worth measuring.
constexpr std::chrono::milliseconds tick(16);

// Output goes to the terminal in pieces of about this size, so the first bands of a large
// picture show while later ones are still being encoded.
constexpr std::size_t batchBytes = 1 << 16;

}  // namespace

Presenter::Presenter(Terminal& terminal, Surface& surface, std::unique_ptr<Encoder> encoder,
                     CellGeometry cells)
    : terminal_(terminal), surface_(surface), encoder_(std::move(encoder)), cells_(cells)
{
    // The thread takes no signals: a handler then always runs in the program's own thread and
    // can wait for this one to finish a write.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    thread_ = std::thread(&Presenter::run, this);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
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
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        const bool stopping = wake_.wait_for(lock, tick, [this] { return stop_; });
        lock.unlock();
        present();  // after a stop too: that is the last look
        lock.lock();
        if (stopping)
            return;
    }
}

void Presenter::present()
{
    // The window may have been resized since the surface was made: never draw past its edges.
    const Terminal::Size window = terminal_.size();
    const int textRows = (surface_.height() + cells_.cellHeight - 1) / cells_.cellHeight;
    CellGeometry cells = cells_;
    cells.rows = window.rows > 0 ? window.rows : textRows;
    cells.columns = window.columns > 0
                        ? window.columns
                        : (surface_.width() + cells_.cellWidth - 1) / cells_.cellWidth;

    bool painting = false;
    for (int row = 0; row < textRows && !terminalGone_; ++row) {
        bool changed = false;
        const int bottom = std::min((row + 1) * cells.cellHeight, surface_.height());
        for (int y = row * cells.cellHeight; y < bottom; ++y)
            changed = surface_.takeChanged(y) || changed;  // take every mark, even past one
        if (!changed || row >= cells.rows)
            continue;

        if (!painting) {
            terminal_.beginPaint();
            buffer_.append(Terminal::paintPrologue, sizeof Terminal::paintPrologue - 1);
            encoder_->reset();
            painting = true;
        }
        encoder_->encodeRow(surface_, row, cells, buffer_);
        if (buffer_.size() >= batchBytes) {
            terminalGone_ = !terminal_.write(buffer_.data(), buffer_.size());
            buffer_.clear();
        }
    }
    if (!painting)
        return;

    buffer_.append(Terminal::paintEpilogue, sizeof Terminal::paintEpilogue - 1);
    if (!terminalGone_)
        terminalGone_ = !terminal_.write(buffer_.data(), buffer_.size());
    buffer_.clear();
    terminal_.endPaint();
}
