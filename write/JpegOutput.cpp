#include "write/JpegOutput.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/strutil.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/LibjpegErrors.h"

namespace {

constexpr int kDefaultQuality = 98;  // OpenImageIO's, so that files match with or without a quality
constexpr std::size_t kBufferBytes = 64 * 1024;
constexpr double kMaxDensity = 65535.0;

using Bytes = std::vector<unsigned char>;

enum class Kind { Grey, Rgb, Cmyk };

Kind kindOf(const OIIO::ImageSpec& spec)
{
    const auto& n = spec.channelnames;
    if (spec.nchannels >= 4 && n.size() >= 4 && n[0] == "C" && n[1] == "M" && n[2] == "Y" && n[3] == "K")
        return Kind::Cmyk;
    return spec.nchannels >= 3 ? Kind::Rgb : Kind::Grey;
}

int componentsOf(Kind kind) { return kind == Kind::Cmyk ? 4 : kind == Kind::Rgb ? 3 : 1; }

// "Compression" "jpeg:NN" wins over "CompressionQuality", which wins over "jpeg:Quality".
int qualityOf(const OIIO::ImageSpec& spec)
{
    int quality = spec.get_int_attribute("jpeg:Quality", kDefaultQuality);
    quality = spec.get_int_attribute("CompressionQuality", quality);
    const std::string compression = spec.get_string_attribute("Compression");
    const std::size_t colon = compression.find(':');
    if (colon != std::string::npos && OIIO::Strutil::iequals(compression.substr(0, colon), "jpeg")) {
        const char* digits = compression.c_str() + colon + 1;
        char* end = nullptr;
        const long value = std::strtol(digits, &end, 10);
        if (end != digits && *end == '\0')
            quality = static_cast<int>(std::clamp(value, -1000L, 1000L));
    }
    return quality;
}

void setSubsampling(jpeg_compress_struct& cinfo, const std::string& name)
{
    struct Factors {
        const char* name;
        int h, v;
    };
    for (const Factors& f :
         {Factors{"4:4:4", 1, 1}, Factors{"4:2:2", 2, 1}, Factors{"4:2:0", 2, 2}, Factors{"4:1:1", 4, 1}})
        if (name == f.name) {
            cinfo.comp_info[0].h_samp_factor = f.h;
            cinfo.comp_info[0].v_samp_factor = f.v;
        }
}

// Resolution in pixels per inch, or false when the spec has none.
bool resolutionOf(const OIIO::ImageSpec& spec, double& x, double& y)
{
    if (!spec.find_attribute("XResolution"))
        return false;
    const std::string unit = spec.get_string_attribute("ResolutionUnit", "in");
    const double scale = OIIO::Strutil::iequals(unit, "cm") ? 2.54 : 1.0;
    if (scale == 1.0 && !OIIO::Strutil::iequals(unit, "in") && !OIIO::Strutil::iequals(unit, "inch"))
        return false;
    x = spec.get_float_attribute("XResolution") * scale;
    y = spec.get_float_attribute("YResolution", spec.get_float_attribute("XResolution")) * scale;
    return x > 0 && y > 0;
}

// JFIF density: whole dots in the spec's unit. Unit 0 and 1:1 (no resolution) when the
// spec has none or it rounds below 1.
void setDensity(jpeg_compress_struct& cinfo, const OIIO::ImageSpec& spec)
{
    if (!spec.find_attribute("XResolution"))
        return;
    const double x = std::round(spec.get_float_attribute("XResolution"));
    const double y = std::round(spec.get_float_attribute("YResolution", spec.get_float_attribute("XResolution")));
    if (!(x >= 1 && y >= 1))
        return;
    const std::string unit = spec.get_string_attribute("ResolutionUnit");
    cinfo.density_unit = OIIO::Strutil::iequals(unit, "in") || OIIO::Strutil::iequals(unit, "inch") ? 1
                         : OIIO::Strutil::iequals(unit, "cm")                                       ? 2
                                                                                                    : 0;
    cinfo.X_density = static_cast<UINT16>(std::min(x, kMaxDensity));
    cinfo.Y_density = static_cast<UINT16>(std::min(y, kMaxDensity));
}

void put16(Bytes& out, unsigned v, bool little)
{
    const unsigned char lo = static_cast<unsigned char>(v), hi = static_cast<unsigned char>(v >> 8);
    out.insert(out.end(), {little ? lo : hi, little ? hi : lo});
}

void put32(Bytes& out, std::uint32_t v, bool little)
{
    put16(out, little ? v & 0xFFFF : v >> 16, little);
    put16(out, little ? v >> 16 : v & 0xFFFF, little);
}

// An exact fraction for whole resolutions, else four decimals.
void putRational(Bytes& out, double value)
{
    const std::uint32_t denominator = value == std::floor(value) ? 1 : 10000;
    put32(out, static_cast<std::uint32_t>(std::lround(value * denominator)), true);
    put32(out, denominator, true);
}

// Exif with XResolution, YResolution and ResolutionUnit (inches) in the first IFD: where
// readers look for the resolution of a JPEG that has no JFIF record.
Bytes exifResolution(double x, double y)
{
    Bytes p = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0};
    constexpr std::uint32_t kValues = 8 + 2 + 3 * 12 + 4;
    put16(p, 3, true);
    for (std::uint32_t tag : {282u, 283u}) {
        put16(p, tag, true);
        put16(p, 5, true);  // RATIONAL
        put32(p, 1, true);
        put32(p, kValues + (tag - 282) * 8, true);
    }
    put16(p, 296, true);
    put16(p, 3, true);  // SHORT
    put32(p, 1, true);
    put32(p, 2, true);  // inches
    put32(p, 0, true);  // no further IFD
    putRational(p, x);
    putRational(p, y);
    return p;
}

// Photoshop's resolution resource (1005), in pixels per inch: ImageMagick reads the
// resolution of a CMYK JPEG from here.
Bytes photoshopResolution(double x, double y)
{
    const std::string head("Photoshop 3.0\0008BIM\003\355\0\0\0\0\0\020", 26);
    Bytes p(head.begin(), head.end());
    for (double v : {x, y}) {
        put32(p, static_cast<std::uint32_t>(std::lround(v * 65536)), false);
        put16(p, 1, false);  // shown in pixels per inch
        put16(p, 1, false);  // size shown in inches
    }
    return p;
}

struct Destination {
    OIIO::Filesystem::IOProxy* proxy = nullptr;
    std::FILE* file = nullptr;
    Bytes buffer;

    bool put(const JOCTET* bytes, std::size_t count)
    {
        if (count == 0)
            return true;
        if (proxy) {
            try {
                return proxy->write(bytes, count) == count;
            } catch (...) {  // a memory proxy that cannot grow
                return false;
            }
        }
        return file && std::fwrite(bytes, 1, count, file) == count;
    }
};

Destination& destinationOf(j_compress_ptr cinfo) { return *static_cast<Destination*>(cinfo->client_data); }

void initDestination(j_compress_ptr cinfo)
{
    Destination& d = destinationOf(cinfo);
    cinfo->dest->next_output_byte = d.buffer.data();
    cinfo->dest->free_in_buffer = d.buffer.size();
}

boolean emptyOutputBuffer(j_compress_ptr cinfo)
{
    Destination& d = destinationOf(cinfo);
    if (!d.put(d.buffer.data(), d.buffer.size()))
        ERREXIT(cinfo, JERR_FILE_WRITE);
    initDestination(cinfo);
    return TRUE;
}

void termDestination(j_compress_ptr cinfo)
{
    Destination& d = destinationOf(cinfo);
    if (!d.put(d.buffer.data(), d.buffer.size() - cinfo->dest->free_in_buffer))
        ERREXIT(cinfo, JERR_FILE_WRITE);
}

class JpegOutput final : public OIIO::ImageOutput {
public:
    ~JpegOutput() override { close(); }
    const char* format_name() const override { return "jpeg"; }
    int supports(OIIO::string_view feature) const override { return feature == "ioproxy"; }
    bool open(const std::string& name, const OIIO::ImageSpec& spec, OpenMode mode = Create) override;
    bool write_scanline(int y, int z, OIIO::TypeDesc format, const void* data,
                        OIIO::stride_t xstride = OIIO::AutoStride) override;
    bool close() override;

private:
    bool fail();
    void release();
    bool openFile(const std::string& name);
    const JOCTET* pack(const unsigned char* native);

    jpeg_compress_struct cinfo_{};
    jpeg_destination_mgr manager_{};
    LibjpegErrors errors_;
    Destination destination_;
    Kind kind_ = Kind::Rgb;
    bool created_ = false;  // cinfo_ holds libjpeg state
    bool started_ = false;  // lines may be written
    bool failed_ = false;   // libjpeg or the target refused since the last close
    Bytes native_;
    Bytes row_;
};

bool JpegOutput::fail()
{
    errorfmt("JPEG error: {}", errors_.message);
    release();
    failed_ = true;
    return false;
}

// Drops libjpeg's state and the file without finishing either.
void JpegOutput::release()
{
    if (created_)
        jpeg_destroy_compress(&cinfo_);
    created_ = started_ = false;
    if (destination_.file)
        std::fclose(destination_.file);
    destination_.file = nullptr;
}

bool JpegOutput::openFile(const std::string& name)
{
    destination_.file = std::fopen(name.c_str(), "wb");
    if (!destination_.file) {
        errorfmt("Could not open \"{}\"", name);
        return false;
    }
    std::setvbuf(destination_.file, nullptr, _IONBF, 0);  // the destination buffers; a refusal shows at once
    return true;
}

bool JpegOutput::open(const std::string& name, const OIIO::ImageSpec& spec, OpenMode mode)
{
    close();
    failed_ = false;
    if (mode != Create) {
        errorfmt("{} does not support subimages or MIP levels", format_name());
        return false;
    }
    if (spec.width < 1 || spec.height < 1 || spec.depth > 1 || spec.nchannels < 1) {
        errorfmt("Cannot write a JPEG of {} x {} pixels and {} channels", spec.width, spec.height, spec.nchannels);
        return false;
    }
    m_spec = spec;
    m_spec.set_format(OIIO::TypeUInt8);  // JPEG holds 8-bit samples only
    kind_ = kindOf(m_spec);
    const int quality = qualityOf(m_spec);
    const std::string subsampling = m_spec.get_string_attribute("jpeg:subsampling");
    const bool progressive = m_spec.get_int_attribute("jpeg:progressive") != 0;
    const J_COLOR_SPACE colourSpace = kind_ == Kind::Cmyk ? JCS_CMYK : kind_ == Kind::Rgb ? JCS_RGB : JCS_GRAYSCALE;

    ioproxy_retrieve_from_config(m_spec);
    destination_.proxy = ioproxy();
    destination_.buffer.resize(kBufferBytes);
    manager_.init_destination = initDestination;
    manager_.empty_output_buffer = emptyOutputBuffer;
    manager_.term_destination = termDestination;
    cinfo_.err = errors_.attach();
    created_ = true;
    // The file is opened only once libjpeg has taken the parameters: an image it refuses
    // (wider than it can encode) leaves no file behind.
    if (!guarded(errors_, [&] {
            jpeg_create_compress(&cinfo_);
            cinfo_.client_data = &destination_;
            cinfo_.dest = &manager_;
            cinfo_.image_width = static_cast<JDIMENSION>(m_spec.width);
            cinfo_.image_height = static_cast<JDIMENSION>(m_spec.height);
            cinfo_.input_components = componentsOf(kind_);
            cinfo_.in_color_space = colourSpace;
            jpeg_set_defaults(&cinfo_);  // YCbCr 4:2:0 with JFIF; CMYK with Adobe's marker
            jpeg_set_quality(&cinfo_, quality, TRUE);
            if (kind_ == Kind::Rgb)
                setSubsampling(cinfo_, subsampling);
            if (progressive)
                jpeg_simple_progression(&cinfo_);
            setDensity(cinfo_, m_spec);
            jpeg_start_compress(&cinfo_, TRUE);
        }))
        return fail();
    if (!destination_.proxy && !openFile(name)) {
        release();
        return false;
    }

    const OIIO::ParamValue* icc = m_spec.find_attribute("ICCProfile");
    const bool hasIcc = icc && icc->type().basetype == OIIO::TypeDesc::UINT8 && icc->type().size() > 0;
    double x = 0, y = 0;
    Bytes exif, photoshop;
    if (kind_ == Kind::Cmyk && resolutionOf(m_spec, x, y)) {
        exif = exifResolution(std::min(x, kMaxDensity), std::min(y, kMaxDensity));
        photoshop = photoshopResolution(std::min(x, kMaxDensity), std::min(y, kMaxDensity));
    }
    if (!guarded(errors_, [&] {
            if (!exif.empty())
                jpeg_write_marker(&cinfo_, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
            if (!photoshop.empty())
                jpeg_write_marker(&cinfo_, JPEG_APP0 + 13, photoshop.data(), static_cast<unsigned>(photoshop.size()));
            if (hasIcc)
                jpeg_write_icc_profile(&cinfo_, static_cast<const JOCTET*>(icc->data()),
                                       static_cast<unsigned>(icc->type().size()));
        }))
        return fail();
    started_ = true;
    return true;
}

// The line as libjpeg takes it: the encoded channels only, CMYK inverted (Adobe's files
// store 255 minus the ink).
const JOCTET* JpegOutput::pack(const unsigned char* native)
{
    const std::size_t width = static_cast<std::size_t>(m_spec.width);
    const std::size_t channels = static_cast<std::size_t>(m_spec.nchannels);
    const std::size_t components = static_cast<std::size_t>(componentsOf(kind_));
    if (kind_ != Kind::Cmyk && channels == components)
        return native;
    row_.resize(width * components);
    unsigned char* out = row_.data();
    if (kind_ == Kind::Cmyk) {
        for (std::size_t x = 0; x < width; ++x, native += channels, out += 4)
            for (int c = 0; c < 4; ++c)
                out[c] = static_cast<unsigned char>(255 - native[c]);
    } else {
        for (std::size_t x = 0; x < width; ++x, native += channels, out += components)
            std::copy(native, native + components, out);
    }
    return row_.data();
}

bool JpegOutput::write_scanline(int y, int z, OIIO::TypeDesc format, const void* data, OIIO::stride_t xstride)
{
    if (!started_) {
        errorfmt("The JPEG output is not open");
        return false;
    }
    if (z != 0 || y != static_cast<int>(cinfo_.next_scanline)) {
        errorfmt("JPEG lines go in order: line {} asked, {} next", y, cinfo_.next_scanline);
        return false;
    }
    const void* native = to_native_scanline(format, data, xstride, native_, m_spec.get_int_attribute("oiio:dither"), y);
    JSAMPROW row = const_cast<JSAMPROW>(pack(static_cast<const unsigned char*>(native)));
    if (!guarded(errors_, [this, &row] { jpeg_write_scanlines(&cinfo_, &row, 1); }))
        return fail();
    return true;
}

bool JpegOutput::close()
{
    if (!created_) {
        const bool ok = !failed_;
        failed_ = false;
        return ok;
    }
    if (!started_) {
        release();
        return true;
    }
    // Lines never written are written as 0, as OpenImageIO does, so that the file is whole.
    const Bytes zeros(static_cast<std::size_t>(m_spec.width) * static_cast<std::size_t>(m_spec.nchannels), 0);
    JSAMPROW row = const_cast<JSAMPROW>(pack(zeros.data()));
    if (!guarded(errors_, [this, &row] {
            while (cinfo_.next_scanline < cinfo_.image_height)
                jpeg_write_scanlines(&cinfo_, &row, 1);
            jpeg_finish_compress(&cinfo_);
        }))
        return fail();
    jpeg_destroy_compress(&cinfo_);
    created_ = started_ = false;
    std::FILE* file = destination_.file;
    destination_.file = nullptr;
    if (file && std::fclose(file) != 0) {
        errorfmt("Could not finish writing the JPEG file");
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<OIIO::ImageOutput> makeJpegOutput() { return std::unique_ptr<OIIO::ImageOutput>(new JpegOutput); }
