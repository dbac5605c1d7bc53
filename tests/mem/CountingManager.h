#pragma once

#include <set>

#include <TRXMem.h>

// A memory manager that counts what it is asked and tells its own blocks from strangers.
struct CountingManager : TRXMem::MemInitBaseT<0> {
    using Base = TRXMem::MemInitBaseT<0>;
    void* Alloc(std::size_t size) override { return ++allocs, Base::Alloc(size); }
    void* AllocTagged(std::size_t size, std::uintptr_t tag, std::uint32_t tag32) override
    {
        return tags += tag + tag32, Base::AllocTagged(size, tag, tag32);
    }
    void* ReAlloc(void* block, std::size_t size) override
    {
        void* grown = (++reallocs, Base::ReAlloc(block, size));
        if (grown)
            live.erase(block), live.insert(grown);
        return grown;
    }
    void Free(void* block) override { ++frees, strangers += live.erase(block) == 0, Base::Free(block); }
    int OnOutOfMemory() override { return ++outOfMemory <= retries ? 1 : 0; }

    std::set<void*> live;
    std::uintptr_t allocs = 0, tags = 0;
    int reallocs = 0, frees = 0, strangers = 0, outOfMemory = 0, retries = 0;
};
