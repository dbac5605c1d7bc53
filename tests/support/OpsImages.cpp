#include "support/OpsImages.h"

#include <algorithm>

namespace trxtest {

Plane::Plane(int c, int r, int s, std::mt19937* random) : columns(c), rows(r), samples(s), bytes(std::size_t(c) * r * s)
{
    for (auto& b : bytes)
        b = static_cast<unsigned char>(random ? (*random)() : 0);
}

TarvexImage makeImage(TarvexImage::colourSpaceType space, const Plane& pixels, int stripCount, const Plane* alpha)
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

std::vector<unsigned char> readLines(TarvexImage& image, bool alpha)
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

std::vector<std::int64_t> stripSizes(TarvexImage& image)
{
    std::vector<std::int64_t> sizes;
    for (const auto* strips : {&image.strips(), &image.alphaStrips()}) {
        for (const auto& strip : *strips)
            sizes.push_back(std::int64_t(strip.Size()));
        sizes.push_back(-1);
    }
    return sizes;
}

Snapshot snapshot(TarvexImage& image)
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
