#include "write/ImageWriter.h"

#include <climits>
#include <cstring>
#include <vector>

#include "image/ImageImpl.h"
#include "image/Log.h"
#include "image/TextConversion.h"
#include "platform/OiioCompat.h"
#include "write/FormatTraits.h"

namespace {

// How the colour bytes of a line are laid out in the strips.
enum class Source {
    Cmyk,       // C, M, Y, K
    CmykAsRgb,  // C, M, Y, K, for a format that holds no CMYK
    Rgb,        // R, G, B
    Grey,       // one grey byte per pixel
    Packed,     // one bit per pixel, pixel x at bit 7 - (x mod 8) of byte x / 8
};

struct Layout {
    const wchar_t* word;
    int channels;
    bool cmyk;
    bool alpha;
};

Source sourceOf(const TarvexImageImpl& image, const std::string& format)
{
    if (!image.isTrueColour || image.colourSpace == TarvexImage::colourSpaceBilevel)
        return Source::Packed;
    if (image.isCMYK)
        return holdsCmyk(format) ? Source::Cmyk : Source::CmykAsRgb;
    if (image.colourSpace == TarvexImage::colourSpaceGrey)
        return Source::Grey;
    return Source::Rgb;
}

Layout layoutOf(Source source, bool alpha)
{
    if (source == Source::Cmyk)
        return alpha ? Layout{L"CMYKA", 5, true, true} : Layout{L"CMYK", 4, true, false};
    return alpha ? Layout{L"RGBA", 4, false, true} : Layout{L"RGB", 3, false, false};
}

std::int64_t sourceBytes(Source source, std::int64_t columns)
{
    switch (source) {
    case Source::Cmyk:
    case Source::CmykAsRgb: return 4 * columns;
    case Source::Rgb: return 3 * columns;
    case Source::Grey: return columns;
    case Source::Packed: return (columns + 7) / 8;
    }
    return 0;
}

void applyOptions(OIIO::ImageSpec& spec, const trx::WriteOptions& options)
{
    using Kind = trx::WriteOptions::Attribute::Kind;
    for (const auto& a : options.attributes()) {
        if (a.name.empty())
            continue;
        switch (a.kind) {
        case Kind::Int: spec.attribute(a.name, a.intValue); break;
        case Kind::Float: spec.attribute(a.name, a.floatValue); break;
        case Kind::Text: spec.attribute(a.name, a.text); break;
        }
    }
}

OIIO::ImageSpec makeSpec(const TarvexImageImpl& image, const Layout& layout, int quality, const std::string& format,
                         const trx::WriteOptions* options)
{
    OIIO::ImageSpec spec(static_cast<int>(image.columns), static_cast<int>(image.rows), layout.channels,
                         OIIO::TypeDesc::UINT8);
    if (layout.cmyk) {
        spec.channelnames = {"C", "M", "Y", "K"};
        if (layout.alpha) {
            spec.channelnames.push_back("A");
            spec.alpha_channel = 4;
            spec.attribute("oiio:ColorSpace", "CMYK");
        } else {
            spec.alpha_channel = -1;
            oiiocompat::setColorspace(spec, "CMYK");
        }
        // Without it the TIFF writer stores C, M, Y as RGB and K as an extra sample.
        spec.attribute("tiff:ColorSpace", "CMYK");
    } else {
        spec.channelnames = {"R", "G", "B"};
        if (layout.alpha) {
            spec.channelnames.push_back("A");
            spec.alpha_channel = 3;
        }
    }
    if (layout.alpha)
        spec.attribute("oiio:UnassociatedAlpha", 1);
    // Without a resolution the writers' own defaults (100 ppi in PNG, a 1:1 aspect in
    // JPEG) would be read back as one.
    if (image.xResolution > 0.0 && image.yResolution > 0.0) {
        spec.attribute("XResolution", static_cast<float>(image.xResolution));
        spec.attribute("YResolution", static_cast<float>(image.yResolution));
        spec.attribute("ResolutionUnit", "in");
    }
    if (quality > -1) {
        spec.attribute("jpeg:Quality", quality);
        // The JPEG writer takes its quality from here and ignores "jpeg:Quality".
        if (format == "jpeg")
            spec.attribute("CompressionQuality", quality);
    }
    if (options) {
        const std::vector<unsigned char>& icc = options->iccProfile();
        if (!icc.empty() && holdsIccProfile(format))
            spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, static_cast<int>(icc.size())),
                           icc.data());
        applyOptions(spec, *options);
    }
    fitResolution(spec, format);
    return spec;
}

// Why the image cannot be written in this layout (its strips cannot be walked safely, or
// the format refuses the profile), or null when it can.
const wchar_t* refusal(const TarvexImageImpl& image, Source source, bool alpha, const std::string& format,
                       const trx::WriteOptions* options)
{
    if (options && holdsIccProfile(format) && !options->iccProfile().empty())
        if (const wchar_t* why = iccRefusal(format, options->iccProfile()))
            return why;
    if (image.columns > INT_MAX || image.rows > INT_MAX)
        return L"dimensions beyond 2147483647";
    const std::int64_t lineBytes = image.pixelLineBytes();
    if (sourceBytes(source, image.columns) > lineBytes ||
        !stripsCoverLines(image.pixelStrips(), image.rows, image.linesPerStrip, lineBytes))
        return L"the colour strips do not hold every line";
    if (alpha && (image.alphaBytesPerLine < image.columns ||
                  !stripsCoverLines(image.alphaStrips, image.rows, image.linesPerStrip, image.alphaBytesPerLine)))
        return L"the alpha strips do not hold every line";
    return nullptr;
}

// a * b / 255 rounded to nearest, in integers as Pillow does it, so that CMYK written as
// RGB has the colours of Pillow's convert("RGB"): R = (255 - C)(255 - K) / 255 and so on.
unsigned mulDiv255(unsigned a, unsigned b)
{
    const unsigned t = a * b + 128;
    return ((t >> 8) + t) >> 8;
}

// Colour bytes of one pixel laid out as the output wants them, `step` bytes apart.
void expandLine(Source source, const unsigned char* line, std::int64_t columns, unsigned char* out, int step)
{
    switch (source) {
    case Source::Cmyk:
        for (std::int64_t x = 0; x < columns; ++x, out += step)
            std::memcpy(out, line + 4 * x, 4);
        break;
    case Source::CmykAsRgb:
        for (std::int64_t x = 0; x < columns; ++x, out += step) {
            const unsigned char* cmyk = line + 4 * x;
            const unsigned notK = 255u - cmyk[3];
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<unsigned char>(notK - mulDiv255(cmyk[c], notK));
        }
        break;
    case Source::Rgb:
        for (std::int64_t x = 0; x < columns; ++x, out += step)
            std::memcpy(out, line + 3 * x, 3);
        break;
    case Source::Grey:
        for (std::int64_t x = 0; x < columns; ++x, out += step)
            out[0] = out[1] = out[2] = line[x];
        break;
    case Source::Packed:
        for (std::int64_t x = 0; x < columns; ++x, out += step) {
            const bool set = (line[x >> 3] >> (7 - (x & 7))) & 1;
            out[0] = out[1] = out[2] = set ? 255 : 0;
        }
        break;
    }
}

}  // namespace

void logReason(const std::string& reason)
{
    std::string text = reason;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    if (!text.empty())
        LogMessage(L"Reason: %ls", wideForDisplay(text).c_str());
}

bool willOpen(const OIIO::ImageOutput& output, const TarvexImageImpl& image, const trx::WriteOptions* options)
{
    const std::string format = output.format_name();
    const Source source = sourceOf(image, format);
    return image.columns > 0 && image.rows > 0 && !refusal(image, source, image.hasAlpha(), format, options);
}

void logFailedOpen(const OIIO::ImageOutput& output, const TarvexImageImpl& image, const std::string& reason)
{
    const Layout layout = layoutOf(sourceOf(image, output.format_name()), image.hasAlpha());
    LogMessage(L"OpenImageIO for %ls fails to open, columns: %d, rows: %d, channels: %d", layout.word,
               static_cast<int>(image.columns), static_cast<int>(image.rows), layout.channels);
    logReason(reason);
}

bool writeToOutput(std::unique_ptr<OIIO::ImageOutput>& output, const TarvexImageImpl& image, const std::string& name,
                   int quality, const trx::WriteOptions* options, OIIO::Filesystem::IOProxy* proxy,
                   OIIO::ImageSpec* opened)
{
    const std::string format = output->format_name();
    const Source source = sourceOf(image, format);
    const bool alpha = image.hasAlpha();
    const Layout layout = layoutOf(source, alpha);
    const int columns = static_cast<int>(image.columns);
    const int rows = static_cast<int>(image.rows);

    if (const wchar_t* reason = refusal(image, source, alpha, format, options)) {
        LogMessage(L"Cannot write a %lld x %lld image: %ls", static_cast<long long>(image.columns),
                   static_cast<long long>(image.rows), reason);
        return false;
    }
    // An empty image is answered as a failed open: some writers crash on it.
    if (columns <= 0 || rows <= 0) {
        logFailedOpen(*output, image, "");
        return false;
    }
    const OIIO::ImageSpec spec = makeSpec(image, layout, quality, format, options);
    if (proxy)
        output->set_ioproxy(proxy);
    if (!output->open(name, spec, OIIO::ImageOutput::Create)) {
        logFailedOpen(*output, image, output->geterror());
        return false;
    }
    if (opened)
        *opened = spec;
    // Rows of 3 or 4 colour bytes and no alpha go out straight from strip memory.
    const bool direct = !layout.alpha && (source == Source::Cmyk || source == Source::Rgb);
    std::vector<unsigned char> row(direct ? 0 : static_cast<std::size_t>(columns) * layout.channels);
    const int step = layout.channels;
    const int alphaAt = layout.channels - 1;
    for (int y = 0; y < rows; ++y) {
        trx::MemMapObjectMapper colourView(0);
        trx::MemMapObjectMapper alphaView(0);
        const unsigned char* colour =
            mapLine(colourView, image.pixelStrips(), y, image.linesPerStrip, image.pixelLineBytes());
        const unsigned char* line = colour;
        if (!direct && colour) {
            expandLine(source, colour, columns, row.data(), step);
            if (layout.alpha) {
                const unsigned char* alphaLine =
                    mapLine(alphaView, image.alphaStrips, y, image.linesPerStrip, image.alphaBytesPerLine);
                for (int x = 0; alphaLine && x < columns; ++x)
                    row[static_cast<std::size_t>(x) * step + alphaAt] = alphaLine[x];
            }
            line = row.data();
        }
        if (!line || !output->write_scanline(y, 0, OIIO::TypeDesc::UINT8, line)) {
            LogMessage(L"OpenImageIO for %ls fails to write_scanline, line %d out of %d rows", layout.word, y, rows);
            logReason(output->geterror());
        }
    }
    output->close();
    output->geterror();
    return true;
}
