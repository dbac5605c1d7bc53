#include "read/ReadLayout.h"

#include <unistd.h>

#include <algorithm>

const wchar_t* planReadLayout(std::int64_t columns, std::int64_t rows, int bytesPerPixel, bool alpha,
                              std::uint64_t memoryLimit, ReadLayout& out)
{
    if (columns < 0 || rows < 0)
        return L"negative dimensions";
    if (bytesPerPixel < 1 || bytesPerPixel > 4)
        return L"an unsupported pixel size";
    if (columns > kLargest32 / bytesPerPixel)
        return L"a line longer than 2147483647 bytes";
    ReadLayout plan;
    plan.bytesPerLine = bytesPerPixel * columns;
    plan.alphaBytesPerLine = alpha ? columns : 0;
    plan.strips = rows * plan.bytesPerLine / kStripTarget;
    if (plan.strips == 0 && rows != 0)
        plan.strips = 1;
    // Lines wider than a strip's target would ask for more strips than lines; a strip
    // without a line serves no purpose.
    plan.strips = std::min(plan.strips, rows);
    if (plan.strips >= 1) {
        plan.linesPerStrip = (rows - 1 + plan.strips) / plan.strips;
        if (plan.bytesPerLine > 0 && plan.linesPerStrip > kLargest32 / plan.bytesPerLine)
            return L"a strip larger than 2147483647 bytes";
    }
    const std::uint64_t perStrip = static_cast<std::uint64_t>(plan.linesPerStrip) *
                                   static_cast<std::uint64_t>(plan.bytesPerLine + plan.alphaBytesPerLine);
    plan.totalBytes = perStrip * static_cast<std::uint64_t>(plan.strips);
    if (plan.totalBytes > memoryLimit)
        return L"more memory than this machine has";
    out = plan;
    return nullptr;
}

std::uint64_t physicalMemory()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return UINT64_MAX;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}
