// Writing a 6000 x 4000 RGB image through the library against OpenImageIO alone, for
// JPEG (quality 90), PNG and TIFF, to a file and to memory.
#include <benchmark/benchmark.h>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "TRXImage.h"

namespace {

constexpr int kColumns = 6000;
constexpr int kRows = 4000;

// Smooth gradients with a little deterministic noise: compresses like a photograph
// rather than like a flat fill.
unsigned char sample(int x, int y, int c)
{
    unsigned h = static_cast<unsigned>(x) * 374761393u + static_cast<unsigned>(y) * 668265263u + c * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return static_cast<unsigned char>((x / 24 + y / 16 + c * 60 + ((h >> 24) & 7)) & 0xff);
}

struct Source {
    TarvexImage image;
    std::vector<unsigned char> pixels;  // the same pixels, contiguous, for OpenImageIO alone

    Source() : pixels(static_cast<std::size_t>(kColumns) * kRows * 3)
    {
        image.colourSpace(TarvexImage::colourSpaceRGB);
        image.size(kColumns, kRows, 0, 0, nullptr, nullptr);
        TarvexImage::LinePointer line;
        for (int y = 0; y < kRows; ++y) {
            image.setupLinePointer(line, y);
            unsigned char* out = line.get_pustr();
            unsigned char* flat = pixels.data() + static_cast<std::size_t>(y) * kColumns * 3;
            for (int x = 0; x < kColumns; ++x)
                for (int c = 0; c < 3; ++c)
                    out[3 * x + c] = flat[3 * x + c] = sample(x, y, c);
        }
    }
};

Source& source()
{
    static Source s;
    return s;
}

const char* const kExtensions[] = {"jpg", "png", "tif"};

std::string tempPath(const char* extension)
{
    return "/tmp/trx-writebench-" + std::to_string(getpid()) + "." + extension;
}

int qualityFor(const std::string& extension) { return extension == "jpg" ? 90 : -1; }

// OpenImageIO alone: the spec the library builds for RGB, the whole image in one call.
bool oiioWrite(const std::string& name, OIIO::Filesystem::IOProxy* proxy, int quality)
{
    auto output = OIIO::ImageOutput::create(name, proxy);
    if (!output)
        return false;
    // The image has no resolution, so the library sets none either.
    OIIO::ImageSpec spec(kColumns, kRows, 3, OIIO::TypeDesc::UINT8);
    if (quality > -1)
        spec.attribute("CompressionQuality", quality);
    if (proxy)
        output->set_ioproxy(proxy);
    const bool ok = output->open(name, spec) && output->write_image(OIIO::TypeDesc::UINT8, source().pixels.data());
    output->close();
    return ok;
}

void LibraryToPath(benchmark::State& state)
{
    const char* extension = kExtensions[state.range(0)];
    const std::string path = tempPath(extension);
    // The path overload sets no quality: the writer's default stands on both sides.
    source();  // built outside the timed loop
    for (auto _ : state)
        if (!source().image.write(path))
            state.SkipWithError("write failed");
    std::remove(path.c_str());
    state.SetLabel(extension);
}

void OiioToPath(benchmark::State& state)
{
    const char* extension = kExtensions[state.range(0)];
    const std::string path = tempPath(extension);
    source();
    for (auto _ : state)
        if (!oiioWrite(path, nullptr, -1))
            state.SkipWithError("write failed");
    std::remove(path.c_str());
    state.SetLabel(extension);
}

void LibraryToStream(benchmark::State& state)
{
    const std::string extension = kExtensions[state.range(0)];
    std::uint64_t bytes = 0;
    source();
    for (auto _ : state) {
        CBufferStream stream;
        if (!source().image.write("bench." + extension, qualityFor(extension), &stream))
            state.SkipWithError("write failed");
        bytes = stream.GetPos();
    }
    state.counters["encoded"] = static_cast<double>(bytes);
    state.SetLabel(extension);
}

void OiioToMemory(benchmark::State& state)
{
    const std::string extension = kExtensions[state.range(0)];
    std::uint64_t bytes = 0;
    source();
    for (auto _ : state) {
        std::vector<unsigned char> encoded;
        OIIO::Filesystem::IOVecOutput proxy(encoded);
        if (!oiioWrite("bench." + extension, &proxy, qualityFor(extension)))
            state.SkipWithError("write failed");
        bytes = encoded.size();
    }
    state.counters["encoded"] = static_cast<double>(bytes);
    state.SetLabel(extension);
}

}  // namespace

BENCHMARK(LibraryToPath)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(OiioToPath)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(LibraryToStream)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(OiioToMemory)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
