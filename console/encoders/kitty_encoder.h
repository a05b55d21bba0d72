// True pixels through the kitty graphics protocol: each text row of the surface that holds
// painted pixels becomes one image (a PNG file, see kitty_png.h), placed at the cell of its
// first painted pixel with the rest of the offset in pixels (X=), so that one picture pixel is
// one screen pixel. Pixels never painted are transparent: the window's text shows through them,
// as on Windows.
#pragma once

#include <cstdint>
#include <vector>

#include "console/encoders/encoder.h"
#include "console/encoders/kitty_png.h"

// The pixels of a rectangle of the surface as a kitty image takes them: 3 channels (RGB) where
// every pixel in it was painted, else 4 (RGBA) with the unpainted ones fully transparent.
int kittyChannels(const Surface& surface, int left, int top, int width, int height);
void copyKittyPixels(const Surface& surface, int left, int top, int width, int height,
                     int channels, unsigned char* out);

class KittyEncoder final : public Encoder {
public:
    // `imageIds`: the first of the image numbers this canvas may use, one per text row. A row
    // shown again reuses its number, which replaces the earlier image and its placement.
    explicit KittyEncoder(std::uint32_t imageIds);

    void encodeRow(const Surface& surface, int row, const CellGeometry& cells,
                   ByteBuffer& out) override;
    std::unique_ptr<Encoder> twin() const override
    {
        return std::make_unique<KittyEncoder>(imageIds_);
    }

private:
    std::uint32_t imageIds_;
    std::vector<unsigned char> pixels_;  // the row's image, RGB or RGBA
    KittyPng png_;                       // and the same as a PNG file
};
