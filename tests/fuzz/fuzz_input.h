// What the fuzz targets share: their input read a byte at a time, and a check that ends the
// run, as a finding, where a property fails.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

inline void check(bool holds, const std::string& what)
{
    if (!holds) {
        std::fprintf(stderr, "fuzz target: %s\n", what.c_str());
        std::abort();
    }
}

// Reads the input a byte at a time; 0 once it is used up.
struct Input {
    const std::uint8_t* data;
    std::size_t size, at = 0;
    unsigned byte() { return at < size ? data[at++] : 0; }
    int in(int low, int high) { return low + int(byte() % unsigned(high - low + 1)); }
};
