#include "read/SpecInterpreter.h"

#include <climits>
#include <cstdio>
#include <memory>
#include <vector>

#include "TRXImage.h"
#include "image/Log.h"
#include "image/TextConversion.h"
#include "read/ResolutionRecords.h"

CImageSpecInterpreter::CImageSpecInterpreter(const OIIO::ImageSpec& fileSpec) { spec = fileSpec; }

CImageSpecInterpreter::~CImageSpecInterpreter() = default;

double CImageSpecInterpreter::xResolution() const
{
    return convertResolution(attributeText(spec, "XResolution"), attributeText(spec, "ResolutionUnit"));
}

double CImageSpecInterpreter::yResolution() const
{
    return convertResolution(attributeText(spec, "YResolution"), attributeText(spec, "ResolutionUnit"));
}

int CImageSpecInterpreter::bytesPerPixel() const
{
    // Alpha is not a colour byte: RGBA keeps 3, CMYK with or without alpha keeps 4.
    switch (spec.nchannels) {
    case 1: return 1;
    case 3: return 3;
    default: return isCMYK() ? 4 : 3;
    }
}

bool CImageSpecInterpreter::invertOnRead() const { return false; }

bool CImageSpecInterpreter::getIccProfile(Blob& profile) const
{
    const OIIO::ParamValue* icc = findIccProfile(spec);
    if (!icc)
        return false;
    const std::size_t length = icc->type().size();
    if (length == 0 || length > static_cast<std::size_t>(INT_MAX))
        return false;
    profile.update(icc->data(), static_cast<int>(length));
    return true;
}

bool CImageSpecInterpreter::writeIccProfile(const std::wstring& path) const
{
    const OIIO::ParamValue* icc = findIccProfile(spec);
    if (!icc)
        return false;
    std::FILE* file = nullptr;
    try {
        file = std::fopen(WideToUtf8(path.c_str()).c_str(), "wb");
    } catch (const trx::TextConversionError&) {
        file = nullptr;  // a path that has no UTF-8 form cannot be created
    }
    if (!file) {
        LogMessage(L"OpenImageIO could not save the icc profile to disk, %ls", path.c_str());
        return false;
    }
    const std::size_t length = icc->type().size();
    if (length > 0)
        std::fwrite(icc->data(), 1, length, file);
    std::fclose(file);
    return true;
}

std::string attributeText(const OIIO::ImageSpec& spec, const char* name, const std::string& fallback)
{
    const OIIO::TypeDesc type = spec.getattributetype(name);
    if (type == OIIO::TypeString) {
        const char* text = nullptr;
        if (spec.getattribute(name, OIIO::TypeString, &text) && text)
            return text;
        return fallback;
    }
    if (type == OIIO::TypeUnknown)
        return fallback;
    std::vector<unsigned char> value(type.size());
    if (value.empty() || !spec.getattribute(name, type, value.data()))
        return fallback;
    return OIIO::tostring(type, value.data());
}

bool isCMYKByChannelNames(const OIIO::ImageSpec& spec)
{
    const auto& names = spec.channelnames;
    return spec.nchannels >= 4 && names.size() >= 4 && names[0] == "C" && names[1] == "M" && names[2] == "Y" &&
           names[3] == "K";
}

const OIIO::ParamValue* findIccProfile(const OIIO::ImageSpec& spec)
{
    for (const OIIO::ParamValue& attribute : spec.extra_attribs)
        if (attribute.name() == "ICCProfile")
            return &attribute;
    return nullptr;
}
