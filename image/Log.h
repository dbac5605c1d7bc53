#pragma once

namespace TRXImage {

// The process-wide log sink. Created on first use and never destroyed by the library.
class TRXImageLog {
public:
    virtual ~TRXImageLog();
    void (*logFunction)(const wchar_t* line) = nullptr;
};

}  // namespace TRXImage

extern TRXImage::TRXImageLog* theLog;

// Formats one message (wide printf style: %ls for wide strings) and delivers the line
// "[TRXImage] " + message + "\n" to the host's function or to standard error.
void LogMessage(const wchar_t* format, ...);

// The sink, created on first use.
TRXImage::TRXImageLog& logSink();
