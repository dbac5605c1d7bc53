#pragma once

#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>

// Completes what OpenImageIO 2.4's writers leave out of an encoded file, given the
// format name and the spec the output was opened with:
// - BMP: the resolution, which the writer leaves at 0, into biXPelsPerMeter and
//   biYPelsPerMeter (the spec holds it as rounded pixels per metre);
// - TIFF with C, M, Y, K and alpha: the writer makes five inks of them; the file is
//   given InkSet CMYK and the fifth sample as unassociated alpha.
// False, with `why` set, when the bytes are not laid out as that writer lays them out.
bool completeEncoded(const std::string& format, const OIIO::ImageSpec& spec, std::vector<unsigned char>& bytes,
                     std::wstring& why);
