#include "write/EncodedFixes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "read/ByteCursor.h"

namespace {

using Order = ByteCursor::Order;

void put(std::vector<unsigned char>& bytes, std::size_t at, std::uint64_t value, int size, Order order)
{
    for (int i = 0; i < size; ++i) {
        const int shift = 8 * (order == Order::Little ? i : size - 1 - i);
        bytes[at + i] = static_cast<unsigned char>(value >> shift);
    }
}

std::uint64_t get(ByteCursor& in, std::uint64_t at, int size, Order order)
{
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i) {
        const int shift = 8 * (order == Order::Little ? i : size - 1 - i);
        value |= static_cast<std::uint64_t>(in.u8(at + i)) << shift;
    }
    return value;
}

bool completeBmp(const OIIO::ImageSpec& spec, std::vector<unsigned char>& bytes, std::wstring& why)
{
    if (spec.get_string_attribute("ResolutionUnit") != "m")
        return true;
    ByteCursor in(bytes);
    // File header (14 bytes), then an info header of at least 40 bytes.
    if (!in.matches(0, "BM", 2) || get(in, 14, 4, Order::Little) < 40 || in.overrun()) {
        why = L"not a BMP file with an info header";
        return false;
    }
    for (const auto& [name, at] : {std::pair{"XResolution", 38}, std::pair{"YResolution", 42}}) {
        const float perMetre = std::min(std::round(spec.get_float_attribute(name)), 2147483647.0f);
        put(bytes, at, static_cast<std::uint32_t>(perMetre > 0.0f ? perMetre : 0.0f), 4, Order::Little);
    }
    return true;
}

constexpr std::uint16_t kInkSet = 332;
constexpr std::uint16_t kInkNames = 333;
constexpr std::uint16_t kNumberOfInks = 334;
constexpr std::uint16_t kExtraSamples = 338;
constexpr std::uint16_t kShort = 3;

// Writes a new first directory at the end of the file, a copy of the old one without the
// ink entries and with InkSet 1 (CMYK) and ExtraSamples 2 (unassociated alpha), and
// points the header at it. The old directory stays behind, unreferenced; values stored
// outside it keep their offsets.
bool completeCmykAlphaTiff(std::vector<unsigned char>& bytes, std::wstring& why)
{
    ByteCursor in(bytes);
    const Order order = in.matches(0, "II", 2) ? Order::Little : Order::Big;
    if (!in.matches(0, "II", 2) && !in.matches(0, "MM", 2)) {
        why = L"not a TIFF file";
        return false;
    }
    const bool big = get(in, 2, 2, order) == 43;
    const int word = big ? 8 : 4;       // offsets and counts
    const int countSize = big ? 8 : 2;  // the directory's entry count
    const std::size_t entrySize = big ? 20 : 12;
    const std::uint64_t directory = get(in, big ? 8 : 4, word, order);
    const std::uint64_t count = get(in, directory, countSize, order);
    if (in.overrun() || count > 4096 || !in.has(directory + countSize, count * entrySize + word)) {
        why = L"its first directory lies outside it";
        return false;
    }

    std::vector<std::vector<unsigned char>> entries;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t entry = directory + countSize + i * entrySize;
        const auto tag = static_cast<std::uint16_t>(get(in, entry, 2, order));
        if (tag != kInkSet && tag != kInkNames && tag != kNumberOfInks && tag != kExtraSamples)
            entries.emplace_back(bytes.begin() + entry, bytes.begin() + entry + entrySize);
    }
    for (const auto& [tag, value] : {std::pair{kInkSet, 1}, std::pair{kExtraSamples, 2}}) {
        std::vector<unsigned char> entry(entrySize, 0);
        put(entry, 0, tag, 2, order);
        put(entry, 2, kShort, 2, order);
        put(entry, 4, 1, word, order);
        put(entry, 4 + word, static_cast<std::uint64_t>(value), 2, order);
        entries.push_back(entry);
    }
    const auto tagOf = [order](const std::vector<unsigned char>& e) {
        return order == Order::Little ? e[0] | e[1] << 8 : e[0] << 8 | e[1];
    };
    std::sort(entries.begin(), entries.end(), [&tagOf](const auto& a, const auto& b) { return tagOf(a) < tagOf(b); });

    const std::uint64_t next = get(in, directory + countSize + count * entrySize, word, order);
    const std::uint64_t at = (bytes.size() + word - 1) / word * word;
    if (!big && at + countSize + entries.size() * entrySize + word > 0xFFFFFFFFu) {
        why = L"no room for a directory within 4 GiB";
        return false;
    }
    bytes.resize(at + countSize + entries.size() * entrySize + word, 0);
    put(bytes, at, entries.size(), countSize, order);
    for (std::size_t i = 0; i < entries.size(); ++i)
        std::copy(entries[i].begin(), entries[i].end(), bytes.begin() + at + countSize + i * entrySize);
    put(bytes, at + countSize + entries.size() * entrySize, next, word, order);
    put(bytes, big ? 8 : 4, at, word, order);
    return true;
}

}  // namespace

bool completeEncoded(const std::string& format, const OIIO::ImageSpec& spec, std::vector<unsigned char>& bytes,
                     std::wstring& why)
{
    if (format == "bmp")
        return completeBmp(spec, bytes, why);
    if (format == "tiff" && spec.nchannels == 5 && spec.get_string_attribute("tiff:ColorSpace") == "CMYK")
        return completeCmykAlphaTiff(bytes, why);
    return true;
}
