// A stand-in for the three platform calls, linked into the viewer's own code in place of the
// console canvas. It records every call, in order, one line each, in the file that the
// environment variable VIEWER_RECORD names:
//   GetConsoleWindow
//   GetDC console            (or "GetDC other" for a window it did not give out)
//   SetPixel X Y BBGGRR      (the colour in hexadecimal, COLORREF layout)
// Each line is written at once, so a test can read the record while the program waits.
#include <cstdio>
#include <cstdlib>

#include "platform/win32.h"

struct HWND__ {
    int unused;
};
struct HDC__ {
    int unused;
};

namespace {

HWND__ consoleWindow;
HDC__ consoleCanvas;

void record(const char* line)
{
    static std::FILE* const log = [] {
        const char* path = std::getenv("VIEWER_RECORD");
        std::FILE* file = path ? std::fopen(path, "ab") : nullptr;
        if (file)
            std::setvbuf(file, nullptr, _IONBF, 0);
        return file;
    }();
    if (log && std::fputs(line, log) < 0)
        std::abort();
}

}  // namespace

HWND GetConsoleWindow()
{
    record("GetConsoleWindow\n");
    return &consoleWindow;
}

HDC GetDC(HWND window)
{
    record(window == &consoleWindow ? "GetDC console\n" : "GetDC other\n");
    return &consoleCanvas;
}

COLORREF SetPixel(HDC canvas, int x, int y, COLORREF colour)
{
    char line[64];
    std::snprintf(line, sizeof line, "SetPixel %d %d %06X%s\n", x, y, unsigned(colour),
                  canvas == &consoleCanvas ? "" : " on another canvas");
    record(line);
    return colour;
}
