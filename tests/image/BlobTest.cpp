#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <TRXImage.h>

namespace {

std::string contentOf(const Blob& blob)
{
    return blob.length() ? std::string(blob.data(), static_cast<std::size_t>(blob.length())) : std::string();
}

TEST(Blob, UpdateReplacesTheContent)
{
    Blob blob;
    EXPECT_EQ(blob.length(), 0);
    EXPECT_EQ(blob.data(), nullptr);
    blob.update("first content", 13);
    blob.update("abc", 3);
    EXPECT_EQ(contentOf(blob), "abc");
    // From its own bytes, with no other holder: copied before the old store goes.
    blob.update(blob.data(), static_cast<int>(blob.length()));
    EXPECT_EQ(contentOf(blob), "abc");
    blob.update(blob.data() + 1, 2);
    EXPECT_EQ(contentOf(blob), "bc");
}

TEST(Blob, CopiesHoldTheSameBytesAndSurviveTheOriginal)
{
    Blob copy;
    {
        Blob original;
        original.update("profile", 7);
        Blob constructed(original);
        EXPECT_EQ(contentOf(constructed), "profile");
        copy = original;
        original.update("changed", 7);
        EXPECT_EQ(contentOf(copy), "profile");
    }
    EXPECT_EQ(contentOf(copy), "profile");
    copy = copy;
    EXPECT_EQ(contentOf(copy), "profile");
}

TEST(Blob, EmptyAndInvalidContentGiveLengthZero)
{
    Blob blob;
    blob.update("x", 1);
    Blob empty;
    blob = empty;
    EXPECT_EQ(blob.length(), 0);
    Blob fromEmpty(empty);
    EXPECT_EQ(fromEmpty.length(), 0);
    blob.update("abc", 0);
    EXPECT_EQ(blob.length(), 0);
    blob.update("abc", -5);
    EXPECT_EQ(blob.length(), 0);
    blob.update(nullptr, 10);
    EXPECT_EQ(blob.length(), 0);
}

TEST(Blob, LargeContentIsKeptWhole)
{
    std::string big(1 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 31 + 7);
    Blob blob;
    blob.update(big.data(), static_cast<int>(big.size()));
    EXPECT_EQ(contentOf(blob), big);
}

}  // namespace
