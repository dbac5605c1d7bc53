#include <cstring>
#include <new>

#include "read/Interpreters.h"

namespace {

using Factory = std::unique_ptr<CImageSpecInterpreter> (*)(const OIIO::ImageSpec&, const std::string&);

template <class Interpreter>
std::unique_ptr<CImageSpecInterpreter> make(const OIIO::ImageSpec& spec, const std::string&)
{
    return std::unique_ptr<CImageSpecInterpreter>(new (std::nothrow) Interpreter(spec));
}

std::unique_ptr<CImageSpecInterpreter> makeJpg(const OIIO::ImageSpec& spec, const std::string& fileName)
{
    std::unique_ptr<CJPG_SpecInterpreter> jpg(new (std::nothrow) CJPG_SpecInterpreter(spec));
    if (jpg)
        jpg->fileName = fileName;
    return jpg;
}

struct Choice {
    const char* extension;
    Factory factory;
};

const Choice kChoices[] = {
    {".bmp", make<CBMP_SpecInterpreter>},
    {".png", make<CPNG_SpecInterpreter>},
    {".tiff", make<CTIF_SpecInterpreter>},
    {".tif", make<CTIF_SpecInterpreter>},
    {".crw", make<CTIF_SpecInterpreter>},
    {".psd", make<CPSD_SpecInterpreter>},
    {".jpg", makeJpg},
    {".jpeg", makeJpg},
};

// An extension is held in 15 characters; a longer one matches nothing we know.
constexpr std::size_t kExtensionLimit = 15;

// The last path component's extension, dot included, folded to lower case; empty
// when it has none or is too long. Both separators count, as they do for the
// original platform's path splitter.
std::string foldedExtension(const std::string& fileName)
{
    const std::size_t slash = fileName.find_last_of("/\\");
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || dot < start)
        return {};
    std::string extension = fileName.substr(dot);
    if (extension.size() > kExtensionLimit)
        return {};
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

}  // namespace

std::unique_ptr<CImageSpecInterpreter> createSpecInterpreter(const OIIO::ImageSpec& spec, const std::string& fileName)
{
    const std::string extension = foldedExtension(fileName);
    for (const Choice& choice : kChoices)
        if (extension == choice.extension)
            return choice.factory(spec, fileName);
    return make<COther_SpecInterpreter>(spec, fileName);
}
