#include "console/terminal_windows/windows_terminal.h"

#include <cstring>

#include "console/terminal_windows/key_replies.h"

namespace {

// Replies are a few dozen bytes; a console that sends more than this is not listened to.
constexpr std::size_t maxReplies = 1 << 16;

// One WriteFile takes at most this much, ending on a whole UTF-8 character: the control
// handler gets its turn between pieces, and the console never sees half a character.
constexpr std::size_t maxWrite = 1 << 15;

// The terminal the control handler restores.
std::atomic<WindowsTerminal*> current{nullptr};

BOOL WINAPI onControl(DWORD)
{
    if (WindowsTerminal* terminal = current.load())
        terminal->restoreFromHandler();
    return FALSE;  // the next handler, the system's, ends the program as it would have
}

// The standard handle where it is a console whose modes it may set, else the console's own by
// name; null where there is none. `owned`: whether it was opened here. (A console redirected
// as "<CONIN$" may have been opened for reading only, which wine does not let set modes.)
HANDLE consoleHandle(DWORD standard, const wchar_t* name, bool& owned)
{
    owned = false;
    HANDLE handle = GetStdHandle(standard);
    DWORD mode;
    if (handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) &&
        SetConsoleMode(handle, mode))
        return handle;
    handle = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    owned = true;
    return handle;
}

// How much of data[0, size) goes in one write: at most `limit` bytes, ending on a whole
// UTF-8 character.
std::size_t wholeCharacters(const char* data, std::size_t size, std::size_t limit)
{
    if (size <= limit)
        return size;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(data[end]) & 0xC0) == 0x80)
        --end;
    return end > 0 ? end : limit;
}

}  // namespace

std::unique_ptr<WindowsTerminal> WindowsTerminal::open()
{
    bool ownsOutput = false, ownsInput = false;
    const HANDLE output = consoleHandle(STD_OUTPUT_HANDLE, L"CONOUT$", ownsOutput);
    if (!output)
        return nullptr;
    const HANDLE input = consoleHandle(STD_INPUT_HANDLE, L"CONIN$", ownsInput);
    std::unique_ptr<WindowsTerminal> terminal(
        new WindowsTerminal(output, ownsOutput, input, ownsInput));
    // VT sequences interpreted, or passed on by a pseudo-console to its terminal; a line feed
    // only moves down, as on any terminal. A console that takes no VT (before Windows 10)
    // would show the sequences as text: no canvas there.
    if (!SetConsoleMode(output, terminal->outputMode_ | ENABLE_PROCESSED_OUTPUT |
                                    ENABLE_VIRTUAL_TERMINAL_PROCESSING |
                                    DISABLE_NEWLINE_AUTO_RETURN))
        return nullptr;
    // Each byte written is taken for a character of the output code page: UTF-8, so that a
    // half block is one character and not three.
    SetConsoleOutputCP(CP_UTF8);
    return terminal;
}

WindowsTerminal::WindowsTerminal(HANDLE output, bool ownsOutput, HANDLE input, bool ownsInput)
    : output_(output), input_(input), ownsOutput_(ownsOutput), ownsInput_(ownsInput)
{
    GetConsoleMode(output_, &outputMode_);
    codePage_ = GetConsoleOutputCP();
    hasInputMode_ = input_ && GetConsoleMode(input_, &inputMode_);
    quietInputMode_ = inputMode_;
    current.store(this);
    SetConsoleCtrlHandler(onControl, TRUE);
}

WindowsTerminal::~WindowsTerminal()
{
    SetConsoleCtrlHandler(onControl, FALSE);
    current.store(nullptr);
    if (!restored_.exchange(true))
        restore();
    // Late replies: never for the next program. Where standard input is this console they
    // went with the line that ended the wait; where it is not, nothing read them.
    if (unanswered_ && ownsInput_)
        FlushConsoleInputBuffer(input_);
    if (ownsInput_)
        CloseHandle(input_);
    if (ownsOutput_)
        CloseHandle(output_);
}

void WindowsTerminal::restore()
{
    SetConsoleMode(output_, outputMode_);
    if (codePage_)
        SetConsoleOutputCP(codePage_);
    if (hasInputMode_)
        SetConsoleMode(input_, inputMode_);
}

PaintingTerminal::Size WindowsTerminal::size() const
{
    CONSOLE_SCREEN_BUFFER_INFO buffer;
    if (!GetConsoleScreenBufferInfo(output_, &buffer))
        return Size{};
    return Size{buffer.srWindow.Right - buffer.srWindow.Left + 1,
                buffer.srWindow.Bottom - buffer.srWindow.Top + 1, 0, 0};
}

std::string WindowsTerminal::ask(const char* queries,
                                 const std::function<bool(const std::string&)>& complete,
                                 std::chrono::milliseconds limit)
{
    std::string replies;
    if (!hasInputMode_)
        return replies;
    // Characters as they come and unechoed, the terminal's replies among them as VT input
    // (without it a console keeps the keys a reply stands for and drops its ESC). Ctrl-C stays
    // what it was.
    const DWORD raw = inputMode_ & ~DWORD(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT);
    if (!SetConsoleMode(input_, raw | ENABLE_VIRTUAL_TERMINAL_INPUT) &&
        !SetConsoleMode(input_, raw))
        return replies;

    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool done = write(queries, std::strlen(queries)) && complete(replies);
    while (!done) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        const DWORD waited = WaitForSingleObject(input_, DWORD(left.count()));
        if (waited == WAIT_TIMEOUT)
            continue;
        INPUT_RECORD records[64];
        DWORD count = 0;
        if (waited != WAIT_OBJECT_0 || !ReadConsoleInputW(input_, records, 64, &count))
            break;
        for (DWORD i = 0; i < count; ++i) {
            if (records[i].EventType != KEY_EVENT)
                continue;
            const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
            const DWORD state = key.dwControlKeyState;
            KeyPress press;
            press.down = key.bKeyDown;
            press.character = char16_t(key.uChar.UnicodeChar);
            // Alt without Ctrl: Ctrl and Alt together are AltGr, which types characters.
            press.alt = (state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) &&
                        !(state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED));
            press.repeat = key.wRepeatCount;
            appendReplyBytes(replies, press);
        }
        done = complete(replies);
        if (!done && replies.size() > maxReplies)
            break;
    }

    if (!done) {
        FlushConsoleInputBuffer(input_);
        quietInputMode_ = inputMode_ & ~DWORD(ENABLE_ECHO_INPUT);
        unanswered_ = true;
    }
    SetConsoleMode(input_, quietInputMode_);
    return replies;
}

bool WindowsTerminal::write(const char* data, std::size_t size)
{
    while (size > 0 && !gone_) {
        std::lock_guard<std::timed_mutex> lock(writing_);
        if (interrupted_.load())
            return false;
        DWORD written = 0;
        const std::size_t piece = wholeCharacters(data, size, maxWrite);
        if (!WriteFile(output_, data, DWORD(piece), &written, nullptr) || written == 0) {
            gone_ = true;  // the console is gone: nothing will reach it any more
            break;
        }
        data += written;
        size -= written;
    }
    return !gone_;
}

void WindowsTerminal::beginPaint()
{
    std::lock_guard<std::timed_mutex> lock(writing_);
    if (!interrupted_.load())
        painting_.store(true);
}

void WindowsTerminal::endPaint()
{
    std::lock_guard<std::timed_mutex> lock(writing_);
    painting_.store(false);
}

void WindowsTerminal::restoreFromHandler() noexcept
{
    if (restored_.exchange(true))
        return;
    interrupted_.store(true);
    // A write in flight ends within moments where the terminal reads; one that does not read
    // is not waited for past half a second.
    const bool waited = writing_.try_lock_for(std::chrono::milliseconds(500));
    if (painting_.exchange(false)) {
        // A string terminator ends a sixel image cut short (outside one it does nothing); the
        // epilogue ends the presentation.
        std::string end = "\x1b\\";
        end += epilogue();
        DWORD written;
        WriteFile(output_, end.data(), DWORD(end.size()), &written, nullptr);
    }
    restore();
    if (waited)
        writing_.unlock();
}
