#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "TRXImage.h"
#include "image/TextConversion.h"
#include "read/Interpreters.h"
#include "support/ReadFiles.h"
#include "support/TestSupport.h"

using namespace trxtest;

namespace {

OIIO::ImageSpec specOf(int channels, std::vector<std::string> names = {})
{
    OIIO::ImageSpec spec(4, 3, channels, OIIO::TypeUInt8);
    if (!names.empty())
        spec.channelnames = names;
    return spec;
}

std::wstring wide(const std::string& text) { return Utf8ToWide(text.c_str()).str(); }

template <class T>
bool is(const std::unique_ptr<CImageSpecInterpreter>& p)
{
    return p && dynamic_cast<T*>(p.get()) != nullptr;
}

}  // namespace

TEST(CreateSpecInterpreter, ChoosesByLastComponentsExtension)
{
    const OIIO::ImageSpec spec = specOf(3);
    for (const char* name : {"photo.JPG", "scan.Jpeg", "a.jpeg", "/x/y.jpg", "C:\\dir\\b.jPg"})
        EXPECT_TRUE(is<CJPG_SpecInterpreter>(createSpecInterpreter(spec, name))) << name;
    for (const char* name : {"a.tif", "a.TIFF", "raw.CRW"})
        EXPECT_TRUE(is<CTIF_SpecInterpreter>(createSpecInterpreter(spec, name))) << name;
    EXPECT_TRUE(is<CBMP_SpecInterpreter>(createSpecInterpreter(spec, "a.Bmp")));
    EXPECT_TRUE(is<CPNG_SpecInterpreter>(createSpecInterpreter(spec, "a.PNG")));
    EXPECT_TRUE(is<CPSD_SpecInterpreter>(createSpecInterpreter(spec, "a.psd")));
    for (const char* name : {"a.jpe", "a.jfif", "noextension", "folder.jpg/file", "folder.png\\file", "a.png.", "a.gif",
                             "", ".", "a.j pg", "a.jpgx", "a.\xC3\xA9"})
        EXPECT_TRUE(is<COther_SpecInterpreter>(createSpecInterpreter(spec, name))) << name;
    EXPECT_TRUE(is<CPNG_SpecInterpreter>(createSpecInterpreter(spec, ".png")));
}

TEST(CreateSpecInterpreter, ExtensionLengthLimit)
{
    const OIIO::ImageSpec spec = specOf(3);
    // 15 characters fit: a dot and 14 letters match nothing but are well formed.
    EXPECT_TRUE(is<COther_SpecInterpreter>(createSpecInterpreter(spec, "a." + std::string(14, 'x'))));
    EXPECT_TRUE(is<COther_SpecInterpreter>(createSpecInterpreter(spec, "a." + std::string(15, 'x'))));
    EXPECT_TRUE(is<COther_SpecInterpreter>(createSpecInterpreter(spec, "a.jpg" + std::string(200, 'x'))));
    EXPECT_TRUE(is<CJPG_SpecInterpreter>(createSpecInterpreter(spec, std::string(300, 'a') + ".jpg")));
}

TEST(AttributeText, TypesAndCase)
{
    OIIO::ImageSpec spec = specOf(3);
    spec.attribute("tiff:PhotometricInterpretation", 5);
    spec.attribute("XResolution", 300.0f);
    spec.attribute("YResolution", 72.5f);
    spec.attribute("ResolutionUnit", "in");
    EXPECT_EQ(attributeText(spec, "tiff:photometricinterpretation"), "5");
    EXPECT_EQ(attributeText(spec, "XResolution"), "300");
    EXPECT_EQ(attributeText(spec, "yresolution"), "72.5");
    EXPECT_EQ(attributeText(spec, "RESOLUTIONUNIT"), "in");
    EXPECT_EQ(attributeText(spec, "Missing", "default"), "default");
}

TEST(Interpreters, PhotometricRule)
{
    struct Case {
        const char* photometric;
        int channels;
        bool cmyk;
        int alpha;
        int bytes;
    };
    const Case cases[] = {
        {"2", 1, false, -1, 1}, {"2", 3, false, -1, 3}, {"2", 4, false, 3, 3},   {"2", 5, true, 4, 4},
        {"2", 6, true, 4, 4},   {"5", 4, true, -1, 4},  {"5", 5, true, 4, 4},    {"5", 2, true, -1, 4},
        {"1", 4, false, -1, 3}, {"", 4, false, -1, 3},  {"22", 5, false, -1, 3},
    };
    for (const Case& c : cases) {
        OIIO::ImageSpec spec = specOf(c.channels);
        if (*c.photometric)
            spec.attribute("tiff:PhotometricInterpretation", std::atoi(c.photometric));
        spec.alpha_channel = c.channels - 1;  // what OpenImageIO says does not matter
        auto tif = createSpecInterpreter(spec, "a.tif");
        EXPECT_EQ(tif->isCMYK(), c.cmyk) << c.photometric << "/" << c.channels;
        EXPECT_EQ(tif->alphaChannel(), c.alpha) << c.photometric << "/" << c.channels;
        EXPECT_EQ(tif->bytesPerPixel(), c.bytes) << c.photometric << "/" << c.channels;
        EXPECT_FALSE(tif->invertOnRead());
    }
    OIIO::ImageSpec text = specOf(4);
    text.attribute("tiff:PhotometricInterpretation", "2");
    EXPECT_EQ(createSpecInterpreter(text, "a.tiff")->alphaChannel(), 3);
}

TEST(Interpreters, ChannelNameRules)
{
    auto jpg = createSpecInterpreter(specOf(4, {"C", "M", "Y", "K"}), "a.jpg");
    EXPECT_TRUE(jpg->isCMYK());
    EXPECT_TRUE(jpg->invertOnRead());
    EXPECT_EQ(jpg->alphaChannel(), -1);
    EXPECT_EQ(jpg->bytesPerPixel(), 4);

    auto lower = createSpecInterpreter(specOf(4, {"c", "m", "y", "k"}), "a.jpg");
    EXPECT_FALSE(lower->isCMYK());
    EXPECT_FALSE(lower->invertOnRead());

    auto rgba = createSpecInterpreter(specOf(4, {"R", "G", "B", "A"}), "a.psd");
    EXPECT_FALSE(rgba->isCMYK());
    EXPECT_EQ(rgba->alphaChannel(), 3);
    EXPECT_EQ(rgba->bytesPerPixel(), 3);

    auto cmyka = createSpecInterpreter(specOf(5, {"C", "M", "Y", "K", "A"}), "a.psd");
    EXPECT_TRUE(cmyka->isCMYK());
    EXPECT_EQ(cmyka->alphaChannel(), 4);
    EXPECT_EQ(cmyka->bytesPerPixel(), 4);
    EXPECT_FALSE(cmyka->invertOnRead());

    auto noA = createSpecInterpreter(specOf(4, {"R", "G", "B", "Alpha"}), "a.psd");
    EXPECT_EQ(noA->alphaChannel(), -1);
}

TEST(Interpreters, AlphaOfBmpPngAndOthers)
{
    OIIO::ImageSpec spec = specOf(4, {"R", "G", "B", "A"});
    spec.alpha_channel = 3;
    EXPECT_EQ(createSpecInterpreter(spec, "a.png")->alphaChannel(), 3);
    EXPECT_EQ(createSpecInterpreter(spec, "a.bmp")->alphaChannel(), 3);
    EXPECT_EQ(createSpecInterpreter(spec, "a.gif")->alphaChannel(), -1);
    EXPECT_EQ(createSpecInterpreter(spec, "a.gif")->bytesPerPixel(), 3);
    spec.alpha_channel = -1;
    EXPECT_EQ(createSpecInterpreter(spec, "a.png")->alphaChannel(), -1);
}

TEST(Interpreters, ResolutionFromAttributes)
{
    OIIO::ImageSpec spec = specOf(3);
    for (const char* name : {"a.png", "a.bmp", "a.tif", "a.psd", "a.gif"})
        EXPECT_EQ(createSpecInterpreter(spec, name)->xResolution(), 0.0) << name;
    spec.attribute("XResolution", 300.0f);
    spec.attribute("YResolution", 150.0f);
    spec.attribute("ResolutionUnit", "in");
    for (const char* name : {"a.png", "a.bmp", "a.tif", "a.psd", "a.gif", "a.jpg"}) {
        auto p = createSpecInterpreter(spec, name);
        EXPECT_EQ(p->xResolution(), 300.0) << name;
        EXPECT_EQ(p->yResolution(), 150.0) << name;
    }
    spec.attribute("ResolutionUnit", "cm");
    EXPECT_DOUBLE_EQ(createSpecInterpreter(spec, "a.png")->xResolution(), 762.0);
    spec.attribute("ResolutionUnit", "furlong");
    EXPECT_EQ(createSpecInterpreter(spec, "a.png")->xResolution(), 72.0);
}

TEST(Interpreters, JpegWithoutUnitReadsTheFilesRecords)
{
    TempDir dir;
    const std::string path = dir.file("r.jpg");
    writeFile(path, JpegStream().segment(0xE0, jfifPayload(1, 200, 100)).bytes());
    OIIO::ImageSpec spec = specOf(3);
    spec.attribute("XResolution", 300.0f);
    for (const char* unit : {"", "none"}) {
        if (*unit)
            spec.attribute("ResolutionUnit", unit);
        auto p = createSpecInterpreter(spec, path);
        EXPECT_EQ(p->xResolution(), 200.0) << unit;
        EXPECT_EQ(p->yResolution(), 100.0) << unit;
    }
    // Records are read afresh on every call.
    auto p = createSpecInterpreter(spec, path);
    writeFile(path, JpegStream().segment(0xE0, jfifPayload(1, 50, 60)).bytes());
    EXPECT_EQ(p->xResolution(), 50.0);
    writeFile(path, {});
    EXPECT_EQ(p->yResolution(), 72.0);
    EXPECT_EQ(createSpecInterpreter(spec, dir.file("missing.jpg"))->xResolution(), 72.0);
}

TEST(Interpreters, IccProfile)
{
    TempDir dir;
    LogCapture log;
    OIIO::ImageSpec spec = specOf(3);
    auto none = createSpecInterpreter(spec, "a.png");
    Blob blob;
    blob.update("xyz", 3);
    EXPECT_FALSE(none->getIccProfile(blob));
    EXPECT_EQ(blob.length(), 3);
    EXPECT_FALSE(none->writeIccProfile(wide(dir.file("none.icc"))));

    const unsigned char bytes[] = {0, 1, 2, 0xFF, 0x80};
    spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, 5), bytes);
    auto with = createSpecInterpreter(spec, "a.png");
    ASSERT_TRUE(with->getIccProfile(blob));
    ASSERT_EQ(blob.length(), 5);
    EXPECT_EQ(std::memcmp(blob.data(), bytes, 5), 0);
    const std::string target = dir.file("p.icc");
    EXPECT_TRUE(with->writeIccProfile(wide(target)));
    EXPECT_EQ(readFile(target), Bytes(bytes, bytes + 5));
    EXPECT_TRUE(log.lines().empty());

    EXPECT_FALSE(with->writeIccProfile(wide(dir.file("missing/p.icc"))));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], L"[TRXImage] OpenImageIO could not save the icc profile to disk, " +
                                  wide(dir.file("missing/p.icc")) + L"\n");
    log.clear();
    const std::wstring bad(L"/tmp/\xD800.icc");
    EXPECT_FALSE(with->writeIccProfile(bad));
    EXPECT_EQ(log.lines().size(), 1u);
}

TEST(Interpreters, EmptyIccProfileIsNoProfileButSavesAnEmptyFile)
{
    TempDir dir;
    OIIO::ImageSpec spec = specOf(3);
    // A type of no bytes: the only way OpenImageIO holds an empty profile.
    spec.extra_attribs.push_back(OIIO::ParamValue("ICCProfile", OIIO::TypeDesc(), 1, nullptr));
    auto p = createSpecInterpreter(spec, "a.tif");
    ASSERT_NE(findIccProfile(p->spec), nullptr);
    ASSERT_EQ(findIccProfile(p->spec)->type().size(), 0u);
    Blob blob;
    EXPECT_FALSE(p->getIccProfile(blob));
    const std::string target = dir.file("empty.icc");
    EXPECT_TRUE(p->writeIccProfile(wide(target)));
    EXPECT_TRUE(readFile(target).empty());
}

TEST(Interpreters, IccProfileNameIsCaseSensitive)
{
    const unsigned char bytes[] = {1, 2};
    OIIO::ImageSpec spec = specOf(3);
    spec.attribute("iccprofile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, 2), bytes);
    Blob blob;
    EXPECT_FALSE(createSpecInterpreter(spec, "a.tif")->getIccProfile(blob));
}
