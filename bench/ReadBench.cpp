// open() against OpenImageIO's own read_image of the same 6000 x 4000 file, and the
// peak memory of each, measured in a child process so that one does not hide the other.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>

#include "TRXImage.h"
#include "read/ReaderConfig.h"

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

std::string folder;

std::string fileFor(const std::string& extension) { return folder + "/bench" + extension; }

// A photograph-like pattern: smooth gradients with some noise, so that the codecs
// work as hard as they do on real pictures. Tiled files have tiles of 256 x 256 and
// samples of `format`.
void makeFile(const std::string& path, bool tiled = false, OIIO::TypeDesc format = OIIO::TypeUInt8)
{
    OIIO::ImageSpec spec(kWidth, kHeight, 3, format);
    if (tiled) {
        spec.tile_width = 256;
        spec.tile_height = 256;
    }
    std::vector<unsigned char> pixels(static_cast<std::size_t>(kWidth) * kHeight * 3);
    std::uint32_t noise = 12345;
    std::size_t i = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                noise = noise * 1664525u + 1013904223u;
                pixels[i++] = static_cast<unsigned char>((x / 24 + y / 16 + c * 70) + (noise >> 29));
            }
    auto out = OIIO::ImageOutput::create(path);
    if (!out || !out->open(path, spec) || !out->write_image(OIIO::TypeUInt8, pixels.data()) || !out->close()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

bool trxOpen(const std::string& path)
{
    TarvexImage image;
    return image.open(path);
}

bool oiioRead(const std::string& path)
{
    auto in = openReader(path);
    if (!in)
        return false;
    const OIIO::ImageSpec& spec = in->spec();
    std::vector<unsigned char> pixels(static_cast<std::size_t>(spec.width) * spec.height * spec.nchannels);
    return in->read_image(0, 0, 0, spec.nchannels, OIIO::TypeUInt8, pixels.data());
}

void BM_TrxOpen(benchmark::State& state, const char* extension)
{
    const std::string path = fileFor(extension);
    for (auto _ : state)
        if (!trxOpen(path))
            state.SkipWithError("open failed");
}

void BM_OiioReadImage(benchmark::State& state, const char* extension)
{
    const std::string path = fileFor(extension);
    for (auto _ : state)
        if (!oiioRead(path))
            state.SkipWithError("read_image failed");
}

bool nothing(const std::string&) { return true; }

// Prints the peak resident memory (KiB) of a child that runs `reader` once.
void printPeak(const char* label, bool (*reader)(const std::string&), const std::string& path)
{
    std::printf("%-24s", label);
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        const bool ok = reader(path);
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("%ld\n", ok ? usage.ru_maxrss : -1L);
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
}

}  // namespace

BENCHMARK_CAPTURE(BM_TrxOpen, jpeg, ".jpg")->Unit(benchmark::kMillisecond)->Iterations(3)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_OiioReadImage, jpeg, ".jpg")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_TrxOpen, png, ".png")->Unit(benchmark::kMillisecond)->Iterations(3)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_OiioReadImage, png, ".png")->Unit(benchmark::kMillisecond)->Iterations(3)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_TrxOpen, tiff, ".tif")->Unit(benchmark::kMillisecond)->Iterations(3)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_OiioReadImage, tiff, ".tif")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_TrxOpen, tiled8, "-tiled8.tif")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_OiioReadImage, tiled8, "-tiled8.tif")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_TrxOpen, tiled16, "-tiled16.tif")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_OiioReadImage, tiled16, "-tiled16.tif")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->MeasureProcessCPUTime();

int main(int argc, char** argv)
{
    folder = (std::filesystem::temp_directory_path() / ("trx-readbench-" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(folder);
    for (const char* extension : {".jpg", ".png", ".tif"})
        makeFile(fileFor(extension));
    makeFile(fileFor("-tiled8.tif"), true);
    makeFile(fileFor("-tiled16.tif"), true, OIIO::TypeUInt16);

    std::printf("peak resident memory (KiB) of one child each; the pixels are %d KiB\n", kWidth * kHeight * 3 / 1024);
    printPeak("no read", nothing, fileFor(".jpg"));
    for (const char* extension : {".jpg", ".png", ".tif", "-tiled8.tif", "-tiled16.tif"}) {
        printPeak((std::string(extension) + " open").c_str(), trxOpen, fileFor(extension));
        printPeak((std::string(extension) + " read_image").c_str(), oiioRead, fileFor(extension));
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(folder);
    return 0;
}
