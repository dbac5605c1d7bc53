#include <gtest/gtest.h>

#include <string>

#include "trx/Errors.h"
#include <TRXImage.h>

namespace {

class WideOnly : public TarvexImageProgress {
public:
    using TarvexImageProgress::progressMonitor;
    bool progressMonitor(const wchar_t* text, std::int64_t a, std::int64_t b) override
    {
        received = text ? text : L"(null)";
        first = a;
        second = b;
        ++calls;
        return false;
    }
    std::wstring received;
    std::int64_t first = 0, second = 0;
    int calls = 0;
};

TEST(Progress, BaseAcceptsAnything)
{
    TarvexImageProgress base;
    EXPECT_TRUE(base.progressMonitor(L"x", -1, 1));
    EXPECT_TRUE(base.progressMonitor(static_cast<const wchar_t*>(nullptr), 0, 0));
    EXPECT_TRUE(base.progressMonitor("narrow", 1, 2));
}

TEST(Progress, NarrowNotesReachTheWideOverloadConverted)
{
    WideOnly monitor;
    TarvexImageProgress& asBase = monitor;
    EXPECT_FALSE(asBase.progressMonitor("\xc3\xa9", 5, 1LL << 40));
    EXPECT_EQ(monitor.received, L"\u00e9");
    EXPECT_EQ(monitor.first, 5);
    EXPECT_EQ(monitor.second, 1LL << 40);
    asBase.progressMonitor(static_cast<const char*>(nullptr), 0, 0);
    EXPECT_EQ(monitor.received, L"(null)");
}

TEST(Progress, InvalidNarrowNoteRaisesTheConversionError)
{
    WideOnly monitor;
    EXPECT_THROW(monitor.progressMonitor("\xc3", 0, 0), trx::TextConversionError);
    EXPECT_EQ(monitor.calls, 0);
}

}  // namespace
