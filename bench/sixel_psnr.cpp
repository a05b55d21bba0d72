// The fidelity of a program's sixel (or kitty) output: decodes what it wrote to the terminal,
// as a terminal with cells of 8 x 17 pixels (or as given) would draw it, and compares the
// picture's area with the picture. Prints the PSNR in dB over all three channels, and how
// many of the picture's pixels were not drawn at all.
//
// Usage: sixel_psnr OUTPUT PICTURE.bmp LEFT TOP flipped|upright [CELL_WIDTHxCELL_HEIGHT]
//   LEFT, TOP  where the picture's first pixel lands; flipped: rows in stored order (the
//   viewer), upright: as the picture is meant to be seen (other programs).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "bitmap_bytes.h"
#include "image_screen.h"

int main(int argc, char** argv)
{
    if (argc != 6 && argc != 7) {
        std::fprintf(stderr, "usage: sixel_psnr OUTPUT PICTURE.bmp LEFT TOP flipped|upright "
                             "[CELL_WIDTHxCELL_HEIGHT]\n");
        return 2;
    }
    int cellWidth = 8, cellHeight = 17;
    if (argc == 7)
        std::sscanf(argv[6], "%dx%d", &cellWidth, &cellHeight);
    auto slurp = [](const char* path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    const std::string output = slurp(argv[1]), picture = slurp(argv[2]);
    const int left = std::atoi(argv[3]), top = std::atoi(argv[4]);
    const bool flipped = std::strcmp(argv[5], "flipped") == 0;

    ImageScreen screen(4096 / cellWidth, 2400 / cellHeight, cellWidth, cellHeight);
    screen.feed(output);
    // expectedPixels gives stored order at (10 + k, 10 + y); turn it into where it should show.
    const std::vector<PaintedPixel> pixels = expectedPixels(picture);
    int height = 0;
    for (const PaintedPixel& p : pixels)
        height = std::max(height, p.y - 10 + 1);
    double squares = 0;
    long count = 0, missing = 0;
    for (const PaintedPixel& p : pixels) {
        const int x = left + p.x - 10;
        const int y = top + (flipped ? p.y - 10 : height - 1 - (p.y - 10));
        if (x >= screen.width() || y >= screen.height())
            continue;
        const std::uint32_t shown = screen.pixel(x, y);
        missing += shown == 0;
        for (int c = 0; c < 3; ++c) {
            const double d = double((p.colour >> (8 * c)) & 0xFF) - double((shown >> (8 * c)) & 0xFF);
            squares += d * d;
        }
        count += 3;
    }
    const double psnr = 10 * std::log10(255.0 * 255.0 / (squares / double(count)));
    std::printf("%.2f %ld\n", psnr, missing);
    return 0;
}
