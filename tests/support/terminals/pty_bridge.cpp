// A program on a pseudo-terminal of its own, for a terminal emulator in another process to show
// (xterm.js in a browser): what the program writes comes out on standard output, and what
// comes in on standard input (the emulator's answers, typed keys) goes to the program as the
// terminal's input. The text area's size in pixels is left unknown, as VS Code's terminal
// leaves it: the program learns it from the emulator's answers.
//
// Usage: pty_bridge COLUMNS ROWS PROGRAM [ARGUMENT...]
// Ends when the program has ended and its last output is out, with the program's status (128 +
// the signal where a signal ended it); "exit status N" on standard error says which.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace {

bool writeAll(int fd, const char* data, ssize_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, std::size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n, size -= n;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: pty_bridge COLUMNS ROWS PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    winsize size{};
    size.ws_col = (unsigned short)std::atoi(argv[1]);
    size.ws_row = (unsigned short)std::atoi(argv[2]);
    int master = -1;
    const pid_t child = forkpty(&master, nullptr, nullptr, &size);
    if (child < 0) {
        std::perror("pty_bridge: forkpty");
        return 2;
    }
    if (child == 0) {
        // As a terminal's shell would start it, whatever this bridge was started with.
        for (const int number : {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGTSTP, SIGPIPE})
            signal(number, SIG_DFL);
        execvp(argv[3], argv + 3);
        std::perror("pty_bridge: exec");
        _exit(127);
    }
    signal(SIGPIPE, SIG_IGN);

    int status = 0;
    bool ended = false, inputOpen = true;
    char buffer[1 << 16];
    for (;;) {
        pollfd fds[2] = {{master, POLLIN, 0}, {0, short(inputOpen ? POLLIN : 0), 0}};
        // Once the program has ended, what it wrote last is read until none is left.
        const int ready = poll(fds, 2, ended ? 50 : 100);
        if (ready < 0 && errno != EINTR)
            break;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0 && !writeAll(1, buffer, n))
                break;
            if (n <= 0 && ended)
                break;
        } else if (ended && ready == 0) {
            break;
        }
        if (inputOpen && (fds[1].revents & (POLLIN | POLLHUP))) {
            const ssize_t n = read(0, buffer, sizeof buffer);
            if (n > 0)
                writeAll(master, buffer, n);
            else
                inputOpen = false;
        }
        if (!ended && waitpid(child, &status, WNOHANG) == child)
            ended = true;
    }
    if (!ended)
        waitpid(child, &status, 0);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::fprintf(stderr, "exit status %d\n", code);
    return code;
}
