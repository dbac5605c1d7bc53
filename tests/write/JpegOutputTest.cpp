#include <gtest/gtest.h>

#include <OpenImageIO/filesystem.h>

#include <algorithm>
#include <filesystem>

#include "TRXImage.h"
#include "support/ReadFiles.h"
#include "support/TestSupport.h"
#include "support/WriteFiles.h"
#include "write/JpegOutput.h"

using namespace trxtest;

namespace {

unsigned smooth(int x, int y, int c) { return (x * 2 + y * 2 + c * 30) & 0xff; }

Bytes encode(std::unique_ptr<OIIO::ImageOutput> output, const OIIO::ImageSpec& spec, const Bytes& pixels)
{
    Bytes out;
    OIIO::Filesystem::IOVecOutput proxy(out);
    output->set_ioproxy(&proxy);
    const bool ok = output->open("x.jpg", spec) && output->write_image(OIIO::TypeUInt8, pixels.data());
    return output->close() && ok ? out : Bytes();
}

// The quantisation tables, frame header and scans: everything after the APPn records.
Bytes fromTables(const Bytes& jpeg)
{
    const unsigned char tables[] = {0xFF, 0xDB};
    return Bytes(std::search(jpeg.begin(), jpeg.end(), tables, tables + 2), jpeg.end());
}

struct RefusingProxy : OIIO::Filesystem::IOProxy {
    RefusingProxy() : IOProxy("", Write) {}
    const char* proxytype() const override { return "refusing"; }
    std::size_t write(const void*, std::size_t) override { return 0; }
};

}  // namespace

// An Adobe CMYK file: libjpeg reads back the complement of the image's ink within JPEG's
// loss; the library opens it as CMYK with its resolution, which other readers find too.
TEST(JpegOutput, CmykAndCmykaAreAdobeCmyk)
{
    TempDir dir;
    for (bool alpha : {false, true}) {
        SCOPED_TRACE(alpha ? "CMYKA" : "CMYK");
        Bytes expected;
        TarvexImage image = makeImage(true, alpha, 45, 33, smooth, 8, &expected);
        image.xResolution(300.0);
        image.yResolution(150.0);
        const std::string path = dir.file("cmyk.jpg");
        ASSERT_TRUE(image.write(path));
        int components = 0;
        const Bytes stored = libjpegSamples(readFile(path), components);
        ASSERT_EQ(components, 4);
        int worst = 0;
        for (std::size_t p = 0; p < 45 * 33; ++p)
            for (std::size_t c = 0; c < 4; ++c)
                worst = std::max(worst, std::abs(255 - stored[p * 4 + c] - expected[p * (alpha ? 5 : 4) + c]));
        EXPECT_LE(worst, 3);
        TarvexImage back;
        ASSERT_TRUE(back.open(path));
        EXPECT_EQ(back.colourSpace(), TarvexImage::colourSpaceCMYK);
        EXPECT_EQ(back.xResolution() + back.yResolution(), 450.0);
        EXPECT_EQ(decode(path).spec.get_float_attribute("YResolution"), 150.0f);
    }
}

// RGB and grey give OpenImageIO's writer's JFIF record, tables, frame and scans byte for
// byte, and the ICC profile whole.
TEST(JpegOutput, RgbAndGreyEncodeAsOpenImageIOsWriter)
{
    using Params = std::vector<OIIO::ParamValue>;
    struct Row {
        const char* name;
        int channels;
        bool resolution;
        Params ours, theirs;  // `theirs` empty: the same as ours
    };
    const Row rows[] = {
        {"grey at the default quality", 1, true, {}, {}},
        {"RGB without a resolution", 3, false, {}, {}},
        {"RGBA drops its alpha; per cm", 4, true, {{"ResolutionUnit", "cm"}}, {}},
        {"jpeg:Quality, which OpenImageIO ignores", 3, true, {{"jpeg:Quality", 40}}, {{"CompressionQuality", 40}}},
        {"quality in the compression name wins", 3, true, {{"compression", "jpeg:30"}, {"CompressionQuality", 90}}, {}},
        {"4:4:4", 3, true, {{"jpeg:subsampling", "4:4:4"}}, {}},
        {"progressive grey", 1, true, {{"jpeg:progressive", 1}}, {}},
    };
    Bytes profile(70000);
    for (std::size_t i = 0; i < profile.size(); ++i)
        profile[i] = static_cast<unsigned char>(i * 13 + i / 256);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        OIIO::ImageSpec spec(61, 47, row.channels, OIIO::TypeUInt8);
        if (row.resolution) {
            spec.attribute("XResolution", 300.6f);
            spec.attribute("YResolution", 149.4f);
            spec.attribute("ResolutionUnit", "in");
        }
        spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, static_cast<int>(profile.size())),
                       profile.data());
        OIIO::ImageSpec ours = spec, theirs = spec;
        for (const OIIO::ParamValue& p : row.ours)
            ours.attribute(p.name(), p.type(), p.data());
        for (const OIIO::ParamValue& p : row.theirs.empty() ? row.ours : row.theirs)
            theirs.attribute(p.name(), p.type(), p.data());
        Bytes pixels(static_cast<std::size_t>(61 * 47 * row.channels));
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<unsigned char>(i / 3 + i % 7 * 40);
        const Bytes mine = encode(makeJpegOutput(), ours, pixels);
        const Bytes reference = encode(OIIO::ImageOutput::create("x.jpg"), theirs, pixels);
        ASSERT_TRUE(mine.size() > 20 && reference.size() > 20);
        EXPECT_EQ(Bytes(mine.begin(), mine.begin() + 20), Bytes(reference.begin(), reference.begin() + 20));  // JFIF
        EXPECT_EQ(fromTables(mine), fromTables(reference));
        EXPECT_EQ(decode("x.jpg", mine.data(), mine.size()).icc(), profile);
    }
}

// libjpeg's refusals give false and a line without ending the process: an image too wide
// leaves no file, and bytes the target refuses fail a line or the close.
TEST(JpegOutput, RefusalsFailWithoutEndingTheProcess)
{
    TempDir dir;
    LogCapture log;
    TarvexImage wide = makeImage(false, false, 70000, 1, smooth);
    CBufferStream stream;
    EXPECT_FALSE(wide.write(dir.file("wide.jpg")) || wide.write("jpg", 90, &stream));
    EXPECT_FALSE(std::filesystem::exists(dir.file("wide.jpg")));
    const std::string line = "[TRXImage] OpenImageIO for RGB fails to open, columns: 70000, rows: 1, channels: 3\n";
    const std::string reason = "[TRXImage] Reason: JPEG error: Maximum supported image dimension is 65500 pixels\n";
    EXPECT_EQ(log.utf8(), (std::vector<std::string>{line, reason, line, reason}));
    // Noise does not fit libjpeg's first buffer, so a line or the close meets the refusal.
    OIIO::ImageSpec spec(300, 300, 4, OIIO::TypeUInt8);
    spec.channelnames = {"C", "M", "Y", "K"};
    Bytes noise(300 * 300 * 4);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<unsigned char>((i * 2654435761u) >> 13);
    for (bool full : {true, false}) {
        SCOPED_TRACE(full ? "a full disk" : "a refusing proxy");
        RefusingProxy refusing;
        auto output = makeJpegOutput();
        if (!full)
            output->set_ioproxy(&refusing);
        ASSERT_TRUE(output->open(full ? "/dev/full" : "x.jpg", spec));
        bool written = true;
        for (int y = 0; y < 300; ++y)
            written &= output->write_scanline(y, 0, OIIO::TypeUInt8, &noise[y * 300 * 4]);
        EXPECT_FALSE(written && output->close());
        EXPECT_NE(output->geterror().find("write error"), std::string::npos);
    }
}
