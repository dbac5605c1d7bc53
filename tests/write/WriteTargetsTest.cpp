#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <numeric>
#include <stdexcept>

#include "TRXImage.h"
#include "image/ImageImpl.h"
#include "mem/MemoryManager.h"
#include "support/TestSupport.h"
#include "support/WriteFiles.h"
#include "write/WriteTargets.h"

namespace {

unsigned smooth(int x, int y, int c) { return (x * 4 + y * 3 + c * 40) & 0xff; }

std::vector<unsigned char> encodedOf(std::size_t n)
{
    std::vector<unsigned char> bytes(n);
    std::iota(bytes.begin(), bytes.end(), static_cast<unsigned char>(5));
    return bytes;
}

// Records the size of every Write; throws on the `failAt`-th (counted from 1).
class RecordingFile : public CFile {
public:
    void Write(const void* data, unsigned count) override
    {
        if (++calls == failAt)
            throw new CFileException(CFileException::diskFull, ENOSPC, L"disk.img");
        if (throwOther)
            throw std::runtime_error("host failure");
        sizes.push_back(count);
        const auto* bytes = static_cast<const unsigned char*>(data);
        content.insert(content.end(), bytes, bytes + count);
    }
    void Close() override { ++closes; }

    int calls = 0;
    int failAt = -1;
    bool throwOther = false;
    int closes = 0;
    std::vector<unsigned> sizes;
    std::vector<unsigned char> content;
};

std::vector<unsigned> expectedChunks(std::size_t n)
{
    std::vector<unsigned> sizes(n / 4096, 4096);
    if (n % 4096)
        sizes.push_back(static_cast<unsigned>(n % 4096));
    return sizes;
}

TEST(Chunks, EveryTargetSeesFullChunksThenTheRest)
{
    for (std::size_t n : {0u, 1u, 4095u, 4096u, 4097u, 8192u, 10000u}) {
        const auto encoded = encodedOf(n);
        RecordingFile file;
        ASSERT_TRUE(appendEncoded(encoded, "x.png", file));
        EXPECT_EQ(file.sizes, expectedChunks(n)) << n;
        EXPECT_EQ(file.content, encoded);

        CBufferStream stream;
        ASSERT_TRUE(appendEncoded(encoded, "x.png", stream));
        ASSERT_EQ(stream.GetPos(), n);
        if (n) {
            EXPECT_EQ(std::memcmp(stream.GetBuffer(), encoded.data(), n), 0);
        }

        CAutoBuffer buffer;
        ASSERT_TRUE(appendEncoded(encoded, "x.png", buffer));
        ASSERT_EQ(buffer.GetDataSize(), n);
        std::uint32_t remaining = 0;
        const char* bytes = buffer.ReadData(remaining, 0);
        if (n) {
            EXPECT_EQ(std::memcmp(bytes, encoded.data(), n), 0);
        }
    }
}

TEST(Chunks, FileExceptionClosesTheFileAndKeepsEarlierChunks)
{
    trxtest::LogCapture log;
    RecordingFile file;
    file.failAt = 3;
    const auto encoded = encodedOf(10000);
    EXPECT_FALSE(appendEncoded(encoded, "out.jpg", file));
    EXPECT_EQ(file.closes, 1);
    EXPECT_EQ(file.content, std::vector<unsigned char>(encoded.begin(), encoded.begin() + 8192));
    ASSERT_EQ(log.lines().size(), 1u);
    const std::string line = log.utf8()[0];
    EXPECT_EQ(line.rfind("[TRXImage] Fail to write image to file: Error: ", 0), 0u) << line;
    EXPECT_NE(line.find("(disk.img), file type: out.jpg, buffer size: 10000l\n"), std::string::npos) << line;
}

// A name that is not UTF-8 still gets its line, with U+FFFD for the bad byte.
TEST(Chunks, InvalidNameAfterAFileExceptionIsLoggedReadably)
{
    RecordingFile file;
    file.failAt = 1;
    trxtest::LogCapture log;
    EXPECT_FALSE(appendEncoded(encodedOf(10), "\xff.png", file));
    EXPECT_EQ(file.closes, 1);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find(L"file type: \ufffd.png, buffer size: 10l"), std::wstring::npos);
}

TEST(PathTarget, WidePathWithoutAUtf8FormRaisesTheConversionError)
{
    TarvexImage image = trxtest::makeRgbImage(2, 2, [](int, int, int) { return 9u; });
    const wchar_t bad[] = {L'a', static_cast<wchar_t>(0xD800), L'.', L'p', L'n', L'g', 0};
    trxtest::LogCapture log;
    EXPECT_THROW(image.write(bad), trx::TextConversionError);
    EXPECT_THROW(image.write(std::wstring(bad)), trx::TextConversionError);
    EXPECT_TRUE(log.lines().empty());
}

TEST(Chunks, OtherHostExceptionsPassOut)
{
    RecordingFile file;
    file.throwOther = true;
    EXPECT_THROW(appendEncoded(encodedOf(10), "x.png", file), std::runtime_error);
}

TEST(FileTarget, FullDeviceGivesFalseAndTheMessage)
{
    trxtest::LogCapture log;
    CFile file;
    ASSERT_TRUE(file.Open("/dev/full", CFile::modeWrite));
    TarvexImage image = trxtest::makeImage(false, false, 30, 30, smooth);
    CBufferStream reference;
    ASSERT_TRUE(image.write("full.bmp", -1, &reference));
    log.clear();
    EXPECT_FALSE(image.write("full.bmp", -1, &file));
    EXPECT_EQ(file.m_hFile, CFile::hFileNull);  // closed
    ASSERT_EQ(log.lines().size(), 1u);
    const std::string line = log.utf8()[0];
    EXPECT_EQ(line.rfind("[TRXImage] Fail to write image to file: Error: No space left on device", 0), 0u) << line;
    const std::string tail = ", file type: full.bmp, buffer size: " + std::to_string(reference.GetPos()) + "l\n";
    EXPECT_NE(line.find(tail), std::string::npos) << line;
}

TEST(FileTarget, ClosedFileGivesFalse)
{
    trxtest::LogCapture log;
    CFile file;
    TarvexImage image = trxtest::makeImage(false, false, 4, 4, smooth);
    EXPECT_FALSE(image.write("x.png", -1, &file));
    EXPECT_EQ(log.lines().size(), 1u);
}

// A Linux name is any bytes: one that is not UTF-8 opens, or fails as any other open
// does, with U+FFFD in the name kept for messages; nothing throws.
TEST(FileTarget, NarrowPathThatIsNotUtf8OpensOrFailsLikeAnyOther)
{
    trxtest::TempDir dir;
    CFile file;
    CFileException error;
    ASSERT_TRUE(file.Open(dir.file("a\xFF.bin").c_str(), CFile::modeCreate | CFile::modeWrite, &error));
    EXPECT_EQ(file.GetFilePath().substr(file.GetFilePath().size() - 6), L"a\uFFFD.bin");
    EXPECT_FALSE(file.Open(dir.file("missing/a\xFF.bin").c_str(), CFile::modeWrite, &error));
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
    EXPECT_NE(error.m_strFileName.find(L"missing/a\uFFFD.bin"), std::wstring::npos);
}

// The target is not touched: no log line, no byte, no growth.
TEST(Targets, NoWriterOrNoProxySupportLeavesTargetsUntouched)
{
    trxtest::LogCapture log;
    TarvexImage image = trxtest::makeImage(false, false, 4, 4, smooth);
    for (const char* name : {"image.nosuchformat", "psd", "image.sgi", "ico"}) {
        CBufferStream stream;
        stream.Write("abc", 3, nullptr);
        const char* block = stream.GetBuffer();
        EXPECT_FALSE(image.write(name, 90, &stream)) << name;
        EXPECT_EQ(stream.GetPos(), 3u);
        EXPECT_EQ(stream.GetBuffer(), block);

        CAutoBuffer buffer;
        buffer.WriteData("abc", 3);
        EXPECT_FALSE(image.write(name, 90, &buffer)) << name;
        EXPECT_EQ(buffer.GetDataSize(), 3u);

        RecordingFile file;
        EXPECT_FALSE(image.write(name, 90, &file)) << name;
        EXPECT_EQ(file.calls, 0);
        EXPECT_EQ(file.closes, 0);
    }
    EXPECT_TRUE(log.lines().empty()) << log.utf8()[0];
}

// An image without pixels (here after a failed open) fails with the writer's open line on
// every target and format, reaches no target and leaves no file; no output is ever
// opened or handed a proxy (JPEG's crashed closing one it never opened).
TEST(Targets, EmptyImageFailsEverywhereWithTheOpenLine)
{
    trxtest::TempDir dir;
    trxtest::LogCapture log;
    TarvexImage empty;
    ASSERT_FALSE(empty.open(dir.file("missing.png")));
    const std::string line = "[TRXImage] OpenImageIO for RGB fails to open, columns: 0, rows: 0, channels: 3\n";
    for (const std::string extension : {"png", "jpg", "tif", "bmp", "tga", "ppm", "gif", "webp", "exr", "hdr", "dpx",
                                        "iff", "sgi", "ico", "fits", "rla", "heif"}) {
        SCOPED_TRACE(extension);
        const std::string name = "empty." + extension;
        const bool memory = OIIO::ImageOutput::create(name)->supports("ioproxy");
        log.clear();
        CBufferStream stream;
        CAutoBuffer buffer;
        RecordingFile file;
        EXPECT_FALSE(empty.write(name, 90, &stream));
        EXPECT_FALSE(empty.write(name, 90, &buffer));
        EXPECT_FALSE(empty.write(name, 90, &file));
        EXPECT_FALSE(empty.write(dir.file(name)));
        EXPECT_EQ(log.utf8(), std::vector<std::string>(memory ? 4 : 1, line));
        EXPECT_EQ(stream.GetPos() + buffer.GetDataSize() + file.calls, 0u);
        EXPECT_FALSE(std::filesystem::exists(dir.file(name)));
    }
}

TEST(Targets, FailedEncodingReachesNoTarget)
{
    trxtest::LogCapture log;
    TarvexImage image = trxtest::makeImage(true, true, 4, 4, smooth);
    TarvexImageAccess::impl(image).alphaStrips.clear();  // alpha without its strips is refused
    TarvexImageAccess::impl(image).alphaChannel = 4;
    CBufferStream stream;
    EXPECT_FALSE(image.write("x.png", -1, &stream));
    EXPECT_EQ(stream.GetBuffer(), nullptr);
    RecordingFile file;
    EXPECT_FALSE(image.write("x.png", -1, &file));
    EXPECT_EQ(file.calls, 0);
    EXPECT_FALSE(image.write("x.png", -1, static_cast<CAutoBuffer*>(nullptr)));
    EXPECT_EQ(log.lines().size(), 3u);
}

// Gives blocks from the default implementation until the `failFrom`-th ReAlloc.
class FailingManager : public TRXMem::MemInitBaseT<0> {
public:
    void* ReAlloc(void* block, std::size_t size) override
    {
        return ++calls >= failFrom ? nullptr : MemInitBaseT::ReAlloc(block, size);
    }
    int calls = 0;
    int failFrom = 2;
};

// The binding is made once per process: run in a fresh one.
TEST(TargetsDeathTest, FailedGrowthKeepsTheStreamsEarlierBytes)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            static FailingManager manager;
            TRXMemPublish(L"MemAllocClass", publishedObjectName().c_str(), &manager);
            trxtest::LogCapture log;
            CBufferStream stream;
            const auto encoded = encodedOf(10000);
            const bool result = appendEncoded(encoded, "big.tif", stream);
            const bool kept = stream.GetPos() == 4096 && std::memcmp(stream.GetBuffer(), encoded.data(), 4096) == 0;
            const bool logged = log.utf8() == std::vector<std::string>{
                                                  "[TRXImage] Fail to write image to buffer stream: big.tif, buffer "
                                                  "size: 10000l\n"};
            std::uint64_t written = 1;
            stream.Write(encoded.data(), 1, &written);  // 4097 still fits the 5120 block
            std::exit((result ? 1 : 0) | (kept ? 0 : 2) | (logged ? 0 : 4) | (written == 1 ? 0 : 8) |
                      (memoryManager() == &manager ? 0 : 16));
        },
        ::testing::ExitedWithCode(0), "");
}

// A buffer whose 32-bit size is nearly exhausted refuses the next chunk.
TEST(Chunks, RefusedAutoBufferAppendIsLogged)
{
    trxtest::LogCapture log;
    CAutoBuffer buffer;
    buffer.WriteData("abc", 3);
    std::uint32_t size;
    std::memcpy(&size, reinterpret_cast<char*>(&buffer) + 2 * sizeof(void*), sizeof size);
    ASSERT_EQ(size, 3u);  // members: capacity, data, size
    const std::uint32_t nearlyFull = 0xFFFFFFFFu - 100;
    std::memcpy(reinterpret_cast<char*>(&buffer) + 2 * sizeof(void*), &nearlyFull, sizeof nearlyFull);
    EXPECT_FALSE(appendEncoded(encodedOf(5000), "a.png", buffer));
    EXPECT_EQ(buffer.GetDataSize(), nearlyFull);
    std::memcpy(reinterpret_cast<char*>(&buffer) + 2 * sizeof(void*), &size, sizeof size);
    EXPECT_EQ(log.utf8(),
              (std::vector<std::string>{"[TRXImage] Fail to write image to auto buffer: a.png, buffer size: 5000l\n"}));
}

}  // namespace
