#include "read/Interpreters.h"
#include "read/ResolutionRecords.h"

bool CJPG_SpecInterpreter::isCMYK() const { return isCMYKByChannelNames(spec); }

int CJPG_SpecInterpreter::alphaChannel() const { return -1; }

// Adobe writes CMYK JPEG samples inverted.
bool CJPG_SpecInterpreter::invertOnRead() const { return isCMYK(); }

double CJPG_SpecInterpreter::xResolution() const { return resolution("XResolution", true); }

double CJPG_SpecInterpreter::yResolution() const { return resolution("YResolution", false); }

double CJPG_SpecInterpreter::resolution(const char* attribute, bool horizontal) const
{
    const std::string unit = attributeText(spec, "ResolutionUnit");
    if (!unit.empty() && unit != "none")
        return convertResolution(attributeText(spec, attribute), unit);
    double x = 72.0, y = 72.0;
    readJpegResolution(fileName, x, y);
    return horizontal ? x : y;
}
