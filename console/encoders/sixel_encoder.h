// True pixels as sixel images: each text row of the surface that holds painted pixels becomes
// one image (or several side by side, where the terminal's largest image is narrower), placed
// at a cell boundary with the part of the offset inside the cell left transparent. Pixels never
// painted are not drawn (P2 = 1) and keep what the terminal shows.
#pragma once

#include <cstdint>
#include <vector>

#include "console/encoders/encoder.h"

class SixelEncoder final : public Encoder {
public:
    // `registers`: the colour registers the terminal offers; `maxWidth` and `maxHeight`: the
    // largest image it shows (xterm drops larger ones silently).
    SixelEncoder(int registers, int maxWidth, int maxHeight);

    void encodeRow(const Surface& surface, int row, const CellGeometry& cells,
                   ByteBuffer& out) override;
    std::unique_ptr<Encoder> twin() const override
    {
        return std::make_unique<SixelEncoder>(registers_, maxWidth_, maxHeight_);
    }

private:
    void encodeImage(const Surface& surface, int left, int top, int width, int height,
                     ByteBuffer& out);
    void choosePalette(int pixelCount);

    int registers_, maxWidth_, maxHeight_;
    // The image being encoded: its pixels as 24-bit colours (or `none`), then as registers.
    std::vector<std::uint32_t> colours_;
    std::vector<int> indices_;
    std::vector<std::uint32_t> palette_;
    struct Sixel {
        int index;  // the register
        int x;
        int bits;  // which of the band's six rows it sets
    };
    std::vector<Sixel> sixels_, sorted_;  // a band's set sixels, then sorted by register
};
