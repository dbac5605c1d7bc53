#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "support/TestSupport.h"
#include "support/WriteFiles.h"

using namespace trxtest;

namespace {

using Bytes = std::vector<unsigned char>;

// Gradients without wrap-around, which JPEG keeps within a few levels.
unsigned smooth(int x, int y, int c) { return (x * 2 + y * 2 + c * 30) & 0xff; }

// What OpenImageIO reads back: the channels the format holds (CMYK as Pillow's RGB where
// it holds none), lossless formats byte for byte, and the image's ICC profile only where
// the row asks for it and the format holds one.
TEST(RoundTrip, IndependentReaderSeesThePixels)
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
        {true, true, "sgi", 0, false, false},
    };
    TempDir dir;
    LogCapture log;
    const Bytes profile = rgbProfile();
    Blob blob;
    blob.update(profile.data(), static_cast<int>(profile.size()));
    for (const Row& row : rows) {
        const std::string path = dir.file(std::string(row.cmyk ? "CMYK" : "RGB") + (row.alpha ? "A." : ".") + row.ext);
        SCOPED_TRACE(path + (row.bigTiff ? " BigTIFF" : ""));
        Bytes source;
        TarvexImage image = makeImage(row.cmyk, row.alpha, 37, 29, smooth, 8, &source);
        image.iccColourProfile(blob);  // written only on request
        trx::WriteOptions options;
        options.attribute("tiff:bigtiff", row.bigTiff ? 1 : 0);
        ASSERT_TRUE(image.write(path, row.icc ? options.iccProfile(blob) : options));
        const Decoded back = decode(path);
        const bool asCmyk = row.cmyk && row.ext == "tif";
        const Bytes expected = row.cmyk && !asCmyk ? cmykAsRgb(source, row.alpha) : source;
        const int channels = static_cast<int>(expected.size() / (37 * 29)), kept = row.ext == "jpg" ? 3 : channels;
        ASSERT_TRUE(back.ok);
        ASSERT_EQ(back.pixels.size(), 37u * 29 * kept);
        int worst = 0;
        for (std::size_t p = 0; p < 37 * 29; ++p)
            for (int c = 0; c < kept; ++c)
                worst = std::max(worst, std::abs(back.pixels[p * kept + c] - expected[p * channels + c]));
        EXPECT_LE(worst, row.tolerance);
        EXPECT_EQ(back.icc(), row.icc && row.ext != "bmp" ? profile : Bytes());
        TarvexImage opened;  // CMYK TIFF is separated, its alpha unassociated
        ASSERT_TRUE(!asCmyk || opened.open(path));
        EXPECT_TRUE(!asCmyk || (opened.colourSpace() == TarvexImage::colourSpaceCMYK && opened.matte() == row.alpha));
        EXPECT_TRUE(!asCmyk || back.spec.get_int_attribute("oiio:UnassociatedAlpha") == row.alpha);
    }
    EXPECT_TRUE(log.lines().empty());
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
            const Bytes file = readFile(dir.file(name));
            Bytes twice = file;
            twice.insert(twice.end(), file.begin(), file.end());
            EXPECT_EQ(bytesOf(stream), twice);
            EXPECT_EQ(bytesOf(buffer), file);
            EXPECT_EQ(readFile(dir.file("cfile")), file);
            ASSERT_TRUE(image.write(dir.file(name)) && image.write(name, -1, &plain));
            EXPECT_TRUE(ext == "tif" || readFile(dir.file(name)) == bytesOf(plain));
        }
    }
}

// Across and down, opened again by the library. PNG and BMP hold whole pixels per metre
// (half of one is 0.0127 ppi), JFIF whole dots per inch; a JPEG opens at 72 ppi without one.
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
                ASSERT_TRUE(image.write(path));
                TarvexImage back;
                ASSERT_TRUE(back.open(path));
                const bool set = x > 0 && y > 0;
                EXPECT_NEAR(back.xResolution(), !set ? none : ext[0] == 'j' && !cmyk ? std::round(x) : x, tolerance);
                EXPECT_NEAR(back.yResolution(), set ? y : none, tolerance);
            }
        }
    }
}

// Every path overload writes the same file. A failure gives the described line and the
// system's reason and leaves what was there, unless the whole new file replaces it.
TEST(RoundTrip, PathOverloadsAndFailures)
{
    TempDir dir;
    LogCapture log;
    TarvexImage image = makeImage(false, false, 3, 3, smooth);
    ASSERT_TRUE(image.write(dir.file("n\xC3\xA4me.png")));
    const std::wstring wide(dir.path().begin(), dir.path().end());  // test folders are ASCII
    ASSERT_TRUE(image.write(dir.file("c.png").c_str()) && image.write(wide + L"/w\u00e4\u6f22.png") &&
                image.write((wide + L"/p.png").c_str()));
    for (const char* name : {"c.png", "w\xC3\xA4\xE6\xBC\xA2.png", "p.png"})
        EXPECT_EQ(readFile(dir.file(name)), readFile(dir.file("n\xC3\xA4me.png"))) << name;
    writeFile(dir.file("plain"), {1, 2, 3});
    std::filesystem::create_directory(dir.file("folder.png"));
    const std::string open = "[TRXImage] OpenImageIO for RGB fails to open, columns: 3, rows: 3, channels: 3\n";
    const std::string reason = "[TRXImage] Reason: ";
    for (auto [path, because] : {std::pair{"missing/image.png", "No such file or directory"},
                                 {"plain/image.png", "Not a directory"},
                                 {"plain/image.jpg", "Not a directory"},
                                 {"plain/image.sgi", "Not a directory"},
                                 {"folder.png", "Is a directory"}}) {
        log.clear();
        EXPECT_FALSE(image.write(dir.file(path))) << path;
        EXPECT_EQ(log.utf8(), (std::vector<std::string>{open, reason + because + "\n"}));
    }
    log.clear();
    EXPECT_FALSE(image.write(dir.file("image.nosuchformat")));
    ASSERT_EQ(log.utf8().size(), 2u);
    EXPECT_EQ(log.utf8()[0],
              "[TRXImage] OpenImageIO cannot create for writing: " + dir.file("image.nosuchformat") + "\n");
    EXPECT_EQ(log.utf8()[1].rfind(reason + "OpenImageIO could not find a format writer", 0), 0u);
    EXPECT_EQ(readFile(dir.file("plain")), (Bytes{1, 2, 3}));
    // PNM holds no alpha: the writer refuses the image before the old file is touched.
    const Bytes old(10000, 7);
    writeFile(dir.file("kept.ppm"), old);
    EXPECT_FALSE(makeImage(false, true, 3, 3, smooth).write(dir.file("kept.ppm")));
    EXPECT_EQ(readFile(dir.file("kept.ppm")), old);
    CBufferStream stream;
    ASSERT_TRUE(image.write(dir.file("kept.ppm")) && image.write("kept.ppm", -1, &stream));
    EXPECT_EQ(readFile(dir.file("kept.ppm")), bytesOf(stream));
    EXPECT_FALSE(image.write(static_cast<const char*>(nullptr)) || image.write(static_cast<const wchar_t*>(nullptr)));
}

}  // namespace
