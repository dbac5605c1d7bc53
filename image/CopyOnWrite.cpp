#include "image/ImageImpl.h"
#include "read/Reopen.h"

#include <new>

void TarvexImage::modifyImage()
{
    TarvexImageImpl& shared = *impl_;
    if (shared.refCount < 2)
        return;

    auto* copy = new TarvexImageImpl;
    copy->colourStrips = shared.colourStrips;  // allocator copies share bytes until Split()
    copy->indexStrips = shared.indexStrips;
    copy->alphaStrips = shared.alphaStrips;
    copy->linesPerStrip = shared.linesPerStrip;
    copy->bytesPerLine = shared.bytesPerLine;
    copy->indexBytesPerLine = shared.indexBytesPerLine;
    copy->alphaBytesPerLine = shared.alphaBytesPerLine;
    copy->columns = shared.columns;
    copy->rows = shared.rows;
    copy->hasValidData = shared.hasValidData;
    copy->progressMonitor = shared.progressMonitor;
    copy->isTrueColour = shared.isTrueColour;
    copy->isCMYK = shared.isCMYK;
    copy->invertOnRead = shared.invertOnRead;
    copy->alphaChannel = shared.alphaChannel;
    copy->bytesPerPixel = shared.bytesPerPixel;
    copy->xResolution = shared.xResolution;
    copy->yResolution = shared.yResolution;
    copy->colourSpace = shared.colourSpace;
    copy->fileName = shared.fileName;
    // A private copy keeps what the host gave the image: its colour map and profile.
    copy->colourMap = shared.colourMap;
    copy->iccProfile = shared.iccProfile;

    // Split before the handle moves, so that a failed copy leaves the sharing intact.
    bool split = true;
    const int n = copy->stripCount();
    const bool alpha = copy->hasAlpha();
    for (int i = 0; i < n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (k < copy->colourStrips.size())
            split &= copy->colourStrips[k].Split();
        if (k < copy->indexStrips.size())
            split &= copy->indexStrips[k].Split();
        if (alpha && k < copy->alphaStrips.size())
            split &= copy->alphaStrips[k].Split();
    }
    if (!split) {
        delete copy;
        throw std::bad_alloc();
    }
    reopenForCopy(*copy);

    --shared.refCount;
    copy->refCount = 1;
    impl_ = copy;
}
