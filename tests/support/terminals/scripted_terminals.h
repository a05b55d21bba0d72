// Answers that real terminals give to the viewer's questions, for a pseudo-terminal to give:
// each takes a piece of what the program wrote and returns the reply (or "").
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "image_screen.h"
#include "pty_session.h"

// Every one of them answers the operating status report (DSR 5) as real terminals do.

// kitty 0.26 elsewhere (over ssh): graphics OK, but it cannot read this machine's shared memory
// or files, and says so.
std::string kittyTerminal(const std::string& piece);
std::string sixelTerminal(const std::string& piece);  // xterm -ti vt340, 1024 registers
// The same with another number of colour registers (xterm's numColorRegisters), which can be
// set up to `maximum` (xterm.js: 256 of 4096), answering each setting with the number then in
// force, or a failure past the maximum, as xterm does; `refuses`: it answers every setting with
// a failure. registersNow(), where given, tells the number in force at any time.
PtySession::Responder sixelTerminalWith(int registers, int maximum = 0, bool refuses = false,
                                        std::shared_ptr<int> registersNow = nullptr);
// `terminal`, but for the device attributes reply to its first write, which it sends again,
// unasked, just before its answers to the next one, in a write of its own (a stray or
// repeated DA1 reply).
PtySession::Responder repeatingFirstFence(PtySession::Responder terminal);
// rxvt-unicode 9.30: it says who it is (DA2) and that its cursor is shown; it would print
// the kitty questions as text.
std::string rxvtTerminal(const std::string& piece);
// A plain terminal whose cursor a script has hidden before the program started.
std::string hiddenCursorTerminal(const std::string& piece);

// kitty 0.26 on this machine: it reads the shared memory objects and temporary files it is
// handed as the commands arrive, and removes them as kitty does; what it read is kept for the
// screen model.
class LocalKittyTerminal {
public:
    enum class Reads {
        everything,
        filesOnly,    // shared memory is refused (another namespace), files are not
        queriesOnly,  // it answers the questions but never takes an image object
    };
    explicit LocalKittyTerminal(Reads reads = Reads::everything);
    PtySession::Responder responder();
    ImageScreen::ObjectReader reader() const;
    int objectsTaken() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// The shared memory objects and temporary files that process `pid` made for a terminal and
// that are still there.
std::vector<std::string> objectsLeftBy(pid_t pid);
