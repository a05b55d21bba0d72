#include "console/surface/surface.h"

#include <algorithm>

Surface::Surface(int width, int height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      // Value-initialised: every pixel starts unpainted, every row unchanged.
      pixels_(new std::atomic<std::uint32_t>[std::size_t(width_) * std::size_t(height_)]()),
      changed_(new std::atomic<bool>[std::size_t(height_)]())
{
}

bool Surface::paintedSpan(int top, int bottom, int right, int& first, int& last) const
{
    // Each row is looked at only where it could widen the span found so far: a row painted
    // across costs two reads.
    first = right;
    last = -1;
    for (int y = top; y < bottom; ++y) {
        for (int x = 0; x < first; ++x)
            if (get(x, y) != 0) {
                first = x;
                break;
            }
        for (int x = right - 1; x > last; --x)
            if (get(x, y) != 0) {
                last = x;
                break;
            }
    }
    return last >= 0;
}
