#include "support/ReadFiles.h"

#include <algorithm>
#include <cstdlib>

#include "platform/LibjpegErrors.h"
#include "support/TestSupport.h"

namespace trxtest {
namespace {

// `v` in `count` bytes, big-endian unless `little`.
Bytes num(std::uint64_t v, int count, bool little = false)
{
    Bytes out(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        out[static_cast<std::size_t>(little ? i : count - 1 - i)] = static_cast<unsigned char>(v >> (8 * i));
    return out;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace

Bytes jfifPayload(int unit, unsigned horizontal, unsigned vertical)
{
    return cat(
        {text("JFIF"), {0, 1, 2, static_cast<unsigned char>(unit)}, num(horizontal, 2), num(vertical, 2), {0, 0}});
}

ExifField exifRational(std::uint16_t tag, std::uint32_t numerator, std::uint32_t denominator)
{
    return ExifField{tag, 5, 1, 0, numerator, denominator};
}

ExifField exifShort(std::uint16_t tag, std::uint16_t value) { return ExifField{tag, 3, 1, value, 0, 0}; }

Bytes exifPayload(bool little, const std::vector<ExifField>& fields, int claimedEntries)
{
    const auto count = static_cast<std::uint32_t>(fields.size());
    Bytes p = cat({text(std::string("Exif\0\0", 6)), text(little ? "II" : "MM"), num(42, 2, little), num(8, 4, little),
                   num(claimedEntries >= 0 ? static_cast<std::uint32_t>(claimedEntries) : count, 2, little)});
    Bytes rationals;
    for (const ExifField& f : fields) {
        // Rationals follow the IFD; a SHORT stands in the first two bytes of the value field.
        const std::uint32_t value = f.type == 5 ? 8 + 2 + 12 * count + 4 + static_cast<std::uint32_t>(rationals.size())
                                    : f.type == 3 && !little ? f.value << 16
                                                             : f.value;
        p = cat({p, num(f.tag, 2, little), num(f.type, 2, little), num(f.count, 4, little), num(value, 4, little)});
        if (f.type == 5)
            rationals = cat({rationals, num(f.numerator, 4, little), num(f.denominator, 4, little)});
    }
    return cat({p, num(0, 4), rationals});
}

Bytes photoshopResolution(std::uint32_t xFixed, std::uint16_t xUnit, std::uint32_t yFixed, std::uint16_t yUnit)
{
    return cat({num(xFixed, 4), num(xUnit, 2), num(1, 2), num(yFixed, 4), num(yUnit, 2), num(1, 2)});
}

Bytes photoshopPayload(const std::vector<PhotoshopBlock>& blocks)
{
    Bytes p = text(std::string("Photoshop 3.0\0", 14));
    for (const PhotoshopBlock& b : blocks)
        p = cat({p, text(b.signature), num(b.id, 2), num(b.name.size(), 1), text(b.name),
                 Bytes(b.name.size() % 2 ? 0 : 1), num(b.data.size(), 4), b.data, Bytes(b.data.size() % 2)});
    return p;
}

JpegStream::JpegStream() : bytes_{0xFF, 0xD8} {}

JpegStream& JpegStream::segment(int code, const Bytes& payload) { return raw(jpegSegment(code, payload)); }

JpegStream& JpegStream::raw(const Bytes& bytes)
{
    bytes_ = cat({bytes_, bytes});
    return *this;
}

JpegStream& JpegStream::marker(int code) { return raw({0xFF, static_cast<unsigned char>(code)}); }

Bytes jpegSegment(int code, const Bytes& payload)
{
    return cat({{0xFF, static_cast<unsigned char>(code)}, num(payload.size() + 2, 2), payload});
}

Bytes replaceJpegRecords(const Bytes& jpeg, const Bytes& segments)
{
    Bytes out = cat({{0xFF, 0xD8}, segments});
    std::size_t p = 2;
    while (p + 4 <= jpeg.size() && jpeg[p] == 0xFF && jpeg[p + 1] != 0xDA) {
        const std::size_t end = p + 2 + static_cast<std::size_t>(jpeg[p + 2] << 8 | jpeg[p + 3]);
        if (jpeg[p + 1] < 0xE0 || jpeg[p + 1] > 0xEF)
            out.insert(out.end(), jpeg.begin() + static_cast<long>(p), jpeg.begin() + static_cast<long>(end));
        p = end;
    }
    out.insert(out.end(), jpeg.begin() + static_cast<long>(p), jpeg.end());
    return out;
}

unsigned char patternSample(int x, int y, int c) { return static_cast<unsigned char>(x * 7 + y * 13 + c * 61 + 5); }

bool writeImage(const std::string& path, const OIIO::ImageSpec& spec, unsigned char (*sample)(int, int, int))
{
    Bytes samples;
    for (int y = 0; y < spec.height; ++y)
        for (int x = 0; x < spec.width; ++x)
            for (int c = 0; c < spec.nchannels; ++c)
                samples.push_back(sample(x, y, c));
    auto out = OIIO::ImageOutput::create(path);
    // The samples are unassociated: the writer must not divide colour by alpha.
    OIIO::ImageSpec unassociated = spec;
    unassociated.attribute("oiio:UnassociatedAlpha", 1);
    const bool written = out && out->open(path, unassociated) && out->write_image(OIIO::TypeUInt8, samples.data());
    OIIO::geterror();
    return out && (out->geterror(), out->close()) && written;
}

Bytes writtenBytes(const std::string& name, const OIIO::ImageSpec& spec, unsigned char (*sample)(int, int, int))
{
    const TempDir dir;
    const std::string path = dir.file(name);
    return writeImage(path, spec, sample) ? readFile(path) : Bytes();
}

Bytes patternSamples(int width, int height, int first, int end)
{
    Bytes out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = first; c < end; ++c)
                out.push_back(patternSample(x, y, c));
    return out;
}

Bytes psdFile(int width, int height, int mode, const std::vector<Bytes>& planes, const Bytes& resolution,
              const Bytes& colourModeData, int transparentIndex)
{
    Bytes resources;
    if (!resolution.empty())
        resources = cat({text("8BIM"), num(1005, 2), num(0, 2), num(resolution.size(), 4), resolution});
    if (transparentIndex >= 0)
        resources = cat({resources, text("8BIM"), num(1047, 2), num(0, 2), num(2, 4), num(transparentIndex, 2)});
    Bytes f = cat({text("8BPS"), num(1, 2), Bytes(6), num(planes.size(), 2), num(height, 4), num(width, 4),
                   num(mode == 0 ? 1 : 8, 2), num(mode, 2), num(colourModeData.size(), 4), colourModeData,
                   num(resources.size(), 4), resources});
    if (planes.size() > (mode == 3 ? 3u : 4u)) {
        // A negative layer count says the first extra channel is the merged image's
        // transparency; one empty layer (no channels, padded empty name) follows.
        const Bytes layers = cat({num(0xFFFF, 2), Bytes(18), text("8BIMnorm"), {255, 0, 0, 0}, num(12, 4), Bytes(12)});
        f = cat({f, num(layers.size() + 8, 4), num(layers.size(), 4), layers, num(0, 4)});
    } else {
        f = cat({f, num(0, 4)});  // no layer and mask information
    }
    f = cat({f, num(0, 2)});  // raw image data
    for (const Bytes& plane : planes)
        f = cat({f, plane});
    return f;
}

Bytes tiffFile(std::uint32_t width, std::uint32_t height, int channels, const Bytes& samples,
               std::uint32_t rowsPerStrip)
{
    const std::uint32_t strips = height == 0 ? 0 : (height + rowsPerStrip - 1) / rowsPerStrip;
    const std::uint64_t rowBytes = std::uint64_t(width) * static_cast<std::uint64_t>(channels);
    const auto n = static_cast<std::uint32_t>(channels);
    // The directory of 10 entries, then bits per sample, strip offsets and strip sizes.
    const std::uint32_t bitsAt = 8 + 2 + 12 * 10 + 4, offsetsAt = bitsAt + 2 * n, countsAt = offsetsAt + 4 * strips;
    const std::uint32_t dataAt = countsAt + 4 * strips;
    Bytes offsets, counts;
    for (std::uint32_t s = 0; s < strips; ++s) {
        const std::uint64_t bytes = std::min(rowsPerStrip, height - s * rowsPerStrip) * rowBytes;
        offsets = cat({offsets, num(dataAt + s * rowsPerStrip * rowBytes, 4)});
        counts = cat({counts, num(bytes, 4)});
    }
    const auto shortEntry = [](unsigned tag, std::uint32_t count, std::uint32_t value) {
        return cat({num(tag, 2), num(3, 2), num(count, 4), num(value << 16, 4)});
    };
    const auto longEntry = [](unsigned tag, std::uint32_t count, std::uint32_t value) {
        return cat({num(tag, 2), num(4, 2), num(count, 4), num(value, 4)});
    };
    Bytes f = cat({text("MM"), num(42, 2), num(8, 4), num(10, 2), longEntry(256, 1, width), longEntry(257, 1, height),
                   cat({num(258, 2), num(3, 2), num(n, 4), num(bitsAt, 4)}), shortEntry(259, 1, 1),
                   shortEntry(262, 1, 2), longEntry(273, strips, strips == 1 ? dataAt : offsetsAt),
                   shortEntry(277, 1, n), longEntry(278, 1, rowsPerStrip),
                   longEntry(279, strips, strips == 1 ? static_cast<std::uint32_t>(rowBytes * height) : countsAt),
                   shortEntry(284, 1, 1), num(0, 4)});
    for (std::uint32_t c = 0; c < n; ++c)
        f = cat({f, num(8, 2)});
    return cat({f, offsets, counts, samples});
}

Bytes bmpFile(int infoBytes, std::uint32_t width, std::uint32_t height, int bits, int compression, const Bytes& data)
{
    const auto at = static_cast<std::uint32_t>(14 + infoBytes);
    const Bytes info = infoBytes == 12
                           ? cat({num(width, 2, true), num(height, 2, true), num(1, 2, true), num(bits, 2, true)})
                           : cat({num(width, 4, true), num(height, 4, true), num(1, 2, true), num(bits, 2, true),
                                  num(compression, 4, true), Bytes(20)});
    return cat(
        {text("BM"), num(at + data.size(), 4, true), Bytes(4), num(at, 4, true), num(infoBytes, 4, true), info, data});
}

Bytes libjpegFile(const JpegRecipe& r)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);  // a recipe libjpeg refuses is a broken test: it may end it
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = static_cast<JDIMENSION>(r.width);
    c.image_height = static_cast<JDIMENSION>(r.height);
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
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
        jpeg_read_header(&d, TRUE);  // four components decode to CMYK by default
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

}  // namespace trxtest
