#pragma once

#include <algorithm>
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

    Plane(int c, int r, int s, std::mt19937* random = nullptr)
        : columns(c), rows(r), samples(s), bytes(std::size_t(c) * r * s)
    {
        for (auto& b : bytes)
            b = static_cast<unsigned char>(random ? (*random)() : 0);
    }
    unsigned char at(int x, int y, int c) const { return bytes[(std::size_t(y) * columns + x) * samples + c]; }
};

// An image of the given colour space laid out by size() (stripCount 0 for the default),
// its colour bytes from `pixels` and, when given, an alpha plane added by matte(true);
// every byte goes in through a line pointer.
inline TarvexImage makeImage(TarvexImage::colourSpaceType space, const Plane& pixels, int stripCount = 0,
                             const Plane* alpha = nullptr)
{
    TarvexImage image;
    image.colourSpace(space);
    image.size(pixels.columns, pixels.rows, stripCount, 0, nullptr, nullptr);
    image.matte(alpha != nullptr);
    TarvexImage::LinePointer line;
    for (const Plane* plane : {&pixels, alpha})
        for (int y = 0; plane && y < plane->rows; ++y) {
            plane == alpha ? image.setupAlphaLinePointer(line, y) : image.setupLinePointer(line, y);
            const std::size_t length = std::size_t(plane->columns) * plane->samples;
            std::copy_n(plane->bytes.begin() + std::ptrdiff_t(y * length), length, line.get_pustr());
        }
    return image;
}

// Every pixel line (bytesPerLine() bytes) or alpha line, one after the other; empty when
// a line pointer is refused.
inline std::vector<unsigned char> readLines(TarvexImage& image, bool alpha = false)
{
    std::vector<unsigned char> bytes;
    TarvexImage::LinePointer line;
    for (int y = 0; y < image.rows(); ++y) {
        if (!(alpha ? image.setupAlphaLinePointer(line, y) : image.setupLinePointer(line, y)))
            return {};
        bytes.insert(bytes.end(), line.get(), line.get() + (alpha ? image.columns() : image.bytesPerLine()));
    }
    return bytes;
}

// The size of every colour strip, then -1, then of every alpha strip, then -1.
inline std::vector<std::int64_t> stripSizes(TarvexImage& image)
{
    std::vector<std::int64_t> sizes;
    for (const auto* strips : {&image.strips(), &image.alphaStrips()}) {
        for (const auto& strip : *strips)
            sizes.push_back(std::int64_t(strip.Size()));
        sizes.push_back(-1);
    }
    return sizes;
}

// The layout (columns, rows, bytesPerLine, linesPerStrip, bitsPerPixel, matte, strip
// count) and every strip byte, colour then alpha: what a refused call must not change.
using Snapshot = std::pair<std::vector<std::int64_t>, std::vector<std::vector<unsigned char>>>;
inline Snapshot snapshot(TarvexImage& image)
{
    Snapshot s{{image.columns(), image.rows(), image.bytesPerLine(), image.linesPerStrip(), image.bitsPerPixel(),
                image.matte(), std::int64_t(image.strips().size())},
               {}};
    for (const auto* strips : {&image.strips(), &image.alphaStrips()})
        for (const auto& strip : *strips) {
            trx::MemMapObjectMapper view(strip);
            s.second.emplace_back(view.get_pucstr(), view.get_pucstr() + strip.Size());
        }
    return s;
}

}  // namespace trxtest
