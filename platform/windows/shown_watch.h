// Whether a window still shows what was painted on it. A classic console window is the
// console's to repaint: its text rows drawn again around the cursor, text scrolled, another
// window covering it and going away (where nothing keeps a covered window's pixels). Nothing
// tells a program that draws on it from outside, so it looks: a column of the window read back
// now and then, and the rows where it differs from the surface shown again.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "console/surface/surface.h"
#include "console/terminal/painting_terminal.h"

class ShownWatch {
public:
    // Reads pixel rows [top, bottom) of window column `column` into out[0, bottom - top), as a
    // 32-bit DIB holds them (0x00RRGGBB). A pixel it cannot read (outside what the window shows)
    // keeps what `out` holds on entry, which is never the colour painted there. False where
    // nothing could be read.
    using ReadColumn =
        std::function<bool(int column, int top, int bottom, std::uint32_t* out)>;

    // How far each channel read back may lie from the one painted and still count as shown:
    // 0 on a screen of 24-bit colour, more on one of fewer bits (which rounds colours).
    explicit ShownWatch(int tolerance) : tolerance_(tolerance) {}

    // Once a look, at its start; `showed`: whether the look before showed anything. Returns the
    // rows, from the first to the last, where the window shows something else than the painted
    // pixels, in the window's `width` x `height` pixels; none where it shows them all or was
    // not looked at this time.
    //
    // Looks made while pixels are being shown are not checked: those are the painting's own.
    // After two quiet looks, one column is read back, a different one each time, spread over
    // the painted columns so that every part of a picture is looked at soon. A text row
    // repainted across the window is found at once, another window's trace as soon as a
    // column falls in it. Rows lost again right after they were shown again (a window still
    // covering them) are looked at less and less often, every 8 quiet looks at the least,
    // until the window shows them.
    PaintingTerminal::PixelRows look(const Surface& surface, int width, int height, bool showed,
                                     const ReadColumn& read);

private:
    bool shows(std::uint32_t read, std::uint32_t painted) const;

    const int tolerance_;
    int quiet_ = 0;     // looks since one that showed something, or since the last check
    int interval_ = 2;  // quiet looks between two checks
    bool lostBefore_ = false;
    std::uint32_t phase_ = 0;  // where in the painted columns the next check looks
    std::vector<std::uint32_t> read_;
};
