#pragma once

#include <memory>

#include <OpenImageIO/imageio.h>

// The library's own JPEG writer on libjpeg, format name "jpeg". One channel writes a
// greyscale JPEG, three (or RGBA) a YCbCr JPEG with the encoder settings of OpenImageIO's
// writer, four named "C", "M", "Y", "K" (or five, CMYKA) an Adobe CMYK JPEG whose samples
// are stored inverted as Photoshop stores them. Honours "CompressionQuality",
// "Compression" ("jpeg:NN"), "jpeg:Quality", "jpeg:subsampling", "jpeg:progressive",
// "ICCProfile" and the resolution attributes. Writes through an I/O proxy when one is
// set, else to the named file. libjpeg's errors fail the call that met them.
std::unique_ptr<OIIO::ImageOutput> makeJpegOutput();
