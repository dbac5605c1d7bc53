#include "read/HeaderScreen.h"

#include "read/ByteCursor.h"
#include "read/FileSignature.h"

namespace {

constexpr std::size_t kPsdHeaderBytes = 30;  // fixed header and the colour mode data length
constexpr std::size_t kBmpHeaderBytes = 34;  // file header and the info header up to compression
static_assert(kPsdHeaderBytes <= kHeadBytes && kBmpHeaderBytes <= kHeadBytes, "the screen needs these bytes");

// OpenImageIO 2.4's PSD reader indexes a table by the colour mode unchecked, and
// allocates the colour mode data length before comparing it with the file.
bool psdHeaderIsSafe(ByteCursor& header, std::uint64_t fileSize)
{
    const unsigned mode = header.u16(24);
    const bool knownMode = mode <= 4 || (mode >= 7 && mode <= 9);
    const std::uint64_t colourModeBytes = header.u32(26);
    return knownMode && colourModeBytes <= fileSize - kPsdHeaderBytes;
}

// OpenImageIO 2.4's BMP reader crashes on a run-length compressed file (RLE8 or RLE4)
// of more than 8 bits per pixel, a combination the format does not have. Core headers
// (12 bytes, OS/2) have no compression field.
bool bmpHeaderIsSafe(ByteCursor& header)
{
    constexpr auto little = ByteCursor::Order::Little;
    if (header.u32(14, little) < 40)
        return true;
    const unsigned bitsPerPixel = header.u16(28, little);
    const std::uint32_t compression = header.u32(30, little);
    const bool runLength = compression == 1 || compression == 2;
    return !(runLength && bitsPerPixel > 8);
}

}  // namespace

bool headerIsSafeForReader(const FileHead& file)
{
    ByteCursor header(file.head);
    // The test is by content: a misnamed file reaches the reader its bytes name.
    if (header.size() >= kPsdHeaderBytes && header.matches(0, "8BPS", 4))
        return psdHeaderIsSafe(header, file.size);
    if (header.size() >= kBmpHeaderBytes && header.matches(0, "BM", 2))
        return bmpHeaderIsSafe(header);
    return true;
}
