// The memory manager is bound once per process, so every row runs in a fresh process:
// a "threadsafe" death test re-executes this program for the one statement.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <typeinfo>
#include <vector>

#include "CountingManager.h"
#include "TRXImage.h"
#include "mem/MemoryManager.h"

namespace {

// Sets (null: removes) a variable of the environment that re-executed children inherit.
void setEnv(const char* name, const char* value) { value ? setenv(name, value, 1) : unsetenv(name); }

enum Bound { kDefault, kModule, kPublished };

// Class, name and whether an object (or null) is published under them.
using Publication = std::tuple<const wchar_t*, std::wstring, bool>;

// Publishes, binds from four threads at once, grows and copies a stream and asks the
// default heap for the impossible. Exits with one bit for each thing that is not as a
// binding to `expected` makes it; the copy's block is still held then.
[[noreturn]] void bindUseAndExit(const std::vector<Publication>& publications, Bound expected)
{
    static CountingManager published;
    published.retries = 2;
    for (const auto& [className, name, object] : publications)
        TRXMemPublish(className, name.c_str(), object ? &published : nullptr);
    std::vector<MemoryManager*> seen(4);
    std::vector<std::thread> threads;
    for (MemoryManager*& s : seen)
        threads.emplace_back([&s] { s = memoryManager(); });
    for (std::thread& t : threads)
        t.join();
    MemoryManager* bound = memoryManager();
    const Bound kind = bound == &published ? kPublished : typeid(*bound) == typeid(MemoryManager) ? kDefault : kModule;

    // Five appends of 3000 bytes grow the stream four times (4024, 8048, 12072, 16096)
    // and the copy takes one block; the stream's goes back.
    auto stream = std::make_unique<CBufferStream>();
    const std::vector<char> bytes(3000, 'x');
    std::uint64_t written = 0;
    for (int i = 0; i < 5; ++i)
        stream->Write(bytes.data(), bytes.size(), &written);
    CBufferStream copy(*stream);
    std::uint64_t tag = 1;
    std::memcpy(&tag, stream->GetBuffer() - 8, 8);
    stream.reset();

    // A refused heap request is tried again while the bound manager asks for it.
    MemoryManager heap;
    const std::size_t impossible = std::size_t(1) << 62;
    void* small = heap.Alloc(16);
    const bool refused = !heap.Alloc(impossible) && !heap.ReAlloc(small, impossible);
    heap.Free(small);

    const bool countsRight = expected == kPublished
                                 ? published.reallocs == 5 && published.frees == 1 && published.outOfMemory == 4
                                 : published.reallocs == 0 && published.outOfMemory == 0;
    std::exit((kind == expected ? 0 : 1) | (seen == std::vector<MemoryManager*>(4, bound) ? 0 : 2) |
              (written == 3000 && tag == 0 ? 0 : 4) | (countsRight ? 0 : 8) | (refused ? 0 : 16));
}

// The variables set here matter only to the children: a running process has read its own.
TEST(DiscoveryDeathTest, ModuleThenPublishedObjectThenDefault)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* asan = std::getenv("ASAN_OPTIONS");
    setEnv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":allocator_may_return_null=1").c_str());
    // Worked out here rather than by the library: "MemAllocWnd" and the id in hex.
    std::wostringstream named;
    named << L"MemAllocWnd" << std::hex << getpid();
    const std::wstring window = named.str();
    const Publication right{L"MemAllocClass", window, true}, nothing{L"MemAllocClass", window, false},
        misnamed{L"MemAllocClass", L"MemAllocWnd0", true};
    const char* used = "trxmem reset 1: initialised 1, reallocs 5, frees 1, strangers 0, live 1";
    const char* unused = "trxmem reset 1: initialised 1, reallocs 0";
    // Row, module on the path, module offers none, publications; then what is bound and
    // what the module reports.
    const std::tuple<const char*, bool, bool, std::vector<Publication>, Bound, const char*> rows[] = {
        {"nothing to find", false, false, {}, kDefault, ""},
        {"module object", true, false, {right}, kModule, used},
        {"module offers none", true, true, {right}, kPublished, unused},
        {"published object", false, false, {right}, kPublished, ""},
        {"null or misnamed", false, false, {nothing, {L"OtherClass", window, true}, misnamed}, kDefault, ""}};
    for (const auto& [name, module, offerNone, publications, bound, moduleReport] : rows) {
        setEnv("LD_LIBRARY_PATH", module ? TRX_TEST_MODULE_DIR : nullptr);
        setEnv("TRXMEM_TEST_OFFER_NONE", offerNone ? "1" : nullptr);
        EXPECT_EXIT(bindUseAndExit(publications, bound), ::testing::ExitedWithCode(0), moduleReport) << name;
    }
}

}  // namespace
