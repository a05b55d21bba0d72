// What the canvas makes of a terminal's replies, as recorded from real terminals and worse.
#include "console/canvas_choice.h"
#include "console/terminal/terminal.h"
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

TEST(TerminalQuestions, EndWithTheFenceAndCarryTheKittyQuestionsOnlyWhereAsked)
{
    for (const bool withKitty : {false, true}) {
        const std::string queries = firstQuestions(withKitty, "/viewer-1-0", "/tmp/f");
        EXPECT_EQ(queries.substr(queries.size() - 3), "\x1b[c") << "DA1 must come last";
        EXPECT_EQ(queries.find("\x1b[c"), queries.size() - 3) << "one fence only";
        EXPECT_EQ(queries.find("\x1b_G") != std::string::npos, withKitty);
        EXPECT_NE(queries.find("\x1b[?25$p"), std::string::npos) << "the cursor's state";
    }
    // The objects' names in base64, each in its own query.
    const std::string queries = kittyQuestions("/viewer-1-0", "/tmp/f");
    EXPECT_EQ(queries.substr(queries.size() - 3), "\x1b[c");
    EXPECT_NE(queries.find("\x1b_Gi=4243,s=1,v=1,a=q,t=s,f=24;L3ZpZXdlci0xLTA=\x1b\\"),
              std::string::npos);
    EXPECT_NE(queries.find("\x1b_Gi=4244,s=1,v=1,a=q,t=t,f=24;L3RtcC9m\x1b\\"), std::string::npos);
    EXPECT_EQ(kittyQuestions().find("t=s"), std::string::npos);
}

TEST(TerminalQuestions, KittyQuestionsReachNoTerminalThatPrintsThem)
{
    // From the environment: at once for kitty, never where strings are printed, else after
    // the first answers.
    const struct {
        const char* term;
        bool insideScreen;
        KittyQuestions when;
    } environments[] = {
        {"xterm-kitty", false, KittyQuestions::first},
        {"xterm-kitty", true, KittyQuestions::never},  // GNU screen inside kitty
        {"xterm-256color", false, KittyQuestions::second},
        {nullptr, false, KittyQuestions::second},
        {"rxvt-unicode-256color", false, KittyQuestions::never},
        {"rxvt", false, KittyQuestions::never},
        {"linux", false, KittyQuestions::never},
        {"tmux-256color", false, KittyQuestions::second},
    };
    for (const auto& e : environments)
        EXPECT_EQ(whenToAskKitty(e.term, e.insideScreen), e.when) << (e.term ? e.term : "no TERM");

    // From the first answers (as the real terminals give them): who says it would print them.
    const struct {
        const char* terminal;
        std::string replies;
        bool prints;
    } terminals[] = {
        {"rxvt-unicode 9.30", "\x1b[?25;1$y\x1b[>85;95;0c\x1b[?1;2c", true},
        {"GNU screen", "\x1b[>83;40800;0c\x1b[?1;2c", true},
        {"the Linux console", "\x1b[?6c", true},
        {"xterm 379", "\x1b[?25;1$y\x1b[>19;379;0c" + xtermSixelDa1, false},
        {"kitty 0.26", "\x1b[?25;1$y\x1b[>1;4000;26c" + kittyDa1, false},
        {"mlterm 3.9", "\x1b[?25;1$y\x1b[>24;279;0c\x1b[?63;1;2;3;4;6;7;15;18;22;29c", false},
        {"no DA2", plainDa1, false},
    };
    for (const auto& t : terminals)
        EXPECT_EQ(printsUnknownStrings(parseReplies(t.replies)), t.prints) << t.terminal;
}

TEST(TerminalReplies, SayWhetherTheCursorIsShown)
{
    using Cursor = TerminalAbilities::Cursor;
    const struct {
        std::string reply;
        Cursor cursor;
    } cases[] = {
        {"\x1b[?25;1$y", Cursor::shown},   {"\x1b[?25;2$y", Cursor::hidden},
        {"\x1b[?25;3$y", Cursor::shown},   {"\x1b[?25;4$y", Cursor::hidden},
        {"\x1b[?25;0$y", Cursor::unknown},  // not recognised
        {"\x1b[?12;2$y", Cursor::unknown},  // another mode
        {"", Cursor::unknown},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseReplies(c.reply + kittyDa1).cursor, c.cursor) << c.reply.substr(1);
}

}  // namespace
