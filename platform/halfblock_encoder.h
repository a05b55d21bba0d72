// Text cells as pixels: each cell of a colour terminal shows two pixels of the surface, one
// above the other, as an upper or lower half block or a blank, in 24-bit colour.
#pragma once

#include <cstdint>
#include "platform/byte_buffer.h"
#include "platform/surface.h"

class HalfBlockEncoder {
public:
    // The terminal's colours are at their defaults (after SGR 0): the encoder's starting point.
    void reset();

    // Appends the bytes that paint text row `row` (0-based) of the surface, cells 0 to
    // columns - 1, at the same place on the screen. Cells whose two pixels were never painted
    // are stepped over and keep what the terminal shows there; an unpainted half of a painted
    // cell shows the terminal's default background. The cursor is left inside the row.
    void encodeRow(const Surface& surface, int row, int columns, ByteBuffer& out);

private:
    // The terminal's current foreground and background, in the surface's pixel values:
    // 0 for the terminal's default colour.
    std::uint32_t foreground_ = 0;
    std::uint32_t background_ = 0;
};
