#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "image/ImageImpl.h"
#include "support/TestSupport.h"
#include "support/WriteFiles.h"
#include "write/ImageWriter.h"

namespace {

unsigned noisy(int x, int y, int c) { return static_cast<unsigned>((x * x + y * 7 * (c + 1)) ^ (x * y)) & 0xff; }

std::vector<unsigned char> bytesOf(const CBufferStream& stream)
{
    return std::vector<unsigned char>(stream.GetBuffer(), stream.GetBuffer() + stream.GetPos());
}

TEST(WriteOptions, AttributesFollowTheLibrarysOwnInOrder)
{
    TarvexImage image = trxtest::makeImage(false, true, 6, 5, noisy);
    image.xResolution(72.0);
    trx::WriteOptions options;
    options.compression("none")
        .attribute("XResolution", 300.0f)  // wins over the library's own
        .attribute("tiff:RowsPerStrip", 2)
        .attribute("compression", std::string("lzw"))  // the later of two wins
        .attribute("", 5)                              // no name: ignored
        .attribute("note", static_cast<const char*>(nullptr));

    auto* output = new trxtest::RecordingOutput;
    std::unique_ptr<OIIO::ImageOutput> holder(output);
    ASSERT_TRUE(writeToOutput(holder, TarvexImageAccess::impl(image), "out.rec", -1, &options));
    const OIIO::ImageSpec& spec = output->openedSpec;
    EXPECT_EQ(spec.get_string_attribute("compression"), "lzw");
    EXPECT_FLOAT_EQ(spec.get_float_attribute("XResolution"), 300.0f);
    EXPECT_EQ(spec.get_int_attribute("tiff:RowsPerStrip"), 2);
    EXPECT_EQ(spec.get_string_attribute("note", "absent"), "");
    EXPECT_EQ(spec.find_attribute(""), nullptr);
    EXPECT_EQ(spec.get_int_attribute("oiio:UnassociatedAlpha"), 1);  // the library's own stay
    EXPECT_EQ(output->pixels, trxtest::expectedPixels(image));
}

TEST(WriteOptions, EmptyOptionsWriteWhatThePlainOverloadsWrite)
{
    trxtest::TempDir dir;
    TarvexImage image = trxtest::makeImage(false, false, 33, 21, noisy, 4);
    for (const char* name : {"e.png", "e.tif", "e.jpg"}) {
        CBufferStream plain, withOptions;
        ASSERT_TRUE(image.write(name, -1, &plain));
        ASSERT_TRUE(image.write(name, &withOptions, trx::WriteOptions()));
        EXPECT_EQ(bytesOf(withOptions), bytesOf(plain)) << name;

        ASSERT_TRUE(image.write(dir.file(name)));
        const auto fromPath = trxtest::readFile(dir.file(name));
        ASSERT_TRUE(image.write(dir.file(std::string("o") + name), trx::WriteOptions()));
        EXPECT_EQ(trxtest::readFile(dir.file(std::string("o") + name)), fromPath) << name;
    }
}

TEST(WriteOptions, QualityMatchesTheQualityArgumentOnEveryTarget)
{
    trxtest::TempDir dir;
    TarvexImage image = trxtest::makeImage(false, false, 128, 96, noisy);
    for (int quality : {10, 90}) {
        CBufferStream reference;
        ASSERT_TRUE(image.write("q.jpg", quality, &reference));
        const auto expected = bytesOf(reference);
        const auto options = trx::WriteOptions().quality(quality);

        CBufferStream stream;
        ASSERT_TRUE(image.write("q.jpg", &stream, options));
        EXPECT_EQ(bytesOf(stream), expected) << quality;

        CAutoBuffer buffer;
        ASSERT_TRUE(image.write("q.jpg", &buffer, options));
        std::uint32_t size = 0;
        const char* bytes = buffer.ReadData(size, 0);
        ASSERT_NE(bytes, nullptr);
        EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + size), expected) << quality;

        CFile file;
        ASSERT_TRUE(file.Open(dir.file("f.jpg").c_str(), CFile::modeCreate | CFile::modeWrite));
        ASSERT_TRUE(image.write("q.jpg", &file, options));
        file.Close();
        EXPECT_EQ(trxtest::readFile(dir.file("f.jpg")), expected) << quality;

        // The path overload, which has no quality argument, takes it from the options.
        ASSERT_TRUE(image.write(dir.file("p.jpg"), options));
        EXPECT_EQ(trxtest::readFile(dir.file("p.jpg")), expected) << quality;
    }
}

TEST(WriteOptions, CompressionReachesTheFileAndKeepsThePixels)
{
    trxtest::TempDir dir;
    TarvexImage image = trxtest::makeImage(false, true, 301, 67, noisy, 16);
    const auto expected = trxtest::expectedPixels(image);
    struct Case {
        const char* name;
        const char* compression;
        const char* readBack;
    };
    for (const Case& c : {Case{"c.tif", "none", "none"}, Case{"c.tif", "lzw", "lzw"}, Case{"c.tif", "", "zip"},
                          Case{"c.png", "zip:1", nullptr}}) {
        trx::WriteOptions options;
        if (*c.compression)
            options.compression(c.compression);
        ASSERT_TRUE(image.write(dir.file(c.name), options)) << c.compression;
        const trxtest::Decoded back = trxtest::decodeFile(dir.file(c.name));
        ASSERT_TRUE(back.ok) << c.compression;
        EXPECT_EQ(back.pixels, expected) << c.compression;
        if (c.readBack) {
            EXPECT_EQ(back.spec.get_string_attribute("compression"), c.readBack);
        }
    }
    // An uncompressed TIFF holds every byte.
    ASSERT_TRUE(image.write(dir.file("n.tif"), trx::WriteOptions().compression("none")));
    EXPECT_GE(trxtest::readFile(dir.file("n.tif")).size(), expected.size());
}

// A display profile for RGB as libpng accepts it: header, one tag, D50 illuminant.
std::vector<unsigned char> rgbProfile()
{
    std::vector<unsigned char> p(256);
    for (std::size_t i = 0; i < p.size(); ++i)
        p[i] = static_cast<unsigned char>(i * 31 + 7);
    const auto put = [&p](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            p[at + i] = static_cast<unsigned char>(v >> (24 - 8 * i));
    };
    put(0, 256);
    put(8, 0x02100000);
    std::memcpy(&p[12], "mntrRGB XYZ ", 12);
    std::memcpy(&p[36], "acsp", 4);
    put(64, 0);
    put(68, 0xF6D6);
    put(72, 0x10000);
    put(76, 0xD32D);
    put(128, 1);
    std::memcpy(&p[132], "desc", 4);
    put(136, 144);
    put(140, 100);
    return p;
}

std::vector<unsigned char> iccOf(const trxtest::Decoded& decoded)
{
    const OIIO::ParamValue* icc = decoded.spec.find_attribute("ICCProfile");
    if (!icc)
        return {};
    const auto* bytes = static_cast<const unsigned char*>(icc->data());
    return std::vector<unsigned char>(bytes, bytes + icc->type().size());
}

// Only on request, byte for byte, in the formats that hold one, to a path and to memory.
TEST(WriteOptions, IccProfileIsEmbeddedOnRequest)
{
    trxtest::TempDir dir;
    trxtest::LogCapture log;
    const std::vector<unsigned char> profile = rgbProfile();
    Blob blob;
    blob.update(profile.data(), static_cast<int>(profile.size()));
    TarvexImage image = trxtest::makeImage(false, false, 5, 4, noisy);
    image.iccColourProfile(blob);
    const auto options = trx::WriteOptions().iccProfile(image.iccColourProfile());
    for (const std::string extension : {"png", "tif", "jpg", "bmp"}) {
        SCOPED_TRACE(extension);
        const std::vector<unsigned char> expected = extension == "bmp" ? std::vector<unsigned char>{} : profile;
        const std::string name = "icc." + extension;
        ASSERT_TRUE(image.write(dir.file(name), options));
        EXPECT_EQ(iccOf(trxtest::decodeFile(dir.file(name))), expected);
        CBufferStream stream;
        ASSERT_TRUE(image.write(name, &stream, options));
        EXPECT_EQ(iccOf(trxtest::decodeBytes(name, stream.GetBuffer(), stream.GetPos())), expected);
        ASSERT_TRUE(image.write(dir.file(name)));
        EXPECT_TRUE(iccOf(trxtest::decodeFile(dir.file(name))).empty());
    }
    EXPECT_TRUE(log.lines().empty());

    // Other formats take any bytes.
    std::vector<unsigned char> odd(profile.begin(), profile.begin() + 10);
    blob.update(odd.data(), static_cast<int>(odd.size()));
    ASSERT_TRUE(image.write(dir.file("odd.tif"), trx::WriteOptions().iccProfile(blob)));
    EXPECT_EQ(iccOf(trxtest::decodeFile(dir.file("odd.tif"))), odd);
}

// libpng ends the process on a profile it refuses. Every one-bit change of the header and
// tag table either comes back from the PNG or fails the write with a line, leaving no
// file; run in a child process, so that a profile let through ends only the child.
TEST(WriteOptions, ProfilesThatPngRefusesFailWithALine)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // OpenImageIO's threads do not survive a fork
    trxtest::TempDir dir;
    EXPECT_EXIT(
        {
            trxtest::LogCapture log;
            TarvexImage image = trxtest::makeImage(false, true, 5, 4, noisy);
            int refused = 0;
            bool ok = true;
            for (std::size_t at = 0; at < 144; ++at)
                for (unsigned flip : {0x01u, 0x80u}) {
                    std::vector<unsigned char> changed = rgbProfile();
                    changed[at] ^= flip;
                    Blob blob;
                    blob.update(changed.data(), static_cast<int>(changed.size()));
                    log.clear();
                    const std::string path = dir.file("p.png");
                    if (image.write(path, trx::WriteOptions().iccProfile(blob))) {
                        ok &= iccOf(trxtest::decodeFile(path)) == changed && log.lines().empty();
                    } else {
                        ++refused;
                        ok &= log.lines().size() == 1 &&
                              log.utf8()[0].rfind("[TRXImage] Cannot write a 5 x 4 image: ", 0) == 0 &&
                              !std::filesystem::exists(path);
                    }
                    std::filesystem::remove(path);
                }
            std::exit(ok && refused > 20 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(WriteOptions, FailuresAreTheSameAsWithoutOptions)
{
    trxtest::LogCapture log;
    TarvexImage empty;
    CBufferStream stream;
    EXPECT_FALSE(empty.write("x.png", &stream, trx::WriteOptions().compression("none")));
    EXPECT_EQ(stream.GetPos(), 0u);
    TarvexImage image = trxtest::makeImage(false, false, 4, 4, noisy);
    EXPECT_FALSE(image.write("x.unknownformat", &stream, trx::WriteOptions()));
    EXPECT_FALSE(image.write("x.png", static_cast<CBufferStream*>(nullptr), trx::WriteOptions()));
    EXPECT_FALSE(image.write("/no/such/folder/x.png", trx::WriteOptions()));
    EXPECT_EQ(stream.GetPos(), 0u);
    EXPECT_FALSE(log.lines().empty());
}

}  // namespace
