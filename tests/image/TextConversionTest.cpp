#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "image/TextConversion.h"
#include "trx/Errors.h"

namespace {

TEST(TextConversion, NullGivesNull)
{
    EXPECT_EQ(WideToUtf8(nullptr).c_str(), nullptr);
    EXPECT_EQ(Utf8ToWide(nullptr).c_str(), nullptr);
    EXPECT_STREQ(WideToUtf8(L"").c_str(), "");
}

TEST(TextConversion, NonAsciiRoundTrips)
{
    const std::wstring names[] = {L"photo.jpg", L"caf\u00e9/\u00fcber.png", L"\u65e5\u672c\u8a9e.tif",
                                  L"emoji \U0001F600.psd", std::wstring(700, L'\u00e9') + L".bmp"};
    for (const auto& name : names) {
        const WideToUtf8 narrow(name.c_str());
        EXPECT_EQ(Utf8ToWide(narrow.c_str()).str(), name);
    }
    EXPECT_STREQ(WideToUtf8(L"\u00e9\U0001F600").c_str(), "\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_EQ(Utf8ToWide("\xc3\xa9").str(), L"\u00e9");
}

TEST(TextConversion, InvalidUtf8IsRefusedWithItsCode)
{
    const char* bad[] = {"\xc3\x28",          // bad continuation
                         "\xc0\xaf",          // overlong slash
                         "\xed\xa0\x80",      // encoded surrogate
                         "\xf4\x90\x80\x80",  // beyond U+10FFFF
                         "abc\xe2\x82",       // truncated
                         "\xff"};
    for (const char* text : bad) {
        try {
            Utf8ToWide converted(text);
            ADD_FAILURE() << "accepted invalid UTF-8";
        } catch (const trx::TextConversionError& e) {
            EXPECT_EQ(e.code(), EILSEQ);
        }
    }
}

TEST(TextConversion, InvalidUtf32IsRefusedWithItsCode)
{
    const wchar_t surrogate[] = {L'a', static_cast<wchar_t>(0xDC00), 0};
    const wchar_t tooLarge[] = {static_cast<wchar_t>(0x110000), 0};
    const wchar_t negative[] = {static_cast<wchar_t>(-5), 0};
    for (const wchar_t* text : {surrogate, tooLarge, negative}) {
        try {
            WideToUtf8 converted(text);
            ADD_FAILURE() << "accepted invalid UTF-32";
        } catch (const trx::TextConversionError& e) {
            EXPECT_EQ(e.code(), EILSEQ);
        }
    }
}

TEST(TextConversion, TheTwoFailuresAreDistinctTypes)
{
    bool conversionIsBadAlloc = false;
    try {
        Utf8ToWide converted("\xff");
    } catch (const std::bad_alloc&) {
        conversionIsBadAlloc = true;
    } catch (const trx::TextConversionError&) {
    }
    EXPECT_FALSE(conversionIsBadAlloc);
    EXPECT_TRUE((std::is_base_of<std::bad_alloc, trx::OutOfMemoryError>::value));
}

}  // namespace
