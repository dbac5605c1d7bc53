#include "support/OpsImages.h"

#include <algorithm>

namespace trxtest {

Plane randomPlane(int columns, int rows, int samples, std::mt19937& random)
{
    Plane plane(columns, rows, samples);
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto& b : plane.bytes)
        b = static_cast<unsigned char>(byte(random));
    return plane;
}

TarvexImage makeImage(TarvexImage::colourSpaceType space, const Plane& pixels, int stripCount)
{
    TarvexImage image;
    image.colourSpace(space);
    image.size(pixels.columns, pixels.rows, stripCount, 0, nullptr, nullptr);
    TarvexImage::LinePointer line;
    const std::size_t lineBytes = std::size_t(pixels.columns) * pixels.samples;
    for (int y = 0; y < pixels.rows; ++y) {
        image.setupLinePointer(line, y);
        std::copy_n(pixels.bytes.begin() + std::ptrdiff_t(y * lineBytes), lineBytes, line.get_pustr());
    }
    return image;
}

void setAlpha(TarvexImage& image, const Plane& alpha)
{
    image.matte(true);
    TarvexImage::LinePointer line;
    for (int y = 0; y < alpha.rows; ++y) {
        image.setupAlphaLinePointer(line, y);
        std::copy_n(alpha.bytes.begin() + std::ptrdiff_t(y) * alpha.columns, alpha.columns, line.get_pustr());
    }
}

Plane colourPlane(TarvexImage& image)
{
    Plane plane(image.bytesPerLine(), static_cast<int>(image.rows()), 1);
    TarvexImage::LinePointer line;
    for (int y = 0; y < plane.rows; ++y) {
        if (!image.setupLinePointer(line, y))
            return Plane();
        std::copy_n(line.get(), plane.columns, &plane.at(0, y, 0));
    }
    return plane;
}

Plane alphaPlane(TarvexImage& image)
{
    Plane plane(static_cast<int>(image.columns()), static_cast<int>(image.rows()), 1);
    TarvexImage::LinePointer line;
    for (int y = 0; y < plane.rows; ++y) {
        if (!image.setupAlphaLinePointer(line, y))
            return Plane();
        std::copy_n(line.get(), plane.columns, &plane.at(0, y, 0));
    }
    return plane;
}

namespace {

std::vector<std::vector<unsigned char>> stripBytes(const std::vector<trx::MemMapObjectAllocator>& strips)
{
    std::vector<std::vector<unsigned char>> out;
    for (const auto& strip : strips) {
        trx::MemMapObjectMapper view(strip);
        const unsigned char* p = view.get_pucstr();
        out.emplace_back(p, p + strip.Size());
    }
    return out;
}

}  // namespace

Snapshot snapshot(TarvexImage& image)
{
    return Snapshot{image.columns(),
                    image.rows(),
                    image.bytesPerLine(),
                    image.linesPerStrip(),
                    image.stripCount(),
                    image.bitsPerPixel(),
                    image.matte(),
                    stripBytes(image.strips()),
                    stripBytes(image.alphaStrips())};
}

bool Snapshot::operator==(const Snapshot& o) const
{
    return columns == o.columns && rows == o.rows && bytesPerLine == o.bytesPerLine &&
           linesPerStrip == o.linesPerStrip && stripCount == o.stripCount && bitsPerPixel == o.bitsPerPixel &&
           matte == o.matte && strips == o.strips && alphaStrips == o.alphaStrips;
}

}  // namespace trxtest
