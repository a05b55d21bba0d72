#include "console/presenter.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

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
    : terminal_(terminal), surface_(surface), encoder_(std::move(encoder)),
      twin_(encoder_->twin()), cells_(cells), shownIn_(cells),
      painted_(std::size_t((surface.height() + cells.cellHeight - 1) / cells.cellHeight)),
      pending_(painted_.size())
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

CellGeometry Presenter::windowNow() const
{
    const Terminal::Size window = terminal_.size();
    CellGeometry cells = cells_;
    cells.rows = window.rows > 0 ? window.rows : int(painted_.size());
    cells.columns = window.columns > 0
                        ? window.columns
                        : (surface_.width() + cells_.cellWidth - 1) / cells_.cellWidth;
    return cells;
}

void Presenter::present()
{
    // The window may have been resized since the surface was made or since the last look:
    // never draw past its edges. One that grew shows again what the smaller one cut off.
    const CellGeometry cells = windowNow();
    const int textRows = int(painted_.size());
    if (cells.rows > shownIn_.rows || cells.columns != shownIn_.columns)
        pending_ = painted_;
    else if (cells.rows < shownIn_.rows && cells.rows <= textRows)
        // What was on its way for rows past the new edge landed on the last row (a terminal
        // keeps the cursor inside): it is shown again.
        pending_[std::size_t(cells.rows - 1)] = painted_[std::size_t(cells.rows - 1)];
    shownIn_ = cells;

    rows_.clear();
    for (int row = 0; row < textRows; ++row) {
        bool changed = false;
        const int bottom = std::min((row + 1) * cells.cellHeight, surface_.height());
        for (int y = row * cells.cellHeight; y < bottom; ++y)
            changed = surface_.takeChanged(y) || changed;  // take every mark, even past one
        if (changed)
            painted_[std::size_t(row)] = pending_[std::size_t(row)] = true;
        if (pending_[std::size_t(row)] && row < cells.rows) {
            rows_.push_back(row);
            pending_[std::size_t(row)] = false;
        }
    }
    if (rows_.empty() || terminalGone_)
        return;

    cut_ = resized_ = false;
    shown_ = 0;
    terminal_.beginPaint();
    send(Terminal::paintPrologue, sizeof Terminal::paintPrologue - 1);
    encoder_->reset();
    if (encoder_->showsRuns())
        showRuns(rows_, cells);
    else
        showRows(rows_, cells);
    writeBuffer();
    send(terminal_.epilogue(), std::strlen(terminal_.epilogue()));
    terminal_.endPaint();

    // A stop (Ctrl-Z) ended this presentation on the terminal part way: its rows are shown
    // anew, whole, at the next look. A resize kept the rest of them from it: they are shown
    // as the window then allows.
    for (std::size_t i = cut_ ? 0 : shown_; i < rows_.size(); ++i)
        pending_[std::size_t(rows_[i])] = true;
}

void Presenter::writeBuffer()
{
    std::size_t from = 0;
    for (const Segment& segment : segments_) {
        if (terminalGone_ || cut_)
            break;
        const CellGeometry window = windowNow();
        if (window.rows != shownIn_.rows || window.columns != shownIn_.columns) {
            resized_ = true;
            break;
        }
        send(buffer_.data() + from, segment.end - from);
        from = segment.end;
        shown_ = segment.shown;
    }
    buffer_.clear();
    segments_.clear();
}

void Presenter::send(const char* data, std::size_t size)
{
    if (!terminalGone_ && !cut_ && !terminal_.write(data, size)) {
        if (terminal_.presentationCut())
            cut_ = true;
        else
            terminalGone_ = true;
    }
}

void Presenter::showRuns(const std::vector<int>& rows, const CellGeometry& cells)
{
    for (std::size_t i = 0; i < rows.size() && !terminalGone_ && !cut_ && !resized_;) {
        std::size_t end = i + 1;
        while (end < rows.size() && rows[end] == rows[end - 1] + 1)
            ++end;
        encoder_->encodeRun(surface_, rows[i], rows[end - 1], cells, buffer_);
        endSegment(end);
        if (buffer_.size() >= batchBytes)
            writeBuffer();
        i = end;
    }
}

void Presenter::showRows(const std::vector<int>& rows, const CellGeometry& cells)
{
    if (!twin_ || rows.size() < 2) {
        for (std::size_t i = 0; i < rows.size() && !terminalGone_ && !cut_ && !resized_; ++i) {
            encoder_->encodeRow(surface_, rows[i], cells, buffer_);
            endSegment(i + 1);
            if (buffer_.size() >= batchBytes)
                writeBuffer();
        }
        return;
    }

    // Image rows are costly to encode and stand on their own: a helper thread encodes every
    // other one while this thread encodes the rest and writes them all in order.
    rowBytes_.resize(rows.size());
    std::vector<std::atomic<bool>> ready(rows.size());
    std::atomic<bool> abandon{false};
    std::mutex readyMutex;
    std::condition_variable readyChanged;
    std::thread helper([&] {
        for (std::size_t i = 1; i < rows.size() && !abandon.load(); i += 2) {
            rowBytes_[i].clear();
            twin_->encodeRow(surface_, rows[i], cells, rowBytes_[i]);
            {
                std::lock_guard<std::mutex> lock(readyMutex);
                ready[i].store(true);
            }
            readyChanged.notify_one();
        }
    });
    for (std::size_t i = 0; i < rows.size() && !terminalGone_ && !cut_ && !resized_; ++i) {
        if (i % 2 == 0) {
            encoder_->encodeRow(surface_, rows[i], cells, buffer_);
        } else {
            std::unique_lock<std::mutex> lock(readyMutex);
            readyChanged.wait(lock, [&] { return ready[i].load(); });
            lock.unlock();
            buffer_.append(rowBytes_[i].data(), rowBytes_[i].size());
        }
        endSegment(i + 1);
        if (buffer_.size() >= batchBytes)
            writeBuffer();
    }
    abandon.store(true);
    helper.join();
}
