// Base64, written straight into an encoder's buffer: how kitty graphics carry bytes in text.
#pragma once

#include <cstddef>

// Writes `size` bytes of `data` at `p` as base64 (4 characters for every 3 bytes, the last
// group padded with '='); returns the end.
inline char* putBase64(char* p, const unsigned char* data, std::size_t size)
{
    static constexpr char digits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const unsigned v = unsigned(data[i]) << 16 | unsigned(data[i + 1]) << 8 | data[i + 2];
        *p++ = digits[v >> 18];
        *p++ = digits[(v >> 12) & 63];
        *p++ = digits[(v >> 6) & 63];
        *p++ = digits[v & 63];
    }
    if (i < size) {
        const bool two = i + 1 < size;
        const unsigned v = unsigned(data[i]) << 16 | (two ? unsigned(data[i + 1]) << 8 : 0u);
        *p++ = digits[v >> 18];
        *p++ = digits[(v >> 12) & 63];
        *p++ = two ? digits[(v >> 6) & 63] : '=';
        *p++ = '=';
    }
    return p;
}
