// GetConsoleWindow, GetDC and SetPixel for terminals: the window is the controlling terminal,
// its client area a surface of pixels: screen pixels where the terminal draws images (kitty
// graphics, sixel), else two to a text cell, painted in 24-bit colour.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "console/canvas_choice.h"
#include "console/encoders/halfblock_encoder.h"
#include "console/encoders/kitty_encoder.h"
#include "console/encoders/kitty_local_encoder.h"
#include "console/encoders/sixel_encoder.h"
#include "console/presenter.h"
#include "console/surface/surface.h"
#include "console/terminal/image_handover.h"
#include "console/terminal/signal_cleanup.h"
#include "console/terminal/terminal.h"
#include "console/terminal/terminal_probe.h"
#include "platform/win32.h"

namespace {

// What the terminal has at most, once the picture is painted, to take the image objects it
// was handed before the rest are removed (it takes them within milliseconds; this only
// matters for one that never does).
constexpr std::chrono::milliseconds takeLimit(250);

}  // namespace

// The window: the terminal, with the image objects handed to it, and from the start (the
// terminal is asked questions first thing) the signal handlers that restore both.
struct HWND__ {
    explicit HWND__(std::unique_ptr<Terminal> opened)
        : terminal(std::move(opened)), signals(*terminal, handover)
    {
    }
    ~HWND__()  // while the signal handlers are still there
    {
        terminal->undoSetting();
        handover.close(takeLimit);
    }

    std::unique_ptr<Terminal> terminal;
    ImageHandover handover;
    SignalCleanup signals;
};

namespace {

std::unique_ptr<Encoder> encoderFor(const CanvasChoice& choice, ImageHandover& handover)
{
    // Image numbers of this process's own, so that another program's images stay.
    const std::uint32_t imageIds = 0x40000000u + (std::uint32_t(getpid()) & 0xFFFF) * 0x2000u;
    switch (choice.kind) {
    case CanvasChoice::Kind::kitty:
        if (choice.transfer == CanvasChoice::Transfer::sharedMemory)
            return std::make_unique<KittyLocalEncoder>(
                handover, ImageHandover::Medium::sharedMemory, imageIds);
        if (choice.transfer == CanvasChoice::Transfer::temporaryFile)
            return std::make_unique<KittyLocalEncoder>(
                handover, ImageHandover::Medium::temporaryFile, imageIds);
        return std::make_unique<KittyEncoder>(imageIds);
    case CanvasChoice::Kind::sixel:
        return std::make_unique<SixelEncoder>(choice.registers, choice.maxWidth, choice.maxHeight);
    case CanvasChoice::Kind::halfBlocks:
        break;
    }
    return std::make_unique<HalfBlockEncoder>();
}

// An object of 3 bytes (one black pixel) for the question whether the terminal can read it;
// null where none could be made.
const char* probeObject(ImageHandover& handover, ImageHandover::Medium medium)
{
    ImageHandover::Object object;
    if (!handover.create(medium, 3, object))
        return nullptr;
    const unsigned char black[3] = {0, 0, 0};
    const bool written = ImageHandover::write(object, black, sizeof black);
    ImageHandover::finish(object);
    if (!written) {
        handover.remove(object.name);
        return nullptr;
    }
    return object.name;
}

}  // namespace

// Members go in the order they are made; they are undone in reverse: the presenter shows the
// last pixels and stops, then the surface goes.
struct HDC__ {
    HDC__(HWND window, const CanvasChoice& choice)
        : surface(choice.width, choice.height)
    {
        if (window)
            presenter.reset(new Presenter(*window->terminal, surface,
                                          encoderFor(choice, window->handover), choice.cells));
    }
    Surface surface;
    std::unique_ptr<Presenter> presenter;
};

namespace {

// A terminal that never answers costs at most this, once: 230 ms, a quarter of a second in all
// with the painting. Where the terminal is at the other end of an ssh session, each answer
// takes a round trip (150-300 ms across oceans, more through a phone): up to 2 s there. Every
// terminal answers DA1, so the longer wait costs only where nothing answers at all. A second
// write goes only to a terminal that answered the first, and has as long again: its round
// trip takes as long as the first one's, on a slow link as on a loaded machine. (Sanitized
// builds, many times slower, are built to wait longer.)
constexpr std::chrono::milliseconds localLimit(VIEWER_PROBE_LIMIT_MS);
constexpr std::chrono::milliseconds remoteLimit(VIEWER_REMOTE_PROBE_LIMIT_MS);

bool firstAnswered(const std::string& replies)
{
    return parseReplies(replies).answered;
}

bool secondAnswered(const std::string& replies)
{
    return parseReplies(replies).statusReported;
}

// What the terminal shows, in one write of questions or, where the kitty questions must wait
// for the first answers or the terminal can have more colour registers, two.
TerminalAbilities askTerminal(Terminal& terminal, ImageHandover& handover)
{
    const std::chrono::milliseconds limit = sessionIsRemote(std::getenv) ? remoteLimit : localLimit;
    const KittyQuestions kitty =
        whenToAskKitty(std::getenv("TERM"), std::getenv("STY") != nullptr);
    const char* sharedMemory = nullptr;
    const char* file = nullptr;
    auto makeObjects = [&] {
        sharedMemory = probeObject(handover, ImageHandover::Medium::sharedMemory);
        file = probeObject(handover, ImageHandover::Medium::temporaryFile);
    };
    if (kitty == KittyQuestions::first)
        makeObjects();
    TerminalAbilities abilities = parseReplies(terminal.ask(
        firstQuestions(kitty == KittyQuestions::first, sharedMemory, file).c_str(),
        firstAnswered, limit));

    const bool kittyNext =
        kitty == KittyQuestions::second && abilities.answered && !printsUnknownStrings(abilities);
    const bool sixel =
        chooseCanvas(terminal.size(), abilities).kind == CanvasChoice::Kind::sixel;
    const int registers = sixel ? registersToAskFor(abilities) : 0;
    if (kittyNext || registers > 0) {
        if (kittyNext)
            makeObjects();
        // From the moment it is sent, every way out sets the terminal's own number back.
        if (registers > 0)
            terminal.keepSetting(registersSetting(registers),
                                 registersSetting(abilities.colourRegisters), limit);
        const TerminalAbilities second = parseReplies(terminal.ask(
            secondQuestions(kittyNext, registers, sharedMemory, file).c_str(), secondAnswered,
            limit));
        // Refused (xterm past its maximum): nothing to set back. Any other answer, or none,
        // and the terminal's own number is set back at the end, whatever it did.
        if (registers > 0 && second.statusReported && second.colourRegisters <= 0)
            terminal.forgetSetting();
        abilities = withSecondAnswers(abilities, second, registers > 0);
    }
    // A terminal that read them has removed them already; one that did not never will.
    for (const char* object : {sharedMemory, file})
        if (object)
            handover.remove(object);
    return abilities;
}

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
        const TerminalAbilities abilities = askTerminal(terminal, window->handover);
        terminal.keepCursorHidden(abilities.cursor == TerminalAbilities::Cursor::hidden);
        consoleCanvas.reset(new HDC__(window, chooseCanvas(terminal.size(), abilities)));
    }
    return consoleCanvas.get();
}

COLORREF SetPixel(HDC canvas, int x, int y, COLORREF colour)
{
    if (!canvas || !canvas->surface.set(x, y, colour))
        return CLR_INVALID;
    return colour & 0xFFFFFF;
}
