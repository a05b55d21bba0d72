#include "pty_capture.h"

#include "pty_session.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

PtyCapture::PtyCapture(int columns, int rows)
{
    winsize size = windowSize(columns, rows);
    if (openpty(&master_, &slave_, nullptr, nullptr, &size) != 0)
        throw std::runtime_error("cannot open a pseudo-terminal");
    // Output as the program wrote it: no newline translation.
    termios modes{};
    tcgetattr(slave_, &modes);
    cfmakeraw(&modes);
    tcsetattr(slave_, TCSANOW, &modes);
    reader_ = std::thread(&PtyCapture::collect, this);
}

PtyCapture::~PtyCapture()
{
    stop_ = true;
    reader_.join();
    close(slave_);
    close(master_);
}

void PtyCapture::collect()
{
    char buffer[1 << 16];
    while (!stop_) {
        if (held_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        pollfd readable{master_, POLLIN, 0};
        if (poll(&readable, 1, 5) <= 0)
            continue;
        const std::size_t limit = throttle_;
        const ssize_t n = read(master_, buffer, limit ? std::min(limit, sizeof buffer) : sizeof buffer);
        if (n > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            output_.append(buffer, std::size_t(n));
        }
        if (limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::string PtyCapture::output()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return output_;
}

bool PtyCapture::waitFor(const std::function<bool(const std::string&)>& done,
                         std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done(output())) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void PtyCapture::resize(int columns, int rows)
{
    const winsize size = windowSize(columns, rows);
    ioctl(master_, TIOCSWINSZ, &size);
}
