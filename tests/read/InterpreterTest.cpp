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
    const struct {
        const std::type_info& type;
        std::vector<std::string> names;
    } rows[] = {{typeid(CJPG_SpecInterpreter),
                 {"photo.JPG", "scan.Jpeg", "/x/y.jpg", "C:\\d\\b.jPg", std::string(300, 'a') + ".jpg"}},
                {typeid(CTIF_SpecInterpreter), {"a.tif", "a.TIFF", "raw.CRW"}},
                {typeid(CBMP_SpecInterpreter), {"a.Bmp"}},
                {typeid(CPNG_SpecInterpreter), {"a.PNG", ".png"}},
                {typeid(CPSD_SpecInterpreter), {"a.psd"}},
                {typeid(COther_SpecInterpreter),
                 {"a.jpe", "a.jfif", "noextension", "folder.jpg/file", "folder.png\\file", "a.png.", "a.gif", "", ".",
                  "a.j pg", "a.jpgx", "a.\xC3\xA9", "a.jpg" + std::string(200, 'x')}}};
    for (const auto& row : rows)
        for (const std::string& name : row.names)
            EXPECT_TRUE(typeid(*createSpecInterpreter(specOf(""), name)) == row.type) << name;
}

TEST(Interpreters, ColourModelAlphaAndBytesPerPixel)
{
    const struct {
        const char *file, *names;
        int photometric, oiioAlpha, alpha, bytes;  // photometric 0: none
        bool cmyk, invert;
    } rows[] = {{"a.tif", "Y", 2, 0, -1, 1, false, false},       {"a.tif", "R G B", 2, 2, -1, 3, false, false},
                {"a.tif", "R G B A", 2, 3, 3, 3, false, false},  {"a.tif", "C M Y K A", 2, 4, 4, 4, true, false},
                {"a.tif", "C M Y K", 5, 3, -1, 4, true, false},  {"a.tif", "C M Y K A", 5, 4, 4, 4, true, false},
                {"a.tif", "C M Y K", 0, 3, -1, 3, false, false}, {"a.tif", "C M Y K A", 22, 4, -1, 3, false, false},
                {"a.jpg", "C M Y K", 0, -1, -1, 4, true, true},  {"a.jpg", "c m y k", 0, -1, -1, 3, false, false},
                {"a.jpg", "R G B A", 0, 3, -1, 3, false, false}, {"a.psd", "R G B A", 0, 3, 3, 3, false, false},
                {"a.psd", "C M Y K A", 0, 4, 4, 4, true, false}, {"a.psd", "R G B Alpha", 0, 3, -1, 3, false, false},
                {"a.psd", "A Y", 0, -1, 0, 3, false, false},     {"a.png", "R G B A", 0, 3, 3, 3, false, false},
                {"a.png", "Y A", 0, 1, 1, 3, false, false},      {"a.bmp", "C M Y K", 0, 3, 3, 3, false, false},
                {"a.gif", "C M Y K", 0, 3, -1, 3, false, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.file) + " " + row.names + " " + std::to_string(row.photometric));
        OIIO::ImageSpec spec = specOf(row.names);
        if (row.photometric)
            spec.attribute("tiff:PhotometricInterpretation", row.photometric);
        spec.alpha_channel = row.oiioAlpha;
        const auto p = createSpecInterpreter(spec, row.file);
        EXPECT_EQ(std::make_tuple(p->isCMYK(), p->alphaChannel(), p->bytesPerPixel(), p->invertOnRead()),
                  std::make_tuple(row.cmyk, row.alpha, row.bytes, row.invert));
    }
    OIIO::ImageSpec text = specOf("", 4);
    text.attribute("tiff:PhotometricInterpretation", "2");
    EXPECT_EQ(createSpecInterpreter(text, "a.tiff")->alphaChannel(), 3);
}

TEST(Interpreters, ResolutionFromAttributes)
{
    const struct {
        const char* unit;  // null: no resolution attributes at all
        double x, y;
    } rows[] = {{nullptr, 0, 0}, {"in", 300, 150}, {"cm", 762, 381}, {"furlong", 72, 72}};
    for (const auto& row : rows) {
        OIIO::ImageSpec spec = specOf("");
        if (row.unit) {
            spec.attribute("XResolution", 300.0f);
            spec.attribute("yresolution", 150.0f);  // names are matched without regard to case
            spec.attribute("ResolutionUnit", row.unit);
        }
        // A JPEG without a unit reads its own records instead.
        for (const std::string file : {"a.png", "a.bmp", "a.tif", "a.psd", "a.gif", row.unit ? "a.jpg" : "a.png"}) {
            SCOPED_TRACE(file + " " + (row.unit ? row.unit : "none"));
            const auto p = createSpecInterpreter(spec, file);
            EXPECT_EQ(std::make_pair(p->xResolution(), p->yResolution()), std::make_pair(row.x, row.y));
        }
    }
}

// With no unit or "none", a JPEG's records decide, read from the file on every call.
TEST(Interpreters, JpegWithoutUnitReadsTheFilesRecordsOnEveryCall)
{
    TempDir dir;
    const std::string path = dir.file("r.jpg");
    writeFile(path, JpegStream().segment(0xE0, jfifPayload(1, 200, 100)).bytes());
    OIIO::ImageSpec spec = specOf("");
    spec.attribute("XResolution", 300.0f);
    spec.attribute("ResolutionUnit", "none");
    const auto p = createSpecInterpreter(spec, path);
    EXPECT_EQ(p->xResolution(), 200.0);
    writeFile(path, {});
    EXPECT_EQ(p->yResolution(), 72.0);
}

// The attribute's name must be "ICCProfile"; a type of no bytes is the only way
// OpenImageIO holds an empty profile: none to get, an empty file to save.
TEST(Interpreters, IccProfile)
{
    TempDir dir;
    LogCapture log;
    const Bytes bytes = {0, 1, 2, 0xFF, 0x80}, none = {'x', 'y', 'z'};
    const OIIO::TypeDesc five(OIIO::TypeDesc::UINT8, 5);
    const struct {
        const char* name;
        OIIO::TypeDesc type;
        bool got, written;
    } rows[] = {{"iccprofile", five, false, false}, {"ICCProfile", five, true, true}, {"ICCProfile", {}, false, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name + std::to_string(row.type.size()));
        OIIO::ImageSpec spec = specOf("");
        spec.extra_attribs.push_back(OIIO::ParamValue(row.name, row.type, 1, bytes.data()));
        const auto p = createSpecInterpreter(spec, "a.png");
        Blob blob;
        blob.update(none.data(), 3);
        const std::string target = dir.file(row.name + std::to_string(row.type.size()));
        EXPECT_EQ(std::make_pair(p->getIccProfile(blob), p->writeIccProfile(Utf8ToWide(target.c_str()).str())),
                  std::make_pair(row.got, row.written));
        EXPECT_EQ(Bytes(blob.data(), blob.data() + blob.length()), row.got ? bytes : none);
        EXPECT_EQ(readFile(target), row.type.size() && row.written ? bytes : Bytes());
        EXPECT_EQ(p->writeIccProfile(L"/tmp/\xD800.icc"), false);  // a path with no UTF-8 form
        EXPECT_EQ(log.lines().size(), row.written ? 1u : 0u);
        log.clear();
    }
}
