#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "support/OpsImages.h"

namespace {

using trxtest::Plane;

// A one-line image whose samples run through `values`, padded with zeros.
TarvexImage imageOf(TarvexImage::colourSpaceType space, const std::vector<int>& values)
{
    const int samples = space == TarvexImage::colourSpaceCMYK ? 4 : 3;
    const int columns = int(values.size() + samples - 1) / samples;
    Plane plane(columns, 1, samples);
    for (std::size_t i = 0; i < values.size(); ++i)
        plane.bytes[i] = static_cast<unsigned char>(values[i]);
    return trxtest::makeImage(space, plane);
}

std::vector<int> levelled(TarvexImage::colourSpaceType space, std::vector<int> values, double low, double high,
                          double gamma)
{
    TarvexImage image = imageOf(space, values);
    EXPECT_TRUE(image.level(low, high, gamma));
    const Plane out = trxtest::colourPlane(image);
    return std::vector<int>(out.bytes.begin(), out.bytes.begin() + std::ptrdiff_t(values.size()));
}

// Straight from the description, one sample at a time, no table.
int referenceCurve(bool cmyk, int v, double low, double high, double gamma)
{
    const double s = v / 255.0;
    if (!cmyk) {
        double t = (s - low) / (high - low);
        t = t > 1.0 ? 1.0 : t;
        t = std::isnan(t) || t < 0.0 ? 0.0 : t;
        double r = std::pow(t, 1 / gamma) * 255.0;
        r = r > 255.0 ? 255.0 : r;
        r = r < 0.0 ? 0.0 : r;
        return int(std::trunc(r));
    }
    double f = std::pow((s - high) / (low - high), gamma) * (low - high) + high;
    f = f > 1.0 ? 1.0 : f;
    f = std::isnan(f) || f < 0.0 ? 0.0 : f;
    return int(std::trunc(f * 255.0));
}

TEST(Level, RefusedArgumentsChangeNothing)
{
    std::mt19937 random(3);
    TarvexImage image = trxtest::makeImage(TarvexImage::colourSpaceRGB, trxtest::randomPlane(7, 5, 3, random));
    const auto before = trxtest::snapshot(image);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(image.level(0.5, 0.5, 1.0));
    EXPECT_FALSE(image.level(0.6, 0.4, 1.0));
    EXPECT_FALSE(image.level(0.0, 1.0, 0.0));
    EXPECT_FALSE(image.level(0.0, 1.0, -2.0));
    EXPECT_FALSE(image.level(nan, 1.0, 1.0));
    EXPECT_FALSE(image.level(0.0, nan, 1.0));
    EXPECT_FALSE(image.level(0.0, 1.0, nan));
    EXPECT_TRUE(trxtest::snapshot(image) == before);
}

TEST(Level, ImagesWithoutThreeOrFourSamplesAreRefused)
{
    Plane grey(8, 3, 1);
    grey.bytes.assign(grey.bytes.size(), 100);
    TarvexImage g = trxtest::makeImage(TarvexImage::colourSpaceGrey, grey);
    auto before = trxtest::snapshot(g);
    EXPECT_FALSE(g.level(0.2, 0.8, 2.0));
    EXPECT_TRUE(trxtest::snapshot(g) == before);

    TarvexImage reduced = trxtest::makeImage(TarvexImage::colourSpaceRGB, Plane(9, 3, 3));
    ASSERT_TRUE(reduced.ReduceIfPossible());
    before = trxtest::snapshot(reduced);
    EXPECT_FALSE(reduced.level(0.2, 0.8, 2.0));
    EXPECT_TRUE(trxtest::snapshot(reduced) == before);
}

TEST(Level, IdentityOnRgbChangesNoByte)
{
    std::vector<int> all(256);
    for (int v = 0; v < 256; ++v)
        all[v] = v;
    EXPECT_EQ(levelled(TarvexImage::colourSpaceRGB, all, 0.0, 1.0, 1.0), all);
}

TEST(Level, IdentityOnCmykLosesOneOnSomeBytes)
{
    const auto out = levelled(TarvexImage::colourSpaceCMYK, {0, 1, 128, 255}, 0.0, 1.0, 1.0);
    EXPECT_EQ(out, (std::vector<int>{0, 0, 128, 255}));
}

TEST(Level, RgbWorkedExamples)
{
    EXPECT_EQ(levelled(TarvexImage::colourSpaceRGB, {0, 51, 100, 128, 255, 204}, 0.2, 0.8, 2.0),
              (std::vector<int>{0, 0, 144, 180, 255, 255}));
    EXPECT_EQ(levelled(TarvexImage::colourSpaceRGB, {1, 64, 128, 192}, 0.0, 1.0, 2.2),
              (std::vector<int>{20, 136, 186, 224}));
}

TEST(Level, CmykWorkedExamples)
{
    EXPECT_EQ(levelled(TarvexImage::colourSpaceCMYK, {128, 255, 0, 128}, 0.0, 1.0, 2.0),
              (std::vector<int>{191, 255, 0, 191}));
    // Above the white point the base is negative and the power is not a number.
    EXPECT_EQ(levelled(TarvexImage::colourSpaceCMYK, {0, 20, 26, 100, 200, 229, 230, 255}, 0.1, 0.9, 1.5),
              (std::vector<int>{0, 17, 26, 126, 218, 229, 0, 0}));
    // An integer gamma follows the sign rules: (-u)^2 is positive again.
    EXPECT_EQ(levelled(TarvexImage::colourSpaceCMYK, {255}, 0.1, 0.9, 2.0)[0],
              referenceCurve(true, 255, 0.1, 0.9, 2.0));
}

TEST(Level, EmptyImagesSucceedUnchanged)
{
    TarvexImage fresh;  // never sized: one byte a pixel, yet no sample to refuse
    EXPECT_TRUE(fresh.level(0.1, 0.9, 1.0));
    TarvexImage noLines;
    noLines.colourSpace(TarvexImage::colourSpaceRGB);
    noLines.size(5, 0, 0, 0, nullptr, nullptr);
    EXPECT_TRUE(noLines.level(0.1, 0.9, 1.0));
    TarvexImage noColumns;
    noColumns.colourSpace(TarvexImage::colourSpaceCMYK);
    noColumns.size(0, 4, 0, 0, nullptr, nullptr);
    EXPECT_TRUE(noColumns.level(0.1, 0.9, 1.0));
}

TEST(Level, RandomImagesMatchReferenceAndKeepAlpha)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<double> point(-0.2, 1.2);
    std::uniform_real_distribution<double> exponent(0.05, 4.0);
    for (int round = 0; round < 60; ++round) {
        const bool cmyk = round % 2 == 1;
        const int samples = cmyk ? 4 : 3;
        const int columns = 1 + int(random() % 90);
        const int rows = 1 + int(random() % 9);
        const Plane source = trxtest::randomPlane(columns, rows, samples, random);
        TarvexImage image = trxtest::makeImage(cmyk ? TarvexImage::colourSpaceCMYK : TarvexImage::colourSpaceRGB,
                                               source, 1 + int(random() % rows));
        const Plane alpha = trxtest::randomPlane(columns, rows, 1, random);
        if (round % 3 == 0)
            trxtest::setAlpha(image, alpha);
        double low = point(random), high = point(random);
        if (low > high)
            std::swap(low, high);
        const double gamma = round % 5 == 0 ? double(1 + round % 3) : exponent(random);
        ASSERT_TRUE(image.level(low, high, gamma));
        Plane expected = source;
        for (auto& b : expected.bytes)
            b = static_cast<unsigned char>(referenceCurve(cmyk, b, low, high, gamma));
        Plane actual = trxtest::colourPlane(image);
        actual.columns = columns;
        actual.samples = samples;
        ASSERT_EQ(actual, expected) << "round " << round << " low " << low << " high " << high << " gamma " << gamma;
        if (round % 3 == 0) {
            EXPECT_EQ(trxtest::alphaPlane(image), alpha);
        }
    }
}

TEST(Level, CallerStripsSharedWithTheImageKeepTheirBytes)
{
    std::mt19937 random(14);
    TarvexImage original = trxtest::makeImage(TarvexImage::colourSpaceRGB, trxtest::randomPlane(9, 5, 3, random), 2);
    const std::vector<trx::MemMapObjectAllocator> callerStrips = original.strips();
    const auto before = trxtest::snapshot(original);
    TarvexImage shared;
    shared.colourSpace(TarvexImage::colourSpaceRGB);
    shared.size(9, 5, 2, 0, &callerStrips, nullptr);
    ASSERT_TRUE(shared.level(0.2, 0.8, 2.0));
    EXPECT_TRUE(trxtest::snapshot(original) == before);
    EXPECT_FALSE(trxtest::snapshot(shared) == before);
}

}  // namespace
