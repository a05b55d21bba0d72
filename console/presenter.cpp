#include "console/presenter.h"

#include <signal.h>

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

Presenter::Presenter(Terminal& terminal, Surface& surface, std::unique_ptr<Encoder> encoder,
                     CellGeometry cells)
    : terminal_(terminal), surface_(surface), encoder_(std::move(encoder)),
      twin_(encoder_->twin()), cells_(cells)
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
    // A look every tick, counted from the start of the last one: after a look that took
    // longer (a large picture's images), the next follows at once.
    std::unique_lock<std::mutex> lock(mutex_);
    for (auto look = std::chrono::steady_clock::now() + tick;;) {
        const bool stopping = wake_.wait_until(lock, look, [this] { return stop_; });
        look = std::chrono::steady_clock::now() + tick;
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
    buffer_.append(Terminal::paintPrologue, sizeof Terminal::paintPrologue - 1);
    encoder_->reset();
    cutIntoPieces(cells);
    showPieces(cells);
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

void Presenter::cutIntoPieces(const CellGeometry& cells)
{
    pieces_.clear();
    if (!encoder_->showsRuns()) {
        for (const int row : rows_)
            pieces_.push_back(Piece{row, row});
        return;
    }
    const int most = encoder_->runRows(cells);
    for (std::size_t i = 0; i < rows_.size();) {
        std::size_t end = i + 1;
        while (end < rows_.size() && rows_[end] == rows_[end - 1] + 1)
            ++end;
        // Pieces of equal size, at least two where a second thread can take one.
        const int first = rows_[i], rows = int(end - i);
        int count = most > 0 ? (rows + most - 1) / most : 1;
        if (twin_ && rows > 1)
            count = std::max(count, 2);
        for (int k = 0; k < count; ++k)
            pieces_.push_back(Piece{first + rows * k / count, first + rows * (k + 1) / count - 1});
        i = end;
    }
}

void Presenter::showPieces(const CellGeometry& cells)
{
    const std::vector<Piece>& pieces = pieces_;
    if (!twin_ || pieces.size() < 2) {
        for (const Piece& piece : pieces) {
            if (terminalGone_ || cut_)
                break;
            encoder_->encodeRun(surface_, piece.firstRow, piece.lastRow, cells, buffer_);
            if (buffer_.size() >= batchBytes)
                writeBuffer();
        }
        return;
    }

    // Image pieces are costly to encode and stand on their own: two helper threads encode them,
    // each taking the next piece no one has taken, while this thread writes them in order, each
    // as soon as it is ready. The first pieces are on their way to the terminal while later
    // ones are still being encoded, on both cores.
    pieceBytes_.resize(pieces.size());
    std::vector<bool> ready(pieces.size(), false);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> abandon{false};
    std::mutex readyMutex;
    std::condition_variable readyChanged;
    auto encodePieces = [&](Encoder& encoder) {
        for (std::size_t i; !abandon.load() && (i = next++) < pieces.size();) {
            pieceBytes_[i].clear();
            encoder.encodeRun(surface_, pieces[i].firstRow, pieces[i].lastRow, cells,
                              pieceBytes_[i]);
            {
                std::lock_guard<std::mutex> lock(readyMutex);
                ready[i] = true;
            }
            readyChanged.notify_one();
        }
    };
    std::thread first(encodePieces, std::ref(*encoder_)), second(encodePieces, std::ref(*twin_));
    for (std::size_t i = 0; i < pieces.size() && !terminalGone_ && !cut_; ++i) {
        std::unique_lock<std::mutex> lock(readyMutex);
        if (!ready[i] && !buffer_.empty()) {
            // The terminal is faster than the encoders: it gets what is ready meanwhile.
            lock.unlock();
            writeBuffer();
            lock.lock();
        }
        readyChanged.wait(lock, [&] { return ready[i]; });
        lock.unlock();
        buffer_.append(pieceBytes_[i].data(), pieceBytes_[i].size());
        if (buffer_.size() >= batchBytes)
            writeBuffer();
    }
    abandon.store(true);
    first.join();
    second.join();
}
