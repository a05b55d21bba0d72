// Text cells as pixels: each cell of a colour terminal shows two pixels of the surface, one
// above the other, as an upper or lower half block or a blank, in 24-bit colour.
#pragma once

#include <cstdint>
#include "console/encoders/encoder.h"

// Its cells are 1 x 2 pixels. Cells whose two pixels were never painted are stepped over and
// keep what the terminal shows there; an unpainted half of a painted cell shows the terminal's
// default background.
class HalfBlockEncoder final : public Encoder {
public:
    void reset() override;
    void encodeRow(const Surface& surface, int row, const CellGeometry& cells,
                   ByteBuffer& out) override;

private:
    // The terminal's current foreground and background, in the surface's pixel values:
    // 0 for the terminal's default colour.
    std::uint32_t foreground_ = 0;
    std::uint32_t background_ = 0;
};
