#include <dlfcn.h>
#include <unistd.h>

#include <cwchar>
#include <mutex>
#include <string>

#include "mem/MemoryManager.h"

namespace {

MemoryManager* theMemoryManager = nullptr;

// The memory manager module, kept loaded until the library unloads.
class ModuleRecord {
public:
    ModuleRecord()
    {
        handle_ = dlopen("libtrxmem.so", RTLD_NOW | RTLD_LOCAL);
        if (!handle_)
            return;
        using Initialise = MemoryManager* (*)();
        if (auto initialise = reinterpret_cast<Initialise>(dlsym(handle_, "Initialise")))
            object_ = initialise();
    }
    ModuleRecord(const ModuleRecord&) = delete;
    ModuleRecord& operator=(const ModuleRecord&) = delete;

    // Runs at unload; an exception escaping "Reset" ends the process (noexcept).
    ~ModuleRecord()
    {
        if (!handle_)
            return;
        using Reset = int (*)();
        if (auto reset = reinterpret_cast<Reset>(dlsym(handle_, "Reset")))
            reset();
        dlclose(handle_);
    }

    MemoryManager* object() const { return object_; }

private:
    void* handle_ = nullptr;
    MemoryManager* object_ = nullptr;
};

void bind()
{
    // Function-local statics: their destruction is registered to run at unload, the
    // default object's before the module's release.
    static ModuleRecord module;
    if (module.object()) {
        theMemoryManager = module.object();
        return;
    }
    MemoryManager* published = nullptr;
    if (findPublishedObject(L"MemAllocClass", publishedObjectName().c_str(), published) && published) {
        theMemoryManager = published;
        return;
    }
    static MemoryManager defaultManager;
    theMemoryManager = &defaultManager;
}

}  // namespace

std::wstring publishedObjectName()
{
    wchar_t name[64];
    std::swprintf(name, sizeof name / sizeof name[0], L"%ls%x", L"MemAllocWnd", static_cast<unsigned>(getpid()));
    return name;
}

MemoryManager* memoryManager()
{
    static std::once_flag bound;
    std::call_once(bound, bind);
    return theMemoryManager;
}
