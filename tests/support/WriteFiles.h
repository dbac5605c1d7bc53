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
// unassociated alpha, every channel of every pixel, 8 bits.
struct Decoded {
    bool ok = false;
    OIIO::ImageSpec spec;
    std::vector<unsigned char> pixels;
    std::vector<unsigned char> icc = {};  // the embedded profile, empty for none
};
Decoded decodeFile(const std::string& path);

// The bytes a stream holds.
std::vector<unsigned char> bytesOf(const CBufferStream& stream);

// A display profile for RGB as libpng accepts it: header, two tags, D50 illuminant.
std::vector<unsigned char> rgbProfile();

}  // namespace trxtest
