// The console window's text area as pixels: what SetPixel stores and the presenter shows.
#pragma once

#include <atomic>
#include <cstdint>

#include "console/bytes/zeroed_memory.h"

// One thread paints while another reads. Each pixel and each row's "changed" mark is an
// atomic with relaxed or release/acquire ordering, which on the processors we run on are plain
// loads and stores: a pixel costs no lock and no system call. A row marked changed after its
// pixels were stored is always read with them; a pixel stored after the presenter took the mark
// marks the row again, so nothing painted is ever left unshown.
class Surface {
public:
    // What a pixel holds: 0 where it was never painted, else `painted` | 0x00BBGGRR.
    static constexpr std::uint32_t painted = 0x01000000;

    Surface(int width, int height);
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }

    // Stores one pixel; false (and nothing stored) where (x, y) lies outside the surface.
    bool set(int x, int y, std::uint32_t colour)
    {
        if (unsigned(x) >= unsigned(width_) || unsigned(y) >= unsigned(height_))
            return false;
        pixels_[std::size_t(y) * std::size_t(width_) + std::size_t(x)].store(
            painted | (colour & 0xFFFFFF), std::memory_order_relaxed);
        changed_[y].store(true, std::memory_order_release);
        return true;
    }

    std::uint32_t get(int x, int y) const
    {
        return pixels_[std::size_t(y) * std::size_t(width_) + std::size_t(x)].load(
            std::memory_order_relaxed);
    }

    // The columns from the first to the last painted pixel in rows [top, bottom), columns
    // [0, right); false where none is painted.
    bool paintedSpan(int top, int bottom, int right, int& first, int& last) const;

    // Whether row y changed since the last call for it; clears the mark.
    bool takeChanged(int y) { return changed_[y].exchange(false, std::memory_order_acquire); }

    // Marks row y changed again: its showing was cut short.
    void markChanged(int y) { changed_[y].store(true, std::memory_order_release); }

private:
    int width_;
    int height_;
    // Every pixel unpainted and every row unchanged: all zero, as the memory comes.
    ZeroedMemory pixelMemory_, changedMemory_;
    std::atomic<std::uint32_t>* pixels_;
    std::atomic<bool>* changed_;
};
