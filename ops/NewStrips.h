#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "image/ImageImpl.h"

// Asks the kernel to back a strip that is about to be written whole in one call,
// instead of taking one page fault per page as the writes arrive. A hint only: where
// the kernel does not offer it the pages fault in as usual.
inline void prefaultStrip(const trx::MemMapObjectAllocator& strip)
{
#if defined(MADV_POPULATE_WRITE)
    if (strip.Size() == 0)
        return;
    trx::MemMapObjectMapper view(strip);
    const auto address = reinterpret_cast<std::uintptr_t>(view.get_writeable());
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const std::uintptr_t start = address / page * page;
    void* base = reinterpret_cast<void*>(start);
    const std::size_t length = strip.Size() + (address - start);
#  if defined(MADV_HUGEPAGE)
    madvise(base, length, MADV_HUGEPAGE);
#  endif
    madvise(base, length, MADV_POPULATE_WRITE);
#else
    (void)strip;
#endif
}

// Fills `strips` with `count` stores of `bytes` bytes each. False, with `strips` left
// empty, when a store cannot be mapped: callers build strips aside and swap them in
// only on success, so a failed allocation leaves the image as it was.
inline bool makeStrips(StripVector& strips, std::int64_t count, std::int64_t bytes, bool prefault = false)
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
        if (prefault)
            prefaultStrip(strip);
    }
    return true;
}
