// Times one whole run of a program on a pseudo-terminal of a given size, reading what it writes
// as fast as a terminal could: standard input is /dev/null (so the viewer ends as soon as its
// picture is shown), standard output and error are the terminal.
//
// Usage: pty_run COLUMNS ROWS SAVE_FILE|- PROGRAM [ARGUMENT...]
// Prints: milliseconds from the start to the last byte the terminal got, and how many bytes.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "pty_session.h"

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: pty_run COLUMNS ROWS SAVE_FILE|- PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    const int columns = std::atoi(argv[1]), rows = std::atoi(argv[2]);
    const std::string save = argv[3];
    const std::vector<std::string> arguments(argv + 5, argv + argc);
    char here[4096];
    if (!getcwd(here, sizeof here))
        return 2;

    PtySession session(columns, rows);
    const auto start = std::chrono::steady_clock::now();
    session.start(argv[4], here, PtySession::Input::empty, arguments,
                  PtySession::Output::terminal);
    if (!session.waitForExit(std::chrono::minutes(5))) {
        std::fprintf(stderr, "pty_run: %s did not end\n", argv[4]);
        return 1;
    }
    const double elapsed =
        std::chrono::duration<double, std::milli>(session.lastOutputAt() - start).count();
    if (save != "-")
        std::ofstream(save, std::ios::binary) << session.output();
    std::printf("%.1f %zu\n", elapsed, session.output().size());
    return 0;
}
