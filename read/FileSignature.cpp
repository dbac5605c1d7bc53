#include "read/FileSignature.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include <OpenImageIO/imageio.h>

#include "read/ByteCursor.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// A format's mark: up to two runs of bytes at fixed offsets, both present.
struct Mark {
    const char* format;
    std::uint32_t offset;
    const char* bytes;
    std::size_t count;
    std::uint32_t offset2 = 0;
    const char* bytes2 = nullptr;
    std::size_t count2 = 0;
};

// The marks that OpenImageIO's readers look for. Order matters only where one mark
// extends another (none do today).
const Mark kMarks[] = {
    {"jpeg", 0, "\xFF\xD8\xFF", 3},
    {"png", 0, "\x89PNG\r\n\x1A\n", 8},
    {"tiff", 0, "II*\0", 4},
    {"tiff", 0, "MM\0*", 4},
    {"tiff", 0, "II+\0", 4},  // BigTIFF
    {"tiff", 0, "MM\0+", 4},
    {"psd", 0, "8BPS", 4},
    {"bmp", 0, "BM", 2},
    {"gif", 0, "GIF87a", 6},
    {"gif", 0, "GIF89a", 6},
    {"webp", 0, "RIFF", 4, 8, "WEBP", 4},
    {"openexr", 0, "\x76\x2F\x31\x01", 4},
    {"jpeg2000", 0, "\0\0\0\x0CjP  \r\n\x87\n", 12},
    {"jpeg2000", 0, "\xFF\x4F\xFF\x51", 4},
    {"dpx", 0, "SDPX", 4},
    {"dpx", 0, "XPDS", 4},
    {"cineon", 0, "\x80\x2A\x5F\xD7", 4},
    {"cineon", 0, "\xD7\x5F\x2A\x80", 4},
    {"fits", 0, "SIMPLE  =", 9},
    {"hdr", 0, "#?RADIANCE", 10},
    {"hdr", 0, "#?RGBE", 6},
    {"ico", 0, "\0\0\1\0", 4},
    {"iff", 0, "FOR4", 4, 8, "CIMG", 4},
    {"sgi", 0, "\x01\xDA", 2},
    {"softimage", 0, "\x53\x80\xF6\x34", 4},
    {"dds", 0, "DDS ", 4},
    {"dicom", 128, "DICM", 4},
    {"zfile", 0, "\x2F\x08\x67\xAB", 4},
    {"zfile", 0, "\xAB\x67\x08\x2F", 4},
    {"openvdb", 0, " BDV", 4},
    {"raw", 0, "FUJIFILMCCD-RAW", 15},
    {"raw", 0, "IIRO", 4},
    {"raw", 0, "IIRS", 4},
    {"raw", 0, "MMOR", 4},
    {"raw", 0, "IIU\0", 4},
    {"raw", 6, "HEAPCCDR", 8},
    {"raw", 4, "ftypcrx ", 8},
};

// ISO media files name their kind by the brand after "ftyp".
const char* const kHeifBrands[] = {"heic", "heix", "hevc", "hevx", "heim", "heis",
                                   "hevm", "hevs", "mif1", "msf1", "avif", "avis"};

bool pnmMark(ByteCursor& head)
{
    if (!head.has(0, 3) || head.u8(0) != 'P')
        return false;
    const unsigned kind = head.u8(1);
    const unsigned next = head.u8(2);
    const bool knownKind = (kind >= '1' && kind <= '6') || kind == 'f' || kind == 'F';
    return knownKind && (next == ' ' || next == '\t' || next == '\n' || next == '\r');
}

bool hasAvailableReader(const std::string& format)
{
    static const std::string formats = "," + std::string(OIIO::get_string_attribute("input_format_list")) + ",";
    return formats.find("," + format + ",") != std::string::npos;
}

std::string available(const char* format) { return hasAvailableReader(format) ? format : std::string(); }

}  // namespace

FileHead readFileHead(const std::string& fileName)
{
    FileHead file;
    struct stat status {};
    if (stat(fileName.c_str(), &status) != 0) {
        file.failure = std::strerror(errno);
        return file;
    }
    if (!S_ISREG(status.st_mode))
        return file;
    std::unique_ptr<std::FILE, FileCloser> stream(std::fopen(fileName.c_str(), "rb"));
    if (!stream) {
        file.failure = std::strerror(errno);
        return file;
    }
    file.size = static_cast<std::uint64_t>(status.st_size);
    file.head.resize(kHeadBytes);
    file.head.resize(std::fread(file.head.data(), 1, file.head.size(), stream.get()));
    if (file.size >= kHeadBytes + kTailBytes &&
        std::fseek(stream.get(), -static_cast<long>(kTailBytes), SEEK_END) == 0) {
        file.tail.resize(kTailBytes);
        file.tail.resize(std::fread(file.tail.data(), 1, file.tail.size(), stream.get()));
    }
    file.regular = true;
    return file;
}

std::string formatBySignature(const FileHead& file)
{
    ByteCursor head(file.head);
    for (const Mark& mark : kMarks) {
        if (head.has(mark.offset, mark.count) && head.matches(mark.offset, mark.bytes, mark.count) &&
            (!mark.bytes2 ||
             (head.has(mark.offset2, mark.count2) && head.matches(mark.offset2, mark.bytes2, mark.count2))))
            return available(mark.format);
    }
    if (head.has(4, 8) && head.matches(4, "ftyp", 4)) {
        for (const char* brand : kHeifBrands)
            if (head.matches(8, brand, 4))
                return available("heif");
    }
    if (pnmMark(head))
        return available("pnm");
    static const char kTargaFooter[] = "TRUEVISION-XFILE.";  // with its terminating zero
    if (file.tail.size() == kTailBytes && std::memcmp(file.tail.data(), kTargaFooter, kTailBytes) == 0)
        return available("targa");
    return {};
}

std::string formatByExtension(const std::string& fileName)
{
    // "tiff:tif,tiff,tx;jpeg:jpg,jpe,..." into extension -> format.
    static const std::map<std::string, std::string> table = [] {
        std::map<std::string, std::string> out;
        const std::string list(OIIO::get_string_attribute("extension_list"));
        std::size_t p = 0;
        while (p < list.size()) {
            const std::size_t end = std::min(list.find(';', p), list.size());
            const std::size_t colon = list.find(':', p);
            if (colon < end) {
                const std::string format = list.substr(p, colon - p);
                std::size_t q = colon + 1;
                while (q < end) {
                    const std::size_t comma = std::min(list.find(',', q), end);
                    out.emplace(list.substr(q, comma - q), format);
                    q = comma + 1;
                }
            }
            p = end + 1;
        }
        return out;
    }();
    const std::size_t slash = fileName.find_last_of('/');
    const std::size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string extension = fileName.substr(dot + 1);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    const auto found = table.find(extension);
    return found == table.end() ? std::string() : found->second;
}
