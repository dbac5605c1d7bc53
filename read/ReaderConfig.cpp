#include "read/ReaderConfig.h"

#include "read/HeaderScreen.h"
#include "read/JpegInput.h"

OIIO::ImageSpec readerConfiguration()
{
    OIIO::ImageSpec config{OIIO::TypeDesc()};
    config.attribute("oiio:RawColor", 1);
    config.attribute("oiio:UnassociatedAlpha", 1);
    return config;
}

std::unique_ptr<OIIO::ImageInput> openReader(const std::string& fileName)
{
    if (!headerIsSafeForReader(fileName))
        return nullptr;
    // OpenImageIO's JPEG reader turns CMYK and YCCK files into RGB; ours keeps the four channels.
    if (jpegFrameHasFourComponents(fileName))
        return openJpegInput(fileName);
    const OIIO::ImageSpec config = readerConfiguration();
    auto input = OIIO::ImageInput::open(fileName, &config);
    if (!input)
        OIIO::geterror();  // the message is ours to give
    return input;
}
