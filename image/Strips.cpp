#include <algorithm>
#include <climits>
#include <cstdint>

#include "image/ImageImpl.h"
#include "image/Log.h"

namespace {

constexpr std::int64_t kStripTarget = std::int64_t(1) << 24;   // 16 MiB of lines per strip
constexpr std::int64_t kAddressSpace = std::int64_t(1) << 47;  // x86-64 user space
// Strips past the last line are empty and cost only their allocators; this bounds how
// many a caller can ask for (1 MiB of allocators) beyond one strip a line.
constexpr std::int64_t kMostStripsBeyondLines = std::int64_t(1) << 16;

std::int64_t bitsForColourSpace(TarvexImage::colourSpaceType space)
{
    switch (space) {
    case TarvexImage::colourSpaceRGB: return 24;
    case TarvexImage::colourSpaceGrey: return 8;
    case TarvexImage::colourSpaceCMYK: return 32;
    default: return 24;
    }
}

std::int64_t packedLineBytes(std::int64_t columns) { return (((columns + 7) / 8 - 1) | 3) + 1; }

struct Layout {
    std::int32_t bytesPerPixel;
    std::int64_t bytesPerLine;
    std::int64_t indexBytesPerLine;
    std::int64_t strips;
    std::int64_t linesPerStrip;
};

// The layout `size` would give, or the reason it cannot be had. Line offsets inside a
// strip are reckoned in 32 bits, so every line length and every strip must fit them.
const wchar_t* planLayout(const TarvexImageImpl& image, std::int64_t columns, std::int64_t rows, int stripCount,
                          int linesPerStrip, Layout& out)
{
    if (columns < 0 || rows < 0 || stripCount < 0 || linesPerStrip < 0)
        return L"negative dimensions or counts";
    if (columns > INT32_MAX || rows > INT32_MAX)
        return L"dimensions beyond 2147483647";
    if (image.colourSpace == TarvexImage::colourSpaceBilevel) {
        out.bytesPerPixel = 1;
        out.bytesPerLine = out.indexBytesPerLine = packedLineBytes(columns);
    } else {
        out.bytesPerPixel = 1;
        if (image.isTrueColour)
            out.bytesPerPixel = static_cast<std::int32_t>(bitsForColourSpace(image.colourSpace) / 8);
        out.bytesPerLine = bitsForColourSpace(image.colourSpace) * columns / 8;
        out.indexBytesPerLine = columns;
    }
    if (out.bytesPerLine > INT32_MAX)
        return L"a line longer than 2147483647 bytes";
    const std::int64_t lineBytes = image.isTrueColour ? out.bytesPerLine : out.indexBytesPerLine;
    if (lineBytes > 0 && rows > kAddressSpace / lineBytes)
        return L"more bytes than the address space holds";
    out.strips = stripCount;
    if (out.strips == 0) {
        out.strips = lineBytes * rows / kStripTarget;
        if (out.strips == 0)
            out.strips = rows >= 1 ? 1 : 0;
    }
    if (stripCount > std::max(rows, kMostStripsBeyondLines))
        return L"more strips than lines, and more than 65536";
    out.linesPerStrip = linesPerStrip;
    if (out.linesPerStrip == 0)
        out.linesPerStrip = out.strips > 0 ? (rows - 1 + out.strips) / out.strips : 0;
    const std::int64_t widest = std::max(std::max(out.bytesPerLine, out.indexBytesPerLine), columns);
    if (widest > 0 && out.linesPerStrip > INT32_MAX / widest)
        return L"a strip larger than 2147483647 bytes";
    return nullptr;
}

}  // namespace

void TarvexImage::size(std::int64_t columns, std::int64_t rows, int stripCount, int linesPerStrip,
                       const std::vector<trx::MemMapObjectAllocator>* strips,
                       const std::vector<trx::MemMapObjectAllocator>* alphaStrips)
{
    TarvexImageImpl& im = *impl_;
    Layout layout{};
    const wchar_t* refusal = planLayout(im, columns, rows, stripCount, linesPerStrip, layout);
    const std::int64_t n = layout.strips;
    if (!refusal && ((strips && static_cast<std::int64_t>(strips->size()) < n) ||
                     (alphaStrips && static_cast<std::int64_t>(alphaStrips->size()) < n)))
        refusal = L"a strip vector shorter than the strip count";
    if (refusal) {
        LogMessage(L"size() refused for %lld x %lld pixels, %d strips of %d lines: %ls",
                   static_cast<long long>(columns), static_cast<long long>(rows), stripCount, linesPerStrip, refusal);
        return;
    }

    if (im.stripCount() > 0) {
        if (im.isTrueColour) {
            clearStrips(im.colourStrips);
            im.bytesPerLine = 0;
        } else {
            clearStrips(im.indexStrips);
            im.indexBytesPerLine = 0;
        }
        if (im.hasAlpha()) {
            clearStrips(im.alphaStrips);
            im.alphaBytesPerLine = 0;
        }
    }

    im.columns = columns;
    im.rows = rows;
    im.bytesPerPixel = layout.bytesPerPixel;
    im.bytesPerLine = layout.bytesPerLine;
    im.indexBytesPerLine = layout.indexBytesPerLine;
    im.linesPerStrip = layout.linesPerStrip;

    const auto count = static_cast<std::size_t>(n);
    if (strips) {
        StripVector& target = im.pixelStrips();
        target.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            target[i] = trx::MemMapCowCopy<const trx::MemMapObjectAllocator>((*strips)[i]);
    } else {
        if (!im.colourStrips.empty() || im.isTrueColour)
            im.colourStrips.resize(count);
        if (!im.indexStrips.empty() || !im.isTrueColour)
            im.indexStrips.resize(count);
    }

    const bool sizeAlpha = !alphaStrips && im.hasAlpha();
    if (alphaStrips) {
        im.alphaBytesPerLine = columns;
        im.alphaStrips.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            im.alphaStrips[i] = trx::MemMapCowCopy<const trx::MemMapObjectAllocator>((*alphaStrips)[i]);
    } else if (sizeAlpha) {
        im.alphaBytesPerLine = columns;
        im.alphaStrips.resize(count);
    }

    bool allocated = true;
    std::int64_t first = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t end = std::min(first + im.linesPerStrip, rows);
        const std::int64_t lines = end - first;
        if (!strips) {
            if (!im.colourStrips.empty())
                allocated &= im.colourStrips[i].ReSize(static_cast<std::size_t>(lines * im.bytesPerLine));
            if (!im.indexStrips.empty())
                allocated &= im.indexStrips[i].ReSize(static_cast<std::size_t>(lines * im.indexBytesPerLine));
        }
        if (sizeAlpha)
            allocated &= im.alphaStrips[i].ReSize(static_cast<std::size_t>(lines * im.alphaBytesPerLine));
        first = end;
    }
    if (!allocated)
        LogMessage(L"size() could not allocate the strips of %lld x %lld pixels", static_cast<long long>(columns),
                   static_cast<long long>(rows));
}

std::vector<trx::MemMapObjectAllocator>& TarvexImage::strips() { return impl_->pixelStrips(); }

std::vector<trx::MemMapObjectAllocator>& TarvexImage::alphaStrips() { return impl_->alphaStrips; }

namespace {

bool holdsLine(const StripVector& strips, const TarvexImageImpl& im, int y, std::int64_t lineBytes)
{
    if (y < 0 || y >= im.rows || im.linesPerStrip <= 0 || lineBytes < 0)
        return false;
    const std::int64_t strip = y / im.linesPerStrip;
    const std::int64_t start = (y % im.linesPerStrip) * lineBytes;
    return static_cast<std::uint64_t>(strip) < strips.size() && start <= INT32_MAX &&
           static_cast<std::uint64_t>(start + lineBytes) <= strips[static_cast<std::size_t>(strip)].Size();
}

// Points `line` at line y of `strips` when the strip holds it. Otherwise the line is
// left empty, so that a caller who ignores the result writes through a null pointer
// rather than into the line it pointed at before.
bool pointAt(trx::MemMapObjectMapper& mapper, std::int32_t& offset, const StripVector& strips,
             const TarvexImageImpl& im, int y, std::int64_t lineBytes)
{
    if (!holdsLine(strips, im, y, lineBytes)) {
        mapper = trx::MemMapObjectMapper();
        offset = 0;
        return false;
    }
    mapper = strips[static_cast<std::size_t>(y / im.linesPerStrip)];
    offset = static_cast<std::int32_t>((y % im.linesPerStrip) * lineBytes);
    return true;
}

}  // namespace

bool TarvexImage::setupLinePointer(LinePointer& line, int y)
{
    InternalLinePointer& target = *line.line_;
    return pointAt(target.mapper_, target.offset_, impl_->pixelStrips(), *impl_, y, impl_->pixelLineBytes());
}

bool TarvexImage::setupAlphaLinePointer(LinePointer& line, int y)
{
    InternalLinePointer& target = *line.line_;
    return pointAt(target.mapper_, target.offset_, impl_->alphaStrips, *impl_, y, impl_->alphaBytesPerLine);
}
