// open() on a file made of the input after its first byte, under the extension that
// byte picks (so every interpreter sees every kind of damage).
#include <cstdlib>

#include <TRXImage.h>

#include "fuzz/FuzzSupport.h"

namespace {

int linesLogged = 0;

void countLine(const wchar_t*) { ++linesLogged; }

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
    linesLogged = 0;
    TarvexImage image;
    const bool opened = image.open(path);
    // A refused file always says why.
    if (!opened && linesLogged == 0)
        std::abort();
    return 0;
}
