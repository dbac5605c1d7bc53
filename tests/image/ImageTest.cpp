#include <gtest/gtest.h>

#include <tuple>

#include "image/ImageImpl.h"
#include "support/TestSupport.h"

namespace {

TEST(Image, NewImageAndItsColourSpaces)
{
    TarvexImage image;
    EXPECT_FALSE(image.valid() || image.hasValidData() || image.stripCount() || image.fileSize());
    // Colour space (0: as made), bits per pixel, CMYK.
    const std::tuple<int, int, bool> rows[] = {{0, 24, false}, {9, 32, true}, {5, 24, false},
                                               {8, 8, false},  {1, 1, false}, {42, 24, false}};
    for (const auto& [space, bits, cmyk] : rows) {
        if (space)
            image.colourSpace(static_cast<TarvexImage::colourSpaceType>(space), true);
        EXPECT_EQ(
            std::make_tuple(int(image.colourSpace()), image.bitsPerPixel(), TarvexImageAccess::impl(image).isCMYK),
            std::make_tuple(space, bits, cmyk));
    }
    image.size(1000, 10, 0, 0, nullptr, nullptr);
    EXPECT_TRUE(image.valid() && image.fileSize() == 30000);
}

// Operations check once that the strips hold every line, whatever strips a host placed.
TEST(Image, StripsCoverEveryLine)
{
    // Strip sizes, lines, lines a strip, bytes a line; whether the strips hold them.
    const std::tuple<std::vector<std::size_t>, std::int64_t, std::int64_t, std::int64_t, bool> rows[] = {
        {{}, 0, 0, 3, true},           {{30, 30}, 20, 10, 3, true}, {{30, 29}, 20, 10, 3, false},
        {{30, 6}, 12, 10, 3, true},    {{30}, 20, 10, 3, false},    {{30, 30}, 20, 0, 3, false},
        {{30, 30}, 20, 10, -1, false}, {{30, 30}, 20, 10, 0, true}};
    for (const auto& [sizes, lines, linesPerStrip, lineBytes, covered] : rows) {
        StripVector strips(sizes.size());
        for (std::size_t i = 0; i < strips.size(); ++i)
            strips[i].ReSize(sizes[i]);
        EXPECT_EQ(stripsCoverLines(strips, lines, linesPerStrip, lineBytes), covered)
            << lines << " lines of " << lineBytes << ", " << linesPerStrip << " a strip";
    }
}

}  // namespace
