#include "support/TestSupport.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "image/TextConversion.h"

namespace trxtest {
namespace {

std::mutex linesMutex;
std::vector<std::wstring> capturedLines;

void captureLine(const wchar_t* line)
{
    std::lock_guard<std::mutex> lock(linesMutex);
    capturedLines.emplace_back(line);
}

}  // namespace

LogCapture::LogCapture()
{
    clear();
    TarvexImage::SetLog(&captureLine);
}

LogCapture::~LogCapture() { TarvexImage::SetLog(nullptr); }

const std::vector<std::wstring>& LogCapture::lines() const { return capturedLines; }

std::vector<std::string> LogCapture::utf8() const
{
    std::vector<std::string> out;
    for (const auto& line : capturedLines)
        out.push_back(utf8ForDisplay(line));
    return out;
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> lock(linesMutex);
    capturedLines.clear();
}

TempDir::TempDir()
{
    const char* base = std::getenv("TRX_TEST_TMP");
    std::filesystem::path root = base ? base : std::filesystem::temp_directory_path();
    std::filesystem::create_directories(root);
    std::string pattern = (root / "trxtest-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

TarvexImage makeRgbImage(int columns, int rows, unsigned (*byteAt)(int x, int y, int channel))
{
    TarvexImage image;
    image.colourSpace(TarvexImage::colourSpaceRGB);
    image.size(columns, rows, 0, 0, nullptr, nullptr);
    TarvexImage::LinePointer line;
    for (int y = 0; y < rows; ++y) {
        image.setupLinePointer(line, y);
        unsigned char* p = line.get_pustr();
        for (int x = 0; x < columns; ++x)
            for (int c = 0; c < 3; ++c)
                p[3 * x + c] = static_cast<unsigned char>(byteAt(x, y, c));
    }
    return image;
}

std::vector<unsigned char> lineBytes(TarvexImage& image, int y)
{
    TarvexImage::LinePointer line;
    if (!image.setupLinePointer(line, y))
        return {};
    return std::vector<unsigned char>(line.get(), line.get() + image.bytesPerLine());
}

std::vector<unsigned char> alphaLineBytes(TarvexImage& image, int y)
{
    TarvexImage::LinePointer line;
    if (!image.setupAlphaLinePointer(line, y))
        return {};
    return std::vector<unsigned char>(line.get(), line.get() + image.columns());
}

std::vector<unsigned char> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace trxtest
