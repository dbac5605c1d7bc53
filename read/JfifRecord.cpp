#include "read/ByteCursor.h"
#include "read/ResolutionRecords.h"

bool parseJfifDensity(const std::vector<unsigned char>& payload, double& x, double& y)
{
    ByteCursor record(payload);
    if (record.size() < 12 || !record.matches(0, "JFIF\0", 5))
        return false;
    const unsigned unit = record.u8(7);
    const unsigned horizontal = record.u16(8);
    const unsigned vertical = record.u16(10);

    // A density of 1 on either axis is an aspect ratio, not a resolution.
    double h = 72.0, v = 72.0;
    if (horizontal != 1 && vertical != 1) {
        h = horizontal;
        v = vertical;
    }
    if (unit == 2) {
        h *= 2.54;
        v *= 2.54;
    }
    x = h;
    y = v;
    return true;
}
