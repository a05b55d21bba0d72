// The real program in a terminal: a pseudo-terminal of a given size is its window, its
// standard output and error go elsewhere, and the test looks at the screen it leaves.
#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "bitmap_bytes.h"
#include "child_process.h"
#include "pty_session.h"
#include "screen_model.h"
#include "scripted_terminals.h"
#include "temp_dir.h"

namespace {

using namespace std::chrono_literals;

std::string samplePicture()
{
    std::ifstream in(SAMPLE_PICTURE_PATH, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

ScreenModel screenOf(const std::string& output, int columns, int rows)
{
    ScreenModel screen(columns, rows);
    screen.feed(output);
    return screen;
}

bool sameModes(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag;
}

// `cursorShown`: as the cursor was when the program started.
void expectRestored(const ScreenModel& screen, bool cursorShown = true)
{
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
    EXPECT_FALSE(screen.insideSequence()) << "an escape sequence was left open";
    EXPECT_EQ(screen.cursorVisible(), cursorShown);
    EXPECT_TRUE(screen.coloursDefault());
    EXPECT_EQ(screen.cursorRow(), 0) << "the cursor goes back where it was";
    EXPECT_EQ(screen.cursorColumn(), 0);
}

TEST(ViewerInTerminal, ShowsThePictureWhileWaitingAndLeavesTheTerminalAsItWas)
{
    // Windows large enough for the sample, and smaller than it in one or both directions.
    const struct {
        int columns, rows;
    } windows[] = {{200, 60}, {80, 24}, {171, 30}, {40, 60}, {1, 1}, {12, 6}};
    const std::string picture = samplePicture();
    for (const auto& window : windows) {
        SCOPED_TRACE(std::to_string(window.columns) + " x " + std::to_string(window.rows));
        TempDir dir;
        dir.write("Painting.bmp", picture);
        PtySession session(window.columns, window.rows);
        const termios before = session.modes();
        session.start(VIEWER_PATH, dir.path());

        // The program only paints and waits; the picture must appear on its own.
        const std::vector<std::uint32_t> want =
            expectedScreen(picture, window.columns, window.rows);
        EXPECT_TRUE(session.readUntil(
            [&](const std::string& out) {
                return screenOf(out, window.columns, window.rows).differences(want).empty();
            },
            10s))
            << screenOf(session.output(), window.columns, window.rows).differences(want);
        EXPECT_TRUE(session.waitForExit(100ms) == false) << "it must wait for Enter";

        const std::size_t painted = session.output().size();
        expectRestored(screenOf(session.output(), window.columns, window.rows));

        session.type("\n");
        ASSERT_TRUE(session.waitForExit(10s));
        EXPECT_TRUE(WIFEXITED(session.status()) && WEXITSTATUS(session.status()) == 0);
        EXPECT_EQ(session.standardOutput(), "");
        EXPECT_EQ(session.standardError(), "");
        EXPECT_TRUE(sameModes(before, session.modes()));
        // After the picture, the terminal got nothing but the echo of Enter.
        EXPECT_EQ(session.output().substr(painted), "\r\n");
    }
}

TEST(ViewerInTerminal, ShowsThePictureBeforeItEndsWhenInputIsAtItsEnd)
{
    const std::string picture = patternBitmap(300, 120);
    TempDir dir;
    dir.write("Painting.bmp", picture);
    PtySession session(320, 70);
    session.start(VIEWER_PATH, dir.path(), PtySession::Input::empty);
    ASSERT_TRUE(session.waitForExit(20s));
    EXPECT_TRUE(WIFEXITED(session.status()) && WEXITSTATUS(session.status()) == 0);
    const ScreenModel screen = screenOf(session.output(), 320, 70);
    EXPECT_EQ(screen.differences(expectedScreen(picture, 320, 70)), "");
    expectRestored(screen);
}

TEST(ViewerInTerminal, KeysTypedWhilePaintingAreNotEchoedIntoThePicture)
{
    const std::string picture = patternBitmap(600, 300);
    TempDir dir;
    dir.write("Painting.bmp", picture);
    PtySession session(620, 160);
    const termios before = session.modes();
    session.start(VIEWER_PATH, dir.path());
    // Once painting is under way, keys arrive; the line ends the wait.
    ASSERT_TRUE(session.readUntil([](const std::string& out) { return out.size() > 1000; }, 10s));
    session.type("xyz\n");
    ASSERT_TRUE(session.waitForExit(20s));
    EXPECT_TRUE(WIFEXITED(session.status()) && WEXITSTATUS(session.status()) == 0);
    EXPECT_TRUE(sameModes(before, session.modes()));
    const ScreenModel screen = screenOf(session.output(), 620, 160);
    EXPECT_EQ(screen.differences(expectedScreen(picture, 620, 160)), "");
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
}

TEST(ViewerInTerminal, ASignalMidPaintLeavesTheTerminalAsItWas)
{
    const std::string picture = patternBitmap(1000, 500);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(strsignal(signal));
        TempDir dir;
        dir.write("Painting.bmp", picture);
        PtySession session(1020, 300);
        // One of them in a terminal whose cursor was hidden: it stays hidden.
        const bool hidden = signal == SIGTERM;
        session.answerWith(hidden ? hiddenCursorTerminal : PtySession::plainTerminal);
        const termios before = session.modes();
        session.start(VIEWER_PATH, dir.path());
        // Read a little, then stop reading: the terminal's buffer fills and the program is
        // caught in the middle of writing the picture.
        ASSERT_TRUE(session.readUntil([](const std::string& out) { return out.size() > 5000; }, 10s));
        std::this_thread::sleep_for(100ms);
        session.signal(signal);
        ASSERT_TRUE(session.waitForExit(10s));
        ASSERT_TRUE(WIFSIGNALED(session.status()))
            << "the exit status must tell the signal; it ended with status "
            << WEXITSTATUS(session.status()) << " and said " << session.standardError();
        EXPECT_EQ(WTERMSIG(session.status()), signal);
        EXPECT_TRUE(sameModes(before, session.modes()));
        expectRestored(screenOf((hidden ? "\x1b[?25l" : "") + session.output(), 1020, 300),
                       !hidden);
    }
}

TEST(ViewerInTerminal, AsksNothingThatWouldPrintAndLeavesTheCursorAsItWas)
{
    const struct {
        const char* terminal;
        const char* term;  // the environment's TERM
        PtySession::Responder answer;
        bool printsStrings, cursorShown;
    } terminals[] = {
        {"rxvt-unicode", "rxvt-unicode-256color", rxvtTerminal, true, true},
        {"rxvt-unicode calling itself xterm", "xterm-256color", rxvtTerminal, true, true},
        {"the cursor hidden", "xterm-256color", hiddenCursorTerminal, false, false},
        {"the cursor hidden, in kitty's name", "xterm-kitty", hiddenCursorTerminal, false, false},
    };
    const std::string picture = samplePicture();
    const std::vector<std::uint32_t> want = expectedScreen(picture, 200, 60);
    for (const auto& t : terminals) {
        SCOPED_TRACE(t.terminal);
        TempDir dir;
        dir.write("Painting.bmp", picture);
        PtySession session(200, 60);
        session.setEnvironment("TERM", t.term);
        session.answerWith(t.answer);
        const std::string before = t.cursorShown ? "" : "\x1b[?25l";
        session.start(VIEWER_PATH, dir.path());
        EXPECT_TRUE(session.readUntil(
            [&](const std::string& out) { return screenOf(out, 200, 60).differences(want).empty(); },
            10s));
        expectRestored(screenOf(before + session.output(), 200, 60), t.cursorShown);
        session.type("\n");
        ASSERT_TRUE(session.waitForExit(10s));
        EXPECT_TRUE(WIFEXITED(session.status()) && WEXITSTATUS(session.status()) == 0);
        if (t.printsStrings) {
            EXPECT_EQ(session.output().find("\x1b_"), std::string::npos) << "a string was sent";
        }
    }
}

TEST(ViewerInTerminal, ASignalWhileWaitingEndsTheRunWithTheTerminalIntact)
{
    TempDir dir;
    dir.write("Painting.bmp", samplePicture());
    PtySession session(200, 60);
    const termios before = session.modes();
    session.start(VIEWER_PATH, dir.path());
    const std::vector<std::uint32_t> want = expectedScreen(samplePicture(), 200, 60);
    ASSERT_TRUE(session.readUntil(
        [&](const std::string& out) { return screenOf(out, 200, 60).differences(want).empty(); },
        10s));
    session.signal(SIGINT);
    ASSERT_TRUE(session.waitForExit(10s));
    EXPECT_TRUE(WIFSIGNALED(session.status()) && WTERMSIG(session.status()) == SIGINT);
    EXPECT_TRUE(sameModes(before, session.modes()));
    const ScreenModel screen = screenOf(session.output(), 200, 60);
    expectRestored(screen);
    EXPECT_EQ(screen.differences(want), "");
}

TEST(ViewerInTerminal, WithoutATerminalItPaintsNothingAndEndsNormally)
{
    TempDir dir;
    dir.write("Painting.bmp", samplePicture());
    const Finished run = runToEnd(VIEWER_PATH, dir.path());
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.errors, "");
}

}  // namespace
