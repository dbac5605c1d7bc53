#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <tuple>
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
        unsigned char* p = bytesOf(store, view);
        ASSERT_EQ(std::vector<unsigned char>(p, p + store.Size()), model);
        std::fill_n(p, size, ++fill);
        std::fill(model.begin(), model.end(), fill);
        for (std::size_t impossible : {SIZE_MAX, SIZE_MAX - 100, SIZE_MAX / 2, std::size_t(1) << 62})
            EXPECT_FALSE(store.ReSize(impossible)) << impossible;
        ASSERT_EQ(store.Size(), size);
    }
    trx::MemMapObjectMapper huge(SIZE_MAX - 4095), blob(100);
    EXPECT_EQ(std::make_tuple(huge.Size(), huge.get_writeable(), blob.Size()), std::make_tuple(0u, nullptr, 100u));
    EXPECT_NE(blob.get_lpcstr(), nullptr);
}

// Copies share bytes until one splits or resizes; views keep the bytes alive without
// counting as sharers, and the mapping goes with the last holder.
TEST(MemMapper, CopiesShareViewsOnlyHold)
{
    trx::MemMapObjectMapper view(0), viewB(0);
    EXPECT_EQ(view.get_writeable(), nullptr);
    {
        trx::MemMapObjectAllocator a;
        a.ReSize(8);
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
        EXPECT_EQ(std::make_tuple(a.Size(), bytesOf(a, view)[0], bytesOf(b, viewB)[0]), std::make_tuple(8u, 7, 2));
        // With views alive the allocator is still the only owner: no copy is made.
        const void* before = bytesOf(a, view);
        trx::MemMapObjectMapper second(view);
        ASSERT_TRUE(a.ReSize(12) && a.Split());
        EXPECT_EQ(bytesOf(a, second), before);
        bytesOf(a, second)[3] = 42;
    }
    EXPECT_EQ(std::make_tuple(view.get_pucstr()[3], view.Size()), std::make_tuple(42, 12u));
    void* base = view.get_writeable();
    unsigned char resident = 0;
    EXPECT_EQ(mincore(base, 1, &resident), 0);
    view = trx::MemMapObjectAllocator();
    EXPECT_EQ(mincore(base, 1, &resident), -1);
}

}  // namespace
