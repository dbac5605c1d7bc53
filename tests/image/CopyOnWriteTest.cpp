#include <gtest/gtest.h>

#include "image/ImageImpl.h"
#include "support/TestSupport.h"

namespace {

unsigned pattern(int x, int y, int c) { return static_cast<unsigned>(x * 7 + y * 13 + c); }

TEST(CopyOnWrite, PropertyChangesAreSharedUntilModifyImage)
{
    TarvexImage first;
    TarvexImage copy(first);
    copy.xResolution(300.0);
    EXPECT_EQ(first.xResolution(), 300.0);
    copy.modifyImage();
    copy.xResolution(72.0);
    EXPECT_EQ(first.xResolution(), 300.0);
    EXPECT_EQ(TarvexImageAccess::impl(first).refCount, 1);
    EXPECT_EQ(TarvexImageAccess::impl(copy).refCount, 1);
}

TEST(CopyOnWrite, PixelsOfAnUnsharedCopyAreItsOwn)
{
    for (int strips : {1, 3}) {
        TarvexImage first;
        first.colourSpace(TarvexImage::colourSpaceRGB);
        TarvexImageAccess::impl(first).alphaChannel = 3;
        first.size(6, 9, strips, 0, nullptr, nullptr);
        TarvexImage copy(first);
        copy.modifyImage();
        for (int y = 0; y < 9; ++y) {
            TarvexImage::LinePointer line;
            ASSERT_TRUE(copy.setupLinePointer(line, y));
            line.get_pustr()[0] = 99;
            ASSERT_TRUE(copy.setupAlphaLinePointer(line, y));
            line.get_pustr()[0] = 98;
        }
        for (int y = 0; y < 9; ++y) {
            EXPECT_EQ(trxtest::lineBytes(first, y)[0], 0);
            EXPECT_EQ(trxtest::alphaLineBytes(first, y)[0], 0);
            EXPECT_EQ(trxtest::lineBytes(copy, y)[0], 99);
        }
    }
}

TEST(CopyOnWrite, CopyKeepsPixelsAndProperties)
{
    TarvexImage first = trxtest::makeRgbImage(5, 4, pattern);
    first.yResolution(150.0);
    first.SetIsRead();
    Blob profile;
    profile.update("icc", 3);
    first.iccColourProfile(profile);
    TarvexImage copy(first);
    copy.modifyImage();
    EXPECT_EQ(copy.columns(), 5);
    EXPECT_EQ(copy.rows(), 4);
    EXPECT_EQ(copy.colourSpace(), TarvexImage::colourSpaceRGB);
    EXPECT_EQ(copy.yResolution(), 150.0);
    EXPECT_TRUE(copy.hasValidData());
    EXPECT_EQ(copy.iccColourProfile().length(), 3);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(trxtest::lineBytes(copy, y), trxtest::lineBytes(first, y));
    EXPECT_EQ(TarvexImageAccess::impl(copy).imageInput, nullptr);
    EXPECT_EQ(TarvexImageAccess::impl(copy).interpreter, nullptr);
}

TEST(CopyOnWrite, UnsharedImageIsLeftAlone)
{
    TarvexImage image = trxtest::makeRgbImage(2, 2, pattern);
    const TarvexImageImpl* before = &TarvexImageAccess::impl(image);
    image.modifyImage();
    EXPECT_EQ(&TarvexImageAccess::impl(image), before);
}

TEST(CopyOnWrite, OtherSharersKeepSharing)
{
    TarvexImage a;
    TarvexImage b(a);
    TarvexImage c(a);
    c.modifyImage();
    EXPECT_EQ(TarvexImageAccess::impl(a).refCount, 2);
    EXPECT_EQ(&TarvexImageAccess::impl(a), &TarvexImageAccess::impl(b));
    EXPECT_NE(&TarvexImageAccess::impl(a), &TarvexImageAccess::impl(c));
}

}  // namespace
