#include <gtest/gtest.h>

#include <tuple>

#include "image/ImageImpl.h"
#include "support/OpsImages.h"
#include "support/TestSupport.h"

namespace {

using namespace trxtest;
using Sizes = std::vector<std::int64_t>;
constexpr auto kRgb = TarvexImage::colourSpaceRGB, kBilevel = TarvexImage::colourSpaceBilevel,
               kCmyk = TarvexImage::colourSpaceCMYK, kGrey = TarvexImage::colourSpaceGrey;

TEST(Strips, SizeLaysOutWholeLinesInStripsOfSixteenMebibytes)
{
    // Space, alpha, columns, rows, strip count; line length, bits per pixel and lines per
    // strip; strip sizes, -1, alpha strip sizes, -1.
    const std::tuple<const char*, TarvexImage::colourSpaceType, bool, std::int64_t, std::int64_t, int, Sizes, Sizes>
        rows[] = {
            {"50 400 000 bytes: 3", kRgb, 0, 8000, 2100, 0, {24000, 24, 700}, {16800000, 16800000, 16800000, -1, -1}},
            {"the last strip holds the rest", kRgb, 1, 3, 7, 2, {9, 24, 4}, {36, 27, -1, 12, 9, -1}},
            {"more strips than lines", kRgb, 0, 3, 2, 5, {9, 24, 1}, {9, 9, 0, 0, 0, -1, -1}},
            {"lines past 16 MiB", kGrey, 0, 40 << 20, 2, 0, {40 << 20, 8, 1}, {40 << 20, 40 << 20, 0, 0, 0, -1, -1}},
            {"bilevel, 33 columns", kBilevel, 0, 33, 3, 0, {8, 1, 3}, {24, -1, -1}},
            {"no columns", kRgb, 1, 0, 5, 0, {0, 24, 5}, {0, -1, 0, -1}},
        };
    for (const auto& [name, space, alpha, columns, lines, strips, layout, sizes] : rows) {
        SCOPED_TRACE(name);
        TarvexImage image;
        image.colourSpace(space);
        TarvexImageAccess::impl(image).alphaChannel = alpha ? 3 : -1;
        image.size(7, 5, 0, 0, nullptr, nullptr);  // replaced by the next call
        image.size(columns, lines, strips, 0, nullptr, nullptr);
        EXPECT_EQ(Sizes({image.bytesPerLine(), image.bitsPerPixel(), image.linesPerStrip()}), layout);
        EXPECT_EQ(stripSizes(image), sizes);
    }
}

// Strips given to size() are shared copy-on-write: the image reads the caller's bytes,
// and changing or dropping it leaves them to the caller.
TEST(Strips, GivenStripsAreSharedAndStayTheCallers)
{
    Plane pixels(9, 5, 3), alpha(9, 5, 1);
    for (std::size_t i = 0; i < pixels.bytes.size(); ++i)
        pixels.bytes[i] = alpha.bytes[i / 3] = static_cast<unsigned char>(i / 3 * 37);  // grey, so that it reduces
    TarvexImage original = makeImage(kRgb, pixels, 2, &alpha);
    const auto before = snapshot(original);
    for (int step = 0; step < 3; ++step) {
        TarvexImage shared;
        shared.colourSpace(kRgb);
        shared.size(9, 5, 2, 3, &original.strips(), &original.alphaStrips());
        EXPECT_EQ(snapshot(shared), before);
        ASSERT_TRUE(step == 2 || (step ? shared.ReduceIfPossible() : shared.level(0.2, 0.8, 2.0))) << step;
    }
    EXPECT_EQ(snapshot(original), before);
}

TEST(Strips, RefusedArgumentsLeaveTheImageAsItWasAndLog)
{
    TarvexImage image = makeImage(kCmyk, Plane(4, 4, 4));
    StripVector shortVector(1);
    LogCapture log;
    image.size(INT32_MAX / 4, INT32_MAX, 0, 0, nullptr, nullptr);
    image.size(-1, 4, 0, 0, nullptr, nullptr);
    image.size(4, 4, 0, -3, nullptr, nullptr);
    image.size(4, 4, 2, 0, &shortVector, nullptr);
    image.size(4, 4, 2, 0, nullptr, &shortVector);
    image.size(INT32_MAX, 1, 0, 0, nullptr, nullptr);  // 4 bytes a pixel: a line past 32 bits
    image.size(1000000, 600, 1, 0, nullptr, nullptr);  // one 2.4 GB strip: offsets past 32 bits
    image.size(4, 4, 65537, 0, nullptr, nullptr);      // more empty strips than allowed
    image.size(4, std::int64_t(1) << 40, 0, 0, nullptr, nullptr);
    ASSERT_EQ(log.lines().size(), 9u);
    EXPECT_EQ(stripSizes(image), Sizes({64, -1, -1}));
}

// A refused line is left empty, not on the line it pointed at before: a host that
// ignores the result must not write "alpha" into colour pixels.
TEST(LinePointer, RefusedLinesAreLeftEmpty)
{
    TarvexImage image = makeImage(kRgb, Plane(4, 4, 3));
    image.strips()[0].ReSize(20);  // a host's strip too small for its lines
    TarvexImage::LinePointer line;
    for (int y : {-1, 4, 1, 0}) {
        ASSERT_TRUE(image.setupLinePointer(line, 0));
        EXPECT_FALSE(y ? image.setupLinePointer(line, y) : image.setupAlphaLinePointer(line, y)) << y;
        EXPECT_EQ(line.get(), nullptr) << y;
    }
    EXPECT_EQ(InternalLinePointer().get(), nullptr);
}

// An update from the blob's own bytes: there is no other holder, so they are copied
// before the old store goes. From nowhere, it leaves no content.
TEST(Blob, UpdateReplacesTheContentAlsoFromItsOwnBytes)
{
    Blob blob;
    blob.update("abc", 3);
    blob.update(blob.data() + 1, 2);
    EXPECT_EQ(std::string(blob.data(), blob.length()), "bc");
    blob.update(nullptr, 3);
    EXPECT_EQ(blob.data(), nullptr);
}

}  // namespace
