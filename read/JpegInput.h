#pragma once

#include <memory>
#include <string>

#include <OpenImageIO/imageio.h>

// True when `path` is a JPEG file whose frame header names four components (CMYK or
// YCCK). Reads only the marker segments up to the frame header; false for anything else,
// including files that cannot be read.
bool jpegFrameHasFourComponents(const std::string& path);

// The library's own four-component JPEG reader, not yet opened.
std::unique_ptr<OIIO::ImageInput> createJpegInput();
