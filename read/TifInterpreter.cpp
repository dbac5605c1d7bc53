#include "read/Interpreters.h"

namespace {

std::string photometric(const OIIO::ImageSpec& spec) { return attributeText(spec, "tiff:PhotometricInterpretation"); }

}  // namespace

// Photometric 2 (RGB) with five or more channels holds CMYK and alpha; 5 (separated)
// is CMYK whatever the count.
bool CTIF_SpecInterpreter::isCMYK() const
{
    const std::string p = photometric(spec);
    if (p == "2")
        return spec.nchannels >= 5;
    return p == "5";
}

int CTIF_SpecInterpreter::alphaChannel() const
{
    const std::string p = photometric(spec);
    if (p == "2") {
        if (spec.nchannels == 4)
            return 3;
        return spec.nchannels >= 5 ? 4 : -1;
    }
    if (p == "5")
        return spec.nchannels >= 5 ? 4 : -1;
    return -1;
}
