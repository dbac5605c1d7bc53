#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "read/ResolutionRecords.h"
#include "support/ReadFiles.h"
#include "support/TestSupport.h"

using namespace trxtest;

namespace {

constexpr std::uint16_t kX = 282, kY = 283, kUnit = 296;
constexpr int kApp0 = 0xE0, kApp1 = 0xE1, kApp13 = 0xED, kRaw = -1;
constexpr double kNone = -1;  // the resolution the caller set: no record applied

// A Photoshop record whose resolution resource follows the blocks `before`.
Bytes photoshop(std::uint32_t x, std::uint16_t xUnit, std::uint32_t y, std::uint16_t yUnit,
                std::vector<PhotoshopBlock> before = {})
{
    before.push_back({"8BIM", 1005, "", photoshopResolution(x, xUnit, y, yUnit)});
    return photoshopPayload(before);
}

Bytes exifCm300(bool little)
{
    return exifPayload(little, {exifShort(kUnit, 3), exifRational(kX, 300, 1), exifRational(kY, 300, 1)});
}

// A marker stream of segments; kRaw adds its bytes as they are.
Bytes jpeg(const std::vector<std::pair<int, Bytes>>& parts)
{
    JpegStream stream;
    for (const auto& [code, bytes] : parts)
        code == kRaw ? stream.raw(bytes) : stream.segment(code, bytes);
    return stream.bytes();
}

Bytes changed(Bytes bytes, std::size_t at, unsigned char to) { return bytes.at(at) = to, bytes; }

Bytes cut(const Bytes& bytes, std::size_t n) { return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(n)); }

struct Walk {
    std::string name;
    Bytes file;
    double x = kNone, y = x;  // one value given: both
};

// Walks each file; a record either sets both resolutions or leaves the caller's.
void expectWalks(const std::vector<Walk>& walks)
{
    TempDir dir;
    const std::string path = dir.file("records.jpg");
    for (const Walk& walk : walks) {
        writeFile(path, walk.file);
        double x = kNone, y = kNone;
        readJpegResolution(path, x, y);
        EXPECT_TRUE(std::abs(x - walk.x) + std::abs(y - walk.y) < 1e-9) << walk.name << ": " << x << " " << y;
    }
}

}  // namespace

TEST(ConvertResolution, UnitWords)
{
    // Unitless values past 10000 are scaled down: 10001 stands for every larger one. Units
    // are matched exactly: "IN" stands for every unknown word.
    const std::tuple<const char*, const char*, double> rows[] = {
        {"300", "inch", 300},    {"299.5", "in", 299.5}, {"118.11", "cm", 299.72},
        {"2835.9", "m", 72.009}, {"10000", "2", 10000},  {"10001", "none", 1.0001},
        {"96", "", 96},          {"300", "IN", 72},      {"", "pt", 72}};
    for (const auto& [value, unit, expected] : rows)
        EXPECT_DOUBLE_EQ(convertResolution(value, unit), expected) << value << " " << unit;
    for (const char* unit : {"", "none", "2", "inch", "in", "cm", "m"})
        EXPECT_EQ(convertResolution("", unit), 0.0) << unit;
}

TEST(JpegResolution, RecordsAndTheWalk)
{
    const Bytes jfif96 = jfifPayload(1, 96, 96), jfif300 = jfifPayload(1, 300, 300), exif = exifCm300(true);
    const Bytes psd = photoshop(300u << 16, 1, 300u << 16, 1), psdCm = photoshop(300u << 16, 2, 300u << 16, 2);
    // Stray bytes, fill bytes, restart markers and TEM, then segments coded 00 and D8.
    const Bytes junk = {0,    0x12, 0xFF, 0xFF, 0xFF, 0xD0, 0xFF, 1, 0x34, 0xFF, 0xD7, 0xFF,
                        0xFF, 0xFF, 0,    0,    5,    1,    2,    3, 0xFF, 0xD8, 0,    2};
    Bytes largest = psd;
    largest.resize(65533);
    std::vector<Walk> walks = {
        {"jfif unknown unit", jpeg({{kApp0, jfifPayload(7, 200, 100)}}), 200, 100},
        {"jfif zero density", jpeg({{kApp0, jfifPayload(1, 0, 0)}}), 0},
        // Centimetres apply to the aspect ratio's 72 too.
        {"jfif aspect ratio per cm", jpeg({{kApp0, jfifPayload(2, 1, 1)}}), 182.88},
        {"jfif aspect 1:300", jpeg({{kApp0, jfifPayload(1, 1, 300)}}), 72},
        {"jfif aspect 300:1", jpeg({{kApp0, jfifPayload(0, 300, 1)}}), 72},
        {"psd units apart", jpeg({{kApp13, photoshop(0x12C8000, 1, 150u << 16, 2)}}), 300.5, 381},
        {"psd short", jpeg({{kApp13, photoshop(96u << 16, 1, 96u << 16, 1, {{"8BIM", 1005, "", Bytes(15)}})}}), 96},
        {"psd without resolution", jpeg({{kApp13, photoshopPayload({{"8BIM", 1000, "", Bytes(16, 1)}})}})},
        {"jfif after exif", jpeg({{kApp1, exif}, {kApp0, jfifPayload(1, 96, 48)}}), 96, 48},
        {"psd after jfif", jpeg({{kApp0, jfif96}, {kApp13, psd}}), 96},
        {"first psd counts, per cm", jpeg({{kApp13, psdCm}, {kApp13, psd}}), 762},
        {"psd after a failed jfif", jpeg({{kApp0, changed(jfif96, 0, 'X')}, {kApp13, psd}}), 300},
        {"jfif after psd", jpeg({{kApp13, psd}, {kApp0, jfif96}}), 96},
        {"records in other segments", jpeg({{0xE2, jfif300}, {0xEE, exif}, {0xFE, psd}})},
        {"fill, standalone markers, junk, codes 00 and D8", jpeg({{kRaw, junk}, {kApp0, jfif96}}), 96},
        {"scan ends the walk", jpeg({{kRaw, {0xFF, 0xDA}}, {kApp0, jfif300}})},
        {"end of image ends the walk", jpeg({{kRaw, {0xFF, 0xD9}}, {kApp0, jfif300}})},
        {"length 0 ends the walk", jpeg({{kApp0, jfif96}, {kRaw, {0xFF, 0xE5, 0, 0}}, {kApp0, jfif300}}), 96},
        {"length 1 ends the walk", jpeg({{kApp0, jfif96}, {kRaw, {0xFF, 0xE5, 0, 1}}, {kApp0, jfif300}}), 96},
        {"length 2", jpeg({{kRaw, {0xFF, 0xE5, 0, 2}}, {kApp0, jfif300}}), 300},
        {"largest segment", jpeg({{kApp13, largest}}), 300},
        {"no start of image", {0xD8, 0xFF}},
        {"end instead of start", changed(jpeg({{kApp0, jfif300}}), 1, 0xD9)}};
    // Names and data of every parity before the resource: pad bytes are skipped.
    for (std::string name : {"", "a", "ab", "abc", "abcd"})
        for (std::size_t n : {0u, 1u, 2u, 3u, 17u})
            walks.push_back({name + " of " + std::to_string(n),
                             jpeg({{kApp13, photoshop(200u << 16, 1, 1u << 16, 1, {{"8BIM", 1000, name, Bytes(n)}})}}),
                             200, 1});
    for (bool little : {true, false}) {
        const std::string order = little ? " II" : " MM";
        const auto add = [&](const char* name, std::vector<ExifField> fields, double x = kNone, double y = kNone,
                             int claimed = -1) {
            walks.push_back({name + order, jpeg({{kApp1, exifPayload(little, fields, claimed)}}), x, y});
        };
        add("per inch", {exifRational(kX, 600, 2), exifRational(kY, 150, 1), exifShort(kUnit, 2)}, 300, 150);
        add("x alone per cm", {exifRational(kX, 200, 1), exifShort(kUnit, 3)}, 508, 508);
        add("y alone", {exifRational(kY, 96, 1)}, 96, 96);
        // A zero denominator is passed over, not taken as no record or as 0.
        add("zero denominator passed over", {exifRational(kX, 300, 0), exifRational(kY, 100, 1)}, 100, 100);
        add("resolution as LONG", {{kX, 4, 1, 300, 0, 0}});
        add("resolution count 0", {{kY, 5, 0, 0, 300, 1}});
        add("unit as LONG", {exifRational(kX, 300, 1), {kUnit, 4, 1, 3, 0, 0}}, 300, 300);
        add("unit count 0", {exifRational(kX, 300, 1), {kUnit, 3, 0, 3, 0, 0}}, 300, 300);
        add("no entries", {exifRational(kX, 300, 1)}, kNone, kNone, 0);
        // Twenty entries claimed, three held: the three are read.
        add("directory cut short", {exifRational(kX, 100, 1), exifShort(256, 1), exifShort(kUnit, 3)}, 254, 254, 20);
    }
    expectWalks(walks);
    double x = kNone, y = kNone;
    readJpegResolution(TempDir().file("missing.jpg"), x, y);
    EXPECT_EQ(x + y, 2 * kNone);
}

// Every cut of a valid record is absent until it holds what the answer needs, and so is
// the record with any byte of its signature changed. A cut file keeps what came before.
TEST(JpegResolution, EveryCutAndEverySignatureByte)
{
    const Bytes exifII = exifCm300(true), exifMM = exifCm300(false);
    const Bytes psd = photoshop(300u << 16, 1, 300u << 16, 1, {{"8BIM", 1000, "name", Bytes(5, 9)}});
    // Code, payload, signature length, shortest cut that gives `resolution` (without the
    // Y rational the answer is the same), resolution.
    const std::tuple<int, Bytes, std::size_t, std::size_t, double> rows[] = {
        {kApp0, jfifPayload(1, 300, 300), 5, 12, 300},
        {kApp1, exifII, 10, exifII.size() - 8, 762},
        {kApp1, exifMM, 10, exifMM.size() - 8, 762},
        {kApp13, psd, 18, psd.size(), 300}};
    std::vector<Walk> walks;
    for (const auto& [code, payload, signature, shortest, resolution] : rows) {
        const std::string name = std::to_string(code) + " of " + std::to_string(payload.size());
        for (std::size_t n = 0; n <= payload.size(); ++n)
            walks.push_back({name + " cut at " + std::to_string(n), jpeg({{code, cut(payload, n)}}),
                             n >= shortest ? resolution : kNone});
        for (std::size_t i = 0; i < signature; ++i)
            walks.push_back({name + " byte " + std::to_string(i), jpeg({{code, changed(payload, i, payload[i] ^ 1)}})});
    }
    const Bytes jfif96 = jfifPayload(1, 96, 96), whole = jpeg({{kApp0, jfif96}, {kApp1, exifMM}});
    for (std::size_t n = 0; n <= whole.size(); ++n)
        walks.push_back({"file cut at " + std::to_string(n), cut(whole, n),
                         n == whole.size()        ? 762
                         : n >= 6 + jfif96.size() ? 96
                                                  : kNone});
    expectWalks(walks);
}
