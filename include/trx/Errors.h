#pragma once

#include <new>
#include <stdexcept>

#include "trx/Export.h"

/// @file
/// The two exceptions that text conversions raise; they pass out of the public
/// operation that converted a path or a note.

namespace trx {

/// No memory for the converted text.
class TRX_API OutOfMemoryError : public std::bad_alloc {
public:
    const char* what() const noexcept override;
};

/// The text could not be converted: an invalid UTF-8 sequence, an invalid code point
/// (a surrogate or a value above U+10FFFF), or a text too long to convert.
class TRX_API TextConversionError : public std::runtime_error {
public:
    /// `code` is an errno value: EILSEQ for invalid text, EINVAL for a text too long.
    TextConversionError(int code, const char* what);
    int code() const noexcept { return code_; }

private:
    int code_;
};

}  // namespace trx
