// The terminal the program runs in, as the canvas talks to it: its size, output that never
// blocks the painting, echo kept off while a picture is being drawn, and a way out for signal
// handlers that leaves the terminal as it was found.
#pragma once

#include <termios.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "console/terminal/painting_terminal.h"

class Terminal final : public PaintingTerminal {
public:
    // The controlling terminal, opened anew as /dev/tty so that redirecting standard output
    // or error does not take the picture with it. Null where the process has none.
    static std::unique_ptr<Terminal> open();

    // A terminal on a descriptor that the caller keeps open (for tests).
    explicit Terminal(int fd);

    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    Size size() const override;
    // The presenter's thread takes no signals: a handler then always runs in the program's own
    // thread and can wait for that one to finish a write.
    std::thread startWriter(std::function<void()> work) override;

    // Sends `queries` and reads the replies until `complete` holds for them or `limit` has
    // passed; returns what arrived (at most 64 KB: a terminal that sends more is not asked
    // further). Only from the foreground: elsewhere it asks nothing and returns "". Meanwhile
    // input is read raw and unechoed, so no reply shows on the screen. A terminal that did not
    // finish in time may still answer later: its input is thrown away now, echo stays off for
    // the rest of the run (a late reply never shows), and where standard input is not this
    // terminal (nothing reads the replies then) its input is thrown away again when it is
    // closed, so that no reply reaches the shell.
    std::string ask(const char* queries, const std::function<bool(const std::string&)>& complete,
                    std::chrono::milliseconds limit);

    // A setting of the terminal's own that the program changes for its run (the number of
    // sixel colour registers): `change` makes it, `undo` puts back what the terminal had. The
    // terminal answers both (as XTSMGRAPHICS does), and each answer is read and thrown away
    // before the terminal is handed back, waiting up to `limit` for it (a DA1 reply fences it),
    // so that none reaches the shell or the screen. Said before `change` is sent (with the
    // questions of ask()), so that from then on every way out undoes it: the end of the run
    // (undoSetting()), a signal that ends the program, and a stop, after whose continue the
    // change is made again (where the program is then in the foreground; in the background
    // it cannot read the answer, and the change waits for a continue in the foreground). One
    // setting; each sequence at most 31 bytes.
    void keepSetting(const std::string& change, const std::string& undo,
                     std::chrono::milliseconds limit);
    // The terminal refused the change: nothing to undo.
    void forgetSetting() { setting_.store(Setting::none); }
    // At the end of the run, once the last presentation is written.
    void undoSetting();

    // Writes all of it, waiting while the terminal is slow to read. False once the terminal
    // is gone or a signal has ended the painting; nothing more is written then.
    bool write(const char* data, std::size_t size) override;

    // Around each presentation: echo goes off (a key typed meanwhile would otherwise be echoed
    // into the picture at wherever the cursor happens to be), and output processing too (no
    // line end is ever written while painting), and both come back after.
    void beginPaint() override;
    void endPaint() override;

    // For a handler of a signal that ends the program: waits briefly for a write in flight,
    // completes a character it cut in half, ends the presentation (cursor back where it was and
    // visible, colours reset) and restores the terminal modes. Stops all further output.
    // Async-signal-safe; does its work once.
    void restoreAfterSignal() noexcept;

    // For a handler of a stop from the terminal (Ctrl-Z): the same, but only for the time the
    // program is stopped. Afterwards the modes it was asking or painting in come back, and a
    // presentation that was cut is refused from then on (write() returns false and
    // presentationCut() says why) until the next beginPaint(): its rows must be shown anew.
    // Async-signal-safe.
    void suspendForStop() noexcept;
    void resumeAfterStop() noexcept;
    bool presentationCut() const override { return cut_.load() || stopped_.load(); }

    // For the handler of a window resize (SIGWINCH): counts it. A terminal drops what falls
    // past its edges and does not bring it back when the window grows again, so a size the
    // window had only between two looks at it (narrowed and widened back within milliseconds)
    // still loses pixels, though each look sees the same size. Async-signal-safe.
    void noteResizeFromHandler() noexcept { resizes_.fetch_add(1); }
    // The whole window where it was resized since the last look and has the size it had then;
    // else nothing (a resize that changed the size is the look's to see).
    PixelRows lostRows() override;

private:
    Terminal(int fd, bool owned);
    bool enter();
    void leave();
    bool waitWritable();
    bool foreground() const;
    bool readsInput() const;  // whether standard input is this terminal
    bool refused() const { return interrupted_.load() || stopped_.load() || cut_.load(); }
    // From a signal handler: waits for a write in flight; ends an open presentation and gives
    // the terminal its modes back.
    void waitForWriter() noexcept;
    void endFromHandler() noexcept;
    // Sends a setting's sequence and DA1, reads until DA1's reply or the setting's limit
    // (throwing away what came), and leaves the terminal in its original modes.
    // Async-signal-safe.
    void exchangeSetting(const char* sequence) noexcept;

    const int fd_;
    const bool owned_;
    bool hasModes_ = false;
    termios original_{};
    termios quiet_{};   // the modes between presentations: the original, or echo off for good
                        // once a terminal failed to answer in time
    termios asking_{};  // raw and unechoed, while replies are read
    std::atomic<bool> inAsk_{false};
    std::atomic<bool> unanswered_{false};

    // State shared with a signal handler, which may run at any point of the painting thread's
    // work: the handler announces itself in `interrupted_`, then waits for `busy_` to clear;
    // the painting thread sets `busy_` before it looks at `interrupted_`. So one of them
    // always sees the other, and no byte goes out after the handler's own.
    std::atomic<bool> busy_{false};
    std::atomic<bool> interrupted_{false};
    std::atomic<bool> painting_{false};
    std::atomic<bool> echoOff_{false};
    std::atomic<std::uint32_t> unfinished_{0};  // rest of a cut character: length, then bytes
    // What a stop's handler could not write of a presentation's end (a terminal slow to read):
    // the next presentation sends it first.
    std::atomic<std::size_t> owed_{0};
    char owedBytes_[32] = {};
    std::atomic<bool> restored_{false};
    std::atomic<bool> stopped_{false};  // a stop signal's handler is at work
    std::atomic<bool> cut_{false};      // the presentation it found open was ended
    // The setting kept: none; in force (or sent, its answer not yet read); undone while the
    // program is stopped; undone for good.
    enum class Setting { none, inForce, undoneForStop, undone };
    std::atomic<Setting> setting_{Setting::none};
    char change_[32] = {}, undo_[32] = {};
    int settingLimitMs_ = 0;
    std::atomic<unsigned> resizes_{0};
    unsigned resizesLooked_ = 0;  // the count and the size at the last look
    Size sizeLooked_;
    bool gone_ = false;
    bool paintingModes_ = false;  // beginPaint() changed the modes; endPaint() changes them back
};
