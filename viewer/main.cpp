// The viewer: paints the bitmap "Painting.bmp" from the current directory onto the console
// window it runs in, pixel by pixel, row by row as the rows are read, then waits for Enter.
//
// The picture's first pixel goes 10 pixels right of and below the window's top-left corner.
// Rows are painted in the order the file stores them, the first stored row at the top; an
// ordinary bitmap stores its bottom row first, so it shows upside down.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "bitmap/bitmap_header.h"
#include "platform/win32.h"
#include "viewer/draw_pixel.h"
#include "viewer/report.h"

int main()
{
    const int origin = 10;  // the picture's offset from the window's corner, both ways

    HWND window = GetConsoleWindow();
    HDC canvas = GetDC(window);

    const std::string fileName = "Painting.bmp";
    std::FILE* file = std::fopen(fileName.c_str(), "rb");
    if (!file) {
        const int error = errno;
        return fail("cannot open " + fileName + ": " + reason(error));
    }

    unsigned char info[headerSize];
    const std::size_t headerRead = std::fread(info, 1, headerSize, file);
    if (headerRead < std::size_t(headerSize)) {
        const int error = errno;
        const bool broken = std::ferror(file);
        std::fclose(file);
        if (broken)
            return fail("cannot read " + fileName + ": " + reason(error));
        return fail(fileName + " is too short for a bitmap header: " +
                    std::to_string(headerRead) + " of " + std::to_string(headerSize) + " bytes");
    }

    const std::int32_t width = bitmapWidth(info);
    const std::int32_t height = bitmapHeight(info);
    std::int32_t rowSize = 0;
    if (!rowSizeFor(width, rowSize)) {
        std::fclose(file);
        return fail(fileName + " has a width of " + std::to_string(width) +
                    " pixels, for which no row size exists");
    }

    const std::unique_ptr<unsigned char[]> row(new (std::nothrow) unsigned char[rowSize]);
    if (!row) {
        std::fclose(file);
        return fail("cannot allocate a row of " + std::to_string(rowSize) + " bytes for " +
                    fileName);
    }

    // Rows below this one would lie past the largest y a pixel can have. A row of no bytes
    // (width 0 or -1) paints nothing, so then there is nothing to read at all.
    const std::int32_t lastRow = std::numeric_limits<std::int32_t>::max() - origin;
    for (std::int32_t y = 0; y < height && y <= lastRow && rowSize > 0; ++y) {
        const std::int32_t filled = std::int32_t(std::fread(row.get(), 1, rowSize, file));

        // Pixel k is bytes 3k..3k+2, stored blue, green, red; the filler after 3 * width
        // bytes is read with the row and never painted. A row the file ends in paints the
        // pixels whose three bytes arrived.
        for (std::int32_t p = 0; p < 3 * width && p + 2 < filled; p += 3) {
            std::swap(row[p], row[p + 2]);  // now red, green, blue
            const COLORREF colour = COLORREF(row[p]) | COLORREF(row[p + 1]) << 8 |
                                    COLORREF(row[p + 2]) << 16;
            drawPixel(canvas, origin + p / 3, origin + y, colour);
        }

        if (filled < rowSize) {
            // The file ended early: what was there is painted and the run goes on as usual.
            // A failing read is another matter: the picture is not what the file holds.
            if (std::ferror(file)) {
                const int error = errno;
                std::fclose(file);
                return fail("cannot read " + fileName + ": " + reason(error));
            }
            break;
        }
    }

    std::fclose(file);

    std::cin.ignore(1, EOF);
    return 0;
}
