// A pseudo-terminal whose output a thread of the test collects, for code under test that
// writes to the terminal side directly. Reading can be held back to make the terminal slow.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class PtyCapture {
public:
    PtyCapture(int columns, int rows);
    ~PtyCapture();
    PtyCapture(const PtyCapture&) = delete;
    PtyCapture& operator=(const PtyCapture&) = delete;

    int terminal() const { return slave_; }  // the side a program writes to
    std::string output();                    // everything collected so far
    bool waitFor(const std::function<bool(const std::string&)>& done,
                 std::chrono::milliseconds limit);
    // 0 reads as fast as the terminal can; otherwise at most this many bytes a millisecond.
    void throttle(std::size_t bytesPerMillisecond) { throttle_ = bytesPerMillisecond; }
    // While held, nothing is read: the terminal's buffer fills and writes to it wait.
    void hold(bool held) { held_ = held; }
    void resize(int columns, int rows);

private:
    void collect();

    int master_ = -1;
    int slave_ = -1;
    std::mutex mutex_;
    std::string output_;
    std::atomic<std::size_t> throttle_{0};
    std::atomic<bool> held_{false};
    std::atomic<bool> stop_{false};
    std::thread reader_;
};
