// Makes the sample picture examples/Painting.bmp: a 161 x 100 landscape, saved as an ordinary
// 24-bit bitmap (bottom row stored first), that shows at a glance whether a viewer
//  - keeps the orientation: sky and sun above, grass below, an arrow pointing up;
//  - keeps the colour channels apart: a red, a green and a blue ramp, each pure;
//  - honours the row filler: 161 pixels make 483 bytes a row, so every row ends in one filler
//    byte; a reader that ignores it shears the white frame and the arrow visibly.
//
// Usage: make_painting [output file]   (default: Painting.bmp)
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int width = 161;
constexpr int height = 100;
constexpr int horizon = 70;

struct Colour {
    int red, green, blue;
};

// The picture as one looks at it: (0, 0) is the top-left corner.
Colour pixelAt(int x, int y)
{
    const Colour white{255, 255, 255};
    if (x == 0 || y == 0 || x == width - 1 || y == height - 1)
        return white;  // the frame

    // Three pure ramps, dark on the left, full on the right.
    if (x >= 8 && x < 96) {
        const int level = (x - 8) * 255 / 87;
        if (y >= 24 && y < 31)
            return Colour{level, 0, 0};
        if (y >= 35 && y < 42)
            return Colour{0, level, 0};
        if (y >= 46 && y < 53)
            return Colour{0, 0, level};
    }

    // An arrow pointing up: a head from y = 24 to 33, a shaft below it down to the horizon.
    const int arrowX = 118;
    if (y >= 24 && y < 34 && x - arrowX <= y - 24 && arrowX - x <= y - 24)
        return white;
    if (y >= 34 && y < horizon - 4 && x >= arrowX - 2 && x <= arrowX + 2)
        return white;

    // The sun, high on the right.
    const int dx = x - 144, dy = y - 16;
    if (dx * dx + dy * dy <= 9 * 9)
        return Colour{255, 220, 40};

    if (y < horizon)  // sky: deep blue at the top, pale at the horizon
        return Colour{40 + 150 * y / horizon, 90 + 130 * y / horizon, 200 + 50 * y / horizon};
    return Colour{30, 150 - 60 * (y - horizon) / (height - horizon), 40};  // grass
}

void putLittleEndian(std::vector<unsigned char>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back((unsigned char)(value >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv)
{
    const char* path = argc > 1 ? argv[1] : "Painting.bmp";
    const int rowSize = (3 * width + 3) & ~3;
    const std::uint32_t pixelBytes = std::uint32_t(rowSize) * height;

    std::vector<unsigned char> file;
    file.push_back('B');  // file header
    file.push_back('M');
    putLittleEndian(file, 54 + pixelBytes, 4);  // file size
    putLittleEndian(file, 0, 4);                // reserved
    putLittleEndian(file, 54, 4);               // pixel data offset
    putLittleEndian(file, 40, 4);               // info header: its size
    putLittleEndian(file, width, 4);
    putLittleEndian(file, height, 4);  // positive: bottom row first
    putLittleEndian(file, 1, 2);       // planes
    putLittleEndian(file, 24, 2);      // bits per pixel
    putLittleEndian(file, 0, 4);       // no compression
    putLittleEndian(file, pixelBytes, 4);
    putLittleEndian(file, 2835, 4);  // 72 dpi, both ways
    putLittleEndian(file, 2835, 4);
    putLittleEndian(file, 0, 4);  // colours used
    putLittleEndian(file, 0, 4);  // colours important

    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const Colour c = pixelAt(x, y);
            file.push_back((unsigned char)c.blue);
            file.push_back((unsigned char)c.green);
            file.push_back((unsigned char)c.red);
        }
        for (int filler = 3 * width; filler < rowSize; ++filler)
            file.push_back(0);
    }

    std::FILE* out = std::fopen(path, "wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size() ||
        std::fclose(out) != 0) {
        std::fprintf(stderr, "make_painting: cannot write %s\n", path);
        return 1;
    }
    return 0;
}
