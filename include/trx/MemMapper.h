#pragma once

#include <cstddef>

#include "trx/Export.h"

/// @file
/// Strip store: the byte stores that hold an image's strips and blobs.

namespace trx {

struct MemMapStore;

/// Marks an allocator whose bytes are to be shared copy-on-write (see
/// MemMapObjectAllocator::operator=).
template <class Allocator>
class MemMapCowCopy {
public:
    explicit MemMapCowCopy(Allocator& source) : source_(source) {}
    Allocator& source() const { return source_; }

private:
    Allocator& source_;
};

/// A resizable run of bytes in an anonymous memory mapping.
///
/// Copies share the bytes (reference counted) until one of them calls Split() or
/// ReSize(). Bytes added by ReSize() read as zero.
class TRX_API MemMapObjectAllocator {
public:
    /// An empty store (Size() 0).
    MemMapObjectAllocator();
    /// Shares the other allocator's bytes until Split().
    MemMapObjectAllocator(const MemMapObjectAllocator& other);
    /// Shares the other allocator's bytes until Split(); the bytes held before are released.
    MemMapObjectAllocator& operator=(const MemMapObjectAllocator& other);
    /// Shares the given allocator's bytes copy-on-write.
    MemMapObjectAllocator& operator=(const MemMapCowCopy<const MemMapObjectAllocator>& copy);
    virtual ~MemMapObjectAllocator();

    /// Sets the length in bytes, keeping the first min(old, new) bytes. Grows in place
    /// where the kernel allows. False (store unchanged) when the size cannot be mapped.
    bool ReSize(std::size_t bytes);
    /// Length in bytes; 0 for an empty store.
    std::size_t Size() const;
    /// Gives this allocator a private copy of bytes it shares. False when the copy
    /// cannot be mapped (the bytes then stay shared).
    bool Split();

protected:
    friend class MemMapObjectMapper;
    // Tagged pointer: the store, with the low bit set when this object is only a view.
    std::size_t handle_;

private:
    virtual void FullInternalRemove();
    virtual void FullInternalAdd();
};

/// A view of an allocator's bytes, or (constructed with a size) a store of its own.
/// Making, copying and dropping a view costs no system call.
class TRX_API MemMapObjectMapper : public MemMapObjectAllocator {
public:
    /// With 0: an empty view, to be re-pointed. With n: a new store of n bytes.
    explicit MemMapObjectMapper(std::size_t bytes = 0);
    /// A view of that allocator's bytes.
    explicit MemMapObjectMapper(const MemMapObjectAllocator& allocator);
    MemMapObjectMapper(const MemMapObjectMapper& other);
    MemMapObjectMapper& operator=(const MemMapObjectMapper& other);
    /// Re-points the view to that allocator's bytes.
    MemMapObjectMapper& operator=(const MemMapObjectAllocator& allocator);
    ~MemMapObjectMapper() override;

    /// Writable pointer to the first byte; null for an empty store.
    void* get_writeable() const;
    const unsigned char* get_pucstr() const;
    const char* get_lpcstr() const;

private:
    void FullInternalRemove() override;
    void FullInternalAdd() override;
};

}  // namespace trx
