#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include <TRXImage.h>

namespace {

unsigned char* bytesOf(const trx::MemMapObjectAllocator& allocator, trx::MemMapObjectMapper& view)
{
    view = allocator;
    return static_cast<unsigned char*>(view.get_writeable());
}

// Every size change keeps the bytes both sizes hold and adds zero bytes, whether the
// store grows within its page, across pages, from nothing or back to nothing; an
// impossible size fails and leaves the store as it was.
TEST(MemMapper, ResizingMatchesAVector)
{
    trx::MemMapObjectAllocator store;
    trx::MemMapObjectMapper view(0);
    std::vector<unsigned char> model;
    unsigned char fill = 1;
    for (std::size_t size : {10u, 5u, 8u, 4096u, 4097u, 3000u, 5000u, 3u << 20, 100u, 0u, 3u, 0u}) {
        SCOPED_TRACE(size);
        ASSERT_TRUE(store.ReSize(size));
        model.resize(size, 0);
        ASSERT_EQ(store.Size(), size);
        unsigned char* p = bytesOf(store, view);
        ASSERT_EQ(std::vector<unsigned char>(p, p + size), model);
        std::fill_n(p, size, ++fill);
        std::fill(model.begin(), model.end(), fill);
        for (std::size_t impossible : {SIZE_MAX, SIZE_MAX - 100, SIZE_MAX / 2, std::size_t(1) << 62})
            EXPECT_FALSE(store.ReSize(impossible)) << impossible;
        ASSERT_EQ(store.Size(), size);
    }
    trx::MemMapObjectMapper huge(SIZE_MAX - 4095);
    EXPECT_EQ(huge.Size(), 0u);
    EXPECT_EQ(huge.get_writeable(), nullptr);
}

TEST(MemMapper, CopiesShareUntilSplitOrResize)
{
    trx::MemMapObjectAllocator a;
    a.ReSize(8);
    trx::MemMapObjectMapper view(0), viewB(0);
    std::memset(bytesOf(a, view), 7, 8);
    trx::MemMapObjectAllocator b(a), c;
    c = trx::MemMapCowCopy<const trx::MemMapObjectAllocator>(a);
    EXPECT_EQ(bytesOf(b, viewB), bytesOf(a, view));
    EXPECT_FALSE(c.ReSize(SIZE_MAX));
    ASSERT_TRUE(b.Split());
    bytesOf(b, viewB)[0] = 2;
    ASSERT_TRUE(c.ReSize(16));
    EXPECT_EQ(bytesOf(c, viewB)[7], 7);
    bytesOf(c, viewB)[0] = 3;
    EXPECT_EQ(a.Size(), 8u);
    EXPECT_EQ(bytesOf(a, view)[0], 7);
    EXPECT_EQ(bytesOf(b, viewB)[0], 2);
}

TEST(MemMapper, ViewsKeepBytesAliveAndDoNotCountAsSharers)
{
    trx::MemMapObjectMapper view(0);
    EXPECT_EQ(view.get_writeable(), nullptr);
    {
        trx::MemMapObjectAllocator a;
        a.ReSize(4);
        bytesOf(a, view)[3] = 42;
        trx::MemMapObjectMapper second(view);
        // With views alive the allocator is still the only owner: no copy is made.
        const void* before = view.get_writeable();
        ASSERT_TRUE(a.ReSize(8));
        ASSERT_TRUE(a.Split());
        EXPECT_EQ(bytesOf(a, second), before);
    }
    EXPECT_EQ(view.get_pucstr()[3], 42);
    EXPECT_EQ(view.Size(), 8u);
    // When the last holder goes, so does the mapping.
    void* base = view.get_writeable();
    unsigned char resident = 0;
    EXPECT_EQ(mincore(base, 1, &resident), 0);
    view = trx::MemMapObjectAllocator();
    EXPECT_EQ(mincore(base, 1, &resident), -1);
    trx::MemMapObjectMapper blob(100);
    EXPECT_EQ(blob.Size(), 100u);
    EXPECT_NE(blob.get_lpcstr(), nullptr);
}

}  // namespace
