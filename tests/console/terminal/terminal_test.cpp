// Terminal output: complete under a slow reader, and cut cleanly when a signal ends it.
#include "console/terminal/terminal.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "pty_capture.h"
#include "screen_model.h"

namespace {

using namespace std::chrono_literals;

const std::string prologue = Terminal::paintPrologue;
const std::string epilogue = Terminal::paintEpilogue;
const std::string upperHalf = "\xE2\x96\x80";

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A presentation of 200,000 glyphs, written on a thread of its own as the presenter writes;
// `finished`: whether the write went through whole.
std::thread paintGlyphs(Terminal& terminal, bool& finished)
{
    return std::thread([&terminal, &finished] {
        std::string picture = prologue;
        for (int i = 0; i < 200000; ++i)
            picture += upperHalf;
        terminal.beginPaint();
        finished = terminal.write(picture.data(), picture.size());
    });
}

TEST(Terminal, WritesEverythingThroughASlowReader)
{
    PtyCapture capture(80, 24);
    capture.throttle(3000);
    Terminal terminal(capture.terminal());
    std::string data;
    for (int i = 0; data.size() < 300000; ++i)
        data += "\x1b[" + std::to_string(i % 24 + 1) + ";1H" + upperHalf;
    EXPECT_TRUE(terminal.write(data.data(), data.size()));
    EXPECT_TRUE(capture.waitFor([&](const std::string& out) { return out.size() >= data.size(); },
                                20s));
    EXPECT_EQ(capture.output(), data);
}

TEST(Terminal, ASignalEndsThePaintingCleanlyWhereverItWas)
{
    // Interrupted at many different points of a long stream of glyphs, the output must read as
    // whole glyphs followed by the sequence that ends a presentation, and nothing after it.
    for (int round = 0; round < 6; ++round) {
        PtyCapture capture(200, 50);
        capture.throttle(997 + 131 * std::size_t(round));  // cuts land anywhere in a glyph
        Terminal terminal(capture.terminal());
        bool finished = true;
        std::thread painter = paintGlyphs(terminal, finished);
        ASSERT_TRUE(capture.waitFor(
            [&](const std::string& out) { return out.size() > 20000 + 3000 * std::size_t(round); },
            10s));
        terminal.restoreAfterSignal();
        painter.join();
        EXPECT_FALSE(finished) << "the write must stop once a signal ended the painting";
        EXPECT_FALSE(terminal.write("x", 1));

        ASSERT_TRUE(capture.waitFor(
            [&](const std::string& out) { return endsWith(out, epilogue); }, 10s));
        std::this_thread::sleep_for(20ms);
        const std::string out = capture.output();
        ASSERT_TRUE(endsWith(out, epilogue)) << "round " << round;
        const std::string end = "\x1b\\" + epilogue;  // a string terminator, then the epilogue
        ASSERT_TRUE(endsWith(out, end)) << "round " << round;
        const std::string glyphs =
            out.substr(prologue.size(), out.size() - prologue.size() - end.size());
        EXPECT_EQ(glyphs.size() % 3, 0u) << "round " << round << ": a glyph was cut";
        EXPECT_EQ(glyphs.find('\x1b'), std::string::npos) << "round " << round;

        ScreenModel screen(200, 50);
        screen.feed(out);
        EXPECT_FALSE(screen.insideSequence());
        EXPECT_TRUE(screen.cursorVisible());
    }
}

TEST(Terminal, AStopThatFindsTheTerminalNotReadingLeavesItsEndToTheNextPresentation)
{
    // The terminal reads nothing while the stop's handler would end the presentation: what the
    // handler could not write (the rest of a glyph, the string terminator, the epilogue) goes
    // out first once the painting resumes, before any byte of the next presentation.
    PtyCapture capture(200, 50);
    Terminal terminal(capture.terminal());
    capture.hold(true);
    bool finished = true;
    std::thread painter = paintGlyphs(terminal, finished);
    std::this_thread::sleep_for(100ms);  // the terminal's buffer is full
    terminal.suspendForStop();
    painter.join();
    EXPECT_FALSE(finished);
    terminal.resumeAfterStop();
    capture.hold(false);
    terminal.beginPaint();
    EXPECT_TRUE(terminal.write(prologue.data(), prologue.size()));
    terminal.endPaint();

    const std::string next = "\x1b\\" + epilogue + prologue;
    ASSERT_TRUE(capture.waitFor([&](const std::string& out) { return endsWith(out, next); }, 10s))
        << "the presentation's end was lost";
    const std::string out = capture.output();
    const std::string glyphs = out.substr(prologue.size(), out.size() - prologue.size() - next.size());
    EXPECT_EQ(glyphs.size() % 3, 0u) << "a glyph was cut";
    EXPECT_EQ(glyphs.find('\x1b'), std::string::npos);
}

TEST(Terminal, ASignalBetweenPresentationsWritesNothing)
{
    PtyCapture capture(80, 24);
    Terminal terminal(capture.terminal());
    terminal.beginPaint();
    EXPECT_TRUE(terminal.write("ab", 2));
    terminal.endPaint();
    terminal.restoreAfterSignal();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(capture.output(), "ab");
}

}  // namespace
