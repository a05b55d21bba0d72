#include "console/surface/surface.h"

#include <algorithm>
#include <new>

namespace {

// Atomics of zero bits made in zeroed memory: default-initialised, so nothing is written.
template <typename T>
std::atomic<T>* atomicsIn(const ZeroedMemory& memory, std::size_t count)
{
    static_assert(std::atomic<T>::is_always_lock_free && sizeof(std::atomic<T>) == sizeof(T),
                  "an atomic of zero bits holds zero");
    auto* first = static_cast<std::atomic<T>*>(memory.data());
    for (std::size_t i = 0; i < count; ++i)
        new (first + i) std::atomic<T>;
    return first;
}

}  // namespace

Surface::Surface(int width, int height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pixelMemory_(std::size_t(width_) * std::size_t(height_) * sizeof(std::uint32_t)),
      changedMemory_(std::size_t(height_) * sizeof(bool)),
      pixels_(atomicsIn<std::uint32_t>(pixelMemory_, std::size_t(width_) * std::size_t(height_))),
      changed_(atomicsIn<bool>(changedMemory_, std::size_t(height_)))
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
