// What the canvas makes of a terminal's replies, as recorded from real terminals and worse.
#include "console/canvas_choice.h"
#include "console/terminal/terminal.h"
#include "console/terminal/terminal_probe.h"

#include <gtest/gtest.h>

#include <map>

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
    // The register replies in the order asked: the number in force, then the maximum.
    const struct {
        const char* terminal;
        std::string replies;
        bool answered, kitty, sixel;
        int registers, maxRegisters, maxWidth, cellHeight;
    } cases[] = {
        {"kitty", kittyOk + "\x1b[4;680;800t\x1b[6;17;8t" + kittyDa1, true, true, false, 0, 0, 0,
         17},
        {"xterm 379, 1024 registers", registers(1024) + registers(1024) +
         "\x1b[?2;0;480;312S" + xtermSixelDa1, true, false, true, 1024, 1024, 480, 0},
        {"xterm 379, set to 256", registers(256) + registers(1024) + xtermSixelDa1, true, false,
         true, 256, 1024, 0, 0},
        {"xterm.js 6, image addon 0.9", registers(256) + registers(4096) +
         "\x1b[?2;0;800;680S\x1b[4;680;800t\x1b[6;17;8t\x1b[?25;1$y\x1b[>0;276;0c"
         "\x1b[?62;4;9;22c", true, false, true, 256, 4096, 800, 17},
        {"mlterm 3.9: the image size answered as registers", registers(1024) + registers(1024) +
         "\x1b[?1;3;0S" + xtermSixelDa1, true, false, true, 1024, 1024, 0, 0},
        {"the maximum refused", registers(16) + "\x1b[?1;2;0S" + xtermSixelDa1, true, false,
         true, 16, 0, 0, 0},
        {"no maximum said", registers(256) + "\x1b[?2;3;0S" + xtermSixelDa1, true, false, true,
         256, 0, 0, 0},
        {"plain", plainDa1, true, false, false, 0, 0, 0, 0},
        {"silent", "", false, false, false, 0, 0, 0, 0},
        {"garbage", "\x1b[?xyz\x01\x02\x1b_Gi=4242;EBADF\x1b\\junk\x1b[", false, false, false, 0,
         0, 0, 0},
        {"an error, not OK", "\x1b_Gi=4242;ENOTSUPPORTED:no\x1b\\" + plainDa1, true, false,
         false, 0, 0, 0, 0},
        {"typed keys in between", "abc" + kittyOk + "\r\n" + kittyDa1, true, true, false, 0, 0,
         0, 0},
        {"DA1 cut short", "\x1b[?63;4", false, false, false, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const TerminalAbilities a = parseReplies(c.replies);
        EXPECT_EQ(a.answered, c.answered) << c.terminal;
        EXPECT_EQ(a.kittyGraphics, c.kitty) << c.terminal;
        EXPECT_EQ(a.sixel, c.sixel) << c.terminal;
        EXPECT_EQ(a.colourRegisters, c.registers) << c.terminal;
        EXPECT_EQ(a.maxColourRegisters, c.maxRegisters) << c.terminal;
        EXPECT_EQ(a.sixelMaxWidth, c.maxWidth) << c.terminal;
        EXPECT_EQ(a.cellHeight, c.cellHeight) << c.terminal;
        EXPECT_FALSE(a.statusReported) << c.terminal;
    }
}

TEST(TerminalReplies, TheSecondWriteIsReadApartFromTheFirst)
{
    // Its fence is the operating status report; a DA1 reply in it (a stray one, or the first
    // write's sent twice) ends nothing and changes nothing the first answers said.
    TerminalAbilities first = parseReplies(registers(256) + registers(4096) + xtermSixelDa1);
    const struct {
        const char* terminal;
        std::string replies;
        bool registersSet, fenced, kitty;
        int registers;
    } cases[] = {
        {"registers set", registers(4096) + "\x1b[0n", true, true, false, 4096},
        {"the setting refused (xterm past its maximum)", "\x1b[?1;3S\x1b[0n", true, true, false,
         256},
        {"a stray DA1 first", plainDa1 + kittyOk + "\x1b[0n", false, true, true, 256},
        {"the fence still to come", xtermSixelDa1 + kittyOk, false, false, true, 256},
        {"a register reply not asked for", registers(16) + "\x1b[0n", false, true, false, 256},
    };
    for (const auto& c : cases) {
        const TerminalAbilities second = parseReplies(c.replies);
        EXPECT_EQ(second.statusReported, c.fenced) << c.terminal;
        const TerminalAbilities both = withSecondAnswers(first, second, c.registersSet);
        EXPECT_EQ(both.kittyGraphics, c.kitty) << c.terminal;
        EXPECT_EQ(both.colourRegisters, c.registers) << c.terminal;
        EXPECT_TRUE(both.sixel && both.answered) << c.terminal;
        EXPECT_EQ(both.deviceClass, 63) << c.terminal;
    }
}

TEST(TerminalReplies, SayHowManyRegistersToAskFor)
{
    const struct {
        const char* terminal;
        bool sixel, kitty;
        int registers, maxRegisters, wanted;
    } cases[] = {
        {"xterm.js", true, false, 256, 4096, 4096},
        {"xterm set low", true, false, 16, 1024, 1024},
        {"WezTerm", true, false, 256, 65536, 4096},
        {"at its maximum already", true, false, 1024, 1024, 0},
        {"past 4096 already", true, false, 8192, 65536, 0},
        {"no maximum said", true, false, 256, 0, 0},
        {"its own number not said", true, false, 0, 4096, 0},
        {"no sixel", false, false, 256, 4096, 0},
        {"kitty images instead", true, true, 256, 4096, 0},
    };
    for (const auto& c : cases) {
        TerminalAbilities a;
        a.answered = true;
        a.sixel = c.sixel, a.kittyGraphics = c.kitty;
        a.colourRegisters = c.registers, a.maxColourRegisters = c.maxRegisters;
        EXPECT_EQ(registersToAskFor(a), c.wanted) << c.terminal;
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
        // The registers in force, then their maximum, before any other graphics question.
        EXPECT_NE(queries.find("\x1b[?1;1;0S\x1b[?1;4;0S\x1b[?2;1;0S"), std::string::npos);

        // The second write: its own fence, no DA1, the setting only where asked for.
        for (const int registers : {0, 4096}) {
            const std::string second = secondQuestions(withKitty, registers, "/viewer-1-0", "/tmp/f");
            EXPECT_EQ(second.substr(second.size() - 4), "\x1b[5n");
            EXPECT_EQ(second.find("\x1b[c"), std::string::npos);
            EXPECT_EQ(second.find("\x1b_G") != std::string::npos, withKitty);
            EXPECT_EQ(second.find("\x1b[?1;3;4096S") != std::string::npos, registers > 0);
        }
    }
    // The objects' names in base64, each in its own query.
    const std::string queries = kittyQuestions("/viewer-1-0", "/tmp/f");
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
        {"foot", false, KittyQuestions::first},
        {"wezterm", false, KittyQuestions::first},
        {"xterm-ghostty", false, KittyQuestions::first},
        {"foot", true, KittyQuestions::never},
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

TEST(TerminalQuestions, WaitLongerWhereTheSessionIsRemote)
{
    using Environment = std::map<std::string, const char*>;
    const struct {
        Environment environment;
        bool remote;
    } cases[] = {
        {{}, false},
        {{{"SSH_CONNECTION", "10.0.0.2 52114 10.0.0.1 22"}}, true},
        {{{"SSH_CLIENT", "10.0.0.2 52114 22"}}, true},
        {{{"SSH_TTY", "/dev/pts/3"}}, true},
        {{{"SSH_CONNECTION", ""}, {"DISPLAY", ":0"}}, false},
        {{{"SSH_AUTH_SOCK", "/tmp/ssh-x/agent.1"}}, false},  // an agent says nothing of the terminal
    };
    for (const auto& c : cases) {
        const bool remote = sessionIsRemote([&](const char* name) -> const char* {
            const auto found = c.environment.find(name);
            return found == c.environment.end() ? nullptr : found->second;
        });
        EXPECT_EQ(remote, c.remote) << c.environment.size() << " variables";
    }
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
