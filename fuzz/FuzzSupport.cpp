#include "fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <unistd.h>

namespace trxfuzz {

const char* const kExtensions[] = {".jpg", ".png", ".tif", ".psd", ".bmp", ".gif", ".tga", ".pnm", ".jpeg", ".dat"};
const std::size_t kExtensionCount = sizeof kExtensions / sizeof kExtensions[0];

namespace {

const std::string& scratchFolder()
{
    static const std::string folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/trxfuzz.XXXXXX";
        if (!mkdtemp(pattern.data()))
            std::abort();
        // Removed at exit so that long runs leave nothing behind.
        static std::string removeAtExit;
        removeAtExit = pattern;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(removeAtExit, ignored);
        });
        return pattern;
    }();
    return folder;
}

}  // namespace

std::string scratchFile(const std::string& name, const std::uint8_t* data, std::size_t size)
{
    const std::string path = scratchFolder() + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        std::abort();
    const bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !ok)
        std::abort();
    return path;
}

}  // namespace trxfuzz
