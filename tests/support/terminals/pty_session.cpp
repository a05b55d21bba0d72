#include "pty_session.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "temp_dir.h"

winsize windowSize(int columns, int rows, int width, int height)
{
    winsize size{};
    size.ws_col = (unsigned short)columns;
    size.ws_row = (unsigned short)rows;
    size.ws_xpixel = (unsigned short)width;
    size.ws_ypixel = (unsigned short)height;
    return size;
}

PtySession::PtySession(int columns, int rows, int width, int height)
{
    winsize size = windowSize(columns, rows, width, height);
    if (openpty(&master_, &slave_, nullptr, nullptr, &size) != 0)
        throw std::runtime_error("cannot open a pseudo-terminal");
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    outPath_ = makeTempFile("stdout");
    errPath_ = makeTempFile("stderr");
}

PtySession::~PtySession()
{
    if (pid_ > 0 && status_ == -1) {
        kill(pid_, SIGKILL);
        reap(true);
    }
    close(master_);
    close(slave_);
    unlink(outPath_.c_str());
    unlink(errPath_.c_str());
}

void PtySession::start(const std::string& program, const std::string& directory, Input input,
                       const std::vector<std::string>& arguments, Output output)
{
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);

    // The environment is made here: between fork and exec only async-signal-safe calls.
    std::vector<std::string> variables;
    for (char** variable = environ; *variable; ++variable) {
        const std::string entry = *variable;
        bool replaced = false;
        for (const auto& own : environment_)
            replaced = replaced || entry.rfind(own.first + "=", 0) == 0;
        if (!replaced)
            variables.push_back(entry);
    }
    for (const auto& own : environment_)
        if (!own.second.empty())
            variables.push_back(own.first + "=" + own.second);
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(&variable[0]);
    envp.push_back(nullptr);

    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("cannot fork");
    if (pid_ == 0) {
        // A session of its own with the pseudo-terminal as its controlling terminal, as a
        // shell would start it in a terminal window.
        setsid();
        ioctl(slave_, TIOCSCTTY, 0);
        const int in = input == Input::terminal ? slave_ : open("/dev/null", O_RDONLY);
        const bool toFiles = output == Output::files;
        const int out = toFiles ? open(outPath_.c_str(), O_WRONLY | O_TRUNC) : slave_;
        const int err = toFiles ? open(errPath_.c_str(), O_WRONLY | O_TRUNC) : slave_;
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (chdir(directory.c_str()) != 0)
            _exit(126);
        // As a terminal's shell would start it, whatever the test runner was started with.
        for (const int number : {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGTSTP, SIGTTOU, SIGTTIN})
            ::signal(number, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execvpe(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
}

void PtySession::setEnvironment(const std::string& name, const std::string& value)
{
    for (auto& variable : environment_)
        if (variable.first == name) {
            variable.second = value;
            return;
        }
    environment_.emplace_back(name, value);
}

std::string PtySession::plainTerminal(const std::string& piece)
{
    return std::string(piece.find("\x1b[c") != std::string::npos ? "\x1b[?62;22c" : "") +
           (piece.find("\x1b[5n") != std::string::npos ? "\x1b[0n" : "");
}

void PtySession::type(const std::string& keys)
{
    if (::write(master_, keys.data(), keys.size()) != ssize_t(keys.size()))
        throw std::runtime_error("cannot type into the pseudo-terminal");
}

void PtySession::resize(int columns, int rows, int width, int height)
{
    winsize size = windowSize(columns, rows, width, height);
    if (ioctl(master_, TIOCSWINSZ, &size) != 0)
        throw std::runtime_error("cannot resize the pseudo-terminal");
}

void PtySession::signal(int number)
{
    kill(pid_, number);
}

std::size_t PtySession::typeSome(const std::string& bytes)
{
    pollfd writable{master_, POLLOUT, 0};
    if (poll(&writable, 1, 0) <= 0)
        return 0;
    const int flags = fcntl(master_, F_GETFL);
    fcntl(master_, F_SETFL, flags | O_NONBLOCK);
    const ssize_t n = ::write(master_, bytes.data(), bytes.size());
    fcntl(master_, F_SETFL, flags);
    return n > 0 ? std::size_t(n) : 0;
}

void PtySession::hangUp()
{
    close(master_);
    master_ = -1;
}

int PtySession::pendingInput() const
{
    int count = 0;
    return ioctl(slave_, FIONREAD, &count) == 0 ? count : -1;
}

void PtySession::answer(const std::string& reply)
{
    // Each piece is read by the program before the next is sent (up to a few ms for a byte,
    // 100 ms for a part), so that every one arrives in a read of its own, however loaded the
    // machine.
    std::size_t from = 0;
    while (from < reply.size()) {
        const std::size_t end = std::min(reply.find('\0', from), reply.size());
        const std::size_t step = trickle_ ? std::min<std::size_t>(1, end - from) : end - from;
        if (step > 0)
            type(reply.substr(from, step));
        from += step;
        const bool partEnds = from == end && end < reply.size();
        from += partEnds;
        for (int waited = 0; (trickle_ || partEnds) && waited < (partEnds ? 2000 : 100) &&
                             pendingInput() > 0;
             ++waited)
            usleep(50);
    }
}

void PtySession::typeDueReplies()
{
    while (!delayed_.empty() && delayed_.front().first <= std::chrono::steady_clock::now()) {
        answer(delayed_.front().second);
        delayed_.pop_front();
    }
}

bool PtySession::readSome(std::chrono::milliseconds limit)
{
    typeDueReplies();
    if (!delayed_.empty())
        limit = std::max(std::chrono::milliseconds(0),
                         std::min(limit, std::chrono::duration_cast<std::chrono::milliseconds>(
                                             delayed_.front().first -
                                             std::chrono::steady_clock::now())));
    pollfd readable{master_, POLLIN, 0};
    const int ready = poll(&readable, 1, int(limit.count()));
    typeDueReplies();
    if (ready <= 0)
        return false;
    char buffer[1 << 16];
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0)
        return false;
    output_.append(buffer, std::size_t(n));
    if (drainRate_ > 0) {
        // The link carries one piece after another, each in its own time. Bytes that waited
        // for this side to wake up went on meanwhile (up to a few milliseconds: a link holds
        // no more), so that sleeping late here does not slow the link down.
        const auto now = std::chrono::steady_clock::now();
        const std::chrono::duration<double> carrying(double(n) / drainRate_);
        linkFree_ = std::max(linkFree_, now - std::chrono::milliseconds(5)) +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(carrying);
        std::this_thread::sleep_until(linkFree_);
    }
    if (responder_) {
        const std::string reply = responder_(std::string(buffer, std::size_t(n)));
        if (!reply.empty() && delay_.count() > 0)
            delayed_.emplace_back(std::chrono::steady_clock::now() + delay_, reply);
        else if (!reply.empty())
            answer(reply);
    }
    lastOutputAt_ = std::chrono::steady_clock::now();  // after the terminal has dealt with it
    return true;
}

void PtySession::keepRoomFor(std::size_t bytes)
{
    // Room that is not touched until bytes arrive (so the program's start, a fork, has no
    // pages of it to share), in huge pages where the system offers them: a few page faults for
    // megabytes.
    output_.reserve(bytes);
    constexpr std::uintptr_t huge = std::uintptr_t(2) << 20;
    const std::uintptr_t begin = (std::uintptr_t(output_.data()) + huge - 1) / huge * huge;
    const std::uintptr_t end = (std::uintptr_t(output_.data()) + output_.capacity()) / huge * huge;
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

void PtySession::drain()
{
    // What the program wrote just before it ended is still on its way through the terminal:
    // the kernel hands it to this side a moment later.
    while (readSome(std::chrono::milliseconds(50))) {
    }
}

bool PtySession::reap(bool block)
{
    if (status_ != -1)
        return true;
    int status = 0;
    if (waitpid(pid_, &status, block ? 0 : WNOHANG) == pid_) {
        status_ = status;
        return true;
    }
    return false;
}

bool PtySession::readUntil(const std::function<bool(const std::string&)>& done,
                           std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done(output_)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        if (!readSome(std::chrono::milliseconds(10)) && reap(false)) {
            drain();
            return done(output_);
        }
    }
    return true;
}

bool PtySession::waitForExit(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!reap(false)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        readSome(std::chrono::milliseconds(10));
    }
    drain();
    return true;
}

std::string PtySession::standardOutput() const
{
    return readFile(outPath_);
}

std::string PtySession::standardError() const
{
    return readFile(errPath_);
}

termios PtySession::modes() const
{
    termios now{};
    tcgetattr(slave_, &now);
    return now;
}
