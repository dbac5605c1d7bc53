#pragma once

#include <OpenImageIO/imageio.h>

#include <functional>

#include <TRXImage.h>

namespace trxtest {

// A test image: RGB or CMYK colour, optionally with alpha, every byte set by `byteAt`
// (channel `bytes` of a pixel is its alpha byte). `linesPerStrip` 0 takes the default.
// `pixels` gets what the writer should produce: interleaved colour bytes, then alpha.
using ByteAt = std::function<unsigned(int x, int y, int channel)>;
TarvexImage makeImage(bool cmyk, bool alpha, int columns, int rows, const ByteAt& byteAt, int linesPerStrip = 0,
                      std::vector<unsigned char>* pixels = nullptr);

// Pixels as an independent reader sees them: OpenImageIO with raw colour and
// unassociated alpha, every channel of every pixel, 8 bits. With `bytes`, those `size`
// bytes are read as a file named `name`, which then only chooses the format.
struct Decoded {
    bool ok = false;
    OIIO::ImageSpec spec;
    std::vector<unsigned char> pixels;
    std::vector<unsigned char> icc = {};  // the embedded profile, empty for none
};
Decoded decodeBytes(const std::string& name, const void* bytes, std::size_t size);
inline Decoded decodeFile(const std::string& path) { return decodeBytes(path, nullptr, 0); }

// `pixels` (C, M, Y, K and, with `alpha`, A per pixel) as Pillow's convert("RGB") gives
// them, (255 - C)(255 - K) / 255 rounded to nearest and so on, alpha kept after them.
std::vector<unsigned char> cmykAsRgb(const std::vector<unsigned char>& pixels, bool alpha);

// The bytes a memory target holds.
std::vector<unsigned char> bytesOf(const CBufferStream& stream);
std::vector<unsigned char> bytesOf(CAutoBuffer& buffer);

// A display profile for RGB as libpng accepts it: header, two tags, D50 illuminant.
std::vector<unsigned char> rgbProfile();

}  // namespace trxtest
