#include "trx/MemMapper.h"

#include "platform/memmapper/MemMapStore.h"

namespace trx {
namespace {

constexpr std::size_t kViewBit = 1;

MemMapStore* storeOf(std::size_t handle) { return reinterpret_cast<MemMapStore*>(handle & ~kViewBit); }

bool isView(std::size_t handle) { return (handle & kViewBit) != 0; }

std::size_t attach(MemMapStore* store, bool asView)
{
    if (!store)
        return 0;
    store->refs.fetch_add(1, std::memory_order_relaxed);
    if (!asView)
        store->owners.fetch_add(1, std::memory_order_relaxed);
    return reinterpret_cast<std::size_t>(store) | (asView ? kViewBit : 0);
}

void detach(std::size_t handle)
{
    MemMapStore* store = storeOf(handle);
    if (!store)
        return;
    if (!isView(handle))
        store->owners.fetch_sub(1, std::memory_order_acq_rel);
    if (store->refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
        store->destroy();
}

}  // namespace

MemMapObjectAllocator::MemMapObjectAllocator() : handle_(0) {}

MemMapObjectAllocator::MemMapObjectAllocator(const MemMapObjectAllocator& other)
    : handle_(attach(storeOf(other.handle_), false))
{}

MemMapObjectAllocator& MemMapObjectAllocator::operator=(const MemMapObjectAllocator& other)
{
    if (this != &other) {
        const std::size_t next = attach(storeOf(other.handle_), isView(handle_));
        detach(handle_);
        handle_ = next;
    }
    return *this;
}

MemMapObjectAllocator& MemMapObjectAllocator::operator=(const MemMapCowCopy<const MemMapObjectAllocator>& copy)
{
    return *this = copy.source();
}

MemMapObjectAllocator::~MemMapObjectAllocator() { detach(handle_); }

bool MemMapObjectAllocator::ReSize(std::size_t bytes)
{
    MemMapStore* store = storeOf(handle_);
    if (!store) {
        if (bytes == 0)
            return true;
        MemMapStore* fresh = MemMapStore::create(bytes);
        if (!fresh)
            return false;
        handle_ = attach(fresh, false);
        return true;
    }
    if (store->size == bytes)
        return true;
    if (store->owners.load(std::memory_order_acquire) > 1) {
        // Shared: the others keep the old bytes.
        MemMapStore* fresh = MemMapStore::copyOf(*store, bytes);
        if (!fresh)
            return false;
        const std::size_t next = attach(fresh, false);
        detach(handle_);
        handle_ = next;
        return true;
    }
    return store->resize(bytes);
}

std::size_t MemMapObjectAllocator::Size() const
{
    const MemMapStore* store = storeOf(handle_);
    return store ? store->size : 0;
}

bool MemMapObjectAllocator::Split()
{
    MemMapStore* store = storeOf(handle_);
    if (!store || isView(handle_) || store->owners.load(std::memory_order_acquire) < 2)
        return true;
    MemMapStore* fresh = MemMapStore::copyOf(*store, store->size);
    if (!fresh)
        return false;
    const std::size_t next = attach(fresh, false);
    detach(handle_);
    handle_ = next;
    return true;
}

void MemMapObjectAllocator::FullInternalRemove() {}
void MemMapObjectAllocator::FullInternalAdd() {}

MemMapObjectMapper::MemMapObjectMapper(std::size_t bytes)
{
    if (bytes > 0)
        handle_ = attach(MemMapStore::create(bytes), false);
}

MemMapObjectMapper::MemMapObjectMapper(const MemMapObjectAllocator& allocator)
{
    handle_ = attach(storeOf(allocator.handle_), true);
}

MemMapObjectMapper::MemMapObjectMapper(const MemMapObjectMapper& other) : MemMapObjectAllocator()
{
    handle_ = attach(storeOf(other.handle_), true);
}

MemMapObjectMapper& MemMapObjectMapper::operator=(const MemMapObjectMapper& other)
{
    return *this = static_cast<const MemMapObjectAllocator&>(other);
}

MemMapObjectMapper& MemMapObjectMapper::operator=(const MemMapObjectAllocator& allocator)
{
    if (this != &allocator) {
        const std::size_t next = attach(storeOf(allocator.handle_), true);
        detach(handle_);
        handle_ = next;
    }
    return *this;
}

MemMapObjectMapper::~MemMapObjectMapper() = default;

void* MemMapObjectMapper::get_writeable() const
{
    const MemMapStore* store = storeOf(handle_);
    return store ? store->base : nullptr;
}

const unsigned char* MemMapObjectMapper::get_pucstr() const
{
    return static_cast<const unsigned char*>(get_writeable());
}

const char* MemMapObjectMapper::get_lpcstr() const { return static_cast<const char*>(get_writeable()); }

void MemMapObjectMapper::FullInternalRemove() {}
void MemMapObjectMapper::FullInternalAdd() {}

}  // namespace trx
