// A 6000 x 4000 CMYK JPEG through the library against libjpeg alone doing the same work
// in the same run: open against decoding the file into one buffer, write (to a path and
// to a CBufferStream) against encoding one buffer to a file and to memory.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "TRXImage.h"

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
constexpr std::size_t kLineBytes = static_cast<std::size_t>(kWidth) * 4;

// Ink amounts of a photograph-like picture: smooth gradients with some noise.
struct Source {
    TarvexImage image;
    std::vector<unsigned char> stored;  // the same pixels as an Adobe file stores them: 255 - ink

    Source() : stored(kLineBytes * kHeight)
    {
        image.colourSpace(TarvexImage::colourSpaceCMYK);
        image.size(kWidth, kHeight, 0, 0, nullptr, nullptr);
        std::uint32_t noise = 12345;
        TarvexImage::LinePointer line;
        for (int y = 0; y < kHeight; ++y) {
            image.setupLinePointer(line, y);
            unsigned char* ink = line.get_pustr();
            unsigned char* flat = stored.data() + y * kLineBytes;
            for (std::size_t i = 0; i < kLineBytes; ++i) {
                noise = noise * 1664525u + 1013904223u;
                const int x = static_cast<int>(i / 4), c = static_cast<int>(i % 4);
                ink[i] = static_cast<unsigned char>(x / 24 + y / 16 + c * 60 + (noise >> 29));
                flat[i] = static_cast<unsigned char>(255 - ink[i]);
            }
        }
    }
};

Source& source()
{
    static Source s;
    return s;
}

std::string tempPath(const char* name) { return "/tmp/trx-cmykbench-" + std::to_string(getpid()) + name; }

// libjpeg alone: the stored samples of one buffer as an Adobe CMYK JPEG, to `file` or,
// when it is null, to memory.
bool libjpegEncode(std::FILE* file, int quality, unsigned long& bytes)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char* memory = nullptr;
    bytes = 0;
    if (file)
        jpeg_stdio_dest(&c, file);
    else
        jpeg_mem_dest(&c, &memory, &bytes);
    c.image_width = kWidth;
    c.image_height = kHeight;
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = source().stored.data() + c.next_scanline * kLineBytes;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::free(memory);
    return true;
}

bool libjpegDecode(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    jpeg_decompress_struct d{};
    jpeg_error_mgr errors;
    d.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, file);
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_CMYK;
    jpeg_start_decompress(&d);
    // One buffer, its pages touched before the timing: the decoding alone is measured.
    static std::vector<unsigned char> pixels(kLineBytes * kHeight, 1);
    while (d.output_scanline < d.output_height) {
        JSAMPROW rows[16];
        const JDIMENSION count = std::min<JDIMENSION>(16, d.output_height - d.output_scanline);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = pixels.data() + (d.output_scanline + i) * kLineBytes;
        jpeg_read_scanlines(&d, rows, count);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    std::fclose(file);
    return true;
}

const std::string& readFile()
{
    static const std::string path = [] {
        const std::string p = tempPath("-read.jpg");
        std::FILE* file = std::fopen(p.c_str(), "wb");
        unsigned long bytes = 0;
        libjpegEncode(file, 90, bytes);
        std::fclose(file);
        return p;
    }();
    return path;
}

void LibraryOpen(benchmark::State& state)
{
    for (auto _ : state) {
        TarvexImage image;
        if (!image.open(readFile()))
            state.SkipWithError("open failed");
    }
}

void LibjpegDecode(benchmark::State& state)
{
    for (auto _ : state)
        if (!libjpegDecode(readFile()))
            state.SkipWithError("decode failed");
}

// The path overload sets no quality: the writer's default, 98.
void LibraryToPath(benchmark::State& state)
{
    const std::string path = tempPath("-write.jpg");
    source();
    for (auto _ : state)
        if (!source().image.write(path))
            state.SkipWithError("write failed");
    std::remove(path.c_str());
}

void LibjpegToFile(benchmark::State& state)
{
    const std::string path = tempPath("-write.jpg");
    unsigned long bytes = 0;
    source();
    for (auto _ : state) {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        libjpegEncode(file, 98, bytes);
        std::fclose(file);
    }
    std::remove(path.c_str());
}

void LibraryToStream(benchmark::State& state)
{
    std::uint64_t bytes = 0;
    source();
    for (auto _ : state) {
        CBufferStream stream;
        if (!source().image.write("jpg", 90, &stream))
            state.SkipWithError("write failed");
        bytes = stream.GetPos();
    }
    state.counters["encoded"] = static_cast<double>(bytes);
}

void LibjpegToMemory(benchmark::State& state)
{
    unsigned long bytes = 0;
    source();
    for (auto _ : state)
        libjpegEncode(nullptr, 90, bytes);
    state.counters["encoded"] = static_cast<double>(bytes);
}

// The machine is shared: the fastest repetition is the one least disturbed by other work.
double fastest(const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); }

}  // namespace

BENCHMARK(LibraryOpen)->Unit(benchmark::kMillisecond)->Iterations(2)->ComputeStatistics("min", fastest);
BENCHMARK(LibjpegDecode)->Unit(benchmark::kMillisecond)->Iterations(2)->ComputeStatistics("min", fastest);
BENCHMARK(LibraryToPath)->Unit(benchmark::kMillisecond)->Iterations(2)->ComputeStatistics("min", fastest);
BENCHMARK(LibjpegToFile)->Unit(benchmark::kMillisecond)->Iterations(2)->ComputeStatistics("min", fastest);
BENCHMARK(LibraryToStream)->Unit(benchmark::kMillisecond)->Iterations(2)->ComputeStatistics("min", fastest);
BENCHMARK(LibjpegToMemory)->Unit(benchmark::kMillisecond)->Iterations(2)->ComputeStatistics("min", fastest);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(readFile().c_str());
    return 0;
}
