#include "read/ResolutionRecords.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <OpenImageIO/strutil.h>

namespace {

// atoi's reading, without its undefined behaviour on overflow.
int leadingInteger(const std::string& text)
{
    errno = 0;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

// atof's reading, but independent of the host's locale: OpenImageIO writes its
// numbers with a point whatever the locale.
double leadingNumber(const std::string& text) { return OIIO::Strutil::strtod(text.c_str(), nullptr); }

double unitless(const std::string& value)
{
    // Values above 10000 are taken to be scaled by 10000.
    const double v = leadingNumber(value);
    return v > 10000.0 ? v / 10000.0 : v;
}

}  // namespace

double convertResolution(const std::string& value, const std::string& unit)
{
    if (unit == "m")
        return leadingInteger(value) / 100.0 * 2.54;
    if (unit == "cm")
        return leadingInteger(value) * 2.54;
    if (unit == "inch" || unit == "in")
        return leadingNumber(value);
    if (unit == "2" || unit == "none" || unit.empty())
        return unitless(value);
    return 72.0;
}
