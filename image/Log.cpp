#include "image/Log.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <mutex>
#include <string>
#include <vector>

#include "TRXImage.h"
#include "image/TextConversion.h"

TRXImage::TRXImageLog* theLog = nullptr;

TRXImage::TRXImageLog::~TRXImageLog() { theLog = nullptr; }

TRXImage::TRXImageLog& logSink()
{
    // The first creation is made thread-safe, lifting that limit for hosts.
    static std::once_flag created;
    std::call_once(created, [] {
        if (!theLog)
            theLog = new TRXImage::TRXImageLog;
    });
    if (!theLog)
        theLog = new TRXImage::TRXImageLog;
    return *theLog;
}

namespace {

// vswprintf reports a too-small buffer only as failure, so grow until it fits; a
// format that fails for another reason is delivered as it stands.
std::wstring formatMessage(const wchar_t* format, va_list args)
{
    if (!format)
        return std::wstring();
    constexpr std::size_t kLimit = std::size_t(1) << 26;
    std::vector<wchar_t> buffer(512);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        const int n = std::vswprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        if (n >= 0)
            return std::wstring(buffer.data(), static_cast<std::size_t>(n));
        if (buffer.size() >= kLimit)
            return std::wstring(format);
        buffer.resize(buffer.size() * 4);
    }
}

}  // namespace

void LogMessage(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    std::wstring line = L"[TRXImage] ";
    line += formatMessage(format, args);
    va_end(args);
    if (line.back() != L'\n')
        line += L'\n';

    TRXImage::TRXImageLog& sink = logSink();
    if (sink.logFunction) {
        sink.logFunction(line.c_str());
        return;
    }
    // A wide write fails on a byte-oriented stream: send UTF-8 bytes.
    const std::string bytes = utf8ForDisplay(line);
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    std::fflush(stderr);
}

void TarvexImage::SetLog(void (*function)(const wchar_t* line)) { logSink().logFunction = function; }
