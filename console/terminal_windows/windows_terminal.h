// The Windows console the program runs in, as the canvas talks to it where the console is a
// terminal (a pseudo-console: Windows Terminal, VS Code, sshd): VT output in UTF-8, replies
// read from the console's input, its size from the screen buffer, and the console left as it
// was found on every way out, Ctrl-C and closing the window included.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "console/terminal/painting_terminal.h"

class WindowsTerminal final : public PaintingTerminal {
public:
    // The console of this process: standard output and input where they are that console,
    // else the console's own (CONOUT$, CONIN$), so that redirecting them does not take the
    // picture with them. Null where the process has no console. From here on the output takes
    // VT sequences and UTF-8.
    static std::unique_ptr<WindowsTerminal> open();

    // Modes and code page back as they were found; the handles it opened closed.
    ~WindowsTerminal() override;
    WindowsTerminal(const WindowsTerminal&) = delete;
    WindowsTerminal& operator=(const WindowsTerminal&) = delete;

    // The window of the screen buffer, in cells; its pixels are not known here.
    Size size() const override;

    // Sends `queries` in one write and reads the replies until `complete` holds for them or
    // `limit` has passed; returns what arrived. Meanwhile the input is read a character at a
    // time, unechoed, with VT input on. A console that did not finish in time may still
    // answer later: its input is thrown away now, echo stays off for the rest of the run, and
    // where standard input is not this console its input is thrown away again at the end.
    std::string ask(const char* queries, const std::function<bool(const std::string&)>& complete,
                    std::chrono::milliseconds limit);

    bool write(const char* data, std::size_t size) override;
    void beginPaint() override;
    void endPaint() override;

    // For the console's control handler (Ctrl-C, Ctrl-Break, the window closing, logging off),
    // which runs on a thread of its own: waits briefly for a write in flight, ends an open
    // presentation and gives the console its modes and code page back. Nothing more is
    // written after it. Does its work once.
    void restoreFromHandler() noexcept;

private:
    WindowsTerminal(HANDLE output, bool ownsOutput, HANDLE input, bool ownsInput);
    void restore();

    const HANDLE output_, input_;
    const bool ownsOutput_, ownsInput_;
    DWORD outputMode_ = 0, inputMode_ = 0;  // as found
    bool hasInputMode_ = false;
    UINT codePage_ = 0;                      // the output code page as found
    DWORD quietInputMode_ = 0;  // between questions: as found, or echo off for good once a
                                // console failed to answer in time
    bool unanswered_ = false;

    // One writer at a time: the presenter's thread, or the control handler ending the
    // presentation. The handler waits a little for a write in flight, not for ever, so a
    // terminal that stopped reading cannot keep the program from ending.
    std::timed_mutex writing_;
    std::atomic<bool> interrupted_{false};
    std::atomic<bool> painting_{false};
    std::atomic<bool> restored_{false};
    bool gone_ = false;
};
