#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
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

// Strips for a new image of `rows` lines of `lineBytes` bytes: at least 16 MiB of lines
// each (one strip for a smaller image), every strip sized for `linesPerStrip` lines.
// Lines longer than 16 MiB give more strips than lines, one line each; only the first
// `heldStrips` hold lines, the rest stay empty.
struct NewLayout {
    std::int64_t strips = 0;
    std::int64_t linesPerStrip = 0;
    std::int64_t heldStrips = 0;
};

// Null with the layout, or why it cannot be had: offsets within a strip are reckoned in
// 32 bits, and the bytes must fit the address space.
inline const wchar_t* planNewStrips(std::int64_t lineBytes, std::int64_t rows, NewLayout& out)
{
    constexpr std::int64_t kStripTarget = std::int64_t(1) << 24;
    constexpr std::int64_t kAddressSpace = std::int64_t(1) << 47;  // x86-64 user space
    if (lineBytes < 1 || rows < 1)
        return L"no pixels";
    if (lineBytes > INT32_MAX)
        return L"a line longer than 2147483647 bytes";
    if (rows > kAddressSpace / lineBytes)
        return L"more bytes than the address space holds";
    out.strips = std::max<std::int64_t>(lineBytes * rows / kStripTarget, 1);
    out.linesPerStrip = (rows - 1 + out.strips) / out.strips;
    out.heldStrips = (rows - 1 + out.linesPerStrip) / out.linesPerStrip;
    if (out.linesPerStrip > INT32_MAX / lineBytes)
        return L"a strip larger than 2147483647 bytes";
    return nullptr;
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
