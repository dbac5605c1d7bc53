#pragma once

#include <memory>
#include <string>

#include <OpenImageIO/imageio.h>

// Colour values as stored, alpha not multiplied in: the configuration of every reader
// the library opens (PSD bitmaps, whose raw-colour delivery is not the picture, aside).
OIIO::ImageSpec readerConfiguration();

// Opens a reader on `fileName` with that configuration: the reader that OpenImageIO
// names for the extension, then, when that one refuses, the reader that the file's
// first bytes name. No other reader sees the file. Null when none opened it; `reason`
// then holds OpenImageIO's words (empty when it has none).
std::unique_ptr<OIIO::ImageInput> openReader(const std::string& fileName, std::string& reason);
std::unique_ptr<OIIO::ImageInput> openReader(const std::string& fileName);
