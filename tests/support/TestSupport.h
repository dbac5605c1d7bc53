#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <TRXImage.h>

#include "image/TextConversion.h"

namespace trxtest {

using Bytes = std::vector<unsigned char>;

// Captures every log line of the process while it lives, then returns the sink to
// standard error.
class LogCapture {
public:
    LogCapture()
    {
        clear();
        TarvexImage::SetLog([](const wchar_t* line) { captured_.emplace_back(line); });
    }
    ~LogCapture() { TarvexImage::SetLog(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    const std::vector<std::wstring>& lines() const { return captured_; }
    void clear() { captured_.clear(); }
    // The lines as UTF-8, for readable assertion output.
    std::vector<std::string> utf8() const
    {
        std::vector<std::string> out;
        for (const auto& line : captured_)
            out.push_back(utf8ForDisplay(line));
        return out;
    }

private:
    static inline std::vector<std::wstring> captured_;
};

// A fresh, empty folder for one test under $TRX_TEST_TMP (else the system's), removed
// when it goes.
class TempDir {
public:
    TempDir()
    {
        const char* base = std::getenv("TRX_TEST_TMP");
        const std::filesystem::path root = base ? base : std::filesystem::temp_directory_path();
        std::filesystem::create_directories(root);
        path_ = (root / "trxtest-XXXXXX").string();
        if (!mkdtemp(path_.data()))
            throw std::runtime_error("cannot make a temporary folder");
    }
    ~TempDir() { std::filesystem::remove_all(path_, ignored_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
    std::error_code ignored_;  // a folder that cannot go is left behind
};

// The colour bytes of line y (bytesPerLine() of them); none when there is no line y.
inline Bytes lineBytes(TarvexImage& image, int y)
{
    TarvexImage::LinePointer line;
    return image.setupLinePointer(line, y) ? Bytes(line.get(), line.get() + image.bytesPerLine()) : Bytes();
}

inline Bytes alphaLineBytes(TarvexImage& image, int y)
{
    TarvexImage::LinePointer line;
    return image.setupAlphaLinePointer(line, y) ? Bytes(line.get(), line.get() + image.columns()) : Bytes();
}

inline Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace trxtest
