#include <gtest/gtest.h>

#include "read/ReadLayout.h"

namespace {

constexpr std::uint64_t kPlenty = UINT64_MAX;

}  // namespace

TEST(ReadLayout, SixteenMebibyteStrips)
{
    ReadLayout layout;
    ASSERT_EQ(planReadLayout(2, 3, 3, false, kPlenty, layout), nullptr);
    EXPECT_EQ(layout.strips, 1);
    EXPECT_EQ(layout.linesPerStrip, 3);
    EXPECT_EQ(layout.bytesPerLine, 6);
    EXPECT_EQ(layout.alphaBytesPerLine, 0);

    // Exactly 16 MiB of lines is one strip; one more line makes no second strip yet.
    ASSERT_EQ(planReadLayout(4096, 4096, 1, false, kPlenty, layout), nullptr);
    EXPECT_EQ(layout.strips, 1);
    ASSERT_EQ(planReadLayout(4096, 8191, 1, false, kPlenty, layout), nullptr);
    EXPECT_EQ(layout.strips, 1);
    ASSERT_EQ(planReadLayout(4096, 8192, 1, false, kPlenty, layout), nullptr);
    EXPECT_EQ(layout.strips, 2);
    EXPECT_EQ(layout.linesPerStrip, 4096);
    ASSERT_EQ(planReadLayout(6000, 4000, 3, true, kPlenty, layout), nullptr);
    EXPECT_EQ(layout.strips, 4);
    EXPECT_EQ(layout.linesPerStrip, 1000);
    EXPECT_EQ(layout.totalBytes, 4u * 1000u * 24000u);
}

TEST(ReadLayout, NoRowsNoStrips)
{
    ReadLayout layout;
    ASSERT_EQ(planReadLayout(100, 0, 3, true, kPlenty, layout), nullptr);
    EXPECT_EQ(layout.strips, 0);
    EXPECT_EQ(layout.linesPerStrip, 0);
    EXPECT_EQ(layout.totalBytes, 0u);
}

TEST(ReadLayout, LinesWiderThanAStripGetAStripEach)
{
    ReadLayout layout;
    ASSERT_EQ(planReadLayout(10000000, 3, 3, false, kPlenty, layout), nullptr);
    EXPECT_EQ(layout.strips, 3);
    EXPECT_EQ(layout.linesPerStrip, 1);
}

TEST(ReadLayout, LineLengthLimit)
{
    ReadLayout layout;
    EXPECT_EQ(planReadLayout(715827882, 1, 3, false, kPlenty, layout), nullptr);
    EXPECT_EQ(layout.bytesPerLine, 2147483646);
    EXPECT_STREQ(planReadLayout(715827883, 1, 3, false, kPlenty, layout), L"a line longer than 2147483647 bytes");
    EXPECT_EQ(planReadLayout(2147483647, 1, 1, false, kPlenty, layout), nullptr);
    EXPECT_STREQ(planReadLayout(2147483648LL, 1, 1, false, kPlenty, layout), L"a line longer than 2147483647 bytes");
    EXPECT_EQ(planReadLayout(536870911, 1, 4, false, kPlenty, layout), nullptr);
    EXPECT_NE(planReadLayout(536870912, 1, 4, false, kPlenty, layout), nullptr);
}

TEST(ReadLayout, MemoryLimit)
{
    ReadLayout layout;
    EXPECT_EQ(planReadLayout(100, 100, 3, true, 40000, layout), nullptr);
    EXPECT_STREQ(planReadLayout(100, 100, 3, true, 39999, layout), L"more memory than this machine has");
    EXPECT_EQ(planReadLayout(100, 100, 3, false, 30000, layout), nullptr);
    EXPECT_NE(planReadLayout(100, 100, 3, false, 29999, layout), nullptr);
    // The last strip is sized for whole strips of lines.
    EXPECT_EQ(planReadLayout(2048, 8193, 3, false, kPlenty, layout), nullptr);
    EXPECT_EQ(layout.totalBytes, static_cast<std::uint64_t>(layout.strips * layout.linesPerStrip * 6144));
    EXPECT_NE(planReadLayout(2048, 8193, 3, false, layout.totalBytes - 1, layout), nullptr);
}

TEST(ReadLayout, RefusesNegativeSizes)
{
    ReadLayout layout;
    EXPECT_NE(planReadLayout(-1, 5, 3, false, kPlenty, layout), nullptr);
    EXPECT_NE(planReadLayout(5, -1, 3, false, kPlenty, layout), nullptr);
    EXPECT_NE(planReadLayout(5, 5, 0, false, kPlenty, layout), nullptr);
}
