#pragma once

#include <string>
#include <vector>

#include <TRXImage.h>

namespace trxtest {

// Captures every log line of the process while it lives, then returns the sink to
// standard error.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<std::wstring>& lines() const;
    // The lines as UTF-8, for readable assertion output.
    std::vector<std::string> utf8() const;
    void clear();
};

// A fresh, empty folder for one test, removed when it goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// An RGB image of the given size made with size(), every byte set by `byteAt`.
TarvexImage makeRgbImage(int columns, int rows, unsigned (*byteAt)(int x, int y, int channel));

// The colour bytes of line y (bytesPerLine() of them).
std::vector<unsigned char> lineBytes(TarvexImage& image, int y);
std::vector<unsigned char> alphaLineBytes(TarvexImage& image, int y);

std::vector<unsigned char> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<unsigned char>& bytes);

}  // namespace trxtest
