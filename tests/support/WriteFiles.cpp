#include "support/WriteFiles.h"

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

Decoded decodeFile(const std::string& path)
{
    OIIO::ImageSpec config;
    config.attribute("oiio:RawColor", 1);
    config.attribute("oiio:UnassociatedAlpha", 1);
    Decoded out;
    auto in = OIIO::ImageInput::open(path, &config);
    out.spec = in ? in->spec() : out.spec;
    out.pixels.resize(out.spec.image_pixels() * out.spec.nchannels);
    out.ok = in && in->read_image(0, 0, 0, out.spec.nchannels, OIIO::TypeDesc::UINT8, out.pixels.data());
    if (const OIIO::ParamValue* icc = out.spec.find_attribute("ICCProfile"))
        out.icc.assign(static_cast<const unsigned char*>(icc->data()),
                       static_cast<const unsigned char*>(icc->data()) + icc->type().size());
    return out;
}

std::vector<unsigned char> bytesOf(const CBufferStream& stream)
{
    return {stream.GetBuffer(), stream.GetBuffer() + stream.GetPos()};
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
