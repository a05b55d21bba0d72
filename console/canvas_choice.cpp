#include "console/canvas_choice.h"

#include <algorithm>

namespace {

// A terminal that does not say its size gets the classic 80 x 24; one that claims an absurd
// size is held to a surface of at most 4096 x 4096 pixels (64 MB).
constexpr int unknownColumns = 80, unknownRows = 24;
constexpr int maxPixels = 4096;

}  // namespace

CanvasChoice chooseCanvas(PaintingTerminal::Size size, const TerminalAbilities& abilities)
{
    CanvasChoice choice;
    if (size.columns <= 0 || size.rows <= 0)
        size.columns = unknownColumns, size.rows = unknownRows;
    choice.cells.columns = size.columns;
    choice.cells.rows = size.rows;

    // A cell's size in pixels: from the window's size in pixels (the kernel's, else the
    // terminal's reply), else from the terminal's reply for a cell. 0 is unknown.
    const int width = size.width > 0 ? size.width : abilities.textWidth;
    const int height = size.height > 0 ? size.height : abilities.textHeight;
    int cellWidth = width > 0 ? width / size.columns : abilities.cellWidth;
    int cellHeight = height > 0 ? height / size.rows : abilities.cellHeight;
    const bool pixelsKnown = cellWidth > 0 && cellHeight > 0 && cellWidth <= maxPixels &&
                             cellHeight <= maxPixels;

    if (pixelsKnown && abilities.kittyGraphics) {
        choice.kind = CanvasChoice::Kind::kitty;
        if (abilities.kittySharedMemory)
            choice.transfer = CanvasChoice::Transfer::sharedMemory;
        else if (abilities.kittyFiles)
            choice.transfer = CanvasChoice::Transfer::temporaryFile;
    } else if (pixelsKnown && abilities.sixel) {
        choice.kind = CanvasChoice::Kind::sixel;
        if (abilities.colourRegisters > 0)
            choice.registers = std::min(abilities.colourRegisters, 65536);
        if (abilities.sixelMaxWidth > 0 && abilities.sixelMaxHeight > 0) {
            choice.maxWidth = abilities.sixelMaxWidth;
            choice.maxHeight = abilities.sixelMaxHeight;
        }
    } else {
        cellWidth = 1, cellHeight = 2;
    }
    choice.cells.cellWidth = cellWidth;
    choice.cells.cellHeight = cellHeight;
    choice.width = std::min(size.columns * cellWidth, maxPixels);
    choice.height = std::min(size.rows * cellHeight, maxPixels);
    return choice;
}
