#include <algorithm>
#include <cstring>
#include <iterator>

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

void dropAlpha(TarvexImageImpl& im)
{
    im.alphaChannel = -1;
    im.alphaBytesPerLine = 0;
    clearStrips(im.alphaStrips);
}

bool prepare(TarvexImageImpl& im)
{
    im.imageInput.reset();
    im.imageInput = openReader(im.fileName);
    if (!im.imageInput) {
        // The interpreter described the file held before; it has no file now.
        im.interpreter.reset();
        LogMessage(L"OpenImageIO cannot open %ls", wideForDisplay(im.fileName).c_str());
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

// One pass over the lines of the image, a strip's run of lines per call, channels
// [first, end) of the file into lines of `lineBytes` bytes. When a run fails it is
// read again line by line, so that the lines before the failing one are kept and the
// message names that line; `failed` logs it.
//
// OpenImageIO 2.4's TIFF reader reports missing or damaged strips of a call of
// several lines only through its error state, not through the call's result, so a
// call succeeds when it returns true and leaves no error behind.
template <class AfterRun, class Failed>
bool readPass(TarvexImageImpl& im, StripVector& strips, std::int64_t lineBytes, int first, int end, AfterRun afterRun,
              Failed failed)
{
    OIIO::ImageInput& input = *im.imageInput;
    const OIIO::stride_t ystride = static_cast<OIIO::stride_t>(lineBytes);
    const OIIO::TypeDesc format = storedAsBytes(input.spec(), first, end) ? OIIO::TypeUnknown : OIIO::TypeUInt8;
    input.geterror();  // what opening left behind is not a failed read
    trx::MemMapObjectMapper view;
    for (std::int64_t top = 0; top < im.rows; top += im.linesPerStrip) {
        const std::int64_t bottom = std::min(top + im.linesPerStrip, im.rows);
        unsigned char* run = mapLine(view, strips, top, im.linesPerStrip, lineBytes);
        if (!run)
            return failed(static_cast<int>(top));
        const auto readLines = [&](std::int64_t from, std::int64_t to) {
            unsigned char* at = run + (from - top) * lineBytes;
            const bool read = input.read_scanlines(0, 0, static_cast<int>(from), static_cast<int>(to), 0, first, end,
                                                   format, at, OIIO::AutoStride, ystride);
            if (read && !input.has_error())
                return true;
            input.geterror();
            return false;
        };
        if (!readLines(top, bottom)) {
            for (std::int64_t y = top; y < bottom; ++y)
                if (!readLines(y, y + 1))
                    return failed(static_cast<int>(y));
        }
        afterRun(run, bottom - top);
    }
    return true;
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
    const auto failed = [&](int y) {
        LogMessage(L"OpenImageIO fails to read_scanline, line %d out of %d rows for %d channels", y,
                   static_cast<int>(im.rows), asked);
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
    const auto failed = [&](int y) {
        LogMessage(L"OpenImageIO fails to read_scanline, line %d out of %d rows for alpha", y,
                   static_cast<int>(im.rows));
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
