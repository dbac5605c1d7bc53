#include "read/ReaderConfig.h"

#include "read/HeaderScreen.h"

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
    const OIIO::ImageSpec config = readerConfiguration();
    auto input = OIIO::ImageInput::open(fileName, &config);
    if (!input)
        OIIO::geterror();  // the message is ours to give
    return input;
}
