#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>

// Builders of the files and byte streams that the reading tests open.
namespace trxtest {

using Bytes = std::vector<unsigned char>;

// --- JPEG records -------------------------------------------------------------------

Bytes jfifPayload(int unit, unsigned horizontal, unsigned vertical);

struct ExifField {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::uint32_t value;        // SHORT value or, for RATIONAL, ignored
    std::uint32_t numerator;    // RATIONAL only
    std::uint32_t denominator;  // RATIONAL only
};
ExifField exifRational(std::uint16_t tag, std::uint32_t numerator, std::uint32_t denominator);
ExifField exifShort(std::uint16_t tag, std::uint16_t value);
// An Exif payload whose first IFD holds `fields`, rationals stored after the IFD.
// `claimedEntries` (when not negative) replaces the entry count written.
Bytes exifPayload(bool littleEndian, const std::vector<ExifField>& fields, int claimedEntries = -1);

struct PhotoshopBlock {
    std::string signature;  // "8BIM" normally
    std::uint16_t id;
    std::string name;
    Bytes data;
};
// 16 bytes of a resolution resource; resolutions in 16.16 fixed point.
Bytes photoshopResolution(std::uint32_t xFixed, std::uint16_t xUnit, std::uint32_t yFixed, std::uint16_t yUnit);
Bytes photoshopPayload(const std::vector<PhotoshopBlock>& blocks);

// A marker stream: SOI, then segments and bytes as appended.
class JpegStream {
public:
    JpegStream();
    JpegStream& segment(int code, const Bytes& payload);
    JpegStream& raw(const Bytes& bytes);
    JpegStream& marker(int code);  // 0xFF and the code, nothing after it
    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

// `jpeg` with every APPn segment before the scan removed and `segments` (whole
// segments, marker included) put right after SOI.
Bytes replaceJpegRecords(const Bytes& jpeg, const Bytes& segments);
// One whole segment: marker, length, payload.
Bytes jpegSegment(int code, const Bytes& payload);

// --- Image files ----------------------------------------------------------------------

// Pixel value of sample c of pixel (x, y) in the test pattern, 8-bit.
unsigned char patternSample(int x, int y, int c);

// Writes `spec.width` x `spec.height` pixels of `spec.nchannels` channels through
// OpenImageIO to `path`, every sample from `sample` (8-bit values, scaled to the
// spec's format). Returns false when the writer refuses.
bool writeImage(const std::string& path, const OIIO::ImageSpec& spec,
                unsigned char (*sample)(int x, int y, int c) = patternSample);

// The bytes OpenImageIO writes for `spec` under `name` (its extension picks the
// writer), from `sample`; empty when it refuses.
Bytes writtenBytes(const std::string& name, const OIIO::ImageSpec& spec,
                   unsigned char (*sample)(int x, int y, int c) = patternSample);
// patternSample of channels [first, end) of every pixel, interleaved.
Bytes patternSamples(int width, int height, int first, int end);

// A raw (uncompressed) PSD of 8-bit planes. `mode` 3 is RGB, 4 CMYK; `planes` holds
// one plane of width x height bytes per channel. `resolution` (when not empty) is
// stored as image resource 1005, ahead of the others. Mode 0 (bitmap) takes planes of 1 bit per pixel, rows
// padded to whole bytes; mode 2 (indexed) takes its colour table as `colourModeData`,
// and a `transparentIndex` of 0 to 255 is stored as image resource 1047.
Bytes psdFile(int width, int height, int mode, const std::vector<Bytes>& planes, const Bytes& resolution = {},
              const Bytes& colourModeData = {}, int transparentIndex = -1);

// An uncompressed, chunky 8-bit RGB TIFF (3 or 4 channels) whose directory comes first, so that cutting the
// file cuts only pixel data. `samples` may be shorter than the image claims.
Bytes tiffFile(std::uint32_t width, std::uint32_t height, int channels, const Bytes& samples,
               std::uint32_t rowsPerStrip);

// A BMP of `bits` bits per pixel with `data` as its pixels. `infoBytes` 12 writes the
// core header of OS/2 (no compression field), 40 the common one.
Bytes bmpFile(int infoBytes, std::uint32_t width, std::uint32_t height, int bits, int compression, const Bytes& data);

// --- JPEG made and read by libjpeg alone -------------------------------------------

enum class JpegColour { AdobeCmyk, Ycck, PlainCmyk };  // PlainCmyk: no Adobe marker
struct JpegRecipe {
    JpegColour colour = JpegColour::AdobeCmyk;
    int width = 16;
    int height = 8;
    int jfifUnit = -1;  // -1: no JFIF record
    unsigned xDensity = 1;
    unsigned yDensity = 1;
    Bytes exif = {};  // an APP1 payload, when not empty
    Bytes icc = {};   // ICC_PROFILE chunks, when not empty
    int restartRows = 0;
    bool progressive = false;
};
// Four-component samples from patternSample, quality 90.
Bytes libjpegFile(const JpegRecipe& recipe);
// The samples libjpeg decodes (four-component files as stored CMYK), interleaved; empty
// when libjpeg refuses the bytes.
Bytes libjpegSamples(const Bytes& jpeg, int& components);

}  // namespace trxtest
