#include <algorithm>
#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <new>
#include <string>

#include "image/ImageImpl.h"
#include "image/Log.h"
#include "image/TextConversion.h"
#include "read/ReadLayout.h"
#include "read/ReadPipeline.h"
#include "read/ReaderConfig.h"
#include "read/SpecInterpreter.h"

namespace {

// Sizes every strip of `strips` to `bytes`, each with bytes of its own: a strip that a
// host shared in through size() must not see the file's pixels.
bool sizeStrips(StripVector& strips, std::int64_t count, std::int64_t bytes)
{
    strips.resize(static_cast<std::size_t>(count));
    bool sized = true;
    for (trx::MemMapObjectAllocator& strip : strips)
        sized = sized && strip.ReSize(static_cast<std::size_t>(bytes)) && strip.Split();
    return sized;
}

// OpenImageIO's own words after one of ours, its lines joined into one; nothing when it
// has none.
void logReason(const std::string& reason)
{
    constexpr std::size_t kLongest = 1000;
    std::string text;
    std::size_t p = 0;
    while (p < reason.size() && text.size() < kLongest) {
        const std::size_t end = std::min(reason.find('\n', p), reason.size());
        if (end > p)
            text += (text.empty() ? "" : "; ") + reason.substr(p, end - p);
        p = end + 1;
    }
    if (!text.empty())
        LogMessage(L"%ls", wideForDisplay(text.substr(0, kLongest)).c_str());
}

void dropAlpha(TarvexImageImpl& im)
{
    im.alphaChannel = -1;
    im.alphaBytesPerLine = 0;
    clearStrips(im.alphaStrips);
}

bool prepare(TarvexImageImpl& im)
{
    im.imageInput.reset();
    std::string reason;
    im.imageInput = openReader(im.fileName, reason);
    if (!im.imageInput) {
        // The interpreter described the file held before; it has no file now.
        im.interpreter.reset();
        LogMessage(L"OpenImageIO cannot open %ls", wideForDisplay(im.fileName).c_str());
        logReason(reason);
        return false;
    }
    im.interpreter = createSpecInterpreter(im.imageInput->spec(), im.fileName);
    if (!im.interpreter) {
        LogMessage(L"OpenImageIO cannot get an interpreter for %ls", wideForDisplay(im.fileName).c_str());
        return false;
    }
    const CImageSpecInterpreter& interpreter = *im.interpreter;
    const OIIO::ImageSpec& spec = interpreter.spec;

    const bool isCMYK = interpreter.isCMYK();
    const bool invertOnRead = interpreter.invertOnRead();
    int alphaChannel = interpreter.alphaChannel();
    const int bytesPerPixel = interpreter.bytesPerPixel();
    const double xResolution = interpreter.xResolution();
    const double yResolution = interpreter.yResolution();
    if (alphaChannel < 0 || alphaChannel >= spec.nchannels)
        alphaChannel = -1;  // never read a channel the file does not have

    ReadLayout layout;
    const wchar_t* refusal = spec.nchannels < 1 ? L"no channels" : nullptr;
    if (!refusal)
        refusal = planReadLayout(spec.width, spec.height, bytesPerPixel, alphaChannel != -1, physicalMemory(), layout);
    if (refusal) {
        LogMessage(L"OpenImageIO file %ls of %d x %d pixels cannot be read: %ls", wideForDisplay(im.fileName).c_str(),
                   spec.width, spec.height, refusal);
        return false;
    }

    im.columns = spec.width;
    im.rows = spec.height;
    im.isCMYK = isCMYK;
    im.invertOnRead = invertOnRead;
    im.alphaChannel = alphaChannel;
    im.bytesPerPixel = bytesPerPixel;
    im.xResolution = xResolution;
    im.yResolution = yResolution;
    if (bytesPerPixel == 1)
        im.colourSpace = TarvexImage::colourSpaceGrey;
    else
        im.colourSpace = isCMYK ? TarvexImage::colourSpaceCMYK : TarvexImage::colourSpaceRGB;

    // A packed image becomes true colour again: the file's pixels go to colourStrips.
    if (!im.isTrueColour) {
        im.isTrueColour = true;
        clearStrips(im.indexStrips);
        im.indexBytesPerLine = 0;
    }

    im.bytesPerLine = layout.bytesPerLine;
    im.linesPerStrip = layout.linesPerStrip;
    bool sized = true;
    if (layout.strips < 1)
        clearStrips(im.colourStrips);
    else
        sized = sizeStrips(im.colourStrips, layout.strips, layout.bytesPerLine * layout.linesPerStrip);

    // Alpha that matte(true) made has no channel in the file: it goes.
    if (alphaChannel == -1) {
        dropAlpha(im);
    } else {
        im.alphaBytesPerLine = layout.alphaBytesPerLine;
        sized = sized && sizeStrips(im.alphaStrips, layout.strips, layout.alphaBytesPerLine * layout.linesPerStrip);
    }

    if (!sized || !stripsCoverLines(im.colourStrips, im.rows, im.linesPerStrip, im.bytesPerLine) ||
        (alphaChannel != -1 && !stripsCoverLines(im.alphaStrips, im.rows, im.linesPerStrip, im.alphaBytesPerLine))) {
        LogMessage(L"OpenImageIO file %ls: the strips of %lld x %lld pixels cannot be allocated",
                   wideForDisplay(im.fileName).c_str(), static_cast<long long>(im.columns),
                   static_cast<long long>(im.rows));
        return false;
    }
    return true;
}

// True when channels [first, end) are stored as 8-bit unsigned in the file. OpenImageIO
// 2.4 then reads them straight into the caller's lines when asked for the native type;
// asked for UINT8 by name it goes through a scratch buffer of up to 64 MiB per call and
// a conversion pass, which made reads two to ten times slower.
bool storedAsBytes(const OIIO::ImageSpec& spec, int first, int end)
{
    if (spec.channelformats.empty())
        return spec.format == OIIO::TypeDesc::UINT8;
    for (int c = first; c < end; ++c)
        if (c < 0 || c >= static_cast<int>(spec.channelformats.size()) ||
            spec.channelformats[static_cast<std::size_t>(c)] != OIIO::TypeDesc::UINT8)
            return false;
    return true;
}

// One call into a reader. An exception out of it (a refused allocation, mostly) makes
// the call a failed one, with the exception's text as its reason.
template <class Call>
bool readerCall(Call call, std::string& thrown)
{
    try {
        return call();
    } catch (const std::exception& e) {
        thrown = e.what();
        return false;
    }
}

// The reason of a failed call: what it threw, else what the reader says.
std::string failure(OIIO::ImageInput& input, const std::string& thrown)
{
    std::string said = input.geterror();
    return thrown.empty() ? said : thrown;
}

// The one sample type of channels [first, end), or unknown when they differ.
OIIO::TypeDesc sharedFormat(const OIIO::ImageSpec& spec, int first, int end)
{
    if (spec.channelformats.empty())
        return spec.format;
    OIIO::TypeDesc shared = OIIO::TypeUnknown;
    for (int c = first; c < end; ++c) {
        if (c < 0 || c >= static_cast<int>(spec.channelformats.size()))
            return OIIO::TypeUnknown;
        const OIIO::TypeDesc format = spec.channelformats[static_cast<std::size_t>(c)];
        if (c != first && format != shared)
            return OIIO::TypeUnknown;
        shared = format;
    }
    return shared;
}

// One pass over the lines of the image, a strip's run of lines per call, channels
// [first, end) of the file into lines of `lineBytes` bytes. A run whose call fails, or
// succeeds but leaves an error behind, is read again line by line, and each line's call
// is judged by its result alone: OpenImageIO 2.4's TIFF reader reports damaged strips
// of a call of several lines only through its error state, while a file that libjpeg
// decodes with a warning leaves the warning there. `failed` logs the failing line.
template <class AfterRun, class Failed>
bool readLinePass(TarvexImageImpl& im, StripVector& strips, std::int64_t lineBytes, int first, int end,
                  AfterRun afterRun, Failed failed)
{
    OIIO::ImageInput& input = *im.imageInput;
    const OIIO::ImageSpec& spec = input.spec();
    const OIIO::stride_t ystride = static_cast<OIIO::stride_t>(lineBytes);
    const OIIO::TypeDesc format = storedAsBytes(spec, first, end) ? OIIO::TypeUnknown : OIIO::TypeUInt8;
    input.geterror();  // what opening left behind is not a failed read
    trx::MemMapObjectMapper view;
    for (std::int64_t top = 0; top < im.rows; top += im.linesPerStrip) {
        const std::int64_t bottom = std::min(top + im.linesPerStrip, im.rows);
        unsigned char* run = mapLine(view, strips, top, im.linesPerStrip, lineBytes);
        if (!run)
            return failed(static_cast<int>(top), std::string());
        std::string thrown;
        const auto readLines = [&](std::int64_t from, std::int64_t to) {
            unsigned char* at = run + (from - top) * lineBytes;
            return readerCall(
                [&] {
                    return input.read_scanlines(0, 0, static_cast<int>(spec.y + from), static_cast<int>(spec.y + to),
                                                spec.z, first, end, format, at, OIIO::AutoStride, ystride);
                },
                thrown);
        };
        const bool whole = readLines(top, bottom) && !input.has_error();
        input.geterror();
        if (!whole) {
            for (std::int64_t y = top; y < bottom; ++y) {
                thrown.clear();
                const bool read = readLines(y, y + 1);
                const std::string reason = failure(input, thrown);
                if (!read)
                    return failed(static_cast<int>(y), reason);
            }
        }
        afterRun(run, bottom - top);
    }
    return true;
}

// Bytes of our own buffer for tiles at most, unless one tile needs more; beyond the
// largest tile, a file is refused rather than buffered.
constexpr std::int64_t kTileBufferBytes = std::int64_t(4) << 20;
constexpr std::int64_t kLargestTileBytes = std::int64_t(1) << 30;

// The pass above for a tiled file, a row of tiles per call. OpenImageIO 2.4's scanline
// emulation over tiles divides by zero (SIGFPE) when it converts the sample type, so
// tiles are read as tiles. A row of 8-bit tiles that lies in one strip goes straight
// into it; other rows go through a buffer of a few tiles, in the file's own sample type
// when its channels share one, converted with OpenImageIO's conversion (the one that
// read_image uses).
template <class AfterRun, class Failed>
bool readTilePass(TarvexImageImpl& im, StripVector& strips, std::int64_t lineBytes, int first, int end,
                  AfterRun afterRun, Failed failed)
{
    OIIO::ImageInput& input = *im.imageInput;
    const OIIO::ImageSpec& spec = input.spec();
    const std::int64_t width = im.columns;
    const std::int64_t tileWidth = spec.tile_width;
    const std::int64_t tileHeight = std::max(spec.tile_height, 1);
    const std::int64_t linesPerStrip = im.linesPerStrip;
    const int channels = end - first;
    const bool bytes = storedAsBytes(spec, first, end);
    const OIIO::TypeDesc shared = sharedFormat(spec, first, end);
    const OIIO::TypeDesc sample = bytes || shared == OIIO::TypeUnknown ? OIIO::TypeUInt8 : shared;
    const OIIO::TypeDesc asked = bytes ? OIIO::TypeUnknown : sample;
    const std::int64_t pixelBytes = channels * static_cast<std::int64_t>(sample.size());
    const std::int64_t tileBytes =
        tileWidth > kLargestTileBytes / tileHeight ? kLargestTileBytes + 1 : tileWidth * tileHeight * pixelBytes;
    if (tileWidth < 1 || tileBytes > kLargestTileBytes)
        return failed(0, "tiles of " + std::to_string(spec.tile_width) + " x " + std::to_string(spec.tile_height) +
                             " pixels are too large");
    const std::int64_t chunkWidth =
        std::min(width, std::max<std::int64_t>(1, kTileBufferBytes / tileBytes) * tileWidth);
    std::unique_ptr<unsigned char[]> buffer;
    std::string thrown;
    const auto readChunk = [&](std::int64_t x0, std::int64_t x1, std::int64_t y0, std::int64_t y1, void* into,
                               std::int64_t ystride) {
        return readerCall(
            [&] {
                return input.read_tiles(0, 0, static_cast<int>(spec.x + x0), static_cast<int>(spec.x + x1),
                                        static_cast<int>(spec.y + y0), static_cast<int>(spec.y + y1), spec.z,
                                        spec.z + 1, first, end, asked, into, OIIO::AutoStride,
                                        static_cast<OIIO::stride_t>(ystride));
            },
            thrown);
    };

    input.geterror();
    trx::MemMapObjectMapper view;
    for (std::int64_t top = 0; top < im.rows; top += tileHeight) {
        const std::int64_t bottom = std::min(top + tileHeight, im.rows);
        if (!bytes || top / linesPerStrip != (bottom - 1) / linesPerStrip) {
            if (!buffer) {
                buffer.reset(
                    new (std::nothrow) unsigned char[static_cast<std::size_t>(tileBytes / tileWidth * chunkWidth)]);
                if (!buffer)
                    return failed(static_cast<int>(top), "no memory for a row of tiles");
            }
            for (std::int64_t x0 = 0; x0 < width; x0 += chunkWidth) {
                const std::int64_t x1 = std::min(x0 + chunkWidth, width);
                const std::int64_t chunkLine = (x1 - x0) * pixelBytes;
                if (!readChunk(x0, x1, top, bottom, buffer.get(), chunkLine))
                    return failed(static_cast<int>(top), failure(input, thrown));
                for (std::int64_t y = top; y < bottom; ++y) {
                    unsigned char* line = mapLine(view, strips, y, linesPerStrip, lineBytes);
                    if (!line)
                        return failed(static_cast<int>(y), std::string());
                    const unsigned char* from = buffer.get() + (y - top) * chunkLine;
                    unsigned char* to = line + x0 * channels;
                    if (sample == OIIO::TypeUInt8)
                        std::memcpy(to, from, static_cast<std::size_t>(chunkLine));
                    else
                        OIIO::convert_image(channels, static_cast<int>(x1 - x0), 1, 1, from, sample, OIIO::AutoStride,
                                            OIIO::AutoStride, OIIO::AutoStride, to, OIIO::TypeUInt8, OIIO::AutoStride,
                                            OIIO::AutoStride, OIIO::AutoStride);
                }
            }
            for (std::int64_t y = top; y < bottom; ++y)
                afterRun(mapLine(view, strips, y, linesPerStrip, lineBytes), 1);
        } else {
            unsigned char* run = mapLine(view, strips, top, linesPerStrip, lineBytes);
            if (!run)
                return failed(static_cast<int>(top), std::string());
            if (!readChunk(0, width, top, bottom, run, lineBytes))
                return failed(static_cast<int>(top), failure(input, thrown));
            afterRun(run, bottom - top);
        }
        input.geterror();  // a row's call is judged by its result
    }
    return true;
}

template <class AfterRun, class Failed>
bool readPass(TarvexImageImpl& im, StripVector& strips, std::int64_t lineBytes, int first, int end, AfterRun afterRun,
              Failed failed)
{
    if (im.imageInput->spec().tile_width > 0)
        return readTilePass(im, strips, lineBytes, first, end, afterRun, failed);
    return readLinePass(im, strips, lineBytes, first, end, afterRun, failed);
}

bool readColour(TarvexImageImpl& im)
{
    const int asked = im.isCMYK ? 4 : 3;
    const int channels = im.interpreter->spec.nchannels;
    const std::int64_t columns = im.columns;
    const std::int64_t lineBytes = im.bytesPerLine;
    const int perPixel = im.bytesPerPixel;
    // A grey file with alpha keeps R = G = B = grey: only the grey channel is read and
    // spread over the pixel's colour bytes.
    const bool spread = channels < perPixel;
    const int end = spread ? 1 : std::min(asked, channels);
    const bool invert = im.invertOnRead;

    const auto afterRun = [&](unsigned char* run, std::int64_t lines) {
        if (spread) {
            for (std::int64_t l = 0; l < lines; ++l) {
                unsigned char* line = run + l * lineBytes;
                for (std::int64_t x = columns - 1; x >= 0; --x)
                    std::memset(line + x * perPixel, line[x], static_cast<std::size_t>(perPixel));
            }
        }
        if (invert) {
            unsigned char* p = run;
            unsigned char* const stop = run + lines * lineBytes;
            for (; p != stop; ++p)
                *p = static_cast<unsigned char>(~*p);
        }
    };
    const auto failed = [&](int y, const std::string& reason) {
        LogMessage(L"OpenImageIO fails to read_scanline, line %d out of %d rows for %d channels", y,
                   static_cast<int>(im.rows), asked);
        logReason(reason);
        return false;
    };
    return readPass(im, im.colourStrips, lineBytes, 0, end, afterRun, failed);
}

bool readAlpha(TarvexImageImpl& im)
{
    bool opaqueSomewhere = false;
    const std::int64_t lineBytes = im.alphaBytesPerLine;
    const auto afterRun = [&](unsigned char* run, std::int64_t lines) {
        if (!opaqueSomewhere) {
            unsigned char* const stop = run + lines * lineBytes;
            opaqueSomewhere = std::find_if(run, stop, [](unsigned char a) { return a != 0; }) != stop;
        }
    };
    const auto failed = [&](int y, const std::string& reason) {
        LogMessage(L"OpenImageIO fails to read_scanline, line %d out of %d rows for alpha", y,
                   static_cast<int>(im.rows));
        logReason(reason);
        return false;
    };
    if (!readPass(im, im.alphaStrips, lineBytes, im.alphaChannel, im.alphaChannel + 1, afterRun, failed))
        return false;
    // An alpha plane that is 0 everywhere carries nothing (a format's unused channel).
    if (!opaqueSomewhere)
        dropAlpha(im);
    return true;
}

}  // namespace

bool readPixels(TarvexImageImpl& im)
{
    if (!im.imageInput || !im.interpreter)
        return false;
    if (im.columns == 0) {
        if (im.alphaChannel != -1)
            dropAlpha(im);
        return true;
    }
    if (!readColour(im))
        return false;
    if (im.alphaChannel == -1)
        return true;
    return readAlpha(im);
}

bool TarvexImage::open(const std::string& path)
{
    TarvexImageImpl& im = *impl_;
    im.fileName = path;
    im.hasValidData = false;
    if (im.fileName.empty())
        return false;
    if (!prepare(im) || !readPixels(im))
        return false;
    im.hasValidData = true;
    return true;
}

bool TarvexImage::open(const char* path) { return open(std::string(path ? path : "")); }

bool TarvexImage::open(const wchar_t* path) { return open(WideToUtf8(path).c_str()); }

bool TarvexImage::open(const std::wstring& path) { return open(path.c_str()); }

bool TarvexImage::read()
{
    TarvexImageImpl& im = *impl_;
    if (im.hasValidData)
        return true;
    if (im.fileName.empty())
        return false;
    return prepare(im) && readPixels(im);
}
