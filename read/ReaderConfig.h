#pragma once

#include <memory>
#include <string>

#include <OpenImageIO/imageio.h>

// Colour values as stored, alpha not multiplied in: the configuration of every reader
// the library opens.
OIIO::ImageSpec readerConfiguration();

// Opens a reader on `fileName` with that configuration; null (OpenImageIO's error
// cleared) when the file cannot be opened or its header is one that OpenImageIO
// mishandles.
std::unique_ptr<OIIO::ImageInput> openReader(const std::string& fileName);
