#include <gtest/gtest.h>

#include <OpenImageIO/filesystem.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numeric>

#include "image/ImageImpl.h"
#include "support/ReadFiles.h"
#include "support/TestSupport.h"
#include "support/WriteFiles.h"
#include "write/JpegOutput.h"
#include "write/WriteTargets.h"

using namespace trxtest;
namespace fs = std::filesystem;

namespace {

// Gradients without wrap-around, which JPEG keeps within a few levels.
unsigned smooth(int x, int y, int c) { return (x * 2 + y * 2 + c * 30) & 0xff; }
// Every (C, K) pair once, for the rounding of CMYK to RGB; the other channels vary too.
unsigned pairs(int x, int y, int c) { return c == 0 ? x : c == 1 ? 255 - x : c == 2 ? x ^ y : c == 3 ? y : x + y; }

// What OpenImageIO reads back: the channels the format holds (CMYK as Pillow's RGB where
// it holds none), lossless formats byte for byte, and the image's ICC profile only where
// the row asks for it and the format holds one. JPEG keeps CMYK as Adobe CMYK, which
// libjpeg reads back as the complement of the ink.
TEST(RoundTrip, IndependentReadersSeeThePixels)
{
    // CMYK, alpha, extension, tolerance, ICC on request, BigTIFF
    const std::tuple<int, int, std::string, int, int, int> rows[] = {
        {0, 0, "png", 0, 1, 0}, {0, 1, "png", 0, 0, 0}, {0, 1, "tif", 0, 1, 0}, {1, 0, "tif", 0, 1, 0},
        {1, 1, "tif", 0, 0, 0}, {1, 1, "tif", 0, 0, 1}, {1, 1, "png", 0, 1, 0}, {1, 0, "bmp", 0, 1, 0},
        {1, 1, "tga", 0, 0, 0}, {1, 1, "sgi", 0, 0, 0}, {1, 0, "jpg", 3, 1, 0}, {1, 1, "jpg", 3, 0, 0},
    };
    TempDir dir;
    LogCapture log;
    const Bytes profile = rgbProfile();
    Blob blob;
    blob.update(profile.data(), static_cast<int>(profile.size()));
    for (const auto& [cmyk, alpha, ext, tolerance, icc, bigTiff] : rows) {
        const std::string path = dir.file(std::string(cmyk ? "CMYK" : "RGB") + (alpha ? "A." : ".") + ext);
        SCOPED_TRACE(path + (bigTiff ? " BigTIFF" : ""));
        const int side = tolerance ? 37 : 256;
        Bytes source;
        TarvexImage image = makeImage(cmyk, alpha, side, side, tolerance ? smooth : pairs, 8, &source);
        image.iccColourProfile(blob);  // written only on request
        const auto options = trx::WriteOptions().attribute("tiff:bigtiff", bigTiff ? 1 : 0);
        ASSERT_TRUE(image.write(path, icc ? trx::WriteOptions(options).iccProfile(blob) : options));
        const bool asCmyk = cmyk && (ext == "tif" || ext == "jpg"), inks = asCmyk && ext == "jpg";
        Bytes expected = source;
        if (cmyk && !asCmyk) {  // as Pillow's convert("RGB"): (255 - C)(255 - K) / 255 rounded, alpha kept
            expected.clear();
            for (std::size_t p = 0; p < source.size(); p += 4 + alpha)
                for (int c = 0; c < 3 + alpha; ++c)
                    expected.push_back(c == 3 ? source[p + 4]
                                              : ((255 - source[p + c]) * (255 - source[p + 3]) * 2 + 255) / 510);
        }
        const std::size_t area = side * side, channels = expected.size() / area;
        const std::size_t kept = inks ? 4 : channels;
        Decoded back = decodeFile(path);
        int components = 0, worst = 0;
        if (inks)
            back.pixels = libjpegSamples(readFile(path), components);
        ASSERT_EQ(back.pixels.size(), area * kept);
        for (std::size_t p = 0; p < area * kept; ++p)
            worst = std::max(worst, std::abs((inks ? 255 - back.pixels[p] : back.pixels[p]) -
                                             expected[p / kept * channels + p % kept]));
        EXPECT_LE(worst, tolerance);
        EXPECT_EQ(back.icc, icc && ext != "bmp" ? profile : Bytes());
        if (asCmyk && alpha && !inks && !bigTiff) {  // InkSet and ExtraSamples, once each
            const Bytes f = readFile(path);
            const auto u16 = [&f](std::size_t at) { return f[at] | f[at + 1] << 8; };
            int extra = 0;
            for (int i = 0, ifd = u16(4) | u16(6) << 16; i < u16(ifd); ++i)
                extra += u16(ifd + 2 + 12 * i) == 332 || u16(ifd + 2 + 12 * i) == 338;
            EXPECT_EQ(extra, 2);
        }
        TarvexImage opened;  // CMYK TIFF is separated, its alpha unassociated
        EXPECT_TRUE(!asCmyk || (opened.open(path) && opened.colourSpace() == TarvexImage::colourSpaceCMYK &&
                                (inks || opened.matte() == alpha)));
    }
    EXPECT_TRUE(log.lines().empty());
}

// Grey lines and packed lines go out as RGB: each grey byte three times, each bit 255 or 0.
TEST(RoundTrip, GreyAndPackedImagesGoOutAsRgb)
{
    TempDir dir;
    TarvexImage grey, packed = makeImage(false, false, 11, 3, [](int x, int y, int) { return (x + y) % 3 ? 0 : 200; });
    ASSERT_TRUE(packed.ReduceIfPossible());
    grey.colourSpace(TarvexImage::colourSpaceGrey);
    grey.size(11, 3, 0, 0, nullptr, nullptr);
    TarvexImage::LinePointer line;
    for (int y = 0; y < 3 && grey.setupLinePointer(line, y); ++y)
        for (int x = 0; x < 11; ++x)
            line.get_pustr()[x] = static_cast<unsigned char>(x * 20 + y);
    for (TarvexImage* image : {&grey, &packed}) {
        ASSERT_TRUE(image->write(dir.file("g.png")));
        const Bytes back = decodeFile(dir.file("g.png")).pixels;
        ASSERT_EQ(back.size(), 11u * 3 * 3);
        for (std::size_t i = 0; i < back.size(); ++i) {
            const int x = int(i / 3 % 11), y = int(i / 33);
            EXPECT_EQ(back[i], image == &grey ? x * 20 + y : (x + y) % 3 ? 0 : 255) << i;
        }
    }
}

// Across and down, opened again by the library. PNG and BMP hold whole pixels per metre
// (half of one is 0.0127 ppi), JFIF whole dots per inch; a JPEG opens at 72 ppi without
// one.
TEST(RoundTrip, ResolutionsComeBackWithinTheFormatsPrecision)
{
    TempDir dir;
    for (bool cmyk : {false, true}) {
        TarvexImage image = makeImage(cmyk, false, 4, 4, smooth);
        for (auto [ext, tolerance, none] :
             {std::tuple{"tif", 0.0, 0.0}, {"png", 0.0127, 0.0}, {"bmp", 0.0127, 0.0}, {"jpg", 0.0, 72.0}}) {
            const double sizes[][2] = {{0, 0}, {300, 0}, {72, 144}, {150, 300}, {300.25, 72}, {1200, 2400}};
            for (const auto& [x, y] : sizes) {
                SCOPED_TRACE(std::string(ext) + (cmyk ? " CMYK at " : " at ") + std::to_string(x));  // x is unique
                image.xResolution(x);
                image.yResolution(y);
                const std::string path = dir.file(std::string("r.") + ext);
                TarvexImage back;
                ASSERT_TRUE(image.write(path) && back.open(path));
                const bool set = x > 0 && y > 0, jpeg = ext[0] == 'j';
                EXPECT_NEAR(back.xResolution(), !set ? none : jpeg && !cmyk ? std::round(x) : x, tolerance);
                EXPECT_NEAR(back.yResolution(), set ? y : none, tolerance);
                EXPECT_TRUE(!jpeg || !cmyk || !set || decodeFile(path).spec.get_float_attribute("YResolution") == y);
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
// and the ICC profile whole.
TEST(RoundTrip, JpegAsOpenImageIOsWriter)
{
    TempDir dir;
    const std::tuple<const char*, int, std::vector<OIIO::ParamValue>> rows[] = {
        {"grey at the default quality", 1, {}},
        {"RGBA drops its alpha; per cm", 4, {{"ResolutionUnit", "cm"}}},
        {"quality in the compression name wins", 3, {{"compression", "jpeg:30"}, {"CompressionQuality", 90}}},
        {"progressive 4:4:4", 3, {{"jpeg:progressive", 1}, {"jpeg:subsampling", "4:4:4"}}},
    };
    Bytes profile(70000);
    for (std::size_t i = 0; i < profile.size(); ++i)
        profile[i] = static_cast<unsigned char>(i * 13 + i / 256 + i % 7 * 40);
    const unsigned char tables[] = {0xFF, 0xDB};
    for (const auto& [name, channels, params] : rows) {
        SCOPED_TRACE(name);
        OIIO::ImageSpec spec(61, 47, channels, OIIO::TypeUInt8);
        spec.attribute("XResolution", 300.6f);
        spec.attribute("YResolution", 149.4f);
        spec.attribute("ResolutionUnit", "in");
        spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, 70000), profile.data());
        for (const OIIO::ParamValue& p : params)
            spec.attribute(p.name(), p.type(), p.data());
        const Bytes mine = encode(makeJpegOutput(), spec, profile);
        const Bytes reference = encode(OIIO::ImageOutput::create("x.jpg"), spec, profile);
        ASSERT_TRUE(mine.size() > 20 && reference.size() > 20);
        EXPECT_EQ(Bytes(mine.begin(), mine.begin() + 20), Bytes(reference.begin(), reference.begin() + 20));
        EXPECT_EQ(Bytes(std::search(mine.begin(), mine.end(), tables, tables + 2), mine.end()),
                  Bytes(std::search(reference.begin(), reference.end(), tables, tables + 2), reference.end()));
        writeFile(dir.file("x.jpg"), mine);
        EXPECT_EQ(decodeFile(dir.file("x.jpg")).icc, profile);
    }
    // A quality with a tail leaves the default (OpenImageIO's writer reads "jpeg:40x" as 40).
    OIIO::ImageSpec plain(16, 8, 3, OIIO::TypeUInt8), tail = plain;
    tail.attribute("compression", "jpeg:40x");
    EXPECT_EQ(encode(makeJpegOutput(), tail, profile), encode(makeJpegOutput(), plain, profile));
}

// Records every Write; throws a full disk on the `failAt`-th (counted from 1), or with
// `failAt` 0 something that is not a CFileException.
struct RecordingFile : CFile {
    void Write(const void* data, unsigned count) override
    {
        if (++calls == failAt || failAt == 0)
            failAt ? throw new CFileException(CFileException::diskFull, ENOSPC, L"disk.img")
                   : throw std::runtime_error("host failure");
        content.insert(content.end(), static_cast<const unsigned char*>(data),
                       static_cast<const unsigned char*>(data) + count);
    }
    void Close() override { ++closes; }
    explicit RecordingFile(int failAt = -1) : failAt(failAt) {}
    int calls = 0, failAt, closes = 0;
    Bytes content;
};

// Whole 4096-byte chunks and a shorter last one (streams and buffers share the chunking;
// their bytes are checked below). A CFileException closes the file and is logged, the
// name shown readably; the chunks before it stay. Other exceptions pass out.
TEST(Targets, ChunksAndFailedAppends)
{
    Bytes encoded(10000);
    std::iota(encoded.begin(), encoded.end(), static_cast<unsigned char>(5));
    for (std::size_t n : {0u, 1u, 4095u, 4096u, 4097u, 8192u, 10000u}) {
        SCOPED_TRACE(n);
        const Bytes part(encoded.begin(), encoded.begin() + n);
        RecordingFile file;
        ASSERT_TRUE(appendEncoded(part, "x.png", file));
        EXPECT_EQ(file.calls, static_cast<int>(n + 4095) / 4096);  // a short first chunk fails the rows below
        EXPECT_EQ(file.content, part);
    }
    LogCapture log;
    for (auto [failAt, name, shown] : {std::tuple{3, "out.jpg", L"out.jpg"}, {1, "\xff.png", L"\ufffd.png"}}) {
        log.clear();
        RecordingFile file(failAt);
        EXPECT_FALSE(appendEncoded(encoded, name, file));
        EXPECT_EQ(file.closes, 1);
        EXPECT_EQ(file.content, Bytes(encoded.begin(), encoded.begin() + (failAt - 1) * 4096));
        EXPECT_EQ(log.lines(), std::vector<std::wstring>{L"[TRXImage] Fail to write image to file: Error: No space "
                                                         L"left on device (disk.img), file type: " +
                                                         std::wstring(shown) + L", buffer size: 10000l\n"});
    }
    RecordingFile other(0);
    EXPECT_THROW(appendEncoded(encoded, "x.png", other), std::runtime_error);
}

// Nothing reaches a target without a writer or proxy support (no line), or for an empty
// image or one whose strips do not hold every line (the line on every target, no file).
TEST(Targets, FailuresReachNoTarget)
{
    TempDir dir;
    LogCapture log;
    const std::string cannot = "[TRXImage] Cannot write a 4 x 6 image: the ";
    std::vector<std::pair<TarvexImage, std::string>> images(4);
    for (int i = 0; i < 3; ++i)
        images[i].first = makeImage(i == 2, i == 2, 4, 6, smooth, 3);
    TarvexImageAccess::impl(images[1].first).colourStrips[1].ReSize(4 * 3 * 3 - 1);
    TarvexImageAccess::impl(images[2].first).alphaStrips.pop_back();
    images[1].second = cannot + "colour strips do not hold every line\n";
    images[2].second = cannot + "alpha strips do not hold every line\n";
    images[3].second = "[TRXImage] OpenImageIO for RGB fails to open, columns: 0, rows: 0, channels: 3\n";
    // Formats with no writer, with one that takes no proxy (SGI) and with one that does.
    for (const std::string ext : {"nosuchformat", "psd", "sgi", "ico", "hdr", "heif", "png", "jpg", "tif", "gif"}) {
        for (const auto& [image, line] : images) {
            const std::string name = "x." + ext;
            const auto output = OIIO::ImageOutput::create(name);
            const bool memory = output && output->supports("ioproxy"), damaged = !line.empty();
            if (damaged ? !output : memory)
                continue;
            SCOPED_TRACE(name + " " + line);
            CBufferStream stream;
            CAutoBuffer buffer;
            RecordingFile file;
            stream.Write("abc", 3, nullptr);
            log.clear();
            EXPECT_FALSE(image.write(name, 90, &stream) || image.write(name, 90, &buffer) ||
                         image.write(name, 90, &file) || image.write(name, &stream, trx::WriteOptions()) ||
                         (damaged && image.write(dir.file(name))));
            EXPECT_TRUE(bytesOf(stream) == Bytes({'a', 'b', 'c'}) && !fs::exists(dir.file(name)));
            EXPECT_EQ(buffer.GetDataSize() + file.calls + file.closes, 0u);
            EXPECT_EQ(log.utf8(), std::vector<std::string>(!damaged ? 0 : memory ? 5 : 1, line));
        }
    }
    log.clear();
    EXPECT_FALSE(images[0].first.write("x.png", -1, static_cast<CAutoBuffer*>(nullptr)) ||
                 images[0].first.write("x.png", static_cast<CFile*>(nullptr), trx::WriteOptions()));
    EXPECT_EQ(log.utf8(), std::vector<std::string>(2, "[TRXImage] No target to write image to: x.png\n"));
}

// Every path overload, a CBufferStream (twice: the second file follows the first), a
// CAutoBuffer named by the bare format and a CFile get the same bytes. A failure gives
// the described line and the reason and leaves what was there, unless the whole new file
// replaces it; libjpeg's refusal too, without ending the process.
TEST(Targets, PathOverloadsAndFailures)
{
    TempDir dir;
    LogCapture log;
    TarvexImage image = makeImage(false, false, 3, 3, smooth), wide = makeImage(false, false, 70000, 1, smooth);
    ASSERT_TRUE(image.write(dir.file("n\xC3\xA4me.png")));
    const std::wstring folder(dir.path().begin(), dir.path().end());  // test folders are ASCII
    ASSERT_TRUE(image.write(dir.file("c.png").c_str()) && image.write(folder + L"/w\u00e4\u6f22.png") &&
                image.write((folder + L"/p.png").c_str()));
    CBufferStream stream, ppm;
    CAutoBuffer buffer;
    CFile target;
    ASSERT_TRUE(target.Open(dir.file("cfile").c_str(), CFile::modeCreate | CFile::modeWrite));
    ASSERT_TRUE(image.write("x.png", -1, &stream) && image.write("x.png", &stream, {}) &&
                image.write("png", -1, &buffer) && image.write("x.png", &target, {}));
    target.Close();
    const Bytes file = readFile(dir.file("n\xC3\xA4me.png"));
    for (const char* name : {"c.png", "w\xC3\xA4\xE6\xBC\xA2.png", "p.png", "cfile"})
        EXPECT_EQ(readFile(dir.file(name)), file) << name;
    Bytes twice = file;
    twice.insert(twice.end(), file.begin(), file.end());
    std::uint32_t held = 0;
    const char* bytes = buffer.ReadData(held, 0);
    EXPECT_TRUE(Bytes(bytes, bytes + held) == file && bytesOf(stream) == twice);
    writeFile(dir.file("plain"), {1, 2, 3});
    fs::create_directory(dir.file("folder.png"));
    const char* const failures[][3] = {
        {"missing/image.png", "3, rows: 3", "No such file or directory"},
        {"plain/image.sgi", "3, rows: 3", "Not a directory"},
        {"folder.png", "3, rows: 3", "Is a directory"},
        {"wide.jpg", "70000, rows: 1", "JPEG error: Maximum supported image dimension is 65500 pixels"},
        {"image.nosuchformat", "", "OpenImageIO could not find a format writer for"}};
    for (const auto& [path, first, because] : failures) {
        log.clear();
        EXPECT_FALSE((path[0] == 'w' ? wide : image).write(dir.file(path)) || fs::exists(dir.file("wide.jpg")));
        ASSERT_EQ(log.utf8().size(), 2u) << path;
        EXPECT_EQ(log.utf8()[0], *first ? "[TRXImage] OpenImageIO for RGB fails to open, columns: " +
                                              std::string(first) + ", channels: 3\n"
                                        : "[TRXImage] OpenImageIO cannot create for writing: " + dir.file(path) + "\n");
        EXPECT_EQ(log.utf8()[1].rfind("[TRXImage] Reason: " + std::string(because), 0), 0u) << log.utf8()[1];
    }
    // PNM holds no alpha: the writer refuses the image before the old file is touched.
    const Bytes old(10000, 7);
    writeFile(dir.file("kept.ppm"), old);
    EXPECT_FALSE(makeImage(false, true, 3, 3, smooth).write(dir.file("kept.ppm")));
    EXPECT_TRUE(readFile(dir.file("kept.ppm")) == old && readFile(dir.file("plain")) == Bytes({1, 2, 3}));
    ASSERT_TRUE(image.write(dir.file("kept.ppm")) && image.write("kept.ppm", -1, &ppm));
    EXPECT_EQ(readFile(dir.file("kept.ppm")), bytesOf(ppm));
    EXPECT_FALSE(image.write(static_cast<const char*>(nullptr)) || image.write(static_cast<const wchar_t*>(nullptr)));
}

// Every format (SGI has no proxy and goes through a file in memory) fails with one line on
// a full device and beyond a 4 KiB file-size limit, leaving no file behind.
TEST(Targets, FullDisksFailEveryFormatWithALine)
{
    TempDir dir;
    LogCapture log;
    TarvexImage noise = makeImage(true, false, 96, 96,
                                  [](int x, int y, int c) { return (x * x * 7 + y * y * 13 + c * x * y * 5) % 251; });
    rlimit unlimited;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
    const rlimit limit{4096, unlimited.rlim_max};
    for (const std::string reason : {"No space left on device", "File too large"}) {
        const bool full = reason[0] == 'N';
        if (!full)
            setrlimit(RLIMIT_FSIZE, &limit);
        for (const std::string ext : {"png", "jpg", "tif", "bmp", "tga", "ppm", "gif", "webp", "exr", "sgi"}) {
            const std::string path = dir.file((full ? "full." : "big.") + ext);
            if (full)
                fs::create_symlink("/dev/full", path);
            log.clear();
            EXPECT_FALSE(noise.write(path) || (!full && fs::exists(path))) << path;
            EXPECT_EQ(log.utf8().size(), 1u) << path;
            EXPECT_EQ(log.utf8().at(0).rfind("[TRXImage] Fail to write image to file: Error: " + reason, 0), 0u);
        }
    }
    setrlimit(RLIMIT_FSIZE, &unlimited);
}

// Every one-bit change of an ICC profile's header and tag table either comes back from
// the PNG or fails the write with a line and no file, before libpng would end the process.
TEST(Targets, ProfilesThatPngRefusesFailWithALine)
{
    TempDir dir;
    LogCapture log;
    TarvexImage image = makeImage(false, true, 5, 4, smooth);
    for (std::size_t at = 0; at < 2 * 156; ++at) {
        SCOPED_TRACE(at);
        Bytes changed = rgbProfile();
        changed[at / 2] ^= at % 2 ? 0x80 : 0x01;
        Blob blob;
        blob.update(changed.data(), static_cast<int>(changed.size()));
        log.clear();
        const bool written = image.write(dir.file("p.png"), trx::WriteOptions().iccProfile(blob));
        EXPECT_EQ(written ? decodeFile(dir.file("p.png")).icc : changed, changed);
        EXPECT_EQ(log.utf8().size(), written ? 0u : 1u);
        EXPECT_TRUE(written || log.utf8()[0].rfind("[TRXImage] Cannot write a 5 x 4 image: ", 0) == 0);
        EXPECT_EQ(fs::remove(dir.file("p.png")), written);
    }
    Bytes v4 = rgbProfile();  // version 4 asks for a length in whole words, which it has
    v4[8] = 4;
    Blob blob;
    blob.update(v4.data(), static_cast<int>(v4.size()));
    EXPECT_TRUE(image.write(dir.file("p.png"), trx::WriteOptions().iccProfile(blob)));
}

}  // namespace
