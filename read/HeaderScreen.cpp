#include "read/HeaderScreen.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <sys/stat.h>

#include "read/ByteCursor.h"

namespace {

constexpr std::size_t kPsdHeaderBytes = 30;  // fixed header and the colour mode data length
constexpr std::size_t kBmpHeaderBytes = 34;  // file header and the info header up to compression
constexpr std::size_t kScreenBytes = std::max(kPsdHeaderBytes, kBmpHeaderBytes);

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

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

bool headerIsSafeForReader(const std::string& fileName)
{
    struct stat status {};
    if (stat(fileName.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return true;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName.c_str(), "rb"));
    if (!file)
        return true;
    std::vector<unsigned char> bytes(kScreenBytes);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
    ByteCursor header(bytes);
    // OpenImageIO picks a reader by content as well as by name, so the test is by content.
    if (header.size() >= kPsdHeaderBytes && header.matches(0, "8BPS", 4))
        return psdHeaderIsSafe(header, static_cast<std::uint64_t>(status.st_size));
    if (header.size() >= kBmpHeaderBytes && header.matches(0, "BM", 2))
        return bmpHeaderIsSafe(header);
    return true;
}
