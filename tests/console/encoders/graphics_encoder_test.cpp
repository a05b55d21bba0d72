// The kitty and sixel encodings, decoded by a model of a graphics terminal that shares no code
// with them, and compared with what was painted.
#include "console/encoders/kitty_encoder.h"
#include "console/encoders/sixel_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

#include "image_screen.h"

namespace {

struct Window {
    int columns, rows, cellWidth, cellHeight;
};

std::string encodeAll(Encoder& encoder, const Surface& surface, const Window& window)
{
    CellGeometry cells;
    cells.cellWidth = window.cellWidth;
    cells.cellHeight = window.cellHeight;
    cells.columns = window.columns;
    cells.rows = window.rows;
    ByteBuffer out;
    encoder.reset();
    for (int row = 0; row * window.cellHeight < surface.height(); ++row)
        encoder.encodeRow(surface, row, cells, out);
    return out.str();
}

// A picture with unpainted holes, placed at an offset that is not on a cell boundary.
void paintPicture(Surface& surface, int left, int top, int width, int height, int palette,
                  unsigned seed)
{
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            if ((x * 7 + y * 3) % 23 == 0)
                continue;  // never painted
            const std::uint32_t colour =
                palette > 0 ? std::uint32_t(random() % unsigned(palette)) * 0x0B1D2Fu
                            : std::uint32_t(x * 255 / width) | std::uint32_t(y * 255 / height) << 8 |
                                  std::uint32_t(random() % 40) << 16;
            surface.set(left + x, top + y, colour & 0xFFFFFF);
        }
}

TEST(KittyEncoder, ShowsEveryPixelExactlyWhereItWasPainted)
{
    const Window window{40, 12, 8, 17};
    for (const int palette : {3, 0}) {  // few colours (compresses), noise (does not)
        Surface surface(window.columns * window.cellWidth, window.rows * window.cellHeight);
        paintPicture(surface, 10, 10, 250, 150, palette, 5);
        KittyEncoder encoder(1000);
        ImageScreen screen(window.columns, window.rows, window.cellWidth, window.cellHeight);
        screen.feed(encodeAll(encoder, surface, window));
        EXPECT_EQ(screen.problems(), std::vector<std::string>{});
        EXPECT_FALSE(screen.insideSequence());
        EXPECT_EQ(screen.wrongPixels(surface), 0) << "palette " << palette;
    }
}

// Text rows that each suit another of PNG's filters best: flat, vertical stripes (each row
// like the one above), a ramp across (each pixel like the one to its left), a blend of both
// directions, noise (nothing to predict); every sixth pixel never painted in the last two.
std::uint32_t patternColour(int kind, int x, int y, std::mt19937& random)
{
    switch (kind) {
    case 0: return 0x336699;
    case 1: return (x / 3 % 2) ? 0xF0E0D0 : 0x102030;
    case 2: return std::uint32_t(x) | std::uint32_t(x / 2) << 8 | 0x400000;
    case 3:
        return std::uint32_t((x + y) & 0xFF) | std::uint32_t((2 * y + x / 3) & 0xFF) << 8 |
               std::uint32_t((x * y / 64) & 0xFF) << 16;
    default: return random() & 0xFFFFFF;
    }
}

TEST(KittyEncoder, EveryKindOfRowComesThroughThePngExactly)
{
    const Window window{40, 10, 8, 17};
    CellGeometry cells;
    cells.cellWidth = window.cellWidth;
    cells.cellHeight = window.cellHeight;
    cells.columns = window.columns;
    cells.rows = window.rows;
    Surface surface(window.columns * window.cellWidth, window.rows * window.cellHeight);
    std::mt19937 random(7);
    for (int y = 3; y < 9 * 17; ++y)
        for (int x = 5; x < 300; ++x)
            if (y / 17 < 7 || x % 6 != 0)
                surface.set(x, y, patternColour(y / 17 % 5, x & 0xFF, y, random) & 0xFFFFFF);

    KittyEncoder encoder(1000);
    ImageScreen screen(window.columns, window.rows, window.cellWidth, window.cellHeight);
    std::vector<std::size_t> sizes;
    for (int row = 0; row < 9; ++row) {
        ByteBuffer out;
        encoder.encodeRow(surface, row, cells, out);
        screen.feed(out.str());
        sizes.push_back(out.size());
    }
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
    EXPECT_EQ(screen.wrongPixels(surface), 0);
    // Filtered before it is deflated: the blend, whose raw pixels deflate to 13 KB, takes
    // under a fifth of its raw size; noise is not blown up beyond base64's third.
    const std::size_t raw = 295 * 17 * 3;
    EXPECT_LT(sizes[3], raw / 5);
    EXPECT_LT(sizes[4], raw * 4 / 3 + 400);
}

TEST(KittyEncoder, ClipsToAWindowNarrowerThanTheSurface)
{
    const Window window{20, 12, 8, 17};
    Surface surface(40 * 8, 12 * 17);
    paintPicture(surface, 10, 10, 300, 100, 5, 9);
    KittyEncoder encoder(1000);
    ImageScreen screen(window.columns, window.rows, window.cellWidth, window.cellHeight);
    screen.feed(encodeAll(encoder, surface, window));
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
    EXPECT_EQ(screen.pixel(159, 50), surface.get(159, 50));
}

TEST(SixelEncoder, ShowsThePaletteExactlyWhereColoursFitTheRegisters)
{
    const Window window{60, 14, 8, 17};
    Surface surface(window.columns * window.cellWidth, window.rows * window.cellHeight);
    paintPicture(surface, 13, 10, 400, 180, 200, 3);
    SixelEncoder encoder(256, 1000, 1000);
    ImageScreen screen(window.columns, window.rows, window.cellWidth, window.cellHeight);
    screen.feed(encodeAll(encoder, surface, window));
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
    EXPECT_FALSE(screen.insideSequence());
    // Everything above the last text row, which would scroll the terminal, shows exactly the
    // colour as sixel's percentages can carry it.
    int wrong = 0;
    for (int y = 0; y < (window.rows - 1) * window.cellHeight; ++y)
        for (int x = 0; x < surface.width(); ++x) {
            const std::uint32_t painted = surface.get(x, y);
            const std::uint32_t want =
                painted == 0 ? 0 : 0x01000000 | ImageScreen::throughPercent(painted & 0xFFFFFF);
            wrong += screen.pixel(x, y) != want;
        }
    EXPECT_EQ(wrong, 0);
}

TEST(SixelEncoder, ColoursSideBySideShareOnePassAcrossTheBand)
{
    // One band of blocks side by side, each of its own colour, with a gap between them: after
    // the busiest line, each goes on where the last ended, without going back to the band's
    // left edge ('$'). Over a colour across the band, the blocks take a second pass, and that
    // colour, the busiest, is one run over the whole band: the blocks draw over it.
    for (const bool across : {false, true}) {
        const Window window{40, 3, 8, 17};
        Surface surface(window.columns * window.cellWidth, window.rows * window.cellHeight);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 300; ++x)
                if (x % 30 < 20)
                    surface.set(x, y, std::uint32_t(x / 30 + 1) * 0x0B1D2Fu & 0xFFFFFF);
                else if (across)
                    surface.set(x, y, 0xFFFFFF);
        SixelEncoder encoder(256, 1000, 1000);
        const std::string bytes = encodeAll(encoder, surface, window);
        EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '$'), across ? 1 : 0) << bytes;
        if (across) {
            EXPECT_NE(bytes.find("#0!300~"), std::string::npos) << bytes;
        }
        ImageScreen screen(window.columns, window.rows, window.cellWidth, window.cellHeight);
        screen.feed(bytes);
        EXPECT_EQ(screen.problems(), std::vector<std::string>{});
        int wrong = 0;
        for (int y = 0; y < surface.height(); ++y)
            for (int x = 0; x < surface.width(); ++x) {
                const std::uint32_t painted = surface.get(x, y);
                wrong += screen.pixel(x, y) !=
                         (painted == 0 ? 0 : 0x01000000 | ImageScreen::throughPercent(painted & 0xFFFFFF));
            }
        EXPECT_EQ(wrong, 0) << (across ? "over a colour across the band" : "side by side");
    }
}

TEST(SixelEncoder, ManyColoursKeepAHighFidelity)
{
    const Window window{80, 10, 8, 17};
    Surface surface(window.columns * window.cellWidth, window.rows * window.cellHeight);
    paintPicture(surface, 0, 0, 640, 8 * 17, 0, 11);  // thousands of colours a row
    SixelEncoder encoder(256, 1000, 1000);
    ImageScreen screen(window.columns, window.rows, window.cellWidth, window.cellHeight);
    screen.feed(encodeAll(encoder, surface, window));
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
    double squares = 0;
    long count = 0;
    for (int y = 0; y < 8 * 17; ++y)
        for (int x = 0; x < 640; ++x) {
            const std::uint32_t painted = surface.get(x, y), shown = screen.pixel(x, y);
            if (painted == 0)
                continue;
            ASSERT_NE(shown, 0u) << x << ", " << y;
            for (int c = 0; c < 3; ++c) {
                const double d = double((painted >> (8 * c)) & 0xFF) - double((shown >> (8 * c)) & 0xFF);
                squares += d * d;
                ++count;
            }
        }
    const double psnr = 10 * std::log10(255.0 * 255.0 / (squares / double(count)));
    EXPECT_GT(psnr, 35.0);
}

TEST(SixelEncoder, EveryRowAboveTheLastIsShownWhateverTheCellHeight)
{
    // A picture as tall as the window, sent as one run and row by row (as the presenter sends
    // rows that changed at different times): no band may reach the last text row, and no row
    // above it may be lost to the six-pixel bands.
    for (const int cellHeight : {16, 17, 18, 20})
        for (const int rows : {2, 3, 7, 12})
            for (const bool byRow : {false, true}) {
                const Window window{30, rows, 8, cellHeight};
                Surface surface(window.columns * window.cellWidth, window.rows * cellHeight);
                paintPicture(surface, 3, 0, 230, surface.height(), 40, 8);
                SixelEncoder encoder(256, 1000, 1000);
                std::string bytes;
                if (byRow) {
                    bytes = encodeAll(encoder, surface, window);
                } else {
                    CellGeometry cells{window.cellWidth, cellHeight, window.columns, rows};
                    ByteBuffer out;
                    encoder.encodeRun(surface, Piece{0, rows - 1}, cells, out);
                    bytes = out.str();
                }
                ImageScreen screen(window.columns, rows, window.cellWidth, cellHeight);
                screen.feed(bytes);
                SCOPED_TRACE("cells 8 x " + std::to_string(cellHeight) + ", " +
                             std::to_string(rows) + " rows" + (byRow ? ", row by row" : ""));
                EXPECT_EQ(screen.problems(), std::vector<std::string>{});
                // Where no row lies a multiple of six pixels above the last text row, only
                // whole bands can be shown: at most five pixel rows are missing.
                const int limit = (rows - 1) * cellHeight;
                bool aligned = false;
                for (int row = 0; row < rows - 1; ++row)
                    aligned = aligned || (limit - row * cellHeight) % 6 == 0;
                int wrong = 0, drawnBelow = 0;
                for (int y = 0; y < surface.height(); ++y)
                    for (int x = 0; x < surface.width(); ++x) {
                        const std::uint32_t painted = surface.get(x, y);
                        if (y >= limit)
                            drawnBelow += screen.pixel(x, y) != 0;
                        else if (y < limit - 5 || aligned)
                            wrong += screen.pixel(x, y) !=
                                     (painted == 0 ? 0 : 0x01000000 | ImageScreen::throughPercent(painted & 0xFFFFFF));
                    }
                EXPECT_EQ(wrong, 0);
                EXPECT_EQ(drawnBelow, 0);
            }
}

TEST(SixelEncoder, EveryPixelGetsTheNearestColourOfItsImageOrContinuesANeighboursAlikeOne)
{
    // More colours than registers: whatever the palette, no colour it defines may be nearer to
    // a painted pixel than the one shown (one image: its palette is every definition), unless
    // the one shown is its neighbour's before it or above it in its band, and hardly farther:
    // 4 levels at the middle of its cell of colour space, so at most 4 + 2 x 1.5 x sqrt(3)
    // levels anywhere in the cell.
    for (const int registers : {16, 256, 1024}) {
        const Window window{50, 10, 8, 17};
        Surface surface(window.columns * window.cellWidth, window.rows * window.cellHeight);
        paintPicture(surface, 0, 0, 390, 110, 0, 4);
        SixelEncoder encoder(registers, 1000, 1000);
        ByteBuffer out;
        encoder.encodeRun(surface, Piece{0, 6}, CellGeometry{8, 17, window.columns, window.rows}, out);
        const std::string bytes = out.str();
        ImageScreen screen(window.columns, window.rows, window.cellWidth, window.cellHeight);
        screen.feed(bytes);
        EXPECT_EQ(screen.images(), 1);
        std::vector<std::uint32_t> defined;
        for (std::size_t at = bytes.find(";2;"); at != std::string::npos; at = bytes.find(";2;", at + 1)) {
            int r, g, b;
            if (std::sscanf(bytes.c_str() + at, ";2;%d;%d;%d", &r, &g, &b) == 3)
                defined.push_back(0x01000000 | std::uint32_t((r * 255 + 50) / 100) |
                                  std::uint32_t((g * 255 + 50) / 100) << 8 | std::uint32_t((b * 255 + 50) / 100) << 16);
        }
        EXPECT_LE(int(defined.size()), registers);
        auto distance = [](std::uint32_t a, std::uint32_t b) {
            int sum = 0;
            for (int c = 0; c < 3; ++c) {
                const int d = int((a >> (8 * c)) & 0xFF) - int((b >> (8 * c)) & 0xFF);
                sum += d * d;
            }
            return sum;
        };
        int notNearest = 0, wrong = 0;
        for (int y = 0; y < 110; ++y)
            for (int x = 0; x < 390; ++x) {
                const std::uint32_t painted = surface.get(x, y), shown = screen.pixel(x, y);
                if (painted == 0)
                    continue;
                int nearest = distance(painted, shown);
                for (const std::uint32_t colour : defined)
                    nearest = std::min(nearest, distance(painted, colour));
                if (nearest == distance(painted, shown))
                    continue;
                ++notNearest;
                const bool continues = (x > 0 && screen.pixel(x - 1, y) == shown) ||
                                       (y % 6 != 0 && screen.pixel(x, y - 1) == shown);
                const double farther = std::sqrt(double(distance(painted, shown))) - std::sqrt(double(nearest));
                wrong += !continues || farther > 4 + 3 * std::sqrt(3.0);
            }
        EXPECT_EQ(wrong, 0) << registers << " registers";
        EXPECT_LT(notNearest, 390 * 110 / 4) << registers << " registers";
    }
}

TEST(SixelEncoder, WideRowsBecomeImagesTheTerminalWillShow)
{
    const Window window{200, 6, 8, 17};
    Surface surface(window.columns * window.cellWidth, window.rows * window.cellHeight);
    paintPicture(surface, 10, 10, 1500, 30, 4, 2);
    SixelEncoder encoder(256, 400, 400);
    const std::string bytes = encodeAll(encoder, surface, window);
    std::size_t at = 0;
    int images = 0;
    while ((at = bytes.find("\"1;1;", at)) != std::string::npos) {
        ++images;
        at += 5;
        EXPECT_LE(std::atoi(bytes.c_str() + at), 400) << "an image wider than the terminal shows";
    }
    EXPECT_GE(images, 8);
    ImageScreen screen(window.columns, window.rows, window.cellWidth, window.cellHeight);
    screen.feed(bytes);
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
    EXPECT_EQ(screen.pixel(1400, 20), 0x01000000 | ImageScreen::throughPercent(surface.get(1400, 20) & 0xFFFFFF));
}

}  // namespace
