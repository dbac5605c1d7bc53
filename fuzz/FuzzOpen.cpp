// open() on a file made of the input after its first byte, under the extension that
// byte picks (so every interpreter sees every kind of damage).
#include <cstdlib>

#include <OpenImageIO/imageio.h>

#include <TRXImage.h>

#include "fuzz/FuzzSupport.h"
#include "read/ReaderConfig.h"

namespace {

int linesLogged = 0;

void countLine(const wchar_t*) { ++linesLogged; }

// A few hundred bytes can claim gigabytes of pixels that a decoder then fills in
// (libjpeg pads a cut scan with grey). The library takes claims up to the machine's
// memory, far beyond libFuzzer's RSS limit, so such inputs are skipped here; the
// hostile-file tests cover big claims. The reader is the library's own choice, so no
// other reader of OpenImageIO sees the bytes.
bool claimsMoreThanTheFuzzBudget(const std::string& path)
{
    constexpr OIIO::imagesize_t kBudget = OIIO::imagesize_t(256) << 20;
    auto input = openReader(path);
    return input && input->spec().image_pixels() * 4 > kBudget;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    TarvexImage::SetLog(countLine);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const char* extension = trxfuzz::kExtensions[data[0] % trxfuzz::kExtensionCount];
    const std::string path = trxfuzz::scratchFile(std::string("input") + extension, data + 1, size - 1);
    if (claimsMoreThanTheFuzzBudget(path))
        return 0;
    linesLogged = 0;
    TarvexImage image;
    const bool opened = image.open(path);
    // A refused file always says why.
    if (!opened && linesLogged == 0)
        std::abort();
    return 0;
}
