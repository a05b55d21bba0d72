#include "platform/windows/gdi_window.h"

#include <algorithm>
#include <utility>

namespace {

// How far a colour read back may lie from the one drawn: exact where the screen keeps 24 bits
// a pixel; where it keeps 15 or 16, GDI rounds each channel to 5 or 6 bits.
int toleranceOf(HWND window)
{
    int bits = 32;
    if (const HDC dc = GetDC(window)) {
        bits = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES);
        ReleaseDC(window, dc);
    }
    return bits >= 24 ? 0 : 8;
}

BITMAPINFO topDownDib(int width, int height)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // the first row in memory is the top one
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

}  // namespace

// A DIB section one pixel wide in a memory device context: a column of the window is copied
// into it with BitBlt and read from its bits.
struct GdiWindow::Strip {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    std::uint32_t* bits = nullptr;
    int height = 0;

    Strip(HDC window, int rows) : dc(CreateCompatibleDC(window)), height(rows)
    {
        const BITMAPINFO info = topDownDib(1, rows);
        void* memory = nullptr;
        if (dc)
            bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
        if (bitmap)
            previous = SelectObject(dc, bitmap);
        bits = static_cast<std::uint32_t*>(memory);
    }
    ~Strip()
    {
        if (previous)
            SelectObject(dc, previous);
        if (bitmap)
            DeleteObject(bitmap);
        if (dc)
            DeleteDC(dc);
    }
    Strip(const Strip&) = delete;
    Strip& operator=(const Strip&) = delete;
    bool usable() const { return bits && previous; }
};

GdiWindow::GdiWindow(HWND window, const Surface& surface)
    : window_(window), surface_(surface), watch_(toleranceOf(window))
{
}

GdiWindow::~GdiWindow() = default;

PaintingTerminal::Size GdiWindow::size() const
{
    RECT client{};
    if (!GetClientRect(window_, &client))
        return size_ = Size{};
    const int width = client.right - client.left, height = client.bottom - client.top;
    return size_ = Size{width, height, width, height};
}

std::thread GdiWindow::startWriter(std::function<void()> work)
{
    return std::thread([this, work = std::move(work)] {
        work();
        strip_.reset();
        dc_.reset();
    });
}

HDC GdiWindow::dc()
{
    // Held for the thread's life, not got anew each look: getting a device context of a window
    // of another process (the console's) is costly under wine, where it sets up its drawing
    // on the X server each time.
    if (!dc_)
        dc_.emplace(window_);
    return dc_->get();
}

void GdiWindow::endPaint()
{
    GdiFlush();  // nothing of this look left in the thread's batch
}

void GdiWindow::show(const std::uint32_t* rows, int rowLength, int left, int top, int width,
                     int height)
{
    if (!dc())
        return;
    // The rectangle's own rows are the whole bitmap, so which end of it the source row counts
    // from (an old ambiguity for top-down bitmaps) does not matter.
    const BITMAPINFO info = topDownDib(rowLength, height);
    SetDIBitsToDevice(dc(), left, top, DWORD(width), DWORD(height), left, 0, 0, UINT(height),
                      rows, &info, DIB_RGB_COLORS);
    showed_ = true;
}

PaintingTerminal::PixelRows GdiWindow::lostRows()
{
    // The window's size as the look just asked it: one request to the system fewer a look.
    return watch_.look(surface_, size_.width, size_.height, std::exchange(showed_, false),
                       [this](int column, int top, int bottom, std::uint32_t* out) {
                           return readColumn(column, top, bottom, out);
                       });
}

bool GdiWindow::readColumn(int column, int top, int bottom, std::uint32_t* out)
{
    const HDC window = dc();
    const int rows = bottom - top;
    if (!window)
        return false;
    if (!strip_ || strip_->height < rows || !strip_->usable()) {
        strip_.reset();
        strip_ = std::make_unique<Strip>(window, rows);
    }
    if (!strip_->usable())
        return false;
    // What the strip holds where BitBlt copies nothing (a part of the column the window does
    // not show) is what the watch put there: never the colour painted.
    std::copy(out, out + rows, strip_->bits);
    if (!BitBlt(strip_->dc, 0, 0, 1, rows, window, column, top, SRCCOPY))
        return false;
    GdiFlush();  // the bits are read directly: the copy must be done
    for (int y = 0; y < rows; ++y)
        out[y] = strip_->bits[y] & 0xFFFFFF;
    return true;
}
