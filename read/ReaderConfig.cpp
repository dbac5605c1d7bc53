#include "read/ReaderConfig.h"

#include <exception>

#include "read/FileSignature.h"
#include "read/HeaderScreen.h"
#include "read/JpegInput.h"
#include "read/PsdModes.h"

namespace {

// The reader for `format`, made without looking at the file. Which reader reads a
// format is decided here and nowhere else.
std::unique_ptr<OIIO::ImageInput> readerFor(const std::string& format, const std::string& fileName)
{
    // OpenImageIO's JPEG reader turns CMYK and YCCK files into RGB; ours keeps the four channels.
    if (format == "jpeg" && jpegFrameHasFourComponents(fileName))
        return createJpegInput();
    return OIIO::ImageInput::create(format);
}

std::unique_ptr<OIIO::ImageInput> tryReaderUnguarded(const std::string& format, const std::string& fileName,
                                                     const FileHead& file, std::string& reason)
{
    std::unique_ptr<OIIO::ImageInput> input = readerFor(format, fileName);
    if (!input) {
        reason = OIIO::geterror();
        return nullptr;
    }
    const int psdMode = format == "psd" ? psdColourMode(file) : -1;
    OIIO::ImageSpec config = readerConfiguration();
    if (psdMode == kPsdBitmap)
        config.attribute("oiio:RawColor", 0);
    OIIO::ImageSpec opened;
    if (!input->open(fileName, opened, config)) {
        reason = input->geterror();
        return nullptr;
    }
    if (psdMode == kPsdIndexed)
        return indexedPsdReader(std::move(input), fileName, reason);
    return input;
}

// An exception out of a reader's open (a refused allocation, mostly) is a refusal.
std::unique_ptr<OIIO::ImageInput> tryReader(const std::string& format, const std::string& fileName,
                                            const FileHead& file, std::string& reason)
{
    try {
        return tryReaderUnguarded(format, fileName, file, reason);
    } catch (const std::exception& e) {
        reason = e.what();
        return nullptr;
    }
}

}  // namespace

OIIO::ImageSpec readerConfiguration()
{
    OIIO::ImageSpec config{OIIO::TypeDesc()};
    config.attribute("oiio:RawColor", 1);
    config.attribute("oiio:UnassociatedAlpha", 1);
    return config;
}

std::unique_ptr<OIIO::ImageInput> openReader(const std::string& fileName, std::string& reason)
{
    reason.clear();
    const FileHead file = readFileHead(fileName);
    if (!headerIsSafeForReader(file))
        return nullptr;
    // OpenImageIO's own fallback tries every reader it has, and some of them abort on
    // bytes of another format; only the two readers that name the file are tried here.
    const std::string byName = formatByExtension(fileName);
    const std::string byBytes = formatBySignature(file);
    if (!byName.empty()) {
        if (auto input = tryReader(byName, fileName, file, reason))
            return input;
    }
    if (!byBytes.empty() && byBytes != byName) {
        if (auto input = tryReader(byBytes, fileName, file, reason))
            return input;
    }
    if (reason.empty())
        reason = file.failure;
    return nullptr;
}

std::unique_ptr<OIIO::ImageInput> openReader(const std::string& fileName)
{
    std::string reason;
    return openReader(fileName, reason);
}
