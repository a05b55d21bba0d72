// Runs a program without a terminal: standard input from a pipe the test writes to (or holds
// open, or closes), standard output and error into files.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

class ChildProcess {
public:
    struct Options {
        std::vector<std::string> arguments;
        std::vector<std::string> environment;  // "NAME=value", added to the test's own
        std::size_t addressSpaceLimit = 0;     // bytes; 0 for none
    };

    ChildProcess();
    ~ChildProcess();  // kills the program if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void start(const std::string& program, const std::string& directory, const Options& options);
    void type(const std::string& text);
    void closeInput();
    bool waitForExit(std::chrono::milliseconds limit);  // false if it still runs then
    bool running();

    int status() const { return status_; }  // as waitpid gives it
    pid_t pid() const { return pid_; }
    std::string standardOutput() const;
    std::string standardError() const;

    // Whether the program holds `path` open now (as seen in /proc).
    bool holdsOpen(const std::string& path) const;

private:
    pid_t pid_ = -1;
    int status_ = -1;
    int input_ = -1;
    std::string outPath_, errPath_;
};

// A program run to its end with empty standard input; exit status, output and errors.
struct Finished {
    int status;
    std::string output;
    std::string errors;
};
Finished runToEnd(const std::string& program, const std::string& directory,
                  const ChildProcess::Options& options = {},
                  std::chrono::milliseconds limit = std::chrono::seconds(60));
