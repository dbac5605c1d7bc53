#include <gtest/gtest.h>

#include <OpenImageIO/filesystem.h>

#include <algorithm>
#include <cmath>

#include "support/ReadFiles.h"
#include "support/TestSupport.h"
#include "support/WriteFiles.h"
#include "write/JpegOutput.h"

using namespace trxtest;

namespace {

// Gradients without wrap-around, which JPEG keeps within a few levels.
unsigned smooth(int x, int y, int c) { return (x * 2 + y * 2 + c * 30) & 0xff; }
// Every (C, K) pair once, for the rounding of CMYK to RGB; the other channels vary too.
unsigned pairs(int x, int y, int c)
{
    return (c == 0 ? x : c == 1 ? 255 - x : c == 2 ? x ^ y : c == 3 ? y : x + y) & 255;
}

Bytes decoded(const CBufferStream& stream, const std::string& name)
{
    return decode(name, stream.GetBuffer(), stream.GetPos()).pixels;
}

// What OpenImageIO reads back: the channels the format holds (CMYK as Pillow's RGB where
// it holds none), lossless formats byte for byte, and the image's ICC profile only where
// the row asks for it and the format holds one. JPEG keeps CMYK as Adobe CMYK, which
// libjpeg reads back as the complement of the ink.
TEST(RoundTrip, IndependentReadersSeeThePixels)
{
    struct Row {
        bool cmyk, alpha;
        std::string ext;
        int tolerance;
        bool icc, bigTiff;
    };
    const Row rows[] = {
        {false, false, "png", 0, true, false},   {false, true, "png", 0, false, false},
        {false, false, "tif", 0, false, false},  {false, true, "tif", 0, true, false},
        {false, false, "jpg", 12, true, false},  {false, true, "jpg", 12, false, false},
        {true, false, "tif", 0, true, false},    {true, true, "tif", 0, false, false},
        {true, true, "tif", 0, false, true},     {true, false, "png", 0, false, false},
        {true, true, "png", 0, true, false},     {true, false, "bmp", 0, true, false},
        {true, true, "tga", 0, false, false},    {true, false, "ppm", 0, false, false},
        {true, false, "webp", 12, false, false}, {true, false, "exr", 0, false, false},
        {true, true, "sgi", 0, false, false},    {true, false, "jpg", 3, true, false},
        {true, true, "jpg", 3, false, false},
    };
    TempDir dir;
    LogCapture log;
    const Bytes profile = rgbProfile();
    Blob blob;
    blob.update(profile.data(), static_cast<int>(profile.size()));
    for (const Row& row : rows) {
        const std::string path = dir.file(std::string(row.cmyk ? "CMYK" : "RGB") + (row.alpha ? "A." : ".") + row.ext);
        SCOPED_TRACE(path + (row.bigTiff ? " BigTIFF" : ""));
        const int side = row.tolerance ? 37 : 256;
        Bytes source;
        TarvexImage image = makeImage(row.cmyk, row.alpha, side, side, row.tolerance ? smooth : pairs, 8, &source);
        image.iccColourProfile(blob);  // written only on request
        const auto options = trx::WriteOptions().attribute("tiff:bigtiff", row.bigTiff ? 1 : 0);
        ASSERT_TRUE(image.write(path, row.icc ? trx::WriteOptions(options).iccProfile(blob) : options));
        const bool asCmyk = row.cmyk && (row.ext == "tif" || row.ext == "jpg");
        const Bytes expected = row.cmyk && !asCmyk ? cmykAsRgb(source, row.alpha) : source;
        const std::size_t area = side * side, channels = expected.size() / area;
        const std::size_t kept = row.ext == "jpg" ? 3 + asCmyk : channels;
        Decoded back = decode(path);
        int components = 0, worst = 0;
        if (row.cmyk && row.ext == "jpg")
            back.pixels = libjpegSamples(readFile(path), components);
        for (unsigned char& v : back.pixels)
            v = static_cast<unsigned char>(row.cmyk && row.ext == "jpg" ? 255 - v : v);
        ASSERT_TRUE(back.ok);
        ASSERT_EQ(back.pixels.size(), area * kept);
        for (std::size_t p = 0; p < area * kept; ++p)
            worst = std::max(worst, std::abs(back.pixels[p] - expected[p / kept * channels + p % kept]));
        EXPECT_LE(worst, row.tolerance);
        EXPECT_EQ(back.icc(), row.icc && row.ext != "bmp" ? profile : Bytes());
        TarvexImage opened;  // CMYK TIFF is separated, its alpha unassociated
        ASSERT_TRUE(!asCmyk || opened.open(path));
        EXPECT_TRUE(!asCmyk || opened.colourSpace() == TarvexImage::colourSpaceCMYK);
        EXPECT_TRUE(!asCmyk || row.ext == "jpg" || opened.matte() == row.alpha);
    }
    EXPECT_TRUE(log.lines().empty());
}

// One byte per pixel goes out as RGB: grey g as (g, g, g), bits (first pixel in the top
// bit) as 0 or 255, also from the strips ReduceIfPossible packs, alpha kept.
TEST(RoundTrip, GreyAndBitLinesBecomeRgb)
{
    const auto grey = [](int x, int y, int c) { return c == 3 ? smooth(x, y, c) : (x * 5 + y) % 3 ? x * 9 + 1 : 0; };
    for (int columns : {1, 8, 9, 33}) {
        for (int kind = 0; kind < 3; ++kind) {
            SCOPED_TRACE(std::to_string(columns) + (kind == 0 ? " grey" : kind == 1 ? " bilevel" : " reduced"));
            TarvexImage image = kind == 2 ? makeImage(false, true, columns, 3, grey, 2) : TarvexImage();
            if (kind < 2) {
                image.colourSpace(kind == 0 ? TarvexImage::colourSpaceGrey : TarvexImage::colourSpaceBilevel);
                image.size(columns, 3, 0, 0, nullptr, nullptr);
            }
            ASSERT_TRUE(kind < 2 || image.ReduceIfPossible());
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
            CBufferStream stream;
            ASSERT_TRUE(image.write("x.png", -1, &stream));
            EXPECT_EQ(decoded(stream, "x.png"), expected);
        }
    }
}

// The path, a CBufferStream (twice: the second file follows the first), a CAutoBuffer
// named by the bare format and a CFile get the same bytes, with options or without.
TEST(RoundTrip, EveryTargetGetsTheSameBytes)
{
    TempDir dir;
    // TIFF stamps the second it was written: files compared byte for byte carry a fixed one.
    const auto options = trx::WriteOptions().attribute("DateTime", "2001:02:03 04:05:06");
    for (const std::string ext : {"png", "tif", "jpg", "bmp"}) {
        for (int kind = 0; kind < 3; ++kind) {
            SCOPED_TRACE(ext + std::to_string(kind));
            TarvexImage image = makeImage(kind == 2, kind == 0, kind == 1 ? 300 : 41, 17, smooth, 5);
            const std::string name = "x." + ext;
            CBufferStream stream, plain;
            CAutoBuffer buffer;
            CFile target;
            ASSERT_TRUE(image.write(name, &stream, options) && image.write(name, &stream, options));
            ASSERT_TRUE(image.write(ext, &buffer, options) && image.write(dir.file(name), options));
            ASSERT_TRUE(target.Open(dir.file("cfile").c_str(), CFile::modeCreate | CFile::modeWrite));
            ASSERT_TRUE(image.write(name, &target, options));
            target.Close();
            Bytes file = readFile(dir.file(name)), twice = file;
            twice.insert(twice.end(), file.begin(), file.end());
            EXPECT_TRUE(bytesOf(stream) == twice && bytesOf(buffer) == file && readFile(dir.file("cfile")) == file);
            ASSERT_TRUE(image.write(dir.file(name)) && image.write(name, -1, &plain));
            EXPECT_TRUE(ext == "tif" || readFile(dir.file(name)) == bytesOf(plain));
        }
    }
}

// Across and down, opened again by the library. PNG and BMP hold whole pixels per metre
// (half of one is 0.0127 ppi), JFIF whole dots per inch; a JPEG opens at 72 ppi without
// one. Options come after the image's own attributes.
TEST(RoundTrip, ResolutionsComeBackWithinTheFormatsPrecision)
{
    TempDir dir;
    for (bool cmyk : {false, true}) {
        TarvexImage image = makeImage(cmyk, false, 4, 4, smooth);
        for (auto [ext, tolerance, none] :
             {std::tuple{"tif", 0.0, 0.0}, {"png", 0.0127, 0.0}, {"bmp", 0.0127, 0.0}, {"jpg", 0.0, 72.0}}) {
            for (auto [x, y] : {std::pair{0.0, 0.0},
                                {300.0, 0.0},
                                {72.0, 144.0},
                                {96.0, 96.0},
                                {150.0, 300.0},
                                {300.25, 72.0},
                                {600.0, 1200.0},
                                {1200.0, 2400.0}}) {
                SCOPED_TRACE(std::string(ext) + " " + std::to_string(x) + " x " + std::to_string(y) +
                             (cmyk ? " CMYK" : ""));
                image.xResolution(x);
                image.yResolution(y);
                const std::string path = dir.file(std::string("r.") + ext);
                TarvexImage back;
                ASSERT_TRUE(image.write(path) && back.open(path));
                const bool set = x > 0 && y > 0;
                EXPECT_NEAR(back.xResolution(), !set ? none : ext[0] == 'j' && !cmyk ? std::round(x) : x, tolerance);
                EXPECT_NEAR(back.yResolution(), set ? y : none, tolerance);
                EXPECT_TRUE(ext[0] != 'j' || !cmyk || !set ||
                            decode(path).spec.get_float_attribute("YResolution") == y);
                ASSERT_TRUE(image.write(path, trx::WriteOptions().attribute("XResolution", 12.0f)) && back.open(path));
                EXPECT_TRUE(!set || ext[0] == 'j' || std::abs(back.xResolution() - 12) <= tolerance);
            }
        }
    }
}

Bytes encode(std::unique_ptr<OIIO::ImageOutput> output, const OIIO::ImageSpec& spec, const Bytes& pixels)
{
    Bytes out;
    OIIO::Filesystem::IOVecOutput proxy(out);
    output->set_ioproxy(&proxy);
    const bool ok = output->open("x.jpg", spec) && output->write_image(OIIO::TypeUInt8, pixels.data());
    return output->close() && ok ? out : Bytes();
}

// The library's JPEG writer gives RGB and grey as OpenImageIO's writer does: the JFIF
// record, then (from the quantisation tables on) tables, frame and scans byte for byte,
// and the ICC profile whole. The image's quality reaches it; a quality in the
// compression name wins.
TEST(RoundTrip, JpegAsOpenImageIOsWriter)
{
    struct Row {
        const char* name;
        int channels;
        std::vector<OIIO::ParamValue> ours, theirs;  // `theirs` empty: the same as ours
    };
    const Row rows[] = {
        {"grey at the default quality", 1, {}, {}},
        {"RGBA drops its alpha; per cm", 4, {{"ResolutionUnit", "cm"}}, {}},
        {"jpeg:Quality, which OpenImageIO ignores", 3, {{"jpeg:Quality", 40}}, {{"CompressionQuality", 40}}},
        {"quality in the compression name wins", 3, {{"compression", "jpeg:30"}, {"CompressionQuality", 90}}, {}},
        {"4:4:4", 3, {{"jpeg:subsampling", "4:4:4"}}, {}},
        {"progressive grey", 1, {{"jpeg:progressive", 1}}, {}},
    };
    Bytes profile(70000);
    for (std::size_t i = 0; i < profile.size(); ++i)
        profile[i] = static_cast<unsigned char>(i * 13 + i / 256);
    const unsigned char tables[] = {0xFF, 0xDB};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        OIIO::ImageSpec ours(61, 47, row.channels, OIIO::TypeUInt8);
        ours.attribute("XResolution", 300.6f);
        ours.attribute("YResolution", 149.4f);
        ours.attribute("ResolutionUnit", "in");
        ours.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, static_cast<int>(profile.size())),
                       profile.data());
        OIIO::ImageSpec theirs = ours;
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
        EXPECT_EQ(Bytes(mine.begin(), mine.begin() + 20), Bytes(reference.begin(), reference.begin() + 20));
        EXPECT_EQ(Bytes(std::search(mine.begin(), mine.end(), tables, tables + 2), mine.end()),
                  Bytes(std::search(reference.begin(), reference.end(), tables, tables + 2), reference.end()));
        EXPECT_EQ(decode("x.jpg", mine.data(), mine.size()).icc(), profile);
    }
    TarvexImage image = makeImage(false, false, 40, 40, smooth);
    CBufferStream q42, named, plain;
    ASSERT_TRUE(image.write("x.jpg", 42, &q42) &&
                image.write("x.jpg", &named, trx::WriteOptions().compression("jpeg:42")) &&
                image.write("x.jpg", -1, &plain));
    EXPECT_TRUE(bytesOf(q42) == bytesOf(named) && bytesOf(q42) != bytesOf(plain));
}

}  // namespace
