#include "support/ReadFiles.h"

#include <algorithm>
#include <cstring>

#include "platform/LibjpegErrors.h"
#include "read/ReaderConfig.h"

namespace trxtest {
namespace {

void put16(Bytes& out, unsigned v, bool little = false)
{
    if (little) {
        out.push_back(static_cast<unsigned char>(v));
        out.push_back(static_cast<unsigned char>(v >> 8));
    } else {
        out.push_back(static_cast<unsigned char>(v >> 8));
        out.push_back(static_cast<unsigned char>(v));
    }
}

void put32(Bytes& out, std::uint32_t v, bool little = false)
{
    if (little) {
        put16(out, v & 0xFFFF, true);
        put16(out, v >> 16, true);
    } else {
        put16(out, v >> 16);
        put16(out, v & 0xFFFF);
    }
}

void putText(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

}  // namespace

Bytes jfifPayload(int unit, unsigned horizontal, unsigned vertical)
{
    Bytes p;
    putText(p, "JFIF");
    p.push_back(0);
    p.push_back(1);
    p.push_back(2);
    p.push_back(static_cast<unsigned char>(unit));
    put16(p, horizontal);
    put16(p, vertical);
    p.push_back(0);  // no thumbnail
    p.push_back(0);
    return p;
}

ExifField exifRational(std::uint16_t tag, std::uint32_t numerator, std::uint32_t denominator)
{
    return ExifField{tag, 5, 1, 0, numerator, denominator};
}

ExifField exifShort(std::uint16_t tag, std::uint16_t value) { return ExifField{tag, 3, 1, value, 0, 0}; }

Bytes exifPayload(bool little, const std::vector<ExifField>& fields, int claimedEntries)
{
    Bytes p;
    putText(p, std::string("Exif\0\0", 6));
    putText(p, little ? "II" : "MM");
    put16(p, 42, little);
    put32(p, 8, little);  // the first IFD right after the TIFF header
    put16(p, claimedEntries >= 0 ? static_cast<unsigned>(claimedEntries) : static_cast<unsigned>(fields.size()),
          little);
    const std::uint32_t dataStart = 8 + 2 + 12 * static_cast<std::uint32_t>(fields.size()) + 4;
    std::uint32_t next = dataStart;
    std::vector<std::size_t> valueAt;
    for (const ExifField& f : fields) {
        put16(p, f.tag, little);
        put16(p, f.type, little);
        put32(p, f.count, little);
        if (f.type == 5) {
            put32(p, next, little);
            next += 8;
        } else if (f.type == 3) {
            // A SHORT stands in the first two bytes of the value field.
            put16(p, f.value, little);
            put16(p, 0, little);
        } else {
            put32(p, f.value, little);
        }
    }
    put32(p, 0, little);  // no next IFD
    for (const ExifField& f : fields) {
        if (f.type == 5) {
            put32(p, f.numerator, little);
            put32(p, f.denominator, little);
        }
    }
    return p;
}

Bytes photoshopResolution(std::uint32_t xFixed, std::uint16_t xUnit, std::uint32_t yFixed, std::uint16_t yUnit)
{
    Bytes d;
    put32(d, xFixed);
    put16(d, xUnit);
    put16(d, 1);
    put32(d, yFixed);
    put16(d, yUnit);
    put16(d, 1);
    return d;
}

Bytes photoshopPayload(const std::vector<PhotoshopBlock>& blocks)
{
    Bytes p;
    putText(p, std::string("Photoshop 3.0\0", 14));
    for (const PhotoshopBlock& b : blocks) {
        putText(p, b.signature);
        put16(p, b.id);
        p.push_back(static_cast<unsigned char>(b.name.size()));
        putText(p, b.name);
        if (b.name.size() % 2 == 0)
            p.push_back(0);
        put32(p, static_cast<std::uint32_t>(b.data.size()));
        p.insert(p.end(), b.data.begin(), b.data.end());
        if (b.data.size() % 2 == 1)
            p.push_back(0);
    }
    return p;
}

JpegStream::JpegStream() : bytes_{0xFF, 0xD8} {}

JpegStream& JpegStream::segment(int code, const Bytes& payload)
{
    const Bytes whole = jpegSegment(code, payload);
    bytes_.insert(bytes_.end(), whole.begin(), whole.end());
    return *this;
}

JpegStream& JpegStream::raw(const Bytes& bytes)
{
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

JpegStream& JpegStream::marker(int code)
{
    bytes_.push_back(0xFF);
    bytes_.push_back(static_cast<unsigned char>(code));
    return *this;
}

Bytes jpegSegment(int code, const Bytes& payload)
{
    Bytes s{0xFF, static_cast<unsigned char>(code)};
    put16(s, static_cast<unsigned>(payload.size() + 2));
    s.insert(s.end(), payload.begin(), payload.end());
    return s;
}

Bytes replaceJpegRecords(const Bytes& jpeg, const Bytes& segments)
{
    Bytes out{0xFF, 0xD8};
    out.insert(out.end(), segments.begin(), segments.end());
    std::size_t p = 2;
    while (p + 4 <= jpeg.size() && jpeg[p] == 0xFF) {
        const int code = jpeg[p + 1];
        const std::size_t length = static_cast<std::size_t>(jpeg[p + 2] << 8 | jpeg[p + 3]);
        if (code == 0xDA)
            break;
        if (code < 0xE0 || code > 0xEF)
            out.insert(out.end(), jpeg.begin() + static_cast<long>(p),
                       jpeg.begin() + static_cast<long>(p + 2 + length));
        p += 2 + length;
    }
    out.insert(out.end(), jpeg.begin() + static_cast<long>(p), jpeg.end());
    return out;
}

unsigned char patternSample(int x, int y, int c) { return static_cast<unsigned char>(x * 7 + y * 13 + c * 61 + 5); }

bool writeImageData(const std::string& path, const OIIO::ImageSpec& spec, const Bytes& samples)
{
    auto out = OIIO::ImageOutput::create(path);
    if (!out)
        return OIIO::geterror(), false;
    // The samples are unassociated: the writer must not divide colour by alpha.
    OIIO::ImageSpec unassociated = spec;
    unassociated.attribute("oiio:UnassociatedAlpha", 1);
    if (!out->open(path, unassociated))
        return out->geterror(), false;
    const bool written = out->write_image(OIIO::TypeUInt8, samples.data());
    out->geterror();
    return out->close() && written;
}

bool writeImage(const std::string& path, const OIIO::ImageSpec& spec, unsigned char (*sample)(int, int, int))
{
    Bytes samples(static_cast<std::size_t>(spec.width) * spec.height * spec.nchannels);
    std::size_t i = 0;
    for (int y = 0; y < spec.height; ++y)
        for (int x = 0; x < spec.width; ++x)
            for (int c = 0; c < spec.nchannels; ++c)
                samples[i++] = sample(x, y, c);
    return writeImageData(path, spec, samples);
}

Bytes psdFile(int width, int height, int mode, const std::vector<Bytes>& planes, const Bytes& resolution,
              const Bytes& colourModeData, int transparentIndex)
{
    Bytes f;
    putText(f, "8BPS");
    put16(f, 1);
    f.insert(f.end(), 6, 0);
    put16(f, static_cast<unsigned>(planes.size()));
    put32(f, static_cast<std::uint32_t>(height));
    put32(f, static_cast<std::uint32_t>(width));
    put16(f, mode == 0 ? 1 : 8);
    put16(f, static_cast<unsigned>(mode));
    put32(f, static_cast<std::uint32_t>(colourModeData.size()));
    f.insert(f.end(), colourModeData.begin(), colourModeData.end());
    Bytes resources;
    if (transparentIndex >= 0) {
        putText(resources, "8BIM");
        put16(resources, 1047);
        put16(resources, 0);
        put32(resources, 2);
        put16(resources, static_cast<unsigned>(transparentIndex));
    }
    if (!resolution.empty()) {
        putText(resources, "8BIM");
        put16(resources, 1005);
        put16(resources, 0);  // empty name, padded
        put32(resources, static_cast<std::uint32_t>(resolution.size()));
        resources.insert(resources.end(), resolution.begin(), resolution.end());
    }
    put32(f, static_cast<std::uint32_t>(resources.size()));
    f.insert(f.end(), resources.begin(), resources.end());
    if (mode == 3 ? planes.size() > 3 : planes.size() > 4) {
        // A negative layer count says the first extra channel is the merged image's
        // transparency; one empty layer follows.
        Bytes layers;
        put16(layers, 0xFFFF);
        layers.insert(layers.end(), 16, 0);  // bounds
        put16(layers, 0);                    // no channels
        putText(layers, "8BIMnorm");
        layers.insert(layers.end(), {255, 0, 0, 0});
        put32(layers, 12);
        put32(layers, 0);                           // mask data
        put32(layers, 0);                           // blending ranges
        layers.insert(layers.end(), {0, 0, 0, 0});  // empty name padded to 4
        if (layers.size() % 2)
            layers.push_back(0);
        Bytes info;
        put32(info, static_cast<std::uint32_t>(layers.size()));
        info.insert(info.end(), layers.begin(), layers.end());
        put32(info, 0);  // global mask
        put32(f, static_cast<std::uint32_t>(info.size()));
        f.insert(f.end(), info.begin(), info.end());
    } else {
        put32(f, 0);  // layer and mask information
    }
    put16(f, 0);  // raw image data
    for (const Bytes& plane : planes)
        f.insert(f.end(), plane.begin(), plane.end());
    return f;
}

Bytes tiffFile(std::uint32_t width, std::uint32_t height, int channels, const Bytes& samples,
               std::uint32_t rowsPerStrip)
{
    const std::uint32_t strips = height == 0 ? 0 : (height + rowsPerStrip - 1) / rowsPerStrip;
    const std::uint64_t rowBytes = std::uint64_t(width) * static_cast<std::uint64_t>(channels);
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count, value;
    };
    const std::uint16_t kShort = 3, kLong = 4;
    const std::uint32_t entryCount = 10;
    const std::uint32_t ifdEnd = 8 + 2 + 12 * entryCount + 4;
    const std::uint32_t bitsAt = ifdEnd;
    const std::uint32_t offsetsAt = bitsAt + 2 * static_cast<std::uint32_t>(channels);
    const std::uint32_t countsAt = offsetsAt + 4 * strips;
    const std::uint32_t dataAt = countsAt + 4 * strips;
    const std::vector<Entry> entries{
        {256, kLong, 1, width},
        {257, kLong, 1, height},
        {258, kShort, static_cast<std::uint32_t>(channels), channels > 2 ? bitsAt : 8u},
        {259, kShort, 1, 1},
        {262, kShort, 1, channels >= 3 ? 2u : 1u},
        {273, kLong, strips, strips == 1 ? dataAt : offsetsAt},
        {277, kShort, 1, static_cast<std::uint32_t>(channels)},
        {278, kLong, 1, rowsPerStrip},
        {279, kLong, strips, strips == 1 ? static_cast<std::uint32_t>(rowBytes * height) : countsAt},
        {284, kShort, 1, 1},
    };
    Bytes f{'M', 'M', 0, 42};
    put32(f, 8);
    put16(f, entryCount);
    for (const Entry& e : entries) {
        put16(f, e.tag);
        put16(f, e.type);
        put32(f, e.count);
        if (e.type == kShort && e.count == 1) {
            put16(f, e.value);
            put16(f, 0);
        } else if (e.type == kShort && e.count == 2) {
            put16(f, 8);
            put16(f, 8);
        } else {
            put32(f, e.value);
        }
    }
    put32(f, 0);
    for (int c = 0; c < channels; ++c)
        put16(f, 8);
    std::uint32_t offset = dataAt;
    Bytes counts;
    for (std::uint32_t s = 0; s < strips; ++s) {
        const std::uint32_t rows = std::min(rowsPerStrip, height - s * rowsPerStrip);
        const auto bytes = static_cast<std::uint32_t>(rows * rowBytes);
        put32(f, offset);
        put32(counts, bytes);
        offset += bytes;
    }
    f.insert(f.end(), counts.begin(), counts.end());
    if (strips == 1)
        f.resize(dataAt);
    f.insert(f.end(), samples.begin(), samples.end());
    return f;
}

Bytes libjpegFile(const JpegRecipe& r)
{
    const bool cmyk = r.colour != JpegColour::Rgb;
    jpeg_compress_struct c{};
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);  // a recipe libjpeg refuses is a broken test: it may end it
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = static_cast<JDIMENSION>(r.width);
    c.image_height = static_cast<JDIMENSION>(r.height);
    c.input_components = cmyk ? 4 : 3;
    c.in_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    if (r.colour == JpegColour::Ycck)
        jpeg_set_colorspace(&c, JCS_YCCK);
    c.write_Adobe_marker = r.colour == JpegColour::AdobeCmyk || r.colour == JpegColour::Ycck;
    c.write_JFIF_header = r.jfifUnit >= 0;
    c.density_unit = static_cast<UINT8>(std::max(r.jfifUnit, 0));
    c.X_density = static_cast<UINT16>(r.xDensity);
    c.Y_density = static_cast<UINT16>(r.yDensity);
    c.restart_in_rows = r.restartRows;
    if (r.progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    if (!r.exif.empty())
        jpeg_write_marker(&c, JPEG_APP0 + 1, r.exif.data(), static_cast<unsigned>(r.exif.size()));
    if (!r.icc.empty())
        jpeg_write_icc_profile(&c, r.icc.data(), static_cast<unsigned>(r.icc.size()));
    Bytes line(static_cast<std::size_t>(r.width) * c.input_components);
    for (int y = 0; y < r.height; ++y) {
        for (std::size_t i = 0; i < line.size(); ++i)
            line[i] =
                patternSample(static_cast<int>(i) / c.input_components, y, static_cast<int>(i) % c.input_components);
        JSAMPROW row = line.data();
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes file(out, out + size);
    std::free(out);
    return file;
}

Bytes libjpegSamples(const Bytes& jpeg, int& components)
{
    jpeg_decompress_struct d{};
    LibjpegErrors errors;
    d.err = errors.attach();
    Bytes samples;
    components = 0;
    const bool decoded = guarded(errors, [&] {
        jpeg_create_decompress(&d);
        jpeg_mem_src(&d, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
        jpeg_read_header(&d, TRUE);
        if (d.num_components == 4)
            d.out_color_space = JCS_CMYK;
        jpeg_start_decompress(&d);
        samples.resize(static_cast<std::size_t>(d.output_width) * d.output_height * d.output_components);
        while (d.output_scanline < d.output_height) {
            JSAMPROW row = &samples[static_cast<std::size_t>(d.output_scanline) * d.output_width * d.output_components];
            jpeg_read_scanlines(&d, &row, 1);
        }
        components = d.output_components;
        jpeg_finish_decompress(&d);
    });
    jpeg_destroy_decompress(&d);
    if (!decoded)
        samples.clear();
    return samples;
}

Bytes oiioSamples(const std::string& path, int& width, int& height, int& channels)
{
    auto in = openReader(path);
    if (!in)
        return {};
    const OIIO::ImageSpec& spec = in->spec();
    width = spec.width;
    height = spec.height;
    channels = spec.nchannels;
    Bytes samples(static_cast<std::size_t>(width) * height * channels);
    if (!in->read_image(0, 0, 0, channels, OIIO::TypeUInt8, samples.data()))
        samples.clear();
    in->geterror();
    return samples;
}

}  // namespace trxtest
