#pragma once

#include <memory>
#include <string>

#include <OpenImageIO/imageio.h>

// True when `path` is a JPEG file whose frame header names four components (CMYK or
// YCCK). Reads only the marker segments up to the frame header; false for anything else,
// including files that cannot be read.
bool jpegFrameHasFourComponents(const std::string& path);

// Opens the library's own reader on a four-component JPEG: channels "C", "M", "Y", "K" as
// stored (libjpeg's CMYK, YCCK converted to it), 8 bits, and the resolution, Exif and ICC
// attributes that OpenImageIO's JPEG reader reports. Null when the file cannot be opened,
// is not such a JPEG, or libjpeg refuses its header.
std::unique_ptr<OIIO::ImageInput> openJpegInput(const std::string& path);
