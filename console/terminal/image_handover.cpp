#include "console/terminal/image_handover.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <thread>

namespace {

// kitty deletes a temporary file it has read only where its path says it is one of these and
// it lies in a temporary directory; /tmp is that on every system kitty runs on.
constexpr char fileDirectory[] = "/tmp/tty-graphics-protocol-viewer-";

// At most this much may wait in objects the terminal has not taken: a terminal that accepts
// objects but never reads them costs bounded memory, and then the canvas stops handing over.
constexpr std::size_t maxWaitingBytes = std::size_t(256) << 20;

int openObject(ImageHandover::Medium medium, const char* name)
{
    constexpr int flags = O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC;
    return medium == ImageHandover::Medium::sharedMemory ? shm_open(name, flags, 0600)
                                                         : open(name, flags, 0600);
}

}  // namespace

ImageHandover::ImageHandover() = default;

ImageHandover::~ImageHandover()
{
    close(std::chrono::milliseconds(0));
}

bool ImageHandover::create(Medium medium, std::size_t size, Object& object)
{
    reclaimTaken();
    std::size_t waiting = 0;
    Slot* slot = nullptr;
    for (Slot& s : slots_) {
        if (s.live.load())
            waiting += s.size;
        else if (!slot)
            slot = &s;
    }
    if (!slot || size == 0 || size > maxWaitingBytes - std::min(waiting, maxWaitingBytes))
        return false;

    creating_.store(true);
    if (closing_.load()) {
        creating_.store(false);
        return false;
    }
    // Names unique to this process; one left by an earlier process with the same number is
    // stepped over, never reused. The slot is marked before the object exists, so that a
    // handler interrupting this very thread removes it all the same.
    slot->medium = medium;
    slot->size = size;
    int fd = -1;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        if (medium == Medium::sharedMemory)
            std::snprintf(slot->name, sizeof slot->name, "/viewer-%ld-%u", long(getpid()),
                          counter_++);
        else
            std::snprintf(slot->name, sizeof slot->name, "%s%ld-%u", fileDirectory,
                          long(getpid()), counter_++);
        slot->live.store(true);
        fd = openObject(medium, slot->name);
        if (fd < 0)
            slot->live.store(false);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    creating_.store(false);
    if (fd < 0)
        return false;
    object.fd = fd;
    object.size = size;
    object.name = slot->name;
    return true;
}

bool ImageHandover::write(const Object& object, const void* bytes, std::size_t size)
{
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t n = ::write(object.fd, next, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        next += n;
        size -= std::size_t(n);
    }
    return true;
}

void ImageHandover::finish(Object& object)
{
    if (object.fd >= 0)
        ::close(object.fd);
    object.fd = -1;
}

void ImageHandover::remove(const char* name)
{
    for (Slot& slot : slots_)
        if (slot.live.load() && slot.name == name) {
            unlinkObject(slot.medium, slot.name);
            slot.live.store(false);
        }
}

bool ImageHandover::exists(const Slot& slot)
{
    if (slot.medium == Medium::temporaryFile)
        return access(slot.name, F_OK) == 0;
    const int fd = shm_open(slot.name, O_RDONLY | O_CLOEXEC, 0);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0 || errno != ENOENT;
}

void ImageHandover::reclaimTaken()
{
    for (Slot& slot : slots_)
        if (slot.live.load() && !exists(slot))
            slot.live.store(false);
}

void ImageHandover::close(std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    auto pause = std::chrono::microseconds(250);
    for (;;) {
        reclaimTaken();
        const bool waiting = std::any_of(std::begin(slots_), std::end(slots_),
                                         [](const Slot& s) { return s.live.load(); });
        if (!waiting || std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(2000));
    }
    for (Slot& slot : slots_)
        if (slot.live.load()) {
            unlinkObject(slot.medium, slot.name);
            slot.live.store(false);
        }
}

void ImageHandover::unlinkObject(Medium medium, const char* name) noexcept
{
    // glibc's shm_unlink only forms the path under /dev/shm on the stack and unlinks it, so it
    // is as safe in a signal handler as unlink itself.
    if (medium == Medium::sharedMemory)
        shm_unlink(name);
    else
        unlink(name);
}

void ImageHandover::removeAllFromHandler() noexcept
{
    closing_.store(true);
    // The creating thread holds `creating_` for one open call; the bound only matters if the
    // handler interrupted that very thread.
    for (int waited = 0; creating_.load() && waited < 200; ++waited) {
        const timespec millisecond{0, 1000000};
        nanosleep(&millisecond, nullptr);
    }
    for (Slot& slot : slots_)
        if (slot.live.load())
            unlinkObject(slot.medium, slot.name);
}
