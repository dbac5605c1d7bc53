#include <climits>
#include <cmath>
#include <numeric>
#include <tuple>

#include <gtest/gtest.h>

#include "image/ImageImpl.h"
#include "ops/NewStrips.h"
#include "ops/ResizeKernels.h"
#include "support/OpsImages.h"
#include "support/TestSupport.h"

namespace {

using trxtest::Plane;
using Bytes = std::vector<unsigned char>;
constexpr auto kRgb = TarvexImage::colourSpaceRGB, kGrey = TarvexImage::colourSpaceGrey,
               kCmyk = TarvexImage::colourSpaceCMYK;

// Slow and obvious, one output sample at a time: the centre of new pixel i lies at
// (i + 0.5) x from / to - 0.5 on the source grid, and the Lagrange cubic through the four
// samples around it, edge samples repeated, gives its value. Lines are resampled across
// in double and kept as float, then summed down in double, rounded and clamped.
Bytes referenceResize(const Plane& in, int width, int height)
{
    auto taps = [](int i, int from, int to, int k[4], double w[4]) {
        const double x = (i + 0.5) * (double(from) / double(to)) - 0.5, t = x - std::floor(x);
        for (int j = 0; j < 4; ++j) {  // nodes at -1, 0, 1 and 2 from floor(x)
            k[j] = std::clamp(int(std::floor(x)) - 1 + j, 0, from - 1);
            w[j] = 1;
            for (int n = -1; n <= 2; ++n)
                w[j] *= n == j - 1 ? 1 : (t - n) / double(j - 1 - n);
        }
    };
    Bytes out;
    int kx[4], ky[4];
    double wx[4], wy[4];
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * in.samples; ++x) {
            taps(x / in.samples, in.columns, width, kx, wx);
            taps(y, in.rows, height, ky, wy);
            double down = 0;
            for (int j = 0; j < 4; ++j) {
                double across = 0;
                for (int i = 0; i < 4; ++i)
                    across += in.at(kx[i], ky[j], x % in.samples) * wx[i];
                down += double(float(across)) * wy[j];
            }
            out.push_back(static_cast<unsigned char>(std::clamp(std::lround(down), 0L, 255L)));
        }
    return out;
}

// Hand-worked lines (the reference is held to them too), then random images of one to
// four samples, an axis kept now and then, sources of one column or line; the new image
// is one strip (far below 16 MiB) with its alpha strip beside it.
TEST(Resize, MatchesTheWorkedExamplesAndTheReference)
{
    const std::tuple<const char*, Bytes, int, Bytes> rows[] = {
        {"4 to 2: sums 43.75 and 233.75", {0, 100, 200, 255}, 2, {44, 234}},
        {"2 to 4: overshoot clamped at both ends", {0, 255}, 4, {0, 60, 195, 255}},
        {"3 to 6: overshoot near the edges", {10, 20, 30}, 6, {9, 12, 17, 23, 28, 31}},
        // Pixel 0 of a 4-to-2 line is exactly 0.5 s0 + 0.5625 s1 - 0.0625 s2.
        {"2.5 rounds away from zero", {5, 0, 0, 0}, 2, {3, 0}},
        {"0.5 rounds away from zero", {1, 2, 18, 0}, 2, {1, 10}},
    };
    for (const auto& [name, in, width, out] : rows) {
        Plane line(int(in.size()), 1, 1);
        line.bytes = in;
        TarvexImage image = trxtest::makeImage(kGrey, line);
        image.resize(width, 1);
        EXPECT_EQ(trxtest::readLines(image), out) << name;
        EXPECT_EQ(referenceResize(line, width, 1), out) << name;
    }
    std::mt19937 random(12);
    const std::pair<TarvexImage::colourSpaceType, int> kinds[] = {{kRgb, 3}, {kCmyk, 4}, {kGrey, 1}};
    for (int round = 0; round < 45; ++round) {
        const auto [space, samples] = kinds[round % 3];
        const int w = round % 7 == 1 ? 1 : 1 + int(random() % 23), h = round % 7 == 2 ? 1 : 1 + int(random() % 17);
        const int width = round % 5 == 3 ? w : 1 + int(random() % 41);
        const int height = round % 5 == 4 && width != w ? h : 1 + int(random() % 29);
        const Plane source(w, h, samples, &random), alpha(w, h, 1, &random);
        TarvexImage image = trxtest::makeImage(space, source, 1 + int(random() % h), round % 2 ? nullptr : &alpha);
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " to " + std::to_string(width) + "x" +
                     std::to_string(height));
        image.resize(width, height);
        if (width == w && height == h)
            continue;
        ASSERT_EQ(trxtest::snapshot(image).first,
                  (std::vector<std::int64_t>{width, height, width * samples, height, 8 * samples, round % 2 == 0, 1}));
        ASSERT_EQ(trxtest::readLines(image), referenceResize(source, width, height));
        ASSERT_EQ(trxtest::readLines(image, true), round % 2 ? Bytes() : referenceResize(alpha, width, height));
    }
    // An alpha channel whose strips were never filled resamples as a zero plane.
    TarvexImage image = trxtest::makeImage(kRgb, Plane(6, 6, 3, &random));
    TarvexImageAccess::impl(image).alphaChannel = 3;
    image.resize(3, 9);
    EXPECT_EQ(trxtest::readLines(image, true), Bytes(27, 0));
}

// Refused calls answer false where they answer at all, leave every byte and the layout
// as they were, and log only what the row names.
TEST(Operations, RefusedCallsChangeNothing)
{
    std::mt19937 random(7);
    const Plane pixels(8, 6, 3, &random), alpha(8, 6, 1, &random);
    auto rgb = [&](bool withAlpha) { return trxtest::makeImage(kRgb, pixels, 2, withAlpha ? &alpha : nullptr); };
    auto reduced = [] {
        TarvexImage image = trxtest::makeImage(kRgb, Plane(9, 3, 3));
        return image.ReduceIfPossible(), image;
    };
    const double nan = std::nan("");
    const Plane bilevel(40, 5, 0);
    // The operation (resize, level, matte, ReduceIfPossible) and its arguments.
    std::tuple<const char*, TarvexImage, char, std::array<double, 3>, std::string> rows[] = {
        {"resize to the same size", rgb(true), 'r', {8, 6}, ""},
        {"resize to no columns", rgb(true), 'r', {0, 6}, ""},
        {"resize to no lines", rgb(true), 'r', {8, 0}, ""},
        {"resize to a negative width", rgb(false), 'r', {-3, 4}, ""},
        {"resize to a line beyond 32 bits", rgb(true), 'r', {INT_MAX, 6}, "a line longer than 2147483647 bytes"},
        {"resize to 30 TB", rgb(true), 'r', {100000000, 100000}, "more memory than this machine has"},
        {"resize a reduced image", reduced(), 'r', {4, 3}, ""},
        {"resize a bilevel image", trxtest::makeImage(TarvexImage::colourSpaceBilevel, bilevel), 'r', {20, 5}, ""},
        {"resize a never sized image", TarvexImage(), 'r', {4, 4}, ""},
        {"level, white at black", rgb(true), 'l', {0.5, 0.5, 1.0}, ""},
        {"level, white below black", rgb(false), 'l', {0.6, 0.4, 1.0}, ""},
        {"level, gamma 0", rgb(false), 'l', {0.0, 1.0, 0.0}, ""},
        {"level, gamma negative", rgb(false), 'l', {0.0, 1.0, -2.0}, ""},
        {"level, black not a number", rgb(false), 'l', {nan, 1.0, 1.0}, ""},
        {"level, gamma not a number", rgb(false), 'l', {0.0, 1.0, nan}, ""},
        {"level a grey image", trxtest::makeImage(kGrey, Plane(8, 3, 1)), 'l', {0.2, 0.8, 2}, ""},
        {"level a reduced image", reduced(), 'l', {0.2, 0.8, 2.0}, ""},
        {"matte on a reduced image", reduced(), 'm', {1}, ""},
        {"matte on no lines", trxtest::makeImage(kRgb, Plane(4, 0, 3)), 'm', {1}, ""},
        {"matte on no columns", trxtest::makeImage(kRgb, Plane(0, 3, 3)), 'm', {1}, ""},
        {"matte false without alpha", rgb(false), 'm', {0}, ""},
        {"matte false keeps alpha", rgb(true), 'm', {0}, ""},
        {"matte true keeps the alpha there", rgb(true), 'm', {1}, ""},
        {"reduce CMYK", trxtest::makeImage(kCmyk, Plane(4, 2, 4)), 'R', {}, ""},
        {"reduce grey", trxtest::makeImage(kGrey, Plane(4, 2, 1)), 'R', {}, ""},
        {"reduce twice", reduced(), 'R', {}, ""},
    };
    for (auto& [name, image, op, a, message] : rows) {
        SCOPED_TRACE(name);
        const auto before = trxtest::snapshot(image);
        trxtest::LogCapture log;
        EXPECT_FALSE(op == 'r'   ? (image.resize(int(a[0]), int(a[1])), false)
                     : op == 'l' ? image.level(a[0], a[1], a[2])
                     : op == 'm' ? (image.matte(a[0] != 0), false)
                                 : image.ReduceIfPossible());
        EXPECT_EQ(trxtest::snapshot(image), before);
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
    TarvexImage large = trxtest::makeImage(kRgb, small, 0, &alpha);
    large.resize(4096, 2731);  // just over 32 MiB: two strips
    const std::int64_t strip = 1366 * 4096;
    EXPECT_EQ(trxtest::stripSizes(large), std::vector<std::int64_t>({3 * strip, 3 * strip, -1, strip, strip, -1}));
    EXPECT_EQ(trxtest::alphaLineBytes(large, 2730), Bytes(4096, 0));
    EXPECT_EQ(trxtest::alphaLineBytes(large, 2731), Bytes());
    const std::tuple<std::int64_t, std::int64_t, std::vector<std::int64_t>, std::wstring> rows[] = {
        {24000000, 10, {14, 1, 10}, L""},  // 4 x 4 RGB to 8 000 000 x 10
        {std::int64_t(1) << 25, 1, {2, 1, 1}, L""},
        {INT32_MAX, std::int64_t(1) << 20, {0, 0, 0}, L"more bytes than the address space holds"},
    };
    for (const auto& [lineBytes, lines, layout, refusal] : rows) {
        NewLayout plan;
        const wchar_t* why = planNewStrips(lineBytes, lines, plan);
        EXPECT_EQ(why ? why : L"", refusal) << lineBytes;
        EXPECT_EQ(std::vector<std::int64_t>({plan.strips, plan.linesPerStrip, plan.heldStrips}), layout) << lineBytes;
    }
}

// Every kernel against hand-worked sums (exact halves, and one unit in the last place
// below a half) and against the plain one on samples far outside 0..255; the plain
// horizontal loop writes nothing past its samples.
TEST(ResizeKernels, EveryVariantAgreesWithThePlainOne)
{
    const auto kernels = supportedResizeKernels();
    std::mt19937 random(13);
    std::uniform_real_distribution<double> weight(-0.3, 1.2);
    const int pixels = 37, width = 29, count = 203;
    std::vector<float> rows[4];
    for (auto& row : rows)
        for (int j = 0; j < count; ++j)
            row.push_back(float(int(random() % 1400) - 400) / 4.0f);  // quarters: many exact halves
    std::copy_n(std::vector<float>{0.5f, 2.5f, 1.5f, 254.5f}.begin(), 4, rows[0].begin() + 5);
    const float* lines[4] = {rows[0].data(), rows[1].data(), rows[2].data(), rows[3].data()};
    // 0.5 x (1 - 2^-53) is the double just below one half.
    std::vector<std::vector<double>> weightSets = {{1.0 - std::ldexp(1.0, -53), 0, 0, 0}, {1, 0, 0, 0}};
    for (int k = 0; k < 4; ++k)
        weightSets.push_back({weight(random), weight(random), weight(random), weight(random)});
    Bytes bytes(256), plainOut(count), out(count);
    std::iota(bytes.begin(), bytes.end(), 0);
    for (const ResizeKernels* kernel : kernels) {
        SCOPED_TRACE(kernel->name);
        for (int samples : {1, 2, 3, 4}) {
            std::vector<double> padded(pixels * samples + 4), weights(4 * width);
            std::vector<std::int32_t> base(width);
            std::generate(padded.begin(), padded.end(), [&] { return double(random() % 256); });
            std::generate(base.begin(), base.end(), [&] { return int(random() % (pixels - 3)); });
            std::generate(weights.begin(), weights.end(), [&] { return weight(random); });
            std::vector<float> a(width * samples + 4), b(width * samples + 4, -1.0f);
            kernel->horizontal(padded.data(), base.data(), weights.data(), width, samples, a.data());
            kernels[0]->horizontal(padded.data(), base.data(), weights.data(), width, samples, b.data());
            EXPECT_EQ(std::vector<float>(b.end() - 4, b.end()), std::vector<float>(4, -1.0f));
            EXPECT_TRUE(std::equal(b.begin(), b.end() - 4, a.begin())) << samples << " samples";
        }
        for (std::size_t w = 0; w < weightSets.size(); ++w) {
            kernel->vertical(lines, weightSets[w].data(), count, out.data());
            kernels[0]->vertical(lines, weightSets[w].data(), count, plainOut.data());
            EXPECT_EQ(out, plainOut);
            const Bytes got(out.begin() + 5, out.begin() + 9);  // halves round up, the double below one down
            EXPECT_EQ(got, w == 0 ? Bytes({0, 2, 1, 254}) : w == 1 ? Bytes({1, 3, 2, 255}) : got);
        }
        std::vector<double> widened(256);
        kernel->widen(bytes.data(), 256, widened.data());
        EXPECT_EQ(widened, std::vector<double>(bytes.begin(), bytes.end()));
    }
}

}  // namespace
