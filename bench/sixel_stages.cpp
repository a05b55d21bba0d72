// Where the sixel canvas's time goes for one picture: quantizing (choosing each image's
// palette and finding every pixel's register) and encoding (the bands of sixel characters), on one
// thread, with the picture where the viewer paints it and cut into images as a presentation
// of the whole picture at once would cut it.
//
// Usage: sixel_stages PICTURE.bmp REGISTERS [CELL_WIDTHxCELL_HEIGHT]   (default 8x17)
// Prints: milliseconds quantizing, milliseconds in all (quantizing included), bytes (the
// medians of 7 runs), and the PSNR in dB of what a terminal shows of those bytes.
#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bitmap_bytes.h"
#include "image_screen.h"
#include "console/encoders/sixel_encoder.h"
#include "console/encoders/sixel_palette.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: sixel_stages PICTURE.bmp REGISTERS [CELL_WIDTHxCELL_HEIGHT]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int registers = std::atoi(argv[2]);
    CellGeometry cells;
    cells.cellWidth = 8, cells.cellHeight = 17;
    if (argc > 3)
        std::sscanf(argv[3], "%dx%d", &cells.cellWidth, &cells.cellHeight);

    // The picture at (10, 10) in stored order, in a window with room for it and a row below.
    const std::vector<PaintedPixel> pixels = expectedPixels(file);
    int width = 0, height = 0;
    for (const PaintedPixel& p : pixels)
        width = std::max(width, p.x + 1), height = std::max(height, p.y + 1);
    cells.columns = (width + cells.cellWidth - 1) / cells.cellWidth;
    cells.rows = (height + cells.cellHeight - 1) / cells.cellHeight + 1;
    Surface surface(cells.columns * cells.cellWidth, cells.rows * cells.cellHeight);
    for (const PaintedPixel& p : pixels)
        surface.set(p.x, p.y, p.colour);
    const int textRows = cells.rows - 1;

    using Clock = std::chrono::steady_clock;
    auto since = [](Clock::time_point start) {
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    // Chooses the palette of each image as the encoder cuts the run (one above the other as
    // it cuts them, and at 1000 pixels across) and matches its pixels.
    SixelPalette palette;
    std::vector<int> indices(1000);
    const int down = SixelEncoder(registers, 1000, 1000).imagesDown(textRows, cells);
    auto eachImage = [&]() {
        for (int k = 0; k < down; ++k) {
            const int top = textRows * k / down * cells.cellHeight;
            const int bottom = textRows * (k + 1) / down * cells.cellHeight;
            for (int left = 0; left < surface.width(); left += 1000) {
                const int width = std::min(1000, surface.width() - left);
                palette.choose(surface, left, top, width, bottom - top, registers);
                for (int y = top; y < bottom; ++y)
                    palette.match(surface, left, y, width, indices.data());
            }
        }
    };
    std::vector<double> quantizing, all;
    std::string bytes;
    for (int run = 0; run < 7; ++run) {
        SixelEncoder encoder(registers, 1000, 1000);
        ByteBuffer out;
        Clock::time_point start = Clock::now();
        encoder.encodeRun(surface, Piece{0, textRows - 1}, cells, out);
        all.push_back(since(start));
        bytes = out.str();

        // The same images' palettes alone.
        start = Clock::now();
        eachImage();
        quantizing.push_back(since(start));
    }
    std::sort(quantizing.begin(), quantizing.end());
    std::sort(all.begin(), all.end());

    // What a terminal shows of each painted pixel, against the pixel.
    ImageScreen screen(cells.columns, cells.rows, cells.cellWidth, cells.cellHeight);
    screen.feed(bytes);
    double squares = 0, samples = 0;
    for (const PaintedPixel& p : pixels) {
        const std::uint32_t shown = screen.pixel(p.x, p.y);
        for (int c = 0; c < 3; ++c) {
            const double d = double(int(p.colour >> (8 * c) & 0xFF) - int(shown >> (8 * c) & 0xFF));
            squares += d * d;
        }
        samples += 3;
    }
    std::printf("%.1f %.1f %zu %.2f\n", quantizing[3], all[3], bytes.size(),
                10 * std::log10(255.0 * 255.0 * samples / squares));
    return 0;
}
