#pragma once

#include <memory>
#include <string>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include "trx/WriteOptions.h"

struct TarvexImageImpl;

// Encodes the image through `output` (created by the caller, who destroys it): opens it
// with `name`, offers every row, closes it. Gives whether the output opened. `quality`
// above -1 sets the JPEG quality; `options`, when given, add their attributes after the
// library's own. `proxy`, when given, is handed to the output just before it opens, so
// that an output that is never opened never holds one (some crash closing it then).
// `opened`, when given, receives the spec the output was opened with.
bool writeToOutput(std::unique_ptr<OIIO::ImageOutput>& output, const TarvexImageImpl& image, const std::string& name,
                   int quality, const trx::WriteOptions* options = nullptr, OIIO::Filesystem::IOProxy* proxy = nullptr,
                   OIIO::ImageSpec* opened = nullptr);

// Whether writeToOutput would open an output of this format for the image: false for an
// empty image, strips that do not hold every line, or a profile the format refuses.
bool willOpen(const OIIO::ImageOutput& output, const TarvexImageImpl& image, const trx::WriteOptions* options);

// Logs OpenImageIO's text for a failure as a line of its own, when there is one.
void logReason(const std::string& reason);

// Logs the writer's open failure for the image, as writeToOutput does, with `reason` as
// a second line when it is not empty.
void logFailedOpen(const OIIO::ImageOutput& output, const TarvexImageImpl& image, const std::string& reason);
