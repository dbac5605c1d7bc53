#include "read/ByteCursor.h"
#include "read/ResolutionRecords.h"

namespace {

constexpr std::uint16_t kTagXResolution = 282;
constexpr std::uint16_t kTagYResolution = 283;
constexpr std::uint16_t kTagResolutionUnit = 296;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeRational = 5;
constexpr std::uint64_t kTiffStart = 6;  // offsets inside the record count from here
constexpr std::uint64_t kEntryBytes = 12;

}  // namespace

bool parseExifResolution(const std::vector<unsigned char>& payload, double& x, double& y)
{
    ByteCursor record(payload);
    const std::uint64_t size = record.size();
    if (size < 14 || !record.matches(0, "Exif\0\0", 6))
        return false;

    ByteCursor::Order order;
    if (record.matches(6, "II", 2))
        order = ByteCursor::Order::Little;
    else if (record.matches(6, "MM", 2))
        order = ByteCursor::Order::Big;
    else
        return false;
    if (record.u16(8, order) != 42)
        return false;

    const std::uint64_t ifd = record.u32(10, order);
    if (ifd + 8 > size)
        return false;
    const unsigned entries = record.u16(ifd + kTiffStart, order);
    if (entries == 0)
        return false;

    bool haveX = false, haveY = false;
    double rx = 0.0, ry = 0.0;
    unsigned unit = 2;
    for (unsigned i = 0; i < entries; ++i) {
        const std::uint64_t e = ifd + 8 + kEntryBytes * i;
        if (e + kEntryBytes > size)
            break;  // a directory cut short still gives the entries it holds
        const unsigned tag = record.u16(e, order);
        const unsigned type = record.u16(e + 2, order);
        const std::uint32_t count = record.u32(e + 4, order);
        if ((tag == kTagXResolution || tag == kTagYResolution) && type == kTypeRational && count >= 1) {
            const std::uint64_t value = record.u32(e + 8, order);
            if (value + 14 > size)
                continue;
            const std::uint32_t numerator = record.u32(value + kTiffStart, order);
            const std::uint32_t denominator = record.u32(value + kTiffStart + 4, order);
            if (denominator == 0)
                continue;
            const double resolution = static_cast<double>(numerator) / static_cast<double>(denominator);
            if (tag == kTagXResolution) {
                rx = resolution;
                haveX = true;
            } else {
                ry = resolution;
                haveY = true;
            }
        } else if (tag == kTagResolutionUnit && type == kTypeShort && count >= 1) {
            unit = record.u16(e + 8, order);
        }
    }

    if (!haveX && !haveY)
        return false;
    if (!haveY)
        ry = rx;
    if (!haveX)
        rx = ry;
    if (unit == 3) {
        rx *= 2.54;
        ry *= 2.54;
    }
    x = rx;
    y = ry;
    return true;
}
