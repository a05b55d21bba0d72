#include "platform/windows/paint_target.h"

bool paintsWithGdi(const ConsoleWindowFacts& window)
{
    // The classic console host's window ("ConsoleWindowClass") shows what GDI draws on it,
    // and so does wine's console window. A pseudo-console's ("PseudoConsoleWindow") only
    // stands in for the terminal's own, which never shows it: hidden and 0 x 0, or, since
    // 2024, shown while the terminal is, still showing nothing drawn on it. Its class is what
    // tells it apart; whether it is visible does not. Wine's pseudo-console window has the
    // class of its console window but is hidden and has no client area. A minimised window,
    // or one without a client area, shows nothing either.
    const bool console =
        window.className == "ConsoleWindowClass" || window.className == "WineConsoleClass";
    return console && window.visible && !window.minimised && window.clientWidth > 0 &&
           window.clientHeight > 0;
}
