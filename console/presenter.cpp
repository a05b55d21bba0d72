#include "console/presenter.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>

namespace {

// Often enough that the picture follows the painting without visible delay; seldom enough
// that an idle look costs nothing worth measuring.
constexpr std::chrono::milliseconds tick(16);

// Output goes to the terminal in pieces of about this size, so the first bands of a large
// picture show while later ones are still being encoded.
constexpr std::size_t batchBytes = 1 << 16;

}  // namespace

Presenter::Presenter(PaintingTerminal& terminal, Surface& surface,
                     std::unique_ptr<Encoder> encoder, CellGeometry cells)
    : terminal_(terminal), surface_(surface), encoder_(std::move(encoder)),
      twin_(encoder_->twin()), cells_(cells)
{
    thread_ = terminal_.startWriter([this] { run(); });
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
    const PaintingTerminal::Size window = terminal_.size();
    const int textRows = (surface_.height() + cells_.cellHeight - 1) / cells_.cellHeight;
    CellGeometry cells = cells_;
    cells.rows = window.rows > 0 ? window.rows : textRows;
    cells.columns = window.columns > 0
                        ? window.columns
                        : (surface_.width() + cells_.cellWidth - 1) / cells_.cellWidth;

    rows_.clear();
    for (int row = 0; row < textRows; ++row) {
        bool changed = false;
        const int bottom = std::min((row + 1) * cells.cellHeight, surface_.height());
        for (int y = row * cells.cellHeight; y < bottom; ++y)
            changed = surface_.takeChanged(y) || changed;  // take every mark, even past one
        if (changed && row < cells.rows)
            rows_.push_back(row);
    }
    if (rows_.empty() || terminalGone_)
        return;

    cut_ = false;
    terminal_.beginPaint();
    buffer_.append(terminal_.paintPrologue, sizeof terminal_.paintPrologue - 1);
    encoder_->reset();
    if (encoder_->showsRuns())
        showRuns(rows_, cells);
    else
        showRows(rows_, cells);
    buffer_.append(terminal_.epilogue(), std::strlen(terminal_.epilogue()));
    writeBuffer();
    terminal_.endPaint();

    // A stop (Ctrl-Z) ended this presentation on the terminal part way: its rows are shown
    // anew, whole, at the next look.
    if (cut_) {
        buffer_.clear();
        for (const int row : rows_)
            for (int y = row * cells.cellHeight;
                 y < std::min((row + 1) * cells.cellHeight, surface_.height()); ++y)
                surface_.markChanged(y);
    }
}

void Presenter::writeBuffer()
{
    if (!terminalGone_ && !cut_ && !terminal_.write(buffer_.data(), buffer_.size())) {
        if (terminal_.presentationCut())
            cut_ = true;
        else
            terminalGone_ = true;
    }
    buffer_.clear();
}

void Presenter::showRuns(const std::vector<int>& rows, const CellGeometry& cells)
{
    for (std::size_t i = 0; i < rows.size() && !terminalGone_ && !cut_;) {
        std::size_t end = i + 1;
        while (end < rows.size() && rows[end] == rows[end - 1] + 1)
            ++end;
        encoder_->encodeRun(surface_, rows[i], rows[end - 1], cells, buffer_);
        if (buffer_.size() >= batchBytes)
            writeBuffer();
        i = end;
    }
}

void Presenter::showRows(const std::vector<int>& rows, const CellGeometry& cells)
{
    if (!twin_ || rows.size() < 2) {
        for (const int row : rows) {
            if (terminalGone_ || cut_)
                break;
            encoder_->encodeRow(surface_, row, cells, buffer_);
            if (buffer_.size() >= batchBytes)
                writeBuffer();
        }
        return;
    }

    // Image rows are costly to encode and stand on their own: two helper threads encode them,
    // each taking the next row no one has taken, while this thread writes them in order, each
    // as soon as it is ready. The first rows are on their way to the terminal while later ones
    // are still being encoded, on both cores.
    rowBytes_.resize(rows.size());
    std::vector<bool> ready(rows.size(), false);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> abandon{false};
    std::mutex readyMutex;
    std::condition_variable readyChanged;
    auto encodeRows = [&](Encoder& encoder) {
        for (std::size_t i; !abandon.load() && (i = next++) < rows.size();) {
            rowBytes_[i].clear();
            encoder.encodeRow(surface_, rows[i], cells, rowBytes_[i]);
            {
                std::lock_guard<std::mutex> lock(readyMutex);
                ready[i] = true;
            }
            readyChanged.notify_one();
        }
    };
    std::thread first(encodeRows, std::ref(*encoder_)), second(encodeRows, std::ref(*twin_));
    for (std::size_t i = 0; i < rows.size() && !terminalGone_ && !cut_; ++i) {
        std::unique_lock<std::mutex> lock(readyMutex);
        if (!ready[i] && !buffer_.empty()) {
            // The terminal is faster than the encoders: it gets what is ready meanwhile.
            lock.unlock();
            writeBuffer();
            lock.lock();
        }
        readyChanged.wait(lock, [&] { return ready[i]; });
        lock.unlock();
        buffer_.append(rowBytes_[i].data(), rowBytes_[i].size());
        if (buffer_.size() >= batchBytes)
            writeBuffer();
    }
    abandon.store(true);
    first.join();
    second.join();
}
