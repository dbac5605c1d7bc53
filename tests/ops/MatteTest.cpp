#include <gtest/gtest.h>

#include "image/ImageImpl.h"
#include "support/OpsImages.h"

namespace {

using trxtest::Plane;

TEST(Matte, TrueAddsAnOpaquePlaneBesideEachColourStrip)
{
    std::mt19937 random(1);
    TarvexImage image = trxtest::makeImage(TarvexImage::colourSpaceRGB, trxtest::randomPlane(5, 10, 3, random), 3);
    ASSERT_EQ(image.linesPerStrip(), 4);
    const Plane colour = trxtest::colourPlane(image);
    EXPECT_FALSE(image.matte());
    image.matte(true);
    EXPECT_TRUE(image.matte());
    ASSERT_EQ(image.alphaStrips().size(), 3u);
    EXPECT_EQ(image.alphaStrips()[0].Size(), 4u * 5);
    EXPECT_EQ(image.alphaStrips()[1].Size(), 4u * 5);
    EXPECT_EQ(image.alphaStrips()[2].Size(), 2u * 5);
    Plane opaque(5, 10, 1);
    std::fill(opaque.bytes.begin(), opaque.bytes.end(), 255);
    EXPECT_EQ(trxtest::alphaPlane(image), opaque);
    EXPECT_EQ(trxtest::colourPlane(image), colour);
}

TEST(Matte, NeverRemovesOrReplacesAlpha)
{
    std::mt19937 random(2);
    TarvexImage image = trxtest::makeImage(TarvexImage::colourSpaceRGB, trxtest::randomPlane(6, 4, 3, random));
    const Plane alpha = trxtest::randomPlane(6, 4, 1, random);
    trxtest::setAlpha(image, alpha);
    const auto before = trxtest::snapshot(image);
    image.matte(false);
    image.matte(true);
    EXPECT_TRUE(image.matte());
    EXPECT_TRUE(trxtest::snapshot(image) == before);
    EXPECT_EQ(trxtest::alphaPlane(image), alpha);
}

TEST(Matte, RefusedWithoutLinesOrTrueColour)
{
    TarvexImage empty;
    empty.colourSpace(TarvexImage::colourSpaceRGB);
    empty.size(4, 0, 0, 0, nullptr, nullptr);
    empty.matte(true);
    EXPECT_FALSE(empty.matte());

    TarvexImage narrow;
    narrow.colourSpace(TarvexImage::colourSpaceRGB);
    narrow.size(0, 3, 0, 0, nullptr, nullptr);
    narrow.matte(true);
    EXPECT_FALSE(narrow.matte());

    // A reduced image is no longer true colour.
    TarvexImage grey = trxtest::makeImage(TarvexImage::colourSpaceRGB, Plane(9, 2, 3));
    ASSERT_TRUE(grey.ReduceIfPossible());
    grey.matte(true);
    EXPECT_FALSE(grey.matte());

    TarvexImage plain = trxtest::makeImage(TarvexImage::colourSpaceRGB, Plane(2, 2, 3));
    plain.matte(false);
    EXPECT_FALSE(plain.matte());
    EXPECT_TRUE(plain.alphaStrips().empty());
}

}  // namespace
