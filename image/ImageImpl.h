#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>

#include "TRXImage.h"

class CImageSpecInterpreter;

using StripVector = std::vector<trx::MemMapObjectAllocator>;

// The shared image behind every TarvexImage handle.
struct TarvexImageImpl {
    TarvexImageImpl();
    ~TarvexImageImpl();
    TarvexImageImpl(const TarvexImageImpl&) = delete;
    TarvexImageImpl& operator=(const TarvexImageImpl&) = delete;

    StripVector colourStrips;
    StripVector indexStrips;
    StripVector alphaStrips;
    std::int64_t linesPerStrip = 0;
    std::int64_t bytesPerLine = 0;
    std::int64_t indexBytesPerLine = 0;
    std::int64_t alphaBytesPerLine = 0;
    std::int64_t columns = 0;
    std::int64_t rows = 0;
    std::int32_t refCount = 1;
    bool hasValidData = false;
    TarvexImageProgress* progressMonitor = nullptr;
    bool isTrueColour = true;
    bool isCMYK = false;
    bool invertOnRead = false;
    std::int32_t alphaChannel = -1;
    std::int32_t bytesPerPixel = 1;
    double xResolution = 0.0;
    double yResolution = 0.0;
    std::vector<std::uint32_t> colourMap;
    TarvexImage::colourSpaceType colourSpace = TarvexImage::colourSpaceUnknown;
    std::string fileName;
    std::unique_ptr<OIIO::ImageInput> imageInput;
    std::unique_ptr<CImageSpecInterpreter> interpreter;
    Blob iccProfile;

    // The image has alpha: a source alpha channel or alpha strips.
    bool hasAlpha() const { return alphaChannel != -1 || !alphaStrips.empty(); }
    StripVector& pixelStrips() { return isTrueColour ? colourStrips : indexStrips; }
    const StripVector& pixelStrips() const { return isTrueColour ? colourStrips : indexStrips; }
    std::int64_t pixelLineBytes() const { return isTrueColour ? bytesPerLine : indexBytesPerLine; }
    int stripCount() const
    {
        return static_cast<int>(!colourStrips.empty() ? colourStrips.size() : indexStrips.size());
    }
};

struct TarvexImageAccess {
    static TarvexImageImpl& impl(TarvexImage& image) { return *image.impl_; }
    static const TarvexImageImpl& impl(const TarvexImage& image) { return *image.impl_; }
};

// True when `strips` hold every line 0..rows-1 of `lineBytes` bytes under the line
// rule. Operations that walk every line check this once, so that no line access can
// leave a strip whatever allocators a host placed in the vectors.
bool stripsCoverLines(const StripVector& strips, std::int64_t rows, std::int64_t linesPerStrip, std::int64_t lineBytes);

// Address of line y in `strips` under the line rule, or null when the strip does not
// hold it. `view` keeps the strip mapped while the pointer is used.
unsigned char* mapLine(trx::MemMapObjectMapper& view, const StripVector& strips, std::int64_t y,
                       std::int64_t linesPerStrip, std::int64_t lineBytes);

// Destroys every allocator and empties the vector.
void clearStrips(StripVector& strips);
