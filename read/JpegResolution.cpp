#include <cstdio>
#include <memory>

#include "read/ResolutionRecords.h"

namespace {

constexpr int kMarkerPrefix = 0xFF;
constexpr int kStartOfImage = 0xD8;
constexpr int kEndOfImage = 0xD9;
constexpr int kStartOfScan = 0xDA;
constexpr int kTem = 0x01;
constexpr int kFirstRestart = 0xD0;
constexpr int kLastRestart = 0xD7;
constexpr int kApp0 = 0xE0;
constexpr int kApp1 = 0xE1;
constexpr int kApp13 = 0xED;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

bool standsAlone(int code) { return code == kTem || (code >= kFirstRestart && code <= kLastRestart); }

}  // namespace

void readJpegResolution(const std::string& path, double& x, double& y)
{
    // Paths are UTF-8 bytes on this platform, so the path is opened as it stands.
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return;
    std::FILE* in = file.get();
    if (std::getc(in) != kMarkerPrefix || std::getc(in) != kStartOfImage)
        return;

    bool found = false;
    for (;;) {
        int c = std::getc(in);
        if (c == EOF)
            return;
        if (c != kMarkerPrefix)
            continue;
        do
            c = std::getc(in);
        while (c == kMarkerPrefix);
        if (c == EOF || c == kEndOfImage || c == kStartOfScan)
            return;
        if (standsAlone(c))
            continue;

        const int high = std::getc(in);
        const int low = std::getc(in);
        if (high == EOF || low == EOF)
            return;
        const unsigned length = static_cast<unsigned>(high << 8 | low);
        if (length < 2)
            return;
        std::vector<unsigned char> payload(length - 2);
        if (!payload.empty() && std::fread(payload.data(), 1, payload.size(), in) != payload.size())
            return;

        if (c == kApp1)
            found |= parseExifResolution(payload, x, y);
        else if (c == kApp0)
            found |= parseJfifDensity(payload, x, y);
        else if (c == kApp13 && !found)
            found = parsePhotoshopResolution(payload, x, y);
    }
}
