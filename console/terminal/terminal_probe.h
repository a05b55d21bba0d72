// What the terminal can show, as it says itself: asked once, when the canvas is made.
#pragma once

#include <string>

// Everything that can be asked of the terminal, in one write. The device attributes query
// (DA1) goes last: every terminal answers it, and in order, so its reply is the fence after
// which no other reply will come.
//  - kitty graphics: a 1 x 1 query image, answered "OK" by terminals that draw kitty images;
//    where names are given, the same from a shared memory object and from a temporary file
//    the caller made (3 bytes each), answered "OK" by a terminal on this machine that can
//    read them, with an error by one elsewhere
//  - XTSMGRAPHICS: the number of sixel colour registers, and the largest sixel image shown
//  - the text area's size in pixels (14 t) and a cell's (16 t)
//  - DA1: attribute 4 means sixel graphics
// GNU screen prints strings it does not know (the kitty query) as text: inside it (STY set),
// that query is left out.
std::string probeQueries(bool insideScreen, const char* sharedMemoryName = nullptr,
                         const char* fileName = nullptr);

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
};

// Reads the replies in `replies` (whatever arrived, in any number of pieces, with anything
// else in between); a reply cut short is not taken.
TerminalAbilities parseReplies(const std::string& replies);
