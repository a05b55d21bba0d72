#include "console/encoders/kitty_png.h"

#include <libdeflate.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// libdeflate's fastest level: on filtered photographs 8 to 11% smaller than zlib's level 1, in
// half its time. Its levels 2 to 6 take another 3 to 8% off for one and a half to five times
// the time: a loss where the terminal reads about as fast as two cores encode.
constexpr int deflateLevel = 1;

// PNG's filters, by the numbers a row stores: each predicts a byte from the same channel of the
// pixel to its left (a), above (b) and above-left (c), 0 past the picture's edges, and the row
// keeps the byte minus the prediction, modulo 256.
enum Filter : unsigned char { none, sub, up, average, paeth };

inline int paethPredictor(int a, int b, int c)
{
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    const int bOrC = pb <= pc ? b : c;
    return pa <= pb && pa <= pc ? a : bOrC;
}

// Calls visit(i, x, a, b, c) for each byte x of a row and its neighbours: the first pixel has
// none to its left, the rest do (two loops, so that the compiler can vectorize the second).
template <typename Visit>
inline void eachByte(const unsigned char* row, const unsigned char* above, std::size_t size,
                     std::size_t step, Visit visit)
{
    for (std::size_t i = 0; i < step && i < size; ++i)
        visit(i, int(row[i]), 0, int(above[i]), 0);
    for (std::size_t i = step; i < size; ++i)
        visit(i, int(row[i]), int(row[i - step]), int(above[i]), int(above[i - step]));
}

// How far a stored difference lies from 0, read as a signed byte.
inline unsigned magnitude(int difference)
{
    const unsigned byte = unsigned(difference) & 0xFF;
    return byte < 128 ? byte : 256 - byte;
}

// The filter whose differences are smallest, summed as signed bytes: the usual heuristic of
// PNG writers, and the one that deflates best on most rows.
Filter chooseFilter(const unsigned char* row, const unsigned char* above, std::size_t size,
                    std::size_t step)
{
    // Sums of at most 128 a byte: no row comes near 2^32. Five locals, not an array, so that
    // the compiler keeps them in vector registers.
    std::uint32_t noneSum = 0, subSum = 0, upSum = 0, averageSum = 0, paethSum = 0;
    eachByte(row, above, size, step, [&](std::size_t, int x, int a, int b, int c) {
        noneSum += magnitude(x);
        subSum += magnitude(x - a);
        upSum += magnitude(x - b);
        averageSum += magnitude(x - (a + b) / 2);
        paethSum += magnitude(x - paethPredictor(a, b, c));
    });
    const std::uint32_t sums[5] = {noneSum, subSum, upSum, averageSum, paethSum};
    Filter best = none;
    for (const Filter filter : {sub, up, average, paeth})
        if (sums[filter] < sums[best])
            best = filter;
    return best;
}

void filterRow(Filter filter, const unsigned char* row, const unsigned char* above,
               std::size_t size, std::size_t step, unsigned char* out)
{
    auto store = [&](auto predict) {
        eachByte(row, above, size, step, [&](std::size_t i, int x, int a, int b, int c) {
            out[i] = (unsigned char)(x - predict(a, b, c));
        });
    };
    switch (filter) {
    case none: std::memcpy(out, row, size); break;
    case sub: store([](int a, int, int) { return a; }); break;
    case up: store([](int, int b, int) { return b; }); break;
    case average: store([](int a, int b, int) { return (a + b) / 2; }); break;
    case paeth: store([](int a, int b, int c) { return paethPredictor(a, b, c); }); break;
    }
}

void putBigEndian(unsigned char* p, std::uint32_t value)
{
    p[0] = (unsigned char)(value >> 24);
    p[1] = (unsigned char)(value >> 16);
    p[2] = (unsigned char)(value >> 8);
    p[3] = (unsigned char)value;
}

// A chunk's length, type and data are at `chunk`, `length` bytes of data already in place;
// writes the length and the CRC after the data. Returns the end.
unsigned char* closeChunk(unsigned char* chunk, std::size_t length)
{
    putBigEndian(chunk, std::uint32_t(length));
    putBigEndian(chunk + 8 + length, std::uint32_t(libdeflate_crc32(0, chunk + 4, 4 + length)));
    return chunk + 12 + length;
}

constexpr unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t headerChunk = 12 + 13, endChunk = 12;

}  // namespace

void KittyPng::FreeCompressor::operator()(libdeflate_compressor* compressor) const
{
    libdeflate_free_compressor(compressor);
}

KittyPng::KittyPng() = default;
KittyPng::~KittyPng() = default;

const std::vector<unsigned char>& KittyPng::encode(const unsigned char* pixels, int width,
                                                   int height, int channels)
{
    if (!compressor_)  // made at the first image: an encoder that never shows one needs none
        compressor_.reset(libdeflate_alloc_compressor(deflateLevel));
    if (!compressor_)
        throw std::bad_alloc();
    const std::size_t step = std::size_t(channels), size = std::size_t(width) * step;
    filtered_.resize((1 + size) * std::size_t(height));
    const std::vector<unsigned char> nothingAbove(size, 0);
    Filter filter = none;
    for (std::size_t y = 0; y < std::size_t(height); ++y) {
        const unsigned char* row = pixels + y * size;
        const unsigned char* above = y > 0 ? row - size : nothingAbove.data();
        unsigned char* out = &filtered_[y * (1 + size)];
        // The first row, with nothing above it, chooses its own filter; the rest take the one
        // that suits the second row best. An image is one text row of the picture, alike from
        // top to bottom: choosing anew for every row took a third to a half longer on
        // photographs, for at most 1% fewer bytes.
        if (y < 2)
            filter = chooseFilter(row, above, size, step);
        *out = filter;
        filterRow(filter, row, above, size, step, out + 1);
    }

    // Signature, header, the deflated rows as one data chunk, end.
    const std::size_t bound =
        libdeflate_zlib_compress_bound(compressor_.get(), filtered_.size());
    png_.resize(sizeof signature + headerChunk + 12 + bound + endChunk);
    unsigned char* p = png_.data();
    std::memcpy(p, signature, sizeof signature);
    p += sizeof signature;

    std::memcpy(p + 4, "IHDR", 4);
    putBigEndian(p + 8, std::uint32_t(width));
    putBigEndian(p + 12, std::uint32_t(height));
    p[16] = 8;                      // bits a channel
    p[17] = channels == 4 ? 6 : 2;  // colour type: RGBA, else RGB
    p[18] = p[19] = p[20] = 0;      // deflate, filters per row, not interlaced
    p = closeChunk(p, 13);

    std::memcpy(p + 4, "IDAT", 4);
    const std::size_t deflated = libdeflate_zlib_compress(
        compressor_.get(), filtered_.data(), filtered_.size(), p + 8, bound);
    p = closeChunk(p, deflated);

    std::memcpy(p + 4, "IEND", 4);
    p = closeChunk(p, 0);
    png_.resize(std::size_t(p - png_.data()));
    return png_;
}
