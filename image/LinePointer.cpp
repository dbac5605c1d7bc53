#include "TRXImage.h"

InternalLinePointer::InternalLinePointer() : mapper_(0), offset_(0) {}

InternalLinePointer::InternalLinePointer(trx::MemMapObjectAllocator& strip, int offset)
    : mapper_(strip), offset_(offset)
{}

InternalLinePointer::InternalLinePointer(const InternalLinePointer& other)
    : mapper_(other.mapper_), offset_(other.offset_)
{}

InternalLinePointer& InternalLinePointer::operator=(const InternalLinePointer& other)
{
    mapper_ = other.mapper_;
    offset_ = other.offset_;
    return *this;
}

InternalLinePointer::~InternalLinePointer() = default;

const unsigned char* InternalLinePointer::get() const { return get_pustr(); }
const unsigned char* InternalLinePointer::get_pucstr() const { return get_pustr(); }
void* InternalLinePointer::get_writeable() const { return get_pustr(); }

unsigned char* InternalLinePointer::get_pustr() const
{
    auto* base = static_cast<unsigned char*>(mapper_.get_writeable());
    return base ? base + offset_ : nullptr;
}

TarvexImage::LinePointer::LinePointer() : line_(new InternalLinePointer) {}

TarvexImage::LinePointer::LinePointer(const LinePointer& other) : line_(new InternalLinePointer(*other.line_)) {}

TarvexImage::LinePointer& TarvexImage::LinePointer::operator=(const LinePointer& other)
{
    *line_ = *other.line_;
    return *this;
}

TarvexImage::LinePointer::~LinePointer() { delete line_; }

const unsigned char* TarvexImage::LinePointer::get() const { return line_->get(); }
const unsigned char* TarvexImage::LinePointer::get_pucstr() const { return line_->get_pucstr(); }
unsigned char* TarvexImage::LinePointer::get_pustr() const { return line_->get_pustr(); }
void* TarvexImage::LinePointer::get_writeable() const { return line_->get_writeable(); }
