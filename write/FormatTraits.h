#pragma once

#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>

// What a format's writer keeps, by OpenImageIO's format name ("jpeg", "png", "tiff", ...).
bool holdsCmyk(const std::string& format);
bool holdsIccProfile(const std::string& format);

// Why `profile` would make the format's writer fail (libpng refuses, and then crashes on,
// profiles whose header or tag table it does not accept), or null when it can be embedded.
const wchar_t* iccRefusal(const std::string& format, const std::vector<unsigned char>& profile);

// Restates the resolution attributes of `spec` as the format's writer reads them: PNG and
// BMP get rounded pixels per metre ("m"); TIFF gets the pixel aspect ratio from which its
// writer derives the vertical resolution. A spec without resolution is left alone.
void fitResolution(OIIO::ImageSpec& spec, const std::string& format);
