#include "support/WriteFiles.h"

#include <OpenImageIO/filesystem.h>

#include "image/ImageImpl.h"

namespace trxtest {

TarvexImage makeImage(bool cmyk, bool alpha, int columns, int rows, const ByteAt& byteAt, int linesPerStrip)
{
    TarvexImage image;
    image.colourSpace(cmyk ? TarvexImage::colourSpaceCMYK : TarvexImage::colourSpaceRGB);
    if (alpha)
        TarvexImageAccess::impl(image).alphaChannel = cmyk ? 4 : 3;
    const int strips = linesPerStrip > 0 ? (rows + linesPerStrip - 1) / linesPerStrip : 0;
    image.size(columns, rows, strips, linesPerStrip, nullptr, nullptr);
    const int bytes = cmyk ? 4 : 3;
    TarvexImage::LinePointer line;
    for (int y = 0; y < rows; ++y) {
        image.setupLinePointer(line, y);
        unsigned char* p = line.get_pustr();
        for (int x = 0; x < columns; ++x)
            for (int c = 0; c < bytes; ++c)
                p[bytes * x + c] = static_cast<unsigned char>(byteAt(x, y, c));
        if (alpha) {
            image.setupAlphaLinePointer(line, y);
            unsigned char* a = line.get_pustr();
            for (int x = 0; x < columns; ++x)
                a[x] = static_cast<unsigned char>(byteAt(x, y, bytes));
        }
    }
    return image;
}

namespace {

Decoded decode(std::unique_ptr<OIIO::ImageInput> in)
{
    Decoded out;
    if (!in)
        return out;
    out.spec = in->spec();
    out.pixels.resize(out.spec.image_pixels() * out.spec.nchannels);
    out.ok = in->read_image(0, 0, 0, out.spec.nchannels, OIIO::TypeDesc::UINT8, out.pixels.data());
    in->close();
    return out;
}

OIIO::ImageSpec readConfig()
{
    OIIO::ImageSpec config;
    config.attribute("oiio:RawColor", 1);
    config.attribute("oiio:UnassociatedAlpha", 1);
    return config;
}

}  // namespace

Decoded decodeFile(const std::string& path)
{
    const OIIO::ImageSpec config = readConfig();
    return decode(OIIO::ImageInput::open(path, &config));
}

Decoded decodeBytes(const std::string& name, const void* bytes, std::size_t size)
{
    OIIO::ImageSpec config = readConfig();
    OIIO::Filesystem::IOMemReader proxy(bytes, size);
    // OpenImageIO 2.4 takes a reading proxy only through the configuration.
    void* pointer = &proxy;
    config.attribute("oiio:ioproxy", OIIO::TypeDesc::PTR, &pointer);
    return decode(OIIO::ImageInput::open(name, &config));
}

std::vector<unsigned char> expectedPixels(TarvexImage& image)
{
    const TarvexImageImpl& im = TarvexImageAccess::impl(image);
    const int bytes = im.isCMYK ? 4 : 3;
    const bool alpha = image.matte();
    std::vector<unsigned char> out;
    TarvexImage::LinePointer line, alphaLine;
    for (int y = 0; y < image.rows(); ++y) {
        image.setupLinePointer(line, y);
        if (alpha)
            image.setupAlphaLinePointer(alphaLine, y);
        for (int x = 0; x < image.columns(); ++x) {
            out.insert(out.end(), line.get() + bytes * x, line.get() + bytes * (x + 1));
            if (alpha)
                out.push_back(alphaLine.get()[x]);
        }
    }
    return out;
}

std::vector<unsigned char> cmykAsRgb(const std::vector<unsigned char>& pixels, bool alpha)
{
    const std::size_t step = alpha ? 5 : 4;
    std::vector<unsigned char> rgb;
    for (std::size_t p = 0; p + step <= pixels.size(); p += step) {
        for (int c = 0; c < 3; ++c)
            rgb.push_back(static_cast<unsigned char>(((255 - pixels[p + c]) * (255 - pixels[p + 3]) * 2 + 255) / 510));
        if (alpha)
            rgb.push_back(pixels[p + 4]);
    }
    return rgb;
}

bool RecordingOutput::open(const std::string& name, const OIIO::ImageSpec& spec, OpenMode)
{
    ++opens;
    openedName = name;
    openedSpec = spec;
    if (failOpen) {
        errorfmt("no room for {}", name);
        return false;
    }
    m_spec = spec;
    return true;
}

bool RecordingOutput::write_scanline(int y, int, OIIO::TypeDesc, const void* data, OIIO::stride_t)
{
    rowsOffered.push_back(y);
    rowAddresses.push_back(data);
    if (y == failRow) {
        errorfmt("row {} refused", y);
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    pixels.insert(pixels.end(), bytes, bytes + static_cast<std::size_t>(m_spec.width) * m_spec.nchannels);
    return true;
}

bool RecordingOutput::close()
{
    ++closes;
    return true;
}

}  // namespace trxtest
