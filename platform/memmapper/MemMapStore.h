#pragma once

#include <atomic>
#include <cstddef>

namespace trx {

// One anonymous mapping shared by allocators (owners) and mappers (views).
// Owners decide copy-on-write: a store with more than one owner is copied before
// it changes size or is split. Views only keep the store alive.
struct MemMapStore {
    std::atomic<long> refs{0};
    std::atomic<long> owners{0};
    unsigned char* base = nullptr;
    std::size_t size = 0;    // bytes in use
    std::size_t mapped = 0;  // bytes mapped, a multiple of the page size

    // A store of `bytes` zero bytes, or null when it cannot be mapped.
    static MemMapStore* create(std::size_t bytes);
    // A private store holding `bytes` bytes, the first ones copied from `from`.
    static MemMapStore* copyOf(const MemMapStore& from, std::size_t bytes);
    // Sets the size of an unshared store; false leaves it as it was.
    bool resize(std::size_t bytes);
    void destroy();
};

}  // namespace trx
