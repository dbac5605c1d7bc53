// The JPEG marker walk on a file made of the input, and each record parser on the
// input as a segment payload.
#include <cmath>
#include <cstdlib>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "read/ResolutionRecords.h"

namespace {

// A parser either leaves both values alone or writes both; what it writes is never NaN.
void checkParser(bool (*parse)(const std::vector<unsigned char>&, double&, double&),
                 const std::vector<unsigned char>& payload)
{
    double x = -1.0, y = -2.0;
    const bool found = parse(payload, x, y);
    if (!found && (x != -1.0 || y != -2.0))
        std::abort();
    if (found && (std::isnan(x) || std::isnan(y)))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<unsigned char> payload(data, data + size);
    checkParser(parseJfifDensity, payload);
    checkParser(parseExifResolution, payload);
    checkParser(parsePhotoshopResolution, payload);

    const std::string path = trxfuzz::scratchFile("records.jpg", data, size);
    double x = -1.0, y = -2.0;
    readJpegResolution(path, x, y);
    if (std::isnan(x) || std::isnan(y))
        std::abort();
    return 0;
}
