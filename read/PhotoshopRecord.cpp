#include "read/ByteCursor.h"
#include "read/ResolutionRecords.h"

namespace {

constexpr std::uint16_t kResolutionResource = 1005;
constexpr std::uint32_t kResolutionBytes = 16;
constexpr std::uint64_t kFirstBlock = 14;
constexpr std::uint64_t kSmallestRecord = 26;  // signature and one block header
constexpr double kFixedOne = 65536.0;          // 16.16 fixed point

// The data offset of the resolution resource, or 0 when the blocks do not hold one
// that lies wholly inside the record.
std::uint64_t findResolutionResource(ByteCursor& record)
{
    const std::uint64_t size = record.size();
    std::uint64_t p = kFirstBlock;
    for (;;) {
        if (!record.has(p, 6) || !record.matches(p, "8BIM", 4))
            return 0;
        const unsigned id = record.u16(p + 4);
        if (!record.has(p + 6, 1))
            return 0;
        const unsigned nameLength = record.u8(p + 6);
        // Length byte and name together take an even number of bytes.
        std::uint64_t q = p + 7 + nameLength;
        if (q > size)
            return 0;
        if (nameLength % 2 == 0 && ++q > size)
            return 0;
        if (!record.has(q, 4))
            return 0;
        const std::uint64_t dataSize = record.u32(q);
        const std::uint64_t data = q + 4;
        if (!record.has(data, dataSize))
            return 0;
        if (id == kResolutionResource && dataSize >= kResolutionBytes)
            return data;
        std::uint64_t next = data + dataSize + (dataSize % 2);
        if (next > size || next + 12 > size)
            return 0;
        p = next;
    }
}

}  // namespace

bool parsePhotoshopResolution(const std::vector<unsigned char>& payload, double& x, double& y)
{
    ByteCursor record(payload);
    if (record.size() < kFirstBlock || !record.matches(0, "Photoshop 3.0\0", 14) || record.size() < kSmallestRecord)
        return false;
    const std::uint64_t d = findResolutionResource(record);
    if (d == 0 || record.overrun())
        return false;

    double rx = record.u32(d) / kFixedOne;
    double ry = record.u32(d + 8) / kFixedOne;
    if (record.u16(d + 4) == 2)
        rx *= 2.54;
    if (record.u16(d + 12) == 2)
        ry *= 2.54;
    if (record.overrun())
        return false;
    x = rx;
    y = ry;
    return true;
}
