// The terminal as the presenter paints on it, whatever system it runs on: its size, a thread
// to write from, and presentations written whole. The controlling terminal on POSIX systems
// (console/terminal/terminal.h) and a Windows console (console/terminal_windows/) are two.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>

class PaintingTerminal {
public:
    virtual ~PaintingTerminal() = default;

    // What starts and ends every presentation: save the cursor (with its colours and
    // attributes), hide it, start from the default colours; then the reverse, the cursor shown
    // again unless it was hidden when the program started.
    static constexpr char paintPrologue[] = "\x1b" "7" "\x1b[?25l" "\x1b[0m";
    static constexpr char paintEpilogue[] = "\x1b[0m" "\x1b" "8" "\x1b[?25h";
    static constexpr char hiddenCursorEpilogue[] = "\x1b[0m" "\x1b" "8";
    const char* epilogue() const
    {
        return cursorHidden_.load() ? hiddenCursorEpilogue : paintEpilogue;
    }

    // The terminal said its cursor was hidden when the program started (scripts and full-screen
    // programs leave it so): every way out leaves it hidden. Where it does not say, the cursor
    // is shown after each presentation.
    void keepCursorHidden(bool hidden) { cursorHidden_.store(hidden); }

    struct Size {
        int columns = 0;  // 0: unknown
        int rows = 0;
        int width = 0;  // the text area in pixels, where the terminal says; 0: unknown
        int height = 0;
    };
    virtual Size size() const = 0;

    // Starts the thread that writes the presentations.
    virtual std::thread startWriter(std::function<void()> work)
    {
        return std::thread(std::move(work));
    }

    // Writes all of it, waiting while the terminal is slow to read. False once the terminal
    // is gone or the painting has been ended from outside; nothing more is written then.
    virtual bool write(const char* data, std::size_t size) = 0;

    // Around each presentation: echo goes off (a key typed meanwhile would otherwise be echoed
    // into the picture at wherever the cursor happens to be) and comes back after.
    virtual void beginPaint() = 0;
    virtual void endPaint() = 0;

    // Whether write() refused because the presentation was cut short for a while (a stop) and
    // its rows must be shown anew, rather than for good.
    virtual bool presentationCut() const { return false; }

    // Pixel rows [top, bottom) of the window.
    struct PixelRows {
        int top = 0, bottom = 0;
    };
    // Asked at the start of every look: rows the window no longer shows as they were shown
    // (drawn over by something else since), whose painted text rows that look shows again.
    // A terminal keeps what it was sent: none. A window drawn on directly (a classic Windows
    // console's, platform/windows/) may lose it to the console's own repaints.
    virtual PixelRows lostRows() { return PixelRows{}; }

private:
    std::atomic<bool> cursorHidden_{false};
};
