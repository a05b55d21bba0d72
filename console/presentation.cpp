#include "console/presentation.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

Presentation::Presentation(PaintingTerminal& terminal, Surface& surface,
                           std::unique_ptr<Encoder> encoder, CellGeometry cells)
    : terminal_(terminal), surface_(surface), encoder_(std::move(encoder)),
      twin_(encoder_->twin()), cells_(cells), window_(cells),
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

void Presentation::noteWindow(const CellGeometry& window)
{
    if (window.rows > window_.rows || window.columns != window_.columns)
        pending_ = painted_;
    else if (window.rows < window_.rows && window.rows <= int(painted_.size()))
        pending_[std::size_t(window.rows - 1)] = painted_[std::size_t(window.rows - 1)];
    window_ = window;
}

bool Presentation::windowKeeps(const CellGeometry& cells)
{
    noteWindow(windowNow());
    return window_.rows == cells.rows && window_.columns == cells.columns;
}

bool Presentation::present(bool last)
{
    // The window may have been resized since the surface was made or since the last look:
    // never draw past its edges.
    noteWindow(windowNow());
    const CellGeometry cells = window_;
    const int textRows = int(painted_.size());
    // What the window lost of what it showed is shown again, as far as it was painted.
    const PaintingTerminal::PixelRows lost = terminal_.lostRows();
    for (int row = std::max(lost.top, 0) / cells.cellHeight;
         row < textRows && row * cells.cellHeight < lost.bottom; ++row)
        if (painted_[std::size_t(row)])
            pending_[std::size_t(row)] = true;
    rows_.clear();
    bool painting = false;
    for (int row = 0; row < textRows; ++row) {
        bool changed = false;
        const int bottom = std::min((row + 1) * cells.cellHeight, surface_.height());
        for (int y = row * cells.cellHeight; y < bottom; ++y)
            changed = surface_.takeChanged(y) || changed;  // take every mark, even past one
        if (changed)
            painted_[std::size_t(row)] = pending_[std::size_t(row)] = painting = true;
        if (pending_[std::size_t(row)] && row < cells.rows) {
            rows_.push_back(row);
            pending_[std::size_t(row)] = false;
        }
    }
    if (rows_.empty() || terminalGone_)
        return false;
    // Where the encoder makes images of many rows, a look that finds the painting going on
    // waits one look for more: a picture painted over a look's time would otherwise be cut
    // into images smaller than the encoder makes best (each with its own colours, and more
    // bytes), and the row being painted shown twice. Never two looks in a row, and not at the
    // last.
    const bool images = encoder_->showsRuns() && encoder_->runRows(cells) > 1;
    if (painting && images && !last && !waited_) {
        for (const int row : rows_)
            pending_[std::size_t(row)] = true;
        waited_ = true;
        return false;
    }
    waited_ = false;

    cut_ = false;
    terminal_.beginPaint();
    send(terminal_.paintPrologue, sizeof terminal_.paintPrologue - 1);
    encoder_->reset();
    cutIntoPieces(cells);
    const std::size_t shown = showPieces(cells);
    send(terminal_.epilogue(), std::strlen(terminal_.epilogue()));
    terminal_.endPaint();

    // A stop (Ctrl-Z) ended this presentation on the terminal part way: its rows are shown
    // anew, whole, at the next look. A resize kept the rest of them from it: they are shown
    // as the window then allows.
    for (std::size_t i = cut_ ? 0 : shown; i < pieces_.size(); ++i)
        for (int row = pieces_[i].firstRow; row <= pieces_[i].lastRow; ++row)
            pending_[std::size_t(row)] = true;
    return true;
}

void Presentation::cutIntoPieces(const CellGeometry& cells)
{
    pieces_.clear();
    if (!encoder_->showsRuns()) {
        for (const int row : rows_)
            pieces_.push_back(Piece{row, row});
        return;
    }
    const int most = encoder_->runRows(cells), across = encoder_->runColumns(cells);
    for (std::size_t i = 0; i < rows_.size();) {
        std::size_t end = i + 1;
        while (end < rows_.size() && rows_[end] == rows_[end - 1] + 1)
            ++end;
        const int first = rows_[i], rows = int(end - i);
        // Pieces side by side where the painted columns are wider than the encoder takes (a
        // sixel terminal's widest image), from the first painted one: two threads then encode
        // the two halves of a band of rows at once, and the writer sends one while the other
        // is being finished, instead of the whole lower half of the picture once both are done.
        int strips = 1, left = 0, painted, lastPainted;
        if (across > 0 &&
            surface_.paintedSpan(first * cells.cellHeight,
                                 std::min((first + rows) * cells.cellHeight, surface_.height()),
                                 std::min(surface_.width(), cells.columns * cells.cellWidth),
                                 painted, lastPainted)) {
            left = painted / cells.cellWidth;
            strips = (lastPainted / cells.cellWidth - left) / across + 1;
        }
        // Pieces of equal size, as many as hold about the rows the encoder asks for; where two
        // threads encode them, an even number: three pieces on two threads take as long as
        // four, one thread idle while the other encodes the last.
        int count = most > 0 ? std::max(1, (rows + most / 2) / most) : 1;
        if (twin_ && rows > 1 && strips % 2 == 1)
            count = std::max(2, count + count % 2);
        for (int k = 0; k < count; ++k)
            for (int strip = 0; strip < strips; ++strip) {
                Piece piece{first + rows * k / count, first + rows * (k + 1) / count - 1};
                if (strips > 1)
                    piece.firstColumn = left + strip * across,
                    piece.endColumn = left + (strip + 1) * across;
                pieces_.push_back(piece);
            }
        i = end;
    }
}

void Presentation::encode(Encoder& encoder, const Piece& piece, Encoded& into,
                          const CellGeometry& cells)
{
    // Its own buffer, empty: the encoder's cut points are offsets into it.
    into.bytes.clear();
    encoder.encodeRun(surface_, piece, cells, into.bytes);
    into.cuts = encoder.cutPoints();
}

std::size_t Presentation::showPieces(const CellGeometry& cells)
{
    // Image pieces are costly to encode and stand on their own: where the encoder has a twin,
    // two helper threads encode them, each taking the next piece no one has taken, while this
    // thread writes them in order, each as far as its encoding has come (to a cut point), so
    // that the terminal reads a piece while the rest of it is still being encoded; the helpers
    // stay at most a few pieces ahead, so that the bytes waiting are a few pieces' whatever
    // the picture's size. Otherwise this thread encodes each piece right before writing it,
    // once the window is seen to keep its size (an encoder that keeps track of the images it
    // showed is told of a piece that did not reach the terminal).
    constexpr std::size_t ahead = 4;
    const bool helpers = twin_ && pieces_.size() > 1;
    encoded_.resize(std::max<std::size_t>(encoded_.size(), helpers ? ahead : 1));
    std::vector<bool> ready(pieces_.size(), false);
    // The cut points each piece has reached while it is being encoded: the bytes before them
    // are final, and stay where they are until its buffer is cleared for a piece `ahead`
    // later, once this one was written.
    struct Final {
        const char* bytes = nullptr;
        std::vector<std::size_t> cuts;
    };
    std::vector<Final> finals(pieces_.size());
    std::size_t next = 0, written = 0;
    bool abandon = false;
    std::mutex mutex;
    std::condition_variable changed;
    auto encodePieces = [&](Encoder& encoder) {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            const std::size_t i = next++;
            if (i >= pieces_.size())
                return;
            changed.wait(lock, [&] { return abandon || i < written + ahead; });
            if (abandon)
                return;
            lock.unlock();
            encoder.watchCuts([&, i](const ByteBuffer& out) {
                std::lock_guard<std::mutex> guard(mutex);
                finals[i].bytes = out.data();
                finals[i].cuts.push_back(out.size());
                changed.notify_all();
            });
            encode(encoder, pieces_[i], encoded_[i % ahead], cells);
            encoder.watchCuts(nullptr);
            lock.lock();
            ready[i] = true;
            changed.notify_all();
        }
    };
    std::thread first, second;
    if (helpers) {
        first = std::thread(encodePieces, std::ref(*encoder_));
        second = std::thread(encodePieces, std::ref(*twin_));
    }

    std::size_t shown = 0;
    for (; shown < pieces_.size() && !terminalGone_ && !cut_; ++shown) {
        std::size_t sent = 0;  // of the piece's bytes
        bool whole = true;
        if (helpers) {
            // Cut point by cut point, the window looked at before each, as for a whole piece.
            for (std::size_t k = 0;; ++k) {
                const char* bytes;
                std::size_t to;
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    changed.wait(lock, [&] { return ready[shown] || finals[shown].cuts.size() > k; });
                    if (ready[shown])
                        break;
                    bytes = finals[shown].bytes;
                    to = finals[shown].cuts[k];
                }
                whole = writeSegment(bytes, sent, to, cells);
                if (!whole)
                    break;
                sent = to;
            }
        } else {
            if (!windowKeeps(cells))
                break;
            encode(*encoder_, pieces_[shown], encoded_[0], cells);
        }
        if (!whole || !writePiece(encoded_[helpers ? shown % ahead : 0], sent, cells)) {
            if (!helpers)
                encoder_->unsent();
            break;
        }
        std::lock_guard<std::mutex> lock(mutex);
        ++written;
        changed.notify_all();
    }
    if (helpers) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            abandon = true;
        }
        changed.notify_all();
        first.join();
        second.join();
    }
    return shown;
}

bool Presentation::writePiece(const Encoded& piece, std::size_t from, const CellGeometry& cells)
{
    for (std::size_t k = 0; k <= piece.cuts.size(); ++k) {
        const std::size_t to = k < piece.cuts.size() ? piece.cuts[k] : piece.bytes.size();
        if (to <= from && k < piece.cuts.size())
            continue;  // written while the piece was being encoded
        if (!writeSegment(piece.bytes.data(), from, to, cells))
            return false;
        from = to;
    }
    return true;
}

bool Presentation::writeSegment(const char* bytes, std::size_t from, std::size_t to,
                                const CellGeometry& cells)
{
    if (!windowKeeps(cells)) {
        if (from > 0)
            send("\x1b\\", 2);  // an image ends after the whole bands it has
        return false;
    }
    if (to > from)
        send(bytes + from, to - from);
    return !terminalGone_ && !cut_;
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
