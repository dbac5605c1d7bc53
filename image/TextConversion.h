#pragma once

#include <string>

// The only wide/narrow text conversions of the library. Narrow text is UTF-8, wide
// text UTF-32 (wchar_t). Both convert strictly: invalid input raises
// trx::TextConversionError, an allocation failure trx::OutOfMemoryError. A null
// input gives a null result.

class WideToUtf8 {
public:
    explicit WideToUtf8(const wchar_t* text);
    /// The converted text, valid while this object lives; null for a null input.
    const char* c_str() const { return null_ ? nullptr : text_.c_str(); }
    operator const char*() const { return c_str(); }
    const std::string& str() const { return text_; }

private:
    std::string text_;
    bool null_;
};

class Utf8ToWide {
public:
    explicit Utf8ToWide(const char* text);
    const wchar_t* c_str() const { return null_ ? nullptr : text_.c_str(); }
    operator const wchar_t*() const { return c_str(); }
    const std::wstring& str() const { return text_; }

private:
    std::wstring text_;
    bool null_;
};

// Conversions for log lines, which must never fail: invalid input becomes U+FFFD.
std::string utf8ForDisplay(const std::wstring& text);
std::wstring wideForDisplay(const std::string& text);
