#include <tuple>

#include <gtest/gtest.h>

#include "support/OpsImages.h"

namespace {

unsigned long rgb(unsigned b0, unsigned b1, unsigned b2) { return b0 | (b1 << 8) | (b2 << 16); }

// Sizing the list replaces it with zeros; indices outside it read as white and store nothing.
TEST(ColourMap, NearestIsTheFirstEntryOfSmallestSummedByteDistance)
{
    const std::tuple<const char*, std::vector<unsigned long>, unsigned long, int> rows[] = {
        {"empty list", {}, 0, -1},
        {"mid grey: 384 against 381", {rgb(0, 0, 0), rgb(255, 255, 255)}, rgb(128, 128, 128), 1},
        {"a step darker: 381 against 384", {rgb(0, 0, 0), rgb(255, 255, 255)}, rgb(127, 127, 127), 0},
        {"byte 0 counts", {0, rgb(1, 0, 0)}, rgb(1, 0, 0), 1},
        {"byte 1 counts", {0, rgb(0, 1, 0)}, rgb(0, 1, 0), 1},
        {"byte 2 counts", {0, rgb(0, 0, 1)}, rgb(0, 0, 1), 1},
        {"distances add up", {rgb(70, 0, 0), rgb(0, 0, 70), rgb(20, 20, 20)}, 0, 2},
        {"a tie goes to the lowest index", {rgb(255, 0, 0), rgb(0, 0, 255), rgb(0, 255, 0)}, 0, 0},
        {"a later tie does not replace", {rgb(255, 255, 0), rgb(0, 0, 255), rgb(0, 255, 0)}, 0, 1},
        {"top byte of the query ignored", {rgb(1, 1, 1), 0}, 0xFF000000ul, 1},
        {"top byte of an entry ignored", {rgb(1, 1, 1), 0xFF000000ul}, 0, 1},
    };
    for (const auto& [name, map, query, nearest] : rows) {
        SCOPED_TRACE(name);
        TarvexImage image;
        image.colourMapSize(7);
        image.colourMap(0, 1);
        image.colourMapSize(unsigned(map.size()));
        EXPECT_EQ(image.colourMap(0), map.empty() ? 0xFFFFFFul : 0ul);
        for (int i = -1; i <= int(map.size()); ++i)
            image.colourMap(i, i >= 0 && i < int(map.size()) ? map[std::size_t(i)] : 0);
        EXPECT_EQ(image.FindNearestColourMap(query), nearest);
        for (int i = -1; i <= int(map.size()); ++i)
            EXPECT_EQ(image.colourMap(i), i >= 0 && i < int(map.size()) ? map[std::size_t(i)] : 0xFFFFFFul) << i;
    }
}

// An opaque alpha strip beside each colour strip, as long as the lines it covers; the
// colour bytes stay.
TEST(Matte, TrueAddsAnOpaquePlaneStripBesideStrip)
{
    std::mt19937 random(1);
    const std::tuple<trxtest::Plane, int, std::vector<std::size_t>> rows[] = {{{5, 10, 3, &random}, 3, {20, 20, 10}},
                                                                              {{3, 2, 3, &random}, 5, {3, 3, 0, 0, 0}}};
    for (const auto& [colour, strips, sizes] : rows) {
        TarvexImage image = trxtest::makeImage(TarvexImage::colourSpaceRGB, colour, strips);
        auto expected = trxtest::snapshot(image);
        expected.first[5] = true;  // matte()
        for (std::size_t size : sizes)
            expected.second.emplace_back(size, 255);
        image.matte(true);
        EXPECT_EQ(trxtest::snapshot(image), expected) << strips;
    }
}

}  // namespace
