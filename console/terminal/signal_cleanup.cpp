#include "console/terminal/signal_cleanup.h"

#include <atomic>
#include <cerrno>

namespace {

constexpr int handled[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

std::atomic<Terminal*> painted{nullptr};
std::atomic<ImageHandover*> handedOver{nullptr};

void restoreAndEnd(int signal)
{
    const int interruptedError = errno;  // the interrupted code may be about to read it
    if (Terminal* terminal = painted.load())
        terminal->restoreAfterSignal();
    if (ImageHandover* handover = handedOver.load())
        handover->removeAllFromHandler();
    // The handler was installed to run once (SA_RESETHAND), so the signal's own action is back
    // in place; raised again, it is delivered when this handler returns and ends the program.
    raise(signal);
    errno = interruptedError;
}

struct sigaction stopAction;

// Ctrl-Z: the terminal as it was found for the time the program is stopped, then back to
// painting (the presentation the stop cut short is shown again, whole).
void stopAndContinue(int)
{
    const int interruptedError = errno;
    Terminal* terminal = painted.load();
    if (terminal)
        terminal->suspendForStop();
    // Stop as the signal's own action would: default, and let through (it is blocked while
    // its handler runs), so the shell sees a job stopped by SIGTSTP. Execution goes on here
    // after SIGCONT.
    signal(SIGTSTP, SIG_DFL);
    sigset_t stop, previous;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    raise(SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, &previous);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    sigaction(SIGTSTP, &stopAction, nullptr);
    if (terminal)
        terminal->resumeAfterStop();
    errno = interruptedError;
}

void noteResize(int)
{
    const int interruptedError = errno;
    if (Terminal* terminal = painted.load())
        terminal->noteResizeFromHandler();
    errno = interruptedError;
}

}  // namespace

static_assert(sizeof handled / sizeof handled[0] == 4, "one slot a signal");

SignalCleanup::SignalCleanup(Terminal& terminal, ImageHandover& handover)
{
    painted.store(&terminal);
    handedOver.store(&handover);
    struct sigaction action {};
    action.sa_handler = restoreAndEnd;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signal : handled)  // one cleanup at a time, whichever signal came first
        sigaddset(&action.sa_mask, signal);

    for (int i = 0; i < signalCount; ++i) {
        if (sigaction(handled[i], nullptr, &previous_[i]) != 0 ||
            previous_[i].sa_handler != SIG_DFL)
            continue;
        installed_[i] = sigaction(handled[i], &action, nullptr) == 0;
    }

    // A stop from the terminal; left alone where it is ignored (a shell without job control).
    stopAction.sa_handler = stopAndContinue;
    stopAction.sa_flags = SA_RESTART;
    sigfillset(&stopAction.sa_mask);  // nothing else runs while the terminal is handed back
    if (sigaction(SIGTSTP, nullptr, &previousStop_) == 0 && previousStop_.sa_handler == SIG_DFL)
        stopInstalled_ = sigaction(SIGTSTP, &stopAction, nullptr) == 0;

    // Its default is to be ignored: a handler of ours changes nothing else.
    struct sigaction resize {};
    resize.sa_handler = noteResize;
    resize.sa_flags = SA_RESTART;  // a read or write it interrupts goes on
    sigemptyset(&resize.sa_mask);
    if (sigaction(SIGWINCH, nullptr, &previousResize_) == 0 && previousResize_.sa_handler == SIG_DFL)
        resizeInstalled_ = sigaction(SIGWINCH, &resize, nullptr) == 0;
}

SignalCleanup::~SignalCleanup()
{
    for (int i = 0; i < signalCount; ++i)
        if (installed_[i])
            sigaction(handled[i], &previous_[i], nullptr);
    if (stopInstalled_)
        sigaction(SIGTSTP, &previousStop_, nullptr);
    if (resizeInstalled_)
        sigaction(SIGWINCH, &previousResize_, nullptr);
    painted.store(nullptr);
    handedOver.store(nullptr);
}
