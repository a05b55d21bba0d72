// The viewer's run, through the real program code linked against a stand-in that records the
// three platform calls: what is painted where, in which order, and how the run ends.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bitmap_bytes.h"
#include "child_process.h"
#include "temp_dir.h"

namespace {

using namespace std::chrono_literals;

// The program under test: the recorded viewer built here, or another build of the same code
// (the Windows one under wine, say) named by RECORDED_VIEWER.
std::string recordedViewer()
{
    const char* other = std::getenv("RECORDED_VIEWER");
    return other && *other ? other : RECORDED_VIEWER_PATH;
}

struct Recorded {
    int status;
    std::string errors;
    std::vector<std::string> calls;
};

// Text as a Unix program writes it: a Windows build's "\r\n" line ends become "\n".
std::string unixLines(std::string text)
{
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
        text.erase(at, 1);
    return text;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

// Runs the recorded viewer in `dir` with empty standard input.
Recorded record(const TempDir& dir, ChildProcess::Options options = {})
{
    options.environment.push_back("VIEWER_RECORD=" + dir.file("calls.txt"));
    const Finished run = runToEnd(recordedViewer(), dir.path(), options);
    EXPECT_EQ(run.output, "") << "the viewer never writes to standard output";
    return Recorded{run.status, unixLines(run.errors), lines(dir.read("calls.txt"))};
}

Recorded recordFile(const std::string& bytes)
{
    TempDir dir;
    dir.write("Painting.bmp", bytes);
    return record(dir);
}

std::string setPixel(int x, int y, std::uint32_t colour)
{
    char line[64];
    std::snprintf(line, sizeof line, "SetPixel %d %d %06X", x, y, colour);
    return line;
}

std::vector<std::string> expectedCalls(const std::string& file)
{
    std::vector<std::string> calls{"GetConsoleWindow", "GetDC console"};
    for (const PaintedPixel& p : expectedPixels(file))
        calls.push_back(setPixel(p.x, p.y, p.colour));
    return calls;
}

bool exitedWith(int status, int code)
{
    return WIFEXITED(status) && WEXITSTATUS(status) == code;
}

TEST(ViewerFlow, OnePixelBecomesOneCallInColourRefLayout)
{
    std::string file = bitmapHeader(1, 1);
    file += "\x11\x22\x33";  // blue, green, red
    file += '\x44';         // filler
    const Recorded run = recordFile(file);
    EXPECT_TRUE(exitedWith(run.status, 0));
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.calls, (std::vector<std::string>{"GetConsoleWindow", "GetDC console",
                                                   "SetPixel 10 10 112233"}));
}

TEST(ViewerFlow, RowsArePaintedInStoredOrderLeftToRight)
{
    // 2 x 3: rows of 8 bytes at offsets 54, 62 and 70, each pixel its own colour.
    std::string file = bitmapHeader(2, 3);
    file += std::string("\x01\x02\x03\x04\x05\x06\xEE\xEE", 8);
    file += std::string("\x11\x12\x13\x14\x15\x16\xEE\xEE", 8);
    file += std::string("\x21\x22\x23\x24\x25\x26\xEE\xEE", 8);
    const Recorded run = recordFile(file);
    EXPECT_TRUE(exitedWith(run.status, 0));
    EXPECT_EQ(run.calls,
              (std::vector<std::string>{"GetConsoleWindow", "GetDC console",
                                        "SetPixel 10 10 010203", "SetPixel 11 10 040506",
                                        "SetPixel 10 11 111213", "SetPixel 11 11 141516",
                                        "SetPixel 10 12 212223", "SetPixel 11 12 242526"}));
}

TEST(ViewerFlow, FillerIsReadButNeverPainted)
{
    // Widths 1 to 5 cover every amount of filler (0 to 3 bytes); filler bytes are 0xFF, a
    // value no pattern pixel has in its green byte.
    for (int width = 1; width <= 5; ++width) {
        const std::string file = patternBitmap(width, 4, 0xFF);
        const Recorded run = recordFile(file);
        EXPECT_TRUE(exitedWith(run.status, 0)) << "width " << width;
        EXPECT_EQ(run.calls, expectedCalls(file)) << "width " << width;
        EXPECT_EQ(run.calls.size(), 2u + 4u * unsigned(width)) << "width " << width;
    }
}

TEST(ViewerFlow, OnlyWidthAndHeightOfTheHeaderCount)
{
    const std::string plain = patternBitmap(3, 2);
    const std::vector<std::string> expected = expectedCalls(plain);

    std::string noisy = plain;
    noisy[0] = 'X', noisy[1] = 'Y';  // no signature
    putInt32(noisy, 2, 7);           // wrong file size
    putInt32(noisy, 10, 1078);       // pixel data said to start elsewhere
    putInt32(noisy, 14, 124);        // a larger info header
    noisy[28] = 8;                   // 8 bits a pixel
    putInt32(noisy, 30, 1);          // compressed
    EXPECT_EQ(recordFile(noisy).calls, expected);
}

TEST(ViewerFlow, NoRowsNoPixelsAndANormalEnd)
{
    const struct {
        std::int32_t width, height;
    } cases[] = {{3, 0}, {3, -2}, {3, -2147483647 - 1},
                 // rows of no bytes: however many, nothing to read and nothing to paint
                 {0, 5}, {-1, 5}, {0, 2147483647}, {-1, 2147483647}};
    for (const auto& c : cases) {
        const Recorded run = recordFile(bitmapHeader(c.width, c.height) + std::string(64, 'x'));
        EXPECT_TRUE(exitedWith(run.status, 0)) << c.width << " x " << c.height;
        EXPECT_EQ(run.errors, "") << c.width << " x " << c.height;
        EXPECT_EQ(run.calls, (std::vector<std::string>{"GetConsoleWindow", "GetDC console"}))
            << c.width << " x " << c.height;
    }
}

TEST(ViewerFlow, AFileThatEndsEarlyPaintsWhatItHoldsAndEndsNormally)
{
    const std::string whole = patternBitmap(3, 4);
    // Cut at every byte of the second row: inside a pixel, between pixels, inside the filler.
    for (std::size_t cut = 54 + 12; cut <= 54 + 24; ++cut) {
        const std::string file = whole.substr(0, cut);
        const Recorded run = recordFile(file);
        EXPECT_TRUE(exitedWith(run.status, 0)) << "cut at " << cut;
        EXPECT_EQ(run.errors, "") << "cut at " << cut;
        EXPECT_EQ(run.calls, expectedCalls(file)) << "cut at " << cut;
    }
    // A height far beyond the data stops at the data's end.
    std::string tall = patternBitmap(2, 3);
    putInt32(tall, 22, 2147483647);
    EXPECT_EQ(recordFile(tall).calls, expectedCalls(patternBitmap(2, 3)));
}

TEST(ViewerFlow, CommandLineArgumentsAreIgnored)
{
    TempDir dir;
    const std::string file = patternBitmap(2, 2);
    dir.write("Painting.bmp", file);
    ChildProcess::Options options;
    options.arguments = {"--help", "other.bmp", "-v"};
    const Recorded run = record(dir, options);
    EXPECT_TRUE(exitedWith(run.status, 0));
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.calls, expectedCalls(file));
}

struct Failure {
    const char* what;
    bool present;  // whether there is a Painting.bmp at all
    std::string file;
    std::string message;
};

TEST(ViewerFlow, FailuresSayWhatAndEndWithoutWaiting)
{
    const Failure failures[] = {
        {"no file", false, "", "viewer: cannot open Painting.bmp: No such file or directory\n"},
        {"empty file", true, "",
         "viewer: Painting.bmp is too short for a bitmap header: 0 of 54 bytes\n"},
        {"53 bytes", true, bitmapHeader(2, 2).substr(0, 53),
         "viewer: Painting.bmp is too short for a bitmap header: 53 of 54 bytes\n"},
        {"width -2", true, bitmapHeader(-2, 1) + "abcdefgh",
         "viewer: Painting.bmp has a width of -2 pixels, for which no row size exists\n"},
        {"most negative width", true, bitmapHeader(-2147483647 - 1, 1),
         "viewer: Painting.bmp has a width of -2147483648 pixels, for which no row size "
         "exists\n"},
        {"row past 2 GiB", true, bitmapHeader(715827882, 1),
         "viewer: Painting.bmp has a width of 715827882 pixels, for which no row size "
         "exists\n"},
    };
    for (const Failure& failure : failures) {
        TempDir dir;
        if (failure.present)
            dir.write("Painting.bmp", failure.file);
        // Standard input stays open: a run that waited for it would never end.
        ChildProcess child;
        child.start(recordedViewer(), dir.path(),
                    {{}, {"VIEWER_RECORD=" + dir.file("calls.txt")}, 0});
        ASSERT_TRUE(child.waitForExit(10s)) << failure.what << ": it waited for input";
        EXPECT_TRUE(exitedWith(child.status(), 1)) << failure.what;
        EXPECT_EQ(unixLines(child.standardError()), failure.message) << failure.what;
        EXPECT_EQ(child.standardOutput(), "") << failure.what;
        EXPECT_EQ(lines(dir.read("calls.txt")),
                  (std::vector<std::string>{"GetConsoleWindow", "GetDC console"}))
            << failure.what;
    }
}

TEST(ViewerFlow, ADirectoryInPlaceOfTheFileCannotBeRead)
{
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("Painting.bmp").c_str(), 0755), 0);
    const Recorded run = record(dir);
    EXPECT_TRUE(exitedWith(run.status, 1));
    EXPECT_EQ(run.errors, "viewer: cannot read Painting.bmp: Is a directory\n");
}

TEST(ViewerFlow, ARowThatCannotBeAllocatedIsReported)
{
#ifdef VIEWER_SANITIZED
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit this test sets";
#else
    TempDir dir;
    dir.write("Painting.bmp", bitmapHeader(715827881, 1) + "abc");
    ChildProcess::Options options;
    options.addressSpaceLimit = std::size_t(512) << 20;
    const Recorded run = record(dir, options);
    EXPECT_TRUE(exitedWith(run.status, 1));
    EXPECT_EQ(run.errors, "viewer: cannot allocate a row of 2147483644 bytes for Painting.bmp\n");
    EXPECT_EQ(run.calls, (std::vector<std::string>{"GetConsoleWindow", "GetDC console"}));
#endif
}

TEST(ViewerFlow, WaitsForOneCharacterWithTheFileAlreadyClosed)
{
    TempDir dir;
    const std::string file = patternBitmap(4, 3);
    dir.write("Painting.bmp", file);
    ChildProcess child;
    child.start(recordedViewer(), dir.path(),
                {{}, {"VIEWER_RECORD=" + dir.file("calls.txt")}, 0});

    // Painted, then waiting: the record is complete and the file no longer open.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (lines(dir.read("calls.txt")).size() < expectedCalls(file).size() ||
           child.holdsOpen(dir.file("Painting.bmp"))) {
        ASSERT_TRUE(child.running()) << "it ended without waiting";
        ASSERT_LT(std::chrono::steady_clock::now(), deadline)
            << "still holds the file open after painting";
        std::this_thread::sleep_for(5ms);
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(child.running()) << "it must wait for input";

    child.type("abc");  // one character ends the wait; the rest is left unread
    ASSERT_TRUE(child.waitForExit(10s));
    EXPECT_TRUE(exitedWith(child.status(), 0));
    EXPECT_EQ(lines(dir.read("calls.txt")), expectedCalls(file));
}

}  // namespace
