#include <gtest/gtest.h>

#include "image/ImageImpl.h"
#include "support/TestSupport.h"

namespace {

TEST(CopyOnWrite, PixelsAndPropertiesOfAnUnsharedCopyAreItsOwn)
{
    for (int strips : {1, 3}) {
        SCOPED_TRACE(strips);
        TarvexImage first;
        first.colourSpace(TarvexImage::colourSpaceRGB);
        TarvexImageAccess::impl(first).alphaChannel = 3;
        first.size(6, 9, strips, 0, nullptr, nullptr);
        TarvexImage copy(first);
        copy.xResolution(300.0);
        copy.modifyImage();
        copy.xResolution(72.0);
        EXPECT_EQ(first.xResolution(), 300.0);
        EXPECT_EQ(TarvexImageAccess::impl(first).refCount + TarvexImageAccess::impl(copy).refCount, 2);
        for (int y = 0; y < 9; ++y) {
            TarvexImage::LinePointer line;
            ASSERT_TRUE(copy.setupLinePointer(line, y));
            line.get_pustr()[0] = 99;
            ASSERT_TRUE(copy.setupAlphaLinePointer(line, y));
            line.get_pustr()[0] = 98;
        }
        for (int y = 0; y < 9; ++y) {
            EXPECT_EQ(trxtest::lineBytes(first, y)[0] + trxtest::alphaLineBytes(first, y)[0], 0);
            EXPECT_EQ(trxtest::lineBytes(copy, y)[0], 99);
        }
    }
}

TEST(CopyOnWrite, CopyKeepsPixelsPropertiesAndTheMonitor)
{
    TarvexImageProgress monitor;
    TarvexImage first = trxtest::makeRgbImage(5, 4, [](int x, int y, int c) { return unsigned(x * 7 + y * 13 + c); });
    first.yResolution(150.0);
    first.SetIsRead();
    first.setProgressMonitor(monitor);
    Blob profile;
    profile.update("icc", 3);
    first.iccColourProfile(profile);
    TarvexImage copy(first);
    copy.modifyImage();
    EXPECT_EQ(std::make_tuple(copy.columns(), copy.rows(), copy.colourSpace(), copy.yResolution(), copy.hasValidData(),
                              copy.iccColourProfile().length()),
              std::make_tuple(5, 4, TarvexImage::colourSpaceRGB, 150.0, true, 3));
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(trxtest::lineBytes(copy, y), trxtest::lineBytes(first, y));
    EXPECT_EQ(TarvexImageAccess::impl(copy).progressMonitor, &monitor);  // not owned: neither image deletes it
}

TEST(CopyOnWrite, OnlyTheCallerLeavesTheSharing)
{
    TarvexImage a;
    const TarvexImageImpl* before = &TarvexImageAccess::impl(a);
    a.modifyImage();
    EXPECT_EQ(&TarvexImageAccess::impl(a), before);
    TarvexImage b(a);
    TarvexImage c(a);
    c.modifyImage();
    EXPECT_EQ(TarvexImageAccess::impl(a).refCount, 2);
    EXPECT_EQ(&TarvexImageAccess::impl(a), &TarvexImageAccess::impl(b));
    EXPECT_NE(&TarvexImageAccess::impl(a), &TarvexImageAccess::impl(c));
}

}  // namespace
