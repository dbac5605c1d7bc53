#include <gtest/gtest.h>

#include "image/ImageImpl.h"
#include "support/TestSupport.h"
#include "support/WriteFiles.h"
#include "write/ImageWriter.h"

namespace {

using Bytes = std::vector<unsigned char>;

unsigned pattern(int x, int y, int c) { return (x * 7 + y * 13 + c * 29 + 1) & 0xff; }

// writeToOutput into an output that records the spec and rows it is given.
struct Recording {
    explicit Recording(const std::string& format = "tiff") { out.format = format; }
    bool write(const TarvexImage& image, int quality = -1, const trx::WriteOptions* options = nullptr)
    {
        return writeToOutput(holder, TarvexImageAccess::impl(image), "out.rec", quality, options);
    }
    std::unique_ptr<OIIO::ImageOutput> holder{new trxtest::RecordingOutput};
    trxtest::RecordingOutput& out = static_cast<trxtest::RecordingOutput&>(*holder);
};

// Quality only above -1 (and where the JPEG writer reads it); options after the library's
// own attributes, in their order.
TEST(Writer, QualityAndOptions)
{
    const trx::WriteOptions options = trx::WriteOptions()
                                          .compression("none")
                                          .attribute("XResolution", 300.0f)
                                          .attribute("compression", std::string("lzw"))
                                          .attribute("", 5)
                                          .attribute("note", static_cast<const char*>(nullptr));
    struct Row {
        const char* format;
        int quality;
        const trx::WriteOptions* options;
        int jpegQuality, compressionQuality;  // -2: not set
    };
    for (const Row& row :
         {Row{"tiff", -5, nullptr, -2, -2}, Row{"tiff", 0, nullptr, 0, -2}, Row{"png", 250, nullptr, 250, -2},
          Row{"jpeg", 42, nullptr, 42, 42}, Row{"gif", -1, &options, -2, -2}}) {
        SCOPED_TRACE(std::string(row.format) + " q" + std::to_string(row.quality));
        TarvexImage image = trxtest::makeImage(false, false, 2, 2, pattern);
        image.xResolution(72);
        image.yResolution(72);
        Recording r(row.format);
        ASSERT_TRUE(r.write(image, row.quality, row.options));
        const OIIO::ImageSpec& spec = r.out.spec();
        EXPECT_EQ(spec.get_int_attribute("jpeg:Quality", -2), row.jpegQuality);
        EXPECT_EQ(spec.get_int_attribute("CompressionQuality", -2), row.compressionQuality);
        EXPECT_EQ(spec.get_string_attribute("compression"), row.options ? "lzw" : "");
        EXPECT_EQ(spec.get_float_attribute("XResolution"), row.options ? 300 : spec.get_float_attribute("YResolution"));
    }
}

// Formats without CMYK get Pillow's RGB: every (C, K) pair against the rounding written out.
TEST(Writer, CmykIsKeptOnlyWhereTheFormatHoldsIt)
{
    const auto cmyka = [](int x, int y, int c) {
        return static_cast<unsigned>(c == 0 ? x : c == 1 ? 255 - x : c == 2 ? x ^ y : c == 3 ? y : x + y) & 0xff;
    };
    for (bool alpha : {false, true}) {
        Bytes source;
        TarvexImage image = trxtest::makeImage(true, alpha, 256, 256, cmyka, 100, &source);
        const Bytes rgb = trxtest::cmykAsRgb(source, alpha);
        for (const std::string format : {"tiff", "jpeg", "png", "bmp"}) {
            SCOPED_TRACE(format + (alpha ? " with alpha" : ""));
            const bool kept = format == "tiff" || format == "jpeg";
            Recording r(format);
            ASSERT_TRUE(r.write(image));
            EXPECT_EQ(r.out.spec().channelnames[0], kept ? "C" : "R");
            EXPECT_EQ(r.out.spec().alpha_channel, alpha ? (kept ? 4 : 3) : -1);
            EXPECT_TRUE(r.out.pixels == (kept ? source : rgb));
        }
    }
}

// One byte per pixel goes out as RGB: grey g as (g, g, g), bits (first pixel in the top
// bit) as 0 or 255, also from the strips ReduceIfPossible packs, alpha kept.
TEST(Writer, GreyAndBitLinesBecomeRgb)
{
    const auto grey = [](int x, int y, int c) { return c == 3 ? pattern(x, y, c) : (x * 5 + y) % 3 ? x * 9 + 1 : 0; };
    for (int columns : {1, 8, 9, 33}) {
        for (int kind = 0; kind < 3; ++kind) {
            SCOPED_TRACE(std::to_string(columns) + (kind == 0 ? " grey" : kind == 1 ? " bilevel" : " reduced"));
            TarvexImage image = kind == 2 ? trxtest::makeImage(false, true, columns, 3, grey, 2) : TarvexImage();
            if (kind == 2)
                ASSERT_TRUE(image.ReduceIfPossible());
            else
                image.colourSpace(kind == 0 ? TarvexImage::colourSpaceGrey : TarvexImage::colourSpaceBilevel);
            if (kind < 2)
                image.size(columns, 3, 0, 0, nullptr, nullptr);
            Bytes expected;
            TarvexImage::LinePointer line;
            for (int y = 0; y < 3; ++y) {
                ASSERT_TRUE(image.setupLinePointer(line, y));
                for (int x = 0; x < columns; ++x) {
                    const unsigned char g = static_cast<unsigned char>(grey(x, y, 0)), v = kind == 0 ? g : g ? 255 : 0;
                    if (kind == 0 || (kind == 1 && g))  // new lines are zero
                        line.get_pustr()[kind ? x / 8 : x] |= kind ? 0x80 >> x % 8 : g;
                    expected.insert(expected.end(), {v, v, v});
                    if (kind == 2)
                        expected.push_back(static_cast<unsigned char>(grey(x, y, 3)));
                }
            }
            Recording r;
            ASSERT_TRUE(r.write(image));
            EXPECT_EQ(r.out.pixels, expected);
        }
    }
}

// Logged with the layout's word and the output's reason; no row is offered unless the
// output opened, and strips that do not hold every line are refused rather than overrun.
TEST(Writer, FailuresAreLoggedAndNothingIsOverrun)
{
    enum Damage { None, FailOpen, FailRow, ShortStrip, NoAlphaStrip, AlphaWithoutStrips };
    const std::string open = "[TRXImage] OpenImageIO for ", cannot = "[TRXImage] Cannot write a 4 x 6 image: the ";
    struct Row {
        bool cmyk, alpha;
        int columns, rows;
        Damage damage;
        std::vector<std::string> log;
    };
    const Row rows[] = {
        {true,
         true,
         3,
         4,
         FailOpen,
         {open + "CMYKA fails to open, columns: 3, rows: 4, channels: 5\n",
          "[TRXImage] Reason: no room for out.rec\n"}},
        {false,
         true,
         3,
         4,
         FailRow,
         {open + "RGBA fails to write_scanline, line 1 out of 4 rows\n", "[TRXImage] Reason: row 1 refused\n"}},
        {true, false, 0, 3, None, {open + "CMYK fails to open, columns: 0, rows: 3, channels: 4\n"}},
        {false, false, 3, 0, None, {open + "RGB fails to open, columns: 3, rows: 0, channels: 3\n"}},
        {false, false, 4, 6, ShortStrip, {cannot + "colour strips do not hold every line\n"}},
        {true, true, 4, 6, NoAlphaStrip, {cannot + "alpha strips do not hold every line\n"}},
        {false, false, 4, 6, AlphaWithoutStrips, {cannot + "alpha strips do not hold every line\n"}},
    };
    trxtest::LogCapture log;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.log[0]);
        log.clear();
        TarvexImage image = trxtest::makeImage(row.cmyk, row.alpha, row.columns, row.rows, pattern, 3);
        TarvexImageImpl& im = TarvexImageAccess::impl(image);
        Recording r;
        r.out.failOpen = row.damage == FailOpen;
        r.out.failRow = row.damage == FailRow ? 1 : -1;
        if (row.damage == ShortStrip)
            im.colourStrips[1].ReSize(4 * 3 * 3 - 1);
        if (row.damage == NoAlphaStrip)
            im.alphaStrips.pop_back();
        if (row.damage == AlphaWithoutStrips)
            im.alphaChannel = 3;
        EXPECT_EQ(r.write(image), row.damage == FailRow);
        EXPECT_EQ(r.out.rows.size(), row.damage == FailRow ? 4u : 0u);
        EXPECT_EQ(log.utf8(), row.log);
    }
}

}  // namespace
