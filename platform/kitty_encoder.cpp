#include "platform/kitty_encoder.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>

namespace {

// The protocol's limit for one piece of an image's data; every piece but the last a multiple
// of four base64 characters.
constexpr std::size_t chunkCharacters = 4096;
constexpr std::size_t chunkBytes = chunkCharacters / 4 * 3;

constexpr char base64Digits[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

char* putBase64(char* p, const unsigned char* data, std::size_t size)
{
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const unsigned v = unsigned(data[i]) << 16 | unsigned(data[i + 1]) << 8 | data[i + 2];
        *p++ = base64Digits[v >> 18];
        *p++ = base64Digits[(v >> 12) & 63];
        *p++ = base64Digits[(v >> 6) & 63];
        *p++ = base64Digits[v & 63];
    }
    if (i < size) {
        const bool two = i + 1 < size;
        const unsigned v = unsigned(data[i]) << 16 | (two ? unsigned(data[i + 1]) << 8 : 0u);
        *p++ = base64Digits[v >> 18];
        *p++ = base64Digits[(v >> 12) & 63];
        *p++ = two ? base64Digits[(v >> 6) & 63] : '=';
        *p++ = '=';
    }
    return p;
}

}  // namespace

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
    bool opaque = true;
    for (int y = top; y < bottom && opaque; ++y)
        for (int x = first; x <= last && opaque; ++x)
            opaque = surface.get(x, y) != 0;

    // RGB where all is painted, else RGBA with the unpainted pixels fully transparent.
    const int channels = opaque ? 3 : 4;
    pixels_.resize(std::size_t(width) * std::size_t(height) * std::size_t(channels));
    unsigned char* p = pixels_.data();
    for (int y = top; y < bottom; ++y)
        for (int x = first; x <= last; ++x) {
            const std::uint32_t pixel = surface.get(x, y);
            *p++ = (unsigned char)(pixel & 0xFF);
            *p++ = (unsigned char)((pixel >> 8) & 0xFF);
            *p++ = (unsigned char)((pixel >> 16) & 0xFF);
            if (!opaque)
                *p++ = pixel != 0 ? 255 : 0;
        }

    // zlib where it pays: the terminal is usually slower than the compressor.
    uLongf packedSize = compressBound(uLong(pixels_.size()));
    compressed_.resize(packedSize);
    const bool packed =
        compress2(compressed_.data(), &packedSize, pixels_.data(), uLong(pixels_.size()), 1) ==
            Z_OK &&
        packedSize < pixels_.size() * 9 / 10;
    const unsigned char* data = packed ? compressed_.data() : pixels_.data();
    const std::size_t size = packed ? std::size_t(packedSize) : pixels_.size();

    // The cursor to the cell of the first painted pixel; the image goes there without moving
    // it (C=1) and without a reply (q=2).
    const int column = first / cells.cellWidth;
    char header[160];
    int length = std::snprintf(header, sizeof header,
                               "\x1b[%d;%dH\x1b_Ga=T,f=%d,s=%d,v=%d,i=%u,X=%d,C=1,q=2%s", row + 1,
                               column + 1, channels * 8, width, height,
                               unsigned(imageIds_ + std::uint32_t(row)),
                               first - column * cells.cellWidth, packed ? ",o=z" : "");
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
