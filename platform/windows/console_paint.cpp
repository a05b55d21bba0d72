#include "platform/windows/console_paint.h"

#include <chrono>
#include <cstdlib>
#include <memory>

#include "console/canvas_choice.h"
#include "console/encoders/halfblock_encoder.h"
#include "console/encoders/sixel_encoder.h"
#include "console/presenter.h"
#include "console/surface/surface.h"
#include "console/terminal/terminal_probe.h"
#include "console/terminal_windows/windows_terminal.h"
#include "platform/windows/blit_encoder.h"
#include "platform/windows/gdi_window.h"
#include "platform/windows/paint_target.h"

namespace {

// A terminal that never answers costs at most this, once, as on every other system: longer
// in an ssh session (Windows' own sshd sets SSH_CONNECTION and SSH_CLIENT too).
constexpr std::chrono::milliseconds localLimit(VIEWER_PROBE_LIMIT_MS);
constexpr std::chrono::milliseconds remoteLimit(VIEWER_REMOTE_PROBE_LIMIT_MS);

ConsoleWindowFacts factsOf(HWND window)
{
    ConsoleWindowFacts facts;
    if (!window)
        return facts;
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    facts.className = name;
    facts.visible = IsWindowVisible(window);
    facts.minimised = IsIconic(window);
    RECT client{};
    if (GetClientRect(window, &client)) {
        facts.clientWidth = client.right - client.left;
        facts.clientHeight = client.bottom - client.top;
    }
    return facts;
}

bool answered(const std::string& replies)
{
    return parseReplies(replies).answered;
}

// Sixel where the terminal says it draws it (Windows Terminal 1.22 and later, which also
// says its cell size), else half blocks in 24-bit colour (the inbox pseudo-console of
// Windows 10 and 11, which answers for the terminal itself and passes no images on). Kitty
// images are not asked for: no Windows terminal answers for them.
std::unique_ptr<Encoder> encoderFor(const CanvasChoice& choice)
{
    if (choice.kind == CanvasChoice::Kind::sixel)
        return std::make_unique<SixelEncoder>(choice.registers, choice.maxWidth, choice.maxHeight);
    return std::make_unique<HalfBlockEncoder>();
}

// The canvas, on the terminal or on the console window: made at the first call that needs it,
// undone when the program ends (the presenter shows the last pixels and stops, then the
// window's painting goes, then the surface, then the console gets its modes back), in reverse
// order of these declarations.
HWND__ canvasWindow;
HDC__ canvasContext;
HDC__ nowhere;  // for no window: every pixel lies outside it
std::unique_ptr<WindowsTerminal> terminal;
std::unique_ptr<Surface> surface;
std::unique_ptr<GdiWindow> gdiWindow;
std::unique_ptr<Presenter> presenter;

// The terminal canvas: the terminal asked what it shows, the surface the size it says.
void startTerminalCanvas()
{
    const TerminalAbilities abilities =
        parseReplies(terminal->ask(firstQuestions(false).c_str(), answered,
                                   sessionIsRemote(std::getenv) ? remoteLimit : localLimit));
    terminal->keepCursorHidden(abilities.cursor == TerminalAbilities::Cursor::hidden);
    const CanvasChoice choice = chooseCanvas(terminal->size(), abilities);
    surface = std::make_unique<Surface>(choice.width, choice.height);
    presenter =
        std::make_unique<Presenter>(*terminal, *surface, encoderFor(choice), choice.cells);
}

// The console window's canvas: the surface as large as the client area is now (GDI clips
// what lies outside it), shown on the window by blits, a pixel a cell.
void startWindowCanvas(HWND window)
{
    RECT client{};
    GetClientRect(window, &client);
    const int width = client.right - client.left, height = client.bottom - client.top;
    surface = std::make_unique<Surface>(width, height);
    gdiWindow = std::make_unique<GdiWindow>(window, *surface);
    presenter = std::make_unique<Presenter>(*gdiWindow, *surface,
                                            std::make_unique<BlitEncoder>(*gdiWindow),
                                            CellGeometry{1, 1, width, height});
}

}  // namespace

HWND viewerGetConsoleWindow()
{
    static const HWND window = [] {
        const HWND console = GetConsoleWindow();
        if (paintsWithGdi(factsOf(console)))
            return console;
        terminal = WindowsTerminal::open();
        return terminal ? &canvasWindow : HWND(nullptr);
    }();
    return window;
}

HDC viewerGetDC(HWND window)
{
    if (!window)
        return &nowhere;
    if (!surface) {
        if (window == &canvasWindow)
            startTerminalCanvas();
        else
            startWindowCanvas(window);
    }
    return &canvasContext;
}

COLORREF viewerSetPixel(HDC canvas, int x, int y, COLORREF colour)
{
    if (canvas == &canvasContext)
        return surface->set(x, y, colour) ? colour & 0xFFFFFF : CLR_INVALID;
    return CLR_INVALID;  // no window, or no canvas of ours
}
