// The real program interrupted and mistreated: signals while it asks the terminal, paints or
// waits, a stop from the keyboard and a continue, terminals that answer garbage, too much, a
// byte at a time, too late or with absurd sizes, and a window that goes away. Each run ends
// in a defined way, with the terminal in the modes it started in, the cursor visible, nothing
// left open, and no reply text left for the shell.
#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "bitmap_bytes.h"
#include "image_screen.h"
#include "pty_session.h"
#include "scripted_terminals.h"
#include "screen_model.h"
#include "temp_dir.h"

namespace {

using namespace std::chrono_literals;

std::string samplePicture()
{
    std::ifstream in(SAMPLE_PICTURE_PATH, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool sameModes(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag;
}

// The sample picture in half blocks on a 200 x 60 window, exactly, with nothing else written.
bool showsSample(const std::string& output)
{
    ScreenModel screen(200, 60);
    screen.feed(output);
    return screen.differences(expectedScreen(samplePicture(), 200, 60)).empty() &&
           screen.problems().empty();
}

TEST(Interruption, ASignalWhileTheTerminalIsAskedRestoresItsModes)
{
    // A terminal that never answers: the program is asking for a quarter of a second. A stop
    // hands the terminal back and takes the asking modes again on the way back (the kernel
    // does not stop this orphaned process; see the shell test below), and the run goes on.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) {
        SCOPED_TRACE(strsignal(signal));
        TempDir dir;
        dir.write("Painting.bmp", samplePicture());
        PtySession session(200, 60);
        session.answerWith(nullptr);
        const termios before = session.modes();
        session.start(VIEWER_PATH, dir.path());
        ASSERT_TRUE(session.readUntil([](const std::string& out) { return !out.empty(); }, 10s));
        std::this_thread::sleep_for(50ms);
        session.signal(signal);
        if (signal == SIGTSTP) {
            EXPECT_TRUE(session.readUntil(showsSample, 10s));
            session.type("\n");
        }
        ASSERT_TRUE(session.waitForExit(10s));
        if (signal == SIGTSTP)
            EXPECT_TRUE(WIFEXITED(session.status()) && WEXITSTATUS(session.status()) == 0);
        else
            EXPECT_TRUE(WIFSIGNALED(session.status()) && WTERMSIG(session.status()) == signal);
        EXPECT_TRUE(sameModes(before, session.modes()));
    }
}

TEST(Interruption, AStopMidPaintEndsThePresentationAndTheContinueShowsItAllAgain)
{
    // The program runs as its own session here, so the stop signal's handler runs but the
    // kernel does not stop an orphaned process: what the stop did to the terminal, and the
    // painting after it, show all the same. (The real stop and fg: the next test.)
    TempDir dir;
    dir.write("Painting.bmp", patternBitmap(1000, 500));
    PtySession session(1020, 300);
    const termios before = session.modes();
    session.start(VIEWER_PATH, dir.path());
    ASSERT_TRUE(session.readUntil([](const std::string& out) { return out.size() > 5000; }, 10s));
    std::this_thread::sleep_for(100ms);  // the program is caught writing
    session.signal(SIGTSTP);
    const std::vector<std::uint32_t> want = expectedScreen(patternBitmap(1000, 500), 1020, 300);
    ScreenModel screen(1020, 300);
    std::size_t fed = 0;
    bool shown = false;
    auto complete = [&](const std::string& out) {
        if (out.size() != fed) {
            screen.feed(out.substr(fed));  // megabytes: fed as they come
            fed = out.size();
            // Compared between presentations only (the cursor is hidden during one): a whole
            // screen compared after every read of a few KB costs minutes under sanitizers.
            shown = screen.cursorVisible() && !screen.insideSequence() &&
                    screen.differences(want).empty();
        }
        return shown;
    };
    EXPECT_TRUE(session.readUntil(complete, 60s)) << screen.differences(want);  // 9 MB, sanitized, loaded
    session.type("\n");
    ASSERT_TRUE(session.waitForExit(10s));
    EXPECT_TRUE(WIFEXITED(session.status()) && WEXITSTATUS(session.status()) == 0);
    EXPECT_TRUE(sameModes(before, session.modes()));
    screen.feed(session.output().substr(fed));
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
    EXPECT_TRUE(screen.cursorVisible());
}

TEST(Interruption, CtrlZInAShellStopsTheProgramWithTheTerminalUsableAndFgFinishesIt)
{
#ifdef VIEWER_THREAD_SANITIZED
    // ThreadSanitizer runs the program's signal handlers late, at points of its own choosing;
    // under it the stop from inside the handler never came through here.
    GTEST_SKIP() << "built with ThreadSanitizer";
#endif
    TempDir dir;
    dir.write("Painting.bmp", patternBitmap(600, 200));
    dir.write("viewer-path", VIEWER_PATH);
    PtySession session(200, 60);
    session.answerWith(nullptr);  // let the shell's own questions go unanswered, as ours
    session.start("bash", dir.path(), PtySession::Input::terminal,
                  {"--norc", "--noprofile", "-i"}, PtySession::Output::terminal);
    auto saw = [&](const std::string& text, std::chrono::milliseconds limit = 10s) {
        return session.readUntil(
            [&](const std::string& out) { return out.find(text) != std::string::npos; }, limit);
    };
    session.type(std::string("PS1='$ '; clear; ") + VIEWER_PATH + "\n");
    ASSERT_TRUE(saw("\x1b" "7" "\x1b[?25l")) << session.output();  // painting has begun

    session.type("\x1a");  // Ctrl-Z
    ASSERT_TRUE(saw("Stopped")) << session.output();
    const std::size_t stoppedAt = session.output().find("Stopped");
    ScreenModel atStop(200, 60);
    atStop.feed(session.output().substr(0, stoppedAt));
    EXPECT_FALSE(atStop.insideSequence()) << "a sequence left open at the stop";
    EXPECT_TRUE(atStop.cursorVisible());
    EXPECT_TRUE(atStop.coloursDefault());

    session.type("fg\n");
    // Painted whole after the continue: every cell of the picture's rows 5 and on (the shell's
    // lines stay above it).
    const std::vector<std::uint32_t> want = expectedScreen(patternBitmap(600, 200), 200, 60);
    auto pictureShown = [&](const std::string& out) {
        // A presentation begun and ended after the continue, and the picture whole.
        const std::size_t again = out.find("\x1b" "7" "\x1b[?25l", stoppedAt);
        if (again == std::string::npos ||
            out.find("\x1b" "8" "\x1b[?25h", again) == std::string::npos)
            return false;
        ScreenModel screen(200, 60);
        screen.feed(out);
        for (int y = 10; y < 120; ++y)
            for (int x = 0; x < 200; ++x)
                if (screen.pixel(x, y) != want[std::size_t(y) * 200 + std::size_t(x)])
                    return false;
        return true;
    };
    EXPECT_TRUE(session.readUntil(pictureShown, 20s));
    const std::size_t continued = session.output().size();
    session.type("\n");
    ASSERT_TRUE(session.readUntil(
        [&](const std::string& out) { return out.find("$ ", continued) != std::string::npos; },
        10s));  // the shell's prompt: the program has ended
    session.type("echo done $?\n");
    EXPECT_TRUE(saw("done 0"));
    session.type("exit\n");
    EXPECT_TRUE(session.waitForExit(10s));
}

// What a terminal answers to the program's questions, and when.
enum class Replies { garbage, endless, byteByByte, late };

TEST(HostileTerminal, RepliesThatAreGarbageEndlessSlowOrLateEndInADefinedWay)
{
    for (const Replies replies : {Replies::garbage, Replies::endless, Replies::byteByByte,
                                  Replies::late}) {
        SCOPED_TRACE(int(replies));
        TempDir dir;
        dir.write("Painting.bmp", samplePicture());
        PtySession session(200, 60, 1600, 1020);
        const termios before = session.modes();
        if (replies == Replies::garbage)
            session.answerWith([](const std::string& piece) {
                return piece.find("\x1b[c") != std::string::npos ? "\x1b[?xyz\x01\x1b_Gi=4242;OK" : "";
            });
        else if (replies == Replies::byteByByte)
            session.answerWith(kittyTerminal), session.answerByteByByte();
        else
            session.answerWith(nullptr);
        session.start(VIEWER_PATH, dir.path());

        if (replies == Replies::endless) {
            // From the moment the questions are out (before, the terminal's own echo is on).
            ASSERT_TRUE(session.readUntil(
                [](const std::string& out) { return out.find("\x1b[c") != std::string::npos; },
                10s));
            const std::string junk(4096, 'x');
            for (const auto end = std::chrono::steady_clock::now() + 600ms;
                 std::chrono::steady_clock::now() < end;) {
                session.typeSome("\x1b[?62;22");
                session.typeSome(junk);
                session.readUntil([](const std::string&) { return false; }, 5ms);
            }
        } else if (replies == Replies::late) {
            // Well after the viewer stopped waiting (230 ms in an ordinary build).
            std::this_thread::sleep_for(std::chrono::milliseconds(VIEWER_PROBE_LIMIT_MS + 170));
            session.type("\x1b_Gi=4242;OK\x1b\\\x1b[?62;c");
        }

        if (replies == Replies::byteByByte) {
            auto complete = [](const std::string& out) {
                ImageScreen screen(200, 60, 8, 17);
                screen.feed(out);
                return out.find("a=T") != std::string::npos && !screen.insideSequence();
            };
            EXPECT_TRUE(session.readUntil(complete, 10s)) << "kitty, found a byte at a time";
        } else {
            EXPECT_TRUE(session.readUntil(showsSample, 10s)) << [&] {
                ScreenModel screen(200, 60);
                screen.feed(session.output());
                return "half blocks, and nothing else: " +
                       screen.differences(expectedScreen(samplePicture(), 200, 60)) +
                       (screen.problems().empty() ? "" : screen.problems()[0]);
            }();
        }
        session.type("\n");
        ASSERT_TRUE(session.waitForExit(10s));
        EXPECT_TRUE(WIFEXITED(session.status()) && WEXITSTATUS(session.status()) == 0);
        EXPECT_TRUE(sameModes(before, session.modes()));
        EXPECT_EQ(session.pendingInput(), 0) << "reply text left for the shell";
        EXPECT_EQ(session.standardOutput(), "");
        EXPECT_EQ(session.standardError(), "");
    }
}

TEST(HostileTerminal, AbsurdSizesStillGiveARunThatEnds)
{
    const struct {
        int columns, rows, width, height;
        const char* cell;  // what the terminal says a cell is, in reply to 16t
    } windows[] = {
        {1, 1, 1, 1, ""},                 // one cell of one pixel
        {0, 0, 0, 0, ""},                 // no size at all
        {100, 40, 65535, 65535, ""},      // cells of 655 x 1638 pixels
        {100, 40, 0, 0, "\x1b[6;5000;5000t"},  // cells larger than any window
        {100, 40, 0, 0, "\x1b[6;0;0t\x1b[4;-5;100000t"},
    };
    for (const auto& w : windows) {
        SCOPED_TRACE(std::to_string(w.columns) + " x " + std::to_string(w.rows) + ", " +
                     std::to_string(w.width) + " x " + std::to_string(w.height));
        TempDir dir;
        dir.write("Painting.bmp", samplePicture());
        PtySession session(w.columns, w.rows, w.width, w.height);
        const std::string cell = w.cell;
        session.answerWith([cell](const std::string& piece) {
            const std::string kitty = kittyTerminal(piece);
            return kitty.empty() ? kitty : cell + kitty;
        });
        const termios before = session.modes();
        session.start(VIEWER_PATH, dir.path());
        // Enter, again until the run ends: an Enter that comes while the terminal is still
        // being asked (a loaded machine) is taken for part of a reply, as a user's would be.
        bool ended = false;
        for (int attempt = 0; attempt < 20 && !ended; ++attempt) {
            session.type("\n");
            ended = session.waitForExit(500ms);
        }
        ASSERT_TRUE(ended);
        EXPECT_TRUE(WIFEXITED(session.status()) && WEXITSTATUS(session.status()) == 0);
        EXPECT_TRUE(sameModes(before, session.modes()));
        EXPECT_EQ(session.standardError(), "");
    }
}

TEST(HostileTerminal, AWindowThatGoesAwayMidPaintEndsTheRun)
{
    for (const bool hangUpIgnored : {false, true}) {
        SCOPED_TRACE(hangUpIgnored ? "SIGHUP ignored" : "SIGHUP");
        TempDir dir;
        dir.write("Painting.bmp", patternBitmap(1000, 500));
        PtySession session(1020, 300);
        if (hangUpIgnored)
            session.start("sh", dir.path(), PtySession::Input::terminal,
                          {"-c", std::string("trap '' HUP; exec ") + VIEWER_PATH});
        else
            session.start(VIEWER_PATH, dir.path());
        ASSERT_TRUE(
            session.readUntil([](const std::string& out) { return out.size() > 5000; }, 10s));
        session.hangUp();
        ASSERT_TRUE(session.waitForExit(10s)) << "the program went on without its window";
        if (hangUpIgnored)
            EXPECT_TRUE(WIFEXITED(session.status()) && WEXITSTATUS(session.status()) == 0);
        else
            EXPECT_TRUE(WIFSIGNALED(session.status()) && WTERMSIG(session.status()) == SIGHUP);
    }
}

}  // namespace

namespace {

// Memcheck over whole runs: every canvas, and the files that end the run early. Not where the
// program is built with sanitizers (they and valgrind do not mix), nor without valgrind.
TEST(Memcheck, RunsLeakNothingAndReadNothingUnset)
{
#ifdef VIEWER_SANITIZED
    GTEST_SKIP() << "built with sanitizers";
#endif
    if (std::system("valgrind --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "valgrind is not installed";
    LocalKittyTerminal localKitty;
    const struct {
        const char* name;
        PtySession::Responder terminal;
        std::string file;
    } runs[] = {
        {"text cells", PtySession::plainTerminal, samplePicture()},
        {"kitty", kittyTerminal, samplePicture()},
        {"kitty on this machine", localKitty.responder(), samplePicture()},
        {"sixel", sixelTerminal, samplePicture()},
        {"a file cut short", PtySession::plainTerminal, samplePicture().substr(0, 3000)},
        {"a header cut short", PtySession::plainTerminal, samplePicture().substr(0, 40)},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.name);
        TempDir dir;
        dir.write("Painting.bmp", run.file);
        PtySession session(100, 40, 800, 680);
        session.answerWith(run.terminal);
        session.start("valgrind", dir.path(), PtySession::Input::empty,
                      {"--quiet", "--error-exitcode=99", "--leak-check=full",
                       "--errors-for-leak-kinds=definite,indirect",
                       "--log-file=" + dir.path() + "/memcheck.log", VIEWER_PATH});
        ASSERT_TRUE(session.waitForExit(60s));
        std::ifstream log(dir.path() + "/memcheck.log");
        const std::string report((std::istreambuf_iterator<char>(log)),
                                 std::istreambuf_iterator<char>());
        EXPECT_TRUE(WIFEXITED(session.status()) && WEXITSTATUS(session.status()) != 99) << report;
        EXPECT_EQ(report, "");
    }
}

}  // namespace
