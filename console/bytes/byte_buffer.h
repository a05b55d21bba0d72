// An append-only byte buffer that encoders write into through a raw pointer: room is made
// once per row without clearing it, and the encoder says how far it wrote.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

class ByteBuffer {
public:
    const char* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void clear() { size_ = 0; }

    // A pointer at the end, with room for at least `room` more bytes.
    char* reserve(std::size_t room)
    {
        if (capacity_ - size_ < room) {
            std::size_t grown = capacity_ ? capacity_ : 4096;
            while (grown - size_ < room)
                grown *= 2;
            std::unique_ptr<char[]> bigger(new char[grown]);
            if (size_ > 0)
                std::memcpy(bigger.get(), bytes_.get(), size_);
            bytes_ = std::move(bigger);
            capacity_ = grown;
        }
        return bytes_.get() + size_;
    }

    // Takes the bytes written from reserve()'s pointer up to `end`.
    void commit(const char* end) { size_ = std::size_t(end - bytes_.get()); }

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
    std::unique_ptr<char[]> bytes_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};
