#include <gtest/gtest.h>

#include <TRXImage.h>

namespace {

unsigned long rgb(unsigned b0, unsigned b1, unsigned b2) { return b0 | (b1 << 8) | (b2 << 16); }

TEST(ColourMap, EmptyMapHasNoNearestAndAnswersWhite)
{
    TarvexImage image;
    EXPECT_FALSE(image.hasColourMap());
    EXPECT_EQ(image.colourMapSize(), 0);
    EXPECT_EQ(image.FindNearestColourMap(0), -1);
    EXPECT_EQ(image.colourMap(0), 0xFFFFFFul);
}

TEST(ColourMap, NearestIsSumOfByteDistances)
{
    TarvexImage image;
    image.colourMapSize(2);
    image.colourMap(0, rgb(0, 0, 0));
    image.colourMap(1, rgb(255, 255, 255));
    EXPECT_EQ(image.FindNearestColourMap(rgb(128, 128, 128)), 1);  // 384 against 381
    EXPECT_EQ(image.FindNearestColourMap(rgb(127, 127, 127)), 0);  // 381 against 384
    // Distances per byte, not per colour: one byte far off loses to three slightly off.
    image.colourMap(0, rgb(200, 0, 0));
    image.colourMap(1, rgb(60, 60, 60));
    EXPECT_EQ(image.FindNearestColourMap(rgb(0, 0, 0)), 1);
}

TEST(ColourMap, TiesGoToTheLowestIndex)
{
    TarvexImage image;
    image.colourMapSize(3);
    image.colourMap(0, rgb(255, 0, 0));
    image.colourMap(1, rgb(0, 0, 255));
    image.colourMap(2, rgb(0, 255, 0));
    EXPECT_EQ(image.FindNearestColourMap(0), 0);
    image.colourMap(0, rgb(255, 255, 0));
    EXPECT_EQ(image.FindNearestColourMap(0), 1);
}

TEST(ColourMap, TopByteIsIgnored)
{
    TarvexImage image;
    image.colourMapSize(2);
    image.colourMap(0, rgb(1, 1, 1));
    image.colourMap(1, 0);
    EXPECT_EQ(image.FindNearestColourMap(0xFF000000ul), 1);
    image.colourMap(0, 0xFF000000ul);
    EXPECT_EQ(image.FindNearestColourMap(0), 0);
    EXPECT_EQ(image.colourMap(0), 0xFF000000ul);  // stored as given
}

TEST(ColourMap, SizingReplacesTheListWithZeros)
{
    TarvexImage image;
    image.colourMapSize(5);
    for (int i = 0; i < 5; ++i)
        image.colourMap(i, rgb(i + 1, 2, 3));
    image.colourMapSize(3);
    ASSERT_EQ(image.colourMapSize(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(image.colourMap(i), 0ul);
    image.colourMap(3, 7);
    image.colourMap(-1, 7);
    EXPECT_EQ(image.colourMapSize(), 3);
    EXPECT_EQ(image.colourMap(3), 0xFFFFFFul);
    EXPECT_EQ(image.colourMap(-1), 0xFFFFFFul);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(image.colourMap(i), 0ul);
    image.colourMapSize(0);
    EXPECT_FALSE(image.hasColourMap());
    EXPECT_EQ(image.FindNearestColourMap(0), -1);
}

}  // namespace
