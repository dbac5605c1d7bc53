#include <gtest/gtest.h>

#include "read/ResolutionRecords.h"
#include "support/ReadFiles.h"
#include "support/TestSupport.h"

using namespace trxtest;

namespace {

constexpr int kApp0 = 0xE0, kApp1 = 0xE1, kApp13 = 0xED;
constexpr std::uint16_t kX = 282, kY = 283, kUnit = 296;

struct Walk {
    double x = 72.0, y = 72.0;
};

Walk walk(const Bytes& bytes)
{
    TempDir dir;
    const std::string path = dir.file("records.jpg");
    writeFile(path, bytes);
    Walk w;
    readJpegResolution(path, w.x, w.y);
    return w;
}

Bytes photoshop300(std::uint16_t unit)
{
    return photoshopPayload({{"8BIM", 1005, "", photoshopResolution(300u << 16, unit, 300u << 16, unit)}});
}

Bytes exif300cmless()
{
    return exifPayload(true, {exifRational(kX, 300, 1), exifRational(kY, 300, 1), exifShort(kUnit, 2)});
}

}  // namespace

TEST(JpegResolution, JfifRecord)
{
    const Walk w = walk(JpegStream().segment(kApp0, jfifPayload(1, 300, 300)).marker(0xD9).bytes());
    EXPECT_EQ(w.x, 300.0);
    EXPECT_EQ(w.y, 300.0);
}

TEST(JpegResolution, LaterRecordOverwritesEarlier)
{
    Walk w = walk(JpegStream().segment(kApp0, jfifPayload(1, 96, 96)).segment(kApp1, exif300cmless()).bytes());
    EXPECT_EQ(w.x, 300.0);
    w = walk(JpegStream().segment(kApp1, exif300cmless()).segment(kApp0, jfifPayload(1, 96, 48)).bytes());
    EXPECT_EQ(w.x, 96.0);
    EXPECT_EQ(w.y, 48.0);
}

TEST(JpegResolution, PhotoshopCountsOnlyWhileNothingWasFound)
{
    Walk w = walk(JpegStream().segment(kApp13, photoshop300(1)).bytes());
    EXPECT_EQ(w.x, 300.0);
    w = walk(JpegStream().segment(kApp0, jfifPayload(1, 96, 96)).segment(kApp13, photoshop300(1)).bytes());
    EXPECT_EQ(w.x, 96.0);
    w = walk(JpegStream().segment(kApp13, photoshop300(2)).segment(kApp13, photoshop300(1)).bytes());
    EXPECT_DOUBLE_EQ(w.x, 762.0);
    // A failed JFIF record does not count as found.
    Bytes badJfif = jfifPayload(1, 96, 96);
    badJfif[0] = 'X';
    w = walk(JpegStream().segment(kApp0, badJfif).segment(kApp13, photoshop300(1)).bytes());
    EXPECT_EQ(w.x, 300.0);
    // Photoshop first, then APP0 and APP1 still overwrite.
    w = walk(JpegStream().segment(kApp13, photoshop300(1)).segment(kApp0, jfifPayload(1, 96, 96)).bytes());
    EXPECT_EQ(w.x, 96.0);
}

TEST(JpegResolution, RecordsInOtherSegmentsAreIgnored)
{
    const Walk w = walk(JpegStream()
                            .segment(0xE2, jfifPayload(1, 300, 300))
                            .segment(0xEE, exif300cmless())
                            .segment(0xFE, photoshop300(1))
                            .bytes());
    EXPECT_EQ(w.x, 72.0);
    EXPECT_EQ(w.y, 72.0);
}

TEST(JpegResolution, FillBytesStandaloneMarkersAndJunkBetweenSegments)
{
    const Walk w = walk(JpegStream()
                            .raw({0x00, 0x12, 0xFF, 0xFF, 0xFF, 0xD0, 0xFF, 0x01, 0x34})
                            .marker(0xD7)
                            .raw({0xFF, 0xFF})
                            .segment(0x00, {1, 2, 3})
                            .segment(0xD8, {})
                            .segment(kApp0, jfifPayload(1, 150, 150))
                            .bytes());
    EXPECT_EQ(w.x, 150.0);
}

TEST(JpegResolution, WalkStopsAtScanAndEnd)
{
    for (int stop : {0xDA, 0xD9}) {
        const Walk w = walk(JpegStream().marker(stop).segment(kApp0, jfifPayload(1, 300, 300)).bytes());
        EXPECT_EQ(w.x, 72.0) << stop;
    }
}

TEST(JpegResolution, LengthsZeroAndOneEndTheWalk)
{
    for (unsigned char low : {0, 1}) {
        const Walk w = walk(JpegStream()
                                .segment(kApp0, jfifPayload(1, 96, 96))
                                .raw({0xFF, 0xE5, 0x00, low})
                                .segment(kApp0, jfifPayload(1, 300, 300))
                                .bytes());
        EXPECT_EQ(w.x, 96.0) << int(low);
    }
    const Walk two = walk(JpegStream().raw({0xFF, 0xE5, 0x00, 0x02}).segment(kApp0, jfifPayload(1, 300, 300)).bytes());
    EXPECT_EQ(two.x, 300.0);
}

TEST(JpegResolution, EveryTruncationKeepsWhatCameBefore)
{
    const Bytes whole = JpegStream().segment(kApp0, jfifPayload(1, 96, 96)).segment(kApp1, exif300cmless()).bytes();
    const std::size_t secondStart = 2 + 4 + jfifPayload(1, 96, 96).size();
    for (std::size_t n = 0; n <= whole.size(); ++n) {
        const Walk w = walk(Bytes(whole.begin(), whole.begin() + static_cast<long>(n)));
        const double expected = n == whole.size() ? 300.0 : n >= secondStart ? 96.0 : 72.0;
        EXPECT_EQ(w.x, expected) << n;
    }
}

TEST(JpegResolution, NotAJpegLeavesDefaults)
{
    EXPECT_EQ(walk({}).x, 72.0);
    EXPECT_EQ(walk({0xFF}).x, 72.0);
    EXPECT_EQ(walk({0xD8, 0xFF}).x, 72.0);
    Bytes png = JpegStream().segment(kApp0, jfifPayload(1, 300, 300)).bytes();
    png[1] = 0xD9;
    EXPECT_EQ(walk(png).x, 72.0);
    double x = 1.5, y = 2.5;
    readJpegResolution("/nonexistent/folder/file.jpg", x, y);
    EXPECT_EQ(x, 1.5);
    EXPECT_EQ(y, 2.5);
}

TEST(JpegResolution, LargestSegment)
{
    Bytes big = photoshop300(1);
    big.resize(65533, 0);
    const Walk w = walk(JpegStream().segment(kApp13, big).bytes());
    EXPECT_EQ(w.x, 300.0);
}
