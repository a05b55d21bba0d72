#include "console/encoders/kitty_encoder.h"

#include <algorithm>
#include <cstdio>

#include "console/bytes/base64.h"

namespace {

// The protocol's limit for one piece of an image's data; every piece but the last a multiple
// of four base64 characters.
constexpr std::size_t chunkCharacters = 4096;
constexpr std::size_t chunkBytes = chunkCharacters / 4 * 3;

}  // namespace

int kittyChannels(const Surface& surface, int left, int top, int width, int height)
{
    for (int y = top; y < top + height; ++y)
        for (int x = left; x < left + width; ++x)
            if (surface.get(x, y) == 0)
                return 4;
    return 3;
}

void copyKittyPixels(const Surface& surface, int left, int top, int width, int height,
                     int channels, unsigned char* out)
{
    for (int y = top; y < top + height; ++y)
        for (int x = left; x < left + width; ++x) {
            const std::uint32_t pixel = surface.get(x, y);
            *out++ = (unsigned char)(pixel & 0xFF);
            *out++ = (unsigned char)((pixel >> 8) & 0xFF);
            *out++ = (unsigned char)((pixel >> 16) & 0xFF);
            if (channels == 4)
                *out++ = pixel != 0 ? 255 : 0;
        }
}

KittyEncoder::KittyEncoder(std::uint32_t imageIds) : imageIds_(imageIds) {}

void KittyEncoder::encodeRow(const Surface& surface, int row, const CellGeometry& cells,
                             ByteBuffer& out)
{
    const int top = row * cells.cellHeight;
    const int bottom = std::min(top + cells.cellHeight, surface.height());
    const int right = std::min(surface.width(), cells.columns * cells.cellWidth);

    // The painted part of the row, and whether every pixel in it was painted.
    int first, last;
    if (!surface.paintedSpan(top, bottom, right, first, last))
        return;
    const int width = last - first + 1, height = bottom - top;
    const int channels = kittyChannels(surface, first, top, width, height);
    pixels_.resize(std::size_t(width) * std::size_t(height) * std::size_t(channels));
    copyKittyPixels(surface, first, top, width, height, channels, pixels_.data());

    // As a PNG, which the terminal decodes itself: the fewest bytes through the terminal.
    const std::vector<unsigned char>& png = png_.encode(pixels_.data(), width, height, channels);
    const unsigned char* data = png.data();
    const std::size_t size = png.size();

    // The cursor to the cell of the first painted pixel; the image goes there without moving
    // it (C=1) and without a reply (q=2).
    const int column = first / cells.cellWidth;
    char header[160];
    int length = std::snprintf(header, sizeof header,
                               "\x1b[%d;%dH\x1b_Ga=T,f=100,i=%u,X=%d,C=1,q=2", row + 1,
                               column + 1, unsigned(imageIds_ + std::uint32_t(row)),
                               first - column * cells.cellWidth);
    out.append(header, std::size_t(length));

    for (std::size_t at = 0; at < size || at == 0; at += chunkBytes) {
        const std::size_t piece = std::min(chunkBytes, size - at);
        const bool more = at + piece < size;
        char* q = out.reserve(32 + chunkCharacters);
        if (at > 0) {
            length = std::snprintf(q, 32, "\x1b_Gq=2,m=%d", more ? 1 : 0);
            q += length;
        } else {
            length = std::snprintf(q, 32, ",m=%d", more ? 1 : 0);
            q += length;
        }
        *q++ = ';';
        q = putBase64(q, data + at, piece);
        *q++ = '\x1b';
        *q++ = '\\';
        out.commit(q);
        if (!more)
            break;
    }
}
