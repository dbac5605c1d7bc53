#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include <TRXImage.h>

namespace trxtest {

// A plane of pixels in plain memory, for reference computations.
struct Plane {
    int columns = 0;
    int rows = 0;
    int samples = 0;
    std::vector<unsigned char> bytes;

    Plane() = default;
    Plane(int c, int r, int s) : columns(c), rows(r), samples(s), bytes(std::size_t(c) * r * s) {}
    unsigned char& at(int x, int y, int c) { return bytes[(std::size_t(y) * columns + x) * samples + c]; }
    unsigned char at(int x, int y, int c) const { return bytes[(std::size_t(y) * columns + x) * samples + c]; }
    bool operator==(const Plane& o) const
    {
        return columns == o.columns && rows == o.rows && samples == o.samples && bytes == o.bytes;
    }
};

Plane randomPlane(int columns, int rows, int samples, std::mt19937& random);

// An image of the given colour space laid out by size() (stripCount 0 for the default),
// its colour bytes taken from `pixels`.
TarvexImage makeImage(TarvexImage::colourSpaceType space, const Plane& pixels, int stripCount = 0);
// Adds an alpha plane with matte(true) and fills it from `alpha` (one sample a pixel).
void setAlpha(TarvexImage& image, const Plane& alpha);

// The image's colour (or packed, after Reduce) lines, bytesPerLine() bytes each, and
// its alpha lines, columns() bytes each.
Plane colourPlane(TarvexImage& image);
Plane alphaPlane(TarvexImage& image);

// Every byte an image holds plus its layout, to show that a refused call changed nothing.
struct Snapshot {
    std::int64_t columns, rows, bytesPerLine, linesPerStrip;
    int stripCount, bitsPerPixel;
    bool matte;
    std::vector<std::vector<unsigned char>> strips;
    std::vector<std::vector<unsigned char>> alphaStrips;
    bool operator==(const Snapshot& o) const;
};
Snapshot snapshot(TarvexImage& image);

}  // namespace trxtest
