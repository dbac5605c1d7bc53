#include "TRXImage.h"

#include <cstring>

Blob::Blob() : mapper_(nullptr) {}

Blob::Blob(const Blob& other) : mapper_(nullptr) { *this = other; }

Blob& Blob::operator=(const Blob& other)
{
    if (this == &other)
        return *this;
    if (!other.mapper_) {
        delete mapper_;
        mapper_ = nullptr;
        return *this;
    }
    // Blob content never changes in place (update makes a new store), so the two
    // blobs can share one store.
    if (!mapper_)
        mapper_ = new trx::MemMapObjectMapper(0);
    *mapper_ = *other.mapper_;
    return *this;
}

Blob::~Blob() { delete mapper_; }

void Blob::update(const void* data, int length)
{
    // The new bytes are copied before the old store goes: `data` may point into it.
    trx::MemMapObjectMapper* fresh = nullptr;
    if (length > 0 && data) {
        fresh = new trx::MemMapObjectMapper(static_cast<std::size_t>(length));
        if (fresh->Size() == static_cast<std::size_t>(length)) {
            std::memcpy(fresh->get_writeable(), data, static_cast<std::size_t>(length));
        } else {
            delete fresh;
            fresh = nullptr;
        }
    }
    delete mapper_;
    mapper_ = fresh;
}

const char* Blob::data() const { return mapper_ ? mapper_->get_lpcstr() : nullptr; }

std::int64_t Blob::length() const { return mapper_ ? static_cast<std::int64_t>(mapper_->Size()) : 0; }
