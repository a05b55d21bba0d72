// Where the Windows program's painting goes: onto its console window through GDI, or onto
// the terminal that hosts the console. Decided once, from what the console window reports.
#pragma once

#include <string>

struct ConsoleWindowFacts {
    std::string className;  // "" where there is no console window
    bool visible = false;
    bool minimised = false;
    int clientWidth = 0, clientHeight = 0;  // the client area, in pixels
};

// True where GDI drawing on the console window is seen; false where the terminal canvas is
// the way to paint.
bool paintsWithGdi(const ConsoleWindowFacts& window);
