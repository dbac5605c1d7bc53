// The memory manager is bound once per process, so every case runs in a fresh process:
// a "threadsafe" death test re-executes this program for the one statement.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "TRXImage.h"
#include "mem/MemoryManager.h"

namespace {

// Sets (or, with null, removes) an environment variable for the test's life, so that
// the re-executed child inherits it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name)) {
            had_ = true;
            old_ = old;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (had_)
            setenv(name_.c_str(), old_.c_str(), 1);
        else
            unsetenv(name_.c_str());
    }

private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

std::uint64_t tagOf(const void* block)
{
    std::uint64_t tag;
    std::memcpy(&tag, static_cast<const unsigned char*>(block) - 8, 8);
    return tag;
}

class CountingManager : public TRXMem::MemInitBaseT<0> {
public:
    void* ReAlloc(void* block, std::size_t size) override
    {
        ++reallocs;
        return MemInitBaseT::ReAlloc(block, size);
    }
    void Free(void* block) override
    {
        ++frees;
        MemInitBaseT::Free(block);
    }
    int OnOutOfMemory() override { return ++outOfMemory <= retries ? 1 : 0; }

    std::atomic<int> reallocs{0};
    std::atomic<int> frees{0};
    int outOfMemory = 0;
    int retries = 0;
};

// One write and release through a stream; true when its block had the default's tag.
bool useAStream()
{
    auto stream = std::make_unique<CBufferStream>();
    std::uint64_t written = 0;
    stream->Write("0123456789", 10, &written);
    const bool tagged = stream->GetBuffer() && tagOf(stream->GetBuffer()) == 0;
    return written == 10 && tagged;
}

class Discovery : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
    ScopedEnv noModule_{"LD_LIBRARY_PATH", nullptr};
    ScopedEnv offerAll_{"TRXMEM_TEST_OFFER_NONE", nullptr};
};

using DiscoveryDeathTest = Discovery;

TEST_F(DiscoveryDeathTest, WithNothingFoundTheDefaultIsBound)
{
    EXPECT_EXIT(
        {
            const bool moduleLoaded = dlopen("libtrxmem.so", RTLD_NOW | RTLD_NOLOAD) != nullptr;
            const bool streamWorks = useAStream();
            MemoryManager* bound = memoryManager();
            const bool isDefault = typeid(*bound) == typeid(TRXMem::MemInitBaseT<0>);
            std::exit((moduleLoaded ? 1 : 0) | (streamWorks ? 0 : 2) | (isDefault ? 0 : 4) |
                      (memoryManager() == bound ? 0 : 8));
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(DiscoveryDeathTest, ModuleObjectReceivesEveryBlockAndIsResetOnce)
{
    ScopedEnv module("LD_LIBRARY_PATH", TRX_TEST_MODULE_DIR);
    EXPECT_EXIT(
        {
            static CountingManager published;
            TRXMemPublish(L"MemAllocClass", publishedObjectName().c_str(), &published);
            auto stream = std::make_unique<CBufferStream>();
            std::vector<char> bytes(3000, 'x');
            for (int i = 0; i < 5; ++i)
                stream->Write(bytes.data(), bytes.size(), nullptr);
            void* module = dlopen("libtrxmem.so", RTLD_NOW | RTLD_NOLOAD);
            auto owns = module ? reinterpret_cast<int (*)(void*)>(dlsym(module, "TestOwns")) : nullptr;
            const bool owned = owns && owns(const_cast<char*>(stream->GetBuffer()));
            CBufferStream copy(*stream);
            const bool copyOwned = owns && owns(const_cast<char*>(copy.GetBuffer()));
            stream.reset();
            if (module)
                dlclose(module);
            std::exit((owned ? 0 : 1) | (copyOwned ? 0 : 2) | (published.reallocs == 0 ? 0 : 4));
        },
        ::testing::ExitedWithCode(0),
        // Five appends of 3000 bytes grow the stream four times (4024, 8048, 12072,
        // 16096) and the copy takes one block; the stream's goes back before the reset.
        "trxmem reset 1: initialised 1, reallocs 5, frees 1, strangers 0, live 1");
}

TEST_F(DiscoveryDeathTest, PublishedObjectIsBoundWhenTheModuleOffersNone)
{
    ScopedEnv module("LD_LIBRARY_PATH", TRX_TEST_MODULE_DIR);
    ScopedEnv offerNone("TRXMEM_TEST_OFFER_NONE", "1");
    EXPECT_EXIT(
        {
            static CountingManager published;
            TRXMemPublish(L"MemAllocClass", publishedObjectName().c_str(), &published);
            const bool streamWorks = useAStream();
            std::exit((streamWorks ? 0 : 1) | (memoryManager() == &published ? 0 : 2) |
                      (published.reallocs == 1 && published.frees == 1 ? 0 : 4));
        },
        ::testing::ExitedWithCode(0), "trxmem reset 1: initialised 1, reallocs 0");
}

TEST_F(DiscoveryDeathTest, PublishedObjectIsBoundWithoutAModule)
{
    EXPECT_EXIT(
        {
            static CountingManager published;
            char name[64];
            std::snprintf(name, sizeof name, "MemAllocWnd%x", static_cast<unsigned>(getpid()));
            const std::wstring wide(name, name + std::strlen(name));
            TRXMemPublish(L"MemAllocClass", wide.c_str(), &published);
            const bool streamWorks = useAStream();
            std::exit((streamWorks ? 0 : 1) | (memoryManager() == &published ? 0 : 2) |
                      (published.reallocs == 1 && published.frees == 1 ? 0 : 4));
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(DiscoveryDeathTest, NullOrMisnamedPublicationsFallThroughToTheDefault)
{
    EXPECT_EXIT(
        {
            static CountingManager elsewhere;
            TRXMemPublish(L"MemAllocClass", publishedObjectName().c_str(), nullptr);
            TRXMemPublish(L"OtherClass", publishedObjectName().c_str(), &elsewhere);
            TRXMemPublish(L"MemAllocClass", L"MemAllocWnd0", &elsewhere);
            const bool streamWorks = useAStream();
            const bool isDefault = typeid(*memoryManager()) == typeid(TRXMem::MemInitBaseT<0>);
            std::exit((streamWorks ? 0 : 1) | (isDefault ? 0 : 2) | (elsewhere.reallocs == 0 ? 0 : 4));
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(DiscoveryDeathTest, ConcurrentFirstCallsSeeOneObject)
{
    EXPECT_EXIT(
        {
            static CountingManager published;
            TRXMemPublish(L"MemAllocClass", publishedObjectName().c_str(), &published);
            std::vector<MemoryManager*> seen(8, nullptr);
            std::vector<std::thread> threads;
            for (int i = 0; i < 8; ++i)
                threads.emplace_back([&seen, i] {
                    seen[i] = memoryManager();
                    useAStream();
                });
            for (auto& t : threads)
                t.join();
            bool same = true;
            for (MemoryManager* m : seen)
                same = same && m == &published;
            std::exit((same ? 0 : 1) | (published.reallocs == 8 && published.frees == 8 ? 0 : 2));
        },
        ::testing::ExitedWithCode(0), "");
}

// A refused heap request is tried again while the bound manager's OnOutOfMemory says so.
TEST_F(DiscoveryDeathTest, RefusedRequestsRetryWhileTheBoundManagerAsks)
{
    std::string asan = "allocator_may_return_null=1";
    if (const char* old = std::getenv("ASAN_OPTIONS"))
        asan = std::string(old) + ":" + asan;
    ScopedEnv mayReturnNull("ASAN_OPTIONS", asan.c_str());
    EXPECT_EXIT(
        {
            static CountingManager published;
            published.retries = 2;
            TRXMemPublish(L"MemAllocClass", publishedObjectName().c_str(), &published);
            TRXMem::MemInitBaseT<0> heap;
            const std::size_t impossible = std::size_t(1) << 62;
            void* block = heap.Alloc(impossible);
            const int asked = published.outOfMemory;  // two retries, then the third answer stops it
            void* small = heap.Alloc(16);
            void* grown = heap.ReAlloc(small, impossible);
            const int askedAgain = published.outOfMemory - asked;
            heap.Free(small);
            std::exit((block == nullptr ? 0 : 1) | (asked == 3 ? 0 : 2) | (grown == nullptr ? 0 : 4) |
                      (askedAgain == 1 ? 0 : 8));
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
