#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/TestSupport.h"
#include "support/WriteFiles.h"

namespace {

// Gradients without wrap-around, which JPEG keeps within a few levels.
unsigned smooth(int x, int y, int c) { return (x * 2 + y * 2 + c * 30) & 0xff; }

// TIFF stamps the second it was written: files compared byte for byte carry a fixed one.
const trx::WriteOptions kFixedTime = trx::WriteOptions().attribute("DateTime", "2001:02:03 04:05:06");

struct Case {
    bool cmyk;
    bool alpha;
    const char* extension;
    int channelsBack;  // what the format keeps; 0 when it refuses the layout
    int tolerance;
};

std::string label(const Case& c)
{
    return std::string(c.cmyk ? "CMYK" : "RGB") + (c.alpha ? "A" : "") + "_" + c.extension;
}

class LayoutRoundTrip : public ::testing::TestWithParam<Case> {};

// Reading back keeps the channels the format can hold; lossless formats byte for byte.
TEST_P(LayoutRoundTrip, IndependentReaderSeesThePixels)
{
    const Case& c = GetParam();
    trxtest::TempDir dir;
    trxtest::LogCapture log;
    TarvexImage image = trxtest::makeImage(c.cmyk, c.alpha, 37, 29, smooth, 8);
    const std::string path = dir.file(std::string("image.") + c.extension);
    const bool written = image.write(path);
    if (c.channelsBack == 0) {
        EXPECT_FALSE(written);
        EXPECT_EQ(log.lines().size(), 1u);
        return;
    }
    ASSERT_TRUE(written);
    EXPECT_TRUE(log.lines().empty());
    const trxtest::Decoded back = trxtest::decodeFile(path);
    ASSERT_TRUE(back.ok);
    ASSERT_EQ(back.spec.width, 37);
    ASSERT_EQ(back.spec.height, 29);
    ASSERT_EQ(back.spec.nchannels, c.channelsBack);
    // Formats without CMYK hold it as RGB, alpha kept.
    const bool asRgb = c.cmyk && c.extension != std::string("tif") && c.extension != std::string("jpg");
    const std::vector<unsigned char> expected =
        asRgb ? trxtest::cmykAsRgb(trxtest::expectedPixels(image), c.alpha) : trxtest::expectedPixels(image);
    const int channels = (c.cmyk && !asRgb ? 4 : 3) + (c.alpha ? 1 : 0);
    int worst = 0;
    for (std::size_t p = 0; p < 37u * 29u; ++p)
        for (int ch = 0; ch < c.channelsBack; ++ch)
            worst = std::max(worst, std::abs(back.pixels[p * c.channelsBack + ch] - expected[p * channels + ch]));
    EXPECT_LE(worst, c.tolerance);
    if (c.cmyk && c.extension == std::string("tif")) {
        // Separated, alpha unassociated; the same bytes in memory.
        EXPECT_EQ(back.spec.get_int_attribute("tiff:PhotometricInterpretation"), 5);
        EXPECT_EQ(back.spec.get_int_attribute("oiio:UnassociatedAlpha"), c.alpha ? 1 : 0);
        TarvexImage opened;
        ASSERT_TRUE(opened.open(path));
        EXPECT_EQ(opened.colourSpace(), TarvexImage::colourSpaceCMYK);
        EXPECT_EQ(opened.matte(), c.alpha);
        CBufferStream stream;
        ASSERT_TRUE(image.write(path, kFixedTime));
        ASSERT_TRUE(image.write("x.tif", &stream, kFixedTime));
        EXPECT_EQ(std::vector<unsigned char>(stream.GetBuffer(), stream.GetBuffer() + stream.GetPos()),
                  trxtest::readFile(path));
    }
}

// PNG holds at most four channels and JPEG no alpha; CMYK JPEG, which OpenImageIO reads
// as RGB, is checked against libjpeg in the JPEG codec tests.
INSTANTIATE_TEST_SUITE_P(Formats, LayoutRoundTrip,
                         ::testing::Values(Case{false, false, "png", 3, 0}, Case{false, false, "tif", 3, 0},
                                           Case{false, false, "jpg", 3, 12}, Case{false, true, "png", 4, 0},
                                           Case{false, true, "tif", 4, 0}, Case{false, true, "jpg", 3, 12},
                                           Case{true, false, "tif", 4, 0}, Case{true, true, "tif", 5, 0},
                                           Case{true, false, "png", 3, 0}, Case{true, true, "png", 4, 0},
                                           Case{true, false, "bmp", 3, 0}, Case{true, true, "tga", 4, 0},
                                           Case{true, false, "ppm", 3, 0}, Case{true, false, "webp", 3, 12},
                                           Case{true, false, "exr", 3, 0}, Case{true, true, "sgi", 4, 0}),
                         [](const auto& info) { return label(info.param); });

TEST(RoundTrip, GreyAndBilevelImagesReadBackAsRgb)
{
    trxtest::TempDir dir;
    TarvexImage grey;
    grey.colourSpace(TarvexImage::colourSpaceGrey);
    grey.size(9, 2, 0, 0, nullptr, nullptr);
    TarvexImage bilevel;
    bilevel.colourSpace(TarvexImage::colourSpaceBilevel);
    bilevel.size(9, 2, 0, 0, nullptr, nullptr);
    TarvexImage::LinePointer line;
    for (int y = 0; y < 2; ++y) {
        grey.setupLinePointer(line, y);
        for (int x = 0; x < 9; ++x)
            line.get_pustr()[x] = static_cast<unsigned char>(x * 30 + y);
        bilevel.setupLinePointer(line, y);
        line.get_pustr()[0] = y ? 0x0F : 0xF0;
        line.get_pustr()[1] = 0x80;
    }
    ASSERT_TRUE(grey.write(dir.file("grey.png")));
    ASSERT_TRUE(bilevel.write(dir.file("bilevel.tif")));
    const trxtest::Decoded g = trxtest::decodeFile(dir.file("grey.png"));
    const trxtest::Decoded b = trxtest::decodeFile(dir.file("bilevel.tif"));
    ASSERT_TRUE(g.ok && b.ok);
    ASSERT_EQ(g.spec.nchannels, 3);
    ASSERT_EQ(b.spec.nchannels, 3);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 9; ++x)
            for (int c = 0; c < 3; ++c) {
                const std::size_t at = (y * 9 + x) * 3 + c;
                EXPECT_EQ(g.pixels[at], x * 30 + y);
                const bool set = x == 8 || (y ? x >= 4 : x < 4);
                EXPECT_EQ(b.pixels[at], set ? 255 : 0) << x << "," << y;
            }
}

// Each sweep size sits around the 4 KiB chunk once encoded as an uncompressed format.
TEST(RoundTrip, PathAndEveryMemoryTargetGetTheSameBytes)
{
    trxtest::TempDir dir;
    for (const char* extension : {"png", "tif", "jpg", "bmp"}) {
        for (int columns : {1, 20, 40, 41, 300}) {
            TarvexImage image = trxtest::makeImage(false, columns % 2 == 1, columns, 17, smooth, 5);
            const std::string name = std::string("x.") + extension;
            const std::string path = dir.file(name);
            ASSERT_TRUE(image.write(path, kFixedTime)) << name;
            const std::vector<unsigned char> fromPath = trxtest::readFile(path);
            ASSERT_FALSE(fromPath.empty());

            CBufferStream stream;
            ASSERT_TRUE(image.write(name, &stream, kFixedTime));
            EXPECT_EQ(std::vector<unsigned char>(stream.GetBuffer(), stream.GetBuffer() + stream.GetPos()), fromPath)
                << name << " " << columns;

            CAutoBuffer buffer;
            ASSERT_TRUE(image.write(extension, &buffer, kFixedTime));  // a bare format name works too
            std::uint32_t size = 0;
            const char* bytes = buffer.ReadData(size, 0);
            ASSERT_NE(bytes, nullptr);
            EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + size), fromPath) << name << " " << columns;

            CFile file;
            ASSERT_TRUE(
                file.Open(dir.file("cfile." + std::string(extension)).c_str(), CFile::modeCreate | CFile::modeWrite));
            ASSERT_TRUE(image.write(name, &file, kFixedTime));
            file.Close();
            EXPECT_EQ(trxtest::readFile(dir.file("cfile." + std::string(extension))), fromPath) << name;
        }
    }
}

TEST(RoundTrip, MemoryTargetsAppendAfterWhatTheyHold)
{
    TarvexImage image = trxtest::makeImage(false, false, 9, 9, smooth);
    CBufferStream stream;
    ASSERT_TRUE(image.write("a.png", -1, &stream));
    const std::uint64_t first = stream.GetPos();
    ASSERT_TRUE(image.write("a.png", -1, &stream));
    ASSERT_EQ(stream.GetPos(), 2 * first);
    EXPECT_EQ(std::vector<char>(stream.GetBuffer(), stream.GetBuffer() + first),
              std::vector<char>(stream.GetBuffer() + first, stream.GetBuffer() + 2 * first));
    const trxtest::Decoded back = trxtest::decodeBytes("a.png", stream.GetBuffer() + first, first);
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(back.pixels, trxtest::expectedPixels(image));
}

TEST(RoundTrip, JpegQualityTakesEffect)
{
    TarvexImage image = trxtest::makeImage(false, false, 128, 96, [](int x, int y, int c) {
        return static_cast<unsigned>((x * x + y * 7 * (c + 1)) ^ (x * y)) & 0xff;
    });
    std::uint64_t size[4];
    const int qualities[4] = {10, 95, 0, -1};
    for (int i = 0; i < 4; ++i) {
        CBufferStream stream;
        ASSERT_TRUE(image.write("q.jpg", qualities[i], &stream));
        size[i] = stream.GetPos();
        EXPECT_TRUE(trxtest::decodeBytes("q.jpg", stream.GetBuffer(), stream.GetPos()).ok);
    }
    EXPECT_LT(size[0], size[1]);  // 10 against 95
    EXPECT_LT(size[2], size[0]);  // 0 is a quality, not "none"
    EXPECT_GT(size[3], size[1]);  // -1 leaves the writer's default, above 95
}

// N ppi across and 2N down, opened again by the library. PNG and BMP hold whole pixels per
// metre (half of one is 0.0127 ppi), JPEG whole dots per inch; a JPEG without a resolution
// opens at 72 ppi.
TEST(RoundTrip, ResolutionsComeBackWithinTheFormatsPrecision)
{
    trxtest::TempDir dir;
    TarvexImage image = trxtest::makeImage(false, false, 4, 4, smooth);
    struct Format {
        const char* extension;
        double tolerance;
        double noneOpensAs;
    };
    for (const Format& f :
         {Format{"tif", 0, 0}, Format{"png", 0.0127, 0}, Format{"bmp", 0.0127, 0}, Format{"jpg", 0, 72}}) {
        for (double ppi : {0.0, 72.0, 96.0, 150.0, 300.0, 600.0, 1200.0}) {
            SCOPED_TRACE(std::string(f.extension) + " " + std::to_string(ppi));
            image.xResolution(ppi);
            image.yResolution(2 * ppi);
            const std::string path = dir.file(std::string("r.") + f.extension);
            ASSERT_TRUE(image.write(path));
            TarvexImage back;
            ASSERT_TRUE(back.open(path));
            EXPECT_NEAR(back.xResolution(), ppi > 0 ? ppi : f.noneOpensAs, f.tolerance);
            EXPECT_NEAR(back.yResolution(), ppi > 0 ? 2 * ppi : f.noneOpensAs, f.tolerance);
        }
    }
}

TEST(RoundTrip, EveryPathOverloadWritesTheSameFile)
{
    trxtest::TempDir dir;
    TarvexImage image = trxtest::makeImage(false, false, 6, 5, smooth);
    const std::string narrow = dir.file("n\xC3\xA4me.png");
    ASSERT_TRUE(image.write(narrow));
    const std::vector<unsigned char> reference = trxtest::readFile(narrow);
    ASSERT_FALSE(reference.empty());

    ASSERT_TRUE(image.write(dir.file("c.png").c_str()));
    EXPECT_EQ(trxtest::readFile(dir.file("c.png")), reference);

    std::wstring wide;
    for (char ch : dir.path())
        wide.push_back(static_cast<unsigned char>(ch));  // test folders are ASCII
    ASSERT_TRUE(image.write(wide + L"/w\u00e4\u6f22.png"));
    EXPECT_EQ(trxtest::readFile(dir.file("w\xC3\xA4\xE6\xBC\xA2.png")), reference);
    ASSERT_TRUE(image.write((wide + L"/p.png").c_str()));
    EXPECT_EQ(trxtest::readFile(dir.file("p.png")), reference);
}

TEST(RoundTrip, PathFailuresAreLogged)
{
    trxtest::TempDir dir;
    trxtest::LogCapture log;
    TarvexImage image = trxtest::makeImage(false, false, 3, 3, smooth);

    // The described line, then OpenImageIO's or the system's reason.
    const std::string unknown = dir.file("image.nosuchformat");
    EXPECT_FALSE(image.write(unknown));
    ASSERT_EQ(log.utf8().size(), 2u);
    EXPECT_EQ(log.utf8()[0], "[TRXImage] OpenImageIO cannot create for writing: " + unknown + "\n");
    EXPECT_NE(log.utf8()[1].find("[TRXImage] Reason: OpenImageIO could not find a format writer"), std::string::npos);

    const std::string openLine = "[TRXImage] OpenImageIO for RGB fails to open, columns: 3, rows: 3, channels: 3\n";
    log.clear();
    EXPECT_FALSE(image.write(dir.file("missing/folder/image.png")));
    EXPECT_EQ(log.utf8(), (std::vector<std::string>{openLine, "[TRXImage] Reason: No such file or directory\n"}));

    // Below a regular file, and a folder in place of the file.
    trxtest::writeFile(dir.file("plain"), {1, 2, 3});
    std::filesystem::create_directory(dir.file("folder.png"));
    for (const char* extension : {".png", ".jpg", ".tif", ".bmp", ".sgi"}) {
        log.clear();
        EXPECT_FALSE(image.write(dir.file(std::string("plain/image") + extension))) << extension;
        EXPECT_EQ(log.utf8(), (std::vector<std::string>{openLine, "[TRXImage] Reason: Not a directory\n"}));
    }
    log.clear();
    EXPECT_FALSE(image.write(dir.file("folder.png")));
    EXPECT_EQ(log.utf8(), (std::vector<std::string>{openLine, "[TRXImage] Reason: Is a directory\n"}));
    EXPECT_EQ(trxtest::readFile(dir.file("plain")), (std::vector<unsigned char>{1, 2, 3}));

    // A file that is there stays as it was when the writer refuses the image (PNM holds
    // no alpha), and is replaced whole when it does not.
    const std::vector<unsigned char> old(10000, 7);
    trxtest::writeFile(dir.file("kept.ppm"), old);
    EXPECT_FALSE(trxtest::makeImage(false, true, 3, 3, smooth).write(dir.file("kept.ppm")));
    EXPECT_EQ(trxtest::readFile(dir.file("kept.ppm")), old);
    ASSERT_TRUE(image.write(dir.file("kept.ppm")));
    CBufferStream stream;
    ASSERT_TRUE(image.write("kept.ppm", -1, &stream));
    EXPECT_EQ(trxtest::readFile(dir.file("kept.ppm")),
              std::vector<unsigned char>(stream.GetBuffer(), stream.GetBuffer() + stream.GetPos()));

    log.clear();
    EXPECT_FALSE(image.write(static_cast<const char*>(nullptr)));
    EXPECT_FALSE(image.write(static_cast<const wchar_t*>(nullptr)));
    EXPECT_EQ(log.lines().size(), 2u);
}

// Writes into a read-only folder in a child process; root, who may write anywhere,
// becomes nobody first. Exits 0 when every format fails with one line and no file.
[[noreturn]] void writeIntoReadOnlyFolder(const std::string& folder)
{
    if (geteuid() == 0 && setuid(65534) != 0)
        std::_Exit(2);
    trxtest::LogCapture log;
    TarvexImage image = trxtest::makeImage(false, false, 3, 3, smooth);
    bool ok = true;
    for (const char* extension : {".png", ".jpg", ".tif", ".bmp", ".sgi"}) {
        log.clear();
        const bool written = image.write(folder + "/image" + extension);
        if (written || log.utf8() != std::vector<std::string>{"[TRXImage] OpenImageIO for RGB fails to open, columns: "
                                                              "3, rows: 3, channels: 3\n",
                                                              "[TRXImage] Reason: Permission denied\n"}) {
            std::fprintf(stderr, "%s: written %d, %zu lines\n", extension, written, log.lines().size());
            ok = false;
        }
    }
    if (!std::filesystem::is_empty(folder)) {
        std::fprintf(stderr, "a file was left in the folder\n");
        ok = false;
    }
    std::_Exit(ok ? 0 : 1);
}

// In a child process: every format (SGI has no proxy and goes through a file in memory),
// written onto a full device and then beyond a 4 KiB file-size limit (SIGXFSZ ignored, as a
// shell's ulimit leaves it to the program), fails with one line saying so and leaves no
// file. Exits 0 when all do.
[[noreturn]] void writeOntoFullDisks(const std::string& folder)
{
    std::signal(SIGXFSZ, SIG_IGN);
    trxtest::LogCapture log;
    TarvexImage image = trxtest::makeImage(true, false, 96, 96, [](int x, int y, int c) {
        std::uint32_t h = static_cast<std::uint32_t>(x * 96 + y) * 4 + c;
        h = (h ^ (h >> 16)) * 0x45d9f3bu;
        return (h ^ (h >> 16)) & 0xffu;
    });
    bool ok = true;
    for (const auto& [name, reason] : {std::pair{"full.", "No space left on device"}, {"big.", "File too large"}}) {
        const rlimit limit{4096, 4096};
        if (name == std::string("big.") && setrlimit(RLIMIT_FSIZE, &limit) != 0)
            std::_Exit(2);
        for (const char* extension : {"png", "jpg", "tif", "bmp", "tga", "ppm", "gif", "webp", "exr", "sgi"}) {
            const std::string path = folder + "/" + name + extension;
            log.clear();
            const bool written = image.write(path);
            const std::string start = "[TRXImage] Fail to write image to file: Error: " + std::string(reason);
            if (written || log.utf8().size() != 1 || log.utf8()[0].rfind(start, 0) != 0 ||
                (name == std::string("big.") && std::filesystem::exists(path))) {
                std::printf("%s: written %d, %zu lines: %s\n", path.c_str(), written, log.utf8().size(),
                            log.utf8().empty() ? "" : log.utf8()[0].c_str());
                ok = false;
            }
        }
    }
    std::fflush(stdout);
    std::_Exit(ok ? 0 : 1);
}

TEST(RoundTrip, FullDisksFailEveryFormatWithALine)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // OpenImageIO's threads do not survive a fork
    trxtest::TempDir dir;
    for (const char* extension : {"png", "jpg", "tif", "bmp", "tga", "ppm", "gif", "webp", "exr", "sgi"})
        std::filesystem::create_symlink("/dev/full", dir.file(std::string("full.") + extension));
    EXPECT_EXIT(writeOntoFullDisks(dir.path()), ::testing::ExitedWithCode(0), "");
}

TEST(RoundTrip, ReadOnlyFolderRefusesEveryFormat)
{
    trxtest::TempDir dir;
    const std::string folder = dir.file("read-only");
    ASSERT_EQ(mkdir(folder.c_str(), 0555), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    EXPECT_EXIT(writeIntoReadOnlyFolder(folder), ::testing::ExitedWithCode(0), "");
}

}  // namespace
