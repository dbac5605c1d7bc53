#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "image/TextConversion.h"
#include "support/TestSupport.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The growth rules are stated in the private capacities: CBufferStream's follows its
// vtable pointer and block, CAutoBuffer's comes first.
template <typename T>
T capacityOf(const void* container, std::size_t at)
{
    T capacity;
    std::memcpy(&capacity, static_cast<const char*>(container) + at, sizeof capacity);
    return capacity;
}

// Each row appends to the stream and buffer of the rows before it; capacities as the
// growth rules give them. A count past 32 bits reaches the buffer only. Reads stay inside
// the bytes written (which pins both lengths); Read always starts at 0; ClearData empties.
TEST(Containers, GrowthRulesAndWhatComesBack)
{
    // count, whether it has a source, the stream's and the buffer's capacity after it
    const std::tuple<std::uint32_t, bool, std::uint64_t, std::uint32_t> rows[] = {
        {1, true, 1025, 512},    {511, true, 1025, 512}, {1, true, 1025, 1024},
        {511, true, 1025, 1024}, {1, true, 2050, 1536},  {4096, true, 7170, 5632},
        {1, false, 7170, 5632},  {0, true, 7170, 5632},  {0xFFFFFFFFu, true, 7170, 5632}};
    Bytes bytes(8000);
    std::iota(bytes.begin(), bytes.end(), static_cast<unsigned char>(1));
    CBufferStream stream, empty;
    CAutoBuffer buffer;
    std::uint32_t length = 0;
    for (const auto& [count, source, streamCapacity, bufferCapacity] : rows) {
        SCOPED_TRACE(std::to_string(count) + " after " + std::to_string(length));
        const bool huge = count == 0xFFFFFFFFu;
        const std::uint32_t taken = source && !huge ? count : 0;
        std::uint64_t written = 99;
        EXPECT_TRUE(stream.Write(source ? &bytes[length] : nullptr, huge ? 0 : count, &written));
        EXPECT_EQ(buffer.WriteData(source ? reinterpret_cast<char*>(&bytes[length]) : nullptr, count), taken);
        length += taken;
        EXPECT_EQ(written, taken);
        EXPECT_EQ(capacityOf<std::uint64_t>(&stream, 2 * sizeof(void*)), streamCapacity);
        EXPECT_EQ(capacityOf<std::uint32_t>(&buffer, 0), bufferCapacity);
    }
    const int reads[][2] = {{0, 1}, {0, 5121}, {0, 5122}, {5118, 3}, {5118, 4}, {5121, 1}, {-1, 1}, {-5, 0}};
    for (const auto& [offset, count] : reads) {
        SCOPED_TRACE(std::to_string(count) + " at " + std::to_string(offset));
        const bool inside = offset >= 0 && offset + count <= static_cast<int>(length);
        Bytes out(count + 1, 0), again(count + 1, 0);
        std::uint64_t read = 99;
        std::uint32_t remaining = 99;
        const char* held = buffer.ReadData(remaining, static_cast<std::uint32_t>(offset));
        EXPECT_TRUE(stream.ReadFromPos(out.data(), count, &read, offset) && read == (inside ? count : 0u));
        EXPECT_TRUE(offset != 0 || (stream.Read(again.data(), count, &read) && again == out));
        EXPECT_EQ(remaining, offset >= 0 && offset < static_cast<int>(length) ? length - offset : 0);
        EXPECT_EQ(held == nullptr, remaining == 0);
        EXPECT_TRUE(!inside || !count ||
                    (!std::memcmp(out.data(), &bytes[offset], count) && !std::memcmp(held, &bytes[offset], count)));
    }
    std::uint64_t read = 99, none = 99;
    // Nothing read without a destination, nor from a stream without a block.
    EXPECT_TRUE(stream.Read(nullptr, 1, &read) && empty.Read(bytes.data(), 0, &none) && read + none == 0 &&
                empty.Write(nullptr, 0, nullptr));
    EXPECT_EQ(capacityOf<std::uint64_t>(&empty, 2 * sizeof(void*)), 1024u);  // a block even for no bytes
    buffer.ClearData();
    buffer.ClearData();
    EXPECT_EQ(buffer.GetDataSize() + capacityOf<std::uint32_t>(&buffer, 0), 0u);
}

// The file stand-in: what each open mode leaves, and the cause and message of failures,
// which fit the caller's buffer, terminator included.
TEST(Containers, FileModesAndFailures)
{
    trxtest::TempDir dir;
    const unsigned create = CFile::modeCreate | CFile::modeWrite;
    // path (in the test folder unless absolute), flags, the cause of the failed open or of
    // writing "ab" to what opened (-1: none), what the file holds after, the message
    const std::tuple<std::string, unsigned, int, std::string, std::string> rows[] = {
        {"old", create, -1, "ab", ""},
        {"old", create | CFile::modeNoTruncate, -1, "abz", ""},
        {"old", CFile::modeReadWrite, -1, "abz", ""},
        {"old", CFile::modeRead, CFileException::invalidFile, "xyz", "Bad file descriptor ("},
        {"none", CFile::modeWrite, CFileException::fileNotFound, "", "No such file or directory ("},
        {"old/x", CFile::modeWrite, CFileException::badPath, "", "Not a directory ("},
        {"/dev/full", CFile::modeWrite, CFileException::diskFull, "", "No space left on device (/dev/full)"},
        {"a\xFF", create, -1, "ab", ""},
    };
    for (const auto& [name, flags, cause, after, message] : rows) {
        SCOPED_TRACE(name);
        trxtest::writeFile(dir.file("old"), {'x', 'y', 'z'});
        const std::string path = name[0] == '/' ? name : dir.file(name);
        CFile file;
        CFileException error, *reported = &error;
        if (file.Open(path.c_str(), flags, &error)) {
            reported = nullptr;
            try {
                file.Write("ab", 2);
                file.Close();
                file.Close();
            } catch (CFileException* e) {
                reported = e;
            }
        }
        ASSERT_EQ(reported ? reported->m_cause : -1, cause);
        wchar_t text[64] = L"";
        EXPECT_EQ(reported && reported->GetErrorMessage(text, 64), cause != -1);
        EXPECT_EQ(utf8ForDisplay(text).rfind(message, 0), 0u) << utf8ForDisplay(text);
        if (reported && reported != &error)
            reported->Delete();
        EXPECT_TRUE(after.empty() || trxtest::readFile(path) == Bytes(after.begin(), after.end()));
        // The name kept for messages shows bytes that are not UTF-8 as U+FFFD.
        EXPECT_TRUE(name != "a\xFF" || file.GetFilePath().back() == L'\uFFFD');
    }
    const CFileException full(CFileException::diskFull, ENOSPC, L"f");
    for (auto [maxChars, text] :
         {std::pair{0u, L"?"}, {1u, L""}, {4u, L"No "}, {40u, L"No space left on device (f)"}}) {
        wchar_t buffer[40] = L"?";
        EXPECT_EQ(full.GetErrorMessage(buffer, maxChars), maxChars > 0) << maxChars;
        EXPECT_EQ(std::wstring(buffer), text) << maxChars;
    }
    wchar_t none[2] = L"?";  // an exception with no cause says nothing
    EXPECT_FALSE(CException().GetErrorMessage(none, 2) || none[0]);
}

}  // namespace
