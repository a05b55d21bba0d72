// What the terminal can show, as it says itself: asked once, when the canvas is made.
#pragma once

#include <string>

// The kitty graphics questions are application program commands (APC strings). Most terminals
// ignore strings they do not know, as they should; a few print them as text across the screen:
// rxvt-unicode, GNU screen, the Linux console. So they are asked at once only of a terminal
// that says it is kitty (TERM=xterm-kitty); of one that says it is a printer of such strings,
// never; of any other, in a second write, once the first answers tell that it is none of those.
enum class KittyQuestions { first, second, never };
KittyQuestions whenToAskKitty(const char* term, bool insideScreen);

// The questions of the first write, the device attributes query (DA1) last: every terminal
// answers it, and in order, so its reply is the fence after which no other reply will come.
//  - the kitty questions (below), where `withKitty`
//  - XTSMGRAPHICS: the number of sixel colour registers, and the largest sixel image shown
//  - the text area's size in pixels (14 t) and a cell's (16 t)
//  - DECRQM for mode 25: whether the cursor is shown
//  - DA2: which terminal it is (rxvt-unicode and GNU screen say so)
//  - DA1: attribute 4 means sixel graphics
std::string firstQuestions(bool withKitty, const char* sharedMemoryName = nullptr,
                           const char* fileName = nullptr);

// The kitty questions, then DA1: a 1 x 1 query image, answered "OK" by terminals that draw kitty
// images; where names are given, the same from a shared memory object and from a temporary
// file the caller made (3 bytes each), answered "OK" by a terminal on this machine that can
// read them, with an error by one elsewhere.
std::string kittyQuestions(const char* sharedMemoryName = nullptr, const char* fileName = nullptr);

struct TerminalAbilities {
    bool answered = false;  // the DA1 reply came: everything before it is in
    bool kittyGraphics = false;
    bool kittySharedMemory = false;  // it read the shared memory object
    bool kittyFiles = false;         // it read the temporary file
    bool sixel = false;
    int colourRegisters = 0;  // 0: not said
    int sixelMaxWidth = 0, sixelMaxHeight = 0;
    int textWidth = 0, textHeight = 0;  // pixels, 0: not said
    int cellWidth = 0, cellHeight = 0;
    enum class Cursor { unknown, shown, hidden } cursor = Cursor::unknown;
    int deviceClass = -1;  // DA1's first attribute (6: a VT102, as the Linux console says)
    int terminalType = -1;  // DA2's first number (85: rxvt-unicode, 83: GNU screen)
};

// Whether the terminal that gave these first answers would print the kitty questions as text.
bool printsUnknownStrings(const TerminalAbilities& first);

// Reads the replies in `replies` (whatever arrived, in any number of pieces, with anything
// else in between); a reply cut short is not taken.
TerminalAbilities parseReplies(const std::string& replies);
