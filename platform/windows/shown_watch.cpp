#include "platform/windows/shown_watch.h"

#include <algorithm>

#include "platform/windows/blit_encoder.h"

namespace {

// Quiet looks between checks: two at first; up to eight (half a second at the presenter's
// resting pace) while rows are lost again as soon as they are shown again.
constexpr int fewestQuietLooks = 2;
constexpr int mostQuietLooks = 8;

// Each check moves the column by the golden ratio of the painted width (modulo it): the
// columns looked at spread evenly over the picture, whatever its width and however many
// checks were made.
constexpr std::uint32_t goldenStep = 0x9E3779B9u;

}  // namespace

bool ShownWatch::shows(std::uint32_t read, std::uint32_t painted) const
{
    for (int shift = 0; shift < 24; shift += 8) {
        const int difference = int(read >> shift & 0xFF) - int(painted >> shift & 0xFF);
        if (difference > tolerance_ || difference < -tolerance_)
            return false;
    }
    return true;
}

PaintingTerminal::PixelRows ShownWatch::look(const Surface& surface, int width, int height,
                                             bool showed, const ReadColumn& read)
{
    quiet_ = showed ? 1 : quiet_ + 1;
    if (quiet_ < interval_)
        return {};

    const int right = std::min(width, surface.width());
    const int bottom = std::min(height, surface.height());
    int first = 0, last = -1;
    if (right <= 0 || bottom <= 0 || !surface.paintedSpan(0, bottom, right, first, last))
        return {};
    const int column =
        first + int(std::uint64_t(phase_) * std::uint64_t(last - first + 1) >> 32);
    phase_ += goldenStep;

    // The column's painted rows, each to be read back; what it holds before the reading is
    // the colour painted with each channel half the scale away, so that a pixel not read
    // counts as lost whatever the tolerance.
    int top = bottom, end = 0;
    for (int y = 0; y < bottom; ++y)
        if (surface.get(column, y) != 0) {
            top = std::min(top, y);
            end = y + 1;
        }
    if (end <= top)
        return {};
    read_.resize(std::size_t(end - top));
    for (int y = top; y < end; ++y) {
        const std::uint32_t pixel = surface.get(column, y);
        read_[std::size_t(y - top)] = pixel ? dibPixel(pixel) ^ 0x808080 : 0;
    }
    if (!read(column, top, end, read_.data()))
        return {};

    PaintingTerminal::PixelRows lost{end, top};
    for (int y = top; y < end; ++y) {
        const std::uint32_t pixel = surface.get(column, y);
        if (pixel != 0 && !shows(read_[std::size_t(y - top)], dibPixel(pixel))) {
            lost.top = std::min(lost.top, y);
            lost.bottom = y + 1;
        }
    }
    const bool lostNow = lost.bottom > lost.top;
    // Lost again right after being shown again: something keeps covering them.
    interval_ = lostNow && lostBefore_ ? std::min(interval_ * 2, mostQuietLooks)
                                       : lostNow ? interval_ : fewestQuietLooks;
    lostBefore_ = lostNow;
    quiet_ = 0;
    return lostNow ? lost : PaintingTerminal::PixelRows{};
}
