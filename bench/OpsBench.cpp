// Image operations against OpenImageIO's ImageBufAlgo and against a memcpy of the same
// bytes, single-threaded. Run with --benchmark_min_time small: each OpenImageIO resize
// of a 6000 x 4000 image takes seconds.
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <benchmark/benchmark.h>

#include <TRXImage.h>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// A smooth picture with noise, so that neither the curve table nor the cubic sees a
// degenerate input.
unsigned char sampleAt(int x, int y, int c, std::uint32_t noise)
{
    return static_cast<unsigned char>((x * (c + 1) / 24 + y / 16 + (noise >> (8 * c))) & 0xFF);
}

TarvexImage& sourceImage(bool cmyk, bool alpha, bool grey)
{
    static TarvexImage images[2][2][2];
    TarvexImage& image = images[cmyk][alpha][grey];
    if (image.rows() != 0)
        return image;
    image.colourSpace(cmyk ? TarvexImage::colourSpaceCMYK : TarvexImage::colourSpaceRGB);
    image.size(kWidth, kHeight, 0, 0, nullptr, nullptr);
    const int samples = cmyk ? 4 : 3;
    std::mt19937 random(1);
    TarvexImage::LinePointer line;
    for (int y = 0; y < kHeight; ++y) {
        image.setupLinePointer(line, y);
        unsigned char* p = line.get_pustr();
        for (int x = 0; x < kWidth; ++x) {
            const std::uint32_t noise = random() & 0x070707;
            for (int c = 0; c < samples; ++c)
                p[x * samples + c] = grey ? (x / 7 + y / 5) % 3 == 0 ? 0 : 200 : sampleAt(x, y, c, noise);
        }
    }
    if (alpha) {
        image.matte(true);
        for (int y = 0; y < kHeight; ++y) {
            image.setupAlphaLinePointer(line, y);
            unsigned char* p = line.get_pustr();
            for (int x = 0; x < kWidth; ++x)
                p[x] = static_cast<unsigned char>((x + y) & 0xFF);
        }
    }
    return image;
}

// A private copy whose strips share the source's bytes until resize replaces them.
TarvexImage freshCopy(TarvexImage& source)
{
    TarvexImage copy = source;
    copy.modifyImage();
    return copy;
}

void resizeBench(benchmark::State& state, int width, int height, bool alpha)
{
    TarvexImage& source = sourceImage(false, alpha, false);
    for (auto _ : state) {
        state.PauseTiming();
        TarvexImage image = freshCopy(source);
        state.ResumeTiming();
        image.resize(width, height);
        benchmark::DoNotOptimize(image.rows());
        state.PauseTiming();
        image = TarvexImage();
        state.ResumeTiming();
    }
}

OIIO::ImageBuf& oiioSource(int channels)
{
    static OIIO::ImageBuf buffers[5];
    OIIO::ImageBuf& buffer = buffers[channels];
    if (buffer.initialized())
        return buffer;
    TarvexImage& source = sourceImage(false, channels == 4, false);
    buffer.reset(OIIO::ImageSpec(kWidth, kHeight, channels, OIIO::TypeDesc::UINT8));
    std::vector<unsigned char> line(std::size_t(kWidth) * channels);
    TarvexImage::LinePointer colour, alpha;
    for (int y = 0; y < kHeight; ++y) {
        source.setupLinePointer(colour, y);
        if (channels == 4)
            source.setupAlphaLinePointer(alpha, y);
        for (int x = 0; x < kWidth; ++x) {
            for (int c = 0; c < 3; ++c)
                line[std::size_t(x) * channels + c] = colour.get()[x * 3 + c];
            if (channels == 4)
                line[std::size_t(x) * 4 + 3] = alpha.get()[x];
        }
        buffer.set_pixels(OIIO::ROI(0, kWidth, y, y + 1, 0, 1, 0, channels), OIIO::TypeDesc::UINT8, line.data());
    }
    return buffer;
}

void oiioResizeBench(benchmark::State& state, int width, int height, int channels)
{
    OIIO::ImageBuf& source = oiioSource(channels);
    for (auto _ : state) {
        OIIO::ImageBuf out;
        OIIO::ImageBufAlgo::resize(out, source, "cubic", 0.0f, OIIO::ROI(0, width, 0, height, 0, 1, 0, channels), 1);
        benchmark::DoNotOptimize(out.localpixels());
    }
}

void memcpyBench(benchmark::State& state, std::size_t bytes)
{
    std::vector<unsigned char> from(bytes, 1), to(bytes, 2);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes));
}

void levelBench(benchmark::State& state, bool cmyk)
{
    TarvexImage image = freshCopy(sourceImage(cmyk, false, false));
    for (auto _ : state)
        benchmark::DoNotOptimize(image.level(0.1, 0.9, 1.7));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * image.fileSize());
}

void oiioPowBench(benchmark::State& state)
{
    OIIO::ImageBuf& source = oiioSource(3);
    for (auto _ : state) {
        OIIO::ImageBuf out;
        OIIO::ImageBufAlgo::pow(out, source, 1.0f / 1.7f, {}, 1);
        benchmark::DoNotOptimize(out.localpixels());
    }
}

void oiioContrastBench(benchmark::State& state)
{
    OIIO::ImageBuf& source = oiioSource(3);
    for (auto _ : state) {
        OIIO::ImageBuf out;
        OIIO::ImageBufAlgo::contrast_remap(out, source, 0.1f, 0.9f, 0.0f, 1.0f, 1.0f, 0.5f, {}, 1);
        benchmark::DoNotOptimize(out.localpixels());
    }
}

// Grey image: the full test and the packing. Coloured last pixel: the full test only.
void reduceBench(benchmark::State& state, bool grey)
{
    TarvexImage& source = sourceImage(false, false, true);
    if (!grey && source.stripCount() > 0) {
        static TarvexImage coloured;
        if (coloured.rows() == 0) {
            coloured = freshCopy(source);
            TarvexImage::LinePointer line;
            coloured.setupLinePointer(line, kHeight - 1);
            line.get_pustr()[3 * kWidth - 1] ^= 1;
        }
        for (auto _ : state)
            benchmark::DoNotOptimize(coloured.ReduceIfPossible());
        state.SetBytesProcessed(std::int64_t(state.iterations()) * coloured.fileSize());
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        TarvexImage image = freshCopy(source);
        state.ResumeTiming();
        benchmark::DoNotOptimize(image.ReduceIfPossible());
        state.PauseTiming();
        image = TarvexImage();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * source.fileSize());
}

std::int64_t statusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::stoll(line.substr(std::strlen(field)));
    return -1;
}

// Peak resident growth during one resize, next to the budget: the whole intermediate
// plane (source lines x new line of floats, colour and alpha) plus one set of new strips.
void resizeMemoryBench(benchmark::State& state, int width, int height)
{
    TarvexImage& source = sourceImage(false, true, false);
    double extra = 0, budget = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TarvexImage image = freshCopy(source);
        std::ofstream("/proc/self/clear_refs") << "5";
        const std::int64_t before = statusKiB("VmRSS:");
        state.ResumeTiming();
        image.resize(width, height);
        state.PauseTiming();
        extra = double(statusKiB("VmHWM:") - before) * 1024.0;
        budget = double(kHeight) * width * 4 * 4 + double(image.stripCount()) * image.linesPerStrip() * width * 4;
        image = TarvexImage();
        state.ResumeTiming();
    }
    state.counters["peak_extra_MiB"] = extra / 1048576.0;
    state.counters["budget_MiB"] = budget / 1048576.0;
}

const std::size_t kRgbBytes = std::size_t(kWidth) * kHeight * 3;

}  // namespace

BENCHMARK_CAPTURE(memcpyBench, rgb_bytes, kRgbBytes)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(memcpyBench, cmyk_bytes, std::size_t(kWidth) * kHeight * 4)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(levelBench, rgb, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(levelBench, cmyk, true)->Unit(benchmark::kMillisecond);
BENCHMARK(oiioPowBench)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(oiioContrastBench)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(reduceBench, grey, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(reduceBench, coloured_last_pixel, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(resizeBench, rgb_to_3000x2000, 3000, 2000, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(resizeBench, rgba_to_3000x2000, 3000, 2000, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(resizeBench, rgb_to_9000x6000, 9000, 6000, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(resizeBench, rgba_to_9000x6000, 9000, 6000, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(oiioResizeBench, rgb_to_3000x2000, 3000, 2000, 3)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(oiioResizeBench, rgba_to_3000x2000, 3000, 2000, 4)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(oiioResizeBench, rgb_to_9000x6000, 9000, 6000, 3)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(oiioResizeBench, rgba_to_9000x6000, 9000, 6000, 4)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(resizeMemoryBench, rgba_to_9000x6000, 9000, 6000)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
