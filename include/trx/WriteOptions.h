#pragma once

#include <string>
#include <vector>

#include "trx/Export.h"

/// @file
/// Per-call settings for the writer, beyond the resolution and quality that every write
/// passes: the format's compression, an ICC profile to embed and any further OpenImageIO
/// output attribute.

class Blob;

namespace trx {

/// Settings for one TarvexImage::write call. The writer sets its own attributes first
/// (channels, resolution, quality) and these after them, in the order given, so a
/// setting here wins over the library's for the same name. An empty set writes exactly
/// what the overloads without options write.
class TRX_API WriteOptions {
public:
    /// One attribute: a name and an int, float or text value.
    struct Attribute {
        enum class Kind { Int, Float, Text };
        std::string name;
        Kind kind = Kind::Int;
        int intValue = 0;
        float floatValue = 0.0f;
        std::string text;
    };

    /// JPEG quality 0-100; -1 (the default) leaves the writer's own.
    WriteOptions& quality(int value);
    int quality() const { return quality_; }
    /// The writer's "compression" attribute: "none", "zip", "zip:1" (zlib level),
    /// "lzw", "packbits", "jpeg:90" ... as the format's writer understands them.
    WriteOptions& compression(const std::string& name);
    /// Any other output attribute, for example "png:filter" or "tiff:RowsPerStrip".
    WriteOptions& attribute(const std::string& name, int value);
    WriteOptions& attribute(const std::string& name, float value);
    WriteOptions& attribute(const std::string& name, const std::string& value);
    WriteOptions& attribute(const std::string& name, const char* value);
    const std::vector<Attribute>& attributes() const { return attributes_; }
    /// An ICC profile to embed, copied from `profile`, in the formats that hold one
    /// (JPEG, PNG, TIFF; others ignore it). An empty blob embeds none, as without this
    /// call. For the image's own: `iccProfile(image.iccColourProfile())`. A profile that
    /// PNG's writer would refuse makes a PNG write fail with a log line.
    WriteOptions& iccProfile(const Blob& profile);
    const std::vector<unsigned char>& iccProfile() const { return iccProfile_; }

private:
    int quality_ = -1;
    std::vector<Attribute> attributes_;
    std::vector<unsigned char> iccProfile_;
};

}  // namespace trx
