// The console window's own "encoder": the surface's rows shown on the window as rectangles of
// pixels (blits), no bytes. The presenter drives it as it drives the terminal encoders.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "console/encoders/encoder.h"

// Where the rectangles go: the window's device context (platform/windows/gdi_window.h), or a
// model of a window in the tests.
class PixelSink {
public:
    virtual ~PixelSink() = default;

    // Shows columns [left, left + width) of `height` rows of pixels, `rowLength` pixels each,
    // the first of them at window row `top` and each pixel the window's column of its place in
    // the row: the rectangle from (left, top) to (left + width, top + height). Pixels are a
    // 32-bit DIB's, 0x00RRGGBB.
    virtual void show(const std::uint32_t* rows, int rowLength, int left, int top, int width,
                      int height) = 0;
};

// A pixel as a 32-bit DIB holds it (0x00RRGGBB) from the surface's 0x..BBGGRR.
inline std::uint32_t dibPixel(std::uint32_t colour)
{
    return (colour & 0xFF) << 16 | (colour & 0xFF00) | (colour >> 16 & 0xFF);
}

// Shows only painted pixels: what the window shows anywhere else (the console's text) stays.
// Adjacent rows whose painted pixels lie in the same columns go in one blit each run of them,
// up to a megabyte of pixels: a picture's rows are one blit a look, or a few bands for a
// picture of more than 256K pixels. Cells may be of any size; the window's are 1 x 1 pixels.
// One thread: no twin, since the window's device context is its thread's.
class BlitEncoder final : public Encoder {
public:
    explicit BlitEncoder(PixelSink& sink) : sink_(sink) {}

    void encodeRow(const Surface& surface, int row, const CellGeometry& cells,
                   ByteBuffer& out) override;
    bool showsRuns() const override { return true; }
    void encodeRun(const Surface& surface, const Piece& piece, const CellGeometry& cells,
                   ByteBuffer& out) override;

private:
    using Runs = std::vector<std::pair<int, int>>;  // painted columns [first, end) of a row
    void flush(int top, int bottom, int rowLength);

    PixelSink& sink_;
    std::vector<std::uint32_t> block_;  // the rows of one blit, kept between looks
    Runs runs_, blockRuns_;
};
