// Where the Windows program paints, from what its console window reports.
#include "platform/windows/paint_target.h"

#include <gtest/gtest.h>

namespace {

TEST(PaintTarget, GdiOnlyOnAConsoleWindowThatShowsIt)
{
    const struct {
        const char* host;
        ConsoleWindowFacts window;
        bool gdi;
    } cases[] = {
        {"classic console", {"ConsoleWindowClass", true, false, 640, 400}, true},
        {"wine's console window", {"WineConsoleClass", true, false, 640, 400}, true},
        {"classic console, minimised", {"ConsoleWindowClass", true, true, 0, 0}, false},
        {"classic console, hidden", {"ConsoleWindowClass", false, false, 640, 400}, false},
        {"classic console, no client area", {"ConsoleWindowClass", true, false, 640, 0}, false},
        {"pseudo-console, hidden", {"PseudoConsoleWindow", false, false, 0, 0}, false},
        {"pseudo-console shown with its terminal", {"PseudoConsoleWindow", true, false, 640, 400},
         false},
        {"wine's pseudo-console", {"WineConsoleClass", false, false, 91, 0}, false},
        {"no console window", {"", false, false, 0, 0}, false},
        {"some other window", {"Notepad", true, false, 640, 400}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(paintsWithGdi(c.window), c.gdi) << c.host;
}

}  // namespace
