#pragma once

#include <string>
#include <vector>

// Pixels per inch from a resolution text and its unit word ("in", "inch", "cm", "m",
// "2", "none" or empty). An unknown unit gives 72.
double convertResolution(const std::string& value, const std::string& unit);

// Overwrites x and y (pixels per inch) with what the JPEG file's JFIF, Exif or
// Photoshop records say; leaves them alone when the file has no usable record.
void readJpegResolution(const std::string& path, double& x, double& y);

// Each parses one segment payload and either writes both x and y and returns true,
// or writes nothing and returns false.
bool parseJfifDensity(const std::vector<unsigned char>& payload, double& x, double& y);
bool parseExifResolution(const std::vector<unsigned char>& payload, double& x, double& y);
bool parsePhotoshopResolution(const std::vector<unsigned char>& payload, double& x, double& y);
