#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "image/Log.h"
#include "support/TestSupport.h"

namespace {

// Runs `body` with standard error redirected to a file and returns what reached it.
template <class Body>
std::string stderrOf(Body body)
{
    std::fflush(stderr);
    FILE* sink = std::tmpfile();
    const int saved = dup(fileno(stderr));
    dup2(fileno(sink), fileno(stderr));
    body();
    std::fflush(stderr);
    dup2(saved, fileno(stderr));
    close(saved);
    std::string text;
    std::rewind(sink);
    for (int c; (c = std::fgetc(sink)) != EOF;)
        text.push_back(static_cast<char>(c));
    std::fclose(sink);
    return text;
}

TEST(Log, LineGetsThePrefixAndExactlyOneNewline)
{
    trxtest::LogCapture log;
    LogMessage(L"abc");
    LogMessage(L"abc\n");
    LogMessage(L"");
    LogMessage(L"line %d of %ls", 3, L"caf\u00e9");
    ASSERT_EQ(log.lines().size(), 4u);
    EXPECT_EQ(log.lines()[0], L"[TRXImage] abc\n");
    EXPECT_EQ(log.lines()[1], L"[TRXImage] abc\n");
    EXPECT_EQ(log.lines()[2], L"[TRXImage] \n");
    EXPECT_EQ(log.lines()[3], L"[TRXImage] line 3 of caf\u00e9\n");
}

TEST(Log, LongMessagesAreNotCut)
{
    trxtest::LogCapture log;
    const std::wstring name(100000, L'\u4e2d');
    LogMessage(L"OpenImageIO cannot open %ls", name.c_str());
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], L"[TRXImage] OpenImageIO cannot open " + name + L"\n");
}

TEST(Log, PercentLFormatsPrintTheLetterL)
{
    trxtest::LogCapture log;
    LogMessage(L"buffer size: %lul", 10000ul);
    EXPECT_EQ(log.lines().at(0), L"[TRXImage] buffer size: 10000l\n");
}

TEST(Log, LinesGoToStandardErrorUntilAFunctionIsSet)
{
    TarvexImage::SetLog(nullptr);
    EXPECT_EQ(stderrOf([] { LogMessage(L"to stderr \u00e9"); }), "[TRXImage] to stderr \xc3\xa9\n");
    std::string leaked;
    {
        trxtest::LogCapture log;
        leaked = stderrOf([] { LogMessage(L"to the function"); });
        EXPECT_EQ(log.lines().size(), 1u);
    }
    EXPECT_EQ(leaked, "");
    EXPECT_EQ(stderrOf([] { LogMessage(L"back"); }), "[TRXImage] back\n");
}

TEST(Log, InvalidCodePointsStillReachStandardError)
{
    TarvexImage::SetLog(nullptr);
    const wchar_t text[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    EXPECT_EQ(stderrOf([&] { LogMessage(L"%ls", text); }), "[TRXImage] a\xef\xbf\xbd"
                                                           "b\n");
}

TEST(Log, SetLogWorksThroughAnyImage)
{
    trxtest::LogCapture log;
    TarvexImage image;
    image.SetLog(nullptr);
    std::string out = stderrOf([] { LogMessage(L"x"); });
    EXPECT_EQ(out, "[TRXImage] x\n");
    EXPECT_TRUE(log.lines().empty());
}

}  // namespace
