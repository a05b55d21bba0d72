// What the canvas makes of a terminal's replies, as recorded from real terminals and worse.
#include "console/canvas_choice.h"
#include "console/terminal/terminal_probe.h"

#include <gtest/gtest.h>

namespace {

using Kind = CanvasChoice::Kind;

const std::string kittyOk = "\x1b_Gi=4242;OK\x1b\\";
const std::string kittyDa1 = "\x1b[?62;c";
const std::string xtermSixelDa1 = "\x1b[?63;1;2;4;6;9;15;16;17;18;21;22;28c";
const std::string plainDa1 = "\x1b[?62;22c";

std::string registers(int count)
{
    return "\x1b[?1;0;" + std::to_string(count) + "S";
}

TEST(TerminalReplies, AreReadWhateverTheyAre)
{
    const struct {
        const char* terminal;
        std::string replies;
        bool answered, kitty, sixel;
        int registers, maxWidth, cellHeight;
    } cases[] = {
        {"kitty", kittyOk + "\x1b[4;680;800t\x1b[6;17;8t" + kittyDa1, true, true, false, 0, 0, 17},
        {"xterm, 1024 registers", registers(1024) + "\x1b[?2;0;1000;1000S" + xtermSixelDa1,
         true, false, true, 1024, 1000, 0},
        {"sixel, 16 registers", registers(16) + xtermSixelDa1, true, false, true, 16, 0, 0},
        {"sixel, 256, no graphics size", registers(256) + "\x1b[?2;3;0S" + xtermSixelDa1, true,
         false, true, 256, 0, 0},
        {"plain", plainDa1, true, false, false, 0, 0, 0},
        {"silent", "", false, false, false, 0, 0, 0},
        {"garbage", "\x1b[?xyz\x01\x02\x1b_Gi=4242;EBADF\x1b\\junk\x1b[", false, false, false, 0,
         0, 0},
        {"an error, not OK", "\x1b_Gi=4242;ENOTSUPPORTED:no\x1b\\" + plainDa1, true, false,
         false, 0, 0, 0},
        {"typed keys in between", "abc" + kittyOk + "\r\n" + kittyDa1, true, true, false, 0, 0,
         0},
        {"DA1 cut short", "\x1b[?63;4", false, false, false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const TerminalAbilities a = parseReplies(c.replies);
        EXPECT_EQ(a.answered, c.answered) << c.terminal;
        EXPECT_EQ(a.kittyGraphics, c.kitty) << c.terminal;
        EXPECT_EQ(a.sixel, c.sixel) << c.terminal;
        EXPECT_EQ(a.colourRegisters, c.registers) << c.terminal;
        EXPECT_EQ(a.sixelMaxWidth, c.maxWidth) << c.terminal;
        EXPECT_EQ(a.cellHeight, c.cellHeight) << c.terminal;
    }
}

TEST(TerminalReplies, SayWhetherTheTerminalReadsSharedMemoryAndFiles)
{
    const std::string shmOk = "\x1b_Gi=4243;OK\x1b\\", fileOk = "\x1b_Gi=4244;OK\x1b\\";
    const std::string shmRefused = "\x1b_Gi=4243;EBADF:Failed to open file\x1b\\";
    const std::string fileRefused = "\x1b_Gi=4244;EBADF:Failed to open file\x1b\\";
    const struct {
        const char* terminal;
        std::string replies;
        bool sharedMemory, files;
    } cases[] = {
        {"kitty here", kittyOk + shmOk + fileOk + kittyDa1, true, true},
        {"kitty elsewhere", kittyOk + shmRefused + fileRefused + kittyDa1, false, false},
        {"another namespace", kittyOk + shmRefused + fileOk + kittyDa1, false, true},
        {"no reply to them", kittyOk + kittyDa1, false, false},
        {"cut short", kittyOk + "\x1b_Gi=4243;O", false, false},
    };
    for (const auto& c : cases) {
        const TerminalAbilities a = parseReplies(c.replies);
        EXPECT_EQ(a.kittySharedMemory, c.sharedMemory) << c.terminal;
        EXPECT_EQ(a.kittyFiles, c.files) << c.terminal;
        EXPECT_TRUE(a.kittyGraphics) << c.terminal;
    }

    // Shared memory first, files second, the terminal otherwise.
    TerminalAbilities kitty;
    kitty.answered = kitty.kittyGraphics = kitty.kittyFiles = true;
    const Terminal::Size size{100, 40, 800, 680};
    EXPECT_EQ(chooseCanvas(size, kitty).transfer, CanvasChoice::Transfer::temporaryFile);
    kitty.kittySharedMemory = true;
    EXPECT_EQ(chooseCanvas(size, kitty).transfer, CanvasChoice::Transfer::sharedMemory);
    kitty.kittyGraphics = false;
    EXPECT_EQ(chooseCanvas(size, kitty).kind, Kind::halfBlocks);
}

TEST(TerminalReplies, SplitAnywhereReadTheSameOnceComplete)
{
    const std::string whole = kittyOk + registers(1024) + "\x1b[6;17;8t" + xtermSixelDa1;
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        const TerminalAbilities part = parseReplies(whole.substr(0, cut));
        EXPECT_FALSE(part.answered) << "cut at " << cut;
        const TerminalAbilities all = parseReplies(whole);
        EXPECT_TRUE(all.answered && all.kittyGraphics && all.sixel);
        EXPECT_EQ(all.colourRegisters, 1024);
    }
}

TEST(CanvasChoice, TruePixelsWhereTheTerminalDrawsThemAndItsCellsAreKnown)
{
    const Terminal::Size withPixels{100, 40, 800, 680, };
    const Terminal::Size withoutPixels{100, 40, 0, 0};

    TerminalAbilities kitty;
    kitty.answered = kitty.kittyGraphics = true;
    CanvasChoice choice = chooseCanvas(withPixels, kitty);
    EXPECT_EQ(choice.kind, Kind::kitty);
    EXPECT_EQ(choice.cells.cellWidth, 8);
    EXPECT_EQ(choice.cells.cellHeight, 17);
    EXPECT_EQ(choice.width, 800);
    EXPECT_EQ(choice.height, 680);

    TerminalAbilities sixel;
    sixel.answered = sixel.sixel = true;
    sixel.colourRegisters = 1024;
    choice = chooseCanvas(withPixels, sixel);
    EXPECT_EQ(choice.kind, Kind::sixel);
    EXPECT_EQ(choice.registers, 1024);
    EXPECT_EQ(choice.maxWidth, 1000) << "xterm's silent limit, where none is said";

    // No pixel size from the kernel: the terminal's own replies give it, else half blocks.
    sixel.cellWidth = 9, sixel.cellHeight = 18;
    choice = chooseCanvas(withoutPixels, sixel);
    EXPECT_EQ(choice.kind, Kind::sixel);
    EXPECT_EQ(choice.width, 900);
    sixel.cellWidth = sixel.cellHeight = 0;
    EXPECT_EQ(chooseCanvas(withoutPixels, sixel).kind, Kind::halfBlocks);

    TerminalAbilities plain;
    plain.answered = true;
    choice = chooseCanvas(withPixels, plain);
    EXPECT_EQ(choice.kind, Kind::halfBlocks);
    EXPECT_EQ(choice.width, 100);
    EXPECT_EQ(choice.height, 80);
}

TEST(CanvasChoice, AbsurdSizesStayBounded)
{
    TerminalAbilities kitty;
    kitty.answered = kitty.kittyGraphics = true;
    const CanvasChoice huge = chooseCanvas(Terminal::Size{65535, 65535, 65535, 65535}, kitty);
    EXPECT_LE(huge.width, 4096);
    EXPECT_LE(huge.height, 4096);
    const CanvasChoice none = chooseCanvas(Terminal::Size{0, 0, 0, 0}, TerminalAbilities{});
    EXPECT_EQ(none.kind, Kind::halfBlocks);
    EXPECT_EQ(none.width, 80);
    EXPECT_EQ(none.height, 48);
}

}  // namespace

namespace {

TEST(TerminalQuestions, EndWithTheFenceAndSpareGnuScreenTheKittyQuery)
{
    for (const bool insideScreen : {false, true}) {
        const std::string queries = probeQueries(insideScreen, "/viewer-1-0", "/tmp/f");
        EXPECT_EQ(queries.substr(queries.size() - 3), "\x1b[c") << "DA1 must come last";
        EXPECT_EQ(queries.find("\x1b_G") != std::string::npos, !insideScreen);
    }
    // The objects' names in base64, each in its own query.
    const std::string queries = probeQueries(false, "/viewer-1-0", "/tmp/f");
    EXPECT_NE(queries.find("\x1b_Gi=4243,s=1,v=1,a=q,t=s,f=24;L3ZpZXdlci0xLTA=\x1b\\"),
              std::string::npos);
    EXPECT_NE(queries.find("\x1b_Gi=4244,s=1,v=1,a=q,t=t,f=24;L3RtcC9m\x1b\\"), std::string::npos);
    EXPECT_EQ(probeQueries(false).find("t=s"), std::string::npos);
}

}  // namespace
