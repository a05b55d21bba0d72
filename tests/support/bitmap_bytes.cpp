#include "bitmap_bytes.h"

void putInt32(std::string& bytes, std::size_t offset, std::int32_t value)
{
    const std::uint32_t bits = std::uint32_t(value);
    for (int i = 0; i < 4; ++i)
        bytes[offset + std::size_t(i)] = char((bits >> (8 * i)) & 0xFF);
}

std::string bitmapHeader(std::int32_t width, std::int32_t height)
{
    std::string header(54, '\0');
    header[0] = 'B';
    header[1] = 'M';
    putInt32(header, 10, 54);  // pixel data offset
    putInt32(header, 14, 40);  // info header size
    putInt32(header, 18, width);
    putInt32(header, 22, height);
    header[26] = 1;   // planes
    header[28] = 24;  // bits per pixel
    return header;
}

std::string patternBitmap(std::int32_t width, std::int32_t rows, unsigned char filler)
{
    std::string file = bitmapHeader(width, rows);
    const std::int32_t rowSize = (3 * width + 3) & ~3;
    for (std::int32_t y = 0; y < rows; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            file += char(x & 0xFF);         // blue
            file += char((x >> 8) * 16 + 7);  // green
            file += char(y & 0xFF);         // red
        }
        file.append(std::size_t(rowSize - 3 * width), char(filler));
    }
    putInt32(file, 2, std::int32_t(file.size()));
    return file;
}

std::string fewColourBitmap(std::int32_t width, std::int32_t rows, int colours)
{
    std::string file = bitmapHeader(width, rows);
    const std::int32_t rowSize = (3 * width + 3) & ~3;
    for (std::int32_t y = 0; y < rows; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const int colour = (x / 3 + y / 2) % colours;
            file += char(colour % 16 * 16);       // blue
            file += char(colour / 16 % 16 * 16);  // green
            file += char(colour / 256 * 16 + 8);  // red
        }
        file.append(std::size_t(rowSize - 3 * width), '\0');
    }
    putInt32(file, 2, std::int32_t(file.size()));
    return file;
}

std::vector<PaintedPixel> expectedPixels(const std::string& file)
{
    std::vector<PaintedPixel> pixels;
    if (file.size() < 54)
        return pixels;
    auto field = [&](std::size_t offset) {
        std::uint32_t bits = 0;
        for (int i = 3; i >= 0; --i)
            bits = bits << 8 | (unsigned char)file[offset + std::size_t(i)];
        return std::int32_t(bits);
    };
    const std::int64_t width = field(18), height = field(22);
    const std::int64_t rowSize = (3 * width + 3) / 4 * 4;
    if (width <= 0 || height <= 0)
        return pixels;
    for (std::int64_t y = 0; y < height; ++y) {
        for (std::int64_t x = 0; x < width; ++x) {
            const std::size_t at = std::size_t(54 + y * rowSize + 3 * x);
            if (at + 3 > file.size())
                return pixels;
            const std::uint32_t blue = (unsigned char)file[at];
            const std::uint32_t green = (unsigned char)file[at + 1];
            const std::uint32_t red = (unsigned char)file[at + 2];
            pixels.push_back({int(10 + x), int(10 + y), red | green << 8 | blue << 16});
        }
    }
    return pixels;
}

std::vector<std::uint32_t> expectedScreen(const std::string& file, int columns, int rows)
{
    std::vector<std::uint32_t> screen(std::size_t(columns) * std::size_t(2 * rows), 0);
    for (const PaintedPixel& p : expectedPixels(file))
        if (p.x < columns && p.y < 2 * rows)
            screen[std::size_t(p.y) * std::size_t(columns) + std::size_t(p.x)] =
                0x01000000 | p.colour;
    return screen;
}
