#pragma once

#include <cstdint>

// Where a file's lines go: strip count, lines per strip, line lengths and the bytes
// all strips take together.
struct ReadLayout {
    std::int64_t strips = 0;
    std::int64_t linesPerStrip = 0;
    std::int64_t bytesPerLine = 0;
    std::int64_t alphaBytesPerLine = 0;
    std::uint64_t totalBytes = 0;
};

// Every strip holds at most 2^24 bytes of lines (at least one line). Line and strip
// sizes are reckoned in 32 bits, so both must fit them.
constexpr std::int64_t kStripTarget = std::int64_t(1) << 24;
constexpr std::int64_t kLargest32 = 2147483647;

// Plans the layout of `rows` lines of `columns` pixels of `bytesPerPixel` colour bytes,
// with one alpha byte per pixel when `alpha`. Returns null and fills `out`, or the
// reason the image cannot be held (the strips would not fit 32-bit sizes, or need
// more than `memoryLimit` bytes).
const wchar_t* planReadLayout(std::int64_t columns, std::int64_t rows, int bytesPerPixel, bool alpha,
                              std::uint64_t memoryLimit, ReadLayout& out);

// The machine's physical memory in bytes: no image larger than that is read.
std::uint64_t physicalMemory();
