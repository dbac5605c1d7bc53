#include "write/FormatTraits.h"

#include <cmath>
#include <cstring>

#include "read/ByteCursor.h"

namespace {

struct Traits {
    const char* format;
    bool cmyk;
    bool icc;
};

// Every format not named here is written as RGB or RGBA, without a profile.
constexpr Traits kTraits[] = {
    {"jpeg", true, true},
    {"tiff", true, true},
    {"png", false, true},
};

const Traits* traitsOf(const std::string& format)
{
    for (const Traits& t : kTraits)
        if (format == t.format)
            return &t;
    return nullptr;
}

constexpr double kMetresPerInch = 0.0254;

double metresPer(const std::string& unit)
{
    if (unit == "in" || unit == "inch")
        return kMetresPerInch;
    if (unit == "cm")
        return 0.01;
    if (unit == "m")
        return 1.0;
    return 0.0;
}

// A factor a with float(x) * a == float(y), as close to y / x as that allows: the TIFF
// writer stores x * PixelAspectRatio, in float, as the vertical resolution.
float aspectFor(float x, float y)
{
    float a = y / x;
    for (int step = 0; step < 4 && x * a != y; ++step)
        a = std::nextafter(a, x * a < y ? HUGE_VALF : 0.0f);
    return a;
}

bool is(std::uint32_t value, const char (&tag)[5])
{
    std::uint32_t t = 0;
    for (int i = 0; i < 4; ++i)
        t = t << 8 | static_cast<unsigned char>(tag[i]);
    return value == t;
}

// The header and tag table checks that libpng makes before writing an iCCP chunk, all
// of which end the write there, for an RGB image.
const wchar_t* pngIccRefusal(const std::vector<unsigned char>& profile)
{
    static const unsigned char kD50[12] = {0, 0, 0xF6, 0xD6, 0, 1, 0, 0, 0, 0, 0xD3, 0x2D};
    ByteCursor icc(profile);
    if (profile.size() < 132)
        return L"shorter than its 132-byte header";
    if (icc.u32(0) != profile.size())
        return L"its length field is not its length";
    if (icc.u8(8) > 3 && profile.size() % 4 != 0)
        return L"its length is not a multiple of 4";
    const std::uint32_t tags = icc.u32(128);
    if (tags > (profile.size() - 132) / 12)
        return L"its tag table runs past its end";
    if (icc.u32(64) >= 4)
        return L"unknown rendering intent";
    if (!is(icc.u32(36), "acsp"))
        return L"no 'acsp' signature";
    if (!icc.matches(68, kD50, sizeof kD50))
        return L"its illuminant is not D50";
    if (!is(icc.u32(16), "RGB "))
        return L"not an RGB profile";
    const std::uint32_t deviceClass = icc.u32(12);
    if (!is(deviceClass, "scnr") && !is(deviceClass, "mntr") && !is(deviceClass, "prtr") && !is(deviceClass, "spac"))
        return L"not an input, display, output or colour space profile";
    if (!is(icc.u32(20), "XYZ ") && !is(icc.u32(20), "Lab "))
        return L"its connection space is neither XYZ nor Lab";
    for (std::uint32_t i = 0; i < tags; ++i) {
        const std::uint64_t start = icc.u32(132 + 12 * i + 4);
        const std::uint64_t length = icc.u32(132 + 12 * i + 8);
        if (!icc.has(start, length) || start % 4 != 0)
            return L"a tag lies outside it or off a 4-byte boundary";
    }
    return nullptr;
}

}  // namespace

bool holdsCmyk(const std::string& format)
{
    const Traits* t = traitsOf(format);
    return t && t->cmyk;
}

bool holdsIccProfile(const std::string& format)
{
    const Traits* t = traitsOf(format);
    return t && t->icc;
}

const wchar_t* iccRefusal(const std::string& format, const std::vector<unsigned char>& profile)
{
    return format == "png" ? pngIccRefusal(profile) : nullptr;
}

void fitResolution(OIIO::ImageSpec& spec, const std::string& format)
{
    const bool perMetre = format == "png" || format == "bmp";
    if (!perMetre && format != "tiff")
        return;
    const OIIO::ParamValue* xAttribute = spec.find_attribute("XResolution");
    const OIIO::ParamValue* yAttribute = spec.find_attribute("YResolution");
    if (!xAttribute || !yAttribute)
        return;
    const float x = xAttribute->get_float();
    const float y = yAttribute->get_float();
    if (!(x > 0.0f && y > 0.0f && std::isfinite(x) && std::isfinite(y)))
        return;
    if (format == "tiff") {
        if (!spec.find_attribute("PixelAspectRatio"))
            spec.attribute("PixelAspectRatio", aspectFor(x, y));
        return;
    }
    // The PNG writer truncates the product of its own conversion (72 ppi became 2834
    // pixels per metre, 71.98 ppi); the nearest whole number is what the file can hold.
    const double metres = metresPer(spec.get_string_attribute("ResolutionUnit"));
    if (metres == 0.0)
        return;
    const double limit = 2147483647.0;
    spec.attribute("XResolution", static_cast<float>(std::min(std::round(x / metres), limit)));
    spec.attribute("YResolution", static_cast<float>(std::min(std::round(y / metres), limit)));
    spec.attribute("ResolutionUnit", "m");
}
