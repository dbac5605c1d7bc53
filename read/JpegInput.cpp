#include "read/JpegInput.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/stat.h>

#include "platform/LibjpegErrors.h"
#include "read/ByteCursor.h"

// OpenImageIO declares this in tiffutils.h, which needs libtiff's headers; the library
// needs nothing else from there.
OIIO_NAMESPACE_BEGIN
OIIO_API bool decode_exif(string_view exif, ImageSpec& spec);
OIIO_NAMESPACE_END

namespace {

constexpr int kComponents = 4;
constexpr std::size_t kFrameHeaderBytes = 6;
constexpr std::size_t kReadBufferBytes = 256 * 1024;  // precision, height, width, component count

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool isFrameHeader(int code)
{
    // SOF0 to SOF15 without DHT (C4), JPG (C8) and DAC (CC).
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

bool standsAlone(int code) { return code == 0x01 || (code >= 0xD0 && code <= 0xD7); }

// An OpenImageIO reader of four-component JPEG files on libjpeg. Lines are decoded
// straight into the caller's buffer; a line above the decoder's position restarts it
// from the top of the file.
class JpegInput final : public OIIO::ImageInput {
public:
    ~JpegInput() override { close(); }
    const char* format_name() const override { return "jpeg"; }
    bool open(const std::string& name, OIIO::ImageSpec& newspec) override;
    bool close() override;
    bool read_native_scanline(int subimage, int miplevel, int y, int z, void* data) override;
    bool read_native_scanlines(int subimage, int miplevel, int ybegin, int yend, int z, void* data) override;
    bool read_native_scanlines(int subimage, int miplevel, int ybegin, int yend, int z, int chbegin, int chend,
                               void* data) override;

private:
    bool failed();
    void describe();
    bool seekLine(int y);
    bool decode(unsigned char* out, int lines, std::size_t stride);

    File file_;
    jpeg_decompress_struct cinfo_{};
    LibjpegErrors errors_;
    bool created_ = false;
    bool headerRead_ = false;  // the header of open() is read and decompression not started
    bool decoding_ = false;    // decompression started; output_scanline is the next line
    std::vector<unsigned char> line_;
};

bool JpegInput::failed()
{
    errorfmt("JPEG error: {}", errors_.message);
    decoding_ = false;
    headerRead_ = false;
    return false;
}

bool JpegInput::open(const std::string& name, OIIO::ImageSpec& newspec)
{
    close();
    file_.reset(std::fopen(name.c_str(), "rb"));
    if (!file_) {
        errorfmt("Could not open file \"{}\"", name);
        return false;
    }
    // libjpeg asks for 4 KiB at a time; larger reads from the file take fewer system calls.
    std::setvbuf(file_.get(), nullptr, _IOFBF, kReadBufferBytes);
    cinfo_.err = errors_.attach();
    created_ = true;
    if (!guarded(errors_, [this] {
            jpeg_create_decompress(&cinfo_);
            jpeg_stdio_src(&cinfo_, file_.get());
            jpeg_save_markers(&cinfo_, JPEG_APP0 + 1, 0xFFFF);
            jpeg_save_markers(&cinfo_, JPEG_APP0 + 2, 0xFFFF);
            jpeg_read_header(&cinfo_, TRUE);
        }))
        return failed();
    if (cinfo_.num_components != kComponents) {
        errorfmt("\"{}\" has {} components, not {}", name, cinfo_.num_components, kComponents);
        return false;
    }
    describe();
    headerRead_ = true;
    newspec = m_spec;
    return true;
}

// The description OpenImageIO's JPEG reader gives, with the channels as stored.
void JpegInput::describe()
{
    m_spec = OIIO::ImageSpec(static_cast<int>(cinfo_.image_width), static_cast<int>(cinfo_.image_height), kComponents,
                             OIIO::TypeUInt8);
    m_spec.channelnames = {"C", "M", "Y", "K"};
    m_spec.alpha_channel = -1;
    m_spec.attribute("jpeg:ColorSpace", cinfo_.jpeg_color_space == JCS_YCCK ? "YCbCrK" : "CMYK");

    for (jpeg_saved_marker_ptr m = cinfo_.marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0)
            OIIO::decode_exif(OIIO::string_view(reinterpret_cast<const char*>(m->data) + 6, m->data_length - 6),
                              m_spec);

    // JFIF density after Exif, as OpenImageIO does: a density above 1 on both axes wins,
    // and the JFIF unit names whatever resolution is then present (libjpeg reports unit
    // 0 and density 1:1 when the file has no JFIF record).
    const float xDensity = cinfo_.X_density;
    const float yDensity = cinfo_.Y_density;
    if (xDensity > 1 && yDensity > 1) {
        m_spec.attribute("XResolution", xDensity);
        m_spec.attribute("YResolution", yDensity);
    }
    if (m_spec.get_float_attribute("XResolution") != 0 && m_spec.get_float_attribute("YResolution") != 0) {
        switch (cinfo_.density_unit) {
        case 0: m_spec.attribute("ResolutionUnit", "none"); break;
        case 1: m_spec.attribute("ResolutionUnit", "in"); break;
        case 2: m_spec.attribute("ResolutionUnit", "cm"); break;
        default: break;
        }
    }
    if (xDensity > 0 && yDensity > 0 && xDensity != yDensity)
        m_spec.attribute("PixelAspectRatio", xDensity / yDensity);

    JOCTET* icc = nullptr;
    unsigned iccLength = 0;
    // Only an allocation failure raises an error here; a damaged profile reads as none.
    if (guarded(errors_, [&] { jpeg_read_icc_profile(&cinfo_, &icc, &iccLength); }) && icc) {
        m_spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, static_cast<int>(iccLength)), icc);
        std::free(icc);
    }
}

bool JpegInput::close()
{
    if (created_)
        jpeg_destroy_decompress(&cinfo_);
    created_ = headerRead_ = decoding_ = false;
    file_.reset();
    return true;
}

// Puts the decoder at line y: starts it, or restarts it from the top of the file when
// y lies above its position, then decodes the lines in between and drops them.
bool JpegInput::seekLine(int y)
{
    if (!created_)
        return false;
    if (!decoding_ || static_cast<int>(cinfo_.output_scanline) > y) {
        const bool rewind = !headerRead_;
        if (!guarded(errors_, [this, rewind] {
                if (rewind) {
                    jpeg_abort_decompress(&cinfo_);
                    std::rewind(file_.get());
                    jpeg_stdio_src(&cinfo_, file_.get());
                    jpeg_save_markers(&cinfo_, JPEG_APP0 + 1, 0);
                    jpeg_save_markers(&cinfo_, JPEG_APP0 + 2, 0);
                    jpeg_read_header(&cinfo_, TRUE);
                }
                cinfo_.out_color_space = JCS_CMYK;
                jpeg_start_decompress(&cinfo_);
            }))
            return failed();
        headerRead_ = false;
        decoding_ = true;
        if (cinfo_.output_components != kComponents) {
            errorfmt("libjpeg delivers {} components, not {}", cinfo_.output_components, kComponents);
            decoding_ = false;
            return false;
        }
        line_.resize(static_cast<std::size_t>(cinfo_.output_width) * kComponents);
    }
    while (static_cast<int>(cinfo_.output_scanline) < y)
        if (!decode(line_.data(), 1, 0))
            return false;
    return true;
}

bool JpegInput::decode(unsigned char* out, int lines, std::size_t stride)
{
    if (!guarded(errors_, [this, out, lines, stride] {
            const JDIMENSION end = cinfo_.output_scanline + static_cast<JDIMENSION>(lines);
            JSAMPROW rows[16];
            while (cinfo_.output_scanline < end) {
                const JDIMENSION done = end - cinfo_.output_scanline;
                const JDIMENSION count = done < 16 ? done : 16;
                unsigned char* first = out + (lines - static_cast<int>(done)) * stride;
                for (JDIMENSION i = 0; i < count; ++i)
                    rows[i] = first + i * stride;
                if (jpeg_read_scanlines(&cinfo_, rows, count) == 0)
                    ERREXIT(&cinfo_, JERR_INPUT_EOF);  // never expected of a file source; no endless loop
            }
        }))
        return failed();
    return true;
}

bool JpegInput::read_native_scanline(int subimage, int miplevel, int y, int z, void* data)
{
    return read_native_scanlines(subimage, miplevel, y, y + 1, z, data);
}

bool JpegInput::read_native_scanlines(int subimage, int miplevel, int ybegin, int yend, int z, void* data)
{
    return read_native_scanlines(subimage, miplevel, ybegin, yend, z, 0, kComponents, data);
}

bool JpegInput::read_native_scanlines(int subimage, int miplevel, int ybegin, int yend, int z, int chbegin, int chend,
                                      void* data)
{
    if (subimage != 0 || miplevel != 0 || z != 0 || ybegin < 0 || yend > m_spec.height || ybegin > yend ||
        chbegin < 0 || chend > kComponents || chbegin >= chend) {
        errorfmt("No lines {} to {}, channels {} to {} in this JPEG", ybegin, yend, chbegin, chend);
        return false;
    }
    if (!seekLine(ybegin))
        return false;
    auto* out = static_cast<unsigned char*>(data);
    const std::size_t width = static_cast<std::size_t>(m_spec.width);
    if (chbegin == 0 && chend == kComponents)
        return decode(out, yend - ybegin, width * kComponents);
    const std::size_t channels = static_cast<std::size_t>(chend - chbegin);
    for (int y = ybegin; y < yend; ++y) {
        if (!decode(line_.data(), 1, 0))
            return false;
        for (std::size_t x = 0; x < width; ++x, out += channels)
            std::memcpy(out, &line_[x * kComponents + static_cast<std::size_t>(chbegin)], channels);
    }
    return true;
}

}  // namespace

bool jpegFrameHasFourComponents(const std::string& path)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;  // a pipe or device is not read ahead of the reader that gets it
    File file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return false;
    std::FILE* in = file.get();
    if (std::getc(in) != 0xFF || std::getc(in) != 0xD8)
        return false;
    for (;;) {
        int c = std::getc(in);
        if (c == EOF)
            return false;
        if (c != 0xFF)
            continue;  // libjpeg skips stray bytes between segments too
        do
            c = std::getc(in);
        while (c == 0xFF);
        if (c == EOF || c == 0xD9 || c == 0xDA)
            return false;
        if (standsAlone(c))
            continue;
        const int high = std::getc(in);
        const int low = std::getc(in);
        const long length = high == EOF || low == EOF ? 0 : (high << 8 | low);
        if (length < 2)
            return false;
        if (isFrameHeader(c)) {
            std::vector<unsigned char> header(kFrameHeaderBytes);
            header.resize(std::fread(header.data(), 1, header.size(), in));
            ByteCursor frame(header);
            const unsigned components = frame.u8(5);
            return !frame.overrun() && components == kComponents;
        }
        if (std::fseek(in, length - 2, SEEK_CUR) != 0)
            return false;
    }
}

std::unique_ptr<OIIO::ImageInput> createJpegInput() { return std::make_unique<JpegInput>(); }
