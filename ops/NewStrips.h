#pragma once

#include <cstdint>

#include "image/ImageImpl.h"

// Fills `strips` with `count` stores of `bytes` bytes each. False, with `strips` left
// empty, when a store cannot be mapped: callers build strips aside and swap them in
// only on success, so a failed allocation leaves the image as it was.
inline bool makeStrips(StripVector& strips, std::int64_t count, std::int64_t bytes)
{
    strips.clear();
    if (count < 0 || bytes < 0)
        return false;
    strips.resize(static_cast<std::size_t>(count));
    for (auto& strip : strips) {
        if (!strip.ReSize(static_cast<std::size_t>(bytes))) {
            clearStrips(strips);
            return false;
        }
    }
    return true;
}
