#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include "image/ImageImpl.h"
#include "image/Log.h"
#include "ops/NewStrips.h"
#include "ops/ResizeKernels.h"
#include "read/ReadLayout.h"

namespace {

// One axis: destination index i samples the source around (i + 0.5) x ratio - 0.5.
struct AxisMap {
    double ratio;

    AxisMap(std::int64_t source, std::int64_t destination)
        : ratio(static_cast<double>(source) / static_cast<double>(destination))
    {}

    // The first of the four source taps of index i, and their weights.
    std::int32_t record(std::int64_t i, double w[4]) const
    {
        const double x = (static_cast<double>(i) + 0.5) * ratio - 0.5;
        const auto first = static_cast<std::int32_t>(std::floor(x));
        const double t = x - first;
        w[0] = -(t - 1) * t * (t - 2) / 6;
        w[1] = (t + 1) * (t - 1) * (t - 2) * 0.5;
        w[2] = -(t + 1) * t * (t - 2) * 0.5;
        w[3] = (t + 1) * t * (t - 1) / 6;
        return first;
    }
};

// The horizontal weight table, used for every source line. Vertical records are made
// as each new line starts, which is once per index as well, and keeps a tall target
// from needing a table many times the size of its pixels.
struct Axis {
    std::vector<std::int32_t> first;
    std::vector<double> weights;  // four per destination index
};

Axis buildAxis(std::int64_t source, std::int64_t destination)
{
    Axis axis;
    axis.first.resize(static_cast<std::size_t>(destination));
    axis.weights.resize(static_cast<std::size_t>(destination) * 4);
    const AxisMap map(source, destination);
    for (std::int64_t i = 0; i < destination; ++i)
        axis.first[static_cast<std::size_t>(i)] = map.record(i, &axis.weights[static_cast<std::size_t>(i) * 4]);
    return axis;
}

std::int64_t clampTap(std::int64_t k, std::int64_t size) { return std::max<std::int64_t>(std::min(k, size - 1), 0); }

// One plane (colour or alpha) of `samples` bytes per pixel, source strips to new
// strips. Only four horizontally resampled rows are kept: the rows each new line needs
// move forward monotonically, so every source line is resampled at most once and the
// floats the vertical pass reads are the ones a whole intermediate plane would hold.
class PlaneResampler {
public:
    PlaneResampler(const Axis& horizontal, const AxisMap& vertical, std::int64_t width, std::int64_t height,
                   std::int64_t newWidth, std::int64_t newHeight, int samples)
        : vertical_(vertical), width_(width), height_(height), newWidth_(newWidth), newHeight_(newHeight),
          samples_(samples), kernels_(resizeKernels())
    {
        // Repeat the edge pixels wide enough that every tap lands inside the padded line.
        std::int64_t lowest = 0, highest = width - 1;
        for (std::int32_t first : horizontal.first) {
            lowest = std::min<std::int64_t>(lowest, std::int64_t(first) - 1);
            highest = std::max<std::int64_t>(highest, std::int64_t(first) + 2);
        }
        padLeft_ = -lowest;
        paddedPixels_ = highest + 1 + padLeft_;
        base_.resize(horizontal.first.size());
        for (std::size_t i = 0; i < base_.size(); ++i)
            base_[i] = static_cast<std::int32_t>(horizontal.first[i] - 1 + padLeft_);
        hWeights_ = horizontal.weights.data();
        padded_.resize(static_cast<std::size_t>(paddedPixels_ * samples + 4));
        rowLength_ = newWidth * samples + 4;
        ring_.resize(static_cast<std::size_t>(4 * rowLength_));
    }

    void run(const StripVector& source, std::int64_t sourceLinesPerStrip, std::int64_t sourceLineBytes,
             const StripVector& target, std::int64_t targetLinesPerStrip, std::int64_t targetLineBytes)
    {
        std::array<std::int64_t, 4> held{-1, -1, -1, -1};
        trx::MemMapObjectMapper sourceView(0);
        trx::MemMapObjectMapper targetView(0);
        for (std::int64_t y = 0; y < newHeight_; ++y) {
            double weights[4];
            const std::int64_t first = vertical_.record(y, weights);
            const float* rows[4];
            for (int j = 0; j < 4; ++j) {
                const std::int64_t r = clampTap(first - 1 + j, height_);
                float* row = &ring_[static_cast<std::size_t>((r & 3) * rowLength_)];
                if (held[static_cast<std::size_t>(r & 3)] != r) {
                    const unsigned char* line = mapLine(sourceView, source, r, sourceLinesPerStrip, sourceLineBytes);
                    if (!line)
                        return;  // the caller checked that the strips hold every line
                    resampleLine(line, row);
                    held[static_cast<std::size_t>(r & 3)] = r;
                }
                rows[j] = row;
            }
            unsigned char* out = mapLine(targetView, target, y, targetLinesPerStrip, targetLineBytes);
            if (!out)
                return;
            kernels_.vertical(rows, weights, newWidth_ * samples_, out);
        }
    }

private:
    void resampleLine(const unsigned char* line, float* row)
    {
        const int b = samples_;
        double* padded = padded_.data();
        kernels_.widen(line, width_ * b, padded + padLeft_ * b);
        for (std::int64_t p = 0; p < padLeft_; ++p)
            std::copy(padded + padLeft_ * b, padded + (padLeft_ + 1) * b, padded + p * b);
        const std::int64_t last = padLeft_ + width_ - 1;
        for (std::int64_t p = last + 1; p < paddedPixels_; ++p)
            std::copy(padded + last * b, padded + (last + 1) * b, padded + p * b);
        kernels_.horizontal(padded, base_.data(), hWeights_, newWidth_, b, row);
    }

    const AxisMap& vertical_;
    std::int64_t width_, height_, newWidth_, newHeight_;
    int samples_;
    const ResizeKernels& kernels_;
    std::int64_t padLeft_ = 0;
    std::int64_t paddedPixels_ = 0;
    std::vector<std::int32_t> base_;
    const double* hWeights_ = nullptr;
    std::vector<double> padded_;
    std::int64_t rowLength_ = 0;
    std::vector<float> ring_;
};

}  // namespace

void TarvexImage::resize(int width, int height)
{
    TarvexImageImpl& im = *impl_;
    const std::int64_t w = im.columns, h = im.rows;
    if (w < 1 || h < 1 || width < 1 || height < 1 || (width == w && height == h))
        return;
    // Packed pixels (reduced or bilevel) have no resampling.
    if (!im.isTrueColour || im.colourSpace == colourSpaceBilevel || im.bytesPerPixel < 1 || im.bytesPerPixel > 4)
        return;
    const int b = im.bytesPerPixel;
    if (w > INT32_MAX || h > INT32_MAX || im.bytesPerLine < w * b ||
        !stripsCoverLines(im.colourStrips, h, im.linesPerStrip, im.bytesPerLine))
        return;

    const std::int64_t newLineBytes = std::int64_t(b) * width;
    NewLayout layout;
    if (const wchar_t* refusal = planNewStrips(newLineBytes, height, layout)) {
        LogMessage(L"resize() refused for %d x %d pixels: %ls", width, height, refusal);
        return;
    }
    const std::int64_t linesPerStrip = layout.linesPerStrip;
    const bool alpha = im.hasAlpha();
    // Mapped strips are faulted in as they are written, so a target beyond the machine's
    // memory would end the process instead of failing an allocation: refuse it first.
    // Beside the strips, the call holds a weight record and four float rows a column.
    const auto perColumn = sizeof(std::int32_t) + 4 * sizeof(double) + 4 * sizeof(float) * static_cast<std::size_t>(b);
    const double needed =
        double(layout.heldStrips) * double(linesPerStrip) * double(newLineBytes + (alpha ? width : 0)) +
        double(width) * double(perColumn);
    if (needed > double(physicalMemory())) {
        LogMessage(L"resize() refused for %d x %d pixels: more memory than this machine has", width, height);
        return;
    }

    // Alpha strips that do not hold every line count as a zero plane, which resamples
    // to zeros: the new strips start zeroed.
    const bool alphaReadable = alpha && im.alphaBytesPerLine >= w &&
                               stripsCoverLines(im.alphaStrips, h, im.linesPerStrip, im.alphaBytesPerLine);

    const Axis horizontal = buildAxis(w, width);
    const AxisMap vertical(h, height);

    // Everything new is built aside; the image changes only once all of it exists.
    StripVector colour;
    StripVector alphaStrips;
    if (!makeStrips(colour, layout.heldStrips, newLineBytes * linesPerStrip, true) ||
        (alpha && !makeStrips(alphaStrips, layout.heldStrips, std::int64_t(width) * linesPerStrip, true))) {
        clearStrips(colour);
        LogMessage(L"resize() could not allocate the strips of %d x %d pixels", width, height);
        return;
    }
    colour.resize(static_cast<std::size_t>(layout.strips));
    if (alpha)
        alphaStrips.resize(static_cast<std::size_t>(layout.strips));

    PlaneResampler(horizontal, vertical, w, h, width, height, b)
        .run(im.colourStrips, im.linesPerStrip, im.bytesPerLine, colour, linesPerStrip, newLineBytes);
    if (alphaReadable)
        PlaneResampler(horizontal, vertical, w, h, width, height, 1)
            .run(im.alphaStrips, im.linesPerStrip, im.alphaBytesPerLine, alphaStrips, linesPerStrip, width);

    im.colourStrips.swap(colour);
    clearStrips(colour);
    im.columns = width;
    im.rows = height;
    im.bytesPerLine = newLineBytes;
    im.linesPerStrip = linesPerStrip;
    if (alpha) {
        im.alphaStrips.swap(alphaStrips);
        clearStrips(alphaStrips);
        im.alphaBytesPerLine = width;
    }
}
