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
    delete mapper_;
    mapper_ = nullptr;
    if (length <= 0 || !data)
        return;
    auto* fresh = new trx::MemMapObjectMapper(static_cast<std::size_t>(length));
    if (fresh->Size() != static_cast<std::size_t>(length)) {
        delete fresh;
        return;
    }
    std::memcpy(fresh->get_writeable(), data, static_cast<std::size_t>(length));
    mapper_ = fresh;
}

const char* Blob::data() const { return mapper_ ? mapper_->get_lpcstr() : nullptr; }

std::int64_t Blob::length() const { return mapper_ ? static_cast<std::int64_t>(mapper_->Size()) : 0; }
