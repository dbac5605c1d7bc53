#include <cstdlib>
#include <cstring>
#include <limits>

#include "TRXImage.h"

namespace {

constexpr std::uint32_t kGranule = 512;

}  // namespace

CAutoBuffer::CAutoBuffer() : bufferCapacity(0), bufferData(nullptr), bufferSize(0) {}

CAutoBuffer& CAutoBuffer::operator=(const CAutoBuffer& other)
{
    if (this == &other)
        return *this;
    char* block = nullptr;
    if (other.bufferData) {
        block = static_cast<char*>(std::malloc(other.bufferCapacity));
        if (!block)
            return *this;
        if (other.bufferSize > 0)
            std::memcpy(block, other.bufferData, other.bufferSize);
    }
    std::free(bufferData);
    bufferData = block;
    bufferCapacity = block ? other.bufferCapacity : 0;
    bufferSize = block ? other.bufferSize : 0;
    return *this;
}

CAutoBuffer::~CAutoBuffer() { std::free(bufferData); }

std::uint32_t CAutoBuffer::GetDataSize() const { return bufferSize; }

std::uint32_t CAutoBuffer::WriteData(const char* source, std::uint32_t count)
{
    // Nothing to append; a zero-byte request must not leave a zero-sized block behind.
    if (count == 0 || !source)
        return 0;
    // The sum and its rounding are 32-bit; a wrap would make the block too small.
    if (count > std::numeric_limits<std::uint32_t>::max() - bufferSize)
        return 0;
    const std::uint32_t needed = bufferSize + count;
    if (needed >= bufferCapacity) {
        if (needed > std::numeric_limits<std::uint32_t>::max() - (kGranule - 1))
            return 0;
        const std::uint32_t capacity = (needed + kGranule - 1) & ~(kGranule - 1);
        void* grown = bufferCapacity == 0 ? std::malloc(capacity) : std::realloc(bufferData, capacity);
        if (!grown)
            return 0;
        bufferData = static_cast<char*>(grown);
        bufferCapacity = capacity;
    }
    std::memcpy(bufferData + bufferSize, source, count);
    bufferSize = needed;
    return count;
}

char* CAutoBuffer::ReadData(std::uint32_t& remaining, std::uint32_t offset)
{
    if (offset >= bufferSize) {
        remaining = 0;
        return nullptr;
    }
    remaining = bufferSize - offset;
    return bufferData + offset;
}

void CAutoBuffer::ClearData()
{
    std::free(bufferData);
    bufferCapacity = 0;
    bufferData = nullptr;
    bufferSize = 0;
}
