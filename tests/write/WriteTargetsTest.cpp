#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstring>
#include <filesystem>
#include <numeric>
#include <stdexcept>

#include "image/ImageImpl.h"
#include "support/TestSupport.h"
#include "support/WriteFiles.h"
#include "write/WriteTargets.h"

using namespace trxtest;

namespace {

using Bytes = std::vector<unsigned char>;

unsigned smooth(int x, int y, int c) { return (x * 4 + y * 3 + c * 40) & 0xff; }

// Records every Write; throws a full disk on the `failAt`-th (counted from 1), or with
// `failAt` 0 something that is not a CFileException.
struct RecordingFile : CFile {
    void Write(const void* data, unsigned count) override
    {
        if (++calls == failAt || failAt == 0)
            failAt ? throw new CFileException(CFileException::diskFull, ENOSPC, L"disk.img")
                   : throw std::runtime_error("host failure");
        sizes.push_back(count);
        content.insert(content.end(), static_cast<const unsigned char*>(data),
                       static_cast<const unsigned char*>(data) + count);
    }
    void Close() override { ++closes; }
    int calls = 0, failAt = -1, closes = 0;
    std::vector<unsigned> sizes;
    Bytes content;
};

// Whole 4096-byte chunks and a shorter last one. A CFileException closes the file and is
// logged, the name shown readably; the chunks before it stay. Other exceptions pass out.
// A buffer whose 32-bit size is nearly exhausted refuses the next chunk with a line.
TEST(Targets, ChunksAndFailedAppends)
{
    Bytes encoded(10000);
    std::iota(encoded.begin(), encoded.end(), static_cast<unsigned char>(5));
    for (std::size_t n : {0u, 1u, 4095u, 4096u, 4097u, 8192u, 10000u}) {
        SCOPED_TRACE(n);
        const Bytes part(encoded.begin(), encoded.begin() + n);
        RecordingFile file;
        CBufferStream stream;
        CAutoBuffer buffer;
        ASSERT_TRUE(appendEncoded(part, "x.png", file) && appendEncoded(part, "x.png", stream) &&
                    appendEncoded(part, "x.png", buffer));
        std::vector<unsigned> chunks(n / 4096, 4096);
        if (n % 4096)
            chunks.push_back(n % 4096);
        EXPECT_EQ(file.sizes, chunks);
        EXPECT_TRUE(file.content == part && bytesOf(stream) == part && bytesOf(buffer) == part);
    }
    LogCapture log;
    for (auto [failAt, name, shown] : {std::tuple{3, "out.jpg", L"out.jpg"}, {1, "\xff.png", L"\ufffd.png"}}) {
        log.clear();
        RecordingFile file;
        file.failAt = failAt;
        EXPECT_FALSE(appendEncoded(encoded, name, file));
        EXPECT_EQ(file.closes, 1);
        EXPECT_EQ(file.content, Bytes(encoded.begin(), encoded.begin() + (failAt - 1) * 4096));
        EXPECT_EQ(log.lines(), std::vector<std::wstring>{L"[TRXImage] Fail to write image to file: Error: No space "
                                                         L"left on device (disk.img), file type: " +
                                                         std::wstring(shown) + L", buffer size: 10000l\n"});
    }
    RecordingFile other;
    other.failAt = 0;
    EXPECT_THROW(appendEncoded(encoded, "x.png", other), std::runtime_error);
    CAutoBuffer buffer;
    buffer.WriteData("abc", 3);
    char* size = reinterpret_cast<char*>(&buffer) + 2 * sizeof(void*);  // members: capacity, data, size
    const std::uint32_t nearlyFull = 0xFFFFFFFFu - 100, three = 3;
    std::memcpy(size, &nearlyFull, sizeof nearlyFull);
    log.clear();
    EXPECT_FALSE(appendEncoded(Bytes(5000), "a.png", buffer));
    EXPECT_EQ(buffer.GetDataSize(), nearlyFull);
    std::memcpy(size, &three, sizeof three);
    EXPECT_EQ(log.utf8(), std::vector<std::string>{"[TRXImage] Fail to write image to auto buffer: a.png, buffer "
                                                   "size: 5000l\n"});
}

// Nothing reaches a target without a writer or proxy support (no line), or for an empty
// image or one whose strips do not hold every line (the line on every target, no file).
TEST(Targets, FailuresReachNoTarget)
{
    TempDir dir;
    LogCapture log;
    const std::string cannot = "[TRXImage] Cannot write a 4 x 6 image: the ";
    std::vector<std::pair<TarvexImage, std::string>> images(5);
    for (int i = 0; i < 4; ++i)
        images[i].first = makeImage(i == 3, i == 3, 4, 6, smooth, 3);
    TarvexImageAccess::impl(images[1].first).colourStrips[1].ReSize(4 * 3 * 3 - 1);
    TarvexImageAccess::impl(images[2].first).alphaChannel = 3;
    TarvexImageAccess::impl(images[3].first).alphaStrips.pop_back();
    images[1].second = cannot + "colour strips do not hold every line\n";
    images[2].second = images[3].second = cannot + "alpha strips do not hold every line\n";
    images[4].second = "[TRXImage] OpenImageIO for RGB fails to open, columns: 0, rows: 0, channels: 3\n";
    for (const std::string ext : {"nosuchformat", "psd", "sgi", "ico", "png", "jpg", "tif", "bmp", "tga", "ppm", "gif",
                                  "webp", "exr", "hdr", "dpx", "iff", "fits", "rla", "heif"}) {
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
            EXPECT_TRUE(bytesOf(stream) == Bytes({'a', 'b', 'c'}) && !std::filesystem::exists(dir.file(name)));
            EXPECT_EQ(buffer.GetDataSize() + file.calls + file.closes, 0u);
            EXPECT_EQ(log.utf8(), std::vector<std::string>(!damaged ? 0 : memory ? 5 : 1, line));
        }
    }
    log.clear();
    EXPECT_FALSE(images[0].first.write("x.png", -1, static_cast<CAutoBuffer*>(nullptr)) ||
                 images[0].first.write("x.png", static_cast<CFile*>(nullptr), trx::WriteOptions()));
    EXPECT_EQ(log.utf8(), std::vector<std::string>(2, "[TRXImage] No target to write image to: x.png\n"));
}

// Every path overload writes the same file. A failure gives the described line and the
// reason and leaves what was there, unless the whole new file replaces it; libjpeg's
// refusal too, without ending the process.
TEST(Targets, PathOverloadsAndFailures)
{
    TempDir dir;
    LogCapture log;
    TarvexImage image = makeImage(false, false, 3, 3, smooth), wide = makeImage(false, false, 70000, 1, smooth);
    ASSERT_TRUE(image.write(dir.file("n\xC3\xA4me.png")));
    const std::wstring folder(dir.path().begin(), dir.path().end());  // test folders are ASCII
    ASSERT_TRUE(image.write(dir.file("c.png").c_str()) && image.write(folder + L"/w\u00e4\u6f22.png") &&
                image.write((folder + L"/p.png").c_str()));
    for (const char* name : {"c.png", "w\xC3\xA4\xE6\xBC\xA2.png", "p.png"})
        EXPECT_EQ(readFile(dir.file(name)), readFile(dir.file("n\xC3\xA4me.png"))) << name;
    const wchar_t bad[] = {L'a', static_cast<wchar_t>(0xD800), L'.', L'p', L'n', L'g', 0};
    EXPECT_THROW(image.write(bad), trx::TextConversionError);
    writeFile(dir.file("plain"), {1, 2, 3});
    std::filesystem::create_directory(dir.file("folder.png"));
    const std::string open = "[TRXImage] OpenImageIO for RGB fails to open, columns: ";
    for (auto [path, first, because] :
         {std::tuple{"missing/image.png", "3, rows: 3", "No such file or directory"},
          {"plain/image.png", "3, rows: 3", "Not a directory"},
          {"plain/image.sgi", "3, rows: 3", "Not a directory"},
          {"folder.png", "3, rows: 3", "Is a directory"},
          {"wide.jpg", "70000, rows: 1", "JPEG error: Maximum supported image dimension is 65500 pixels"},
          {"image.nosuchformat", "", "OpenImageIO could not find a format writer for"}}) {
        log.clear();
        EXPECT_FALSE((path[0] == 'w' ? wide : image).write(dir.file(path)) ||
                     std::filesystem::exists(dir.file("wide.jpg")));
        ASSERT_EQ(log.utf8().size(), 2u) << path;
        EXPECT_EQ(log.utf8()[0], *first ? open + first + ", channels: 3\n"
                                        : "[TRXImage] OpenImageIO cannot create for writing: " + dir.file(path) + "\n");
        EXPECT_EQ(log.utf8()[1].rfind("[TRXImage] Reason: " + std::string(because), 0), 0u) << log.utf8()[1];
    }
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

// Every format (SGI has no proxy and goes through a file in memory) fails with one line on
// a full device and beyond a 4 KiB file-size limit, leaving no file behind.
TEST(Targets, FullDisksFailEveryFormatWithALine)
{
    TempDir dir;
    LogCapture log;
    TarvexImage noise = makeImage(true, false, 96, 96, [](int x, int y, int c) {
        std::uint32_t h = static_cast<std::uint32_t>(x * 96 + y) * 4 + c;
        h = (h ^ (h >> 16)) * 0x45d9f3bu;
        return (h ^ (h >> 16)) & 0xffu;
    });
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
                std::filesystem::create_symlink("/dev/full", path);
            log.clear();
            EXPECT_FALSE(noise.write(path) || (!full && std::filesystem::exists(path))) << path;
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
    const std::string path = dir.file("p.png");
    int refused = 0;
    for (std::size_t at = 0; at < 156; ++at)
        for (unsigned flip : {0x01u, 0x80u}) {
            SCOPED_TRACE(std::to_string(at) + " ^ " + std::to_string(flip));
            Bytes changed = rgbProfile();
            changed[at] ^= flip;
            Blob blob;
            blob.update(changed.data(), static_cast<int>(changed.size()));
            log.clear();
            const bool written = image.write(path, trx::WriteOptions().iccProfile(blob));
            refused += !written;
            EXPECT_EQ(written ? decode(path).icc() : changed, changed);
            EXPECT_EQ(log.lines().size(), written ? 0u : 1u);
            EXPECT_TRUE(written || log.utf8()[0].rfind("[TRXImage] Cannot write a 5 x 4 image: ", 0) == 0);
            EXPECT_EQ(std::filesystem::remove(path), written);
        }
    EXPECT_GT(refused, 20);
}

}  // namespace
