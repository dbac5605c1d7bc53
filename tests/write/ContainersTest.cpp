#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "TRXImage.h"

namespace {

std::vector<unsigned char> counting(std::size_t n, unsigned start = 0)
{
    std::vector<unsigned char> bytes(n);
    std::iota(bytes.begin(), bytes.end(), static_cast<unsigned char>(start));
    return bytes;
}

// Reaches the members the growth rules are stated in.
struct StreamState {
    const unsigned char* data;
    std::uint64_t capacity;
    std::uint64_t length;
};
StreamState state(const CBufferStream& s)
{
    static_assert(sizeof(CBufferStream) == sizeof(void*) * 2 + 16, "vtable pointer then three members");
    StreamState out;
    std::memcpy(&out.data, reinterpret_cast<const char*>(&s) + sizeof(void*), sizeof(void*));
    std::memcpy(&out.capacity, reinterpret_cast<const char*>(&s) + 2 * sizeof(void*), 8);
    std::memcpy(&out.length, reinterpret_cast<const char*>(&s) + 2 * sizeof(void*) + 8, 8);
    return out;
}

std::uint32_t capacityOf(const CAutoBuffer& b)
{
    std::uint32_t capacity;
    std::memcpy(&capacity, &b, sizeof capacity);  // first member
    return capacity;
}

TEST(BufferStream, GrowsByTheCountPlus1024WhenFull)
{
    CBufferStream s;
    const auto bytes = counting(10000);
    std::uint64_t written = 99;
    // Appends of 4096, 4096 and 1808 bytes: 5120, 10240, then the last fits.
    const std::pair<std::size_t, std::uint64_t> steps[] = {{4096, 5120}, {4096, 10240}, {1808, 10240}};
    std::size_t at = 0;
    for (auto [count, capacity] : steps) {
        EXPECT_TRUE(s.Write(bytes.data() + at, count, &written));
        EXPECT_EQ(written, count);
        at += count;
        EXPECT_EQ(state(s).capacity, capacity);
        EXPECT_EQ(s.GetPos(), at);
    }
    EXPECT_EQ(s.GetPos(), 10000u);
    EXPECT_EQ(std::memcmp(s.GetBuffer(), bytes.data(), 10000), 0);
}

TEST(BufferStream, GrowsWhenTheLengthWouldReachTheCapacity)
{
    // Capacity stays above the length: a write that would fill it exactly still grows.
    CBufferStream s;
    const auto bytes = counting(3000);
    s.Write(bytes.data(), 100, nullptr);
    EXPECT_EQ(state(s).capacity, 1124u);
    s.Write(bytes.data(), 1023, nullptr);  // 1123 < 1124
    EXPECT_EQ(state(s).capacity, 1124u);
    s.Write(bytes.data(), 1, nullptr);  // 1124 reaches it
    EXPECT_EQ(state(s).capacity, 1124u + 1 + 1024);
    EXPECT_LT(s.GetPos(), state(s).capacity);
}

TEST(BufferStream, EmptyWriteReservesABlock)
{
    CBufferStream s;
    std::uint64_t written = 7;
    EXPECT_TRUE(s.Write(nullptr, 0, &written));
    EXPECT_EQ(written, 0u);
    EXPECT_NE(s.GetBuffer(), nullptr);
    EXPECT_EQ(state(s).capacity, 1024u);
    EXPECT_EQ(s.GetPos(), 0u);
}

TEST(BufferStream, ReadCopiesFromTheStart)
{
    CBufferStream s;
    std::uint64_t read = 99;
    unsigned char out[16] = {};
    EXPECT_TRUE(s.Read(out, 0, &read));
    EXPECT_EQ(read, 0u);  // no block yet

    const auto bytes = counting(10, 1);
    s.Write(bytes.data(), 10, nullptr);
    for (int i = 0; i < 2; ++i) {  // no read position: the same bytes every time
        EXPECT_TRUE(s.Read(out, 4, &read));
        EXPECT_EQ(read, 4u);
        EXPECT_EQ(std::vector<unsigned char>(out, out + 4), (std::vector<unsigned char>{1, 2, 3, 4}));
    }
    EXPECT_TRUE(s.Read(out, 10, &read));
    EXPECT_EQ(read, 10u);
    EXPECT_TRUE(s.Read(out, 11, &read));
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(s.Read(nullptr, 1, &read));
    EXPECT_EQ(read, 0u);
}

TEST(BufferStream, ReadFromPosStaysInsideTheBytesWritten)
{
    CBufferStream s;
    const auto bytes = counting(10, 1);
    s.Write(bytes.data(), 10, nullptr);
    unsigned char out[16] = {};
    std::uint64_t read = 99;
    EXPECT_TRUE(s.ReadFromPos(out, 3, &read, 0));
    EXPECT_EQ(read, 3u);
    EXPECT_EQ(out[0], 1);
    EXPECT_TRUE(s.ReadFromPos(out, 3, &read, 7));  // the last three
    EXPECT_EQ(read, 3u);
    EXPECT_EQ(std::vector<unsigned char>(out, out + 3), (std::vector<unsigned char>{8, 9, 10}));
    for (auto [count, offset] :
         {std::pair{4, 7}, std::pair{1, 10}, std::pair{1, -1}, std::pair{0, -5}, std::pair{11, 0}}) {
        read = 99;
        EXPECT_TRUE(s.ReadFromPos(out, count, &read, offset));
        EXPECT_EQ(read, 0u) << count << " at " << offset;
    }
    EXPECT_TRUE(s.ReadFromPos(out, 0, &read, 10));
    EXPECT_EQ(read, 0u);
}

TEST(BufferStream, CopiesOwnTheirBlocks)
{
    auto original = std::make_unique<CBufferStream>();
    const auto bytes = counting(5000, 3);
    original->Write(bytes.data(), 5000, nullptr);

    CBufferStream copy(*original);
    CBufferStream assigned;
    assigned.Write(bytes.data(), 10, nullptr);
    assigned = *original;
    assigned = assigned;
    CBufferStream fromEmpty;
    fromEmpty.Write(bytes.data(), 10, nullptr);
    fromEmpty = CBufferStream();
    EXPECT_EQ(fromEmpty.GetBuffer(), nullptr);
    EXPECT_EQ(fromEmpty.GetPos(), 0u);

    EXPECT_NE(copy.GetBuffer(), original->GetBuffer());
    EXPECT_NE(assigned.GetBuffer(), original->GetBuffer());
    EXPECT_EQ(state(copy).capacity, state(*original).capacity);
    original.reset();  // the copies' bytes do not go with it
    for (const CBufferStream* s : {&copy, &assigned}) {
        ASSERT_EQ(s->GetPos(), 5000u);
        EXPECT_EQ(std::memcmp(s->GetBuffer(), bytes.data(), 5000), 0);
    }
}

TEST(AutoBuffer, CapacityIsTheSizeRoundedUpTo512)
{
    CAutoBuffer b;
    const auto bytes = counting(5000);
    EXPECT_EQ(b.WriteData(reinterpret_cast<const char*>(bytes.data()), 1), 1u);
    EXPECT_EQ(capacityOf(b), 512u);
    EXPECT_EQ(b.WriteData(reinterpret_cast<const char*>(bytes.data()) + 1, 511), 511u);  // 512 reaches 512
    EXPECT_EQ(capacityOf(b), 512u);
    EXPECT_EQ(b.WriteData(reinterpret_cast<const char*>(bytes.data()) + 512, 1), 1u);
    EXPECT_EQ(capacityOf(b), 1024u);
    EXPECT_EQ(b.WriteData(reinterpret_cast<const char*>(bytes.data()) + 513, 4096), 4096u);
    EXPECT_EQ(capacityOf(b), 4608u + 512u);  // 4609 bytes
    EXPECT_EQ(b.GetDataSize(), 4609u);
    std::uint32_t remaining = 0;
    const char* p = b.ReadData(remaining, 0);
    ASSERT_EQ(remaining, 4609u);
    EXPECT_EQ(std::memcmp(p, bytes.data(), 4609), 0);
}

TEST(AutoBuffer, SweepAroundTheGranule)
{
    for (std::uint32_t n : {1u, 511u, 512u, 513u, 1023u, 1024u, 4095u, 4096u, 4097u}) {
        CAutoBuffer b;
        const auto bytes = counting(n);
        EXPECT_EQ(b.WriteData(reinterpret_cast<const char*>(bytes.data()), n), n);
        EXPECT_EQ(capacityOf(b), (n + 511) / 512 * 512) << n;
        EXPECT_EQ(b.GetDataSize(), n);
    }
}

TEST(AutoBuffer, ReadDataPointsIntoTheBuffer)
{
    CAutoBuffer b;
    std::uint32_t remaining = 5;
    EXPECT_EQ(b.ReadData(remaining, 0), nullptr);
    EXPECT_EQ(remaining, 0u);
    b.WriteData("abcdef", 6);
    char* p = b.ReadData(remaining, 2);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(remaining, 4u);
    EXPECT_EQ(std::string(p, remaining), "cdef");
    remaining = 5;
    EXPECT_EQ(b.ReadData(remaining, 6), nullptr);
    EXPECT_EQ(remaining, 0u);
    EXPECT_EQ(b.ReadData(remaining, 0xFFFFFFFFu), nullptr);
}

TEST(AutoBuffer, ClearDataAndRefusedWritesLeaveItConsistent)
{
    CAutoBuffer b;
    EXPECT_EQ(b.WriteData("abc", 0), 0u);
    EXPECT_EQ(b.WriteData(nullptr, 3), 0u);
    EXPECT_EQ(b.GetDataSize(), 0u);
    b.WriteData("abc", 3);
    // A count that would take the 32-bit size past its range is refused.
    EXPECT_EQ(b.WriteData("x", 0xFFFFFFFFu), 0u);
    EXPECT_EQ(b.GetDataSize(), 3u);
    b.ClearData();
    EXPECT_EQ(b.GetDataSize(), 0u);
    EXPECT_EQ(capacityOf(b), 0u);
    b.ClearData();
    EXPECT_EQ(b.WriteData("z", 1), 1u);
    EXPECT_EQ(capacityOf(b), 512u);
}

TEST(AutoBuffer, AssignmentCopiesTheBlock)
{
    auto original = std::make_unique<CAutoBuffer>();
    original->WriteData("hello", 5);
    CAutoBuffer copy;
    copy.WriteData("old", 3);
    copy = *original;
    copy = copy;
    original.reset();
    std::uint32_t remaining = 0;
    const char* p = copy.ReadData(remaining, 0);
    EXPECT_EQ(std::string(p, remaining), "hello");
    EXPECT_EQ(capacityOf(copy), 512u);
    CAutoBuffer empty;
    copy = empty;
    EXPECT_EQ(copy.GetDataSize(), 0u);
    EXPECT_EQ(copy.ReadData(remaining, 0), nullptr);
}

}  // namespace
