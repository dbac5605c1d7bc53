#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// Bounds-checked reads from a run of untrusted bytes. Every read names its offset;
// a read that does not lie wholly inside the run returns 0 and sets the sticky
// overrun flag, so a parser can do a few reads and check once.
class ByteCursor {
public:
    enum class Order { Big, Little };

    ByteCursor(const unsigned char* data, std::size_t size) : data_(data), size_(data ? size : 0) {}
    explicit ByteCursor(const std::vector<unsigned char>& bytes) : ByteCursor(bytes.data(), bytes.size()) {}

    std::size_t size() const { return size_; }
    bool overrun() const { return overrun_; }

    // True when `count` bytes from `offset` lie inside the run (no overflow on the way).
    bool has(std::uint64_t offset, std::uint64_t count) const { return offset <= size_ && count <= size_ - offset; }

    std::uint8_t u8(std::uint64_t offset) { return has(offset, 1) ? data_[offset] : fail(); }

    std::uint16_t u16(std::uint64_t offset, Order order = Order::Big)
    {
        if (!has(offset, 2))
            return fail();
        const unsigned char* p = data_ + offset;
        return order == Order::Big ? static_cast<std::uint16_t>(p[0] << 8 | p[1])
                                   : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
    }

    std::uint32_t u32(std::uint64_t offset, Order order = Order::Big)
    {
        if (!has(offset, 4))
            return fail();
        const unsigned char* p = data_ + offset;
        const std::uint32_t b0 = p[0], b1 = p[1], b2 = p[2], b3 = p[3];
        return order == Order::Big ? (b0 << 24 | b1 << 16 | b2 << 8 | b3) : (b3 << 24 | b2 << 16 | b1 << 8 | b0);
    }

    // True when the bytes at `offset` are exactly `count` bytes of `expected`.
    bool matches(std::uint64_t offset, const void* expected, std::size_t count)
    {
        if (!has(offset, count)) {
            fail();
            return false;
        }
        return std::memcmp(data_ + offset, expected, count) == 0;
    }

    // The `count` bytes from `offset` as a cursor of their own; empty (and overrun set
    // here) when they do not lie inside this run.
    ByteCursor sub(std::uint64_t offset, std::uint64_t count)
    {
        if (!has(offset, count)) {
            fail();
            return ByteCursor(nullptr, 0);
        }
        return ByteCursor(data_ + offset, static_cast<std::size_t>(count));
    }

private:
    std::uint8_t fail()
    {
        overrun_ = true;
        return 0;
    }

    const unsigned char* data_;
    std::size_t size_;
    bool overrun_ = false;
};
