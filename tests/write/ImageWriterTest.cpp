#include <gtest/gtest.h>

#include "image/ImageImpl.h"
#include "support/TestSupport.h"
#include "support/WriteFiles.h"
#include "write/ImageWriter.h"

namespace {

using trxtest::RecordingOutput;

unsigned pattern(int x, int y, int c) { return (x * 7 + y * 13 + c * 29 + 1) & 0xff; }

struct Written {
    bool result;
    RecordingOutput* output;  // owned by `holder`
    std::unique_ptr<OIIO::ImageOutput> holder;
};

Written writeRecorded(TarvexImage& image, int quality = -1, void (*setup)(RecordingOutput&) = nullptr,
                      const char* format = "tiff")
{
    auto* output = new RecordingOutput;
    output->format = format;
    if (setup)
        setup(*output);
    std::unique_ptr<OIIO::ImageOutput> holder(output);
    const bool result = writeToOutput(holder, TarvexImageAccess::impl(image), "out.rec", quality);
    return {result, output, std::move(holder)};
}

struct LayoutCase {
    bool cmyk;
    bool alpha;
    std::vector<std::string> names;
    int alphaChannel;
    const char* colourSpace;
    bool unassociated;
};

class WriterLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(WriterLayout, SpecAndRowsFollowTheLayout)
{
    const LayoutCase& c = GetParam();
    TarvexImage image = trxtest::makeImage(c.cmyk, c.alpha, 5, 7, pattern, 3);
    Written w = writeRecorded(image);
    ASSERT_TRUE(w.result);
    const OIIO::ImageSpec& spec = w.output->openedSpec;
    EXPECT_EQ(w.output->openedName, "out.rec");
    EXPECT_EQ(spec.width, 5);
    EXPECT_EQ(spec.height, 7);
    EXPECT_EQ(spec.format, OIIO::TypeDesc::UINT8);
    EXPECT_EQ(spec.channelnames, c.names);
    EXPECT_EQ(spec.nchannels, static_cast<int>(c.names.size()));
    EXPECT_EQ(spec.alpha_channel, c.alphaChannel);
    EXPECT_EQ(spec.get_string_attribute("oiio:ColorSpace"), c.colourSpace);
    EXPECT_EQ(spec.get_string_attribute("tiff:ColorSpace"), c.colourSpace);
    EXPECT_EQ(spec.find_attribute("oiio:UnassociatedAlpha") != nullptr, c.unassociated);
    if (c.unassociated) {
        EXPECT_EQ(spec.get_int_attribute("oiio:UnassociatedAlpha"), 1);
    }
    EXPECT_EQ(w.output->rowsOffered, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(w.output->pixels, trxtest::expectedPixels(image));
    EXPECT_EQ(w.output->closes, 1);
}

INSTANTIATE_TEST_SUITE_P(Layouts, WriterLayout,
                         ::testing::Values(LayoutCase{true, true, {"C", "M", "Y", "K", "A"}, 4, "CMYK", true},
                                           LayoutCase{true, false, {"C", "M", "Y", "K"}, -1, "CMYK", false},
                                           LayoutCase{false, true, {"R", "G", "B", "A"}, 3, "", true},
                                           LayoutCase{false, false, {"R", "G", "B"}, -1, "", false}),
                         [](const auto& info) {
                             const LayoutCase& c = info.param;
                             return std::string(c.cmyk ? "CMYK" : "RGB") + (c.alpha ? "A" : "");
                         });

TEST(Writer, CmykaPixelIsColourThenAlpha)
{
    TarvexImage image =
        trxtest::makeImage(true, true, 1, 1, [](int, int, int c) { return c < 4 ? 10u * (c + 1) : 255u; });
    Written w = writeRecorded(image);
    ASSERT_TRUE(w.result);
    EXPECT_EQ(w.output->pixels, (std::vector<unsigned char>{10, 20, 30, 40, 255}));
}

TEST(Writer, RowsWithoutAlphaComeStraightFromStripMemory)
{
    for (bool cmyk : {false, true}) {
        TarvexImage image = trxtest::makeImage(cmyk, false, 4, 5, pattern, 2);
        Written w = writeRecorded(image);
        ASSERT_EQ(w.output->rowAddresses.size(), 5u);
        TarvexImage::LinePointer line;
        for (int y = 0; y < 5; ++y) {
            image.setupLinePointer(line, y);
            EXPECT_EQ(w.output->rowAddresses[y], line.get()) << "row " << y;
        }
    }
}

// A missing resolution is left to the file's own absence of one, not written as 0.
TEST(Writer, ResolutionIsWrittenOnlyWhenSet)
{
    TarvexImage image = trxtest::makeImage(false, false, 2, 2, pattern);
    for (double x : {0.0, 300.0}) {
        image.xResolution(x);
        image.yResolution(0.0);
        Written unset = writeRecorded(image, -1, nullptr, "recording");
        for (const char* name : {"XResolution", "YResolution", "ResolutionUnit"})
            EXPECT_EQ(unset.output->openedSpec.find_attribute(name), nullptr) << name;
    }
    image.xResolution(300.25);
    image.yResolution(72.0);
    Written set = writeRecorded(image, -1, nullptr, "recording");
    const OIIO::ParamValue* x = set.output->openedSpec.find_attribute("XResolution");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->type(), OIIO::TypeFloat);
    EXPECT_EQ(set.output->openedSpec.get_float_attribute("XResolution"), 300.25f);
    EXPECT_EQ(set.output->openedSpec.get_float_attribute("YResolution"), 72.f);
    EXPECT_EQ(set.output->openedSpec.get_string_attribute("ResolutionUnit"), "in");
}

TEST(Writer, CmykIsKeptOnlyWhereTheFormatHoldsIt)
{
    // C and K sweep every pair; M and Y and alpha vary besides.
    const auto cmyka = [](int x, int y, int c) {
        return static_cast<unsigned>(c == 0 ? x : c == 1 ? 255 - x : c == 2 ? x ^ y : c == 3 ? y : x + y) & 0xff;
    };
    for (bool alpha : {false, true}) {
        TarvexImage image = trxtest::makeImage(true, alpha, 256, 256, cmyka, 100);
        const std::vector<unsigned char> source = trxtest::expectedPixels(image);
        const std::vector<unsigned char> rgb = trxtest::cmykAsRgb(source, alpha);
        for (const char* format : {"tiff", "jpeg", "png", "bmp", "gif", "webp", "targa", "pnm", "openexr", "sgi"}) {
            SCOPED_TRACE(std::string(format) + (alpha ? " with alpha" : ""));
            Written w = writeRecorded(image, -1, nullptr, format);
            ASSERT_TRUE(w.result);
            const bool kept = std::string(format) == "tiff" || std::string(format) == "jpeg";
            EXPECT_EQ(w.output->openedSpec.channelnames[0], kept ? "C" : "R");
            EXPECT_EQ(w.output->openedSpec.nchannels, (kept ? 4 : 3) + (alpha ? 1 : 0));
            EXPECT_EQ(w.output->pixels == (kept ? source : rgb), true);
        }
    }
}

TEST(Writer, QualityIsSetOnlyAboveMinusOne)
{
    TarvexImage image = trxtest::makeImage(false, false, 2, 2, pattern);
    for (int quality : {-1, -5}) {
        Written w = writeRecorded(image, quality);
        EXPECT_EQ(w.output->openedSpec.find_attribute("jpeg:Quality"), nullptr) << quality;
    }
    for (int quality : {0, 90, 250}) {
        Written w = writeRecorded(image, quality);
        const OIIO::ParamValue* q = w.output->openedSpec.find_attribute("jpeg:Quality");
        ASSERT_NE(q, nullptr) << quality;
        EXPECT_EQ(q->type(), OIIO::TypeInt);
        EXPECT_EQ(w.output->openedSpec.get_int_attribute("jpeg:Quality"), quality);
        EXPECT_EQ(w.output->openedSpec.find_attribute("CompressionQuality"), nullptr);
    }
    Written jpeg = writeRecorded(image, 42, nullptr, "jpeg");
    EXPECT_EQ(jpeg.output->openedSpec.get_int_attribute("CompressionQuality"), 42);
}

TEST(Writer, FailedOpenIsLoggedAndNoRowIsOffered)
{
    trxtest::LogCapture log;
    TarvexImage image = trxtest::makeImage(true, true, 3, 4, pattern);
    Written w = writeRecorded(image, -1, [](RecordingOutput& o) { o.failOpen = true; });
    EXPECT_FALSE(w.result);
    EXPECT_TRUE(w.output->rowsOffered.empty());
    EXPECT_EQ(log.utf8(), (std::vector<std::string>{
                              "[TRXImage] OpenImageIO for CMYKA fails to open, columns: 3, rows: 4, channels: 5\n",
                              "[TRXImage] Reason: no room for out.rec\n"}));
}

TEST(Writer, EmptyImageIsAFailedOpenWithoutOpening)
{
    trxtest::LogCapture log;
    for (auto [columns, rows] : {std::pair{0, 3}, std::pair{3, 0}, std::pair{0, 0}}) {
        log.clear();
        TarvexImage image = trxtest::makeImage(false, false, columns, rows, pattern);
        Written w = writeRecorded(image);
        EXPECT_FALSE(w.result);
        EXPECT_EQ(w.output->opens, 0);
        EXPECT_EQ(log.utf8(), (std::vector<std::string>{
                                  "[TRXImage] OpenImageIO for RGB fails to open, columns: " + std::to_string(columns) +
                                  ", rows: " + std::to_string(rows) + ", channels: 3\n"}));
    }
}

TEST(Writer, RejectedRowIsLoggedAndLaterRowsStillOffered)
{
    trxtest::LogCapture log;
    TarvexImage image = trxtest::makeImage(false, true, 3, 4, pattern);
    Written w = writeRecorded(image, -1, [](RecordingOutput& o) { o.failRow = 1; });
    EXPECT_TRUE(w.result);
    EXPECT_EQ(w.output->rowsOffered, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(log.utf8(), (std::vector<std::string>{
                              "[TRXImage] OpenImageIO for RGBA fails to write_scanline, line 1 out of 4 rows\n",
                              "[TRXImage] Reason: row 1 refused\n"}));
}

// One-byte-per-pixel images go out as RGB: grey g as (g, g, g), bits as 0 or 255.
TEST(Writer, GreyLinesAreExpandedToRgb)
{
    TarvexImage image;
    image.colourSpace(TarvexImage::colourSpaceGrey);
    image.size(3, 2, 2, 1, nullptr, nullptr);
    const unsigned char grey[2][3] = {{0, 128, 255}, {7, 8, 9}};
    TarvexImage::LinePointer line;
    for (int y = 0; y < 2; ++y) {
        image.setupLinePointer(line, y);
        std::copy(grey[y], grey[y] + 3, line.get_pustr());
    }
    Written w = writeRecorded(image);
    ASSERT_TRUE(w.result);
    EXPECT_EQ(w.output->openedSpec.channelnames, (std::vector<std::string>{"R", "G", "B"}));
    EXPECT_EQ(w.output->pixels,
              (std::vector<unsigned char>{0, 0, 0, 128, 128, 128, 255, 255, 255, 7, 7, 7, 8, 8, 8, 9, 9, 9}));
}

std::vector<unsigned char> bitsAsRgb(const std::vector<unsigned char>& packed, int columns, bool alpha = false)
{
    std::vector<unsigned char> out;
    for (int x = 0; x < columns; ++x) {
        const unsigned char v = (packed[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0;
        out.insert(out.end(), {v, v, v});
        if (alpha)
            out.push_back(static_cast<unsigned char>(x));
    }
    return out;
}

TEST(Writer, BilevelLinesAreExpandedToRgb)
{
    for (int columns : {1, 7, 8, 9, 10, 33}) {
        TarvexImage image;
        image.colourSpace(TarvexImage::colourSpaceBilevel);
        image.size(columns, 1, 0, 0, nullptr, nullptr);
        TarvexImage::LinePointer line;
        image.setupLinePointer(line, 0);
        std::vector<unsigned char> packed((columns + 7) / 8);
        for (std::size_t i = 0; i < packed.size(); ++i)
            packed[i] = static_cast<unsigned char>(0xA5 ^ (i * 0x3C));
        std::copy(packed.begin(), packed.end(), line.get_pustr());
        Written w = writeRecorded(image);
        ASSERT_TRUE(w.result) << columns;
        EXPECT_EQ(w.output->pixels, bitsAsRgb(packed, columns)) << columns;
    }
}

// Lines packed into the index strips (as Reduce leaves them), with alpha kept.
TEST(Writer, PackedIndexLinesWithAlphaBecomeRgba)
{
    TarvexImage image = trxtest::makeImage(
        false, true, 10, 3, [](int x, int, int c) { return c == 3 ? x : 0u; }, 2);
    TarvexImageImpl& im = TarvexImageAccess::impl(image);
    im.isTrueColour = false;
    im.indexBytesPerLine = 4;
    im.indexStrips.resize(2);
    im.indexStrips[0].ReSize(8);
    im.indexStrips[1].ReSize(8);
    const std::vector<unsigned char> packed = {0x81, 0xC0};
    TarvexImage::LinePointer line;
    for (int y = 0; y < 3; ++y) {
        ASSERT_TRUE(image.setupLinePointer(line, y));
        std::copy(packed.begin(), packed.end(), line.get_pustr());
    }
    Written w = writeRecorded(image);
    ASSERT_TRUE(w.result);
    EXPECT_EQ(w.output->openedSpec.nchannels, 4);
    std::vector<unsigned char> expected;
    for (int y = 0; y < 3; ++y) {
        const auto row = bitsAsRgb(packed, 10, true);
        expected.insert(expected.end(), row.begin(), row.end());
    }
    EXPECT_EQ(w.output->pixels, expected);
}

// Host-replaced allocators may hold less than the line rule needs: refuse, never overrun.
TEST(Writer, StripsShorterThanTheirLinesAreRefusedBeforeOpening)
{
    trxtest::LogCapture log;
    TarvexImage colour = trxtest::makeImage(false, false, 4, 6, pattern, 3);
    TarvexImageAccess::impl(colour).colourStrips[1].ReSize(4 * 3 * 3 - 1);
    Written a = writeRecorded(colour);
    EXPECT_FALSE(a.result);
    EXPECT_EQ(a.output->opens, 0);

    TarvexImage alpha = trxtest::makeImage(true, true, 4, 6, pattern, 3);
    TarvexImageAccess::impl(alpha).alphaStrips.pop_back();
    Written b = writeRecorded(alpha);
    EXPECT_FALSE(b.result);
    EXPECT_EQ(b.output->opens, 0);

    TarvexImage noAlphaStrips = trxtest::makeImage(false, false, 4, 6, pattern);
    TarvexImageAccess::impl(noAlphaStrips).alphaChannel = 3;
    Written c = writeRecorded(noAlphaStrips);
    EXPECT_FALSE(c.result);
    EXPECT_EQ(c.output->opens, 0);
    EXPECT_EQ(log.lines().size(), 3u);
}

}  // namespace
