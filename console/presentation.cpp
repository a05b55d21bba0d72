#include "console/presentation.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

namespace {

// Output goes to the terminal in pieces of about this size, so the first bands of a large
// picture show while later ones are still being encoded.
constexpr std::size_t batchBytes = 1 << 16;

}  // namespace

Presentation::Presentation(PaintingTerminal& terminal, Surface& surface,
                           std::unique_ptr<Encoder> encoder, CellGeometry cells)
    : terminal_(terminal), surface_(surface), encoder_(std::move(encoder)),
      twin_(encoder_->twin()), cells_(cells), shownIn_(cells),
      painted_(std::size_t((surface.height() + cells.cellHeight - 1) / cells.cellHeight)),
      pending_(painted_.size())
{
}

CellGeometry Presentation::windowNow() const
{
    const PaintingTerminal::Size window = terminal_.size();
    CellGeometry cells = cells_;
    cells.rows = window.rows > 0 ? window.rows : int(painted_.size());
    cells.columns = window.columns > 0
                        ? window.columns
                        : (surface_.width() + cells_.cellWidth - 1) / cells_.cellWidth;
    return cells;
}

void Presentation::present()
{
    // The window may have been resized since the surface was made or since the last look:
    // never draw past its edges. One that grew (or changed its width) shows again what the
    // smaller one cut off.
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
    piecesShown_ = 0;
    terminal_.beginPaint();
    send(terminal_.paintPrologue, sizeof terminal_.paintPrologue - 1);
    encoder_->reset();
    cutIntoPieces(cells);
    showPieces(cells);
    writeBuffer();
    send(terminal_.epilogue(), std::strlen(terminal_.epilogue()));
    terminal_.endPaint();

    // A stop (Ctrl-Z) ended this presentation on the terminal part way: its rows are shown
    // anew, whole, at the next look. A resize kept the rest of them from it: they are shown
    // as the window then allows.
    for (std::size_t i = cut_ ? 0 : piecesShown_; i < pieces_.size(); ++i)
        for (int row = pieces_[i].firstRow; row <= pieces_[i].lastRow; ++row)
            pending_[std::size_t(row)] = true;
}

void Presentation::addPiece(const ByteBuffer& bytes, std::size_t from,
                         const std::vector<std::size_t>& cuts)
{
    const std::size_t base = buffer_.size();
    if (&bytes != &buffer_)
        buffer_.append(bytes.data() + from, bytes.size() - from);
    for (const std::size_t cut : cuts)
        segments_.push_back(Segment{base + cut - from, false});
    segments_.push_back(Segment{buffer_.size(), true});
}

bool Presentation::windowResized()
{
    const CellGeometry window = windowNow();
    resized_ = resized_ || window.rows != shownIn_.rows || window.columns != shownIn_.columns;
    return resized_;
}

void Presentation::writeBuffer(bool checkFirst)
{
    std::size_t from = 0;
    bool insidePiece = false;
    for (const Segment& segment : segments_) {
        if (terminalGone_ || cut_)
            break;
        if ((checkFirst || from > 0) && windowResized()) {
            if (insidePiece)
                send("\x1b\\", 2);  // the image ends after the whole bands it has
            break;
        }
        send(buffer_.data() + from, segment.end - from);
        from = segment.end;
        insidePiece = !segment.endsPiece;
        piecesShown_ += segment.endsPiece;
    }
    buffer_.clear();
    segments_.clear();
}

void Presentation::send(const char* data, std::size_t size)
{
    if (!terminalGone_ && !cut_ && !terminal_.write(data, size)) {
        if (terminal_.presentationCut())
            cut_ = true;
        else
            terminalGone_ = true;
    }
}

void Presentation::cutIntoPieces(const CellGeometry& cells)
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

void Presentation::showPieces(const CellGeometry& cells)
{
    const std::vector<Piece>& pieces = pieces_;
    if (!twin_ || pieces.size() < 2) {
        // A piece at a time, written as soon as it is encoded, once the window is seen to keep
        // its size: what an encoder has made is never dropped, so one that keeps track of the
        // images it showed (kitty through shared memory) stays right.
        for (const Piece& piece : pieces) {
            if (terminalGone_ || cut_ || windowResized())
                break;
            encoder_->encodeRun(surface_, piece.firstRow, piece.lastRow, cells, buffer_);
            addPiece(buffer_, 0, encoder_->cutPoints());
            writeBuffer(false);
        }
        return;
    }

    // Image pieces are costly to encode and stand on their own: two helper threads encode them,
    // each taking the next piece no one has taken, while this thread writes them in order, each
    // as soon as it is ready. The first pieces are on their way to the terminal while later
    // ones are still being encoded, on both cores.
    pieceBytes_.resize(pieces.size());
    pieceCuts_.resize(pieces.size());
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
            pieceCuts_[i] = encoder.cutPoints();
            {
                std::lock_guard<std::mutex> lock(readyMutex);
                ready[i] = true;
            }
            readyChanged.notify_one();
        }
    };
    std::thread first(encodePieces, std::ref(*encoder_)), second(encodePieces, std::ref(*twin_));
    for (std::size_t i = 0; i < pieces.size() && !terminalGone_ && !cut_ && !resized_; ++i) {
        std::unique_lock<std::mutex> lock(readyMutex);
        if (!ready[i] && !buffer_.empty()) {
            // The terminal is faster than the encoders: it gets what is ready meanwhile.
            lock.unlock();
            writeBuffer();
            lock.lock();
        }
        readyChanged.wait(lock, [&] { return ready[i]; });
        lock.unlock();
        addPiece(pieceBytes_[i], 0, pieceCuts_[i]);
        if (buffer_.size() >= batchBytes)
            writeBuffer();
    }
    abandon.store(true);
    first.join();
    second.join();
}
