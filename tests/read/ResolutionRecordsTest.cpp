#include <gtest/gtest.h>

#include <cstring>

#include "read/ResolutionRecords.h"
#include "support/ReadFiles.h"

using namespace trxtest;

namespace {

constexpr std::uint16_t kX = 282, kY = 283, kUnit = 296;

struct Result {
    bool ok;
    double x, y;
};

template <class Parser>
Result run(Parser parse, const Bytes& payload)
{
    Result r{false, -1.0, -2.0};
    r.ok = parse(payload, r.x, r.y);
    return r;
}

}  // namespace

TEST(ConvertResolution, UnitWords)
{
    EXPECT_DOUBLE_EQ(convertResolution("300", "inch"), 300.0);
    EXPECT_DOUBLE_EQ(convertResolution("300", "in"), 300.0);
    EXPECT_DOUBLE_EQ(convertResolution("299.5", "in"), 299.5);
    EXPECT_DOUBLE_EQ(convertResolution("118.11", "cm"), 118 * 2.54);  // fraction dropped first
    EXPECT_NEAR(convertResolution("2835", "m"), 72.009, 1e-9);
    EXPECT_DOUBLE_EQ(convertResolution("3000000", "2"), 300.0);
    EXPECT_DOUBLE_EQ(convertResolution("300", "2"), 300.0);
    EXPECT_DOUBLE_EQ(convertResolution("10000", "2"), 10000.0);
    EXPECT_DOUBLE_EQ(convertResolution("10001", "none"), 1.0001);
    EXPECT_DOUBLE_EQ(convertResolution("96", ""), 96.0);
    EXPECT_DOUBLE_EQ(convertResolution("300", "dpi"), 72.0);
    EXPECT_DOUBLE_EQ(convertResolution("300", "IN"), 72.0);  // case matters
    EXPECT_DOUBLE_EQ(convertResolution("", "cm"), 0.0);
}

TEST(ConvertResolution, AbsentValueIsZeroForEveryUnitThatReadsIt)
{
    for (const char* unit : {"", "none", "2", "inch", "in", "cm", "m"})
        EXPECT_EQ(convertResolution("", unit), 0.0) << unit;
    EXPECT_EQ(convertResolution("", "pt"), 72.0);
}

TEST(JfifRecord, DensitiesAndUnits)
{
    auto r = run(parseJfifDensity, jfifPayload(1, 300, 300));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.x, 300.0);
    EXPECT_EQ(r.y, 300.0);

    r = run(parseJfifDensity, jfifPayload(2, 118, 118));
    EXPECT_DOUBLE_EQ(r.x, 299.72);
    EXPECT_DOUBLE_EQ(r.y, 299.72);

    r = run(parseJfifDensity, jfifPayload(0, 1, 1));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.x, 72.0);
    EXPECT_EQ(r.y, 72.0);

    r = run(parseJfifDensity, jfifPayload(2, 1, 1));
    EXPECT_DOUBLE_EQ(r.x, 182.88);
    EXPECT_DOUBLE_EQ(r.y, 182.88);

    r = run(parseJfifDensity, jfifPayload(7, 200, 100));
    EXPECT_EQ(r.x, 200.0);
    EXPECT_EQ(r.y, 100.0);

    r = run(parseJfifDensity, jfifPayload(1, 1, 300));  // an aspect ratio
    EXPECT_EQ(r.x, 72.0);
    EXPECT_EQ(r.y, 72.0);

    r = run(parseJfifDensity, jfifPayload(1, 0, 0));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.x, 0.0);
}

TEST(JfifRecord, EveryTruncationBelowTwelveBytesIsAbsent)
{
    const Bytes whole = jfifPayload(1, 300, 300);
    for (std::size_t n = 0; n < 12; ++n) {
        const auto r = run(parseJfifDensity, Bytes(whole.begin(), whole.begin() + static_cast<long>(n)));
        EXPECT_FALSE(r.ok) << n;
        EXPECT_EQ(r.x, -1.0);
    }
    EXPECT_TRUE(run(parseJfifDensity, Bytes(whole.begin(), whole.begin() + 12)).ok);
}

TEST(JfifRecord, WrongSignatureIsAbsent)
{
    for (std::size_t i = 0; i < 5; ++i) {
        Bytes p = jfifPayload(1, 300, 300);
        p[i] ^= 0x20;
        EXPECT_FALSE(run(parseJfifDensity, p).ok) << i;
    }
}

TEST(ExifRecord, BothByteOrdersGiveTheSameResult)
{
    const std::vector<ExifField> fields{exifRational(kX, 600, 2), exifRational(kY, 150, 1), exifShort(kUnit, 2)};
    for (bool little : {true, false}) {
        const auto r = run(parseExifResolution, exifPayload(little, fields));
        EXPECT_TRUE(r.ok) << little;
        EXPECT_EQ(r.x, 300.0);
        EXPECT_EQ(r.y, 150.0);
    }
}

TEST(ExifRecord, OneAxisServesBoth)
{
    for (bool little : {true, false}) {
        auto r = run(parseExifResolution, exifPayload(little, {exifRational(kX, 200, 1), exifShort(kUnit, 3)}));
        EXPECT_TRUE(r.ok);
        EXPECT_DOUBLE_EQ(r.x, 508.0);
        EXPECT_DOUBLE_EQ(r.y, 508.0);
        r = run(parseExifResolution, exifPayload(little, {exifRational(kY, 96, 1)}));
        EXPECT_EQ(r.x, 96.0);
        EXPECT_EQ(r.y, 96.0);
    }
}

TEST(ExifRecord, ZeroDenominatorPassesTheEntryOver)
{
    EXPECT_FALSE(run(parseExifResolution, exifPayload(true, {exifRational(kX, 300, 0)})).ok);
    const auto r = run(parseExifResolution, exifPayload(false, {exifRational(kX, 300, 0), exifRational(kY, 100, 1)}));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.x, 100.0);
}

TEST(ExifRecord, WrongTypesAndZeroCountsArePassedOver)
{
    ExifField x = exifRational(kX, 300, 1);
    x.type = 4;
    EXPECT_FALSE(run(parseExifResolution, exifPayload(true, {x})).ok);
    ExifField y = exifRational(kY, 300, 1);
    y.count = 0;
    EXPECT_FALSE(run(parseExifResolution, exifPayload(true, {y})).ok);
    ExifField unit = exifShort(kUnit, 3);
    unit.type = 4;
    const auto r = run(parseExifResolution, exifPayload(true, {exifRational(kX, 300, 1), unit}));
    EXPECT_EQ(r.x, 300.0);
}

TEST(ExifRecord, HeaderDefectsAreAbsent)
{
    const Bytes good = exifPayload(true, {exifRational(kX, 300, 1)});
    ASSERT_TRUE(run(parseExifResolution, good).ok);
    for (std::size_t at : {0u, 3u, 4u, 5u, 6u, 7u, 8u}) {
        Bytes p = good;
        p[at] ^= 0x01;
        EXPECT_FALSE(run(parseExifResolution, p).ok) << at;
    }
    Bytes mixed = good;
    mixed[7] = 'M';  // "IM" is no byte order
    EXPECT_FALSE(run(parseExifResolution, mixed).ok);
    Bytes noEntries = exifPayload(true, {exifRational(kX, 300, 1)}, 0);
    EXPECT_FALSE(run(parseExifResolution, noEntries).ok);
}

TEST(ExifRecord, IfdOffsetBeyondThePayload)
{
    Bytes p = exifPayload(true, {exifRational(kX, 300, 1)});
    for (std::uint32_t offset : {0xFFFFFFFFu, 0xFFFFFFF8u, static_cast<std::uint32_t>(p.size())}) {
        p[10] = static_cast<unsigned char>(offset);
        p[11] = static_cast<unsigned char>(offset >> 8);
        p[12] = static_cast<unsigned char>(offset >> 16);
        p[13] = static_cast<unsigned char>(offset >> 24);
        EXPECT_FALSE(run(parseExifResolution, p).ok) << offset;
    }
}

TEST(ExifRecord, ValueOffsetBeyondThePayloadPassesTheEntryOver)
{
    Bytes p = exifPayload(true, {exifRational(kX, 300, 1), exifRational(kY, 200, 1)});
    // Point XResolution's value at the very end.
    const std::uint32_t v = static_cast<std::uint32_t>(p.size()) - 13;
    std::memcpy(&p[6 + 8 + 2 + 8], &v, 4);
    const auto r = run(parseExifResolution, p);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.x, 200.0);
    EXPECT_EQ(r.y, 200.0);
}

TEST(ExifRecord, DirectoryClaimingMoreEntriesThanItHolds)
{
    // Five entries, twenty claimed: the loop stops where the payload ends.
    std::vector<ExifField> fields{exifRational(kX, 100, 1)};
    for (int i = 0; i < 3; ++i)
        fields.push_back(exifShort(static_cast<std::uint16_t>(0x100 + i), 1));
    fields.push_back(exifShort(kUnit, 3));
    for (bool little : {true, false}) {
        const auto r = run(parseExifResolution, exifPayload(little, fields, 20));
        EXPECT_TRUE(r.ok);
        EXPECT_DOUBLE_EQ(r.x, 254.0);
        EXPECT_DOUBLE_EQ(r.y, 254.0);
    }
}

TEST(ExifRecord, EveryTruncationIsAbsentOrAnswerNeverOverrun)
{
    const Bytes whole = exifPayload(true, {exifShort(kUnit, 3), exifRational(kX, 300, 1), exifRational(kY, 300, 1)});
    for (std::size_t n = 0; n <= whole.size(); ++n) {
        const auto r = run(parseExifResolution, Bytes(whole.begin(), whole.begin() + static_cast<long>(n)));
        if (n < whole.size() - 8) {
            EXPECT_FALSE(r.ok) << n;
            EXPECT_EQ(r.x, -1.0);
        } else {
            EXPECT_TRUE(r.ok) << n;
            EXPECT_DOUBLE_EQ(r.x, 762.0);
        }
    }
}

TEST(PhotoshopRecord, ResolutionResource)
{
    auto r = run(parsePhotoshopResolution,
                 photoshopPayload({{"8BIM", 1005, "", photoshopResolution(300u << 16, 1, 300u << 16, 1)}}));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.x, 300.0);
    EXPECT_EQ(r.y, 300.0);
    r = run(parsePhotoshopResolution,
            photoshopPayload({{"8BIM", 1005, "", photoshopResolution(300u << 16, 2, 300u << 16, 2)}}));
    EXPECT_DOUBLE_EQ(r.x, 762.0);
    EXPECT_DOUBLE_EQ(r.y, 762.0);
    r = run(parsePhotoshopResolution,
            photoshopPayload({{"8BIM", 1005, "", photoshopResolution(0x12C8000, 1, 150u << 16, 2)}}));
    EXPECT_DOUBLE_EQ(r.x, 300.5);
    EXPECT_DOUBLE_EQ(r.y, 381.0);
}

TEST(PhotoshopRecord, SkipsBlocksOfOddSizesAndPaddedNames)
{
    for (std::string name : {"", "a", "ab", "abc", "abcd"}) {
        for (std::size_t size : {0u, 1u, 2u, 3u, 17u}) {
            const Bytes payload =
                photoshopPayload({{"8BIM", 1000, name, Bytes(size, 0x55)},
                                  {"8BIM", 1005, name, photoshopResolution(200u << 16, 1, 100u << 16, 1)}});
            const auto r = run(parsePhotoshopResolution, payload);
            EXPECT_TRUE(r.ok) << name << " " << size;
            EXPECT_EQ(r.x, 200.0);
            EXPECT_EQ(r.y, 100.0);
        }
    }
}

TEST(PhotoshopRecord, ShortResolutionResourceIsSkipped)
{
    const Bytes payload = photoshopPayload(
        {{"8BIM", 1005, "", Bytes(15, 0)}, {"8BIM", 1005, "", photoshopResolution(96u << 16, 1, 96u << 16, 1)}});
    EXPECT_EQ(run(parsePhotoshopResolution, payload).x, 96.0);
}

TEST(PhotoshopRecord, WrongSignaturesFail)
{
    EXPECT_FALSE(run(parsePhotoshopResolution,
                     photoshopPayload({{"8BIX", 1000, "", Bytes(4, 0)},
                                       {"8BIM", 1005, "", photoshopResolution(300u << 16, 1, 300u << 16, 1)}}))
                     .ok);
    Bytes p = photoshopPayload({{"8BIM", 1005, "", photoshopResolution(300u << 16, 1, 300u << 16, 1)}});
    p[12] = '1';  // "Photoshop 3.1"
    EXPECT_FALSE(run(parsePhotoshopResolution, p).ok);
}

TEST(PhotoshopRecord, NoResolutionResourceFails)
{
    EXPECT_FALSE(run(parsePhotoshopResolution, photoshopPayload({{"8BIM", 1000, "", Bytes(16, 1)}})).ok);
    EXPECT_FALSE(run(parsePhotoshopResolution, photoshopPayload({})).ok);
}

TEST(PhotoshopRecord, HugeDataSizeFails)
{
    Bytes p = photoshopPayload(
        {{"8BIM", 1000, "", Bytes(4, 0)}, {"8BIM", 1005, "", photoshopResolution(300u << 16, 1, 300u << 16, 1)}});
    for (std::uint32_t size : {0xFFFFFFFFu, 0xFFFFFFF0u, 0x80000000u}) {
        p[14 + 8] = static_cast<unsigned char>(size >> 24);
        p[14 + 9] = static_cast<unsigned char>(size >> 16);
        p[14 + 10] = static_cast<unsigned char>(size >> 8);
        p[14 + 11] = static_cast<unsigned char>(size);
        EXPECT_FALSE(run(parsePhotoshopResolution, p).ok) << size;
    }
}

TEST(PhotoshopRecord, EveryTruncationFailsWithoutWriting)
{
    const Bytes whole = photoshopPayload(
        {{"8BIM", 1000, "name", Bytes(5, 9)}, {"8BIM", 1005, "", photoshopResolution(300u << 16, 1, 300u << 16, 1)}});
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const auto r = run(parsePhotoshopResolution, Bytes(whole.begin(), whole.begin() + static_cast<long>(n)));
        EXPECT_FALSE(r.ok) << n;
        EXPECT_EQ(r.x, -1.0) << n;
        EXPECT_EQ(r.y, -2.0) << n;
    }
    EXPECT_TRUE(run(parsePhotoshopResolution, whole).ok);
}
