#include <cmath>
#include <iterator>
#include <tuple>

#include <gtest/gtest.h>

#include "ops/NewStrips.h"
#include "ops/ReduceKernels.h"
#include "ops/ResizeKernels.h"
#include "support/OpsImages.h"
#include "support/TestSupport.h"

namespace {

using namespace trxtest;
constexpr auto kRgb = TarvexImage::colourSpaceRGB, kGrey = TarvexImage::colourSpaceGrey,
               kCmyk = TarvexImage::colourSpaceCMYK;

unsigned long rgb(unsigned b0, unsigned b1, unsigned b2) { return b0 | (b1 << 8) | (b2 << 16); }

// Only the three low bytes count; each list is stored over a longer one.
TEST(ColourMap, NearestIsTheFirstEntryOfSmallestSummedByteDistance)
{
    const std::tuple<const char*, std::vector<unsigned long>, unsigned long, int> rows[] = {
        {"empty list", {}, 0, -1},
        {"every byte counts: 30, 30, 30, 27", {rgb(30, 0, 0), rgb(0, 30, 0), rgb(0, 0, 30), rgb(9, 9, 9)}, 0, 3},
        {"a tie goes to the lowest index", {rgb(255, 0, 0), rgb(0, 0, 255), rgb(0, 255, 0)}, 0, 0},
        {"top byte of the query ignored", {rgb(1, 1, 1), 0}, 0xFF000000ul, 1},
    };
    for (const auto& [name, map, query, nearest] : rows) {
        TarvexImage image;
        image.colourMapSize(7);
        image.colourMap(3, 1);  // sizing again must drop it, or it would win
        image.colourMapSize(unsigned(map.size()));
        for (std::size_t i = 0; i < map.size(); ++i)
            image.colourMap(int(i), map[i]);
        EXPECT_EQ(image.FindNearestColourMap(query), nearest) << name;
    }
}

// Random images are held to the reference, integer gammas and points outside 0..1 among
// them (a negative base has no power); round 0 is the identity on a one-column image.
// No sample to change: done.
TEST(Level, MatchesTheReferenceAndKeepsAlpha)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<double> point(-0.2, 1.2), exponent(0.05, 4.0);
    for (int round = 0; round < 40; ++round) {
        const bool cmyk = round % 2 == 1;
        const int columns = round % 10 == 0 ? 1 : 1 + int(random() % 90), rows = 1 + int(random() % 9);
        const Plane source(columns, rows, cmyk ? 4 : 3, &random), alpha(columns, rows, 1, &random);
        TarvexImage image = makeImage(cmyk ? kCmyk : kRgb, source, 1 + int(random() % rows), round % 3 ? 0 : &alpha);
        const auto [low, high] = round ? std::minmax({point(random), point(random)}) : std::pair(0.0, 1.0);
        const double gamma = round % 5 == 0 ? double(1 + round % 3) : exponent(random);
        ASSERT_TRUE(image.level(low, high, gamma));
        Bytes expected(source.bytes.size());
        // The reference: straight from the described curves, one sample at a time; NaN
        // fails every comparison.
        std::transform(source.bytes.begin(), source.bytes.end(), expected.begin(), [&](int v) {
            const double s = v / 255.0;
            if (cmyk) {
                const double f = std::pow((s - high) / (low - high), gamma) * (low - high) + high;
                return int(std::trunc((f > 1.0 ? 1.0 : f >= 0.0 ? f : 0.0) * 255.0));
            }
            const double t = (s - low) / (high - low);
            const double r = std::pow(t > 1.0 ? 1.0 : t >= 0.0 ? t : 0.0, 1 / gamma) * 255.0;
            return int(std::trunc(r > 255.0 ? 255.0 : r >= 0.0 ? r : 0.0));
        });
        ASSERT_EQ(readLines(image), expected) << round << ": " << low << " " << high << " " << gamma;
        EXPECT_EQ(readLines(image, true), round % 3 ? Bytes() : alpha.bytes);
    }
    for (TarvexImage empty : {TarvexImage(), makeImage(kRgb, Plane(10, 0, 3)), makeImage(kCmyk, Plane(0, 4, 4))})
        EXPECT_TRUE(empty.level(0.1, 0.9, 1.0));
}

// Grey pixels, mostly 0 or 1 (the smallest grey that sets a bit), so both bits occur
// often, and now and then any other grey.
Plane greyPlane(int columns, int rows, std::mt19937& random)
{
    Plane plane(columns, rows, 3, &random);
    for (auto* p = plane.bytes.data(); p < plane.bytes.data() + plane.bytes.size(); p += 3)
        p[1] = p[2] = p[0] = p[0] < 100 ? 0 : p[0] < 180 ? 1 : p[0];
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
// leave it as it was, then grey with alpha added: packed lines in strips of the same
// count, alpha kept. With no pixel to test, every pixel is grey.
TEST(Reduce, GreyImagesPackToOneBitPerPixelAndOthersStayAsTheyWere)
{
    std::mt19937 random(9);
    for (int round = 0; round < 60; ++round) {  // the first widths around the packed bytes and lines
        const int columns = round < 6 ? std::vector{1, 2, 10, 32, 33, 65}[round] : 1 + int(random() % 200);
        const int rows = 1 + int(random() % 7), strips = 1 + int(random() % rows);
        const Plane grey = greyPlane(columns, rows, random), alpha(columns, rows, 1, &random);
        Plane coloured = grey;
        coloured.bytes[coloured.bytes.size() - 1 - random() % (3 * columns)] ^= 1;
        TarvexImage image = makeImage(kRgb, coloured, strips, &alpha);
        const auto before = snapshot(image);
        ASSERT_FALSE(image.ReduceIfPossible()) << columns << " x " << rows;
        ASSERT_EQ(snapshot(image), before);
        image = makeImage(kRgb, grey, strips);
        image.matte(true);  // an opaque plane beside the colour strips
        const std::int64_t linesPerStrip = image.linesPerStrip(), packed = 4 * ((columns + 31) / 32);
        ASSERT_TRUE(image.ReduceIfPossible());
        EXPECT_EQ(snapshot(image).first,
                  (std::vector<std::int64_t>{columns, rows, packed, linesPerStrip, 8, 1, strips}));
        ASSERT_EQ(readLines(image), packedReference(grey)) << columns << " x " << rows;
        EXPECT_EQ(readLines(image, true), Bytes(std::size_t(columns * rows), 255));
    }
    for (TarvexImage empty : {TarvexImage(), makeImage(kRgb, Plane(10, 0, 3))})
        EXPECT_TRUE(empty.ReduceIfPossible() && empty.bytesPerLine() == (empty.columns() ? 4 : 0));
}

// Every kernel set this processor runs, on lines up to a few vector blocks long with a
// stray byte after them: grey lines pack over the blue bytes and move to the front; a
// line off grey at one byte reports only blue bytes of grey pixels as written.
TEST(ReduceKernels, EveryVariantTestsAndPacksLikeTheDescription)
{
    std::mt19937 random(21);
    for (const ReduceKernels& kernels : supportedReduceKernels())
        for (int columns = 0; columns <= 1100; columns += columns < 200 ? 1 : 450) {  // 650: a 64-byte block packed
            SCOPED_TRACE(std::string(kernels.name) + ", " + std::to_string(columns) + " columns");
            const Plane grey = greyPlane(columns, 1, random);
            const int step = columns % 23 == 0 || columns == 64 || columns == 65 ? 1 : 3 * columns + 1;
            for (int odd = -1; odd < 3 * columns; odd += step) {  // -1: the line is grey
                Bytes line(grey.bytes), moved((columns + 7) / 8);
                line.resize(line.size() + 64, 0x5A);
                line[std::size_t(std::max(odd, 0))] ^= odd < 0 ? 0 : 0x10;
                const Bytes before(line);
                const std::int64_t written = kernels.greyPack(line.data(), columns);
                ASSERT_TRUE(odd < 0 ? written == -1 : written >= 0 && written * 8 <= odd / 3) << odd << ": " << written;
                kernels.compact(line.data(), (columns + 7) / 8, moved.data());
                EXPECT_TRUE(odd >= 0 || std::equal(moved.begin(), moved.end(), packedReference(grey).begin()));
                kernels.restore(line.data(), odd < 0 ? (columns + 7) / 8 : written);
                ASSERT_EQ(line, before) << odd;
            }
        }
}

// Slow and obvious, one output sample at a time: the centre of new pixel i lies at
// (i + 0.5) x from / to - 0.5 on the source grid, and the Lagrange cubic through the four
// samples around it, edge samples repeated, gives its value. Lines are resampled across
// in double and kept as float, then summed down in double, rounded and clamped.
Bytes referenceResize(const Plane& in, int width, int height)
{
    // Tap j of new index i: the clamped source index, and the Lagrange weight of node j
    // (nodes at -1, 0, 1 and 2 from floor(x)).
    auto tap = [](int i, int from, int to, int j, double& w) {
        const double x = (i + 0.5) * (double(from) / double(to)) - 0.5, t = x - std::floor(x);
        w = 1;
        for (int n = -1; n <= 2; ++n)
            w *= n == j - 1 ? 1 : (t - n) / double(j - 1 - n);
        return std::clamp(int(std::floor(x)) - 1 + j, 0, from - 1);
    };
    Bytes out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * in.samples; ++x) {
            double down = 0, wx, wy;
            for (int j = 0; j < 4; ++j) {
                double across = 0;
                const int ky = tap(y, in.rows, height, j, wy);
                for (int i = 0; i < 4; ++i) {
                    const int kx = tap(x / in.samples, in.columns, width, i, wx);
                    across += in.at(kx, ky, x % in.samples) * wx;
                }
                down += double(float(across)) * wy;
            }
            out.push_back(static_cast<unsigned char>(std::clamp(std::lround(down), 0L, 255L)));
        }
    return out;
}

// One hand-worked line (the reference is held to it too), then random images of one to
// four samples, an axis kept now and then, sources of one column or line; the new image
// is one strip (far below 16 MiB) with its alpha strip beside it.
TEST(Resize, MatchesTheWorkedExampleAndTheReference)
{
    // Pixel 0 of a 4-to-2 line is exactly 0.5 s0 + 0.5625 s1 - 0.0625 s2: 2.5 rounds away from zero.
    Plane line(4, 1, 1);
    line.bytes = {5, 0, 0, 0};
    TarvexImage worked = makeImage(kGrey, line);
    worked.resize(2, 1);
    EXPECT_EQ(std::make_pair(readLines(worked), referenceResize(line, 2, 1)), std::make_pair(Bytes{3, 0}, Bytes{3, 0}));
    std::mt19937 random(12);
    const std::pair<TarvexImage::colourSpaceType, int> kinds[] = {{kRgb, 3}, {kCmyk, 4}, {kGrey, 1}};
    for (int round = 0; round < 45; ++round) {
        const auto [space, samples] = kinds[round % 3];
        const int w = round % 7 == 1 ? 1 : 1 + int(random() % 23), h = round % 7 == 2 ? 1 : 1 + int(random() % 17);
        const int width = round % 5 == 3 ? w : 1 + int(random() % 41);
        const int height = (round % 5 == 4 && width != w) || width == w ? h + (width == w) : 1 + int(random() % 29);
        const Plane source(w, h, samples, &random), alpha(w, h, 1, &random);
        TarvexImage image = makeImage(space, source, 1 + int(random() % h), round % 2 ? nullptr : &alpha);
        SCOPED_TRACE(testing::Message() << w << "x" << h << " to " << width << "x" << height);
        image.resize(width, height);
        ASSERT_EQ(snapshot(image).first,
                  (std::vector<std::int64_t>{width, height, width * samples, height, 8 * samples, round % 2 == 0, 1}));
        ASSERT_EQ(readLines(image), referenceResize(source, width, height));
        ASSERT_EQ(readLines(image, true), round % 2 ? Bytes() : referenceResize(alpha, width, height));
    }
}

// Refused calls answer false where they answer at all, leave every byte and the layout
// as they were, and log only what the row names.
TEST(Operations, RefusedCallsChangeNothing)
{
    std::mt19937 random(7);
    const Plane pixels(8, 6, 3, &random), alpha(8, 6, 1, &random);
    auto rgb = [&](bool withAlpha) { return makeImage(kRgb, pixels, 2, withAlpha ? &alpha : nullptr); };
    TarvexImage reduced = makeImage(kRgb, Plane(9, 3, 3));
    ASSERT_TRUE(reduced.ReduceIfPossible());
    // The operation (resize, level, matte) and its arguments.
    std::tuple<const char*, TarvexImage, char, std::array<double, 3>, std::string> rows[] = {
        {"resize to the same size", rgb(true), 'r', {8, 6}, ""},
        {"resize to no columns", rgb(true), 'r', {0, 6}, ""},
        {"resize to no lines", rgb(true), 'r', {8, 0}, ""},
        {"resize to a line beyond 32 bits", rgb(true), 'r', {INT_MAX, 6}, "a line longer than 2147483647 bytes"},
        {"resize to 30 TB", rgb(true), 'r', {100000000, 100000}, "more memory than this machine has"},
        {"resize a reduced image", reduced, 'r', {4, 3}, ""},
        {"level a reduced image", reduced, 'l', {0.2, 0.8, 2.0}, ""},
        {"level, white at black", rgb(true), 'l', {0.5, 0.5, 1.0}, ""},
        {"level, white below black", rgb(false), 'l', {0.6, 0.4, 1.0}, ""},
        {"level, gamma 0", rgb(false), 'l', {0.0, 1.0, 0.0}, ""},
        {"matte on no lines", makeImage(kRgb, Plane(4, 0, 3)), 'm', {1}, ""},
        {"matte false without alpha", rgb(false), 'm', {0}, ""},
        {"matte true keeps the alpha there", rgb(true), 'm', {1}, ""},
    };
    for (auto& [name, image, op, a, message] : rows) {
        SCOPED_TRACE(name);
        const auto before = snapshot(image);
        LogCapture log;
        EXPECT_FALSE(op == 'r'   ? (image.resize(int(a[0]), int(a[1])), false)
                     : op == 'l' ? image.level(a[0], a[1], a[2])
                                 : (image.matte(a[0] != 0), false));
        EXPECT_EQ(snapshot(image), before);
        const std::string line = "[TRXImage] resize() refused for " + std::to_string(int(a[0])) + " x " +
                                 std::to_string(int(a[1])) + " pixels: " + message + "\n";
        EXPECT_EQ(log.utf8(), message.empty() ? std::vector<std::string>() : std::vector<std::string>{line});
    }
}

// The new layout keeps 16 MiB of lines a strip, every strip full size and no line past
// the last; lines longer than that take one strip each, the strips past the last empty.
TEST(Resize, NewStripsHoldSixteenMebibytesOfLinesOrOneLineEach)
{
    const Plane small(3, 3, 3), alpha(3, 3, 1);
    TarvexImage large = makeImage(kRgb, small, 0, &alpha);
    large.resize(4096, 2731);  // just over 32 MiB: two strips
    const std::int64_t strip = 1366 * 4096;
    EXPECT_EQ(stripSizes(large), std::vector<std::int64_t>({3 * strip, 3 * strip, -1, strip, strip, -1}));
    EXPECT_EQ(alphaLineBytes(large, 2730).size() + alphaLineBytes(large, 2731).size(), 4096u);
    NewLayout plan;  // 4 x 4 RGB to 8 000 000 x 10: 14 strips, 10 of them used
    EXPECT_EQ(planNewStrips(24000000, 10, plan), nullptr);
    EXPECT_EQ(std::vector<std::int64_t>({plan.strips, plan.linesPerStrip, plan.heldStrips}),
              std::vector<std::int64_t>({14, 1, 10}));
}

// Every vertical kernel (not all of them run in a resize here) against the plain one on
// samples far outside 0..255, sums exactly on halves and one unit in the last place below
// a half. The plain horizontal loop writes nothing past its samples; the vector ones run
// in every resize.
TEST(ResizeKernels, EveryVariantAgreesWithThePlainOne)
{
    const auto kernels = supportedResizeKernels();
    std::mt19937 random(13);
    const int count = 203;
    std::vector<float> rows[4];
    for (auto& row : rows)  // quarters far outside 0..255: many exact halves
        std::generate_n(std::back_inserter(row), count, [&] { return float(int(random() % 1400) - 400) / 4.0f; });
    std::copy_n(std::vector<float>{0.5f, 2.5f, 1.5f, 254.5f}.begin(), 4, rows[0].begin() + 5);
    const float* lines[4] = {rows[0].data(), rows[1].data(), rows[2].data(), rows[3].data()};
    // 0.5 x (1 - 2^-53) is the double just below one half.
    const double weightSets[][4] = {{1 - std::ldexp(1.0, -53), 0, 0, 0}, {1, 0, 0, 0}, {0.3, -0.2, 1.1, -0.2}};
    std::vector<double> padded(4 * 4 + 4, 1.0), weights(4 * 2, 0.25);
    std::vector<std::int32_t> base(2, 0);
    std::vector<float> out(2 * 4 + 4, -1.0f);
    kernels[0]->horizontal(padded.data(), base.data(), weights.data(), 2, 4, out.data());
    EXPECT_EQ(out, std::vector<float>({1, 1, 1, 1, 1, 1, 1, 1, -1, -1, -1, -1}));
    for (const ResizeKernels* kernel : kernels) {
        SCOPED_TRACE(kernel->name);
        for (const auto& w : weightSets) {
            Bytes out(count), plain(count);
            kernel->vertical(lines, w, count, out.data());
            kernels[0]->vertical(lines, w, count, plain.data());
            EXPECT_EQ(out, plain);
        }
    }
}

}  // namespace
