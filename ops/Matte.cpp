#include <algorithm>
#include <climits>
#include <cstring>

#include "image/ImageImpl.h"
#include "ops/NewStrips.h"

bool TarvexImage::matte() const { return impl_->hasAlpha(); }

void TarvexImage::matte(bool enable)
{
    TarvexImageImpl& im = *impl_;
    if (!im.isTrueColour || !enable || im.hasAlpha())
        return;
    if (im.columns <= 0 || im.rows <= 0 || im.linesPerStrip <= 0)
        return;
    // Line offsets inside a strip are 32-bit, as everywhere else.
    if (im.linesPerStrip > INT32_MAX / im.columns)
        return;
    const std::size_t count = !im.colourStrips.empty() ? im.colourStrips.size() : im.indexStrips.size();

    StripVector strips(count);
    std::int64_t first = 0;
    for (auto& strip : strips) {
        const std::int64_t end = std::min(first + im.linesPerStrip, im.rows);
        const std::int64_t lines = std::max<std::int64_t>(end - first, 0);
        if (!strip.ReSize(static_cast<std::size_t>(lines * im.columns)))
            return;
        // A new plane is opaque: that is what a caller adding alpha expects to see.
        if (lines > 0) {
            trx::MemMapObjectMapper view(0);
            view = strip;
            std::memset(view.get_writeable(), 0xFF, strip.Size());
        }
        first = std::max(first, end);
    }
    im.alphaStrips.swap(strips);
    im.alphaBytesPerLine = im.columns;
}
