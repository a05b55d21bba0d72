// An append-only byte buffer that encoders write into through a raw pointer: room is made
// once per row without clearing it, and the encoder says how far it wrote. Its memory is the
// system's fresh pages (zeroed_memory.h): room made but never written costs nothing, and a
// buffer that grows to megabytes lies in huge pages.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "console/bytes/zeroed_memory.h"

class ByteBuffer {
public:
    const char* data() const { return static_cast<const char*>(memory_.data()); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void clear()  // the room stays, for the next bytes
    {
        size_ = 0;
        retired_.clear();
    }

    // A pointer at the end, with room for at least `room` more bytes.
    char* reserve(std::size_t room)
    {
        if (memory_.size() - size_ < room) {
            std::size_t grown = memory_.size() ? memory_.size() : 4096;
            while (grown - size_ < room)
                grown *= 2;
            ZeroedMemory bigger(grown);
            if (size_ > 0)
                std::memcpy(bigger.data(), memory_.data(), size_);
            memory_.swap(bigger);
            // The bytes written stay where they were until clear(): another thread may be
            // sending them from there meanwhile.
            if (size_ > 0)
                retired_.push_back(std::move(bigger));
        }
        return static_cast<char*>(memory_.data()) + size_;
    }

    // Takes the bytes written from reserve()'s pointer up to `end`.
    void commit(const char* end) { size_ = std::size_t(end - data()); }

    void append(const char* text, std::size_t length)
    {
        if (length == 0)
            return;  // `text` may be null then, which memcpy may not be given
        char* p = reserve(length);
        std::memcpy(p, text, length);
        commit(p + length);
    }
    void append(const std::string& text) { append(text.data(), text.size()); }

    std::string str() const { return std::string(data(), size_); }

private:
    ZeroedMemory memory_;
    std::size_t size_ = 0;
    std::vector<ZeroedMemory> retired_;  // the room it outgrew, with the bytes in it
};
