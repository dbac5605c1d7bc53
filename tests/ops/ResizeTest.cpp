#include <climits>
#include <cmath>

#include <gtest/gtest.h>

#include "image/ImageImpl.h"
#include "ops/NewStrips.h"
#include "ops/ResizeKernels.h"
#include "support/OpsImages.h"
#include "support/TestSupport.h"

namespace {

using trxtest::Plane;

// The resampling as described: weight records per axis, a whole float plane of
// horizontally resampled source lines, then the vertical pass with lround and clamps.
struct Record {
    int first;
    double w[4];
};

std::vector<Record> weightTable(int source, int destination)
{
    std::vector<Record> table;
    const double ratio = double(source) / double(destination);
    for (int i = 0; i < destination; ++i) {
        const double x = (i + 0.5) * ratio - 0.5;
        Record r;
        r.first = int(std::floor(x));
        const double t = x - r.first;
        r.w[0] = -(t - 1) * (t) * (t - 2) / 6;
        r.w[1] = (t + 1) * (t - 1) * (t - 2) * 0.5;
        r.w[2] = -(t + 1) * (t) * (t - 2) * 0.5;
        r.w[3] = (t + 1) * (t) * (t - 1) / 6;
        table.push_back(r);
    }
    return table;
}

int tap(const Record& r, int j, int size)
{
    int k = r.first - 1 + j;
    if (k > size - 1)
        k = size - 1;
    if (k < 0)
        k = 0;
    return k;
}

Plane referenceResize(const Plane& in, int width, int height)
{
    const int b = in.samples;
    const auto across = weightTable(in.columns, width);
    const auto down = weightTable(in.rows, height);
    std::vector<std::vector<float>> plane(in.rows, std::vector<float>(std::size_t(width) * b, 0.0f));
    for (int y = 0; y < in.rows; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < b; ++c) {
                const Record& r = across[x];
                double sum = double(in.at(tap(r, 0, in.columns), y, c)) * r.w[0] + 0;
                for (int j = 1; j < 4; ++j)
                    sum = sum + double(in.at(tap(r, j, in.columns), y, c)) * r.w[j];
                plane[y][std::size_t(x) * b + c] = float(sum);
            }
    Plane out(width, height, b);
    for (int y = 0; y < height; ++y) {
        const Record& r = down[y];
        for (int j = 0; j < width * b; ++j) {
            double sum = double(plane[tap(r, 0, in.rows)][j]) * r.w[0] + 0;
            for (int k = 1; k < 4; ++k)
                sum = sum + double(plane[tap(r, k, in.rows)][j]) * r.w[k];
            long v = std::lround(sum);
            v = std::min(v, 255L);
            v = std::max(v, 0L);
            out.bytes[std::size_t(y) * width * b + j] = static_cast<unsigned char>(v);
        }
    }
    return out;
}

Plane colourOf(TarvexImage& image, int samples)
{
    Plane p = trxtest::colourPlane(image);
    p.columns /= samples;
    p.samples = samples;
    return p;
}

std::vector<int> resizedGreyLine(const std::vector<int>& values, int width)
{
    Plane line(int(values.size()), 1, 1);
    for (std::size_t i = 0; i < values.size(); ++i)
        line.bytes[i] = static_cast<unsigned char>(values[i]);
    TarvexImage image = trxtest::makeImage(TarvexImage::colourSpaceGrey, line);
    image.resize(width, 1);
    const Plane out = trxtest::colourPlane(image);
    return std::vector<int>(out.bytes.begin(), out.bytes.end());
}

TEST(Resize, WorkedExamples)
{
    EXPECT_EQ(resizedGreyLine({0, 100, 200, 255}, 2), (std::vector<int>{44, 234}));
    EXPECT_EQ(resizedGreyLine({0, 255}, 4), (std::vector<int>{0, 60, 195, 255}));
    EXPECT_EQ(resizedGreyLine({10, 20, 30}, 6), (std::vector<int>{9, 12, 17, 23, 28, 31}));
}

TEST(Resize, HalvesRoundAwayFromZero)
{
    // Pixel 0 of a 4-to-2 line is 0.5 s0 + 0.5625 s1 - 0.0625 s2, exactly.
    EXPECT_EQ(resizedGreyLine({5, 0, 0, 0}, 2)[0], 3);   // 2.5
    EXPECT_EQ(resizedGreyLine({1, 2, 18, 0}, 2)[0], 1);  // 0.5
}

TEST(Resize, RgbSamplesAreResampledApart)
{
    Plane line(4, 1, 3);
    const int values[4] = {0, 100, 200, 255};
    for (int x = 0; x < 4; ++x) {
        line.at(x, 0, 0) = static_cast<unsigned char>(values[x]);
        line.at(x, 0, 1) = static_cast<unsigned char>(255 - values[x]);
        line.at(x, 0, 2) = 7;
    }
    TarvexImage image = trxtest::makeImage(TarvexImage::colourSpaceRGB, line);
    image.resize(2, 1);
    EXPECT_EQ(trxtest::lineBytes(image, 0), (std::vector<unsigned char>{44, 211, 7, 234, 21, 7}));
}

TEST(Resize, ConstantImageStaysConstant)
{
    Plane flat(13, 7, 4);
    flat.bytes.assign(flat.bytes.size(), 173);
    TarvexImage image = trxtest::makeImage(TarvexImage::colourSpaceCMYK, flat);
    image.resize(31, 5);
    Plane expected(31, 5, 4);
    expected.bytes.assign(expected.bytes.size(), 173);
    EXPECT_EQ(colourOf(image, 4), expected);
}

TEST(Resize, SingleColumnOrLineRepeatsItsSamples)
{
    std::mt19937 random(5);
    const Plane column = trxtest::randomPlane(1, 6, 3, random);
    TarvexImage tall = trxtest::makeImage(TarvexImage::colourSpaceRGB, column);
    tall.resize(5, 6);
    const Plane out = colourOf(tall, 3);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 5; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(out.at(x, y, c), column.at(0, y, c));

    const Plane line = trxtest::randomPlane(6, 1, 1, random);
    TarvexImage wide = trxtest::makeImage(TarvexImage::colourSpaceGrey, line);
    wide.resize(6, 4);
    const Plane down = trxtest::colourPlane(wide);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            ASSERT_EQ(down.at(x, y, 0), line.at(x, 0, 0));
}

TEST(Resize, UnchangedAxisCopiesTheRoundedOtherPass)
{
    // With one axis unchanged its weights are (0, 1, 0, 0): a one-line resize of each
    // line, or a one-column resize of each column.
    std::mt19937 random(6);
    const Plane source = trxtest::randomPlane(9, 1, 3, random);
    Plane twice(9, 2, 3);
    std::copy(source.bytes.begin(), source.bytes.end(), twice.bytes.begin());
    std::copy(source.bytes.begin(), source.bytes.end(), twice.bytes.begin() + 27);
    TarvexImage image = trxtest::makeImage(TarvexImage::colourSpaceRGB, twice);
    image.resize(14, 2);
    const Plane line = referenceResize(source, 14, 1);
    EXPECT_EQ(trxtest::lineBytes(image, 0), line.bytes);
    EXPECT_EQ(trxtest::lineBytes(image, 1), line.bytes);
}

TEST(Resize, RefusedSizesAndImagesChangeNothing)
{
    std::mt19937 random(7);
    TarvexImage image = trxtest::makeImage(TarvexImage::colourSpaceRGB, trxtest::randomPlane(8, 6, 3, random), 2);
    trxtest::setAlpha(image, trxtest::randomPlane(8, 6, 1, random));
    const auto before = trxtest::snapshot(image);
    trxtest::LogCapture log;
    for (auto size :
         std::vector<std::pair<int, int>>{{8, 6}, {0, 6}, {8, 0}, {-3, 4}, {4, -1}, {INT_MAX, 6}, {100000000, 100000}})
        image.resize(size.first, size.second);
    EXPECT_TRUE(trxtest::snapshot(image) == before);
    // Only the sizes that cannot be held say why (30 TB of strips fit no machine); the
    // others are silent.
    EXPECT_EQ(log.utf8(), (std::vector<std::string>{
                              "[TRXImage] resize() refused for 2147483647 x 6 pixels: a line longer than "
                              "2147483647 bytes\n",
                              "[TRXImage] resize() refused for 100000000 x 100000 pixels: more memory than this "
                              "machine has\n"}));

    TarvexImage reduced = trxtest::makeImage(TarvexImage::colourSpaceRGB, Plane(8, 6, 3));
    ASSERT_TRUE(reduced.ReduceIfPossible());
    const auto packed = trxtest::snapshot(reduced);
    reduced.resize(4, 3);
    EXPECT_TRUE(trxtest::snapshot(reduced) == packed);

    TarvexImage bilevel;
    bilevel.colourSpace(TarvexImage::colourSpaceBilevel);
    bilevel.size(40, 5, 0, 0, nullptr, nullptr);
    const auto bits = trxtest::snapshot(bilevel);
    bilevel.resize(20, 5);
    EXPECT_TRUE(trxtest::snapshot(bilevel) == bits);

    TarvexImage empty;
    empty.resize(4, 4);
    EXPECT_EQ(empty.columns(), 0);
}

TEST(Resize, NewStripsFollowTheSixteenMebibyteRule)
{
    TarvexImage small = trxtest::makeImage(TarvexImage::colourSpaceRGB, Plane(4, 40, 3), 8);
    small.resize(1000, 300);
    EXPECT_EQ(small.stripCount(), 1);
    EXPECT_EQ(small.linesPerStrip(), 300);
    EXPECT_EQ(small.bytesPerLine(), 3000);
    EXPECT_EQ(small.strips()[0].Size(), 900000u);

    // 4096 x 3414 x 3 bytes is a little over 40 MiB: two strips, the last one full size.
    TarvexImage large = trxtest::makeImage(TarvexImage::colourSpaceRGB, Plane(3, 3, 3));
    trxtest::setAlpha(large, Plane(3, 3, 1));
    large.resize(4096, 3413);
    EXPECT_EQ(large.stripCount(), 2);
    EXPECT_EQ(large.linesPerStrip(), 1707);
    ASSERT_EQ(large.strips().size(), 2u);
    EXPECT_EQ(large.strips()[1].Size(), 1707u * 4096 * 3);
    ASSERT_EQ(large.alphaStrips().size(), 2u);
    EXPECT_EQ(large.alphaStrips()[1].Size(), 1707u * 4096);
    TarvexImage::LinePointer line;
    ASSERT_TRUE(large.setupAlphaLinePointer(line, 3412));
    EXPECT_EQ(line.get()[4095], 0);  // a zero alpha plane resamples to zeros
}

// Lines longer than 16 MiB give more strips than lines: one line each, and the strips
// past the last line stay empty (4 x 4 RGB to 8 000 000 x 10: 14 strips, 10 used).
TEST(Resize, NewLayoutHoldsEveryLineWithinThirtyTwoBitOffsets)
{
    struct Row {
        std::int64_t lineBytes, rows;
        std::int64_t strips, linesPerStrip, heldStrips;
        const wchar_t* refusal;
    };
    const Row rows[] = {
        {24000000, 10, 14, 1, 10, nullptr},
        {std::int64_t(1) << 25, 1, 2, 1, 1, nullptr},
        {INT32_MAX, std::int64_t(1) << 20, 0, 0, 0, L"more bytes than the address space holds"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.lineBytes) + " x " + std::to_string(row.rows));
        NewLayout layout;
        const wchar_t* refusal = planNewStrips(row.lineBytes, row.rows, layout);
        EXPECT_EQ(std::wstring(refusal ? refusal : L""), std::wstring(row.refusal ? row.refusal : L""));
        if (refusal)
            continue;
        EXPECT_EQ(layout.strips, row.strips);
        EXPECT_EQ(layout.linesPerStrip, row.linesPerStrip);
        EXPECT_EQ(layout.heldStrips, row.heldStrips);
    }
}

TEST(Resize, RandomImagesMatchReferenceWithAlpha)
{
    std::mt19937 random(12);
    const TarvexImage::colourSpaceType spaces[] = {TarvexImage::colourSpaceRGB, TarvexImage::colourSpaceCMYK,
                                                   TarvexImage::colourSpaceGrey};
    const int samplesOf[] = {3, 4, 1};
    for (int round = 0; round < 45; ++round) {
        const int kind = round % 3;
        const int w = 1 + int(random() % 23), h = 1 + int(random() % 17);
        const int width = 1 + int(random() % 41), height = 1 + int(random() % 29);
        const Plane source = trxtest::randomPlane(w, h, samplesOf[kind], random);
        TarvexImage image = trxtest::makeImage(spaces[kind], source, 1 + int(random() % h));
        const bool alpha = round % 2 == 0;
        const Plane alphaSource = trxtest::randomPlane(w, h, 1, random);
        if (alpha)
            trxtest::setAlpha(image, alphaSource);
        image.resize(width, height);
        if (width == w && height == h)
            continue;
        ASSERT_EQ(image.columns(), width);
        ASSERT_EQ(image.rows(), height);
        ASSERT_EQ(colourOf(image, samplesOf[kind]), referenceResize(source, width, height))
            << "round " << round << ": " << w << "x" << h << " to " << width << "x" << height;
        ASSERT_EQ(image.matte(), alpha);
        if (alpha) {
            EXPECT_EQ(image.alphaStrips().size(), image.strips().size());
            EXPECT_EQ(trxtest::alphaPlane(image), referenceResize(alphaSource, width, height));
        }
    }
}

// An alpha channel whose strips were never filled resamples as a zero plane.
TEST(Resize, AlphaChannelWithoutStripsBecomesZeroStrips)
{
    std::mt19937 random(15);
    TarvexImage image = trxtest::makeImage(TarvexImage::colourSpaceRGB, trxtest::randomPlane(6, 6, 3, random));
    TarvexImageAccess::impl(image).alphaChannel = 3;
    ASSERT_TRUE(image.matte());
    image.resize(3, 9);
    ASSERT_EQ(image.alphaStrips().size(), image.strips().size());
    EXPECT_EQ(trxtest::alphaPlane(image), Plane(3, 9, 1));
}

// Every vector kernel against the plain one on the same inputs, including sums that
// land exactly on halves, sums one unit in the last place below a half, and samples
// far outside 0..255.
TEST(ResizeKernels, VectorKernelsAgreeWithPlainOnes)
{
    const auto kernels = supportedResizeKernels();
    const ResizeKernels& plain = *kernels.front();
    std::mt19937 random(13);
    std::uniform_real_distribution<double> weight(-0.3, 1.2);
    std::vector<double> padded;
    std::vector<std::int32_t> base;
    std::vector<double> weights;
    const int pixels = 37, width = 29;
    std::vector<float> rows[4];
    const int count = 203;
    for (auto& row : rows) {
        row.resize(count);
        for (auto& v : row)
            v = float(int(random() % 1400) - 400) / 4.0f;  // quarters: many exact halves
    }
    rows[0][5] = 0.5f;
    rows[0][6] = 2.5f;
    rows[0][7] = 1.5f;
    rows[0][8] = 254.5f;
    const float* pointers[4] = {rows[0].data(), rows[1].data(), rows[2].data(), rows[3].data()};
    const double belowOne = 1.0 - std::ldexp(1.0, -53);
    const double weightSets[4][4] = {
        {0, 1, 0, 0}, {0.5, 0.25, 0.25, 0}, {-0.0625, 0.5625, 0.5625, -0.0625}, {belowOne, 0, 0, 0}};
    for (const ResizeKernels* fast : kernels) {
        SCOPED_TRACE(fast->name);
        for (int samples : {1, 2, 3, 4}) {
            padded.assign(pixels * samples + 4, 0.0);
            for (auto& v : padded)
                v = double(random() % 256);
            base.resize(width);
            weights.resize(4 * width);
            for (int x = 0; x < width; ++x) {
                base[x] = int(random() % (pixels - 3));
                for (int j = 0; j < 4; ++j)
                    weights[4 * x + j] = weight(random);
            }
            std::vector<float> a(width * samples + 4), b(width * samples + 4);
            fast->horizontal(padded.data(), base.data(), weights.data(), width, samples, a.data());
            plain.horizontal(padded.data(), base.data(), weights.data(), width, samples, b.data());
            a.resize(width * samples);
            b.resize(width * samples);
            EXPECT_EQ(a, b) << samples << " samples";
        }
        for (const auto& w : weightSets) {
            std::vector<unsigned char> a(count), b(count);
            fast->vertical(pointers, w, count, a.data());
            plain.vertical(pointers, w, count, b.data());
            EXPECT_EQ(a, b);
        }
        std::vector<unsigned char> bytes(21);
        for (auto& v : bytes)
            v = static_cast<unsigned char>(random());
        std::vector<double> wa(21), wb(21);
        fast->widen(bytes.data(), 21, wa.data());
        plain.widen(bytes.data(), 21, wb.data());
        EXPECT_EQ(wa, wb);
    }
    // 0.5 x (1 - 2^-53) is the double just below one half: it rounds to 0, not 1.
    std::vector<unsigned char> out(count);
    plain.vertical(pointers, weightSets[3], count, out.data());
    EXPECT_EQ(out[5], 0);
    EXPECT_EQ(out[6], 2);
    EXPECT_EQ(out[8], 254);
    const double firstRow[4] = {1, 0, 0, 0};
    plain.vertical(pointers, firstRow, count, out.data());
    EXPECT_EQ(out[5], 1);
    EXPECT_EQ(out[6], 3);
    EXPECT_EQ(out[7], 2);
    EXPECT_EQ(out[8], 255);
}

}  // namespace
