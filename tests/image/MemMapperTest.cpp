#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include <TRXImage.h>

namespace {

unsigned char* bytesOf(const trx::MemMapObjectAllocator& allocator, trx::MemMapObjectMapper& view)
{
    view = allocator;
    return static_cast<unsigned char*>(view.get_writeable());
}

TEST(MemMapper, ResizeKeepsContentAndZeroesNewBytes)
{
    trx::MemMapObjectAllocator store;
    EXPECT_EQ(store.Size(), 0u);
    ASSERT_TRUE(store.ReSize(10));
    trx::MemMapObjectMapper view(0);
    std::memset(bytesOf(store, view), 0xAB, 10);
    ASSERT_TRUE(store.ReSize(5));
    ASSERT_TRUE(store.ReSize(3 << 20));  // grows past the first page, perhaps moving
    const unsigned char* p = bytesOf(store, view);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(p[i], 0xAB);
    for (int i = 5; i < (3 << 20); i += 4093)
        ASSERT_EQ(p[i], 0) << i;
    EXPECT_EQ(store.Size(), 3u << 20);
    ASSERT_TRUE(store.ReSize(0));
    EXPECT_EQ(store.Size(), 0u);
}

TEST(MemMapper, CopiesShareUntilSplit)
{
    trx::MemMapObjectAllocator a;
    a.ReSize(4);
    trx::MemMapObjectMapper view(0);
    bytesOf(a, view)[0] = 1;
    trx::MemMapObjectAllocator b(a);
    trx::MemMapObjectMapper viewB(0);
    EXPECT_EQ(bytesOf(b, viewB), bytesOf(a, view));
    ASSERT_TRUE(b.Split());
    unsigned char* pb = bytesOf(b, viewB);
    EXPECT_NE(pb, bytesOf(a, view));
    pb[0] = 2;
    EXPECT_EQ(bytesOf(a, view)[0], 1);
    EXPECT_EQ(pb[0], 2);
}

TEST(MemMapper, ResizingASharedStoreLeavesTheOthersBytes)
{
    trx::MemMapObjectAllocator a;
    a.ReSize(8);
    trx::MemMapObjectMapper view(0);
    std::memset(bytesOf(a, view), 7, 8);
    trx::MemMapObjectAllocator b;
    b = trx::MemMapCowCopy<const trx::MemMapObjectAllocator>(a);
    ASSERT_TRUE(b.ReSize(16));
    EXPECT_EQ(a.Size(), 8u);
    trx::MemMapObjectMapper viewB(0);
    EXPECT_EQ(bytesOf(b, viewB)[7], 7);
    EXPECT_EQ(bytesOf(b, viewB)[8], 0);
}

TEST(MemMapper, ViewsKeepBytesAliveAndDoNotCountAsSharers)
{
    trx::MemMapObjectMapper view(0);
    {
        trx::MemMapObjectAllocator a;
        a.ReSize(4);
        view = a;
        static_cast<unsigned char*>(view.get_writeable())[3] = 42;
        trx::MemMapObjectMapper second(view);
        EXPECT_EQ(second.get_pucstr(), view.get_pucstr());
        // With views alive the allocator is still the only owner: resizing is in place.
        const void* before = view.get_writeable();
        ASSERT_TRUE(a.ReSize(8));
        EXPECT_EQ(view.get_writeable(), before);
    }
    EXPECT_EQ(view.get_pucstr()[3], 42);
    EXPECT_EQ(view.Size(), 8u);
}

TEST(MemMapper, SizedMapperOwnsAStoreOfItsOwn)
{
    trx::MemMapObjectMapper blob(100);
    EXPECT_EQ(blob.Size(), 100u);
    EXPECT_NE(blob.get_lpcstr(), nullptr);
    trx::MemMapObjectMapper empty(0);
    EXPECT_EQ(empty.get_writeable(), nullptr);
    EXPECT_EQ(empty.Size(), 0u);
}

TEST(MemMapper, ImpossibleSizesFailAndLeaveTheStore)
{
    trx::MemMapObjectAllocator a;
    a.ReSize(16);
    for (std::size_t n : {SIZE_MAX, SIZE_MAX - 100, SIZE_MAX / 2, std::size_t(1) << 62}) {
        EXPECT_FALSE(a.ReSize(n)) << n;
        EXPECT_EQ(a.Size(), 16u);
    }
    trx::MemMapObjectAllocator fresh;
    EXPECT_FALSE(fresh.ReSize(SIZE_MAX));
    EXPECT_EQ(fresh.Size(), 0u);
    trx::MemMapObjectMapper huge(SIZE_MAX - 4095);
    EXPECT_EQ(huge.Size(), 0u);
    EXPECT_EQ(huge.get_writeable(), nullptr);
}

TEST(MemMapper, AllocatorHasOnePointerBesidesItsVirtualTable)
{
    EXPECT_EQ(sizeof(trx::MemMapObjectAllocator), 2 * sizeof(void*));
    EXPECT_EQ(sizeof(trx::MemMapObjectMapper), sizeof(trx::MemMapObjectAllocator));
}

}  // namespace
