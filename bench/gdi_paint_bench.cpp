// A 1920 x 1080 picture painted onto the console window it runs in, both ways the Windows
// program has had: a GDI SetPixel call a pixel, and the canvas's surface, shown by its
// presenter thread with a blit a run of rows (GdiWindow and BlitEncoder, as the viewer uses
// them). Each way is timed from its first pixel until the window has the last one (a pixel
// read back from the window waits for every drawing before it), in alternating rounds;
// afterwards the window is read back and compared with the picture. The console's window is
// made large enough for the picture first, and given its size back at the end.
//
// Usage (in a console window: wineconsole gdi_paint_bench.exe ...): gdi_paint_bench RESULTS
// [ROUNDS]. The figures go to the file RESULTS, not to the console: its window is the picture.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "console/presenter.h"
#include "console/surface/surface.h"
#include "platform/windows/blit_encoder.h"
#include "platform/windows/gdi_window.h"

namespace {

constexpr int width = 1920, height = 1080, origin = 10;

COLORREF colourAt(int x, int y)
{
    // Gradients across and down, and a pattern that changes every pixel: many colours.
    const unsigned r = unsigned(x) * 255 / (width - 1), g = unsigned(y) * 255 / (height - 1);
    const unsigned b = (unsigned(x) * 7 ^ unsigned(y) * 13) & 0xFF;
    return r | g << 8 | b << 16;
}

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double perPixelRound(HWND console)
{
    const HDC dc = GetDC(console);
    const Clock::time_point start = Clock::now();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            SetPixel(dc, origin + x, origin + y, colourAt(x, y));
    GetPixel(dc, origin, origin);
    const double elapsed = millisecondsSince(start);
    ReleaseDC(console, dc);
    return elapsed;
}

// The whole, and of it the making of the surface, the window's painting and the presenter.
std::pair<double, double> surfaceRound(HWND console)
{
    const Clock::time_point start = Clock::now();
    double making = 0;
    {
        RECT client{};
        GetClientRect(console, &client);
        Surface surface(client.right, client.bottom);
        GdiWindow window(console, surface);
        Presenter presenter(window, surface, std::make_unique<BlitEncoder>(window),
                            CellGeometry{1, 1, client.right, client.bottom});
        making = millisecondsSince(start);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                surface.set(origin + x, origin + y, colourAt(x, y));
    }  // the presenter's last look shows what is left, then its thread ends
    const HDC dc = GetDC(console);
    GetPixel(dc, origin, origin);
    const double elapsed = millisecondsSince(start);
    ReleaseDC(console, dc);
    return {elapsed, making};
}

// Pixels of the picture that the window does not show.
long wrongPixels(HWND console)
{
    const HDC dc = GetDC(console);
    const HDC memory = CreateCompatibleDC(dc);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, dc, origin, origin, SRCCOPY);
    GdiFlush();
    long wrong = 0;
    const auto* pixels = static_cast<const std::uint32_t*>(bits);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            wrong += (pixels[std::size_t(y) * width + std::size_t(x)] & 0xFFFFFF) !=
                     dibPixel(colourAt(x, y));
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(console, dc);
    return wrong;
}

void clear(HWND console)
{
    const HDC dc = GetDC(console);
    const RECT picture{origin, origin, origin + width, origin + height};
    const HBRUSH grey = CreateSolidBrush(RGB(128, 128, 128));
    FillRect(dc, &picture, grey);
    DeleteObject(grey);
    GetPixel(dc, origin, origin);
    ReleaseDC(console, dc);
}

// The console's window as large as the picture needs, for the time the benchmark runs.
class LargeConsole {
public:
    explicit LargeConsole(HANDLE output) : output_(output)
    {
        saved_ = GetConsoleScreenBufferInfo(output_, &found_);
        CONSOLE_FONT_INFO font{};
        GetCurrentConsoleFont(output_, FALSE, &font);
        COORD cell = GetConsoleFontSize(output_, font.nFont);
        cell.X = std::max<SHORT>(cell.X, 1);
        cell.Y = std::max<SHORT>(cell.Y, 1);
        const SHORT columns = SHORT((width + 2 * origin + cell.X - 1) / cell.X);
        const SHORT rows = SHORT((height + 2 * origin + cell.Y - 1) / cell.Y);
        SetConsoleScreenBufferSize(output_, COORD{std::max(columns, found_.dwSize.X),
                                                  std::max(rows, found_.dwSize.Y)});
        const SMALL_RECT window{0, 0, SHORT(columns - 1), SHORT(rows - 1)};
        SetConsoleWindowInfo(output_, TRUE, &window);
    }
    ~LargeConsole()
    {
        if (!saved_)
            return;
        SetConsoleWindowInfo(output_, TRUE, &found_.srWindow);
        SetConsoleScreenBufferSize(output_, found_.dwSize);
    }
    LargeConsole(const LargeConsole&) = delete;
    LargeConsole& operator=(const LargeConsole&) = delete;

private:
    HANDLE output_;
    CONSOLE_SCREEN_BUFFER_INFO found_{};
    bool saved_ = false;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: gdi_paint_bench RESULTS [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::FILE* results = std::fopen(argv[1], "w");
    if (!results)
        return 1;
    const HWND console = GetConsoleWindow();
    const LargeConsole large(GetStdHandle(STD_OUTPUT_HANDLE));
    Sleep(1000);  // the window resized and repainted
    RECT client{};
    GetClientRect(console, &client);
    if (client.right < width + origin || client.bottom < height + origin) {
        std::fprintf(results, "the console window's client area is %ld x %ld: too small for "
                              "%d x %d at (%d, %d)\n",
                     client.right, client.bottom, width, height, origin, origin);
        std::fclose(results);
        return 1;
    }

    std::vector<double> perPixel, surface, making;
    long perPixelWrong = 0, surfaceWrong = 0;
    for (int round = 0; round < rounds; ++round) {
        clear(console);
        perPixel.push_back(perPixelRound(console));
        perPixelWrong = std::max(perPixelWrong, wrongPixels(console));
        clear(console);
        const std::pair<double, double> times = surfaceRound(console);
        surface.push_back(times.first);
        making.push_back(times.second);
        surfaceWrong = std::max(surfaceWrong, wrongPixels(console));
    }
    const double slow = median(perPixel), fast = median(surface);
    std::fprintf(results,
                 "%d x %d pixels on a console window of %ld x %ld, medians of %d rounds:\n"
                 "  SetPixel, a call a pixel:         %8.1f ms (%.3f us a pixel); pixels not "
                 "shown: %ld\n"
                 "  surface, presenter and blits:     %8.1f ms (%.1f times faster); pixels not "
                 "shown: %ld\n"
                 "    of which making the surface, the window's painting and the presenter: "
                 "%.1f ms\n",
                 width, height, client.right, client.bottom, rounds, slow,
                 slow * 1000.0 / (double(width) * height), perPixelWrong, fast, slow / fast,
                 surfaceWrong, median(making));
    std::fclose(results);
    return perPixelWrong == 0 && surfaceWrong == 0 ? 0 : 1;
}
