#include "support/WriteFiles.h"

#include <OpenImageIO/filesystem.h>

#include <cstring>

#include "image/ImageImpl.h"

namespace trxtest {

TarvexImage makeImage(bool cmyk, bool alpha, int columns, int rows, const ByteAt& byteAt, int linesPerStrip,
                      std::vector<unsigned char>* pixels)
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
        for (int x = 0; x < columns * bytes; ++x)
            line.get_pustr()[x] = static_cast<unsigned char>(byteAt(x / bytes, y, x % bytes));
        if (alpha && image.setupAlphaLinePointer(line, y))
            for (int x = 0; x < columns; ++x)
                line.get_pustr()[x] = static_cast<unsigned char>(byteAt(x, y, bytes));
        for (int i = 0; pixels && i < columns * (bytes + alpha); ++i)
            pixels->push_back(static_cast<unsigned char>(byteAt(i / (bytes + alpha), y, i % (bytes + alpha))));
    }
    return image;
}

Decoded decodeBytes(const std::string& name, const void* bytes, std::size_t size)
{
    OIIO::ImageSpec config;
    config.attribute("oiio:RawColor", 1);
    config.attribute("oiio:UnassociatedAlpha", 1);
    OIIO::Filesystem::IOMemReader proxy(bytes, size);
    void* pointer = &proxy;  // OpenImageIO 2.4 takes a reading proxy only through the configuration
    if (bytes)
        config.attribute("oiio:ioproxy", OIIO::TypeDesc::PTR, &pointer);
    Decoded out;
    auto in = OIIO::ImageInput::open(name, &config);
    out.spec = in ? in->spec() : out.spec;
    out.pixels.resize(out.spec.image_pixels() * out.spec.nchannels);
    out.ok = in && in->read_image(0, 0, 0, out.spec.nchannels, OIIO::TypeDesc::UINT8, out.pixels.data());
    if (const OIIO::ParamValue* icc = out.spec.find_attribute("ICCProfile"))
        out.icc.assign(static_cast<const unsigned char*>(icc->data()),
                       static_cast<const unsigned char*>(icc->data()) + icc->type().size());
    return out;
}

std::vector<unsigned char> cmykAsRgb(const std::vector<unsigned char>& pixels, bool alpha)
{
    std::vector<unsigned char> rgb;
    for (std::size_t p = 0; p + (alpha ? 5 : 4) <= pixels.size(); p += alpha ? 5 : 4) {
        for (int c = 0; c < 3; ++c)
            rgb.push_back(static_cast<unsigned char>(((255 - pixels[p + c]) * (255 - pixels[p + 3]) * 2 + 255) / 510));
        if (alpha)
            rgb.push_back(pixels[p + 4]);
    }
    return rgb;
}

std::vector<unsigned char> bytesOf(const CBufferStream& stream)
{
    return {stream.GetBuffer(), stream.GetBuffer() + stream.GetPos()};
}

std::vector<unsigned char> bytesOf(CAutoBuffer& buffer)
{
    std::uint32_t size = 0;
    const char* bytes = buffer.ReadData(size, 0);
    return {bytes, bytes + size};
}

std::vector<unsigned char> rgbProfile()
{
    std::vector<unsigned char> p(256);
    for (std::size_t i = 0; i < p.size(); ++i)
        p[i] = static_cast<unsigned char>(i * 31 + 7);
    // Big-endian words: length, version, rendering intent 0, the D50 illuminant, two tags.
    const std::uint32_t at[] = {0, 8, 64, 68, 72, 76, 128, 136, 140, 148, 152};
    const std::uint32_t value[] = {256, 0x02100000, 0, 0xF6D6, 0x10000, 0xD32D, 2, 156, 100, 200, 20};
    for (int w = 0; w < 11; ++w)
        for (int i = 0; i < 4; ++i)
            p[at[w] + i] = static_cast<unsigned char>(value[w] >> (24 - 8 * i));
    for (auto [at, text] : {std::pair{12, "mntrRGB XYZ "}, {36, "acsp"}, {132, "desc"}, {144, "wtpt"}})
        std::memcpy(&p[at], text, std::strlen(text));
    return p;
}

}  // namespace trxtest
