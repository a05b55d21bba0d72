#include "bitmap/bitmap_header.h"

#include <limits>

namespace {

std::int32_t littleEndianInt32(const unsigned char* bytes)
{
    const std::uint32_t bits = std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 |
                               std::uint32_t(bytes[2]) << 16 | std::uint32_t(bytes[3]) << 24;
    // Two's complement by arithmetic, so values above INT32_MAX become negative portably.
    if (bits <= std::uint32_t(std::numeric_limits<std::int32_t>::max()))
        return std::int32_t(bits);
    return -std::int32_t(~bits) - 1;
}

}  // namespace

std::int32_t bitmapWidth(const unsigned char* info)
{
    return littleEndianInt32(info + widthOffset);
}

std::int32_t bitmapHeight(const unsigned char* info)
{
    return littleEndianInt32(info + heightOffset);
}

bool rowSizeFor(std::int32_t width, std::int32_t& rowSize)
{
    const std::int64_t padded = 3 * std::int64_t(width) + 3;
    if (width < -1 || padded > std::numeric_limits<std::int32_t>::max())
        return false;
    rowSize = std::int32_t(padded & ~std::int64_t(3));
    return true;
}
