#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "image/ImageImpl.h"
#include "support/TestSupport.h"

namespace {

std::vector<std::size_t> stripSizes(const StripVector& strips)
{
    std::vector<std::size_t> sizes;
    for (const auto& s : strips)
        sizes.push_back(s.Size());
    return sizes;
}

TarvexImage rgbImage()
{
    TarvexImage image;
    image.colourSpace(TarvexImage::colourSpaceRGB);
    return image;
}

TEST(Strips, DefaultLayoutOfASmallImageIsOneStrip)
{
    TarvexImage image;
    image.size(1000, 10, 0, 0, nullptr, nullptr);
    EXPECT_EQ(image.bytesPerLine(), 3000);
    EXPECT_EQ(image.bitsPerPixel(), 24);
    EXPECT_EQ(image.stripCount(), 1);
    EXPECT_EQ(image.linesPerStrip(), 10);
    EXPECT_EQ(stripSizes(image.strips()), std::vector<std::size_t>{30000});
}

TEST(Strips, SixteenMebibyteRuleSetsTheStripCount)
{
    TarvexImage image = rgbImage();
    image.size(8000, 1000, 0, 0, nullptr, nullptr);  // 24 000 000 bytes
    EXPECT_EQ(image.stripCount(), 1);
    image.size(8000, 2100, 0, 0, nullptr, nullptr);  // 50 400 000 bytes
    EXPECT_EQ(image.stripCount(), 3);
    EXPECT_EQ(image.linesPerStrip(), 700);
    EXPECT_EQ(stripSizes(image.strips()), (std::vector<std::size_t>{16800000, 16800000, 16800000}));
}

TEST(Strips, LastStripHoldsOnlyTheRemainingLines)
{
    TarvexImage image = rgbImage();
    image.size(3, 7, 2, 0, nullptr, nullptr);
    EXPECT_EQ(image.linesPerStrip(), 4);
    EXPECT_EQ(stripSizes(image.strips()), (std::vector<std::size_t>{36, 27}));
    // More strips than lines: one line each, the strips past the last line empty.
    image.size(3, 2, 5, 0, nullptr, nullptr);
    EXPECT_EQ(image.linesPerStrip(), 1);
    EXPECT_EQ(stripSizes(image.strips()), (std::vector<std::size_t>{9, 9, 0, 0, 0}));
}

TEST(Strips, NoRowsGiveNoStrips)
{
    TarvexImage image = rgbImage();
    image.size(100, 0, 0, 0, nullptr, nullptr);
    EXPECT_EQ(image.stripCount(), 0);
    EXPECT_EQ(image.linesPerStrip(), 0);
    EXPECT_FALSE(image.valid());
}

TEST(Strips, BilevelLinesArePaddedToFourBytes)
{
    const struct {
        int columns;
        int bytes;
    } cases[] = {{0, 0}, {1, 4}, {8, 4}, {32, 4}, {33, 8}, {64, 8}, {65, 12}, {1000, 128}};
    for (const auto& c : cases) {
        TarvexImage image;
        image.colourSpace(TarvexImage::colourSpaceBilevel);
        image.size(c.columns, 3, 0, 0, nullptr, nullptr);
        EXPECT_EQ(image.bytesPerLine(), c.bytes) << c.columns;
        EXPECT_EQ(TarvexImageAccess::impl(image).indexBytesPerLine, c.bytes) << c.columns;
        EXPECT_EQ(image.bitsPerPixel(), 1);
    }
}

TEST(Strips, LineLengthFollowsTheColourSpace)
{
    const struct {
        TarvexImage::colourSpaceType space;
        int bytes;
        int bytesPerPixel;
    } cases[] = {{TarvexImage::colourSpaceGrey, 10, 1},
                 {TarvexImage::colourSpaceRGB, 30, 3},
                 {TarvexImage::colourSpaceCMYK, 40, 4},
                 {TarvexImage::colourSpaceUnknown, 30, 3}};
    for (const auto& c : cases) {
        TarvexImage image;
        image.colourSpace(c.space);
        image.size(10, 2, 0, 0, nullptr, nullptr);
        EXPECT_EQ(image.bytesPerLine(), c.bytes);
        EXPECT_EQ(TarvexImageAccess::impl(image).bytesPerPixel, c.bytesPerPixel);
    }
}

TEST(Strips, ResizingReplacesStripsAndKeepsProperties)
{
    TarvexImage image = rgbImage();
    image.xResolution(96.0);
    image.size(10, 10, 0, 0, nullptr, nullptr);
    image.size(4, 5, 0, 0, nullptr, nullptr);
    EXPECT_EQ(stripSizes(image.strips()), std::vector<std::size_t>{60});
    EXPECT_EQ(image.xResolution(), 96.0);
    EXPECT_EQ(image.colourSpace(), TarvexImage::colourSpaceRGB);
}

TEST(Strips, SourceAlphaChannelGetsAlphaStrips)
{
    TarvexImage image = rgbImage();
    TarvexImageAccess::impl(image).alphaChannel = 3;
    image.size(5, 7, 2, 0, nullptr, nullptr);
    EXPECT_EQ(stripSizes(image.alphaStrips()), (std::vector<std::size_t>{20, 15}));
    EXPECT_EQ(TarvexImageAccess::impl(image).alphaBytesPerLine, 5);
}

TEST(Strips, GivenVectorsAreSharedNotResized)
{
    StripVector colour(2), alpha(2);
    colour[0].ReSize(12);
    colour[1].ReSize(12);
    alpha[0].ReSize(4);
    alpha[1].ReSize(4);
    {
        trx::MemMapObjectMapper view(colour[1]);
        static_cast<unsigned char*>(view.get_writeable())[0] = 77;
    }
    TarvexImage image = rgbImage();
    image.size(2, 4, 2, 2, &colour, &alpha);
    EXPECT_EQ(image.stripCount(), 2);
    EXPECT_EQ(stripSizes(image.strips()), (std::vector<std::size_t>{12, 12}));
    EXPECT_EQ(stripSizes(image.alphaStrips()), (std::vector<std::size_t>{4, 4}));
    EXPECT_TRUE(image.matte() || !image.alphaStrips().empty());
    EXPECT_EQ(trxtest::lineBytes(image, 2)[0], 77);
    // The caller's allocators stay the caller's: dropping the image leaves them intact.
    image = TarvexImage();
    EXPECT_EQ(colour[1].Size(), 12u);
}

TEST(Strips, RefusedArgumentsLeaveTheImageAsItWasAndLog)
{
    TarvexImage image = rgbImage();
    image.size(4, 4, 0, 0, nullptr, nullptr);
    StripVector shortVector(1);
    trxtest::LogCapture log;
    image.size(-1, 4, 0, 0, nullptr, nullptr);
    image.size(4, -1, 0, 0, nullptr, nullptr);
    image.size(4, 4, -2, 0, nullptr, nullptr);
    image.size(4, 4, 0, -3, nullptr, nullptr);
    image.size(4, 4, 2, 0, &shortVector, nullptr);
    image.size(4, 4, 2, 0, nullptr, &shortVector);
    image.size(INT32_MAX, 1, 0, 0, nullptr, nullptr);   // 3 bytes a pixel: line past 32 bits
    image.size(1000000, 1000, 1, 0, nullptr, nullptr);  // one 3 GB strip: offsets past 32 bits
    image.size(4, 4, 65537, 0, nullptr, nullptr);       // more empty strips than allowed
    image.size(4, std::int64_t(1) << 40, 0, 0, nullptr, nullptr);
    ASSERT_EQ(log.lines().size(), 10u);
    for (const auto& line : log.utf8())
        EXPECT_EQ(line.rfind("[TRXImage] size() refused for ", 0), 0u) << line;
    EXPECT_EQ(image.columns(), 4);
    EXPECT_EQ(image.rows(), 4);
    EXPECT_EQ(stripSizes(image.strips()), std::vector<std::size_t>{48});
}

TEST(Strips, ImageBeyondTheAddressSpaceIsRefused)
{
    TarvexImage image;
    image.colourSpace(TarvexImage::colourSpaceCMYK);
    trxtest::LogCapture log;
    image.size(INT32_MAX / 4, INT32_MAX, 0, 0, nullptr, nullptr);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.utf8()[0],
              "[TRXImage] size() refused for 536870911 x 2147483647 pixels, 0 strips of 0 lines: more bytes "
              "than the address space holds\n");
    EXPECT_EQ(image.rows(), 0);
}

TEST(Strips, LinesLongerThanAStripTargetGiveEmptyTrailingStrips)
{
    // Each 40 MiB line makes two and a half strip targets: the count follows the
    // byte rule and the strips past the last line stay empty.
    TarvexImage image;
    image.colourSpace(TarvexImage::colourSpaceGrey);
    image.size(40 << 20, 2, 0, 0, nullptr, nullptr);
    EXPECT_EQ(image.stripCount(), 5);
    EXPECT_EQ(image.linesPerStrip(), 1);
    EXPECT_EQ(stripSizes(image.strips()), (std::vector<std::size_t>{40u << 20, 40u << 20, 0, 0, 0}));
    TarvexImage::LinePointer line;
    EXPECT_TRUE(image.setupLinePointer(line, 1));
    EXPECT_FALSE(image.setupLinePointer(line, 2));
}

}  // namespace
