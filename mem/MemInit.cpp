#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "mem/MemoryManager.h"

namespace {

using BlockTag = std::uint64_t;
constexpr std::size_t kTagBytes = sizeof(BlockTag);
static_assert(kTagBytes == 8, "the tag word is 8 bytes");

unsigned char* tagWord(void* block) { return static_cast<unsigned char*>(block) - kTagBytes; }

// The tag is read bytewise: a foreign block need not be aligned for a 64-bit load.
bool isOwnBlock(void* block)
{
    BlockTag tag;
    std::memcpy(&tag, tagWord(block), kTagBytes);
    return tag == 0;
}

void* tagAndSkip(void* heapBlock)
{
    const BlockTag tag = 0;
    std::memcpy(heapBlock, &tag, kTagBytes);
    return static_cast<unsigned char*>(heapBlock) + kTagBytes;
}

// A refused request is retried for as long as the bound manager asks for it.
template <class Request>
void* heapRequest(Request request)
{
    void* block = request();
    while (!block && memoryManager()->OnOutOfMemory() != 0)
        block = request();
    return block;
}

bool tooLarge(std::size_t size) { return size > std::numeric_limits<std::size_t>::max() - kTagBytes; }

}  // namespace

namespace TRXMem {

template <int Variant>
MemInitBaseT<Variant>::~MemInitBaseT() = default;

template <int Variant>
void* MemInitBaseT<Variant>::AllocTagged(std::size_t size, std::uintptr_t, std::uint32_t)
{
    return MemInitBaseT::Alloc(size);
}

template <int Variant>
void* MemInitBaseT<Variant>::Alloc(std::size_t size)
{
    if (tooLarge(size))
        return nullptr;
    void* heapBlock = heapRequest([size] { return std::malloc(size + kTagBytes); });
    return heapBlock ? tagAndSkip(heapBlock) : nullptr;
}

template <int Variant>
void* MemInitBaseT<Variant>::AllocAlt(std::size_t size)
{
    return MemInitBaseT::Alloc(size);
}

template <int Variant>
void* MemInitBaseT<Variant>::CallocTagged(std::size_t count, std::size_t size, std::uintptr_t tag, std::uint32_t tag32)
{
    if (size != 0 && count > std::numeric_limits<std::size_t>::max() / size)
        return nullptr;
    void* block = AllocTagged(count * size, tag, tag32);
    if (block)
        std::memset(block, 0, count * size);
    return block;
}

template <int Variant>
void* MemInitBaseT<Variant>::Calloc(std::size_t count, std::size_t size)
{
    if (size != 0 && count > std::numeric_limits<std::size_t>::max() / size)
        return nullptr;
    void* block = Alloc(count * size);
    if (block)
        std::memset(block, 0, count * size);
    return block;
}

template <int Variant>
void MemInitBaseT<Variant>::Free(void* block)
{
    if (!block || !isOwnBlock(block))
        return;
    std::free(tagWord(block));
}

template <int Variant>
void* MemInitBaseT<Variant>::ReAllocAlt(void* block, std::size_t size)
{
    return MemInitBaseT::ReAlloc(block, size);
}

template <int Variant>
void* MemInitBaseT<Variant>::ReAlloc(void* block, std::size_t size)
{
    if (!block)
        return Alloc(size);
    if (!isOwnBlock(block) || tooLarge(size))
        return nullptr;
    void* heapBlock = tagWord(block);
    void* grown = heapRequest([heapBlock, size] { return std::realloc(heapBlock, size + kTagBytes); });
    return grown ? tagAndSkip(grown) : nullptr;
}

template <int Variant>
std::size_t MemInitBaseT<Variant>::BlockSize(void* block)
{
    if (!block || !isOwnBlock(block))
        return 0;
    return malloc_usable_size(tagWord(block)) - kTagBytes;
}

template <int Variant>
int MemInitBaseT<Variant>::OnOutOfMemory()
{
    return 0;
}

template <int Variant>
int MemInitBaseT<Variant>::QueryAlt()
{
    return 0;
}

template <int Variant>
bool MemInitBaseT<Variant>::QueryFlag()
{
    return false;
}

template class MemInitBaseT<0>;

}  // namespace TRXMem
