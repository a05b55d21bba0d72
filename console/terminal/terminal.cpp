#include "console/terminal/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>

namespace {

// One write call takes at most this much; with the descriptor non-blocking it returns as soon
// as the terminal's buffer is full anyway, so a signal handler never waits long for it.
constexpr std::size_t maxWrite = 1 << 16;

// Replies are a few dozen bytes; a terminal that sends more than this is not listened to.
constexpr std::size_t maxReplies = 1 << 16;

// If `data[0, written)` ends inside a UTF-8 character, the bytes that complete it (at most
// three), packed with their count in the low byte; else 0.
std::uint32_t unfinishedCharacter(const char* data, std::size_t written, std::size_t size)
{
    std::size_t lead = written;
    while (lead > 0 && written - lead < 3 && (data[lead - 1] & 0xC0) == 0x80)
        --lead;
    if (lead == 0)
        return 0;
    const unsigned char first = (unsigned char)data[lead - 1];
    const std::size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
    const std::size_t have = written - (lead - 1);
    if (have >= length || written + (length - have) > size)
        return 0;
    std::uint32_t packed = std::uint32_t(length - have);
    for (std::size_t i = 0; i < length - have; ++i)
        packed |= std::uint32_t((unsigned char)data[written + i]) << (8 * (i + 1));
    return packed;
}

// Writes from a signal handler: tries for at most half a second, then gives up, so a terminal
// that stopped reading cannot keep the program from ending. How many bytes it wrote.
std::size_t writeFromHandler(int fd, const char* data, std::size_t size)
{
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n > 0) {
            written += std::size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            break;
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000 > 500)
            break;
        pollfd writable{fd, POLLOUT, 0};
        poll(&writable, 1, 10);
    }
    return written;
}

}  // namespace

std::unique_ptr<Terminal> Terminal::open()
{
    // O_NOCTTY: never make it the controlling terminal of a process that has none.
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<Terminal>(new Terminal(fd, true));
}

Terminal::Terminal(int fd) : Terminal(fd, false) {}

Terminal::Terminal(int fd, bool owned) : fd_(fd), owned_(owned)
{
    // Non-blocking output: a write never sleeps while a signal handler waits for it, and a
    // terminal that stops reading is waited for in poll(). /dev/tty was opened anew above, so
    // this changes no descriptor the program shares with its shell.
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    hasModes_ = tcgetattr(fd_, &original_) == 0;
    quiet_ = original_;
}

Terminal::~Terminal()
{
    if (echoOff_.load())
        tcsetattr(fd_, TCSANOW, &original_);
    // Late replies: never for the shell. Where standard input is this terminal, they went
    // with the line that ended the wait (it is read whole), and what is left is the user's
    // typing ahead, kept; where it is not, nothing read them.
    if (unanswered_.load() && foreground() && !readsInput())
        tcflush(fd_, TCIFLUSH);
    if (owned_)
        close(fd_);
}

Terminal::Size Terminal::size() const
{
    winsize window{};
    if (ioctl(fd_, TIOCGWINSZ, &window) != 0)
        return Size{};
    return Size{window.ws_col, window.ws_row, window.ws_xpixel, window.ws_ypixel};
}

PaintingTerminal::PixelRows Terminal::lostRows()
{
    const unsigned resizes = resizes_.load();
    const Size now = size();
    const bool unseen = resizes != resizesLooked_ && now.columns == sizeLooked_.columns &&
                        now.rows == sizeLooked_.rows;
    resizesLooked_ = resizes;
    sizeLooked_ = now;
    return unseen ? PixelRows{0, 1 << 30} : PixelRows{};
}

std::thread Terminal::startWriter(std::function<void()> work)
{
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    std::thread writer(std::move(work));
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return writer;
}

std::string Terminal::ask(const char* queries,
                          const std::function<bool(const std::string&)>& complete,
                          std::chrono::milliseconds limit)
{
    std::string replies;
    if (!hasModes_ || !foreground())
        return replies;
    termios raw = original_;
    raw.c_lflag &= tcflag_t(~(ICANON | ECHO | ECHONL));  // bytes as they come, not shown
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    asking_ = raw;
    echoOff_.store(true);  // a signal meanwhile restores the original modes
    inAsk_.store(true);
    if (tcsetattr(fd_, TCSANOW, &raw) != 0) {
        inAsk_.store(false);
        echoOff_.store(false);
        return replies;
    }

    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool done = write(queries, std::strlen(queries)) && complete(replies);
    while (!done && !gone_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd readable{fd_, POLLIN, 0};
        if (poll(&readable, 1, int(left.count())) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            replies.append(buffer, std::size_t(n));
            done = complete(replies);
            if (!done && replies.size() > maxReplies)
                break;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            gone_ = true;
        }
    }

    if (!done) {
        tcflush(fd_, TCIFLUSH);
        quiet_.c_lflag &= tcflag_t(~(ECHO | ECHONL));
        unanswered_.store(true);
    }
    tcsetattr(fd_, TCSANOW, &quiet_);
    echoOff_.store(!done);
    inAsk_.store(false);
    return replies;
}

void Terminal::keepSetting(const std::string& change, const std::string& undo,
                           std::chrono::milliseconds limit)
{
    const std::size_t room = sizeof change_ - 1;
    if (change.size() > room || undo.size() > room)
        return;
    setting_.store(Setting::none);  // a handler meanwhile finds nothing half written
    std::memcpy(change_, change.c_str(), change.size() + 1);
    std::memcpy(undo_, undo.c_str(), undo.size() + 1);
    settingLimitMs_ = int(limit.count());
    setting_.store(Setting::inForce);
}

void Terminal::undoSetting()
{
    Setting inForce = Setting::inForce;
    if (!foreground() || !setting_.compare_exchange_strong(inForce, Setting::undone))
        return;
    // A signal meanwhile would end or stop the program with the terminal's answer still on
    // its way, to reach the shell: it waits for the answer (a round trip, at most the limit).
    sigset_t held, previous;
    sigemptyset(&held);
    for (const int signal : {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGTSTP})
        sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &previous);
    exchangeSetting(undo_);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

bool Terminal::enter()
{
    busy_.store(true);
    if (refused()) {
        busy_.store(false);
        return false;
    }
    return true;
}

void Terminal::leave()
{
    busy_.store(false);
}

bool Terminal::write(const char* data, std::size_t size)
{
    while (size > 0 && !gone_) {
        if (!enter())
            return false;
        const ssize_t n = ::write(fd_, data, std::min(size, maxWrite));
        const int error = errno;
        if (n > 0)
            unfinished_.store(unfinishedCharacter(data, std::size_t(n), size));
        leave();

        if (n > 0) {
            data += n;
            size -= std::size_t(n);
        } else if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK)) {
            if (!waitWritable())
                return false;
        } else if (!(n < 0 && error == EINTR)) {
            gone_ = true;  // hung up or broken: nothing will reach it any more
        }
    }
    return !gone_;
}

bool Terminal::waitWritable()
{
    for (;;) {
        if (refused())
            return false;
        pollfd writable{fd_, POLLOUT, 0};
        const int ready = poll(&writable, 1, 100);
        if (ready > 0) {
            if (writable.revents & (POLLERR | POLLHUP | POLLNVAL)) {
                gone_ = true;
                return false;
            }
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            gone_ = true;
            return false;
        }
    }
}

bool Terminal::readsInput() const
{
    struct stat input, terminal;
    return fstat(0, &input) == 0 && fstat(fd_, &terminal) == 0 && S_ISCHR(input.st_mode) &&
           input.st_rdev == terminal.st_rdev;
}

bool Terminal::foreground() const
{
    // Changing modes from a background process group would stop the whole program.
    return tcgetpgrp(fd_) == getpgrp();
}

void Terminal::beginPaint()
{
    // Changed only between enter() and leave(), so that a signal handler, which waits for
    // leave(), sees whether a presentation is open exactly as far as the output got.
    cut_.store(false);  // a presentation a stop cut short is over: this one starts afresh
    unfinished_.store(0);
    // What the stop's handler could not write of that presentation's end goes first.
    if (const std::size_t owed = owed_.exchange(0))
        write(owedBytes_, owed);
    if (!enter())
        return;
    painting_.store(true);
    if (hasModes_ && foreground()) {
        termios painting = quiet_;
        painting.c_lflag &= tcflag_t(~(ECHO | ECHONL));  // typed keys stay in the input, unechoed
        // A picture has no line ends to translate: the kernel need not look at every byte of
        // it on its way (megabytes, for text cells).
        painting.c_oflag &= tcflag_t(~OPOST);
        if (tcsetattr(fd_, TCSANOW, &painting) == 0) {
            echoOff_.store(true);
            paintingModes_ = true;
        }
    }
    leave();
}

void Terminal::endPaint()
{
    if (!enter())
        return;  // a signal handler ends the presentation instead
    // Back to the modes between presentations: the original ones, or (after a terminal that
    // did not answer in time) with echo off for good.
    if (paintingModes_ && (tcsetattr(fd_, TCSANOW, &quiet_) == 0 || !foreground())) {
        paintingModes_ = false;
        echoOff_.store(unanswered_.load());
    }
    painting_.store(false);
    leave();
}

void Terminal::restoreAfterSignal() noexcept
{
    if (restored_.exchange(true))
        return;
    interrupted_.store(true);
    waitForWriter();
    endFromHandler();
    if (setting_.exchange(Setting::undone) == Setting::inForce && foreground())
        exchangeSetting(undo_);
    if (inAsk_.load() || unanswered_.load())
        tcflush(fd_, TCIFLUSH);  // replies on their way: never for the shell
}

void Terminal::suspendForStop() noexcept
{
    stopped_.store(true);
    waitForWriter();
    if (painting_.load())
        cut_.store(true);
    endFromHandler();
    Setting inForce = Setting::inForce;
    if (foreground() && setting_.compare_exchange_strong(inForce, Setting::undoneForStop))
        exchangeSetting(undo_);
}

void Terminal::resumeAfterStop() noexcept
{
    // Back in the foreground (fg), the setting and the modes the program was in come back; in
    // the background (bg) they would stop it again, so the modes wait for the next
    // presentation and the setting for a continue in the foreground.
    Setting undone = Setting::undoneForStop;
    if (foreground() && setting_.compare_exchange_strong(undone, Setting::inForce))
        exchangeSetting(change_);
    if (hasModes_ && foreground() && (inAsk_.load() || unanswered_.load()) &&
        tcsetattr(fd_, TCSANOW, inAsk_.load() ? &asking_ : &quiet_) == 0)
        echoOff_.store(true);
    stopped_.store(false);
}

void Terminal::waitForWriter() noexcept
{
    // A write in flight returns within microseconds (the descriptor does not block); the
    // bound only matters if the handler interrupted the very thread that was writing.
    for (int waited = 0; busy_.load() && waited < 200; ++waited) {
        const timespec millisecond{0, 1000000};
        nanosleep(&millisecond, nullptr);
    }
}

void Terminal::exchangeSetting(const char* sequence) noexcept
{
    if (!hasModes_)
        return;
    // Raw and unechoed while the answer comes, as while the terminal is asked.
    termios raw = original_;
    raw.c_lflag &= tcflag_t(~(ICANON | ECHO | ECHONL));
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    echoOff_.store(true);
    if (tcsetattr(fd_, TCSANOW, &raw) != 0)
        return;
    // In one write, as a terminal best takes a question and its fence.
    char question[sizeof change_ + 3];
    const std::size_t length = std::min(std::strlen(sequence), sizeof change_ - 1);
    std::memcpy(question, sequence, length);
    std::memcpy(question + length, "\x1b[c", 3);
    writeFromHandler(fd_, question, length + 3);

    // Until DA1's reply, ESC [ ? ... c, has come: `state` is how much of it has. A byte at a
    // time, so that what is typed after it stays for the program (an Enter that ends the wait).
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    int state = 0;
    bool fenced = false;
    while (!fenced) {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long waited =
            (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (waited >= settingLimitMs_)
            break;
        pollfd readable{fd_, POLLIN, 0};
        const int ready = poll(&readable, 1, int(settingLimitMs_ - waited));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char c;
        const ssize_t n = read(fd_, &c, 1);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            break;  // the terminal is gone
        }
        if (c == '\x1b')
            state = 1;
        else if (state == 1)
            state = c == '[' ? 2 : 0;
        else if (state == 2)
            state = c == '?' ? 3 : 0;
        else if (state == 3 && c == 'c')
            fenced = true;
        else if (state == 3 && !((c >= '0' && c <= '9') || c == ';'))
            state = 0;
    }
    if (!fenced)
        tcflush(fd_, TCIFLUSH);  // the answer cut short: what came of it is not for the shell
    if (tcsetattr(fd_, TCSANOW, &original_) == 0)
        echoOff_.store(false);
}

void Terminal::endFromHandler() noexcept
{
    if (painting_.exchange(false)) {
        // Complete a glyph the last write cut, so the next byte is not taken as part of it;
        // the ESC that follows ends any escape sequence left open: a string terminator, which
        // ends an image cut short (kitty's APC, sixel's DCS) and outside one does nothing.
        // Then the presentation's end. In one write: a terminal slow to read may take part of
        // it within the handler's time, and what it did not take is owed, sent first by the
        // next presentation (after a stop), never anything else before it.
        char ending[sizeof owedBytes_];
        static_assert(3 + 2 + sizeof paintEpilogue - 1 <= sizeof ending, "room for the longest end");
        const std::uint32_t rest = unfinished_.load();
        std::size_t length = rest & 0xFF;
        for (std::size_t i = 0; i < length; ++i)
            ending[i] = char((rest >> (8 * (i + 1))) & 0xFF);
        for (const char* part : {"\x1b\\", epilogue()})
            for (; *part; ++part)
                ending[length++] = *part;
        const std::size_t written = writeFromHandler(fd_, ending, length);
        std::memcpy(owedBytes_, ending + written, length - written);
        owed_.store(length - written);
    }
    if (echoOff_.exchange(false))
        tcsetattr(fd_, TCSANOW, &original_);
}
