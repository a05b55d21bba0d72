// The real program on pseudo-terminals that answer like graphics terminals (kitty, xterm with
// sixel) or not at all: the picture lands at 1:1, its first pixel 10 screen pixels right of and
// below the text area's corner, as the terminal would draw it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <signal.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "bitmap_bytes.h"
#include "child_process.h"
#include "image_screen.h"
#include "pty_session.h"
#include "scripted_terminals.h"
#include "screen_model.h"
#include "temp_dir.h"

namespace {

using namespace std::chrono_literals;

constexpr int columns = 100, rows = 40, cellWidth = 8, cellHeight = 17;

std::string samplePicture()
{
    std::ifstream in(SAMPLE_PICTURE_PATH, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// What the screen should show: the picture's pixels from (10, 10), as `shown` turns colours
// into what the terminal can display; only rows that the canvas may draw on.
std::string differences(const ImageScreen& screen, const std::string& picture, int shownHeight,
                        std::uint32_t (*shown)(std::uint32_t))
{
    std::vector<std::uint32_t> want(std::size_t(screen.width()) * std::size_t(screen.height()), 0);
    for (const PaintedPixel& p : expectedPixels(picture))
        if (p.x < screen.width() && p.y < shownHeight)
            want[std::size_t(p.y) * std::size_t(screen.width()) + std::size_t(p.x)] =
                0x01000000 | shown(p.colour);
    int wrong = 0;
    std::string first;
    for (int y = 0; y < shownHeight; ++y)
        for (int x = 0; x < screen.width(); ++x)
            if (screen.pixel(x, y) != want[std::size_t(y) * std::size_t(screen.width()) + std::size_t(x)]) {
                if (wrong++ == 0)
                    first = "first at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
            }
    return wrong == 0 ? "" : std::to_string(wrong) + " pixels differ, " + first;
}

std::uint32_t exact(std::uint32_t colour)
{
    return colour;
}

struct Window {
    int columns, rows, cellWidth, cellHeight;
};
constexpr Window usual{columns, rows, cellWidth, cellHeight};

// Where the terminal is and how it differs from the usual one.
struct Setting {
    std::string term = "xterm-256color";
    bool ssh = false;                    // in an ssh session
    std::chrono::milliseconds delay{0};  // each answer that late
    // Its own colour registers, and the most it takes, checked on the screen: never one past
    // those in force, and its own number in force at the end (0: not checked).
    int registers = 0, settableTo = 0;
};

// Starts the viewer in `dir`, answered by `terminal` as `setting` says.
void startViewer(PtySession& session, PtySession::Responder terminal, const TempDir& dir,
                 const Setting& setting)
{
    session.answerWith(std::move(terminal));
    session.answerAfter(setting.delay);
    session.setEnvironment("TERM", setting.term);
    if (setting.ssh)
        session.setEnvironment("SSH_CONNECTION", "10.0.0.2 52114 10.0.0.1 22");
    session.start(VIEWER_PATH, dir.path());
}

// Runs the viewer on the picture (the sample, unless given) until the screen shows it as
// `shown` allows (checked on the rows above `shownHeight`), then presses Enter; returns all
// the terminal got.
std::string runOnGraphicsTerminal(PtySession::Responder terminal,
                                  std::uint32_t (*shown)(std::uint32_t), int shownHeight,
                                  ImageScreen::ObjectReader objects = ImageScreen::readFromFileSystem,
                                  const Window& window = usual,
                                  const std::string& picture = samplePicture(),
                                  const Setting& setting = {})
{
    TempDir dir;
    dir.write("Painting.bmp", picture);
    PtySession session(window.columns, window.rows, window.columns * window.cellWidth,
                       window.rows * window.cellHeight);
    startViewer(session, std::move(terminal), dir, setting);

    auto screenOf = [&](const std::string& out) {
        ImageScreen screen(window.columns, window.rows, window.cellWidth, window.cellHeight);
        screen.readObjectsWith(objects);
        screen.setColourRegisters(setting.registers, setting.settableTo);
        screen.feed(out);
        return screen;
    };
    // Fed as the output comes, and compared only where a presentation has ended: a screen
    // decoded whole after every read costs minutes under ThreadSanitizer.
    ImageScreen live = screenOf("");
    std::size_t fed = 0;
    const std::string presentationEnd = "\x1b" "8" "\x1b[?25h";
    auto complete = [&](const std::string& out) {
        live.feed(out.substr(fed));
        fed = out.size();
        return out.size() >= presentationEnd.size() &&
               out.compare(out.size() - presentationEnd.size(), std::string::npos,
                           presentationEnd) == 0 &&
               !live.insideSequence() && differences(live, picture, shownHeight, shown).empty();
    };
    const bool shownInTime = session.readUntil(complete, 10s);
    const ImageScreen screen = screenOf(session.output());
    EXPECT_TRUE(shownInTime) << differences(screen, picture, shownHeight, shown);
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
    EXPECT_TRUE(screen.cursorVisible());
    EXPECT_EQ(screen.cursorRow(), 0);
    EXPECT_EQ(screen.cursorColumn(), 0);

    // Enter, once every answer is out (a user is slower than any link).
    session.readUntil([&](const std::string&) { return !session.repliesPending(); }, 10s);
    const std::size_t beforeEnter = session.output().size();
    session.type("\n");
    EXPECT_TRUE(session.waitForExit(10s));
    EXPECT_TRUE(WIFEXITED(session.status()) && WEXITSTATUS(session.status()) == 0);
    EXPECT_EQ(session.pendingInput(), 0) << "answers left for the shell";
    EXPECT_EQ(session.standardOutput(), "");
    EXPECT_EQ(session.standardError(), "");
    EXPECT_EQ(objectsLeftBy(session.pid()), std::vector<std::string>{});
    // Afterwards the terminal got the echo of Enter, and where colour registers were set, the
    // setting back: nothing else.
    if (setting.registers > 0) {
        std::string after = session.output().substr(beforeEnter);
        const std::size_t enter = after.find("\r\n");
        if (enter != std::string::npos)
            after.erase(enter, 2);
        const ImageScreen end = screenOf(session.output().substr(0, beforeEnter) + after);
        EXPECT_EQ(end.problems(), std::vector<std::string>{});
        EXPECT_EQ(end.colourRegisters(), setting.registers) << "the terminal's own number back";
    }
    return session.output();
}

// The same where the terminal is expected to get text cells: the picture in half blocks and
// nothing else on the screen.
std::string runOnTextTerminal(PtySession::Responder terminal, const std::string& picture,
                              const Setting& setting)
{
    TempDir dir;
    dir.write("Painting.bmp", picture);
    PtySession session(columns, rows, columns * cellWidth, rows * cellHeight);
    startViewer(session, std::move(terminal), dir, setting);
    const std::vector<std::uint32_t> want = expectedScreen(picture, columns, rows);
    auto screenOf = [&](const std::string& out) {
        ScreenModel screen(columns, rows);
        screen.feed(out);
        return screen;
    };
    EXPECT_TRUE(session.readUntil(
        [&](const std::string& out) { return screenOf(out).differences(want).empty(); }, 10s))
        << screenOf(session.output()).differences(want);
    session.readUntil([&](const std::string&) { return !session.repliesPending(); }, 10s);
    session.type("\n");
    EXPECT_TRUE(session.waitForExit(10s));
    EXPECT_TRUE(WIFEXITED(session.status()) && WEXITSTATUS(session.status()) == 0);
    EXPECT_EQ(session.pendingInput(), 0) << "answers left for the shell";
    EXPECT_EQ(screenOf(session.output()).problems(), std::vector<std::string>{});
    return session.output();
}

// What came after the questions: the painting.
std::string painting(const std::string& output)
{
    const std::size_t start = output.find("\x1b" "7" "\x1b[?25l");
    return start == std::string::npos ? "" : output.substr(start);
}

TEST(ViewerOnGraphicsTerminals, KittyElsewhereGetsThePictureThroughTheTerminalPixelExact)
{
    const std::string output =
        painting(runOnGraphicsTerminal(kittyTerminal, exact, rows * cellHeight));
    EXPECT_EQ(output.find("t=s"), std::string::npos);
    EXPECT_EQ(output.find("t=t"), std::string::npos);
}

TEST(ViewerOnGraphicsTerminals, KittyOnThisMachineReadsThePictureFromSharedMemory)
{
    LocalKittyTerminal kitty;
    const std::string output =
        painting(runOnGraphicsTerminal(kitty.responder(), exact, rows * cellHeight, kitty.reader()));
    EXPECT_NE(output.find(",t=s,"), std::string::npos);
    EXPECT_LT(output.size(), 1000u);
    EXPECT_GE(kitty.objectsTaken(), 2);  // the question's and at least one image's
}

TEST(ViewerOnGraphicsTerminals, WithoutSharedMemoryTemporaryFilesCarryThePicture)
{
    LocalKittyTerminal kitty(LocalKittyTerminal::Reads::filesOnly);
    const std::string output =
        painting(runOnGraphicsTerminal(kitty.responder(), exact, rows * cellHeight, kitty.reader()));
    EXPECT_NE(output.find(",t=t,"), std::string::npos);
    EXPECT_EQ(output.find(",t=s,"), std::string::npos);
    EXPECT_LT(output.size(), 1000u);
}

TEST(ViewerOnGraphicsTerminals, ObjectsATerminalNeverTakesAreRemovedAtTheEnd)
{
    // The screen model reads them where they lie, as long as they are there: only what the
    // viewer leaves behind after it ended counts here.
    LocalKittyTerminal kitty(LocalKittyTerminal::Reads::queriesOnly);
    runOnGraphicsTerminal(kitty.responder(), exact, rows * cellHeight);
}

TEST(ViewerOnGraphicsTerminals, ASignalLeavesNoObjectBehind)
{
    // A terminal that never takes the objects: they are all still there when the signal comes,
    // at the first look, during the painting, or while the viewer waits.
    TempDir dir;
    dir.write("Painting.bmp", patternBitmap(790, 660));
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(strsignal(signal));
        LocalKittyTerminal kitty(LocalKittyTerminal::Reads::queriesOnly);
        PtySession session(columns, rows, columns * cellWidth, rows * cellHeight);
        session.answerWith(kitty.responder());
        session.start(VIEWER_PATH, dir.path());
        session.readUntil([](const std::string& out) { return out.find("a=T,t=s,") != std::string::npos; },
                          10s);
        session.signal(signal);
        ASSERT_TRUE(session.waitForExit(10s));
        EXPECT_TRUE(WIFSIGNALED(session.status()) && WTERMSIG(session.status()) == signal);
        EXPECT_EQ(objectsLeftBy(session.pid()), std::vector<std::string>{});
        ImageScreen screen(columns, rows, cellWidth, cellHeight);
        screen.feed(session.output());
        EXPECT_FALSE(screen.insideSequence());
        EXPECT_TRUE(screen.cursorVisible());
    }
}

TEST(ViewerOnGraphicsTerminals, SixelShowsThePictureAsItsColoursAllow)
{
    // Not in the last text row: an image there would scroll a sixel terminal.
    runOnGraphicsTerminal(sixelTerminal, ImageScreen::throughPercent, (rows - 1) * cellHeight);
}

TEST(ViewerOnGraphicsTerminals, SixelShowsEveryRowAboveTheLastOfAPictureAsTallAsTheWindow)
{
    // Whatever the cell's height, the six-pixel bands of sixel images cost no row: every pixel
    // above the last text row is shown, and nothing reaches that row.
    for (const int height : {16, 17, 18, 20}) {
        SCOPED_TRACE("cells 8 x " + std::to_string(height));
        const Window window{60, 15, 8, height};
        runOnGraphicsTerminal(sixelTerminal, ImageScreen::throughPercent,
                              (window.rows - 1) * height, ImageScreen::readFromFileSystem, window,
                              fewColourBitmap(400, window.rows * height, 600));
    }
}

TEST(ViewerOnGraphicsTerminals, SmallSixelPicturesAreTheirImagesAndNothingElse)
{
    // Pictures of one text row (one piece a look) and of two: each presentation is its
    // prologue, images each at its cell, and its epilogue; every pixel shows.
    auto presentations = [](const std::string& out) {
        std::size_t at = 0;
        auto take = [&](const std::string& text) {
            const bool there = out.compare(at, text.size(), text) == 0;
            at += there ? text.size() : 0;
            return there;
        };
        auto digits = [&] {
            const std::size_t from = at;
            while (at < out.size() && std::isdigit((unsigned char)out[at]))
                ++at;
            return at > from;
        };
        while (at < out.size() && out.compare(at, std::string::npos, "\r\n") != 0) {
            if (!take("\x1b" "7\x1b[?25l\x1b[0m"))
                return "no prologue at byte " + std::to_string(at);
            do {  // the cursor placed, then an image of nothing but printable bytes
                if (!take("\x1b[") || !digits() || !take(";") || !digits() || !take("H\x1bP"))
                    return "no image at byte " + std::to_string(at);
                while (at < out.size() && out[at] >= ' ' && out[at] <= '~')
                    ++at;
                if (!take("\x1b\\"))
                    return "an image not ended at byte " + std::to_string(at);
            } while (!take("\x1b[0m\x1b" "8\x1b[?25h"));
        }
        return std::string();
    };
    const struct {
        int width, height, registers;
        Window window;
    } cases[] = {
        {1, 1, 256, {30, 8, 10, 20}},
        {2, 3, 16, {30, 8, 9, 18}},
        {17, 9, 16, {30, 8, 10, 20}},
        {17, 9, 256, {30, 8, 9, 18}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + ", " +
                     std::to_string(c.registers) + " registers");
        const std::string output = painting(runOnGraphicsTerminal(
            sixelTerminalWith(c.registers), ImageScreen::throughPercent,
            (c.window.rows - 1) * c.window.cellHeight, ImageScreen::readFromFileSystem, c.window,
            fewColourBitmap(c.width, c.height, std::min(c.registers, c.width * c.height))));
        EXPECT_EQ(presentations(output), "");
    }
}

TEST(ViewerOnGraphicsTerminals, SixelTerminalsGetTheirMostRegistersAndTheirOwnNumberBack)
{
    // A picture of 308 colours in each text row: exact only with more than 256 registers.
    const Window wide{120, 12, 8, 17};
    const struct {
        const char* terminal;
        int registers, maximum;
        bool refuses;
        int colours, wanted;  // the picture's; the registers asked for (0: none)
    } terminals[] = {
        {"xterm.js", 256, 4096, false, 4096, 4096},
        {"xterm set low", 16, 1024, false, 4096, 1024},
        {"WezTerm", 256, 65536, false, 4096, 4096},
        {"xterm at its maximum", 1024, 1024, false, 4096, 0},
        {"a terminal that refuses", 256, 4096, true, 200, 4096},
    };
    for (const auto& t : terminals) {
        SCOPED_TRACE(t.terminal);
        auto now = std::make_shared<int>();
        Setting setting;
        setting.registers = t.registers;
        setting.settableTo = t.refuses ? t.registers : t.maximum;
        const std::string output = runOnGraphicsTerminal(
            sixelTerminalWith(t.registers, t.maximum, t.refuses, now), ImageScreen::throughPercent,
            (wide.rows - 1) * wide.cellHeight, ImageScreen::readFromFileSystem, wide,
            fewColourBitmap(900, 150, t.colours), setting);
        const std::string set = "\x1b[?1;3;" + std::to_string(t.wanted) + "S";
        const std::string back = "\x1b[?1;3;" + std::to_string(t.registers) + "S";
        EXPECT_EQ(output.find("\x1b[?1;3;") != std::string::npos, t.wanted > 0);
        if (t.wanted > 0 && !t.refuses) {
            EXPECT_LT(output.find(set), output.find("\x1bP")) << "set before the first image";
            EXPECT_GT(output.find(back), output.rfind("\x1bP")) << "set back after the last";
        }
        EXPECT_EQ(*now, t.registers);
    }
}

TEST(ViewerOnGraphicsTerminals, TheTerminalsOwnNumberOfRegistersComesBackOnEveryWayOut)
{
    // Caught while painting: a signal that ends the run, or a stop (the handler's own, as the
    // kernel does not stop this orphaned process), which sets the number back for the time the
    // program is stopped and then sets it again. No answer to a setting is left as input.
    TempDir dir;
    dir.write("Painting.bmp", fewColourBitmap(780, 600, 4096));
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) {
        SCOPED_TRACE(strsignal(signal));
#ifdef VIEWER_THREAD_SANITIZED
        // ThreadSanitizer runs the program's signal handlers late, at points of its own
        // choosing: under it the stop's handler was seen not to run at all within 10 s.
        if (signal == SIGTSTP)
            continue;
#endif
        auto now = std::make_shared<int>();
        PtySession session(columns, rows, columns * cellWidth, rows * cellHeight);
        session.answerWith(sixelTerminalWith(256, 4096, false, now));
        session.start(VIEWER_PATH, dir.path());
        ASSERT_TRUE(session.readUntil(
            [](const std::string& out) { return out.find("\x1bP") != std::string::npos; }, 10s));
        session.signal(signal);
        if (signal == SIGTSTP) {
            // Enter once the setting again has been answered (a key typed before would be
            // taken with the answer).
            EXPECT_TRUE(session.readUntil(
                [&](const std::string& out) {
                    const std::size_t back = out.find("\x1b[?1;3;256S\x1b[c");
                    return back != std::string::npos &&
                           out.find("\x1b[?1;3;4096S\x1b[c", back) != std::string::npos;
                },
                10s)) << "set back while stopped, and again after";
            EXPECT_EQ(*now, 4096);
            session.type("\n");
        }
        ASSERT_TRUE(session.waitForExit(10s));
        EXPECT_EQ(WIFSIGNALED(session.status()), signal != SIGTSTP);
        EXPECT_EQ(*now, 256);
        EXPECT_EQ(session.pendingInput(), 0) << "an answer left for the shell";
        ImageScreen screen(columns, rows, cellWidth, cellHeight);
        screen.setColourRegisters(256, 4096);
        screen.feed(session.output());
        EXPECT_EQ(screen.colourRegisters(), 256);
        EXPECT_FALSE(screen.insideSequence());
    }
}

TEST(ViewerOnGraphicsTerminals, AnswersThatComeLateGetWhatTheWaitAllows)
{
    // An answer takes a round trip: the viewer waits up to VIEWER_PROBE_LIMIT_MS for each write
    // (230 ms), in an ssh session VIEWER_REMOTE_PROBE_LIMIT_MS (2 s). A terminal whose TERM says
    // it reads the kitty questions is asked everything in one write, any other in two. Whatever
    // it gets, nothing shows but the picture and no answer is left for the shell; one that
    // comes twice ends nothing early. A case whose answers would come within 200 ms before the
    // limit is not judged: a loaded machine can answer that much later than scripted (answers
    // never come earlier).
    const std::string picture = fewColourBitmap(300, 60, 200);
    const struct {
        const char* terminal;
        const char* term;
        std::function<PtySession::Responder()> make;
        bool secondWrite;
        const char* draws;
        std::uint32_t (*shown)(std::uint32_t);
    } terminals[] = {
        {"kitty elsewhere", "xterm-256color", [] { return PtySession::Responder(kittyTerminal); },
         true, "\x1b_Ga=T", exact},
        {"kitty elsewhere, by its TERM", "xterm-kitty",
         [] { return PtySession::Responder(kittyTerminal); }, false, "\x1b_Ga=T", exact},
        {"xterm.js", "xterm-256color", [] { return sixelTerminalWith(256, 4096); }, true, "\x1bP",
         ImageScreen::throughPercent},
        {"kitty repeating its first DA1", "xterm-256color",
         [] { return repeatingFirstFence(kittyTerminal); }, true, "\x1b_Ga=T", exact},
        {"xterm.js repeating its first DA1", "xterm-256color",
         [] { return repeatingFirstFence(sixelTerminalWith(256, 4096)); }, true, "\x1bP",
         ImageScreen::throughPercent},
    };
    for (const auto& t : terminals)
        for (const bool ssh : {false, true})
            for (const int delay : {0, 150, 300, 500}) {
                const bool repeats = std::strstr(t.terminal, "repeating") != nullptr;
                const int limit = ssh ? VIEWER_REMOTE_PROBE_LIMIT_MS : VIEWER_PROBE_LIMIT_MS;
                const bool drawn = delay < limit;
                if ((delay == 0) != repeats || (drawn && delay > limit - 200))
                    continue;
                SCOPED_TRACE(std::string(t.terminal) + (ssh ? ", over ssh, " : ", here, ") +
                             std::to_string(delay) + " ms late");
                Setting setting;
                setting.term = t.term, setting.ssh = ssh;
                setting.delay = std::chrono::milliseconds(delay);
                const std::string output =
                    drawn ? runOnGraphicsTerminal(t.make(), t.shown,
                                                  (rows - 1) * cellHeight,
                                                  ImageScreen::readFromFileSystem, usual, picture,
                                                  setting)
                          : runOnTextTerminal(t.make(), picture, setting);
                EXPECT_EQ(output.find(t.draws) != std::string::npos, drawn);
                if (drawn) {
                    EXPECT_EQ(output.find("\x1b[5n") != std::string::npos, t.secondWrite);
                }
            }
}

TEST(ViewerOnGraphicsTerminals, ASilentTerminalGetsHalfBlocksAndTheRunStillEnds)
{
    const std::string picture = samplePicture();
    TempDir dir;
    dir.write("Painting.bmp", picture);
    PtySession session(columns, rows, columns * cellWidth, rows * cellHeight);
    session.answerWith(nullptr);
    session.start(VIEWER_PATH, dir.path());
    const std::vector<std::uint32_t> want = expectedScreen(picture, columns, rows);
    auto complete = [&](const std::string& out) {
        ScreenModel screen(columns, rows);
        screen.feed(out);
        return screen.differences(want).empty();
    };
    EXPECT_TRUE(session.readUntil(complete, 10s));
    session.type("x\n");
    ASSERT_TRUE(session.waitForExit(10s));
    EXPECT_TRUE(WIFEXITED(session.status()) && WEXITSTATUS(session.status()) == 0);
}

// The Windows program in a pseudo-console, as Windows Terminal and VS Code host it: run under
// wine by the cross build's pseudo_console_host, through the command PSEUDO_CONSOLE_HOST names
// (tests/pseudo_console_host_under_emulator there). Skipped where it is not given.
const char* pseudoConsoleHost()
{
    const char* host = std::getenv("PSEUDO_CONSOLE_HOST");
    return host && *host ? host : nullptr;
}

// Wine's pseudo-console does not pass a program's output through: it keeps every byte as a
// cell of its screen, escape sequences included, and sends its terminal the cells that
// changed, each change between the cursor hidden and shown again; a change that starts its
// row anew begins with a carriage return, and one that ends in blanks ends instead in an
// erase to the end of the line and a step over them. The host's screen is wider than anything
// the viewer writes, so that one row, rebuilt from the changes, is the viewer's output.
std::string throughWine(const std::string& sent)
{
    const std::string start = "\x1b[2J\x1b[m\x1b[H\x1b[?25l", between = "\x1b[?25h\x1b[?25l";
    if (sent.compare(0, start.size(), start) != 0)
        return "";
    std::string row;
    std::size_t at = 0;
    for (std::size_t from = start.size(); from < sent.size();) {
        const std::size_t end = std::min(sent.find(between, from), sent.size());
        std::string change = sent.substr(from, end - from);
        if (!change.empty() && change[0] == '\r')
            change.erase(0, 1), at = 0;
        const std::size_t erase = change.rfind("\x1b[K\x1b[");
        if (erase != std::string::npos && change.back() == 'C' &&
            change.find_first_not_of("0123456789", erase + 5) == change.size() - 1)
            change.replace(erase, std::string::npos,
                           std::string(std::size_t(std::atoi(&change[erase + 5])), ' '));
        row.resize(std::max(row.size(), at + change.size()));
        row.replace(at, change.size(), change);
        at += change.size();
        from = end + between.size();
    }
    // After the last change: the cursor shown, a line feed (the Enter echoed), the rest of the
    // row cleared, the cursor placed.
    for (bool more = true; more;) {
        more = false;
        for (const char* tail : {"\x1b[?25h", "\r\n", "\x1b[K"})
            if (row.size() >= std::strlen(tail) &&
                row.compare(row.size() - std::strlen(tail), std::string::npos, tail) == 0)
                row.resize(row.size() - std::strlen(tail)), more = true;
        const std::size_t csi = row.rfind("\x1b[");
        if (csi != std::string::npos && row.back() == 'H' &&
            row.find_first_not_of("0123456789;", csi + 2) == row.size() - 1)
            row.resize(csi), more = true;
    }
    return row;
}

// Runs viewer.exe on the sample picture in a pseudo-console of 32767 x 60 cells under wine,
// answered as `answers` says, ends it with Enter, and returns the painting it wrote.
std::string paintingInPseudoConsole(const std::string& picture, const char* answers)
{
    TempDir dir;
    dir.write("Painting.bmp", picture);
    ChildProcess::Options options;
    options.arguments = {answers, "console.out", "32767", "60"};
    const Finished host = runToEnd(pseudoConsoleHost(), dir.path(), options, 300s);
    EXPECT_NE(host.output.find("asked yes, exit status 0"), std::string::npos)
        << host.output << host.errors;
    return painting(throughWine(dir.read("console.out")));
}

TEST(WindowsPseudoConsole, LikeWindowsTerminalItGetsSixelWithTheCellsItSays)
{
    if (!pseudoConsoleHost())
        GTEST_SKIP() << "PSEUDO_CONSOLE_HOST is not set";
    const std::string picture = samplePicture();
    const std::string output = paintingInPseudoConsole(picture, "windows-terminal");
    ImageScreen screen(400, 60, 10, 20);
    screen.feed(output);
    EXPECT_GT(screen.images(), 0);
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
    EXPECT_FALSE(screen.insideSequence());
    // Whole, where it belongs; exact in the first three text rows. The fourth holds 283
    // colours, more than the 256 registers such a terminal is taken to have (it does not say),
    // and shows the nearest of a palette.
    std::vector<bool> painted(std::size_t(screen.width()) * std::size_t(screen.height()));
    for (const PaintedPixel& p : expectedPixels(picture))
        painted[std::size_t(p.y) * std::size_t(screen.width()) + std::size_t(p.x)] = true;
    int misplaced = 0;
    for (int y = 0; y < screen.height(); ++y)
        for (int x = 0; x < screen.width(); ++x)
            misplaced += (screen.pixel(x, y) != 0) !=
                         painted[std::size_t(y) * std::size_t(screen.width()) + std::size_t(x)];
    EXPECT_EQ(misplaced, 0);
    EXPECT_EQ(differences(screen, picture, 3 * 20, ImageScreen::throughPercent), "");
}

TEST(WindowsPseudoConsole, WhereThePseudoConsoleAnswersForTheTerminalItGetsHalfBlocks)
{
    if (!pseudoConsoleHost())
        GTEST_SKIP() << "PSEUDO_CONSOLE_HOST is not set";
    const std::string picture = samplePicture();
    const std::string output = paintingInPseudoConsole(picture, "inbox-conpty");
    ScreenModel screen(400, 60);
    screen.feed(output);
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
    EXPECT_FALSE(screen.insideSequence());
    EXPECT_EQ(screen.differences(expectedScreen(picture, 400, 60)), "");
}

}  // namespace
