#include <gtest/gtest.h>

#include <string>

#include <TRXImage.h>

namespace {

std::string contentOf(const Blob& blob) { return blob.data() ? std::string(blob.data(), blob.length()) : "-"; }

// An update replaces the content, also from the blob's own bytes (no other holder, so
// they are copied before the old store goes); copies keep what they had.
TEST(Blob, UpdateReplacesTheContentAndCopiesKeepWhatTheyHad)
{
    std::string big(70000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 31 + 7);
    Blob copy, empty;
    {
        Blob blob;
        blob.update("first content", 13);
        blob.update("abc", 3);
        copy = blob;
        blob.update(blob.data(), static_cast<int>(blob.length()));
        EXPECT_EQ(contentOf(blob), "abc");
        blob.update(blob.data() + 1, 2);
        EXPECT_EQ(contentOf(blob), "bc");
        blob.update(big.data(), static_cast<int>(big.size()));
        EXPECT_EQ(contentOf(Blob(blob)), big);
    }
    copy = copy;
    EXPECT_EQ(contentOf(copy), "abc");
    EXPECT_EQ(contentOf(Blob(empty)), "-");
    copy = empty;
    EXPECT_EQ(contentOf(copy), "-");
    for (int length : {0, -5, 3}) {  // nothing to copy, or from nowhere: no content
        copy.update("abc", 3);
        copy.update(length == 3 ? nullptr : "xyz", length);
        EXPECT_EQ(contentOf(copy), "-") << length;
    }
}

}  // namespace
