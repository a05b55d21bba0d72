// Which canvas a terminal gets, from its size and what it answered: true pixels where it can
// show them (kitty graphics, else sixel), text cells of two pixels each where it cannot.
#pragma once

#include "console/encoders/encoder.h"
#include "console/terminal/painting_terminal.h"
#include "console/terminal/terminal_probe.h"

struct CanvasChoice {
    enum class Kind { halfBlocks, kitty, sixel } kind = Kind::halfBlocks;
    // How kitty images reach the terminal: through it, or (a terminal on this machine) in
    // shared memory, else in temporary files.
    enum class Transfer { direct, sharedMemory, temporaryFile } transfer = Transfer::direct;
    CellGeometry cells;     // pixels a cell holds; the window in cells when the canvas is made
    int width = 0;          // the surface, in pixels
    int height = 0;
    int registers = 256;    // sixel colour registers
    int maxWidth = 1000;    // the largest sixel image shown
    int maxHeight = 1000;
};

CanvasChoice chooseCanvas(PaintingTerminal::Size size, const TerminalAbilities& abilities);
