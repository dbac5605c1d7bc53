#include <gtest/gtest.h>

#include "ops/ReduceKernels.h"
#include "support/OpsImages.h"

namespace {

using trxtest::Plane;
using Bytes = std::vector<unsigned char>;

// Grey pixels, mostly 0 or 1 (the smallest grey that sets a bit), so both bits occur often.
Plane greyPlane(int columns, int rows, std::mt19937& random)
{
    Plane plane(columns, rows, 3, &random);
    for (std::size_t i = 0; i < plane.bytes.size(); i += 3)
        plane.bytes[i + 1] = plane.bytes[i + 2] = plane.bytes[i] = plane.bytes[i] % 4 < 2 ? 0 : plane.bytes[i] % 2;
    return plane;
}

// Packed lines as described: pixel x in bit 7 - x % 8 of byte x / 8, set for grey above
// 0, lines of 4 x ceil(columns / 32) bytes, the bytes past the last pixel 0.
Bytes packedReference(const Plane& grey)
{
    const int length = 4 * ((grey.columns + 31) / 32);
    Bytes packed(std::size_t(length) * grey.rows);
    for (int y = 0; y < grey.rows; ++y)
        for (int x = 0; x < grey.columns; ++x)
            packed[std::size_t(y * length + x / 8)] |= static_cast<unsigned char>(grey.at(x, y, 0) ? 0x80 >> x % 8 : 0);
    return packed;
}

// Each image first goes in with one sample of its last line off by one, which must
// leave it as it was, then grey: packed lines in strips of the same count, alpha kept.
TEST(Reduce, GreyImagesPackToOneBitPerPixelAndOthersStayAsTheyWere)
{
    std::mt19937 random(9);
    const int widths[] = {1, 2, 10, 32, 33, 65};
    for (int round = 0; round < 60; ++round) {
        const int columns = round < 6 ? widths[round] : 1 + int(random() % 200), rows = 1 + int(random() % 7);
        const int strips = 1 + int(random() % rows);
        const Plane grey = greyPlane(columns, rows, random), alpha(columns, rows, 1, &random);
        SCOPED_TRACE(std::to_string(columns) + " x " + std::to_string(rows));
        Plane coloured = grey;
        coloured.bytes[coloured.bytes.size() - 1 - random() % (3 * columns)] ^= 1;
        TarvexImage image = trxtest::makeImage(TarvexImage::colourSpaceRGB, coloured, strips, &alpha);
        const auto before = trxtest::snapshot(image);
        ASSERT_FALSE(image.ReduceIfPossible());
        ASSERT_EQ(trxtest::snapshot(image), before);

        image = trxtest::makeImage(TarvexImage::colourSpaceRGB, grey, strips, &alpha);
        auto sizes = trxtest::stripSizes(image);
        sizes.erase(sizes.begin(), sizes.begin() + strips);
        sizes.insert(sizes.begin(), strips, 4 * ((columns + 31) / 32) * image.linesPerStrip());
        ASSERT_TRUE(image.ReduceIfPossible());
        EXPECT_EQ(image.bitsPerPixel(), 8);
        EXPECT_EQ(trxtest::stripSizes(image), sizes);
        ASSERT_EQ(trxtest::readLines(image), packedReference(grey));
        EXPECT_EQ(trxtest::readLines(image, true), alpha.bytes);
    }
    // With no pixel to test, every pixel is grey.
    for (TarvexImage empty : {TarvexImage(), trxtest::makeImage(TarvexImage::colourSpaceRGB, Plane(10, 0, 3))}) {
        EXPECT_TRUE(empty.ReduceIfPossible());
        EXPECT_EQ(empty.bytesPerLine(), empty.columns() ? 4 : 0);
    }
}

// Every kernel set this processor runs, on lines up to a few vector blocks long: packed
// bytes over the blue bytes, moved to the front of the line, and a failure at each
// position reporting only blue bytes of grey pixels as written.
TEST(ReduceKernels, EveryVariantTestsAndPacksLikeTheDescription)
{
    std::mt19937 random(21);
    for (const ReduceKernels& kernels : supportedReduceKernels()) {
        SCOPED_TRACE(kernels.name);
        for (int columns = 0; columns <= 200; ++columns) {
            const Plane grey = greyPlane(columns, 1, random);
            const auto used = std::ptrdiff_t(columns + 7) / 8;
            Bytes line(grey.bytes);
            line.resize(line.size() + 64, 0x5A);  // a stray byte after the line must not matter
            ASSERT_EQ(kernels.greyPack(line.data(), columns), -1) << columns;
            Bytes moved(line);
            kernels.compact(moved.data(), used, moved.data());
            ASSERT_TRUE(std::equal(moved.begin(), moved.begin() + used, packedReference(grey).begin())) << columns;
            kernels.restore(line.data(), used);
            ASSERT_TRUE(std::equal(grey.bytes.begin(), grey.bytes.end(), line.begin())) << columns;
            for (int i = 0; (columns % 23 == 0 || columns == 64 || columns == 65) && i < 3 * columns; ++i) {
                Bytes odd(grey.bytes);
                odd.push_back(odd.back());
                odd[std::size_t(i)] ^= 0x10;
                const Bytes before(odd);
                const std::int64_t written = kernels.greyPack(odd.data(), columns);
                ASSERT_TRUE(written >= 0 && written * 8 <= i / 3) << columns << " byte " << i << ": " << written;
                kernels.restore(odd.data(), written);
                ASSERT_EQ(odd, before) << columns << " byte " << i;
            }
        }
    }
}

}  // namespace
