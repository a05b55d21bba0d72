#include "platform/windows/blit_encoder.h"

#include <algorithm>

namespace {

// The most pixels one blit takes (a megabyte of them): a picture's rows go in bands of as many
// rows as that holds. A buffer for the whole of a large picture would be fresh memory at every
// program run, and under wine the first touch of eight megabytes took 50 to 80 ms, more than
// converting and blitting them.
constexpr int maxBlockPixels = 1 << 18;

}  // namespace

void BlitEncoder::encodeRow(const Surface& surface, int row, const CellGeometry& cells,
                            ByteBuffer& out)
{
    encodeRun(surface, Piece{row, row}, cells, out);
}

void BlitEncoder::encodeRun(const Surface& surface, const Piece& piece, const CellGeometry& cells,
                            ByteBuffer&)
{
    const int firstRow = piece.firstRow, lastRow = piece.lastRow;  // always the whole width
    // Nothing past the window's edges: GDI would clip it, but it need not be converted.
    const int right = std::min(surface.width(), cells.columns * cells.cellWidth);
    const int top = firstRow * cells.cellHeight;
    const int bottom = std::min({(lastRow + 1) * cells.cellHeight, surface.height(),
                                 cells.rows * cells.cellHeight});
    if (right <= 0 || bottom <= top)
        return;
    const int bandRows = std::min(std::max(maxBlockPixels / right, 1), bottom - top);
    if (block_.size() < std::size_t(right) * std::size_t(bandRows))
        block_.resize(std::size_t(right) * std::size_t(bandRows));

    // Each row converted into the block, its painted runs found on the way; a row whose runs
    // differ from the block's, or that the block has no room for, ends the block (shown) and
    // starts the next.
    int blockTop = top;
    for (int y = top; y < bottom; ++y) {
        if (y - blockTop == bandRows) {
            flush(blockTop, y, right);
            blockTop = y;
        }
        runs_.clear();
        std::uint32_t* into = block_.data() + std::size_t(y - blockTop) * std::size_t(right);
        for (int x = 0; x < right; ++x) {
            const std::uint32_t pixel = surface.get(x, y);
            if (pixel == 0)
                continue;
            into[x] = dibPixel(pixel);
            if (!runs_.empty() && runs_.back().second == x)
                ++runs_.back().second;
            else
                runs_.emplace_back(x, x + 1);
        }
        if (y == blockTop) {
            blockRuns_.swap(runs_);
        } else if (runs_ != blockRuns_) {
            flush(blockTop, y, right);
            std::copy(into, into + right, block_.data());  // the next block's first row
            blockTop = y;
            blockRuns_.swap(runs_);
        }
    }
    flush(blockTop, bottom, right);
}

void BlitEncoder::flush(int top, int bottom, int rowLength)
{
    for (const auto& [first, end] : blockRuns_)
        sink_.show(block_.data(), rowLength, first, top, end - first, bottom - top);
}
