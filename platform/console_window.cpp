// GetConsoleWindow, GetDC and SetPixel for terminals: the window is the controlling terminal,
// its client area a surface of pixels, two to a text cell, painted in 24-bit colour.
#include <algorithm>
#include <memory>

#include "platform/halfblock_encoder.h"
#include "platform/presenter.h"
#include "platform/signal_cleanup.h"
#include "platform/surface.h"
#include "platform/terminal.h"
#include "platform/win32.h"

struct HWND__ {
    std::unique_ptr<Terminal> terminal;
};

// Members go in the order they are made; they are undone in reverse: the presenter shows the
// last pixels and stops, then the signal handlers go, then the surface.
struct HDC__ {
    explicit HDC__(Terminal* terminal, Terminal::Size size)
        : surface(size.columns, 2 * size.rows)
    {
        if (terminal) {
            signals.reset(new SignalCleanup(*terminal));
            presenter.reset(new Presenter(*terminal, surface, std::make_unique<HalfBlockEncoder>(),
                                          CellGeometry{}));
        }
    }
    Surface surface;
    std::unique_ptr<SignalCleanup> signals;
    std::unique_ptr<Presenter> presenter;
};

namespace {

// The surface follows the window's size when the canvas is made. A terminal that does not say
// gets the classic 80 x 24; one that claims an absurd size is held to a surface of at most
// 4000 x 4000 pixels (64 MB).
constexpr Terminal::Size unknownSize{80, 24};
constexpr int maxColumns = 4000;
constexpr int maxRows = 2000;

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
    static HDC__ nowhere(nullptr, Terminal::Size{});
    if (!window)
        return &nowhere;

    if (!consoleCanvas) {
        Terminal::Size size = window->terminal->size();
        if (size.columns <= 0 || size.rows <= 0)
            size = unknownSize;
        size.columns = std::min(size.columns, maxColumns);
        size.rows = std::min(size.rows, maxRows);
        consoleCanvas.reset(new HDC__(window->terminal.get(), size));
    }
    return consoleCanvas.get();
}

COLORREF SetPixel(HDC canvas, int x, int y, COLORREF colour)
{
    if (!canvas || !canvas->surface.set(x, y, colour))
        return CLR_INVALID;
    return colour & 0xFFFFFF;
}
