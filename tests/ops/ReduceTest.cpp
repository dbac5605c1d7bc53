#include <gtest/gtest.h>

#include "ops/ReduceKernels.h"
#include "support/OpsImages.h"
#include "support/TestSupport.h"

namespace {

using trxtest::Plane;

Plane greyPlane(int columns, int rows, std::mt19937& random)
{
    Plane plane(columns, rows, 3);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x) {
            // Mostly black, so that set and clear bits both occur often.
            const auto v = static_cast<unsigned char>(random() % 3 == 0 ? random() % 256 : 0);
            for (int c = 0; c < 3; ++c)
                plane.at(x, y, c) = v;
        }
    return plane;
}

// Bit x of a packed line, most significant bit first.
int bitAt(const Plane& packed, int x, int y) { return (packed.at(x / 8, y, 0) >> (7 - x % 8)) & 1; }

TEST(Reduce, BlackAndWhiteBecomesOneBitPerPixel)
{
    Plane plane(10, 2, 3);
    const int white[10] = {1, 0, 1, 1, 0, 0, 0, 1, 1, 0};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 10; ++x)
            for (int c = 0; c < 3; ++c)
                plane.at(x, y, c) = static_cast<unsigned char>(white[(x + y) % 10] ? 255 : 0);
    TarvexImage image = trxtest::makeImage(TarvexImage::colourSpaceRGB, plane);
    ASSERT_TRUE(image.ReduceIfPossible());
    EXPECT_EQ(image.bitsPerPixel(), 8);
    EXPECT_EQ(image.bytesPerLine(), 4);
    EXPECT_EQ(image.colourSpace(), TarvexImage::colourSpaceRGB);
    const Plane packed = trxtest::colourPlane(image);
    EXPECT_EQ(packed.at(0, 0, 0), 0xB1);                    // 1011 0001
    EXPECT_EQ(packed.at(1, 0, 0), 0x80);                    // 10, then zeros
    EXPECT_EQ(packed.at(2, 0, 0) | packed.at(3, 0, 0), 0);  // never written: fresh strip bytes
    EXPECT_EQ(packed.at(0, 1, 0), 0x63);                    // 0110 0011
    EXPECT_EQ(packed.at(1, 1, 0), 0x40);                    // 01, then zeros
}

TEST(Reduce, AnyGreyAboveZeroSetsTheBit)
{
    Plane plane(3, 1, 3);
    const int grey[3] = {0, 1, 128};
    for (int x = 0; x < 3; ++x)
        for (int c = 0; c < 3; ++c)
            plane.at(x, 0, c) = static_cast<unsigned char>(grey[x]);
    TarvexImage image = trxtest::makeImage(TarvexImage::colourSpaceRGB, plane);
    ASSERT_TRUE(image.ReduceIfPossible());
    EXPECT_EQ(trxtest::lineBytes(image, 0)[0], 0x60);
}

TEST(Reduce, PackedLineLengthIsRoundedToFourBytes)
{
    for (auto [columns, bytes] : std::vector<std::pair<int, int>>{{1, 4}, {10, 4}, {32, 4}, {33, 8}, {65, 12}}) {
        TarvexImage image = trxtest::makeImage(TarvexImage::colourSpaceRGB, Plane(columns, 3, 3));
        ASSERT_TRUE(image.ReduceIfPossible());
        EXPECT_EQ(image.bytesPerLine(), bytes) << columns;
        EXPECT_EQ(image.strips()[0].Size(), std::size_t(bytes) * 3);
    }
}

TEST(Reduce, OneColouredPixelAnywhereKeepsTheImage)
{
    std::mt19937 random(4);
    const Plane grey = greyPlane(70, 3, random);
    // Every pixel of the last two lines, each sample in turn, off by one.
    for (int i = 0; i < 140; ++i)
        for (int c = 0; c < 3; ++c) {
            const int x = i % 70, y = 1 + i / 70;
            Plane plane = grey;
            plane.at(x, y, c) = static_cast<unsigned char>(plane.at(x, y, c) ^ 1);
            TarvexImage image = trxtest::makeImage(TarvexImage::colourSpaceRGB, plane, 2);
            const auto before = trxtest::snapshot(image);
            ASSERT_FALSE(image.ReduceIfPossible()) << x << "," << y << " " << c;
            ASSERT_TRUE(trxtest::snapshot(image) == before);
        }
}

TEST(Reduce, OutsideTheDomainReturnsFalseUnchanged)
{
    TarvexImage cmyk = trxtest::makeImage(TarvexImage::colourSpaceCMYK, Plane(4, 2, 4));
    auto before = trxtest::snapshot(cmyk);
    EXPECT_FALSE(cmyk.ReduceIfPossible());
    EXPECT_TRUE(trxtest::snapshot(cmyk) == before);

    TarvexImage grey = trxtest::makeImage(TarvexImage::colourSpaceGrey, Plane(4, 2, 1));
    before = trxtest::snapshot(grey);
    EXPECT_FALSE(grey.ReduceIfPossible());
    EXPECT_TRUE(trxtest::snapshot(grey) == before);

    TarvexImage twice = trxtest::makeImage(TarvexImage::colourSpaceRGB, Plane(4, 2, 3));
    ASSERT_TRUE(twice.ReduceIfPossible());
    before = trxtest::snapshot(twice);
    EXPECT_FALSE(twice.ReduceIfPossible());
    EXPECT_TRUE(trxtest::snapshot(twice) == before);
}

TEST(Reduce, ImageWithoutLinesIsReduced)
{
    TarvexImage image;
    image.colourSpace(TarvexImage::colourSpaceRGB);
    image.size(10, 0, 0, 0, nullptr, nullptr);
    EXPECT_TRUE(image.ReduceIfPossible());
    EXPECT_EQ(image.bitsPerPixel(), 8);
    EXPECT_EQ(image.bytesPerLine(), 4);
    TarvexImage fresh;  // never sized: one byte a pixel, yet no pixel to test
    EXPECT_TRUE(fresh.ReduceIfPossible());
    EXPECT_EQ(fresh.bitsPerPixel(), 8);
}

TEST(Reduce, RandomGreyImagesMatchBitByBitWithAlphaKept)
{
    std::mt19937 random(9);
    for (int round = 0; round < 80; ++round) {
        const int columns = 1 + int(random() % 70), rows = 1 + int(random() % 12);
        const Plane plane = greyPlane(columns, rows, random);
        TarvexImage image = trxtest::makeImage(TarvexImage::colourSpaceRGB, plane, 1 + int(random() % rows));
        const Plane alpha = trxtest::randomPlane(columns, rows, 1, random);
        trxtest::setAlpha(image, alpha);
        const auto alphaBefore = trxtest::snapshot(image).alphaStrips;
        const int strips = image.stripCount();
        ASSERT_TRUE(image.ReduceIfPossible());
        EXPECT_EQ(image.stripCount(), strips);
        const Plane packed = trxtest::colourPlane(image);
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < columns; ++x)
                ASSERT_EQ(bitAt(packed, x, y), plane.at(x, y, 0) != 0 ? 1 : 0) << round << ": " << x << "," << y;
            for (int x = columns; x % 8 != 0; ++x)
                ASSERT_EQ(bitAt(packed, x, y), 0);
        }
        EXPECT_TRUE(image.matte());
        EXPECT_EQ(trxtest::snapshot(image).alphaStrips, alphaBefore);
        EXPECT_EQ(trxtest::alphaPlane(image), alpha);
    }
}

// Every kernel set this processor runs, on lines of every length up to a few vector
// blocks: packed bytes over the blue bytes, moved in place to the front of the line,
// and a failure at each position reporting only blue bytes of grey pixels as written.
TEST(ReduceKernels, EveryVariantTestsAndPacksLikeThePlainLoop)
{
    std::mt19937 random(21);
    for (const ReduceKernels& kernels : supportedReduceKernels()) {
        SCOPED_TRACE(kernels.name);
        for (int columns = 0; columns <= 200; ++columns) {
            const Plane grey = greyPlane(columns, 1, random);
            std::vector<unsigned char> expected((columns + 7) / 8, 0);
            for (int x = 0; x < columns; ++x)
                if (grey.at(x, 0, 0) != 0)
                    expected[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
            std::vector<unsigned char> line(grey.bytes);
            line.resize(line.size() + 64, 0x5A);  // a stray byte after the line must not matter
            ASSERT_EQ(kernels.greyPack(line.data(), columns), -1) << columns;
            for (std::size_t k = 0; k < expected.size(); ++k)
                ASSERT_EQ(line[3 * k + 2], expected[k]) << columns << " byte " << k;
            std::vector<unsigned char> moved(line);
            kernels.compact(moved.data(), std::int64_t(expected.size()), moved.data());
            ASSERT_EQ(std::vector<unsigned char>(moved.begin(), moved.begin() + std::ptrdiff_t(expected.size())),
                      expected)
                << columns;
            kernels.restore(line.data(), std::int64_t(expected.size()));
            line.resize(grey.bytes.size());
            ASSERT_EQ(line, grey.bytes);
            if (columns % 23 != 0 && columns != 64 && columns != 65)
                continue;
            for (int i = 0; i < 3 * columns; ++i) {
                std::vector<unsigned char> odd(grey.bytes);
                odd.push_back(odd.empty() ? 0 : odd.back());
                odd[i] ^= 0x10;
                const std::vector<unsigned char> before(odd);
                const std::int64_t written = kernels.greyPack(odd.data(), columns);
                ASSERT_GE(written, 0) << columns << " byte " << i;
                ASSERT_LE(written * 8, i / 3) << columns << " byte " << i;
                kernels.restore(odd.data(), written);
                ASSERT_EQ(odd, before) << columns << " byte " << i;
            }
        }
    }
}

TEST(Reduce, CallerStripsSharedWithTheImageKeepTheirBytes)
{
    std::mt19937 random(22);
    const Plane grey = greyPlane(40, 6, random);
    TarvexImage original = trxtest::makeImage(TarvexImage::colourSpaceRGB, grey, 2);
    const std::vector<trx::MemMapObjectAllocator> callerStrips = original.strips();
    const auto before = trxtest::snapshot(original);
    TarvexImage shared;
    shared.colourSpace(TarvexImage::colourSpaceRGB);
    shared.size(40, 6, 2, 0, &callerStrips, nullptr);
    ASSERT_TRUE(shared.ReduceIfPossible());
    EXPECT_TRUE(trxtest::snapshot(original) == before);
    const Plane packed = trxtest::colourPlane(shared);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(bitAt(packed, x, y), grey.at(x, y, 0) != 0 ? 1 : 0);
}

}  // namespace
