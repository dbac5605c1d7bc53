#include <gtest/gtest.h>

#include <tuple>

#include "image/ImageImpl.h"
#include "support/TestSupport.h"

namespace {

TarvexImageImpl& impl(TarvexImage& image) { return TarvexImageAccess::impl(image); }

// Puts `value` first in line y's colour bytes and `value` + 1 first in its alpha bytes.
void mark(TarvexImage& image, int y, int value)
{
    TarvexImage::LinePointer line;
    ASSERT_TRUE(image.setupLinePointer(line, y));
    line.get_pustr()[0] = static_cast<unsigned char>(value);
    ASSERT_TRUE(image.setupAlphaLinePointer(line, y));
    line.get_pustr()[0] = static_cast<unsigned char>(value + 1);
}

// Copies and assignments share one counted image. The caller of modifyImage leaves the
// sharing with its own copy of pixels and properties (the read pipeline test follows the
// ICC profile); the others go on sharing, and an unshared image stays as it is. Three
// strips: each must be copied, not only the first.
TEST(CopyOnWrite, OnlyTheCallerLeavesWithItsOwnCopy)
{
    TarvexImageProgress monitor;
    TarvexImage first;
    const TarvexImageImpl* alone = &impl(first);
    first.modifyImage();
    EXPECT_EQ(&impl(first), alone);
    first.colourSpace(TarvexImage::colourSpaceRGB);
    impl(first).alphaChannel = 3;
    first.size(6, 9, 3, 0, nullptr, nullptr);
    first.SetIsRead();
    first.setProgressMonitor(monitor);
    for (int y = 0; y < 9; ++y)
        mark(first, y, y + 1);
    TarvexImage copy(first), other(first), third;
    TarvexImage& alias = third;
    third = other;  // releases its own image
    third = alias;
    third = copy;             // every count change here shows in the count of 2 checked below
    third = TarvexImage();    // leaves the shared image to the others
    copy.xResolution(300.0);  // still shared: the others see it
    copy.modifyImage();
    EXPECT_EQ(std::make_tuple(copy.columns(), copy.rows(), copy.colourSpace(), copy.xResolution(), copy.hasValidData(),
                              impl(copy).progressMonitor),
              std::make_tuple(6, 9, TarvexImage::colourSpaceRGB, 300.0, true, &monitor));
    copy.xResolution(72.0);
    EXPECT_EQ(std::make_tuple(first.xResolution(), impl(first).refCount, impl(copy).refCount, &impl(other)),
              std::make_tuple(300.0, 2, 1, &impl(first)));
    for (int y = 0; y < 9; ++y) {
        EXPECT_EQ(trxtest::lineBytes(copy, y), trxtest::lineBytes(first, y));
        EXPECT_EQ(trxtest::alphaLineBytes(copy, y), trxtest::alphaLineBytes(first, y));
        mark(copy, y, 99);
        EXPECT_EQ(trxtest::lineBytes(first, y)[0] + trxtest::alphaLineBytes(first, y)[0], 2 * y + 3);
    }
}

}  // namespace
