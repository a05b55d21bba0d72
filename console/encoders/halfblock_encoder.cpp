#include "console/encoders/halfblock_encoder.h"

#include "console/bytes/decimal.h"

#include <algorithm>
#include <cstring>

namespace {

// The longest a cell can take: a cursor step (ESC [ 65535 C), both colours
// (ESC [ 38;2;255;255;255;48;2;255;255;255 m) and a three-byte glyph, with room to spare.
constexpr std::size_t maxCellBytes = 64;
constexpr std::size_t maxRowStartBytes = 16;  // ESC [ 65535 ; 65535 H

// UTF-8 of U+2580 UPPER HALF BLOCK and U+2584 LOWER HALF BLOCK.
constexpr char upperHalf[] = "\xE2\x96\x80";
constexpr char lowerHalf[] = "\xE2\x96\x84";

// "r;g;b" of a pixel value 0x01BBGGRR, through a table: this is the encoder's hot path.
struct ByteDecimals {
    char text[256][4];
    unsigned char length[256];
    ByteDecimals()
    {
        for (unsigned v = 0; v < 256; ++v)
            length[v] = (unsigned char)(putNumber(text[v], v) - text[v]);
    }
};
const ByteDecimals decimals;

char* putByte(char* p, unsigned value)
{
    std::memcpy(p, decimals.text[value], 4);  // copies a whole slot, keeps what is needed
    return p + decimals.length[value];
}

char* putColour(char* p, std::uint32_t pixel)
{
    p = putByte(p, pixel & 0xFF);
    *p++ = ';';
    p = putByte(p, (pixel >> 8) & 0xFF);
    *p++ = ';';
    return putByte(p, (pixel >> 16) & 0xFF);
}

}  // namespace

void HalfBlockEncoder::reset()
{
    foreground_ = 0;
    background_ = 0;
}

void HalfBlockEncoder::encodeRow(const Surface& surface, int row, const CellGeometry& cells,
                                 ByteBuffer& out)
{
    const int columns = std::min(cells.columns, surface.width());
    const int upperY = 2 * row;
    const int lowerY = upperY + 1;
    const bool hasLower = lowerY < surface.height();

    char* p = out.reserve(maxRowStartBytes + std::size_t(columns) * maxCellBytes);

    bool placed = false;  // whether the cursor has been put into this row yet
    unsigned skipped = 0;  // unpainted cells to step over before the next painted one
    for (int column = 0; column < columns; ++column) {
        const std::uint32_t upper = surface.get(column, upperY);
        const std::uint32_t lower = hasLower ? surface.get(column, lowerY) : 0;
        if (upper == 0 && lower == 0) {
            ++skipped;
            continue;
        }

        if (!placed) {  // cursor position, 1-based row and column
            *p++ = '\x1b';
            *p++ = '[';
            p = putNumber(p, unsigned(row) + 1);
            *p++ = ';';
            p = putNumber(p, unsigned(column) + 1);
            *p++ = 'H';
            placed = true;
        } else if (skipped > 0) {  // cursor forward: moves without touching the cells
            *p++ = '\x1b';
            *p++ = '[';
            if (skipped > 1)
                p = putNumber(p, skipped);
            *p++ = 'C';
        }
        skipped = 0;

        // Choose the glyph and the colours it needs. A cell of one colour is a blank on that
        // background: exact in every terminal, whatever its font draws for block glyphs.
        const char* glyph;
        std::uint32_t foreground = foreground_;
        std::uint32_t background;
        if (upper == lower) {
            glyph = " ";
            background = upper;
        } else if (upper == 0) {  // the one cell the upper half block cannot show
            glyph = lowerHalf, foreground = lower, background = 0;
        } else {
            // The upper half block, over the lower pixel's colour or, if that was never
            // painted, the default background. Never the lower half block with the colours
            // swapped: some terminals (xterm with DejaVu Sans Mono, for one) draw block glyphs
            // a pixel short of the cell's bottom, which the upper half hides in the middle of
            // the cell and the lower half would show as a line between text rows.
            glyph = upperHalf, foreground = upper, background = lower;
        }

        const bool newForeground = foreground != foreground_;
        const bool newBackground = background != background_;
        if (newForeground || newBackground) {
            *p++ = '\x1b';
            *p++ = '[';
            if (newForeground) {
                if (foreground == 0) {
                    std::memcpy(p, "39", 2), p += 2;
                } else {
                    std::memcpy(p, "38;2;", 5), p += 5;
                    p = putColour(p, foreground);
                }
                if (newBackground)
                    *p++ = ';';
            }
            if (newBackground) {
                if (background == 0) {
                    std::memcpy(p, "49", 2), p += 2;
                } else {
                    std::memcpy(p, "48;2;", 5), p += 5;
                    p = putColour(p, background);
                }
            }
            *p++ = 'm';
            foreground_ = foreground;
            background_ = background;
        }

        const std::size_t glyphSize = std::strlen(glyph);
        std::memcpy(p, glyph, glyphSize);
        p += glyphSize;
    }

    out.commit(p);
}
