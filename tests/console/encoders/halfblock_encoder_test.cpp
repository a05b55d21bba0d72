// The half-block encoding, checked by feeding its bytes to a model of a terminal screen and
// comparing what the screen shows with what was painted.
#include "console/encoders/halfblock_encoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "screen_model.h"

namespace {

std::string encodeAll(HalfBlockEncoder& encoder, const Surface& surface, int columns, int rows)
{
    ByteBuffer out;
    encoder.reset();
    out.append("\x1b[0m", 4);  // the state reset() stands for
    CellGeometry cells;
    cells.columns = columns;
    cells.rows = rows;
    for (int row = 0; row < rows; ++row)
        encoder.encodeRow(surface, row, cells, out);
    return out.str();
}

std::vector<std::uint32_t> snapshot(const Surface& surface, int columns, int rows)
{
    std::vector<std::uint32_t> pixels(std::size_t(columns) * std::size_t(2 * rows), 0);
    for (int y = 0; y < std::min(surface.height(), 2 * rows); ++y)
        for (int x = 0; x < std::min(surface.width(), columns); ++x)
            pixels[std::size_t(y) * std::size_t(columns) + std::size_t(x)] = surface.get(x, y);
    return pixels;
}

// Pictures with what makes half blocks interesting: unpainted pixels and runs of them, black,
// cells of one colour, colours that repeat so that the state carried over matters.
void paintMixed(Surface& surface, unsigned seed, int palette)
{
    std::mt19937 random(seed);
    for (int y = 0; y < surface.height(); ++y)
        for (int x = 0; x < surface.width(); ++x) {
            const unsigned roll = random() % 10;
            if (roll < 3)
                continue;  // unpainted
            const std::uint32_t colour =
                roll == 3 ? 0 : std::uint32_t(random() % unsigned(palette)) * 0x3F1D27u;
            surface.set(x, y, colour & 0xFFFFFF);
        }
}

TEST(HalfBlockEncoder, ShowsExactlyWhatWasPainted)
{
    const struct {
        int width, height, columns, rows, palette;
    } cases[] = {
        {1, 1, 1, 1, 3},      {1, 2, 1, 1, 3},     {17, 9, 17, 5, 4},
        {40, 30, 40, 15, 2},  {40, 30, 40, 15, 1000},  // few colours, many colours
        {63, 41, 63, 21, 6},  // an odd height: the last row has only upper halves
    };
    unsigned seed = 1;
    for (const auto& c : cases) {
        for (int round = 0; round < 5; ++round, ++seed) {
            Surface surface(c.width, c.height);
            paintMixed(surface, seed, c.palette);
            HalfBlockEncoder encoder;
            ScreenModel screen(c.columns, c.rows);
            screen.feed(encodeAll(encoder, surface, c.columns, c.rows));
            EXPECT_EQ(screen.problems(), std::vector<std::string>{}) << "seed " << seed;
            EXPECT_EQ(screen.differences(snapshot(surface, c.columns, c.rows)), "")
                << "seed " << seed << ", " << c.width << " x " << c.height;
        }
    }
}

TEST(HalfBlockEncoder, ClipsToTheColumnsGiven)
{
    Surface surface(30, 10);
    paintMixed(surface, 99, 50);
    HalfBlockEncoder encoder;
    ScreenModel screen(12, 5);  // narrower than the surface: writing past it is a problem
    screen.feed(encodeAll(encoder, surface, 12, 5));
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
    EXPECT_EQ(screen.differences(snapshot(surface, 12, 5)), "");
}

TEST(HalfBlockEncoder, LeavesUnpaintedCellsAsTheyWere)
{
    ScreenModel screen(10, 2);
    screen.feed("\x1b[1;1Habcdefghij\x1b[2;1Hklmnopqrst");
    Surface surface(10, 4);
    surface.set(3, 0, 0xFF0000);  // upper half of cell (3, 0)
    surface.set(7, 3, 0x00FF00);  // lower half of cell (7, 1)
    HalfBlockEncoder encoder;
    screen.feed(encodeAll(encoder, surface, 10, 2));
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
    EXPECT_EQ(screen.text(0), "abc#efghij");
    EXPECT_EQ(screen.text(1), "klmnopq#st");
    EXPECT_EQ(screen.pixel(3, 1), 0u) << "the unpainted half shows the default background";
    EXPECT_EQ(screen.pixel(7, 2), 0u);
}

TEST(HalfBlockEncoder, SpendsFewBytesWhereColoursRepeat)
{
    // One colour throughout: a colour once, then a byte a cell.
    Surface flat(200, 2);
    for (int x = 0; x < 200; ++x) {
        flat.set(x, 0, 0x102030);
        flat.set(x, 1, 0x102030);
    }
    HalfBlockEncoder encoder;
    EXPECT_LT(encodeAll(encoder, flat, 200, 1).size(), 240u);

    // Two colours, one above the other, throughout: set once, then a glyph a cell.
    Surface layered(200, 2);
    for (int x = 0; x < 200; ++x) {
        layered.set(x, 0, 0xAAAAAA);
        layered.set(x, 1, 0x555555);
    }
    EXPECT_LT(encodeAll(encoder, layered, 200, 1).size(), 3u * 200u + 60u);
}

}  // namespace
