#include <cstring>
#include <limits>

#include "TRXImage.h"
#include "mem/MemoryManager.h"

namespace {

constexpr std::uint64_t kSlack = 1024;

// A block of `capacity` bytes holding a copy of the first `length` bytes of `source`.
unsigned char* copyBlock(const unsigned char* source, std::uint64_t capacity, std::uint64_t length)
{
    if (capacity > std::numeric_limits<std::size_t>::max())
        return nullptr;
    auto* block = static_cast<unsigned char*>(memoryManager()->ReAlloc(nullptr, static_cast<std::size_t>(capacity)));
    if (block && length > 0)
        std::memcpy(block, source, static_cast<std::size_t>(length));
    return block;
}

}  // namespace

CBufferStream::CBufferStream() : streamData(nullptr), streamCapacity(0), streamLength(0) {}

CBufferStream::CBufferStream(const CBufferStream& other) : CBufferStream()
{
    if (!other.streamData)
        return;
    streamData = copyBlock(other.streamData, other.streamCapacity, other.streamLength);
    if (streamData) {
        streamCapacity = other.streamCapacity;
        streamLength = other.streamLength;
    }
}

CBufferStream& CBufferStream::operator=(const CBufferStream& other)
{
    if (this == &other)
        return *this;
    unsigned char* block = nullptr;
    if (other.streamData) {
        block = copyBlock(other.streamData, other.streamCapacity, other.streamLength);
        if (!block)
            return *this;
    }
    if (streamData)
        memoryManager()->Free(streamData);
    streamData = block;
    streamCapacity = block ? other.streamCapacity : 0;
    streamLength = block ? other.streamLength : 0;
    return *this;
}

CBufferStream::~CBufferStream()
{
    if (streamData)
        memoryManager()->Free(streamData);
    streamData = nullptr;
    streamCapacity = 0;
    streamLength = 0;
}

bool CBufferStream::Write(const void* source, std::uint64_t count, std::uint64_t* written)
{
    if (written)
        *written = 0;
    if (count > 0 && !source)
        return true;
    if (count > std::numeric_limits<std::uint64_t>::max() - streamLength)
        return true;
    if (streamLength + count >= streamCapacity) {
        const std::uint64_t limit = std::numeric_limits<std::size_t>::max();
        if (count > limit - kSlack || streamCapacity > limit - kSlack - count)
            return true;
        const std::uint64_t capacity = streamCapacity + count + kSlack;
        void* grown = memoryManager()->ReAlloc(streamData, static_cast<std::size_t>(capacity));
        if (!grown)
            return true;
        streamData = static_cast<unsigned char*>(grown);
        streamCapacity = capacity;
    }
    if (count > 0)
        std::memcpy(streamData + streamLength, source, static_cast<std::size_t>(count));
    streamLength += count;
    if (written)
        *written = count;
    return true;
}

bool CBufferStream::Read(void* destination, std::uint64_t count, std::uint64_t* read)
{
    return ReadFromPos(destination, count, read, 0);
}

bool CBufferStream::ReadFromPos(void* destination, std::uint64_t count, std::uint64_t* read, int offset)
{
    const bool fits =
        offset >= 0 && count <= streamLength && static_cast<std::uint64_t>(offset) <= streamLength - count;
    if (!fits || !destination || !streamData) {
        if (read)
            *read = 0;
        return true;
    }
    if (count > 0)
        std::memcpy(destination, streamData + offset, static_cast<std::size_t>(count));
    if (read)
        *read = count;
    return true;
}

const char* CBufferStream::GetBuffer() const { return reinterpret_cast<const char*>(streamData); }

std::uint64_t CBufferStream::GetPos() const { return streamLength; }
