#pragma once

#include <cstddef>
#include <cstdint>

#include "trx/Export.h"

/// @file
/// The process-wide memory manager from which CBufferStream takes its blocks.
///
/// At the first request the library binds, once for the life of the process, to the
/// first of:
///  1. the object returned by the "Initialise" export of the module `libtrxmem.so`, as
///     found by the dynamic loader. Its "Reset" export, when present, is called once
///     and the module released when the library is unloaded;
///  2. an object published with TRXMemPublish() under the class "MemAllocClass" and the
///     name "MemAllocWnd" followed by the process id in lowercase hexadecimal without
///     leading zeros (process 4660 gives "MemAllocWnd1234"). A published null object is
///     skipped;
///  3. the library's own TRXMem::MemInitBaseT<0>, which allocates from the C heap.
///
/// An object bound from outside derives from TRXMem::MemInitBaseT<0>, keeps the order of
/// its virtual operations, is usable from any thread, and outlives every CBufferStream
/// that holds a block. Its module links TRXImage for the base class (or leaves those
/// symbols to be resolved from the process that loads it). The library calls only
/// ReAlloc, Free and OnOutOfMemory.

namespace TRXMem {

/// The memory manager interface; MemInitBaseT<0> is also the default implementation.
///
/// Every block of the default implementation is preceded by an 8-byte tag word holding
/// 0. Free, ReAlloc and BlockSize leave alone any block whose tag word is not 0 (they
/// do nothing, give null and give 0). A refused heap request asks the bound manager's
/// OnOutOfMemory() and tries again for as long as that gives non-zero.
template <int Variant>
class TRX_API MemInitBaseT {
public:
    MemInitBaseT() = default;
    MemInitBaseT(const MemInitBaseT&) = default;
    MemInitBaseT& operator=(const MemInitBaseT&) = default;
    virtual ~MemInitBaseT();

    /// As Alloc; the tags are not used by the default implementation.
    virtual void* AllocTagged(std::size_t size, std::uintptr_t tag, std::uint32_t tag32);
    /// A block of `size` bytes, or null.
    virtual void* Alloc(std::size_t size);
    virtual void* AllocAlt(std::size_t size);
    /// AllocTagged(count x size) through the table, zero-filled; null on overflow.
    virtual void* CallocTagged(std::size_t count, std::size_t size, std::uintptr_t tag, std::uint32_t tag32);
    /// Alloc(count x size) through the table, zero-filled; null on overflow.
    virtual void* Calloc(std::size_t count, std::size_t size);
    /// Releases a block; null does nothing.
    virtual void Free(void* block);
    virtual void* ReAllocAlt(void* block, std::size_t size);
    /// Resizes a block (null: Alloc through the table). Null on failure, the old block
    /// then being untouched.
    virtual void* ReAlloc(void* block, std::size_t size);
    /// Usable bytes of a block, at least the size asked for; 0 for null.
    virtual std::size_t BlockSize(void* block);
    /// Non-zero asks for a refused heap request to be tried again. The default gives 0.
    virtual int OnOutOfMemory();
    virtual int QueryAlt();
    virtual bool QueryFlag();
};

extern template class MemInitBaseT<0>;

}  // namespace TRXMem

extern "C" {

/// Publishes `object` under `className` and `name` for this process, replacing what was
/// published there before; `object` may be null (a binding then skips it). The object is
/// not owned. Gives 0 when a name is null, 1 otherwise. Publishing after the library has
/// bound its memory manager changes nothing for the library.
TRX_API int TRXMemPublish(const wchar_t* className, const wchar_t* name, TRXMem::MemInitBaseT<0>* object);

/// Withdraws what was published under `className` and `name`. Gives 1 when something was
/// withdrawn, else 0.
TRX_API int TRXMemWithdraw(const wchar_t* className, const wchar_t* name);
}
