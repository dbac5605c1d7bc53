#include <cmath>
#include <numeric>
#include <tuple>

#include <gtest/gtest.h>

#include "support/OpsImages.h"

namespace {

using trxtest::Plane;

// Straight from the described curves, one sample at a time; NaN fails every comparison.
int referenceCurve(bool cmyk, int v, double low, double high, double gamma)
{
    const double s = v / 255.0;
    if (cmyk) {
        const double f = std::pow((s - high) / (low - high), gamma) * (low - high) + high;
        return int(std::trunc((f > 1.0 ? 1.0 : f >= 0.0 ? f : 0.0) * 255.0));
    }
    const double t = (s - low) / (high - low), r = std::pow(t > 1.0 ? 1.0 : t >= 0.0 ? t : 0.0, 1 / gamma) * 255.0;
    return int(std::trunc(r > 255.0 ? 255.0 : r >= 0.0 ? r : 0.0));
}

// The hand-worked values hold for the reference that random images are then held to;
// round 0 is the identity on a one-column image.
TEST(Level, MatchesTheWorkedExamplesAndTheReferenceAndKeepsAlpha)
{
    std::vector<int> all(256);
    std::iota(all.begin(), all.end(), 0);
    const std::tuple<bool, double, double, double, std::vector<int>, std::vector<int>> rows[] = {
        {false, 0.0, 1.0, 1.0, all, all},  // identity on RGB
        {true, 0.0, 1.0, 1.0, {0, 1, 128, 255}, {0, 0, 128, 255}},
        {false, 0.2, 0.8, 2.0, {0, 51, 100, 128, 255, 204}, {0, 0, 144, 180, 255, 255}},
        {false, 0.0, 1.0, 2.2, {1, 64, 128, 192}, {20, 136, 186, 224}},
        {true, 0.0, 1.0, 2.0, {128, 255, 0}, {191, 255, 0}},
        // Past the white point the base is negative: no number, unless the gamma is whole.
        {true, 0.1, 0.9, 1.5, {0, 20, 26, 100, 200, 229, 230, 255}, {0, 17, 26, 126, 218, 229, 0, 0}},
        {true, 0.1, 0.9, 2.0, {255}, {226}},
    };
    for (const auto& [cmyk, low, high, gamma, in, out] : rows)
        for (std::size_t i = 0; i < in.size(); ++i)
            EXPECT_EQ(referenceCurve(cmyk, in[i], low, high, gamma), out[i]) << low << " " << high << " " << gamma;
    std::mt19937 random(11);
    std::uniform_real_distribution<double> point(-0.2, 1.2), exponent(0.05, 4.0);
    for (int round = 0; round < 40; ++round) {
        const bool cmyk = round % 2 == 1;
        const int columns = round % 10 == 0 ? 1 : 1 + int(random() % 90), rows = 1 + int(random() % 9);
        const Plane source(columns, rows, cmyk ? 4 : 3, &random), alpha(columns, rows, 1, &random);
        TarvexImage image = trxtest::makeImage(cmyk ? TarvexImage::colourSpaceCMYK : TarvexImage::colourSpaceRGB,
                                               source, 1 + int(random() % rows), round % 3 ? nullptr : &alpha);
        const auto [low, high] = round ? std::minmax({point(random), point(random)}) : std::pair(0.0, 1.0);
        const double gamma = round % 5 == 0 ? double(1 + round % 3) : exponent(random);
        ASSERT_TRUE(image.level(low, high, gamma));
        std::vector<unsigned char> expected(source.bytes);
        for (auto& b : expected)
            b = static_cast<unsigned char>(referenceCurve(cmyk, b, low, high, gamma));
        ASSERT_EQ(trxtest::readLines(image), expected) << round << ": " << low << " " << high << " " << gamma;
        EXPECT_EQ(trxtest::readLines(image, true), round % 3 ? std::vector<unsigned char>() : alpha.bytes);
    }
    // No sample to change, whatever the colour model: done.
    for (TarvexImage empty : {TarvexImage(), trxtest::makeImage(TarvexImage::colourSpaceRGB, Plane(10, 0, 3)),
                              trxtest::makeImage(TarvexImage::colourSpaceCMYK, Plane(0, 4, 4))})
        EXPECT_TRUE(empty.level(0.1, 0.9, 1.0));
}

}  // namespace
