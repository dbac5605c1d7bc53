// A stand-in for a host's memory manager module, loaded as libtrxmem.so by the tests
// that put its folder on LD_LIBRARY_PATH. It counts what the library asks of it and
// reports the counts on standard error when reset.
#include <cstdio>
#include <cstdlib>

#include "CountingManager.h"

#define MODULE_EXPORT extern "C" __attribute__((visibility("default")))

static CountingManager manager;
static int initialised = 0, resets = 0;

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
