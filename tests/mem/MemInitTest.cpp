#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>

#include "TRXMem.h"

namespace {

using Manager = TRXMem::MemInitBaseT<0>;

std::uint64_t tagOf(void* block)
{
    std::uint64_t tag;
    std::memcpy(&tag, static_cast<unsigned char*>(block) - 8, 8);
    return tag;
}

// A block that is not the default heap's: its tag word is not 0.
struct ForeignBlock {
    alignas(8) unsigned char bytes[24];
    ForeignBlock()
    {
        std::memset(bytes, 0, sizeof bytes);
        bytes[3] = 1;
    }
    void* block() { return bytes + 8; }
};

class CountingAllocs : public Manager {
public:
    void* Alloc(std::size_t size) override
    {
        ++allocs;
        return Manager::Alloc(size);
    }
    void* AllocTagged(std::size_t size, std::uintptr_t tag, std::uint32_t tag32) override
    {
        ++tagged;
        lastTag = tag;
        lastTag32 = tag32;
        return Manager::AllocTagged(size, tag, tag32);
    }
    int allocs = 0;
    int tagged = 0;
    std::uintptr_t lastTag = 0;
    std::uint32_t lastTag32 = 0;
};

TEST(DefaultManager, BlocksCarryAZeroTagAndTheirSize)
{
    Manager m;
    for (std::size_t size : {0u, 1u, 7u, 8u, 100u, 4096u, 100000u}) {
        for (void* block : {m.Alloc(size), m.AllocAlt(size), m.AllocTagged(size, 0xdead, 7)}) {
            ASSERT_NE(block, nullptr) << size;
            EXPECT_EQ(tagOf(block), 0u);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 8, 0u);
            EXPECT_GE(m.BlockSize(block), size);
            std::memset(block, 0xAB, size);  // every byte asked for is usable
            m.Free(block);
        }
    }
}

TEST(DefaultManager, ReAllocKeepsTheBytes)
{
    Manager m;
    auto* block = static_cast<unsigned char*>(m.ReAlloc(nullptr, 10));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 10; ++i)
        block[i] = static_cast<unsigned char>(i + 1);
    for (std::size_t size : {100000u, 20u, 10u}) {
        block = static_cast<unsigned char*>(m.ReAlloc(block, size));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(tagOf(block), 0u);
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(block[i], i + 1);
    }
    block = static_cast<unsigned char*>(m.ReAllocAlt(block, 30));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[9], 10);
    m.Free(block);
}

TEST(DefaultManager, NullBlocks)
{
    CountingAllocs m;
    m.Free(nullptr);
    EXPECT_EQ(m.BlockSize(nullptr), 0u);
    void* block = m.ReAlloc(nullptr, 16);  // Alloc through the table
    EXPECT_EQ(m.allocs, 1);
    EXPECT_GE(m.BlockSize(block), 16u);
    m.Free(block);
}

TEST(DefaultManager, ForeignBlocksAreLeftAlone)
{
    Manager m;
    ForeignBlock foreign;
    m.Free(foreign.block());
    EXPECT_EQ(m.ReAlloc(foreign.block(), 100), nullptr);
    EXPECT_EQ(m.ReAllocAlt(foreign.block(), 100), nullptr);
    EXPECT_EQ(m.BlockSize(foreign.block()), 0u);
    EXPECT_EQ(foreign.bytes[3], 1);
}

TEST(DefaultManager, CallocZeroFillsThroughTheTable)
{
    CountingAllocs m;
    auto* block = static_cast<unsigned char*>(m.Calloc(10, 30));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(m.allocs, 1);
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(block[i], 0) << i;
    m.Free(block);

    block = static_cast<unsigned char*>(m.CallocTagged(3, 5, 42, 9));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(m.tagged, 1);
    EXPECT_EQ(m.lastTag, 42u);
    EXPECT_EQ(m.lastTag32, 9u);
    for (int i = 0; i < 15; ++i)
        ASSERT_EQ(block[i], 0) << i;
    m.Free(block);

    const std::size_t huge = std::numeric_limits<std::size_t>::max() / 2 + 1;
    EXPECT_EQ(m.Calloc(huge, 2), nullptr);  // count x size overflows
    EXPECT_EQ(m.CallocTagged(2, huge, 0, 0), nullptr);
    EXPECT_EQ(m.allocs, 1);
}

TEST(DefaultManager, SizesThatCannotTakeATagWordAreRefused)
{
    Manager m;
    const std::size_t max = std::numeric_limits<std::size_t>::max();
    EXPECT_EQ(m.Alloc(max), nullptr);
    EXPECT_EQ(m.Alloc(max - 7), nullptr);
    void* block = m.Alloc(8);
    EXPECT_EQ(m.ReAlloc(block, max), nullptr);
    EXPECT_EQ(m.BlockSize(block) >= 8, true);
    m.Free(block);
}

TEST(Registry, PublishAndWithdraw)
{
    Manager m;
    EXPECT_EQ(TRXMemPublish(nullptr, L"n", &m), 0);
    EXPECT_EQ(TRXMemPublish(L"c", nullptr, &m), 0);
    EXPECT_EQ(TRXMemPublish(L"RegistryClass", L"one", &m), 1);
    EXPECT_EQ(TRXMemPublish(L"RegistryClass", L"one", nullptr), 1);
    EXPECT_EQ(TRXMemWithdraw(L"RegistryClass", L"one"), 1);
    EXPECT_EQ(TRXMemWithdraw(L"RegistryClass", L"one"), 0);
    EXPECT_EQ(TRXMemWithdraw(nullptr, L"one"), 0);
}

}  // namespace
