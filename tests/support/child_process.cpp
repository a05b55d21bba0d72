#include "child_process.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "temp_dir.h"
#include <thread>

ChildProcess::ChildProcess() : outPath_(makeTempFile("stdout")), errPath_(makeTempFile("stderr")) {}

ChildProcess::~ChildProcess()
{
    if (pid_ > 0 && status_ == -1) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
    if (input_ >= 0)
        close(input_);
    unlink(outPath_.c_str());
    unlink(errPath_.c_str());
}

void ChildProcess::start(const std::string& program, const std::string& directory,
                         const Options& options)
{
    std::vector<std::string> words{program};
    words.insert(words.end(), options.arguments.begin(), options.arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);
    std::vector<std::string> settings = options.environment;

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make a pipe");
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("cannot fork");
    if (pid_ == 0) {
        setsid();  // no controlling terminal: the program runs as under a service or in CI
        dup2(pipeEnds[0], 0);
        const int out = open(outPath_.c_str(), O_WRONLY | O_TRUNC);
        const int err = open(errPath_.c_str(), O_WRONLY | O_TRUNC);
        dup2(out, 1);
        dup2(err, 2);
        for (std::string& setting : settings)
            putenv(&setting[0]);
        if (options.addressSpaceLimit > 0) {
            const rlimit limit{options.addressSpaceLimit, options.addressSpaceLimit};
            setrlimit(RLIMIT_AS, &limit);
        }
        if (chdir(directory.c_str()) != 0)
            _exit(126);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipeEnds[0]);
    input_ = pipeEnds[1];
}

void ChildProcess::type(const std::string& text)
{
    if (write(input_, text.data(), text.size()) != ssize_t(text.size()))
        throw std::runtime_error("cannot write to the program's input");
}

void ChildProcess::closeInput()
{
    close(input_);
    input_ = -1;
}

bool ChildProcess::running()
{
    if (status_ != -1)
        return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = status;
        return false;
    }
    return true;
}

bool ChildProcess::waitForExit(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::string ChildProcess::standardOutput() const
{
    return readFile(outPath_);
}

std::string ChildProcess::standardError() const
{
    return readFile(errPath_);
}

bool ChildProcess::holdsOpen(const std::string& path) const
{
    const std::string target = std::filesystem::weakly_canonical(path).string();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(
             "/proc/" + std::to_string(pid_) + "/fd", error)) {
        std::error_code unreadable;
        if (std::filesystem::read_symlink(entry.path(), unreadable).string() == target)
            return true;
    }
    return false;
}

Finished runToEnd(const std::string& program, const std::string& directory,
                  const ChildProcess::Options& options, std::chrono::milliseconds limit)
{
    ChildProcess child;
    child.start(program, directory, options);
    child.closeInput();
    if (!child.waitForExit(limit))
        throw std::runtime_error(program + " did not end in time");
    return Finished{child.status(), child.standardOutput(), child.standardError()};
}
