// GetConsoleWindow, GetDC and SetPixel for terminals: the window is the controlling terminal,
// its client area a surface of pixels: screen pixels where the terminal draws images (kitty
// graphics, sixel), else two to a text cell, painted in 24-bit colour.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>

#include "platform/canvas_choice.h"
#include "platform/halfblock_encoder.h"
#include "platform/kitty_encoder.h"
#include "platform/presenter.h"
#include "platform/signal_cleanup.h"
#include "platform/sixel_encoder.h"
#include "platform/surface.h"
#include "platform/terminal.h"
#include "platform/terminal_probe.h"
#include "platform/win32.h"

struct HWND__ {
    std::unique_ptr<Terminal> terminal;
};

namespace {

std::unique_ptr<Encoder> encoderFor(const CanvasChoice& choice)
{
    switch (choice.kind) {
    case CanvasChoice::Kind::kitty:
        // Image numbers of this process's own, so that another program's images stay.
        return std::make_unique<KittyEncoder>(0x40000000u + (std::uint32_t(getpid()) & 0xFFFF) *
                                                                0x2000u);
    case CanvasChoice::Kind::sixel:
        return std::make_unique<SixelEncoder>(choice.registers, choice.maxWidth, choice.maxHeight);
    case CanvasChoice::Kind::halfBlocks:
        break;
    }
    return std::make_unique<HalfBlockEncoder>();
}

}  // namespace

// Members go in the order they are made; they are undone in reverse: the presenter shows the
// last pixels and stops, then the signal handlers go, then the surface.
struct HDC__ {
    HDC__(Terminal* terminal, const CanvasChoice& choice)
        : surface(choice.width, choice.height)
    {
        if (terminal) {
            signals.reset(new SignalCleanup(*terminal));
            presenter.reset(
                new Presenter(*terminal, surface, encoderFor(choice), choice.cells));
        }
    }
    Surface surface;
    std::unique_ptr<SignalCleanup> signals;
    std::unique_ptr<Presenter> presenter;
};

namespace {

// A terminal that never answers costs at most this, once (a quarter of a second in all,
// with the painting).
constexpr std::chrono::milliseconds probeLimit(230);

// The program's one window and its one canvas live until the program ends: when it returns
// from main, the canvas goes first (its last pixels shown, the terminal restored), then the
// window. They are released in that order because they are declared in this one.
std::unique_ptr<HWND__> consoleWindow;
std::unique_ptr<HDC__> consoleCanvas;

}  // namespace

HWND GetConsoleWindow()
{
    if (!consoleWindow) {
        std::unique_ptr<Terminal> terminal = Terminal::open();
        if (!terminal)
            return nullptr;
        consoleWindow.reset(new HWND__{std::move(terminal)});
    }
    return consoleWindow.get();
}

HDC GetDC(HWND window)
{
    // Without a window, a canvas that paints nothing: every pixel lies outside it.
    static HDC__ nowhere(nullptr, CanvasChoice{});
    if (!window)
        return &nowhere;

    if (!consoleCanvas) {
        Terminal& terminal = *window->terminal;
        const bool insideScreen = std::getenv("STY") != nullptr;
        const TerminalAbilities abilities = parseReplies(terminal.ask(
            probeQueries(insideScreen).c_str(),
            [](const std::string& replies) { return parseReplies(replies).answered; },
            probeLimit));
        consoleCanvas.reset(new HDC__(&terminal, chooseCanvas(terminal.size(), abilities)));
    }
    return consoleCanvas.get();
}

COLORREF SetPixel(HDC canvas, int x, int y, COLORREF colour)
{
    if (!canvas || !canvas->surface.set(x, y, colour))
        return CLR_INVALID;
    return colour & 0xFFFFFF;
}
