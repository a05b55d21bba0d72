// A window that changes size while the picture is painted: once what was already on its way has
// gone (128 KB, and the image then being written), nothing lands past the new edges, the
// picture inside them is right, and a window that grows back gets the rows it can show again,
// even where it shrank and grew between two looks. On every canvas.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <memory>

#include "bitmap_bytes.h"
#include "image_screen.h"
#include "pty_session.h"
#include "screen_model.h"
#include "scripted_terminals.h"
#include "temp_dir.h"

namespace {

using namespace std::chrono_literals;

constexpr int columns = 200, tallRows = 60, shortRows = 20, cellWidth = 10, cellHeight = 20;
constexpr std::size_t onItsWay = 128 * 1024;

// 200 colours strewn at random: megabytes for every canvas (no compressor makes it small), yet
// few enough colours for sixel registers to hold them exactly.
std::string strewnBitmap(int width, int height)
{
    std::string file = patternBitmap(width, height);
    std::uint32_t state = 2024;
    const std::size_t rowSize = (std::size_t(width) * 3 + 3) & ~std::size_t(3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            const std::uint32_t colour = ((state >> 16) % 200) * 0x51F3A7u;
            char* p = &file[54 + std::size_t(y) * rowSize + std::size_t(x) * 3];
            p[0] = char(colour), p[1] = char(colour >> 8), p[2] = char(colour >> 16);
        }
    return file;
}

// The screen as a text-cell terminal or a graphics terminal shows it.
class Screen {
public:
    Screen(bool cells, ImageScreen::ObjectReader objects)
        : cells_(cells), text_(columns, tallRows), image_(columns, tallRows, cellWidth, cellHeight)
    {
        image_.readObjectsWith(std::move(objects));
    }
    void feed(const std::string& bytes) { cells_ ? text_.feed(bytes) : image_.feed(bytes); }
    void resize(int rows)
    {
        rows_ = rows;
        cells_ ? text_.resize(columns, rows) : image_.resize(columns, rows);
    }
    std::vector<std::string> problems() const
    {
        return cells_ ? text_.problems() : image_.problems();
    }
    void forgetProblems() { cells_ ? text_.forgetProblems() : image_.forgetProblems(); }
    bool insideSequence() const
    {
        return cells_ ? text_.insideSequence() : image_.insideSequence();
    }
    bool betweenPresentations() const
    {
        return cells_ ? !text_.insideSequence() && text_.cursorVisible()
                      : !image_.insideSequence() && image_.cursorVisible();
    }

    // "" where the window shows the picture as far as it may: images end above the last text
    // row on a sixel terminal (`sixel`), and text cells hold two pixels each.
    std::string differences(const std::string& picture, bool sixel) const
    {
        if (cells_)
            return text_.differences(expectedScreen(picture, columns, rows_));
        const int width = columns * cellWidth, height = rows_ * cellHeight;
        const int shown = sixel ? (rows_ - 1) * cellHeight : height;
        std::vector<std::uint32_t> want(std::size_t(width) * std::size_t(height), 0);
        for (const PaintedPixel& p : expectedPixels(picture))
            if (p.x < width && p.y < shown)
                want[std::size_t(p.y) * std::size_t(width) + std::size_t(p.x)] =
                    0x01000000 | (sixel ? ImageScreen::throughPercent(p.colour) : p.colour);
        int wrong = 0;
        std::string first;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (image_.pixel(x, y) != want[std::size_t(y) * std::size_t(width) + std::size_t(x)] &&
                    wrong++ == 0)
                    first = " first at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
        return wrong == 0 ? "" : std::to_string(wrong) + " pixels differ," + first;
    }

private:
    bool cells_;
    int rows_ = tallRows;
    ScreenModel text_;
    ImageScreen image_;
};

TEST(WindowResized, NothingPastTheNewEdgesAndTheRowsThatFitAgainAreShown)
{
    LocalKittyTerminal localKitty;
    const struct {
        const char* canvas;
        PtySession::Responder answer;
        bool cells, sixel;
        ImageScreen::ObjectReader objects;
    } canvases[] = {
        {"half blocks", PtySession::plainTerminal, true, false, ImageScreen::readFromFileSystem},
        {"kitty elsewhere", kittyTerminal, false, false, ImageScreen::readFromFileSystem},
        {"kitty here", localKitty.responder(), false, false, localKitty.reader()},
        {"sixel", sixelTerminal, false, true, ImageScreen::readFromFileSystem},

    };
    const std::string picture = strewnBitmap(columns * cellWidth - 10, tallRows * cellHeight - 10);
    for (const auto& c : canvases) {
        SCOPED_TRACE(c.canvas);
        TempDir dir;
        dir.write("Painting.bmp", picture);
        PtySession session(columns, tallRows, c.cells ? 0 : columns * cellWidth,
                           c.cells ? 0 : tallRows * cellHeight);
        session.answerWith(c.answer);
        session.start(VIEWER_PATH, dir.path());

        // The terminal reads slowly: the window shrinks while megabytes wait to be written
        // (a local kitty gets names only: it shrinks after the first image).
        ASSERT_TRUE(session.readUntil(
            [&](const std::string& out) {
                return out.size() > 200 * 1024 || out.find("a=T,t=s,") != std::string::npos;
            },
            20s));
        Screen screen(c.cells, c.objects);
        std::size_t fed = session.output().size();
        screen.feed(session.output());
        // The window and the screen model both, in pixels where the terminal tells them.
        auto resize = [&](int rows) {
            session.resize(columns, rows, c.cells ? 0 : columns * cellWidth,
                           c.cells ? 0 : rows * cellHeight);
            screen.resize(rows);
        };
        resize(shortRows);
        const std::size_t shrunkAt = fed;

        // Shown right as the window now is, and nothing past its edges once what was on its
        // way has gone: what the terminal had not read yet, and the image or sequence that
        // was being written then (a kitty image through the terminal may be a row of 100 KB).
        bool settled = false, shown = false;
        auto showsPicture = [&](const std::string& out) {
            if (out.size() != fed) {
                if (!settled && out.size() >= shrunkAt + onItsWay) {
                    if (fed < shrunkAt + onItsWay) {
                        screen.feed(out.substr(fed, shrunkAt + onItsWay - fed));
                        fed = shrunkAt + onItsWay;
                    }
                    while (fed < out.size() && screen.insideSequence())
                        screen.feed(std::string(1, out[fed++]));
                    if (!screen.insideSequence()) {
                        screen.forgetProblems();
                        settled = true;
                    }
                }
                screen.feed(out.substr(fed));
                fed = out.size();
                // Compared between presentations only: a whole screen after every read of a
                // few KB would cost minutes.
                shown = screen.betweenPresentations() && screen.differences(picture, c.sixel).empty();
            }
            return shown;
        };
        EXPECT_TRUE(session.readUntil(showsPicture, 60s)) << screen.differences(picture, c.sixel)
                                                          << " after " << session.output().size() - shrunkAt;
        if (settled) {
            EXPECT_EQ(screen.problems(), std::vector<std::string>{});
        }

        // Grown back: the rows that fit again are shown, and nothing lands anywhere else.
        resize(tallRows);
        screen.forgetProblems();
        shown = false;
        settled = true;
        EXPECT_TRUE(session.readUntil(showsPicture, 60s)) << screen.differences(picture, c.sixel);
        EXPECT_EQ(screen.problems(), std::vector<std::string>{});

        // Shrunk and grown back at once, between two looks at its size: the rows the
        // terminal dropped meanwhile are shown again all the same. (Not under
        // ThreadSanitizer, which holds the resize signal back while the program waits for
        // Enter in a read.)
#ifndef VIEWER_THREAD_SANITIZED
        resize(shortRows);
        resize(tallRows);
        shown = false;
        EXPECT_TRUE(session.readUntil(showsPicture, 60s)) << screen.differences(picture, c.sixel);
        EXPECT_EQ(screen.problems(), std::vector<std::string>{});
#endif

        session.type("\n");
        ASSERT_TRUE(session.waitForExit(10s));
        EXPECT_TRUE(WIFEXITED(session.status()) && WEXITSTATUS(session.status()) == 0);
    }
}

}  // namespace
