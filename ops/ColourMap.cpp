#include <cstdint>
#include <cstdlib>

#include "image/ImageImpl.h"

namespace {

int byteDistance(std::uint32_t a, std::uint32_t b, int shift)
{
    return std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
}

}  // namespace

int TarvexImage::FindNearestColourMap(unsigned long colour)
{
    const std::vector<std::uint32_t>& map = impl_->colourMap;
    if (map.empty())
        return -1;
    // Only the low three bytes take part; the query is cut to 32 bits like the entries.
    const auto query = static_cast<std::uint32_t>(colour);
    int best = 0;
    int bestDistance = 0xFFFFFF;
    for (std::size_t i = 0; i < map.size(); ++i) {
        const int d = byteDistance(query, map[i], 8) + byteDistance(query, map[i], 16) + byteDistance(query, map[i], 0);
        if (d < bestDistance) {  // strict: the lowest index wins a tie
            bestDistance = d;
            best = static_cast<int>(i);
        }
    }
    return best;
}

unsigned long TarvexImage::colourMap(int index) const
{
    const std::vector<std::uint32_t>& map = impl_->colourMap;
    if (index < 0 || static_cast<std::size_t>(index) >= map.size())
        return 0xFFFFFFul;
    return map[static_cast<std::size_t>(index)];
}

void TarvexImage::colourMap(int index, unsigned long colour)
{
    std::vector<std::uint32_t>& map = impl_->colourMap;
    if (index < 0 || static_cast<std::size_t>(index) >= map.size())
        return;
    map[static_cast<std::size_t>(index)] = static_cast<std::uint32_t>(colour);
}

std::int64_t TarvexImage::colourMapSize() const { return static_cast<std::int64_t>(impl_->colourMap.size()); }

void TarvexImage::colourMapSize(unsigned int entries)
{
    std::vector<std::uint32_t>& map = impl_->colourMap;
    map.clear();
    if (entries > map.capacity())
        map.reserve(entries);
    map.resize(entries, 0u);
}

bool TarvexImage::hasColourMap() const { return !impl_->colourMap.empty(); }
