#include "platform/memmapper/MemMapStore.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace trx {
namespace {

std::size_t pageSize()
{
    static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return page;
}

// Rounds up to whole pages; false when that does not fit a size_t.
bool pagesFor(std::size_t bytes, std::size_t& rounded)
{
    const std::size_t page = pageSize();
    if (bytes > SIZE_MAX - (page - 1))
        return false;
    rounded = (bytes + page - 1) / page * page;
    return true;
}

// Stores of a few megabytes and up are pixel strips written and released whole: huge
// pages make that one fault and one release per 2 MiB instead of per 4 KiB page, which
// on a virtual machine is most of the cost of reading a file into fresh strips. A hint
// only: where the kernel does not offer huge pages nothing changes.
void preferHugePages(unsigned char* base, std::size_t length)
{
#if defined(MADV_HUGEPAGE)
    constexpr std::size_t kHuge = std::size_t(2) << 20;
    if (base && length >= kHuge)
        madvise(base, length, MADV_HUGEPAGE);
#else
    (void)base;
    (void)length;
#endif
}

unsigned char* mapBytes(std::size_t length)
{
    void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    preferHugePages(static_cast<unsigned char*>(p), length);
    return static_cast<unsigned char*>(p);
}

}  // namespace

MemMapStore* MemMapStore::create(std::size_t bytes)
{
    std::size_t length = 0;
    if (!pagesFor(bytes, length))
        return nullptr;
    unsigned char* base = nullptr;
    if (length > 0) {
        base = mapBytes(length);
        if (!base)
            return nullptr;
    }
    auto* store = new (std::nothrow) MemMapStore;
    if (!store) {
        if (base)
            munmap(base, length);
        return nullptr;
    }
    store->base = base;
    store->size = bytes;
    store->mapped = length;
    return store;
}

MemMapStore* MemMapStore::copyOf(const MemMapStore& from, std::size_t bytes)
{
    MemMapStore* store = create(bytes);
    if (store && bytes > 0 && from.size > 0)
        std::memcpy(store->base, from.base, bytes < from.size ? bytes : from.size);
    return store;
}

bool MemMapStore::resize(std::size_t bytes)
{
    std::size_t length = 0;
    if (!pagesFor(bytes, length))
        return false;
    if (length != mapped) {
        unsigned char* moved = nullptr;
        if (length == 0) {
            munmap(base, mapped);
        } else if (mapped == 0) {
            moved = mapBytes(length);
            if (!moved)
                return false;
        } else {
            void* p = mremap(base, mapped, length, MREMAP_MAYMOVE);
            if (p == MAP_FAILED)
                return false;
            moved = static_cast<unsigned char*>(p);
            if (length > mapped)
                preferHugePages(moved, length);
        }
        // Bytes between the old size and the old mapping's end may hold earlier data;
        // new pages are zero already.
        if (bytes > size && moved && mapped > size)
            std::memset(moved + size, 0, (mapped < bytes ? mapped : bytes) - size);
        base = moved;
        mapped = length;
    } else if (bytes > size) {
        std::memset(base + size, 0, bytes - size);
    }
    size = bytes;
    return true;
}

void MemMapStore::destroy()
{
    if (base)
        munmap(base, mapped);
    delete this;
}

}  // namespace trx
