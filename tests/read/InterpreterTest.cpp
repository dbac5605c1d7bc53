#include <gtest/gtest.h>

#include <OpenImageIO/strutil.h>

#include <tuple>
#include <typeinfo>

#include "TRXImage.h"
#include "image/TextConversion.h"
#include "read/Interpreters.h"
#include "support/ReadFiles.h"
#include "support/TestSupport.h"

using namespace trxtest;

namespace {

// A description of `names` (space-separated channel names), or of `channels` unnamed.
OIIO::ImageSpec specOf(const std::string& names, int channels = 3)
{
    const std::vector<std::string> list = OIIO::Strutil::splits(names);
    OIIO::ImageSpec spec(4, 3, list.empty() ? channels : static_cast<int>(list.size()), OIIO::TypeUInt8);
    if (!list.empty())
        spec.channelnames = list;
    return spec;
}

}  // namespace

TEST(CreateSpecInterpreter, ChoosesByTheLastComponentsExtension)
{
    const std::pair<const std::type_info*, std::vector<std::string>> rows[] = {
        {&typeid(CJPG_SpecInterpreter), {"photo.JPG", "scan.Jpeg", "C:\\d\\b.jPg", std::string(300, 'a') + ".jpg"}},
        {&typeid(CTIF_SpecInterpreter), {"a.tif", "a.TIFF", "raw.CRW"}},
        {&typeid(CBMP_SpecInterpreter), {"a.Bmp"}},
        {&typeid(CPNG_SpecInterpreter), {"a.PNG", ".png"}},
        {&typeid(CPSD_SpecInterpreter), {"a.psd"}},
        {&typeid(COther_SpecInterpreter),
         {"a.jpe", "a.jfif", "noextension", "folder.jpg/file", "folder.png\\file", "a.png.", "a.gif", "", ".", "a.j pg",
          "a.jpgx", "a.\xC3\xA9", "a.jpg" + std::string(200, 'x')}}};
    for (const auto& [type, names] : rows)
        for (const std::string& name : names)
            EXPECT_TRUE(typeid(*createSpecInterpreter(specOf(""), name)) == *type) << name;
}

TEST(Interpreters, ColourModelAlphaAndBytesPerPixel)
{
    // File, channel names, photometric (0: none), OpenImageIO's alpha channel; then the
    // interpreter's alpha channel, colour bytes per pixel, CMYK and inversion.
    const std::tuple<const char*, const char*, int, int, int, int, bool, bool> rows[] = {
        {"a.tif", "Y", 2, 0, -1, 1, false, false},           {"a.tif", "R G B", 2, 2, -1, 3, false, false},
        {"a.tif", "R G B A", 2, 3, 3, 3, false, false},      {"a.tif", "C M Y K A", 2, 4, 4, 4, true, false},
        {"a.tif", "C M Y K", 5, 3, -1, 4, true, false},      {"a.tif", "C M Y K A", 5, 4, 4, 4, true, false},
        {"a.tif", "C M Y K A", 22, 4, -1, 3, false, false},  {"a.jpg", "C M Y K", 0, -1, -1, 4, true, true},
        {"a.jpg", "c m y k", 0, -1, -1, 3, false, false},    {"a.jpg", "R G B A", 0, 3, -1, 3, false, false},
        {"a.psd", "R G B A", 0, 3, 3, 3, false, false},      {"a.psd", "C M Y K A", 0, 4, 4, 4, true, false},
        {"a.psd", "R G B Alpha", 0, 3, -1, 3, false, false}, {"a.psd", "A Y", 0, -1, 0, 3, false, false},
        {"a.png", "R G B A", 0, 3, 3, 3, false, false},      {"a.bmp", "C M Y K", 0, 3, 3, 3, false, false},
        {"a.gif", "C M Y K", 0, 3, -1, 3, false, false}};
    for (const auto& [file, names, photometric, oiioAlpha, alpha, bytes, cmyk, invert] : rows) {
        SCOPED_TRACE(std::string(file) + " " + names + " " + std::to_string(photometric));
        OIIO::ImageSpec spec = specOf(names);
        if (photometric)
            spec.attribute("tiff:PhotometricInterpretation", photometric);
        spec.alpha_channel = oiioAlpha;
        const auto p = createSpecInterpreter(spec, file);
        EXPECT_EQ(std::make_tuple(p->isCMYK(), p->alphaChannel(), p->bytesPerPixel(), p->invertOnRead()),
                  std::make_tuple(cmyk, alpha, bytes, invert));
    }
    OIIO::ImageSpec text = specOf("", 4);
    text.attribute("tiff:PhotometricInterpretation", "2");
    EXPECT_EQ(createSpecInterpreter(text, "a.tiff")->alphaChannel(), 3);
}

// With no unit or "none", a JPEG's own records decide.
TEST(Interpreters, ResolutionFromAttributes)
{
    TempDir dir;
    const std::string jpg = dir.file("r.jpg");
    writeFile(jpg, JpegStream().segment(0xE0, jfifPayload(1, 200, 100)).bytes());
    // Unit (null: no resolution attributes at all), then x and y in pixels per inch
    // for the JPEG and for the others. Any unit but "none" is converted as the unit
    // words test shows; centimetres stand for them all.
    const std::tuple<const char*, double, double, double, double> rows[] = {
        {nullptr, 200, 100, 0, 0}, {"none", 200, 100, 300, 150}, {"cm", 762, 381, 762, 381}};
    for (const auto& [unit, jx, jy, x, y] : rows) {
        OIIO::ImageSpec spec = specOf("");
        if (unit) {
            spec.attribute("XResolution", 300.0f);
            spec.attribute("yresolution", 150.0f);  // names are matched without regard to case
            spec.attribute("ResolutionUnit", unit);
        }
        for (const std::string file : {"a.png", "a.bmp", "a.tif", "a.psd", "a.gif", jpg.c_str()}) {
            SCOPED_TRACE(file + " " + (unit ? unit : "none"));
            const auto p = createSpecInterpreter(spec, file);
            EXPECT_EQ(std::make_pair(p->xResolution(), p->yResolution()),
                      file == jpg ? std::make_pair(jx, jy) : std::make_pair(x, y));
        }
    }
}
