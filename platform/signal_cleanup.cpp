#include "platform/signal_cleanup.h"

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
}

SignalCleanup::~SignalCleanup()
{
    for (int i = 0; i < signalCount; ++i)
        if (installed_[i])
            sigaction(handled[i], &previous_[i], nullptr);
    painted.store(nullptr);
    handedOver.store(nullptr);
}
