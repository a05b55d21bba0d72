// Pixels handed to a terminal on the same machine without sending them through the terminal
// itself: the program writes them into a POSIX shared memory object or a temporary file and
// sends only its name. The terminal reads the object and removes it. Whatever the terminal has
// not taken when the canvas closes, or when a signal ends the program, is removed here, so
// nothing is ever left behind in /dev/shm or the temporary directory.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>

class ImageHandover {
public:
    enum class Medium { sharedMemory, temporaryFile };

    // An object made for the terminal, open for writing its bytes.
    struct Object {
        int fd = -1;
        std::size_t size = 0;        // the bytes it is made to hold
        const char* name = nullptr;  // what the terminal is given: the object's name or path
    };

    ImageHandover();
    ~ImageHandover();  // close(), without waiting
    ImageHandover(const ImageHandover&) = delete;
    ImageHandover& operator=(const ImageHandover&) = delete;

    // Makes an empty object for `size` bytes, open for writing. False where it cannot be made:
    // no shared memory, too many objects (or bytes) the terminal has not taken yet, or a
    // signal is ending the program.
    bool create(Medium medium, std::size_t size, Object& object);

    // Appends bytes to the object. Written through the descriptor, not a mapping: each byte is
    // written once (no page the system zeroes first, none faulted into this process), and a
    // full file system is an error here, not a SIGBUS later. False where they could not all be
    // written: remove() the object then.
    static bool write(const Object& object, const void* bytes, std::size_t size);

    // The bytes are written: closes the object, which stays until the terminal takes it.
    static void finish(Object& object);

    // Removes an object now, whether or not the terminal has taken it (`name` as create() gave
    // it).
    void remove(const char* name);

    // Gives the terminal up to `wait` to take the objects it was handed, then removes the rest.
    void close(std::chrono::milliseconds wait);

    // For a signal handler that ends the program: removes every object at once. Async-signal-
    // safe; afterwards nothing more is created.
    void removeAllFromHandler() noexcept;

private:
    // A fixed table, so that a signal handler can walk it without allocating or locking.
    static constexpr int slotCount = 16;
    struct Slot {
        std::atomic<bool> live{false};
        Medium medium = Medium::sharedMemory;
        std::size_t size = 0;
        char name[96] = {};
    };

    void reclaimTaken();
    static bool exists(const Slot& slot);
    static void unlinkObject(Medium medium, const char* name) noexcept;

    Slot slots_[slotCount];
    unsigned counter_ = 0;

    // Shared with a signal handler, as the terminal's output is: the creating thread marks
    // itself `creating_` before it looks at `closing_`; the handler sets `closing_`, then waits
    // for `creating_` to clear. So no object is made after the handler has removed them all.
    std::atomic<bool> creating_{false};
    std::atomic<bool> closing_{false};
};
