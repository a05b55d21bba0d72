// A classic console window as the presenter paints on it: its client area, in pixels, shown
// through GDI from the presenter's thread, and watched for what the console paints over.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>

#include "console/surface/surface.h"
#include "console/terminal/painting_terminal.h"
#include "platform/windows/blit_encoder.h"
#include "platform/windows/shown_watch.h"

// The presentation sees a window of 1 x 1 pixel cells (its "text rows" are pixel rows) and
// writes no bytes: a BlitEncoder hands each look's rectangles to show(), which blits them.
// Every GDI call but the first look at the screen's colours is made on the presenter's thread,
// and every object it makes there is released there.
class GdiWindow final : public PaintingTerminal, public PixelSink {
public:
    // `surface`: the pixels painted, which the window is compared with.
    GdiWindow(HWND window, const Surface& surface);
    ~GdiWindow() override;
    GdiWindow(const GdiWindow&) = delete;
    GdiWindow& operator=(const GdiWindow&) = delete;

    // The client area as it is now, in pixels (and as many 1 x 1 cells); nothing where the
    // window is gone.
    Size size() const override;

    // The presenter's thread. It holds a device context of the window from its first look to
    // its end, and releases it, with what it read the window back into, when it ends.
    std::thread startWriter(std::function<void()> work) override;

    bool write(const char*, std::size_t) override { return true; }  // no bytes go anywhere
    void beginPaint() override {}
    void endPaint() override;

    PixelRows lostRows() override;

    void show(const std::uint32_t* rows, int rowLength, int left, int top, int width,
              int height) override;

private:
    // A device context of the window's client area, from GetDC to ReleaseDC on one thread.
    class WindowDc {
    public:
        explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
        ~WindowDc()
        {
            if (dc_)
                ReleaseDC(window_, dc_);
        }
        WindowDc(const WindowDc&) = delete;
        WindowDc& operator=(const WindowDc&) = delete;
        HDC get() const { return dc_; }

    private:
        HWND window_;
        HDC dc_;
    };
    struct Strip;  // what a column is read back into

    HDC dc();  // the presenter's thread's, got at its first use
    bool readColumn(int column, int top, int bottom, std::uint32_t* out);

    const HWND window_;
    const Surface& surface_;
    ShownWatch watch_;
    mutable Size size_;   // as the look last asked it
    bool showed_ = false;  // since the last look at what the window shows
    std::optional<WindowDc> dc_;
    std::unique_ptr<Strip> strip_;
};
