#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>

#include "CountingManager.h"

namespace {

using Manager = TRXMem::MemInitBaseT<0>;

std::uint64_t tagOf(void* block) { return std::memcpy(&block, static_cast<char*>(block) - 8, 8), std::uint64_t(block); }

// Whichever operation makes it, a block is 8-aligned after a zero tag word, every byte
// BlockSize reports is usable, a calloc'd block is zero and ReAlloc keeps the bytes.
TEST(DefaultManager, EveryBlockOfEverySize)
{
    using Make = void* (*)(CountingManager&, std::size_t);
    const Make makers[] = {[](CountingManager& m, std::size_t n) { return m.Alloc(n); },
                           [](CountingManager& m, std::size_t n) { return m.AllocAlt(n); },
                           [](CountingManager& m, std::size_t n) { return m.AllocTagged(n, 1000, 7); },
                           [](CountingManager& m, std::size_t n) { return m.ReAlloc(nullptr, n); },
                           [](CountingManager& m, std::size_t n) { return m.Calloc(n, 1); },
                           [](CountingManager& m, std::size_t n) { return m.CallocTagged(1, n, 1000, 7); }};
    CountingManager m;
    for (std::size_t size : {0u, 1u, 7u, 8u, 100u, 4096u, 100000u})
        for (int op = 0; op < 6; ++op) {
            SCOPED_TRACE(std::to_string(size) + " by operation " + std::to_string(op));
            auto* block = static_cast<unsigned char*>(makers[op](m, size));
            ASSERT_TRUE(block && tagOf(block) == 0 && reinterpret_cast<std::uintptr_t>(block) % 8 == 0);
            ASSERT_GE(m.BlockSize(block), size);
            for (std::size_t i = 0; op >= 4 && i < size; ++i)
                ASSERT_EQ(block[i], 0) << i;
            std::memset(block, op + 1, m.BlockSize(block));  // leaves garbage for the next Calloc
            const std::size_t kept = op % 2 ? size : size / 2;
            block = static_cast<unsigned char*>(op % 2 ? m.ReAlloc(block, 2 * size + 9) : m.ReAllocAlt(block, kept));
            ASSERT_TRUE(block && tagOf(block) == 0);
            for (std::size_t i = 0; i < kept; ++i)
                ASSERT_EQ(block[i], op + 1) << i;
            m.Free(block);
        }
    // Calloc and ReAlloc of null go through the table, so an override sees them.
    EXPECT_EQ(std::make_pair(m.allocs, m.tags), std::make_pair(std::uintptr_t(7 * 3), std::uintptr_t(7 * 2 * 1007)));
    EXPECT_EQ(m.Manager::OnOutOfMemory() + m.QueryAlt() + m.QueryFlag(), 0);
}

TEST(DefaultManager, ImpossibleNullAndForeignBlocksAndTheRegistry)
{
    Manager m;
    const std::size_t max = std::numeric_limits<std::size_t>::max(), half = max / 2 + 1;
    void* block = m.Alloc(8);
    for (void* none :
         {m.Alloc(max), m.Alloc(max - 7), m.Calloc(half, 2), m.CallocTagged(2, half, 0, 0), m.ReAlloc(block, max)})
        EXPECT_EQ(none, nullptr);
    m.Free(block);
    m.Free(nullptr);
    alignas(8) unsigned char foreign[24] = {};
    foreign[3] = 1;  // a tag word that is not 0
    m.Free(foreign + 8);
    EXPECT_TRUE(!m.ReAlloc(foreign + 8, 100) && !m.ReAllocAlt(foreign + 8, 100));
    EXPECT_EQ(m.BlockSize(foreign + 8) + m.BlockSize(nullptr), 0u);
    EXPECT_EQ(foreign[3], 1);
    EXPECT_EQ(TRXMemPublish(nullptr, L"n", &m) + TRXMemPublish(L"c", nullptr, &m), 0);
    EXPECT_EQ(TRXMemPublish(L"RegistryClass", L"one", &m), 1);
    EXPECT_EQ(TRXMemPublish(L"RegistryClass", L"one", nullptr), 1);
    EXPECT_EQ(TRXMemWithdraw(L"RegistryClass", L"one"), 1);
    EXPECT_EQ(TRXMemWithdraw(L"RegistryClass", L"one") + TRXMemWithdraw(nullptr, L"one"), 0);
}

}  // namespace
