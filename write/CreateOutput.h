#pragma once

#include <memory>
#include <string>

#include <OpenImageIO/imageio.h>

// The writer for `name` (a file name whose extension names the format, or a bare format
// name), as OpenImageIO::ImageOutput::create would give it, except that where it would
// give its JPEG writer the library's own is given. Null, with OpenImageIO's error
// pending, when there is no writer.
std::unique_ptr<OIIO::ImageOutput> createOutput(const std::string& name);
