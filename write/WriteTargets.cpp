#include "write/WriteTargets.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "image/ImageImpl.h"
#include "image/Log.h"
#include "image/TextConversion.h"
#include "write/CreateOutput.h"
#include "write/EncodedFixes.h"
#include "write/FileOutput.h"
#include "write/ImageWriter.h"

namespace {

// Offers `encoded` to `append` chunk by chunk; stops at the first refusal. The chunks
// are taken in place: the bytes are already in memory, so no staging copy is needed.
template <class Append>
bool inChunks(const std::vector<unsigned char>& encoded, Append append)
{
    for (std::size_t at = 0; at < encoded.size(); at += kWriteChunk) {
        const std::size_t n = std::min(kWriteChunk, encoded.size() - at);
        if (!append(encoded.data() + at, static_cast<unsigned>(n)))
            return false;
    }
    return true;
}

unsigned long long sizeOf(const std::vector<unsigned char>& encoded)
{
    return static_cast<unsigned long long>(encoded.size());
}

// Room for the raw pixels, reserved but not touched: encoders rarely produce more, and
// the vector then never moves what it holds while it grows.
void reserveFor(const TarvexImageImpl& image, std::vector<unsigned char>& encoded)
{
    constexpr std::int64_t kLimit = std::int64_t(256) << 20;
    if (image.columns <= 0 || image.rows <= 0 || image.columns > kLimit / 5 / image.rows)
        return;
    try {
        encoded.reserve(static_cast<std::size_t>(image.columns * image.rows * 5) + 65536);
    } catch (const std::bad_alloc&) {
        return;
    }
    // Huge pages where the kernel offers them: a fresh 4 KiB page costs a fault of its
    // own, which for 38 MB of PNG came to about 100 ms. Advice only.
    constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(encoded.data());
    const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t end = (begin + encoded.capacity()) & ~(kHuge - 1);
    if (end > first)
        madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

// Fills in what the format's writer left out of the bytes (see completeEncoded).
bool complete(const std::string& format, const OIIO::ImageSpec& spec, const std::string& name,
              std::vector<unsigned char>& encoded)
{
    std::wstring why;
    if (completeEncoded(format, spec, encoded, why))
        return true;
    LogMessage(L"Cannot complete the encoded %ls: %ls", wideForDisplay(name).c_str(), why.c_str());
    return false;
}

// Encodes the image into `encoded` through an in-memory proxy.
bool encodeThroughProxy(std::unique_ptr<OIIO::ImageOutput>& output, const TarvexImageImpl& image,
                        const std::string& name, int quality, const trx::WriteOptions* options,
                        std::vector<unsigned char>& encoded)
{
    reserveFor(image, encoded);
    const std::string format = output->format_name();
    OIIO::Filesystem::IOVecOutput proxy(encoded);
    OIIO::ImageSpec spec;
    const bool written = writeToOutput(output, image, name, quality, options, &proxy, &spec);
    output.reset();  // before the proxy it may still hold
    return written && complete(format, spec, name, encoded);
}

// Encodes the image into `encoded` through a file in memory, for writers that take
// nothing but a path.
bool encodeThroughMemoryFile(std::unique_ptr<OIIO::ImageOutput>& output, const TarvexImageImpl& image,
                             const std::string& path, int quality, const trx::WriteOptions* options,
                             std::vector<unsigned char>& encoded)
{
    const std::string format = output->format_name();
    MemoryFile file;
    if (!file.opened()) {
        logFailedOpen(*output, image, file.error());
        return false;
    }
    OIIO::ImageSpec spec;
    bool written;
    bool cut;
    {
        FileSizeSignalHeld held;
        written = writeToOutput(output, image, file.path(), quality, options, nullptr, &spec);
        output.reset();  // some writers finish the file only here
        cut = held.raised();
    }
    if (!written)
        return false;
    // Writers that do not check their writes report success for a file cut at the limit.
    const bool read = file.readAll(encoded);
    if (cut || !read) {
        LogMessage(L"Fail to write image to file: Error: %ls, file type: %ls, buffer size: %llul",
                   wideForDisplay(cut ? std::strerror(EFBIG) : file.error()).c_str(), wideForDisplay(path).c_str(),
                   sizeOf(encoded));
        return false;
    }
    return complete(format, spec, path, encoded);
}

// Encodes the image into `encoded` through an in-memory proxy. False, with no log line,
// when no writer for `name` exists or it cannot write through a proxy.
bool encodeToMemory(const TarvexImageImpl& image, const std::string& name, int quality,
                    const trx::WriteOptions* options, std::vector<unsigned char>& encoded)
{
    auto output = createOutput(name);
    if (!output) {
        OIIO::geterror();
        return false;
    }
    if (!output->supports("ioproxy"))
        return false;
    return encodeThroughProxy(output, image, name, quality, options, encoded);
}

template <class Target>
bool writeToTarget(const TarvexImage& image, const std::string& name, int quality, Target* target,
                   const trx::WriteOptions* options = nullptr)
{
    if (!target) {
        LogMessage(L"No target to write image to: %ls", wideForDisplay(name).c_str());
        return false;
    }
    std::vector<unsigned char> encoded;
    if (!encodeToMemory(TarvexImageAccess::impl(image), name, quality, options, encoded))
        return false;
    return appendEncoded(encoded, name, *target);
}

}  // namespace

bool appendEncoded(const std::vector<unsigned char>& encoded, const std::string& name, CBufferStream& stream)
{
    const bool appended = inChunks(encoded, [&stream](const unsigned char* bytes, unsigned n) {
        std::uint64_t written = 0;
        stream.Write(bytes, n, &written);
        return written == n;
    });
    if (!appended)
        LogMessage(L"Fail to write image to buffer stream: %ls, buffer size: %llul", wideForDisplay(name).c_str(),
                   sizeOf(encoded));
    return appended;
}

bool appendEncoded(const std::vector<unsigned char>& encoded, const std::string& name, CAutoBuffer& buffer)
{
    const bool appended = inChunks(encoded, [&buffer](const unsigned char* bytes, unsigned n) {
        return buffer.WriteData(reinterpret_cast<const char*>(bytes), n) == n;
    });
    if (!appended)
        LogMessage(L"Fail to write image to auto buffer: %ls, buffer size: %llul", wideForDisplay(name).c_str(),
                   sizeOf(encoded));
    return appended;
}

bool appendEncoded(const std::vector<unsigned char>& encoded, const std::string& name, CFile& file)
{
    try {
        inChunks(encoded, [&file](const unsigned char* bytes, unsigned n) {
            file.Write(bytes, n);
            return true;
        });
        return true;
    } catch (CFileException* thrown) {
        // Released however this handler is left: the name's conversion may throw.
        std::unique_ptr<CFileException, void (*)(CFileException*)> error(thrown,
                                                                         [](CFileException* e) { e->Delete(); });
        try {
            file.Close();
        } catch (CFileException* closeError) {
            closeError->Delete();
        }
        wchar_t message[255];
        if (!error->GetErrorMessage(message, 255))
            message[0] = L'\0';
        LogMessage(L"Fail to write image to file: Error: %ls, file type: %ls, buffer size: %llul", message,
                   wideForDisplay(name).c_str(), sizeOf(encoded));
        return false;
    }
}

bool TarvexImage::write(const std::string& name, int quality, CBufferStream* stream) const
{
    return writeToTarget(*this, name, quality, stream);
}

bool TarvexImage::write(const std::string& name, int quality, CAutoBuffer* buffer) const
{
    return writeToTarget(*this, name, quality, buffer);
}

bool TarvexImage::write(const std::string& name, int quality, CFile* file) const
{
    return writeToTarget(*this, name, quality, file);
}

bool TarvexImage::write(const std::string& name, CBufferStream* stream, const trx::WriteOptions& options) const
{
    return writeToTarget(*this, name, options.quality(), stream, &options);
}

bool TarvexImage::write(const std::string& name, CAutoBuffer* buffer, const trx::WriteOptions& options) const
{
    return writeToTarget(*this, name, options.quality(), buffer, &options);
}

bool TarvexImage::write(const std::string& name, CFile* file, const trx::WriteOptions& options) const
{
    return writeToTarget(*this, name, options.quality(), file, &options);
}

bool TarvexImage::write(const std::string& path) const { return writeToPath(path, -1, nullptr); }

bool TarvexImage::write(const std::string& path, const trx::WriteOptions& options) const
{
    return writeToPath(path, options.quality(), &options);
}

// Encodes in memory first and writes the file with checked writes: OpenImageIO's own
// path writes do not report a full disk (some writers end the process on it).
bool TarvexImage::writeToPath(const std::string& path, int quality, const trx::WriteOptions* options) const
{
    auto output = createOutput(path);
    if (!output) {
        LogMessage(L"OpenImageIO cannot create for writing: %ls", wideForDisplay(path).c_str());
        logReason(OIIO::geterror());
        return false;
    }
    // An image the writer refuses leaves no file behind: it is refused before one is made.
    if (!willOpen(*output, *impl_, options))
        return writeToOutput(output, *impl_, path, quality, options);
    PathFile file(path);
    if (!file.opened()) {
        logFailedOpen(*output, *impl_, file.error());
        return false;
    }
    std::vector<unsigned char> encoded;
    const bool proxied = output->supports("ioproxy");
    if (!(proxied ? encodeThroughProxy(output, *impl_, path, quality, options, encoded)
                  : encodeThroughMemoryFile(output, *impl_, path, quality, options, encoded)))
        return false;
    if (!file.writeAll(encoded)) {
        LogMessage(L"Fail to write image to file: Error: %ls, file type: %ls, buffer size: %llul",
                   wideForDisplay(file.error() + " (" + path + ")").c_str(), wideForDisplay(path).c_str(),
                   sizeOf(encoded));
        return false;
    }
    return true;
}

bool TarvexImage::write(const char* path) const
{
    if (!path) {
        LogMessage(L"OpenImageIO cannot create for writing: %ls", L"(null path)");
        return false;
    }
    return write(std::string(path));
}

bool TarvexImage::write(const std::wstring& path) const { return write(path.c_str()); }

bool TarvexImage::write(const wchar_t* path) const
{
    if (!path) {
        LogMessage(L"OpenImageIO cannot create for writing: %ls", L"(null path)");
        return false;
    }
    return write(WideToUtf8(path).c_str());
}
