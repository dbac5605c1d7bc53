#pragma once

#include <memory>
#include <string>

#include <OpenImageIO/imageio.h>

struct TarvexImageImpl;

// Encodes the image through `output` (created by the caller, who destroys it): opens it
// with `name`, offers every row, closes it. Gives whether the output opened. `quality`
// above -1 sets the JPEG quality.
bool writeToOutput(std::unique_ptr<OIIO::ImageOutput>& output, const TarvexImageImpl& image, const std::string& name,
                   int quality);
