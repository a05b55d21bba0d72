#include "console/bytes/zeroed_memory.h"

#include <windows.h>

#include <new>
#include <utility>

ZeroedMemory::ZeroedMemory(std::size_t size)
{
    if (size == 0)
        return;
    // Committed pages read as zero; the system makes each as it is first touched.
    block_ = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!block_)
        throw std::bad_alloc();
    blockSize_ = usable_ = size;
    data_ = block_;
}

ZeroedMemory::~ZeroedMemory()
{
    if (block_)
        VirtualFree(block_, 0, MEM_RELEASE);
}

void ZeroedMemory::swap(ZeroedMemory& other) noexcept
{
    std::swap(block_, other.block_);
    std::swap(blockSize_, other.blockSize_);
    std::swap(data_, other.data_);
    std::swap(usable_, other.usable_);
}
