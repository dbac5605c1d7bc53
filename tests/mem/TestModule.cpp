// A stand-in for a host's memory manager module, loaded as libtrxmem.so by the tests
// that put its folder on LD_LIBRARY_PATH. It counts what the library asks of it and
// reports the counts on standard error when reset.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

#include <TRXMem.h>

#define MODULE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

class CountingManager : public TRXMem::MemInitBaseT<0> {
public:
    void* ReAlloc(void* block, std::size_t size) override
    {
        void* grown = MemInitBaseT::ReAlloc(block, size);
        std::lock_guard<std::mutex> lock(mutex);
        ++reallocs;
        if (grown) {
            live.erase(block);
            live.insert(grown);
        }
        return grown;
    }
    void Free(void* block) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++frees;
        if (live.erase(block) == 0)
            ++strangers;
        MemInitBaseT::Free(block);
    }

    std::mutex mutex;
    std::set<void*> live;
    int reallocs = 0;
    int frees = 0;
    int strangers = 0;
};

CountingManager manager;
int initialised = 0;
int resets = 0;

}  // namespace

// TRXMEM_TEST_OFFER_NONE makes the module offer no object, as a module may.
MODULE_EXPORT TRXMem::MemInitBaseT<0>* Initialise()
{
    ++initialised;
    return std::getenv("TRXMEM_TEST_OFFER_NONE") ? nullptr : &manager;
}

MODULE_EXPORT int Reset()
{
    ++resets;
    std::fprintf(stderr, "trxmem reset %d: initialised %d, reallocs %d, frees %d, strangers %d, live %zu\n", resets,
                 initialised, manager.reallocs, manager.frees, manager.strangers, manager.live.size());
    return 0;
}

// True when `block` is one this module handed out and has not had back.
MODULE_EXPORT int TestOwns(void* block)
{
    std::lock_guard<std::mutex> lock(manager.mutex);
    return manager.live.count(block) ? 1 : 0;
}
