// Runs a program on a pseudo-terminal of a given size, as a user would in a terminal window:
// the terminal is its controlling terminal and standard input, while its standard output and
// error go to files, so the tests can tell apart what it painted and what it printed.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <sys/ioctl.h>

// A window size of `columns` x `rows` text cells, as the terminal calls take it.
winsize windowSize(int columns, int rows, int width = 0, int height = 0);

class PtySession {
public:
    enum class Input { terminal, empty };  // standard input: the terminal, or /dev/null
    enum class Output { files, terminal };  // standard output and error: files, or the terminal

    // `width` and `height`: the text area in pixels, as the kernel tells it; 0 for unknown.
    PtySession(int columns, int rows, int width = 0, int height = 0);
    ~PtySession();  // kills the program if it still runs
    PtySession(const PtySession&) = delete;
    PtySession& operator=(const PtySession&) = delete;

    // The program is looked up in PATH when its name has no slash.
    void start(const std::string& program, const std::string& directory,
               Input input = Input::terminal, const std::vector<std::string>& arguments = {},
               Output output = Output::files);

    // The program's environment, as it inherits the test's, but for TERM (xterm-256color unless
    // set here) and the variables of an ssh session (unset unless set here), so that what it
    // asks and how long it waits do not depend on where the tests run. An empty value unsets.
    void setEnvironment(const std::string& name, const std::string& value);

    void type(const std::string& keys);
    // As much of `bytes` as the terminal takes without waiting; how much that was.
    std::size_t typeSome(const std::string& bytes);

    // What the terminal answers to what the program writes: given each new piece of output,
    // the bytes to send back; a NUL among them ends a part, and the next part goes once the
    // program has read it (an answer that comes in two writes). By default a plain text terminal: it answers the device
    // attributes query (without sixel) and the operating status report, and nothing else.
    using Responder = std::function<std::string(const std::string& piece)>;
    void answerWith(Responder responder) { responder_ = std::move(responder); }
    // Replies go one byte at a time, each once the program has read the one before, as over
    // a slow line.
    void answerByteByByte() { trickle_ = true; }
    // Replies go `delay` after the output that asked for them was read, as across a link whose
    // round trip takes that long; the program's output is read meanwhile.
    void answerAfter(std::chrono::milliseconds delay) { delay_ = delay; }
    bool repliesPending() const { return !delayed_.empty(); }
    // The terminal gets the output no faster than a link of `bytesPerSecond` carries it, as
    // one on another machine would (0, the default: as fast as it reads).
    void drainAt(double bytesPerSecond) { drainRate_ = bytesPerSecond; }
    static std::string plainTerminal(const std::string& piece);
    void signal(int number);
    // The window changes size (the program is told by SIGWINCH, as by a terminal).
    void resize(int columns, int rows, int width = 0, int height = 0);
    // The window closes: the terminal's side is gone (the program gets SIGHUP, then EIO).
    void hangUp();
    // Bytes waiting in the terminal's input that nobody has read.
    int pendingInput() const;

    // Reads what the program writes until `done` holds for all of it, the program ends, or
    // the time is up. Returns whether `done` held.
    bool readUntil(const std::function<bool(const std::string&)>& done,
                   std::chrono::milliseconds limit);
    // Waits for the program to end, reading its output meanwhile. False if it did not.
    bool waitForExit(std::chrono::milliseconds limit);

    const std::string& output() const { return output_; }  // all the terminal got
    // Room for this many bytes of output, set aside before the program starts: a terminal
    // keeps no history of what it parsed, so a benchmark's terminal should not spend its
    // reading time copying its record of it to ever larger buffers.
    void keepRoomFor(std::size_t bytes);
    // When the last output had been read and answered (a responder that reads the images it is
    // handed over has read them by then).
    std::chrono::steady_clock::time_point lastOutputAt() const { return lastOutputAt_; }
    std::string standardOutput() const;
    std::string standardError() const;
    int status() const { return status_; }  // as waitpid gives it
    pid_t pid() const { return pid_; }

    termios modes() const;  // the terminal's modes now

private:
    bool readSome(std::chrono::milliseconds limit);
    void typeDueReplies();
    void answer(const std::string& reply);
    bool reap(bool block);
    void drain();

    int master_ = -1;
    int slave_ = -1;
    pid_t pid_ = -1;
    int status_ = -1;
    std::string output_;
    Responder responder_ = plainTerminal;
    bool trickle_ = false;
    double drainRate_ = 0;
    std::chrono::milliseconds delay_{0};
    std::deque<std::pair<std::chrono::steady_clock::time_point, std::string>> delayed_;
    std::chrono::steady_clock::time_point linkFree_{};  // when the link has carried what was read
    std::chrono::steady_clock::time_point lastOutputAt_{};
    std::string outPath_, errPath_;
    std::vector<std::pair<std::string, std::string>> environment_{
        {"TERM", "xterm-256color"}, {"SSH_CONNECTION", ""}, {"SSH_CLIENT", ""}, {"SSH_TTY", ""}};
};
