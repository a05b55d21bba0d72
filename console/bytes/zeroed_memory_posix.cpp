#include "console/bytes/zeroed_memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>
#include <utility>

namespace {

constexpr std::size_t hugePage = std::size_t(2) << 20;

}  // namespace

ZeroedMemory::ZeroedMemory(std::size_t size)
{
    if (size == 0)
        return;
    // Anonymous pages are zero. A large block is whole huge pages, aligned to one, so that the
    // kernel can back all of it with them; the advice is only that, and where the kernel has
    // none (or declines), ordinary pages do.
    const bool huge = size >= hugePage / 2;
    usable_ = huge ? (size + hugePage - 1) & ~(hugePage - 1) : size;
    blockSize_ = huge ? usable_ + hugePage : usable_;
    block_ = mmap(nullptr, blockSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block_ == MAP_FAILED) {
        block_ = nullptr;
        throw std::bad_alloc();
    }
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block_);
    data_ = huge ? reinterpret_cast<void*>((start + hugePage - 1) & ~(hugePage - 1)) : block_;
#ifdef MADV_HUGEPAGE  // (Linux's; other systems have no such advice)
    if (huge)
        madvise(data_, usable_, MADV_HUGEPAGE);
#endif
}

ZeroedMemory::~ZeroedMemory()
{
    if (block_)
        munmap(block_, blockSize_);
}

void ZeroedMemory::swap(ZeroedMemory& other) noexcept
{
    std::swap(block_, other.block_);
    std::swap(blockSize_, other.blockSize_);
    std::swap(data_, other.data_);
    std::swap(usable_, other.usable_);
}
