#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "image/Log.h"
#include "image/TextConversion.h"
#include "support/TestSupport.h"
#include "trx/Errors.h"

namespace {

// What reaching standard error `body` makes.
template <class Body>
std::string stderrOf(Body body)
{
    testing::internal::CaptureStderr();
    body();
    return testing::internal::GetCapturedStderr();
}

// The code of the conversion error that converting `text` raises; 0 when none.
template <class Conversion, class Char>
int failureCode(const Char* text)
{
    try {
        Conversion converted(text);
    } catch (const trx::TextConversionError& e) {
        return e.code();
    }
    return 0;
}

TEST(Log, LineGetsThePrefixAndOneNewline)
{
    const std::wstring name(100000, L'\u4e2d');  // no length limit
    const std::wstring named = L"[TRXImage] cannot open " + name + L"\n";
    const std::pair<const wchar_t*, std::wstring> rows[] = {
        {L"abc", L"[TRXImage] abc\n"}, {L"abc\n", L"[TRXImage] abc\n"}, {L"a\n\n", L"[TRXImage] a\n\n"},
        {L"", L"[TRXImage] \n"},       {L"\n", L"[TRXImage] \n"},       {L"cannot open %ls", named}};
    trxtest::LogCapture log;
    for (const auto& [format, line] : rows) {
        log.clear();
        LogMessage(format, name.c_str());
        EXPECT_EQ(log.lines(), std::vector<std::wstring>{line}) << format;
    }
}

TEST(Log, LinesGoToStandardErrorUntilAFunctionIsSet)
{
    TarvexImage::SetLog(nullptr);
    const wchar_t invalid[] = {L'a', static_cast<wchar_t>(0xD800), 0};
    EXPECT_EQ(stderrOf([&] { LogMessage(L"\u00e9 %ls", invalid); }), "[TRXImage] \xc3\xa9 a\xef\xbf\xbd\n");
    trxtest::LogCapture log;
    EXPECT_EQ(stderrOf([] { LogMessage(L"to the function"); }), "");
}

TEST(TextConversion, BothDirectionsAgreeAndRefuseInvalidText)
{
    EXPECT_TRUE(WideToUtf8(nullptr).c_str() == nullptr && Utf8ToWide(nullptr).c_str() == nullptr);
    const std::pair<std::wstring, std::string> rows[] = {
        {L"", ""},
        {L"caf\u00e9/\u00fc.png", "caf\xc3\xa9/\xc3\xbc.png"},
        {L"\u65e5\u672c\u8a9e \U0001F600", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e \xf0\x9f\x98\x80"},
        {std::wstring(1400, L'a') + L"\u00e9", std::string(1400, 'a') + "\xc3\xa9"}};
    for (const auto& [wide, utf8] : rows)
        EXPECT_EQ(std::make_pair(std::string(WideToUtf8(wide.c_str()).c_str()), Utf8ToWide(utf8.c_str()).str()),
                  std::make_pair(utf8, wide));
    // Bad continuation, overlong slash, encoded surrogate, beyond U+10FFFF, truncated.
    for (const char* text : {"\xc3\x28", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "abc\xe2\x82", "\xff"})
        EXPECT_EQ(failureCode<Utf8ToWide>(text), EILSEQ) << text;
    // A surrogate, a value beyond U+10FFFF, a negative one.
    for (const std::wstring& text :
         {std::wstring(L"a") + wchar_t(0xDC00), std::wstring(1, wchar_t(0x110000)), std::wstring(1, wchar_t(-5))})
        EXPECT_EQ(failureCode<WideToUtf8>(text.c_str()), EILSEQ) << static_cast<long>(text.back());
}

}  // namespace
