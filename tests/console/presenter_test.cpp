// The presenting thread against a real pseudo-terminal, while the test paints from its own
// thread as the program does. Run under ThreadSanitizer in CI.
#include "console/presenter.h"

#include "console/encoders/halfblock_encoder.h"
#include "console/encoders/kitty_encoder.h"
#include "console/encoders/sixel_encoder.h"
#include "console/presentation.h"
#include "console/terminal/terminal.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "image_screen.h"
#include "pty_capture.h"
#include "screen_model.h"

namespace {

using namespace std::chrono_literals;

std::uint32_t colourAt(int x, int y)
{
    return std::uint32_t(x * 5) | std::uint32_t(y * 3) << 8 | 0x400000;
}

// Paints the picture row by row, a little at a time, as a file would arrive.
void paintPicture(Surface& surface, int width, int height)
{
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            surface.set(10 + x, 10 + y, colourAt(x, y));
        if (y % 8 == 7)
            std::this_thread::sleep_for(1ms);
    }
}

std::vector<std::uint32_t> expected(int columns, int rows, int width, int height)
{
    std::vector<std::uint32_t> pixels(std::size_t(columns) * std::size_t(2 * rows), 0);
    for (int y = 0; y < height && 10 + y < 2 * rows; ++y)
        for (int x = 0; x < width && 10 + x < columns; ++x)
            pixels[std::size_t(10 + y) * std::size_t(columns) + std::size_t(10 + x)] =
                Surface::painted | colourAt(x, y);
    return pixels;
}

ScreenModel screenOf(const std::string& output, int columns, int rows)
{
    ScreenModel screen(columns, rows);
    screen.feed(output);
    return screen;
}

TEST(Presenter, ShowsThePictureWhileTheProgramWaits)
{
    const int columns = 90, rows = 40;
    PtyCapture terminal(columns, rows);
    Terminal output(terminal.terminal());
    Surface surface(columns, 2 * rows);
    Presenter presenter(output, surface, std::make_unique<HalfBlockEncoder>(), CellGeometry{});

    paintPicture(surface, 70, 60);
    // Nothing more is painted and the presenter is not told: the picture must still arrive.
    const std::vector<std::uint32_t> want = expected(columns, rows, 70, 60);
    EXPECT_TRUE(terminal.waitFor(
        [&](const std::string& out) { return screenOf(out, columns, rows).differences(want).empty(); },
        5s))
        << screenOf(terminal.output(), columns, rows).differences(want);

    const ScreenModel screen = screenOf(terminal.output(), columns, rows);
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
    EXPECT_FALSE(screen.insideSequence());
    EXPECT_TRUE(screen.cursorVisible());
    EXPECT_TRUE(screen.coloursDefault());
    EXPECT_EQ(screen.cursorRow(), 0);
    EXPECT_EQ(screen.cursorColumn(), 0);
}

TEST(Presenter, ShowsTheLastPixelsWhenItCloses)
{
    const int columns = 120, rows = 50;
    PtyCapture terminal(columns, rows);
    terminal.throttle(2000);  // a slow terminal: the output lags behind the painting
    Terminal output(terminal.terminal());
    Surface surface(columns, 2 * rows);
    {
        Presenter presenter(output, surface, std::make_unique<HalfBlockEncoder>(), CellGeometry{});
        paintPicture(surface, 110, 90);
    }
    terminal.throttle(0);
    const std::vector<std::uint32_t> want = expected(columns, rows, 110, 90);
    EXPECT_TRUE(terminal.waitFor(
        [&](const std::string& out) { return screenOf(out, columns, rows).differences(want).empty(); },
        10s))
        << screenOf(terminal.output(), columns, rows).differences(want);
    EXPECT_EQ(screenOf(terminal.output(), columns, rows).problems(), std::vector<std::string>{});
}

TEST(Presenter, ImagesEncodedOnTwoThreadsReachASlowTerminalWholeAndInOrder)
{
    // Kitty rows are encoded by two helper threads while the presenter writes them: each image
    // must arrive whole, in its place, the last one showing the last pixels painted.
    const int columns = 40, rows = 20;
    const CellGeometry cells{8, 17, columns, rows};
    PtyCapture terminal(columns, rows);
    terminal.throttle(200);
    Terminal output(terminal.terminal());
    Surface surface(columns * cells.cellWidth, rows * cells.cellHeight);
    {
        Presenter presenter(output, surface, std::make_unique<KittyEncoder>(1000), cells);
        for (int y = 0; y < 300; ++y) {
            for (int x = 0; x < 290; ++x)
                surface.set(10 + x, 10 + y, colourAt(x, y) ^ std::uint32_t(x * y % 7));
            if (y % 20 == 19)
                std::this_thread::sleep_for(1ms);
        }
    }
    terminal.throttle(0);
    auto shownExactly = [&](const std::string& out) {
        ImageScreen screen(columns, rows, cells.cellWidth, cells.cellHeight);
        screen.feed(out);
        return screen.wrongPixels(surface) == 0 && screen.problems().empty() &&
               !screen.insideSequence();
    };
    EXPECT_TRUE(terminal.waitFor(shownExactly, 10s));
}

TEST(Presenter, KeepsToAWindowThatShrankMeanwhile)
{
    PtyCapture terminal(80, 30);
    Terminal output(terminal.terminal());
    Surface surface(80, 60);
    terminal.resize(40, 12);
    {
        Presenter presenter(output, surface, std::make_unique<HalfBlockEncoder>(), CellGeometry{});
        paintPicture(surface, 70, 50);
    }
    // A screen of the new size reports any write past its edges as a problem.
    std::this_thread::sleep_for(50ms);
    const ScreenModel screen = screenOf(terminal.output(), 40, 12);
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
    EXPECT_EQ(screen.differences(expected(40, 12, 70, 50)), "");
}

TEST(Presentation, ALookWhileImagesArePaintedWaitsOneLook)
{
    // Sixel images of a picture painted across looks: the first look, finding the painting
    // going on, leaves its rows to the second, which shows them all though the painting goes
    // on; the last look shows what is left at once.
    const int columns = 100, rows = 30;
    const CellGeometry cells{8, 17, columns, rows};
    PtyCapture terminal(columns, rows);
    Terminal output(terminal.terminal());
    Surface surface(columns * cells.cellWidth, rows * cells.cellHeight);
    Presentation presentation(output, surface, std::make_unique<SixelEncoder>(256, 1000, 1000),
                              cells);
    auto paint = [&](int top, int bottom) {
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < 300; ++x)
                surface.set(10 + x, 10 + y, colourAt(x, y));
    };
    auto images = [&] {
        std::this_thread::sleep_for(50ms);  // what was written has arrived
        ImageScreen screen(columns, rows, cells.cellWidth, cells.cellHeight);
        screen.feed(terminal.output());
        EXPECT_EQ(screen.problems(), std::vector<std::string>{});
        return screen.images();
    };
    paint(0, 100);
    EXPECT_FALSE(presentation.present());
    EXPECT_EQ(images(), 0);
    paint(100, 200);
    EXPECT_TRUE(presentation.present());
    EXPECT_EQ(images(), 2);  // both pieces, of all 12 text rows painted
    paint(200, 250);
    EXPECT_TRUE(presentation.present(true));
    EXPECT_EQ(images(), 4);
}

TEST(Presenter, SendsNothingWhenNothingWasPainted)
{
    PtyCapture terminal(20, 10);
    Terminal output(terminal.terminal());
    Surface surface(20, 20);
    {
        Presenter presenter(output, surface, std::make_unique<HalfBlockEncoder>(), CellGeometry{});
        surface.set(25, 3, 0x123456);  // outside: clipped
        std::this_thread::sleep_for(60ms);
    }
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(terminal.output(), "");
}

}  // namespace
