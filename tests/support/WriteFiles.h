#pragma once

#include <OpenImageIO/imageio.h>

#include <functional>
#include <string>
#include <vector>

#include <TRXImage.h>

namespace trxtest {

// A test image: RGB or CMYK colour, optionally with alpha, every byte set by `byteAt`
// (channel `bytes` of a pixel is its alpha byte). `linesPerStrip` 0 takes the default.
using ByteAt = std::function<unsigned(int x, int y, int channel)>;
TarvexImage makeImage(bool cmyk, bool alpha, int columns, int rows, const ByteAt& byteAt, int linesPerStrip = 0);

// Pixels as an independent reader sees them: OpenImageIO with raw colour and
// unassociated alpha, every channel of every pixel, 8 bits.
struct Decoded {
    bool ok = false;
    OIIO::ImageSpec spec;
    std::vector<unsigned char> pixels;
};
Decoded decodeFile(const std::string& path);
// `name` only chooses the format by its extension.
Decoded decodeBytes(const std::string& name, const void* bytes, std::size_t size);

// The interleaved pixels the writer should produce for `image`: colour bytes then alpha.
std::vector<unsigned char> expectedPixels(TarvexImage& image);

// `pixels` (C, M, Y, K and, with `alpha`, A per pixel) as Pillow's convert("RGB") gives
// them, (255 - C)(255 - K) / 255 rounded to nearest and so on, alpha kept after them.
std::vector<unsigned char> cmykAsRgb(const std::vector<unsigned char>& pixels, bool alpha);

// An output that keeps what it is given instead of encoding it.
class RecordingOutput : public OIIO::ImageOutput {
public:
    const char* format_name() const override { return format.c_str(); }
    int supports(OIIO::string_view feature) const override { return feature == "ioproxy"; }
    bool open(const std::string& name, const OIIO::ImageSpec& spec, OpenMode mode) override;
    bool write_scanline(int y, int z, OIIO::TypeDesc format, const void* data, OIIO::stride_t xstride) override;
    bool close() override;

    std::string format = "recording";
    bool failOpen = false;
    int failRow = -1;  // write_scanline of this row fails

    int opens = 0;
    int closes = 0;
    std::string openedName;
    OIIO::ImageSpec openedSpec;
    std::vector<int> rowsOffered;
    std::vector<const void*> rowAddresses;
    std::vector<unsigned char> pixels;  // every accepted row, in order
};

}  // namespace trxtest
