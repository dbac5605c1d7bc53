#pragma once

#include <memory>
#include <string>

#include <OpenImageIO/imageio.h>

#include "trx/WriteOptions.h"

struct TarvexImageImpl;

// Encodes the image through `output` (created by the caller, who destroys it): opens it
// with `name`, offers every row, closes it. Gives whether the output opened. `quality`
// above -1 sets the JPEG quality; `options`, when given, add their attributes after the
// library's own.
bool writeToOutput(std::unique_ptr<OIIO::ImageOutput>& output, const TarvexImageImpl& image, const std::string& name,
                   int quality, const trx::WriteOptions* options = nullptr);
