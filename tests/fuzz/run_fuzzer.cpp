// The whole run over arbitrary file bytes: the viewer's own code, linked against a stand-in for
// the platform that checks every pixel it is given against what the bytes stand for,
// independently worked out here (a pixel painted at (10 + k, 10 + y) for every pixel whose
// three bytes the file holds, in stored row order, and nothing else).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "platform/win32.h"

int viewerMain();  // the program's main, renamed for this build

struct HWND__ {
    int unused;
};
struct HDC__ {
    int unused;
};

namespace {

HWND__ window;
HDC__ canvas;

const std::uint8_t* file = nullptr;
std::size_t fileSize = 0;
std::int64_t width = 0, rowSize = 0, nextPixel = 0;  // the pixel the next call must paint

std::int32_t int32At(std::size_t at)
{
    return std::int32_t(std::uint32_t(file[at]) | std::uint32_t(file[at + 1]) << 8 |
                        std::uint32_t(file[at + 2]) << 16 | std::uint32_t(file[at + 3]) << 24);
}

// The number of pixels the file holds bytes for, in painting order.
std::int64_t pixelsInFile(std::int64_t height)
{
    if (fileSize < 54 || width <= 0 || height <= 0 || rowSize <= 0)
        return 0;
    const std::int64_t bytes = std::int64_t(fileSize) - 54;
    const std::int64_t fullRows = std::min(bytes / rowSize, height);
    std::int64_t pixels = fullRows * width;
    if (fullRows < height)
        pixels += std::min(width, (bytes - fullRows * rowSize) / 3);
    return pixels;
}

void check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "run fuzzer: %s (pixel %lld)\n", what, (long long)nextPixel);
        std::abort();
    }
}

}  // namespace

HWND GetConsoleWindow()
{
    return &window;
}

HDC GetDC(HWND given)
{
    check(given == &window, "GetDC given another window");
    return &canvas;
}

COLORREF SetPixel(HDC given, int x, int y, COLORREF colour)
{
    check(given == &canvas, "SetPixel given another canvas");
    const std::int64_t k = nextPixel % width, row = nextPixel / width;
    check(x == 10 + k && y == 10 + row, "a pixel out of order");
    const std::size_t at = std::size_t(54 + row * rowSize + 3 * k);
    check(at + 2 < fileSize, "a pixel the file has no bytes for");
    const COLORREF want = COLORREF(file[at + 2]) | COLORREF(file[at + 1]) << 8 |
                          COLORREF(file[at]) << 16;
    check(colour == want, "a pixel of the wrong colour");
    ++nextPixel;
    return colour;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool ready = [] {
        // A directory of its own for Painting.bmp, and an empty standard input for the wait.
        char directory[] = "/tmp/viewer-fuzz-XXXXXX";
        static std::istringstream nothing;
        std::cin.rdbuf(nothing.rdbuf());
        return mkdtemp(directory) && chdir(directory) == 0;
    }();
    if (!ready)
        std::abort();

    file = data;
    fileSize = size;
    width = size >= 26 ? int32At(18) : 0;
    const std::int64_t height = size >= 26 ? int32At(22) : 0;
    rowSize = (3 * width + 3) & ~std::int64_t(3);
    // A row is allocated whole: keep to rows a fuzzing process can allocate over and over.
    if (rowSize > (1 << 20))
        return -1;

    std::FILE* out = std::fopen("Painting.bmp", "wb");
    if (!out || std::fwrite(data, 1, size, out) != size || std::fclose(out) != 0)
        std::abort();
    nextPixel = 0;
    const int status = viewerMain();

    const bool fails = size < 54 || width < -1;
    check(status == (fails ? 1 : 0), "the wrong exit status");
    check(nextPixel == (fails ? 0 : pixelsInFile(height)), "pixels left out");
    std::cin.clear();
    return 0;
}
