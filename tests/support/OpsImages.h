#pragma once

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include <TRXImage.h>

namespace trxtest {

// Pixels in plain memory, line after line, for building images and for references;
// random bytes when a generator is given.
struct Plane {
    int columns, rows, samples;
    std::vector<unsigned char> bytes;

    Plane(int c, int r, int s, std::mt19937* random = nullptr);
    unsigned char at(int x, int y, int c) const { return bytes[(std::size_t(y) * columns + x) * samples + c]; }
};

// An image of the given colour space laid out by size() (stripCount 0 for the default),
// its colour bytes from `pixels` and, when given, an alpha plane added by matte(true);
// every byte goes in through a line pointer.
TarvexImage makeImage(TarvexImage::colourSpaceType space, const Plane& pixels, int stripCount = 0,
                      const Plane* alpha = nullptr);
// Every pixel line (bytesPerLine() bytes) or alpha line, one after the other; empty when
// a line pointer is refused.
std::vector<unsigned char> readLines(TarvexImage& image, bool alpha = false);
// The size of every colour strip, then -1, then of every alpha strip, then -1.
std::vector<std::int64_t> stripSizes(TarvexImage& image);

// The layout (columns, rows, bytesPerLine, linesPerStrip, bitsPerPixel, matte, strip
// count) and every strip byte, colour then alpha: what a refused call must not change.
using Snapshot = std::pair<std::vector<std::int64_t>, std::vector<std::vector<unsigned char>>>;
Snapshot snapshot(TarvexImage& image);

}  // namespace trxtest
