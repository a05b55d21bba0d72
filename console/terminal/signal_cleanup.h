// Leaves the terminal as it was found when a signal ends the program in the middle of painting.
#pragma once

#include <signal.h>

#include "console/terminal/image_handover.h"
#include "console/terminal/terminal.h"

// While it lives, the signals that end a program from the terminal or the system (interrupt,
// quit, hang-up, terminate) first restore the terminal, then end the program as they would
// have: the exit status still tells the shell which signal it was. Image objects the terminal
// has not taken are removed on the way. A stop from the terminal (Ctrl-Z) hands the terminal
// back as it was found for the time the program is stopped. A window resize is noted by the
// terminal, for sizes the painting would otherwise never see. Signals the program was
// started with ignored, or that someone else handles, are left alone.
class SignalCleanup {
public:
    SignalCleanup(Terminal& terminal, ImageHandover& handover);
    ~SignalCleanup();

    SignalCleanup(const SignalCleanup&) = delete;
    SignalCleanup& operator=(const SignalCleanup&) = delete;

private:
    static constexpr int signalCount = 4;
    struct sigaction previous_[signalCount];
    bool installed_[signalCount] = {};
    struct sigaction previousStop_;
    bool stopInstalled_ = false;
    struct sigaction previousResize_;
    bool resizeInstalled_ = false;
};
