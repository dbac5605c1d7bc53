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

// Every target gets the same Adobe CMYK file, whatever name says JPEG; libjpeg reads back
// the complement of the image's ink within JPEG's loss, and the library its resolution.
TEST(JpegOutput, CmykAndCmykaRoundTripOnEveryTarget)
{
    TempDir dir;
    for (bool alpha : {false, true}) {
        SCOPED_TRACE(alpha ? "CMYKA" : "CMYK");
        TarvexImage image = makeImage(true, alpha, 45, 33, smooth, 8);
        image.xResolution(300.0);
        image.yResolution(150.0);
        const std::string path = dir.file("cmyk.jpg");
        ASSERT_TRUE(image.write(path));
        const Bytes file = readFile(path);
        CBufferStream stream;
        CAutoBuffer buffer;
        CFile target;
        ASSERT_TRUE(image.write("jpg", -1, &stream));
        ASSERT_TRUE(image.write("x.jfif", -1, &buffer));
        ASSERT_TRUE(target.Open(dir.file("cfile").c_str(), CFile::modeCreate | CFile::modeWrite));
        ASSERT_TRUE(image.write("x.JPE", -1, &target));
        target.Close();
        std::uint32_t size = 0;
        const char* held = buffer.ReadData(size, 0);
        EXPECT_EQ(Bytes(stream.GetBuffer(), stream.GetBuffer() + stream.GetPos()), file);
        EXPECT_EQ(Bytes(held, held + size), file);
        EXPECT_EQ(readFile(dir.file("cfile")), file);

        int components = 0;
        const Bytes stored = libjpegSamples(file, components);
        ASSERT_EQ(components, 4);
        const Bytes expected = expectedPixels(image);
        const std::size_t step = alpha ? 5 : 4;
        int worst = 0;
        for (std::size_t p = 0; p < 45 * 33; ++p)
            for (std::size_t c = 0; c < 4; ++c)
                worst = std::max(worst, std::abs(255 - stored[p * 4 + c] - expected[p * step + c]));
        EXPECT_LE(worst, 3);

        TarvexImage back;
        ASSERT_TRUE(back.open(path));
        EXPECT_EQ(back.colourSpace(), TarvexImage::colourSpaceCMYK);
        EXPECT_EQ(back.xResolution(), 300.0);
        EXPECT_EQ(back.yResolution(), 150.0);
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
        {"quality", 3, true, {{"CompressionQuality", 60}}, {}},
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
        const Decoded back = decodeBytes("x.jpg", mine.data(), mine.size());
        const OIIO::ParamValue* icc = back.spec.find_attribute("ICCProfile");
        ASSERT_TRUE(icc);
        EXPECT_EQ(Bytes(static_cast<const unsigned char*>(icc->data()),
                        static_cast<const unsigned char*>(icc->data()) + icc->type().size()),
                  profile);
    }
}

// libjpeg's limits, empty images and refused writes give false and a line; nothing ends
// the process, and an image libjpeg refuses leaves no file.
TEST(JpegOutput, RefusalsFailWithoutEndingTheProcess)
{
    TempDir dir;
    LogCapture log;
    struct Case {
        bool cmyk;
        int columns, rows;
        const char* reason;  // libjpeg's, for an image it refuses
    };
    const char* tooWide = "[TRXImage] Reason: JPEG error: Maximum supported image dimension is 65500 pixels\n";
    for (const Case& c : {Case{false, 70000, 1, tooWide}, Case{true, 0, 5, nullptr}, Case{true, 5, 0, nullptr}}) {
        const std::string line = std::string("[TRXImage] OpenImageIO for ") + (c.cmyk ? "CMYK" : "RGB") +
                                 " fails to open, columns: " + std::to_string(c.columns) +
                                 ", rows: " + std::to_string(c.rows) + ", channels: " + (c.cmyk ? "4\n" : "3\n");
        SCOPED_TRACE(line);
        TarvexImage image = makeImage(c.cmyk, false, c.columns, c.rows, smooth);
        log.clear();
        CBufferStream stream;
        CAutoBuffer buffer;
        CFile target;
        ASSERT_TRUE(target.Open(dir.file("cfile").c_str(), CFile::modeCreate | CFile::modeWrite));
        EXPECT_FALSE(image.write(dir.file("refused.jpg")));
        EXPECT_FALSE(image.write("jpg", -1, &stream));
        EXPECT_FALSE(image.write("jpg", 90, &buffer));
        EXPECT_FALSE(image.write("jpg", -1, &target));
        EXPECT_FALSE(std::filesystem::exists(dir.file("refused.jpg")));
        std::vector<std::string> expected;
        for (int target = 0; target < 4; ++target) {
            expected.push_back(line);
            if (c.reason)
                expected.push_back(c.reason);
        }
        EXPECT_EQ(log.utf8(), expected);
    }
    EXPECT_FALSE(makeJpegOutput()->open(dir.file("direct.jpg"), OIIO::ImageSpec(0, 3, 3, OIIO::TypeUInt8)));
    EXPECT_FALSE(std::filesystem::exists(dir.file("direct.jpg")));

    // Noise does not fit libjpeg's first buffer, so both a line and the close may be refused.
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
        written &= output->close();
        EXPECT_FALSE(written);
        EXPECT_NE(output->geterror().find("write error"), std::string::npos);
    }
}
