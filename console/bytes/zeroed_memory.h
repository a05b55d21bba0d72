// Memory that reads as zero from the start without being written: fresh pages from the system,
// which it zeroes itself as each is first touched, so room that is never used costs nothing.
// Blocks of a megabyte or more are asked to be backed by pages of 2 MB where the system offers
// them (Linux's transparent huge pages): a 1080p surface, or the megabytes of a large picture's
// sixel images, are then a handful of page faults instead of thousands, each of which costs
// most under a hypervisor.
#pragma once

#include <cstddef>

class ZeroedMemory {
public:
    ZeroedMemory() = default;
    explicit ZeroedMemory(std::size_t size);  // throws std::bad_alloc where there is none
    ~ZeroedMemory();
    ZeroedMemory(ZeroedMemory&& other) noexcept { swap(other); }
    ZeroedMemory& operator=(ZeroedMemory&& other) noexcept
    {
        swap(other);
        return *this;
    }
    void swap(ZeroedMemory& other) noexcept;

    void* data() const { return data_; }
    std::size_t size() const { return usable_; }  // at least what was asked for

private:
    void* block_ = nullptr;  // what the system gave, and its size
    std::size_t blockSize_ = 0;
    void* data_ = nullptr;   // where the memory starts in it, and how much of it there is
    std::size_t usable_ = 0;
};
