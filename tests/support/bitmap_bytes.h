// Bitmap files built byte by byte for tests, and what the viewer should paint for them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A 54-byte header with the given width and height and otherwise ordinary 24-bit fields.
std::string bitmapHeader(std::int32_t width, std::int32_t height);

// A whole file: header, then `rows` rows of `width` pixels whose blue, green and red bytes
// follow a pattern that differs for every pixel of a picture of up to 65536 x 256, then
// filler bytes of `filler`.
std::string patternBitmap(std::int32_t width, std::int32_t rows, unsigned char filler = 0);

// A whole file of diagonal stripes in `colours` distinct colours (at most 4096).
std::string fewColourBitmap(std::int32_t width, std::int32_t rows, int colours);

// Overwrites 4 bytes at `offset` with a little-endian value.
void putInt32(std::string& bytes, std::size_t offset, std::int32_t value);

// The pixels the viewer should paint for a file: for every pixel whose three bytes the file
// holds, in painting order, x and y on the window and the colour as 0x00BBGGRR.
struct PaintedPixel {
    int x, y;
    std::uint32_t colour;
};
std::vector<PaintedPixel> expectedPixels(const std::string& file);

// The window as the viewer should leave it, for a terminal of `columns` x `rows` text cells:
// pixel (x, y) at [y * columns + x], in the surface's values (0 unpainted, else 0x01BBGGRR).
std::vector<std::uint32_t> expectedScreen(const std::string& file, int columns, int rows);
