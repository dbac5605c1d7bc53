#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <sys/resource.h>
#include <unistd.h>

#include "support/ReadFiles.h"
#include "support/TestSupport.h"

using namespace trxtest;

// Some damaged files make OpenImageIO itself abort or hang, so every open of a
// hostile file runs in a child process; the child exits 0 when the library behaved.

namespace {

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

bool startsWith(const std::wstring& text, const std::wstring& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// A refusal says why: one line of ours, and at most one more with OpenImageIO's reason.
bool refusalLines(const std::vector<std::wstring>& lines)
{
    return (lines.size() == 1 || lines.size() == 2) && startsWith(lines[0], L"[TRXImage] ") &&
           (lines.size() == 1 || startsWith(lines[1], L"[TRXImage] "));
}

// Opens every cut of `whole` (every length up to `dense`, then `samples` more spread
// over the rest) and checks that each open either succeeds or fails with the library's
// lines. Exits the child with 0 when all did. `exitChecks` false
// skips the exit-time checks (the leak sanitizer's among them).
[[noreturn]] void openEveryCut(const std::string& extension, const Bytes& whole, std::size_t dense, std::size_t samples,
                               bool exitChecks = true)
{
    TempDir dir;
    LogCapture log;
    std::vector<std::size_t> cuts;
    for (std::size_t n = 0; n < std::min(dense, whole.size()); ++n)
        cuts.push_back(n);
    for (std::size_t i = 0; i < samples; ++i)
        cuts.push_back(dense + (whole.size() - dense) * i / samples);
    int bad = 0;
    for (std::size_t n : cuts) {
        const std::string path = dir.file("cut" + std::to_string(n) + extension);
        writeFile(path, Bytes(whole.begin(), whole.begin() + static_cast<long>(n)));
        log.clear();
        TarvexImage image;
        const bool opened = image.open(path);
        const auto& lines = log.lines();
        const bool described =
            refusalLines(lines) && (lines[0] == L"[TRXImage] OpenImageIO cannot open " + wide(path) + L"\n" ||
                                    startsWith(lines[0], L"[TRXImage] OpenImageIO fails to read_scanline, line "));
        if (opened ? !lines.empty() : !described) {
            std::fprintf(stderr, "cut %zu of %zu: opened %d, %zu lines\n", n, whole.size(), opened, lines.size());
            ++bad;
        }
    }
    if (!exitChecks)
        std::_Exit(bad == 0 ? 0 : 1);
    std::exit(bad == 0 ? 0 : 1);
}

Bytes madeByOpenImageIO(const std::string& extension, int channels)
{
    TempDir dir;
    const std::string path = dir.file("whole" + extension);
    if (!writeImage(path, OIIO::ImageSpec(40, 30, channels, OIIO::TypeUInt8)))
        return {};
    return readFile(path);
}

Bytes patternSamples(int width, int height, int channels)
{
    Bytes samples;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                samples.push_back(patternSample(x, y, c));
    return samples;
}

class HostileFile : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

}  // namespace

TEST_F(HostileFile, EveryCutOfAPngFailsWithItsLine)
{
    const Bytes png = madeByOpenImageIO(".png", 4);
    ASSERT_FALSE(png.empty());
    // OpenImageIO 2.4's PNG reader leaks a few strings when libpng jumps out of a cut
    // file (measured with OpenImageIO alone); that is not ours to report.
    EXPECT_EXIT(openEveryCut(".png", png, 120, 60, false), ::testing::ExitedWithCode(0), "");
}

TEST_F(HostileFile, EveryCutOfAJpegFailsWithItsLine)
{
    const Bytes jpeg = madeByOpenImageIO(".jpg", 3);
    ASSERT_FALSE(jpeg.empty());
    EXPECT_EXIT(openEveryCut(".jpg", jpeg, 200, 60), ::testing::ExitedWithCode(0), "");
}

TEST_F(HostileFile, EveryCutOfATiffFailsWithItsLine)
{
    const Bytes tiff = madeByOpenImageIO(".tif", 3);
    ASSERT_FALSE(tiff.empty());
    EXPECT_EXIT(openEveryCut(".tif", tiff, 64, 60), ::testing::ExitedWithCode(0), "");
    const Bytes early = tiffFile(40, 30, 4, patternSamples(40, 30, 4), 3);
    EXPECT_EXIT(openEveryCut(".tif", early, 200, 60), ::testing::ExitedWithCode(0), "");
    // Tiles of 16-bit samples, converted from a buffer of our own.
    TempDir dir;
    OIIO::ImageSpec spec(40, 30, 3, OIIO::TypeUInt16);
    spec.tile_width = spec.tile_height = 16;
    ASSERT_TRUE(writeImage(dir.file("tiled.tif"), spec));
    EXPECT_EXIT(openEveryCut(".tif", readFile(dir.file("tiled.tif")), 64, 80), ::testing::ExitedWithCode(0), "");
}

TEST_F(HostileFile, EveryCutOfAPsdFailsWithItsLine)
{
    std::vector<Bytes> planes(4, Bytes(40 * 30, 0x80));
    const Bytes psd = psdFile(40, 30, 3, planes);
    EXPECT_EXIT(openEveryCut(".psd", psd, 120, 40), ::testing::ExitedWithCode(0), "");
}

TEST_F(HostileFile, EveryCutOfAGifAndABmpFailsWithItsLine)
{
    const Bytes gif = madeByOpenImageIO(".gif", 3);
    if (!gif.empty()) {
        EXPECT_EXIT(openEveryCut(".gif", gif, 120, 40), ::testing::ExitedWithCode(0), "");
    }
    const Bytes bmp = madeByOpenImageIO(".bmp", 3);
    ASSERT_FALSE(bmp.empty());
    EXPECT_EXIT(openEveryCut(".bmp", bmp, 80, 40), ::testing::ExitedWithCode(0), "");
}

TEST_F(HostileFile, CutTiffNamesTheFirstMissingLineAndKeepsTheLinesBefore)
{
    const auto run = [] {
        TempDir dir;
        LogCapture log;
        const int w = 50, h = 20, kept = 13;
        // Strips of one line: cutting inside line 13 leaves lines 0 to 12 whole.
        Bytes samples = patternSamples(w, h, 3);
        samples.resize(static_cast<std::size_t>(kept * w * 3 + 10));
        const std::string path = dir.file("cut.tif");
        writeFile(path, tiffFile(w, h, 3, samples, 1));
        TarvexImage image;
        // A call of several lines leaves the damage in the error state only; single
        // lines fail from line 13 on, with libtiff's words.
        bool ok = !image.open(path) && log.lines().size() == 2 &&
                  log.lines()[0] ==
                      L"[TRXImage] OpenImageIO fails to read_scanline, line 13 out of 20 rows for 3 channels\n" &&
                  log.lines()[1].find(L"scanline 13") != std::wstring::npos && !image.hasValidData();
        const Bytes expected = patternSamples(w, h, 3);
        for (int y = 0; y < kept; ++y) {
            const Bytes line = lineBytes(image, y);
            ok = ok && line == Bytes(expected.begin() + y * w * 3, expected.begin() + (y + 1) * w * 3);
        }
        std::exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

TEST_F(HostileFile, AbsurdDimensionsAreRefusedBeforeAllocating)
{
    const auto run = [](std::uint32_t width, std::uint32_t height, const std::wstring& reason) {
        // OpenImageIO refuses images above 32 GiB itself; lift that so that the
        // library's own limits are the ones met.
        OIIO::attribute("limits:imagesize_MB", 1 << 30);
        TempDir dir;
        LogCapture log;
        const std::string path = dir.file("huge.tif");
        writeFile(path, tiffFile(width, height, 3, patternSamples(8, 8, 3), height));
        TarvexImage image;
        const bool opened = image.open(path);
        const std::wstring expected = L"[TRXImage] OpenImageIO file " + wide(path) + L" of " + std::to_wstring(width) +
                                      L" x " + std::to_wstring(height) + L" pixels cannot be read: " + reason + L"\n";
        const bool ok = !opened && log.lines().size() == 1 && log.lines()[0] == expected && image.stripCount() == 0;
        if (!ok && !log.lines().empty())
            std::fprintf(stderr, "%s\n", log.utf8()[0].c_str());
        std::exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(run(1000000, 1000000, L"more memory than this machine has"), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(run(715827883, 1, L"a line longer than 2147483647 bytes"), ::testing::ExitedWithCode(0), "");
}

#ifndef __SANITIZE_ADDRESS__
TEST_F(HostileFile, StripsThatCannotBeMappedFailTheOpenWithItsLine)
{
    const auto run = [] {
        TempDir dir;
        LogCapture log;
        const std::string path = dir.file("big.tif");
        writeFile(path, tiffFile(6000, 3000, 3, patternSamples(8, 8, 3), 3000));
        {
            // Open once so that OpenImageIO's own first-use allocations are made.
            TarvexImage warm;
            warm.open(dir.file("missing.tif"));
        }
        log.clear();
        long pages = 0;
        if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(statm);
        }
        // Room for a little more than one 18 MB strip of the three.
        const rlim_t room = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (24u << 20);
        const rlimit limit{room, room};
        if (pages == 0 || setrlimit(RLIMIT_AS, &limit) != 0)
            std::exit(2);
        TarvexImage image;
        const bool opened = image.open(path);
        const std::wstring expected =
            L"[TRXImage] OpenImageIO file " + wide(path) + L": the strips of 6000 x 3000 pixels cannot be allocated\n";
        const bool ok = !opened && log.lines().size() == 1 && log.lines()[0] == expected;
        if (!ok)
            for (const auto& text : log.utf8())
                std::fprintf(stderr, "%s", text.c_str());
        std::exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}
#endif

namespace {

std::uint32_t crc32(const unsigned char* data, std::size_t size)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

void putBig32(Bytes& out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(v >> shift));
}

void putLittle(Bytes& out, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void pngChunk(Bytes& out, const char* type, const Bytes& data)
{
    putBig32(out, static_cast<std::uint32_t>(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    putBig32(out, crc32(body.data(), body.size()));
}

// A PNG whose header claims `width` x `height` RGB pixels over a few bytes of data.
Bytes pngHeaderOnly(std::uint32_t width, std::uint32_t height)
{
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    putBig32(header, width);
    putBig32(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});
    pngChunk(png, "IHDR", header);
    pngChunk(png, "IDAT", {0x78, 0x9C, 0x63, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01});
    pngChunk(png, "IEND", {});
    return png;
}

// A 24-bit BMP whose header claims `width` x `height` pixels over 64 bytes of data.
Bytes bmpHeaderOnly(std::uint32_t width, std::uint32_t height)
{
    Bytes bmp{'B', 'M'};
    putLittle(bmp, 54 + 64, 4);
    putLittle(bmp, 0, 4);
    putLittle(bmp, 54, 4);
    putLittle(bmp, 40, 4);
    putLittle(bmp, width, 4);
    putLittle(bmp, height, 4);
    putLittle(bmp, 1, 2);
    putLittle(bmp, 24, 2);
    putLittle(bmp, 0, 4);  // no compression
    putLittle(bmp, 0, 4);
    putLittle(bmp, 2835, 4);
    putLittle(bmp, 2835, 4);
    putLittle(bmp, 0, 4);
    putLittle(bmp, 0, 4);
    bmp.insert(bmp.end(), 64, 0x5A);
    return bmp;
}

// Opens `file` in a child and exits 0 when the open fails with the library's lines and
// no strip was laid out.
[[noreturn]] void refusedWithOneLine(const std::string& extension, const Bytes& file)
{
    OIIO::attribute("limits:imagesize_MB", 1 << 30);
    TempDir dir;
    LogCapture log;
    const std::string path = dir.file("hostile" + extension);
    writeFile(path, file);
    TarvexImage image;
    const bool opened = image.open(path);
    const bool ok = !opened && refusalLines(log.lines()) && image.stripCount() == 0;
    for (const auto& text : log.utf8())
        std::fprintf(stderr, "%s", text.c_str());
    std::_Exit(ok ? 0 : 1);
}

// Opens every one-byte change of `whole` at `positions` (each byte inverted) and exits
// 0 when every open either succeeds silently or fails with its lines.
[[noreturn]] void openEveryFlip(const std::string& extension, const Bytes& whole, std::size_t positions)
{
    TempDir dir;
    LogCapture log;
    int bad = 0;
    for (std::size_t i = 0; i < positions; ++i) {
        const std::size_t at = i * whole.size() / positions;
        Bytes changed = whole;
        changed[at] ^= 0xFF;
        const std::string path = dir.file("flip" + std::to_string(at) + extension);
        writeFile(path, changed);
        log.clear();
        TarvexImage image;
        const bool opened = image.open(path);
        const bool described = refusalLines(log.lines());
        if (opened ? !log.lines().empty() : !described) {
            std::fprintf(stderr, "flip at %zu of %zu: opened %d, %zu lines\n", at, whole.size(), opened,
                         log.lines().size());
            ++bad;
        }
        std::remove(path.c_str());
    }
    // OpenImageIO's PNG reader leaks on some damaged files; skip the exit-time checks.
    std::_Exit(bad == 0 ? 0 : 1);
}

}  // namespace

// A header claiming 100000 x 100000 pixels over a few bytes is refused before any
// strip exists, whichever of OpenImageIO and the library says no.
TEST_F(HostileFile, HeadersFarBeyondTheirDataAreRefusedBeforeAnyStrip)
{
    EXPECT_EXIT(refusedWithOneLine(".png", pngHeaderOnly(100000, 100000)), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(refusedWithOneLine(".bmp", bmpHeaderOnly(100000, 100000)), ::testing::ExitedWithCode(0), "");
    std::vector<Bytes> planes(3, Bytes(64, 0x33));
    EXPECT_EXIT(refusedWithOneLine(".psd", psdFile(100000, 100000, 3, planes)), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(refusedWithOneLine(".tif", tiffFile(100000, 100000, 3, patternSamples(8, 8, 3), 1)),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(HostileFile, FlippedBytesOpenOrFailWithTheirLines)
{
    for (const char* extension : {".png", ".jpg", ".tif", ".bmp"}) {
        const Bytes file = madeByOpenImageIO(extension, 3);
        ASSERT_FALSE(file.empty()) << extension;
        EXPECT_EXIT(openEveryFlip(extension, file, 150), ::testing::ExitedWithCode(0), "") << extension;
    }
    std::vector<Bytes> planes(3, Bytes(40 * 30, 0x80));
    EXPECT_EXIT(openEveryFlip(".psd", psdFile(40, 30, 3, planes), 150), ::testing::ExitedWithCode(0), "");
}

// CMYK and YCCK files go to the library's own reader.
TEST_F(HostileFile, EveryCutAndFlipOfACmykJpegOpensOrFailsWithOneLine)
{
    const JpegRecipe baseline{JpegColour::AdobeCmyk, 40, 30};
    const JpegRecipe progressive{JpegColour::Ycck, 40, 30, 1, 300, 300, {}, {}, 2, true};
    for (const JpegRecipe& recipe : {baseline, progressive}) {
        const Bytes jpeg = libjpegFile(recipe);
        EXPECT_EXIT(openEveryCut(".jpg", jpeg, 200, 60), ::testing::ExitedWithCode(0), "");
        EXPECT_EXIT(openEveryFlip(".jpg", jpeg, 150), ::testing::ExitedWithCode(0), "");
    }
}

// Regression: a flipped colour mode byte (3 to 0xFC) crashed OpenImageIO's PSD reader.
TEST_F(HostileFile, PsdOfUnknownColourModeIsRefused)
{
    std::vector<Bytes> planes(3, Bytes(6 * 4, 0x80));
    Bytes psd = psdFile(6, 4, 3, planes);
    psd[25] = 0xFC;
    EXPECT_EXIT(refusedWithOneLine(".psd", psd), ::testing::ExitedWithCode(0), "");
}

// Regression (fuzz): a 142-byte PSD claiming 1 GiB of colour mode data made
// OpenImageIO allocate and clear all of it.
TEST_F(HostileFile, PsdColourModeDataBeyondTheFileIsRefused)
{
    std::vector<Bytes> planes(3, Bytes(6 * 4, 0x80));
    for (std::uint32_t claimed : {0x40000000u, 0xFFFFFFFFu, 200u}) {
        Bytes psd = psdFile(6, 4, 3, planes);
        for (int i = 0; i < 4; ++i)
            psd[26 + i] = static_cast<unsigned char>(claimed >> (24 - 8 * i));
        const auto run = [&psd] {
#ifndef __SANITIZE_ADDRESS__
            // 512 MiB more address space than now: the claimed block cannot be had.
            long pages = 0;
            if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
                if (std::fscanf(statm, "%ld", &pages) != 1)
                    pages = 0;
                std::fclose(statm);
            }
            const rlim_t room = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (512u << 20);
            const rlimit limit{room, room};
            if (pages == 0 || setrlimit(RLIMIT_AS, &limit) != 0)
                std::_Exit(2);
#endif
            refusedWithOneLine(".dat", psd);
        };
        EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "") << claimed;
    }
}

// Regression (fuzz input, replayed as found): a 141-byte PSD of an unknown mode
// claiming 1.3 GB of colour mode data.
TEST_F(HostileFile, FuzzFoundPsdIsRefused)
{
    const Bytes psd{
        0x38, 0x42, 0x50, 0x53, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04,
        0x00, 0x00, 0x00, 0x06, 0x00, 0x08, 0x00, 0x4D, 0x4D, 0x4D, 0x4D, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x05, 0x0C, 0x13, 0x1A, 0x21, 0x28, 0x12, 0x19, 0x20,
        0x27, 0x2E, 0x35, 0x1F, 0x26, 0x2D, 0x34, 0x3B, 0x42, 0x2C, 0x33, 0x3A, 0x41, 0x42, 0x48, 0x4F, 0x49, 0x50,
        0x57, 0x5E, 0x65, 0x4F, 0x56, 0x5D, 0x64, 0x6B, 0x72, 0x5C, 0x63, 0x6A, 0x71, 0x78, 0x7F, 0x69, 0x70, 0x77,
        0x7E, 0x85, 0x8C, 0x7F, 0x86, 0x8D, 0x94, 0x9B, 0xA2, 0x8C, 0x93, 0x9A, 0xA1, 0xA8, 0xAF, 0x99, 0xA0, 0xA7,
        0xAE, 0xB5, 0xBC, 0xA6, 0xAD, 0xB4, 0xBB, 0xC2, 0xC9, 0xBC, 0xC3, 0xCA, 0xD1, 0xD8, 0xDF, 0xC9, 0xD0, 0xD7,
        0xFE, 0xE5, 0xEC, 0xD6, 0xDD, 0xE4, 0xEB, 0xF2, 0xF9, 0xE3, 0xEA, 0xF1, 0xF8, 0xFF, 0x06,
    };
    EXPECT_EXIT(refusedWithOneLine(".psd", psd), ::testing::ExitedWithCode(0), "");
}

// Regression (fuzz): OpenImageIO's BMP reader crashed on run-length compression claimed
// for more than 8 bits per pixel.
TEST_F(HostileFile, BmpRunLengthBeyondEightBitsIsRefused)
{
    for (unsigned char bits : {16, 24, 32}) {
        for (unsigned char compression : {1, 2}) {
            Bytes bmp = bmpHeaderOnly(7, 5);
            bmp[28] = bits;
            bmp[30] = compression;
            EXPECT_EXIT(refusedWithOneLine(".bmp", bmp), ::testing::ExitedWithCode(0), "")
                << int(bits) << " bits, compression " << int(compression);
        }
    }
    const Bytes found{
        0x42, 0x4D, 0xC2, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
        0x07, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x01, 0x00, 0x20, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x01, 0xFE, 0xC8, 0x8B, 0x4E, 0x05, 0x50, 0xCF, 0x92, 0x00, 0xFF, 0x32, 0xFF, 0xE1, 0x00, 0x4A, 0x45,
        0x78, 0x69, 0x55, 0x0C, 0xD6, 0x99, 0x5C, 0x13, 0xDD, 0x00, 0x00, 0x00, 0x01, 0x00, 0x2C, 0x00, 0x00, 0x01,
        0x00, 0x00, 0x96, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x80, 0xFF, 0xED, 0x00, 0x40, 0x50, 0x68, 0x6F, 0x74,
        0x6F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x2E, 0x6A, 0x70, 0x67, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04,
        0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0xD0, 0xD0, 0xD0, 0x04, 0x04, 0x04, 0x04,
        0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0xFF, 0xC0, 0x00, 0x9A, 0x5D, 0x20, 0xD7, 0xA1, 0x64, 0x27, 0xA8,
        0x6B, 0x2E, 0xE5, 0xAF, 0x72, 0x37, 0xEC, 0xB6, 0x79, 0x3C, 0xF3, 0x7F, 0x42, 0x05, 0xBC, 0x2E, 0x39, 0x03,
        0x00, 0x60, 0x60, 0x00, 0x00, 0x86, 0x49, 0x0C, 0xC3, 0x8D, 0x50, 0x13, 0xCA, 0x94, 0x57, 0x1A, 0xD1, 0x9B,
        0x5E, 0x21, 0xD8, 0x66, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x83, 0x83, 0x83, 0x83, 0x83, 0x83, 0x83, 0x83,
        0x83, 0x83, 0x83, 0x83, 0x83, 0x83, 0x11, 0x08, 0x8A, 0x04, 0x40, 0x09, 0x03, 0x01, 0x22, 0x00, 0x02, 0x83,
        0x83, 0x83, 0x83, 0x83, 0x83, 0x83, 0x11, 0x01,
    };
    EXPECT_EXIT(refusedWithOneLine(".bmp", found), ::testing::ExitedWithCode(0), "");
}

namespace {

bool spySawAFile = false;

// A reader of a format of its own that notes every file it is asked to open.
class SpyInput final : public OIIO::ImageInput {
public:
    const char* format_name() const override { return "trxspy"; }
    bool open(const std::string&, OIIO::ImageSpec&) override
    {
        spySawAFile = true;
        return false;
    }
    bool close() override { return true; }
    bool read_native_scanline(int, int, int, int, void*) override { return false; }
};

OIIO::ImageInput* makeSpy() { return new SpyInput; }

}  // namespace

// OpenImageIO's own fallback shows a refused file to every reader it has, and some
// abort on foreign bytes (a damaged PSD in the RLA reader). Refused files, named
// rightly or not, reach only the readers that their name and first bytes name.
TEST_F(HostileFile, RefusedFilesReachNoUnrelatedReader)
{
    const auto run = [] {
        const char* extensions[] = {"trxspy", nullptr};
        OIIO::declare_imageio_format("trxspy", makeSpy, extensions, nullptr, nullptr, "1");
        TempDir dir;
        LogCapture log;
        std::vector<Bytes> planes(3, Bytes(6 * 4, 0x80));
        Bytes psd = psdFile(6, 4, 3, planes);
        psd[5] = 7;  // a version no PSD has
        const struct {
            const char* name;
            Bytes bytes;
        } files[] = {{"damaged.bin", psd}, {"damaged.psd", psd}, {"damaged.jpg", psd}, {"text.png", {'h', 'i'}}};
        bool ok = true;
        for (const auto& file : files) {
            const std::string path = dir.file(file.name);
            writeFile(path, file.bytes);
            log.clear();
            TarvexImage image;
            if (image.open(path) || !refusalLines(log.lines()) || spySawAFile) {
                std::fprintf(stderr, "%s: %zu lines, spy %d\n", file.name, log.lines().size(), spySawAFile);
                ok = false;
            }
        }
        std::_Exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}
