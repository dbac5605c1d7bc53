#include <gtest/gtest.h>

#include "image/ImageImpl.h"
#include "support/TestSupport.h"

namespace {

int refCountOf(const TarvexImage& image) { return TarvexImageAccess::impl(image).refCount; }

TEST(Image, NewImageReportsItsInitialState)
{
    TarvexImage image;
    EXPECT_EQ(image.columns(), 0);
    EXPECT_EQ(image.rows(), 0);
    EXPECT_FALSE(image.valid());
    EXPECT_FALSE(image.hasValidData());
    EXPECT_EQ(image.stripCount(), 0);
    EXPECT_EQ(image.colourSpace(), TarvexImage::colourSpaceUnknown);
    EXPECT_EQ(image.bitsPerPixel(), 24);
    EXPECT_EQ(image.depth(), 8);
    EXPECT_EQ(image.resolutionUnits(), TarvexImage::resolutionInches);
    EXPECT_EQ(image.matteColour(), 0xFFFFFFu);
    EXPECT_FALSE(image.hasValidMatteColour());
    EXPECT_EQ(image.xResolution(), 0.0);
    EXPECT_EQ(image.fileSize(), 0);
    const TarvexImageImpl& im = TarvexImageAccess::impl(image);
    EXPECT_TRUE(im.isTrueColour);
    EXPECT_EQ(im.alphaChannel, -1);
    EXPECT_EQ(im.bytesPerPixel, 1);
}

TEST(Image, ColourSpaceDrivesBitsPerPixelAndTheCmykFlag)
{
    TarvexImage image;
    const struct {
        int space;
        int bits;
        bool cmyk;
    } cases[] = {{9, 32, true}, {5, 24, false}, {8, 8, false}, {1, 1, false}, {0, 24, false}, {42, 24, false}};
    for (const auto& c : cases) {
        image.colourSpace(static_cast<TarvexImage::colourSpaceType>(c.space), true);
        EXPECT_EQ(image.bitsPerPixel(), c.bits) << c.space;
        EXPECT_EQ(TarvexImageAccess::impl(image).isCMYK, c.cmyk) << c.space;
        EXPECT_EQ(image.colourSpace(), c.space);
    }
}

TEST(Image, PackedImageReportsEightBitsAndTheIndexLineLength)
{
    TarvexImage image;
    image.colourSpace(TarvexImage::colourSpaceCMYK);
    image.size(10, 2, 0, 0, nullptr, nullptr);
    TarvexImageImpl& im = TarvexImageAccess::impl(image);
    im.isTrueColour = false;
    im.indexBytesPerLine = 4;
    EXPECT_EQ(image.bitsPerPixel(), 8);
    EXPECT_EQ(image.bytesPerLine(), 4);
    EXPECT_EQ(image.fileSize(), 8);
}

TEST(Image, SetIsReadMarksTheImage)
{
    TarvexImage image;
    image.SetIsRead();
    EXPECT_TRUE(image.hasValidData());
}

TEST(Image, CopiesShareStateUntilOneIsDestroyed)
{
    TarvexImage first;
    {
        TarvexImage second(first);
        EXPECT_EQ(refCountOf(first), 2);
        second.xResolution(300.0);
        second.yResolution(150.0);
        EXPECT_EQ(first.xResolution(), 300.0);
        EXPECT_EQ(first.yResolution(), 150.0);
        TarvexImage third;
        third = first;
        EXPECT_EQ(refCountOf(first), 3);
    }
    EXPECT_EQ(refCountOf(first), 1);
    EXPECT_EQ(first.xResolution(), 300.0);
}

TEST(Image, AssignmentToItselfOrToASharerKeepsTheCount)
{
    TarvexImage a;
    TarvexImage b(a);
    TarvexImage& alias = a;
    a = alias;
    EXPECT_EQ(refCountOf(a), 2);
    a = b;
    EXPECT_EQ(refCountOf(a), 2);
}

TEST(Image, AssignmentReleasesThePreviousImage)
{
    TarvexImage a;
    TarvexImage b;
    a.xResolution(1.0);
    b.xResolution(2.0);
    a = b;
    EXPECT_EQ(a.xResolution(), 2.0);
    EXPECT_EQ(refCountOf(b), 2);
}

TEST(Image, FileSizeIsLineLengthTimesRows)
{
    TarvexImage image;
    image.size(1000, 10, 0, 0, nullptr, nullptr);
    EXPECT_EQ(image.fileSize(), 30000);
    EXPECT_TRUE(image.valid());
}

TEST(Image, ProgressMonitorIsStoredNotOwned)
{
    TarvexImageProgress monitor;
    {
        TarvexImage image;
        image.setProgressMonitor(monitor);
        EXPECT_EQ(TarvexImageAccess::impl(image).progressMonitor, &monitor);
    }
    EXPECT_TRUE(monitor.progressMonitor(L"still alive", 0, 0));
}

}  // namespace
