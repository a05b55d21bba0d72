// The start of a Windows bitmap file as the viewer reads it.
//
// The first 54 bytes are the 14-byte file header followed by the 40-byte info header. The
// viewer reads them in one piece and takes exactly two fields: the picture's width and height.
// Everything else (the "BM" signature, the file size, the pixel-data offset, the bit count,
// the compression...) is deliberately not looked at: pixel rows are read from byte 54 on,
// three bytes a pixel (blue, green, red), each row filled up to a multiple of four bytes.
#pragma once

#include <cstdint>

constexpr int headerSize = 54;
constexpr int widthOffset = 18;   // biWidth: pixels per row, signed 32-bit little-endian
constexpr int heightOffset = 22;  // biHeight: rows stored, signed 32-bit little-endian;
                                  // positive means the bottom row is stored first

// The signed little-endian 32-bit fields of the header.
std::int32_t bitmapWidth(const unsigned char* info);
std::int32_t bitmapHeight(const unsigned char* info);

// Bytes in one stored row: three a pixel, rounded up to a multiple of four, that is
// (3 * width + 3) with the two low bits cleared. Widths 0 and -1 give 0.
// Returns false where no row size exists: a width below -1, or one for which 3 * width + 3
// leaves the signed 32-bit range. The arithmetic is done wide, so no width overflows.
bool rowSizeFor(std::int32_t width, std::int32_t& rowSize);
