#include "image/ImageImpl.h"

#include <algorithm>

#include "read/SpecInterpreter.h"

TarvexImageImpl::TarvexImageImpl() = default;

TarvexImageImpl::~TarvexImageImpl()
{
    // The reader is closed before anything else goes.
    if (imageInput) {
        imageInput->close();
        imageInput.reset();
    }
    interpreter.reset();
}

bool stripsCoverLines(const StripVector& strips, std::int64_t rows, std::int64_t linesPerStrip, std::int64_t lineBytes)
{
    if (rows <= 0)
        return true;
    if (linesPerStrip <= 0 || lineBytes < 0)
        return false;
    const std::int64_t needed = (rows - 1) / linesPerStrip + 1;
    if (static_cast<std::uint64_t>(needed) > strips.size())
        return false;
    for (std::int64_t i = 0; i < needed; ++i) {
        const std::int64_t first = i * linesPerStrip;
        const std::int64_t lines = std::min(linesPerStrip, rows - first);
        if (lines > 0 && static_cast<std::uint64_t>(lineBytes) > strips[i].Size() / static_cast<std::uint64_t>(lines))
            return false;
    }
    return true;
}

unsigned char* mapLine(trx::MemMapObjectMapper& view, const StripVector& strips, std::int64_t y,
                       std::int64_t linesPerStrip, std::int64_t lineBytes)
{
    if (y < 0 || linesPerStrip <= 0 || lineBytes < 0)
        return nullptr;
    const std::uint64_t strip = static_cast<std::uint64_t>(y / linesPerStrip);
    if (strip >= strips.size())
        return nullptr;
    const std::uint64_t offset = static_cast<std::uint64_t>(y % linesPerStrip) * static_cast<std::uint64_t>(lineBytes);
    if (offset + static_cast<std::uint64_t>(lineBytes) > strips[strip].Size())
        return nullptr;
    view = strips[strip];
    return static_cast<unsigned char*>(view.get_writeable()) + offset;
}

void clearStrips(StripVector& strips)
{
    strips.clear();
    strips.shrink_to_fit();
}
