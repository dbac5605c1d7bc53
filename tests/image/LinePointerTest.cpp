#include <gtest/gtest.h>

#include "image/ImageImpl.h"
#include "support/TestSupport.h"

namespace {

// Writes a distinct value into every line through line pointers, then checks the
// bytes where the line rule puts them, reading the strips directly.
TEST(LinePointer, EveryLineLandsWhereTheLineRuleSays)
{
    for (int strips : {1, 2, 3, 7}) {
        TarvexImage image;
        image.colourSpace(TarvexImage::colourSpaceRGB);
        image.size(5, 13, strips, 0, nullptr, nullptr);
        TarvexImage::LinePointer line;
        for (int y = 0; y < 13; ++y) {
            ASSERT_TRUE(image.setupLinePointer(line, y));
            for (int i = 0; i < 15; ++i)
                line.get_pustr()[i] = static_cast<unsigned char>(y * 16 + i);
        }
        const int lps = image.linesPerStrip();
        for (int y = 0; y < 13; ++y) {
            trx::MemMapObjectMapper view(image.strips()[y / lps]);
            const unsigned char* p = view.get_pucstr() + (y % lps) * 15;
            for (int i = 0; i < 15; ++i)
                ASSERT_EQ(p[i], y * 16 + i) << "strips " << strips << " line " << y;
        }
    }
}

TEST(LinePointer, FirstLineOfTheSecondStripIsAtOffsetZero)
{
    TarvexImage image;
    image.colourSpace(TarvexImage::colourSpaceRGB);
    image.size(3, 7, 2, 0, nullptr, nullptr);
    TarvexImage::LinePointer line;
    ASSERT_TRUE(image.setupLinePointer(line, image.linesPerStrip()));
    trx::MemMapObjectMapper view(image.strips()[1]);
    EXPECT_EQ(line.get(), view.get_pucstr());
}

TEST(LinePointer, AlphaLinesFollowTheSameRule)
{
    TarvexImage image;
    image.colourSpace(TarvexImage::colourSpaceRGB);
    TarvexImageAccess::impl(image).alphaChannel = 3;
    image.size(4, 5, 2, 0, nullptr, nullptr);
    TarvexImage::LinePointer line;
    for (int y = 0; y < 5; ++y) {
        ASSERT_TRUE(image.setupAlphaLinePointer(line, y));
        line.get_pustr()[3] = static_cast<unsigned char>(200 + y);
    }
    for (int y = 0; y < 5; ++y)
        EXPECT_EQ(trxtest::alphaLineBytes(image, y)[3], 200 + y);
}

// A refusal leaves the line empty, not on the line it pointed at before: a host that
// ignores the result must not write "alpha" into colour pixels.
TEST(LinePointer, LinesOutsideTheImageOrItsStripsAreRefusedAndLeftEmpty)
{
    TarvexImage image;
    image.colourSpace(TarvexImage::colourSpaceRGB);
    image.size(4, 4, 0, 0, nullptr, nullptr);
    // A host that swaps in a strip too small for its lines gets no pointer past it.
    image.strips()[0].ReSize(20);
    TarvexImage::LinePointer line;
    for (int y : {-1, 4, 1}) {
        ASSERT_TRUE(image.setupLinePointer(line, 0));
        EXPECT_FALSE(image.setupLinePointer(line, y)) << y;
        EXPECT_EQ(line.get_pustr(), nullptr) << y;
    }
    ASSERT_TRUE(image.setupLinePointer(line, 0));
    EXPECT_FALSE(image.setupAlphaLinePointer(line, 0));  // no alpha strips
    EXPECT_EQ(line.get(), nullptr);
}

TEST(LinePointer, CopiesViewTheSameBytesAndOutliveTheOriginal)
{
    TarvexImage image;
    image.colourSpace(TarvexImage::colourSpaceRGB);
    image.size(2, 2, 0, 0, nullptr, nullptr);
    TarvexImage::LinePointer copy;
    {
        TarvexImage::LinePointer line;
        image.setupLinePointer(line, 1);
        line.get_pustr()[0] = 9;
        TarvexImage::LinePointer second(line);
        copy = second;
        EXPECT_EQ(second.get(), line.get());
    }
    EXPECT_EQ(copy.get()[0], 9);
    InternalLinePointer empty;
    EXPECT_EQ(empty.get(), nullptr);
    InternalLinePointer direct(image.strips()[0], 6);
    EXPECT_EQ(direct.get(), copy.get());
}

}  // namespace
