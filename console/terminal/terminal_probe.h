// What the terminal can show, as it says itself: asked once, when the canvas is made.
#pragma once

#include <functional>
#include <string>

// The kitty graphics questions are application program commands (APC strings). Most terminals
// ignore strings they do not know, as they should; a few print them as text across the screen:
// rxvt-unicode, GNU screen, the Linux console. So they are asked at once only of a terminal
// whose TERM names one known to read such strings (kitty, and the others that draw kitty
// images or were seen to ignore them); of one that says it is a printer of such strings,
// never; of any other, in a second write, once the first answers tell that it is none of those.
enum class KittyQuestions { first, second, never };
KittyQuestions whenToAskKitty(const char* term, bool insideScreen);

// Whether the terminal lies at the other end of a network link (the program runs in an ssh
// session: sshd sets SSH_CONNECTION, SSH_CLIENT and SSH_TTY), so that every answer takes a
// round trip across it. `variable` reads the environment.
bool sessionIsRemote(const std::function<const char*(const char*)>& variable);

// The questions of the first write, the device attributes query (DA1) last: every terminal
// answers it, and in order, so its reply is the fence after which no other reply will come.
//  - the kitty questions (below), where `withKitty`
//  - XTSMGRAPHICS: the number of sixel colour registers, then the most it can be set to (the
//    replies do not say which question they answer: they are told apart by their order), and
//    the largest sixel image shown
//  - the text area's size in pixels (14 t) and a cell's (16 t)
//  - DECRQM for mode 25: whether the cursor is shown
//  - DA2: which terminal it is (rxvt-unicode and GNU screen say so)
//  - DA1: attribute 4 means sixel graphics
std::string firstQuestions(bool withKitty, const char* sharedMemoryName = nullptr,
                           const char* fileName = nullptr);

// The kitty questions: a 1 x 1 query image, answered "OK" by terminals that draw kitty images;
// where names are given, the same from a shared memory object and from a temporary file the
// caller made (3 bytes each), answered "OK" by a terminal on this machine that can read them,
// with an error by one elsewhere.
std::string kittyQuestions(const char* sharedMemoryName = nullptr, const char* fileName = nullptr);

// The second write, where there is one: the kitty questions (where `withKitty`), the number of
// colour registers set (where `registers` > 0), and a fence of its own, the operating status
// report (DSR 5, answered "ESC [ 0 n" by every terminal of the VT100 line): an answer of the
// first write that comes twice, or a stray one, is then never taken for the end of this one.
std::string secondQuestions(bool withKitty, int registers, const char* sharedMemoryName = nullptr,
                            const char* fileName = nullptr);

// XTSMGRAPHICS: sets the number of sixel colour registers. The terminal answers it with the
// number now in force (or an error), like the question that reads it.
std::string registersSetting(int registers);

struct TerminalAbilities {
    bool answered = false;  // the DA1 reply came: everything before it is in
    bool statusReported = false;  // the DSR 5 reply came: the second write's fence
    bool kittyGraphics = false;
    bool kittySharedMemory = false;  // it read the shared memory object
    bool kittyFiles = false;         // it read the temporary file
    bool sixel = false;
    int colourRegisters = 0;     // the number in force; 0: not said
    int maxColourRegisters = 0;  // the most it can be set to; 0: not said
    int sixelMaxWidth = 0, sixelMaxHeight = 0;
    int textWidth = 0, textHeight = 0;  // pixels, 0: not said
    int cellWidth = 0, cellHeight = 0;
    enum class Cursor { unknown, shown, hidden } cursor = Cursor::unknown;
    int deviceClass = -1;  // DA1's first attribute (6: a VT102, as the Linux console says)
    int terminalType = -1;  // DA2's first number (85: rxvt-unicode, 83: GNU screen)
};

// Whether the terminal that gave these first answers would print the kitty questions as text.
bool printsUnknownStrings(const TerminalAbilities& first);

// How many colour registers to ask a sixel terminal for, from its first answers; 0 for none.
// The picture streams in after the questions, so what it needs is not known yet: a terminal
// that can have more registers than it has now is set to its maximum, up to 4096. Each sixel
// image defines only the colours it uses, so a picture of few colours costs nothing more, and
// one of up to 4096 colours an image is exact (xterm.js starts at 256 of its 4096: a picture of
// 3,000 colours would otherwise be reduced to 256). Photographs hold more colours than any
// number of registers, and each fourfold of registers doubles their bytes for some 3.5 dB (a
// 1280 x 720 one: 2.0 MB at 1024, 3.9 MB at 4096, 7.5 MB at 16384): 4096 covers the
// terminals known to start below their maximum, without sending a photograph at twice those
// bytes where one offers more (WezTerm: 65536). Where its own number is not known it could not
// be set back, and is left alone; so is a terminal that draws kitty images, used instead.
int registersToAskFor(const TerminalAbilities& first);

// The first answers with what the second write brought: the kitty answers, and the number of
// registers now in force where they were set. Anything else it brought (a repeated DA1 reply)
// does not change what the first answers said.
TerminalAbilities withSecondAnswers(TerminalAbilities first, const TerminalAbilities& second,
                                    bool registersSet);

// Reads the replies in `replies` (whatever arrived, in any number of pieces, with anything
// else in between); a reply cut short is not taken.
TerminalAbilities parseReplies(const std::string& replies);
