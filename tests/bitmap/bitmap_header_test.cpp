#include "bitmap/bitmap_header.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

TEST(RowSize, RoundsThreeBytesAPixelUpToFour)
{
    const struct {
        std::int32_t width, rowSize;
    } cases[] = {{1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {161, 484}, {0, 0}, {-1, 0},
                 // the widest picture whose row size still fits a signed 32-bit integer
                 {715827881, 2147483644}};
    for (const auto& c : cases) {
        std::int32_t rowSize = -12345;
        ASSERT_TRUE(rowSizeFor(c.width, rowSize)) << "width " << c.width;
        EXPECT_EQ(rowSize, c.rowSize) << "width " << c.width;
    }
}

TEST(RowSize, DoesNotExistForWidthsBelowMinusOneOrPastTheIntegerRange)
{
    const std::int32_t widths[] = {-2, -3, -1000, std::numeric_limits<std::int32_t>::min(),
                                   715827882, 1000000000,
                                   std::numeric_limits<std::int32_t>::max()};
    for (const std::int32_t width : widths) {
        std::int32_t rowSize = -12345;
        EXPECT_FALSE(rowSizeFor(width, rowSize)) << "width " << width;
        EXPECT_EQ(rowSize, -12345) << "width " << width << " must leave the row size alone";
    }
}

TEST(Header, WidthAndHeightAreSignedLittleEndianAt18And22)
{
    unsigned char info[headerSize] = {};
    const unsigned char width[] = {0x78, 0x56, 0x34, 0x12};
    const unsigned char height[] = {0x9C, 0xFF, 0xFF, 0xFF};  // -100: stored top row first
    for (int i = 0; i < 4; ++i) {
        info[18 + i] = width[i];
        info[22 + i] = height[i];
    }
    EXPECT_EQ(bitmapWidth(info), 0x12345678);
    EXPECT_EQ(bitmapHeight(info), -100);

    for (int i = 0; i < 4; ++i)
        info[18 + i] = i == 3 ? 0x80 : 0;
    EXPECT_EQ(bitmapWidth(info), std::numeric_limits<std::int32_t>::min());
    for (int i = 0; i < 4; ++i)
        info[22 + i] = i == 3 ? 0x7F : 0xFF;
    EXPECT_EQ(bitmapHeight(info), std::numeric_limits<std::int32_t>::max());
}

TEST(Header, NoOtherByteMatters)
{
    unsigned char plain[headerSize] = {};
    unsigned char noisy[headerSize];
    for (int i = 0; i < headerSize; ++i)
        noisy[i] = (unsigned char)(0xA5 ^ i);
    for (int i = 18; i < 26; ++i)
        noisy[i] = plain[i] = (unsigned char)(i * 7);
    EXPECT_EQ(bitmapWidth(noisy), bitmapWidth(plain));
    EXPECT_EQ(bitmapHeight(noisy), bitmapHeight(plain));
}

}  // namespace
