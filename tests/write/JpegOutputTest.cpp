#include <gtest/gtest.h>

#include <OpenImageIO/filesystem.h>

#include <filesystem>

#include "TRXImage.h"
#include "support/ReadFiles.h"
#include "support/TestSupport.h"
#include "support/WriteFiles.h"
#include "write/CreateOutput.h"
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
    for (std::size_t i = 2; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDB)
            return Bytes(jpeg.begin() + static_cast<long>(i), jpeg.end());
    return {};
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
        EXPECT_FALSE(back.matte());
        EXPECT_EQ(back.xResolution(), 300.0);
        EXPECT_EQ(back.yResolution(), 150.0);
    }
}

// RGB and grey give OpenImageIO's writer's JFIF record, tables, frame and scans byte for
// byte; the ICC profile comes back whole from every layout.
TEST(JpegOutput, RgbAndGreyEncodeAsOpenImageIOsWriter)
{
    struct Row {
        const char* name;
        int channels;
        const char* attribute;  // ours; OpenImageIO's is `theirs` when that is given
        int value;
        const char* text;
        const char* theirs;
        const char* unit;
    };
    const Row rows[] = {
        {"grey at the default quality", 1, nullptr, 0, nullptr, nullptr, "in"},
        {"RGB, no resolution", 3, nullptr, 0, nullptr, nullptr, nullptr},
        {"RGBA drops its alpha", 4, nullptr, 0, nullptr, nullptr, "cm"},
        {"quality", 3, "CompressionQuality", 60, nullptr, nullptr, "in"},
        {"jpeg:Quality, which OpenImageIO ignores", 3, "jpeg:Quality", 40, nullptr, "CompressionQuality", "in"},
        {"quality in the compression name", 3, "compression", 0, "jpeg:30", nullptr, "in"},
        {"4:4:4", 3, "jpeg:subsampling", 0, "4:4:4", nullptr, "in"},
        {"progressive grey", 1, "jpeg:progressive", 1, nullptr, nullptr, "in"},
    };
    Bytes profile(70000);
    for (std::size_t i = 0; i < profile.size(); ++i)
        profile[i] = static_cast<unsigned char>(i * 13 + i / 256);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        OIIO::ImageSpec ours(61, 47, row.channels, OIIO::TypeUInt8);
        if (row.unit) {
            ours.attribute("XResolution", 300.6f);
            ours.attribute("YResolution", 149.4f);
            ours.attribute("ResolutionUnit", row.unit);
        }
        ours.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, static_cast<int>(profile.size())),
                       profile.data());
        OIIO::ImageSpec theirs = ours;
        if (row.attribute) {
            const char* name = row.theirs ? row.theirs : row.attribute;
            row.text ? ours.attribute(row.attribute, row.text) : ours.attribute(row.attribute, row.value);
            row.text ? theirs.attribute(name, row.text) : theirs.attribute(name, row.value);
        }
        Bytes pixels(static_cast<std::size_t>(61 * 47 * row.channels));
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = patternSample(static_cast<int>(i / row.channels) % 61, static_cast<int>(i / row.channels / 61),
                                      static_cast<int>(i % row.channels));
        const Bytes mine = encode(makeJpegOutput(), ours, pixels);
        const Bytes reference = encode(OIIO::ImageOutput::create("x.jpg"), theirs, pixels);
        ASSERT_GT(mine.size(), 20u);
        ASSERT_GT(reference.size(), 20u);
        EXPECT_EQ(Bytes(mine.begin(), mine.begin() + 20), Bytes(reference.begin(), reference.begin() + 20));
        EXPECT_EQ(fromTables(mine), fromTables(reference));
        int components = 0;
        Bytes icc;
        libjpegSamples(mine, components, &icc);
        EXPECT_EQ(components, row.channels == 1 ? 1 : 3);
        EXPECT_EQ(icc, profile);
    }
    OIIO::ImageSpec cmyk(8, 8, 4, OIIO::TypeUInt8);
    cmyk.channelnames = {"C", "M", "Y", "K"};
    cmyk.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, static_cast<int>(profile.size())),
                   profile.data());
    int components = 0;
    Bytes icc;
    libjpegSamples(encode(makeJpegOutput(), cmyk, Bytes(8 * 8 * 4, 9)), components, &icc);
    EXPECT_EQ(components, 4);
    EXPECT_EQ(icc, profile);
}

// libjpeg's limits, empty images and refused writes give false and a line; nothing ends
// the process, and an image libjpeg refuses leaves no file.
TEST(JpegOutput, RefusalsFailWithoutEndingTheProcess)
{
    TempDir dir;
    LogCapture log;
    TarvexImage wide = makeImage(false, false, 70000, 1, smooth);
    CBufferStream stream;
    EXPECT_FALSE(wide.write(dir.file("wide.jpg")));
    EXPECT_FALSE(wide.write("jpg", 90, &stream));
    EXPECT_FALSE(std::filesystem::exists(dir.file("wide.jpg")));
    EXPECT_EQ(log.utf8(),
              std::vector<std::string>(
                  2, "[TRXImage] OpenImageIO for RGB fails to open, columns: 70000, rows: 1, channels: 3\n"));

    for (int columns : {0, 5}) {
        const int rows = 5 - columns;
        TarvexImage empty = makeImage(true, false, columns, rows, smooth);
        log.clear();
        CAutoBuffer buffer;
        CFile target;
        ASSERT_TRUE(target.Open(dir.file("cfile").c_str(), CFile::modeCreate | CFile::modeWrite));
        EXPECT_FALSE(empty.write(dir.file("empty.jpg")));
        EXPECT_FALSE(empty.write("jpg", -1, &stream));
        EXPECT_FALSE(empty.write("jpg", -1, &buffer));
        EXPECT_FALSE(empty.write("jpg", -1, &target));
        const std::string line = "[TRXImage] OpenImageIO for CMYK fails to open, columns: " + std::to_string(columns) +
                                 ", rows: " + std::to_string(rows) + ", channels: 4\n";
        EXPECT_EQ(log.utf8(), std::vector<std::string>(4, line));
    }
    EXPECT_FALSE(makeJpegOutput()->open(dir.file("direct.jpg"), OIIO::ImageSpec(0, 3, 3, OIIO::TypeUInt8)));
    EXPECT_FALSE(std::filesystem::exists(dir.file("direct.jpg")));
    EXPECT_STREQ(createOutput("x.png")->format_name(), "png");

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
