#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "mem/MemoryManager.h"

namespace {

using Key = std::pair<std::wstring, std::wstring>;

struct Registry {
    std::mutex mutex;
    std::map<Key, MemoryManager*> objects;
};

// Never destroyed: modules may withdraw their objects from their own static destructors.
Registry& registry()
{
    static Registry* instance = new Registry;
    return *instance;
}

}  // namespace

extern "C" TRX_API int TRXMemPublish(const wchar_t* className, const wchar_t* name, MemoryManager* object)
{
    if (!className || !name)
        return 0;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.objects[Key(className, name)] = object;
    return 1;
}

extern "C" TRX_API int TRXMemWithdraw(const wchar_t* className, const wchar_t* name)
{
    if (!className || !name)
        return 0;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.objects.erase(Key(className, name)) > 0 ? 1 : 0;
}

bool findPublishedObject(const wchar_t* className, const wchar_t* name, MemoryManager*& object)
{
    object = nullptr;
    if (!className || !name)
        return false;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    const auto found = r.objects.find(Key(className, name));
    if (found == r.objects.end())
        return false;
    object = found->second;
    return true;
}
