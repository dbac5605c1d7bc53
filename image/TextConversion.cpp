#include "image/TextConversion.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <iterator>

#include <utf8.h>

#include "trx/Errors.h"

namespace trx {

const char* OutOfMemoryError::what() const noexcept { return "TRXImage: out of memory while converting text"; }

TextConversionError::TextConversionError(int code, const char* what) : std::runtime_error(what), code_(code) {}

}  // namespace trx

namespace {

// The platform converters take int lengths; longer texts cannot be converted.
constexpr std::size_t kMaxConvertible = static_cast<std::size_t>(INT_MAX) - 1;

}  // namespace

WideToUtf8::WideToUtf8(const wchar_t* text) : null_(text == nullptr)
{
    if (!text)
        return;
    const std::size_t length = std::wcslen(text);
    if (length > kMaxConvertible)
        throw trx::TextConversionError(EINVAL, "text too long to convert to UTF-8");
    try {
        text_.reserve(length);
        for (std::size_t i = 0; i < length; ++i)
            utf8::append(static_cast<std::uint32_t>(text[i]), std::back_inserter(text_));
    } catch (const utf8::exception&) {
        throw trx::TextConversionError(EILSEQ, "invalid code point in wide text");
    } catch (const std::bad_alloc&) {
        throw trx::OutOfMemoryError();
    }
}

Utf8ToWide::Utf8ToWide(const char* text) : null_(text == nullptr)
{
    if (!text)
        return;
    const std::size_t length = std::strlen(text);
    if (length > kMaxConvertible)
        throw trx::TextConversionError(EINVAL, "text too long to convert from UTF-8");
    try {
        text_.reserve(length);
        const char* it = text;
        const char* end = text + length;
        while (it != end)
            text_.push_back(static_cast<wchar_t>(utf8::next(it, end)));
    } catch (const utf8::exception&) {
        throw trx::TextConversionError(EILSEQ, "invalid UTF-8 sequence");
    } catch (const std::bad_alloc&) {
        throw trx::OutOfMemoryError();
    }
}

std::string utf8ForDisplay(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        const auto cp = static_cast<std::uint32_t>(c);
        utf8::append(utf8::internal::is_code_point_valid(cp) ? cp : 0xFFFDu, std::back_inserter(out));
    }
    return out;
}

std::wstring wideForDisplay(const std::string& text)
{
    try {
        return Utf8ToWide(text.c_str()).str();
    } catch (const trx::TextConversionError&) {
        std::string repaired;
        utf8::replace_invalid(text.begin(), text.end(), std::back_inserter(repaired));
        return Utf8ToWide(repaired.c_str()).str();
    }
}
