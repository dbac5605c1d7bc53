#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>

#include "image/ImageImpl.h"
#include "read/FileSignature.h"
#include "read/ReadPipeline.h"
#include "read/ReaderConfig.h"
#include "support/OpsImages.h"
#include "support/ReadFiles.h"
#include "support/TestSupport.h"
#include "support/WriteFiles.h"

using namespace trxtest;

namespace {

// Channels [first, end) of every pixel of `pixels` (`n` channels each), each `times` over.
Bytes pick(const Bytes& pixels, int n, int first, int end, int times = 1)
{
    Bytes out;
    for (std::size_t p = 0; p < pixels.size(); p += static_cast<std::size_t>(n))
        for (int c = first; c < end; ++c)
            out.insert(out.end(), static_cast<std::size_t>(times), pixels[p + static_cast<std::size_t>(c)]);
    return out;
}

OIIO::ImageSpec rgb(int channels, OIIO::TypeDesc format = OIIO::TypeUInt8, int tile = 0,
                    const char* colourSpace = nullptr)
{
    OIIO::ImageSpec spec(50, 37, channels, format);
    spec.tile_width = spec.tile_height = tile;
    if (colourSpace)
        spec.attribute("tiff:ColorSpace", colourSpace);
    return spec;
}

unsigned char zeroAlpha(int x, int y, int c) { return c == 3 ? 0 : patternSample(x, y, c); }

unsigned char tableEntry(int index, int c) { return static_cast<unsigned char>(index * (c + 2) + c * 40); }

Bytes planeOf(int width, int height, int c = 0) { return patternSamples(width, height, c, c + 1); }

// An indexed PSD of 13 x 5 pixels; with `transparent` set, its resource comes after the
// resolution's and has a name of odd length.
Bytes indexedPsd(bool transparent)
{
    Bytes table;
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i)
            table.push_back(tableEntry(i, c));
    Bytes psd = psdFile(13, 5, 2, {planeOf(13, 5)}, photoshopResolution(300u << 16, 1, 150u << 16 | 0x8000, 1), table,
                        transparent ? patternSample(3, 2, 0) : -1);
    if (transparent)
        psd[30 + 768 + 4 + 28 + 6] = 1, psd[30 + 768 + 4 + 28 + 7] = 'x';
    return psd;
}

Bytes indexedColours()
{
    Bytes out;
    for (unsigned char i : planeOf(13, 5))
        out.insert(out.end(), {tableEntry(i, 0), tableEntry(i, 1), tableEntry(i, 2)});
    return out;
}

Decoded reference(const std::string& path, bool rawColour)
{
    if (rawColour)
        return decodeFile(path);
    Decoded out;
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path, &config);
    out.spec = in ? in->spec() : OIIO::ImageSpec();
    out.pixels.resize(out.spec.image_pixels() * out.spec.nchannels);
    out.ok = in && in->read_image(0, 0, 0, out.spec.nchannels, OIIO::TypeUInt8, out.pixels.data());
    return out;
}

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The samples libjpeg decodes, complemented: how the strips hold a four-component JPEG.
Bytes complementOf(const Bytes& jpeg)
{
    int components = 0;
    Bytes samples = libjpegSamples(jpeg, components);
    for (unsigned char& b : samples)
        b = static_cast<unsigned char>(255 - b);
    return samples;
}

class ReadPipeline : public ::testing::Test {
protected:
    TempDir dir;
    LogCapture log;
};

enum Space { Grey, Rgb, Spread, Cmyk };  // Spread: a grey channel spread over R, G and B

}  // namespace

// Each file opens with its reference's pixels (OpenImageIO's read_image, or the given
// colours where that is wrong), and read again into strips of 7 lines (rows of tiles then
// straddle strips) gives the same. Four-component JPEGs go to the library's own reader:
// against libjpeg's decoding (complemented, as Pillow, libvips and ImageMagick report it).
TEST_F(ReadPipeline, FilesOpenWithTheirReferencePixels)
{
    const Bytes jpeg = writtenBytes("a.jpg", OIIO::ImageSpec(64, 48, 3, OIIO::TypeUInt8));
    Bytes records = jpegSegment(0xE0, jfifPayload(0, 1, 1));
    const Bytes exif = jpegSegment(0xE1, exifPayload(false, {exifRational(282, 200, 1), exifShort(296, 3)}));
    records.insert(records.end(), exif.begin(), exif.end());
    const Bytes cmyk[] = {
        libjpegFile({JpegColour::Ycck, 40, 30, 1, 300, 300}), libjpegFile({JpegColour::PlainCmyk, 17, 9, 2, 118, 118}),
        libjpegFile({JpegColour::AdobeCmyk, 23, 11, -1, 1, 1,
                     exifPayload(true, {exifRational(282, 200, 1), exifRational(283, 200, 1), exifShort(296, 2)})}),
        libjpegFile({JpegColour::Ycck, 50, 70, 1, 1, 2, {}, {}, 1, true})};
    Bytes temFirst = cmyk[1];  // a marker with no length before the frame
    temFirst.insert(temFirst.begin() + 2, {0xFF, 0x01});
    const struct {
        const char* name;
        Bytes bytes;
        Space space;
        bool alpha;
        double x = -1, y = -1;  // resolution, when checked
        bool rawColour = true;
        Bytes given = {};
    } rows[] = {
        {"rgb.png", writtenBytes("a.png", rgb(3)), Rgb, false},
        {"grey.png", writtenBytes("a.png", rgb(1)), Grey, false},
        {"alpha of zeros.png", writtenBytes("a.png", rgb(4), zeroAlpha), Rgb, false},
        {"alpha.png", writtenBytes("a.png", rgb(4)), Rgb, true},
        {"grey and alpha.png", writtenBytes("a.png", rgb(2)), Spread, true},
        {"16 bits.tif", writtenBytes("a.tif", rgb(3, OIIO::TypeUInt16)), Rgb, false},
        {"cmyk.tif", writtenBytes("a.tif", rgb(4, OIIO::TypeUInt8, 0, "CMYK")), Cmyk, false},
        {"cmyka.tif", writtenBytes("a.tif", rgb(5, OIIO::TypeUInt8, 0, "CMYK")), Cmyk, true},
        {"rgba.psd", psdFile(5, 3, 3, {planeOf(5, 3), planeOf(5, 3, 1), planeOf(5, 3, 2), planeOf(5, 3, 3)}), Rgb,
         true},
        {"tiled.tif", writtenBytes("a.tif", rgb(4, OIIO::TypeUInt8, 16)), Rgb, true},
        {"tiled.exr", writtenBytes("a.exr", rgb(4, OIIO::TypeFloat, 16)), Rgb, false},
        // OpenImageIO's scanline emulation over tiles divides by zero when it converts.
        {"tiled 16 bits with alpha.tif", writtenBytes("a.tif", rgb(4, OIIO::TypeUInt16, 16)), Rgb, true},
        // libjpeg fills the missing entropy data with grey and warns.
        {"cut.jpg", Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() * 6 / 10)), Rgb, false},
        {"jfif aspect, exif per cm.jpg", replaceJpegRecords(jpeg, records), Rgb, false, 508, 508},
        {"psd named.bin", psdFile(5, 3, 3, {planeOf(5, 3), planeOf(5, 3, 1), Bytes(15, 9)}), Rgb, false},
        {"bitmap.psd", psdFile(13, 5, 0, {planeOf(2, 5)}), Rgb, false, -1, -1, false},
        {"transparent index.psd", indexedPsd(true), Rgb, true, 300, 150.5, false},
        // Outside raw-colour mode OpenImageIO leaves a quarter of these lines uninitialised.
        {"indexed.psd", indexedPsd(false), Rgb, false, 300, 150.5, true, indexedColours()},
        {"core header.bmp", bmpFile(12, 5, 3, 24, 0, patternSamples(16, 3, 0, 1)), Rgb, false},
        {"alpha.bmp", writtenBytes("a.bmp", rgb(4)), Rgb, true},
        {"YCCK, JFIF per inch.jpg", cmyk[0], Cmyk, false, 300, 300, true, complementOf(cmyk[0])},
        {"CMYK, no Adobe marker, JFIF per cm.jpg", cmyk[1], Cmyk, false, 299.72, 299.72, true, complementOf(cmyk[1])},
        {"Adobe CMYK, Exif in inches.jpg", cmyk[2], Cmyk, false, 200, 200, true, complementOf(cmyk[2])},
        {"progressive YCCK, restarts, JFIF 1:2.jpg", cmyk[3], Cmyk, false, 72, 72, true, complementOf(cmyk[3])},
        {"CMYK, TEM first.jpg", temFirst, Cmyk, false, 299.72, 299.72, true, complementOf(cmyk[1])}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir.file(row.name);
        writeFile(path, row.bytes);
        const Decoded ref = row.given.empty() ? reference(path, row.rawColour) : Decoded{true, {}, row.given};
        ASSERT_TRUE(ref.ok);
        const int n = row.given.empty() ? ref.spec.nchannels : row.space == Cmyk ? 4 : 3;
        TarvexImage image;
        ASSERT_TRUE(image.open(path));
        EXPECT_TRUE(log.lines().empty());
        const TarvexImage::colourSpaceType spaces[] = {TarvexImage::colourSpaceGrey, TarvexImage::colourSpaceRGB,
                                                       TarvexImage::colourSpaceRGB, TarvexImage::colourSpaceCMYK};
        EXPECT_EQ(image.colourSpace(), spaces[row.space]);
        EXPECT_EQ(image.matte(), row.alpha);
        const Bytes colour = row.space == Spread
                                 ? pick(ref.pixels, n, 0, 1, 3)
                                 : pick(ref.pixels, n, 0, row.space == Grey ? 1 : 3 + (row.space == Cmyk));
        for (int linesPerStrip : {0, 7}) {
            if (linesPerStrip) {
                image.size(image.columns(), image.rows(), (image.rows() + 6) / 7, 7, nullptr, nullptr);
                ASSERT_TRUE(readPixels(TarvexImageAccess::impl(image)));
            }
            EXPECT_EQ(readLines(image), colour) << linesPerStrip;
            EXPECT_EQ(readLines(image, true), row.alpha ? pick(ref.pixels, n, n - 1, n) : Bytes()) << linesPerStrip;
        }
        if (row.x >= 0) {
            EXPECT_NEAR(image.xResolution(), row.x, 1e-3);
            EXPECT_NEAR(image.yResolution(), row.y, 1e-3);
        }
    }
}

// A refusal is our line, then OpenImageIO's or the system's reason when there is one.
// What an image held before (another file's alpha, a packing, a profile)
// does not outlive the next open; read() after a failed open reads without marking.
TEST_F(ReadPipeline, OpensReplaceWhatTheImageHeld)
{
    const std::string rgba = dir.file("a.png"), plain = dir.file("b.png"), later = dir.file("caf\xC3\xA9.png");
    const std::string missing = dir.file("missing.xyz"), notUtf8 = dir.file("x\xFFy.png");
    ASSERT_TRUE(writeImage(rgba, OIIO::ImageSpec(4, 3, 4, OIIO::TypeUInt8)));
    ASSERT_TRUE(writeImage(plain, OIIO::ImageSpec(4, 3, 3, OIIO::TypeUInt8)));
    TarvexImage image;
    EXPECT_FALSE(image.open(std::string()) || image.open(static_cast<const char*>(nullptr)) ||
                 image.open(static_cast<const wchar_t*>(nullptr)) || image.open(std::wstring()) || image.read());
    EXPECT_TRUE(log.lines().empty());
    EXPECT_FALSE(image.open(missing) || image.open(notUtf8) || image.open(later));
    const std::vector<std::wstring> lines = log.lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], L"[TRXImage] OpenImageIO cannot open " + wide(missing) + L"\n");
    EXPECT_EQ(lines[1], L"[TRXImage] No such file or directory\n");
    EXPECT_EQ(lines[2], L"[TRXImage] OpenImageIO cannot open " + wide(dir.file("x")) + L"\uFFFDy.png\n");
    EXPECT_EQ(lines[4], L"[TRXImage] OpenImageIO cannot open " + wide(dir.file("caf")) + L"\u00E9.png\n");
    log.clear();
    writeFile(later, readFile(plain));
    EXPECT_TRUE(image.read());
    EXPECT_FALSE(image.hasValidData());
    EXPECT_EQ(readLines(image), decodeFile(plain).pixels);
    const std::wstring widePath = wide(dir.file("caf")) + L"\u00E9.png", invalid = wide(dir.file("bad")) + L"\xD800";
    EXPECT_TRUE(image.open(widePath) && image.open(widePath.c_str()));
    // A wide path with no UTF-8 form raises the conversion's error out of open.
    EXPECT_THROW(image.open(invalid), trx::TextConversionError);  // through the wchar_t* overload
    ASSERT_TRUE(image.open(rgba));
    TarvexImageImpl& im = TarvexImageAccess::impl(image);
    im.isTrueColour = false;  // what a packing leaves behind
    im.indexBytesPerLine = 4;
    im.indexStrips.resize(1);
    ASSERT_TRUE(image.open(plain));
    EXPECT_TRUE(im.isTrueColour && im.indexStrips.empty() && im.alphaStrips.empty() && !image.matte());
    EXPECT_EQ(im.alphaBytesPerLine, 0);
    EXPECT_EQ(im.indexBytesPerLine, 0);
    EXPECT_TRUE(log.lines().empty());
    // Tiles that claim 32768 x 32768 pixels are refused before a buffer is sized for them.
    Bytes tiles = writtenBytes("a.tif", rgb(3, OIIO::TypeUInt8, 16));
    for (std::size_t ifd = tiles[4] | tiles[5] << 8, i = 0; i < std::size_t(tiles[ifd] | tiles[ifd + 1] << 8); ++i)
        if (const std::size_t at = ifd + 2 + 12 * i; tiles[at + 1] == 1 && (tiles[at] == 0x42 || tiles[at] == 0x43))
            tiles[at + 8] = 0, tiles[at + 9] = 0x80;  // TileWidth and TileLength
    writeFile(dir.file("t.tif"), tiles);
    EXPECT_FALSE(image.open(dir.file("t.tif")));
    EXPECT_EQ(log.lines().back(), L"[TRXImage] tiles of 32768 x 32768 pixels are too large\n");
}

// Marks that no writer here makes, and near misses: pairs of first bytes and the format.
TEST(FileSignature, MarksNameTheirFormat)
{
    using namespace std::string_literals;
    const std::string ftyp = "\0\0\0\x18"
                             "ftyp"s;
    const std::string dicom = std::string(128, '\0') + "DICM", avif = ftyp + "avif", isom = ftyp + "isom";
    // clang-format off
    const std::string rows[] = {"II+\0"s, "tiff", "RIFF\1\2\3\4AVI LIST", "", "\0\0\0\x0CjP  \r\n\x87\n"s, "jpeg2000",
                                "XPDS", "dpx", "\xD7\x5F\x2A\x80", "cineon", "FOR4ILBM", "", "DDS |", "dds", dicom,
                                "dicom", avif, "heif", isom, "", "Pf 1 1", "pnm", "P7\n", "", "II\x1A\0\0\0HEAPCCDR"s,
                                "raw", "", ""};
    // clang-format on
    for (std::size_t i = 0; i < std::size(rows); i += 2) {
        SCOPED_TRACE(rows[i]);
        FileHead file;
        file.head.assign(rows[i].begin(), rows[i].end());
        EXPECT_EQ(formatBySignature(file), rows[i + 1]);
    }
    // The last dot's extension, in any case; a name without a dot has none.
    const std::pair<std::string, std::string> names[] = {{"a.png/C.JPG", "jpeg"}, {"jpg", ""}};
    for (const auto& [name, format] : names)
        EXPECT_EQ(formatByExtension(name), format) << name;
}

// An opened file's profile comes from the file; a given one serves only an image not
// opened. A copy reopens the file for a reader of its own, or has none when it is gone.
TEST_F(ReadPipeline, ProfilesAndCopies)
{
    Bytes profile(70000);
    for (std::size_t i = 0; i < profile.size(); ++i)
        profile[i] = static_cast<unsigned char>(i * 7 + i / 251);
    OIIO::ImageSpec spec(5, 4, 3, OIIO::TypeUInt8);
    spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, 560), profile.data());
    const auto bytesOf = [](const Blob& blob) { return Bytes(blob.data(), blob.data() + blob.length()); };
    Blob given;
    given.update("abc", 3);
    const struct {
        const char* name;
        Bytes bytes, profile;
    } rows[] = {{"p.tif", writtenBytes("a.tif", spec), Bytes(profile.begin(), profile.begin() + 560)},
                {"none.jpg", writtenBytes("a.jpg", rgb(3)), {}},
                {"two chunks, ours.jpg", libjpegFile({JpegColour::AdobeCmyk, 9, 5, -1, 1, 1, {}, profile}), profile},
                {"made by size", {}, {'a', 'b', 'c'}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir.file(row.name), saved = path + ".icc";
        Plane pixels(5, 4, 3);
        std::iota(pixels.bytes.begin(), pixels.bytes.end(), 0);
        TarvexImage image = makeImage(TarvexImage::colourSpaceRGB, pixels);
        image.iccColourProfile(given);
        if (!row.bytes.empty()) {
            writeFile(path, row.bytes);
            ASSERT_TRUE(image.open(path));
        }
        EXPECT_EQ(bytesOf(image.iccColourProfile()), row.profile);
        const bool fromFile = !row.bytes.empty() && !row.profile.empty();
        EXPECT_EQ(image.saveIccProfile(wide(saved)), fromFile);
        EXPECT_EQ(readFile(saved), fromFile ? row.profile : Bytes());
        TarvexImage copy(image);
        copy.modifyImage();
        const TarvexImageImpl &a = TarvexImageAccess::impl(image), &b = TarvexImageAccess::impl(copy);
        EXPECT_EQ(b.imageInput && b.interpreter && a.imageInput != b.imageInput && a.interpreter != b.interpreter,
                  !row.bytes.empty());
        EXPECT_EQ(bytesOf(copy.iccColourProfile()), row.profile);
        std::remove(path.c_str());
        TarvexImage orphan(image);
        orphan.modifyImage();
        EXPECT_FALSE(TarvexImageAccess::impl(orphan).imageInput || TarvexImageAccess::impl(orphan).interpreter);
        EXPECT_EQ(orphan.read(), !row.bytes.empty());  // marked read: the file is not needed
        EXPECT_TRUE(log.lines().empty());
        EXPECT_FALSE(image.open(path));  // the file's profile goes with it; the given one serves
        EXPECT_EQ(bytesOf(image.iccColourProfile()), Bytes({'a', 'b', 'c'}));
        log.clear();
    }
    bool has = true, exif = true;
    EXPECT_FALSE(TarvexImage().hasIccProfileEXIF(has, exif) || has || exif || TarvexImage().hasIccProfile());
}

// The library's reader gives JFIF's pixel aspect (2 across to 1 down is 2), and no line
// outside the image.
TEST(JpegInput, AspectAndLineRange)
{
    TempDir dir;
    writeFile(dir.file("a.jpg"), libjpegFile({JpegColour::Ycck, 8, 4, 0, 2, 1}));
    auto in = openReader(dir.file("a.jpg"));
    ASSERT_TRUE(in);
    EXPECT_EQ(in->spec().get_float_attribute("PixelAspectRatio"), 2.0f);
    Bytes lines(8 * 5 * 4);
    EXPECT_FALSE(in->read_native_scanlines(0, 0, 0, 5, 0, 0, 4, lines.data()) ||
                 in->read_native_scanlines(0, 0, -1, 1, 0, 0, 4, lines.data()));
}
