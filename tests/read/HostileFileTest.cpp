#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "support/ReadFiles.h"
#include "support/TestSupport.h"

using namespace trxtest;

// Some damaged files make OpenImageIO itself abort or hang, so hostile files are opened
// in a child process, many per child; a crash shows the name of its file last.

namespace {

bool spySawAFile = false;

// A reader of a format of its own that notes every file it is asked to open.
class SpyInput final : public OIIO::ImageInput {
public:
    const char* format_name() const override { return "trxspy"; }
    bool open(const std::string&, OIIO::ImageSpec&) override { return !(spySawAFile = true); }
    bool close() override { return true; }
    bool read_native_scanline(int, int, int, int, void*) override { return false; }
};

struct Hostile {
    std::string name;  // its extension picks the first reader
    Bytes bytes;
    int lines = 0;              // 0: opens silently or fails with its lines; -1: refused before any strip; else
                                // refused before any strip with exactly these lines
    const wchar_t* says = L"";  // in the first line
};

// Opens every file and exits 0 when each behaved; `exitChecks` false skips the checks
// at exit (the leak sanitizer's among them).
// OpenImageIO's own fallback shows a refused file to every reader it has, and some
// abort on foreign bytes (a damaged PSD in the RLA reader): a file must reach only the
// readers that its name and first bytes name, never the spy.
[[noreturn]] void openAll(const std::vector<Hostile>& files, bool exitChecks, bool spy = false)
{
    const char* extensions[] = {"trxspy", nullptr};
    if (spy)
        OIIO::declare_imageio_format(
            "trxspy", [] { return static_cast<OIIO::ImageInput*>(new SpyInput); }, extensions, nullptr, nullptr, "1");
    // OpenImageIO refuses images above 32 GiB itself; lift that so that the library's
    // own limits are the ones met.
    OIIO::attribute("limits:imagesize_MB", 1 << 30);
    TempDir dir;
    LogCapture log;
    int bad = 0;
    for (const Hostile& file : files) {
        std::fprintf(stderr, "%s\n", file.name.c_str());  // a crash shows on which file
        const std::string path = dir.file(file.name);
        writeFile(path, file.bytes);
        log.clear();
        TarvexImage image;
        const bool opened = image.open(path);
        const auto& lines = log.lines();
        const bool described = (lines.size() == 1 || lines.size() == 2) &&
                               std::all_of(lines.begin(), lines.end(),
                                           [](const std::wstring& line) { return line.rfind(L"[TRXImage] ", 0) == 0; });
        const bool early = described && image.stripCount() == 0 && lines[0].find(file.says) != std::wstring::npos;
        const bool late = described && lines[0].find(L"OpenImageIO fails to read_scanline, line ") == 11;
        const bool ok = opened            ? lines.empty() && file.lines == 0
                        : file.lines == 0 ? early || late
                                          : early && (file.lines < 0 || lines.size() == std::size_t(file.lines));
        if (!ok || spySawAFile)
            std::fprintf(stderr, "FAILED: opened %d, %zu lines (%s), spy %d\n", opened, lines.size(),
                         lines.empty() ? "" : log.utf8()[0].c_str(), spySawAFile),
                ++bad;
        std::remove(path.c_str());
    }
    if (exitChecks)
        std::exit(bad == 0 ? 0 : 1);
    std::_Exit(bad == 0 ? 0 : 1);
}

// Every cut of `whole` (the first `dense` lengths, then 24 more spread over the rest)
// and 40 files of one byte inverted, spread over it.
void addDamaged(std::vector<Hostile>& out, const std::string& name, const Bytes& whole, std::size_t dense)
{
    const std::size_t spread = 24, flips = 40;
    for (std::size_t i = 0; i < dense + spread; ++i) {
        const std::size_t n = i < dense ? i : dense + (whole.size() - dense) * (i - dense) / spread;
        out.push_back({"cut" + std::to_string(n) + "-" + name, Bytes(whole.begin(), whole.begin() + long(n))});
    }
    for (std::size_t i = 0; i < flips; ++i) {
        Hostile flipped{"flip" + std::to_string(i * whole.size() / flips) + "-" + name, whole};
        flipped.bytes[i * whole.size() / flips] ^= 0xFF;
        out.push_back(flipped);
    }
}

}  // namespace

TEST(HostileFile, EveryCutAndFlipOpensOrFailsWithItsLines)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const OIIO::ImageSpec spec(24, 16, 3, OIIO::TypeUInt8), rgba(24, 16, 4, OIIO::TypeUInt8);
    OIIO::ImageSpec tiled(40, 30, 3, OIIO::TypeUInt16);
    tiled.tile_width = tiled.tile_height = 16;
    std::vector<Hostile> leaky, files;
    // OpenImageIO 2.4's PNG reader leaks a few strings when libpng jumps out of a damaged
    // file (measured with OpenImageIO alone); that is not ours to report.
    addDamaged(leaky, "a.png", writtenBytes("a.png", rgba), 100);
    addDamaged(files, "a.jpg", writtenBytes("a.jpg", spec), 160);
    addDamaged(files, "a.tif", writtenBytes("a.tif", spec), 64);
    // Directory first, strips of 3 lines: cuts fall into the pixels.
    addDamaged(files, "early.tif", tiffFile(24, 16, 4, patternSamples(24, 16, 0, 4), 3), 200);
    addDamaged(files, "tiled.tif", writtenBytes("a.tif", tiled), 64);
    addDamaged(files, "a.psd", psdFile(24, 16, 3, std::vector<Bytes>(4, Bytes(24 * 16, 0x80))), 120);
    addDamaged(files, "a.gif", writtenBytes("a.gif", spec), 100);
    addDamaged(files, "a.bmp", writtenBytes("a.bmp", spec), 80);
    // Four-component files go to the library's own reader; its error paths do not
    // depend on the colour transform, and progression with restarts reaches the most.
    addDamaged(files, "ycck.jpg", libjpegFile({JpegColour::Ycck, 24, 16, 1, 300, 300, {}, {}, 2, true}), 200);
    EXPECT_EXIT(openAll(leaky, false), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(openAll(files, true), ::testing::ExitedWithCode(0), "");
}

// Headers that OpenImageIO 2.4 crashes on, or allocates for, are refused before it reads
// them; absurd sizes are refused before any strip exists. Refused files, named rightly
// or not, reach no reader that neither their name nor their first bytes name.
TEST(HostileFile, HeadersBeyondReasonAreRefused)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::vector<Bytes> planes(3, Bytes(6 * 4, 0x80));
    const Bytes psd = psdFile(6, 4, 3, planes);
    const auto patched = [&psd](std::size_t at, std::initializer_list<unsigned char> bytes) {
        Bytes out = psd;
        std::copy(bytes.begin(), bytes.end(), out.begin() + long(at));
        return out;
    };
    std::vector<Hostile> files = {
        {"memory.tif", tiffFile(1000000, 1000000, 3, patternSamples(8, 8, 0, 3), 1000000), 1,
         L"of 1000000 x 1000000 pixels cannot be read: more memory than this machine has"},
        {"line.tif", tiffFile(715827883, 1, 3, patternSamples(8, 8, 0, 3), 1), 1,
         L"of 715827883 x 1 pixels cannot be read: a line longer than 2147483647 bytes"},
        {"huge.bmp", bmpFile(40, 100000, 100000, 24, 0, Bytes(64, 0x5A)), -1},
        {"huge.psd", psdFile(100000, 100000, 3, planes), -1},
        // A flipped colour mode byte (3 to 0xFC) crashed OpenImageIO's PSD reader.
        {"unknown mode.psd", patched(25, {0xFC}), 1},
        // Colour mode data beyond the file: found by fuzzing, 1 GiB allocated and cleared.
        {"mode data 1 GiB.dat", patched(26, {0x40, 0, 0, 0}), 1},
        {"mode data one byte beyond.psd", patched(29, {static_cast<unsigned char>(psd.size() - 29)}), 1},
    };
    // OpenImageIO's BMP reader crashed on run-length compression of more than 8 bits.
    for (int bits : {16, 24, 32})
        for (int compression : {1, 2})
            files.push_back({"rle" + std::to_string(compression) + " of " + std::to_string(bits) + " bits.bmp",
                             bmpFile(40, 7, 5, bits, compression, Bytes(140, 0x83)), 1});
    EXPECT_EXIT(openAll(files, true), ::testing::ExitedWithCode(0), "");
    const std::vector<Hostile> foreign = {
        {"version 7.bin", patched(5, {7}), -1}, {"version 7.jpg", patched(5, {7}), -1}, {"text.png", {'h', 'i'}, -1}};
    EXPECT_EXIT(openAll(foreign, false, true), ::testing::ExitedWithCode(0), "");
}
