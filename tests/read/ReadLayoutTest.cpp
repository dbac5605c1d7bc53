#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "read/ReadLayout.h"

TEST(ReadLayout, StripsLimitsAndRefusals)
{
    constexpr std::uint64_t P = UINT64_MAX;  // plenty of memory
    const wchar_t *line = L"a line longer than 2147483647 bytes", *memory = L"more memory than this machine has",
                  *negative = L"negative dimensions", *pixel = L"an unsupported pixel size";
    const struct {
        std::int64_t columns, rows;
        int bytesPerPixel;
        bool alpha;
        std::uint64_t memory;
        const wchar_t* refusal;
        std::int64_t strips = 0, linesPerStrip = 0;
        std::uint64_t totalBytes = 0;
    } rows[] = {{2, 3, 3, false, P, nullptr, 1, 3, 18},
                {0, 5, 3, false, P, nullptr, 1, 5, 0},
                {100, 0, 3, true, P, nullptr, 0, 0, 0},
                // 16 MiB of lines is one strip, and so is anything short of twice that.
                {4096, 4096, 1, false, P, nullptr, 1, 4096, 1u << 24},
                {4096, 8191, 1, false, P, nullptr, 1, 8191, 8191u * 4096},
                {4096, 8192, 1, false, P, nullptr, 2, 4096, 2u << 24},
                {6000, 3000, 4, true, P, nullptr, 4, 750, 4u * 750 * 30000},
                {10000000, 3, 3, false, P, nullptr, 3, 1, 90000000},  // a strip a line
                // Sized for whole strips of lines: the last strip is as large as the others.
                {2048, 8194, 3, true, 3u * 2732 * 8192, nullptr, 3, 2732, 3u * 2732 * 8192},
                {2048, 8194, 3, true, 3u * 2732 * 8192 - 1, memory},
                {715827882, 1, 3, false, P, nullptr, 1, 1, 2147483646},
                {715827883, 1, 3, false, P, line},
                {-1, 5, 3, false, P, negative},
                {5, -1, 3, false, P, negative},
                {5, 5, 0, false, P, pixel},
                {5, 5, 5, false, P, pixel}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.columns) + " x " + std::to_string(row.rows) + " x " +
                     std::to_string(row.bytesPerPixel) + (row.alpha ? " + alpha" : ""));
        ReadLayout layout;
        layout.strips = -7;
        EXPECT_STREQ(planReadLayout(row.columns, row.rows, row.bytesPerPixel, row.alpha, row.memory, layout),
                     row.refusal);
        EXPECT_EQ(layout.strips, row.refusal ? -7 : row.strips);  // a refusal leaves the layout alone
        if (row.refusal)
            continue;
        EXPECT_EQ(
            std::make_tuple(layout.linesPerStrip, layout.bytesPerLine, layout.alphaBytesPerLine, layout.totalBytes),
            std::make_tuple(row.linesPerStrip, row.columns * row.bytesPerPixel, row.alpha ? row.columns : 0,
                            row.totalBytes));
    }
}
