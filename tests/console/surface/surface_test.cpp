#include "console/surface/surface.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(Surface, StoresInsideAndClipsOutside)
{
    Surface surface(7, 5);
    EXPECT_TRUE(surface.set(0, 0, 0x123456));
    EXPECT_TRUE(surface.set(6, 4, 0xABCDEF));
    EXPECT_EQ(surface.get(0, 0), Surface::painted | 0x123456);
    EXPECT_EQ(surface.get(6, 4), Surface::painted | 0xABCDEF);
    EXPECT_EQ(surface.get(1, 0), 0u) << "never painted";

    const int outside[][2] = {{-1, 0}, {0, -1}, {7, 0}, {0, 5}, {INT_MIN, 2}, {2, INT_MAX}};
    for (const auto& p : outside)
        EXPECT_FALSE(surface.set(p[0], p[1], 0x111111)) << p[0] << ", " << p[1];
}

TEST(Surface, BlackIsAColourAndTheTopByteIsNoPartOfIt)
{
    Surface surface(2, 1);
    surface.set(0, 0, 0x000000);
    surface.set(1, 0, 0xFF00FF00);
    EXPECT_EQ(surface.get(0, 0), Surface::painted) << "black must not read as unpainted";
    EXPECT_EQ(surface.get(1, 0), Surface::painted | 0x00FF00);
}

TEST(Surface, ARowIsReportedChangedOnceForEachRoundOfPainting)
{
    Surface surface(3, 3);
    EXPECT_FALSE(surface.takeChanged(1));
    surface.set(2, 1, 1);
    surface.set(0, 1, 2);
    EXPECT_TRUE(surface.takeChanged(1));
    EXPECT_FALSE(surface.takeChanged(1));
    EXPECT_FALSE(surface.takeChanged(0));
    surface.set(1, 1, 3);
    EXPECT_TRUE(surface.takeChanged(1));
    surface.set(-1, 2, 3);  // clipped: changes nothing
    EXPECT_FALSE(surface.takeChanged(2));
}

TEST(Surface, EmptySurfacesPaintNothing)
{
    Surface none(0, 0), negative(-5, -5);
    EXPECT_FALSE(none.set(0, 0, 1));
    EXPECT_FALSE(negative.set(0, 0, 1));
    EXPECT_EQ(negative.width(), 0);
}

}  // namespace
