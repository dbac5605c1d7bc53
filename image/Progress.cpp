#include "TRXImage.h"
#include "image/TextConversion.h"

TarvexImageProgress::~TarvexImageProgress() = default;

bool TarvexImageProgress::progressMonitor(const wchar_t*, std::int64_t, std::int64_t) { return true; }

bool TarvexImageProgress::progressMonitor(const char* text, std::int64_t a, std::int64_t b)
{
    const Utf8ToWide wide(text);
    return progressMonitor(wide.c_str(), a, b);
}
