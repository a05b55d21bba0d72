// Times one whole run of a program on a pseudo-terminal of a given size, reading what it writes
// as fast as a terminal could (into room set aside at the start, not copied as it grows):
// standard input is /dev/null (so the viewer ends as soon as its picture is shown), standard
// output and error are the terminal.
//
// Usage: pty_run [--pixels WIDTHxHEIGHT] [--answer plain|kitty|kitty-local|sixel|sixel-N|
//                xtermjs|silent] [--late MILLISECONDS] [--env NAME=VALUE]...
//                [--drain BYTES_PER_SECOND] COLUMNS ROWS SAVE_FILE|- PROGRAM [ARGUMENT...]
//   --pixels  the text area's size in pixels, as the kernel reports it (default: unknown)
//   --answer  what the terminal answers to the program's questions (default: plain; silent:
//             nothing at all; kitty: kitty elsewhere, kitty-local: kitty on this machine, which
//             reads the shared memory objects and files it is handed; sixel: xterm with 1024
//             colour registers, sixel-N: with N; xtermjs: 256 registers that can be set to
//             4096)
//   --late    each answer comes this long after the question, as across a slow link
//   --env     the program's environment has NAME=VALUE (SSH_CONNECTION=..., for an ssh
//             session; the ssh variables are unset otherwise)
//   --drain   the terminal gets the output through a link of this rate, e.g. 12.5e6 for
//             100 Mbit/s (default: as fast as it reads)
// Prints: milliseconds from the start until the terminal had read and answered the last byte it
// got (and read any image object handed over with it), how many bytes it got, and the
// program's minor page faults.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "pty_session.h"
#include "scripted_terminals.h"

int main(int argc, char** argv)
{
    int width = 0, height = 0;
    double drainRate = 0;
    int late = 0;
    std::vector<std::pair<std::string, std::string>> environment;
    PtySession::Responder answer = PtySession::plainTerminal;
    LocalKittyTerminal localKitty;
    int next = 1;
    for (; next + 1 < argc && argv[next][0] == '-' && argv[next][1] == '-'; next += 2) {
        if (std::strcmp(argv[next], "--drain") == 0) {
            drainRate = std::atof(argv[next + 1]);
        } else if (std::strcmp(argv[next], "--late") == 0) {
            late = std::atoi(argv[next + 1]);
        } else if (std::strcmp(argv[next], "--env") == 0) {
            const std::string variable = argv[next + 1];
            const std::size_t equals = variable.find('=');
            environment.emplace_back(variable.substr(0, equals),
                                     equals == std::string::npos ? "" : variable.substr(equals + 1));
        } else if (std::strcmp(argv[next], "--pixels") == 0) {
            std::sscanf(argv[next + 1], "%dx%d", &width, &height);
        } else if (std::strcmp(argv[next], "--answer") == 0) {
            const std::string kind = argv[next + 1];
            answer = kind == "kitty"         ? kittyTerminal
                     : kind == "kitty-local" ? localKitty.responder()
                     : kind == "sixel"       ? sixelTerminal
                     : kind.rfind("sixel-", 0) == 0
                         ? sixelTerminalWith(std::atoi(kind.c_str() + 6))
                     : kind == "xtermjs"     ? sixelTerminalWith(256, 4096)
                     : kind == "silent"      ? PtySession::Responder()
                                             : PtySession::plainTerminal;
        }
    }
    if (argc - next < 4) {
        std::fprintf(stderr, "usage: pty_run [--pixels WxH] "
                             "[--answer plain|kitty|kitty-local|sixel|sixel-N|xtermjs|silent] "
                             "[--late MILLISECONDS] [--env NAME=VALUE]... "
                             "[--drain BYTES_PER_SECOND] "
                             "COLUMNS ROWS SAVE_FILE|- PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    const int columns = std::atoi(argv[next]), rows = std::atoi(argv[next + 1]);
    const std::string save = argv[next + 2];
    const char* program = argv[next + 3];
    const std::vector<std::string> arguments(argv + next + 4, argv + argc);
    char here[4096];
    if (!getcwd(here, sizeof here))
        return 2;

    PtySession session(columns, rows, width, height);
    session.answerWith(answer);
    session.drainAt(drainRate);
    session.answerAfter(std::chrono::milliseconds(late));
    // The largest output of a 1080p picture (text cells of a noisy one, 36 MB) and then some.
    session.keepRoomFor(std::size_t(64) << 20);
    for (const auto& variable : environment)
        session.setEnvironment(variable.first, variable.second);
    const auto start = std::chrono::steady_clock::now();
    session.start(program, here, PtySession::Input::empty, arguments,
                  PtySession::Output::terminal);
    if (!session.waitForExit(std::chrono::minutes(5))) {
        std::fprintf(stderr, "pty_run: %s did not end\n", program);
        return 1;
    }
    const double elapsed =
        std::chrono::duration<double, std::milli>(session.lastOutputAt() - start).count();
    if (save != "-")
        std::ofstream(save, std::ios::binary) << session.output();
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    std::printf("%.1f %zu %ld\n", elapsed, session.output().size(), usage.ru_minflt);
    return 0;
}
