#include "write/CreateOutput.h"

#include <cstring>

#include "write/JpegOutput.h"

std::unique_ptr<OIIO::ImageOutput> createOutput(const std::string& name)
{
    // OpenImageIO decides what names JPEG (.jpe, .jfif, "jpg", ...); its writer drops K
    // and ignores "jpeg:Quality", so ours takes its place.
    std::unique_ptr<OIIO::ImageOutput> output = OIIO::ImageOutput::create(name, nullptr, "");
    if (output && std::strcmp(output->format_name(), "jpeg") == 0)
        return makeJpegOutput();
    return output;
}
