#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>
#include <nlohmann/json.hpp>

#include "support/ReadFiles.h"
#include "support/TestSupport.h"
#include "support/WriteFiles.h"

namespace {

struct ProgramRun {
    int status;
    std::string out;
};

// Runs trximage with `arguments` (already quoted) in `folder` (else here), standard
// error folded into the output unless the arguments redirect it.
ProgramRun trximage(const std::string& arguments, const std::string& folder = "")
{
    const std::string command =
        (folder.empty() ? "" : "cd '" + folder + "' && ") + TRXIMAGE_PROGRAM + " 2>&1 " + arguments;
    FILE* pipe = popen(command.c_str(), "r");
    ProgramRun run{-1, {}};
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.out.append(buffer, n);
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

void writeGradient(const std::string& path, int width, int height, int channels)
{
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out);
    OIIO::ImageSpec spec(width, height, channels, OIIO::TypeDesc::UINT8);
    spec.attribute("XResolution", 200.0f);
    spec.attribute("YResolution", 200.0f);
    spec.attribute("ResolutionUnit", "in");
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * channels);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<unsigned char>(i * 7);
    ASSERT_TRUE(out->open(path, spec));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, pixels.data()));
    out->close();
}

TEST(Trximage, InfoPrintsWhatTheLibraryRead)
{
    trxtest::TempDir dir;
    writeGradient(dir.file("a.png"), 30, 20, 3);
    const ProgramRun run = trximage("info " + dir.file("a.png"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("30 x 20, RGB, 24 bits per pixel"), std::string::npos) << run.out;
}

TEST(Trximage, InfoJsonParsesBack)
{
    trxtest::TempDir dir;
    writeGradient(dir.file("a.png"), 30, 20, 4);
    writeGradient(dir.file("b.tif"), 8, 9, 1);
    const ProgramRun run = trximage("info --json " + dir.file("a.png") + " " + dir.file("b.tif") + " 2>/dev/null");
    ASSERT_EQ(run.status, 0) << run.out;
    const auto json = nlohmann::json::parse(run.out);
    ASSERT_EQ(json.size(), 2u);
    EXPECT_EQ(json[0]["columns"], 30);
    EXPECT_EQ(json[0]["alpha"], true);
    EXPECT_EQ(json[0]["colourSpace"], "RGB");
    EXPECT_EQ(json[1]["rows"], 9);
    EXPECT_EQ(json[1]["colourSpace"], "grey");
    EXPECT_EQ(json[1]["xResolution"], 200.0);
}

TEST(Trximage, ConvertAppliesEditsAndWritesTheFormatOfTheName)
{
    trxtest::TempDir dir;
    writeGradient(dir.file("in.png"), 40, 30, 3);
    const ProgramRun run = trximage("convert " + dir.file("in.png") + " " + dir.file("out.jpg") +
                                    " --quality 80 --resize 20x10 --level 0.1,0.9,1.5");
    ASSERT_EQ(run.status, 0) << run.out;
    TarvexImage back;
    ASSERT_TRUE(back.open(dir.file("out.jpg")));
    EXPECT_EQ(back.columns(), 20);
    EXPECT_EQ(back.rows(), 10);
}

TEST(Trximage, ConvertPassesCompressionAndAttributesToTheWriter)
{
    trxtest::TempDir dir;
    writeGradient(dir.file("in.png"), 40, 30, 3);
    const ProgramRun run = trximage("convert " + dir.file("in.png") + " " + dir.file("out.tif") +
                                    " --compression none --attrib tiff:RowsPerStrip=3 --attrib Software=trx");
    ASSERT_EQ(run.status, 0) << run.out;
    auto in = OIIO::ImageInput::open(dir.file("out.tif"));
    ASSERT_TRUE(in);
    EXPECT_EQ(in->spec().get_string_attribute("compression"), "none");
    EXPECT_EQ(in->spec().get_int_attribute("tiff:RowsPerStrip"), 3);
    EXPECT_EQ(in->spec().get_string_attribute("Software"), "trx");
    EXPECT_EQ(trximage("convert a.png b.tif --attrib novalue").status, 2);
    EXPECT_EQ(trximage("convert a.png b.tif --attrib =3").status, 2);
}

// PNG and TIFF are deflated at level 3 unless the command line says otherwise.
TEST(Trximage, ConvertDeflatesFastByDefaultAndTheCommandLineWins)
{
    trxtest::TempDir dir;
    writeGradient(dir.file("in.png"), 64, 48, 3);
    const std::string in = dir.file("in.png") + " ";
    ASSERT_EQ(trximage("convert " + in + dir.file("default.png")).status, 0);
    ASSERT_EQ(trximage("convert " + in + dir.file("three.png") + " --attrib png:compressionLevel=3").status, 0);
    ASSERT_EQ(trximage("convert " + in + dir.file("stored.png") + " --attrib png:compressionLevel=0").status, 0);
    const auto deflated = trxtest::readFile(dir.file("default.png"));
    EXPECT_EQ(deflated, trxtest::readFile(dir.file("three.png")));
    EXPECT_GT(trxtest::readFile(dir.file("stored.png")).size(), deflated.size() + 64 * 48);

    // The writer's own default is zip too, at level 6, so the level shows only in the
    // size. TIFF files carry the time of writing, so sizes are compared, not bytes.
    ASSERT_EQ(trximage("convert " + in + dir.file("default.tif")).status, 0);
    ASSERT_EQ(trximage("convert " + in + dir.file("three.tif") + " --compression zip:3").status, 0);
    ASSERT_EQ(trximage("convert " + in + dir.file("six.tif") + " --compression zip:6").status, 0);
    const auto fastSize = trxtest::readFile(dir.file("three.tif")).size();
    ASSERT_NE(fastSize, trxtest::readFile(dir.file("six.tif")).size()) << "the levels must differ on this image";
    EXPECT_EQ(trxtest::readFile(dir.file("default.tif")).size(), fastSize);
    ASSERT_EQ(trximage("convert " + in + dir.file("lzw.tif") + " --compression lzw").status, 0);
    auto tiff = OIIO::ImageInput::open(dir.file("lzw.tif"));
    ASSERT_TRUE(tiff);
    EXPECT_EQ(tiff->spec().get_string_attribute("compression"), "lzw");
}

TEST(Trximage, BatchGoesOnPastABadFileAndSaysSo)
{
    trxtest::TempDir dir;
    writeGradient(dir.file("one.png"), 10, 10, 3);
    trxtest::writeFile(dir.file("two.png"), {0x89, 'P', 'N', 'G', 1, 2, 3});
    writeGradient(dir.file("three.png"), 12, 10, 3);
    const ProgramRun run = trximage("convert " + dir.file("one.png") + " " + dir.file("two.png") + " " +
                                    dir.file("three.png") + " --out-dir " + dir.file("out") + " --format tif");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("failed: " + dir.file("two.png")), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("converted 2 of 3 files"), std::string::npos) << run.out;
    EXPECT_TRUE(std::filesystem::exists(dir.file("out/one.tif")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("out/three.tif")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("out/two.tif")));
}

TEST(Trximage, ExitStatusTellsUsageFromFailure)
{
    trxtest::TempDir dir;
    EXPECT_EQ(trximage("").status, 2);
    const ProgramRun unknown = trximage("frobnicate");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.out.find("unknown command 'frobnicate'"), std::string::npos) << unknown.out;
    EXPECT_EQ(trximage("convert a.png b.jpg --quality 101").status, 2);
    EXPECT_EQ(trximage("convert a.png b.jpg --quality -1").status, 2);
    EXPECT_EQ(trximage("convert only-one.png").status, 2);
    EXPECT_EQ(trximage("convert a.png b.png --resize 10by10").status, 2);
    EXPECT_EQ(trximage("convert a.png b.png --level 0.1").status, 2);
    EXPECT_EQ(trximage("info --help").status, 0);
    const ProgramRun missing = trximage("info " + dir.file("missing.png"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("[TRXImage] OpenImageIO cannot open " + dir.file("missing.png")), std::string::npos)
        << missing.out;
}

// Every file of `folder` and below with its bytes.
std::map<std::string, trxtest::Bytes> filesUnder(const std::string& folder)
{
    std::map<std::string, trxtest::Bytes> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        files[entry.path().string()] = trxtest::readFile(entry.path().string());
    return files;
}

// An output that is an input (by spelling, symbolic or hard link), or that two inputs
// would write, is refused before anything is written; other files are overwritten.
TEST(Trximage, ConvertNeverLosesAFile)
{
    trxtest::TempDir dir;
    writeGradient(dir.file("a.png"), 6, 4, 3);
    writeGradient(dir.file("b.png"), 5, 4, 3);
    for (const char* name : {"hopper.jpg", "hopper.tif", "hopper.gif", "x.tif"})
        writeGradient(dir.file(name), 4, 4, 3);
    std::filesystem::create_symlink("a.png", dir.file("link.png"));
    std::filesystem::create_hard_link(dir.file("a.png"), dir.file("hard.png"));
    struct Row {
        const char* arguments;
        const char* says;
    };
    const Row refused[] = {
        {"b.png --out-dir .", "the output ./b.png is the input b.png"},
        {"a.png link.png", "the output link.png is the input a.png"},
        {"a.png hard.png", "the output hard.png is the input a.png"},
        {"x.tif x.png --format png", "the output x.png is the input x.png"},
        {"hopper.jpg hopper.tif hopper.gif --out-dir out --format png",
         "hopper.jpg and hopper.tif would both be written to out/hopper.png"},
        {"a.png c.jpg --icc-out a.png", "the profile file a.png is the input a.png"},
    };
    const auto before = filesUnder(dir.path());
    for (const Row& row : refused) {
        SCOPED_TRACE(row.arguments);
        const ProgramRun run = trximage(std::string("convert ") + row.arguments, dir.path());
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.out.find(row.says), std::string::npos) << run.out;
        EXPECT_TRUE(filesUnder(dir.path()) == before);
    }
    // With --format every name is an input; an existing output that no input is, is
    // overwritten.
    trxtest::writeFile(dir.file("a.jpg"), {1, 2, 3});
    const ProgramRun run = trximage("convert a.png b.png --format jpg", dir.path());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(trxtest::readFile(dir.file("b.png")), before.at(dir.file("b.png")));
    TarvexImage a, b;
    EXPECT_TRUE(a.open(dir.file("a.jpg")) && a.columns() == 6);
    EXPECT_TRUE(b.open(dir.file("b.jpg")) && b.columns() == 5);
}

// The library's own lines say why: below the tool's message, and per file in JSON.
TEST(Trximage, ErrorsCarryTheLibrarysLines)
{
    trxtest::TempDir dir;
    writeGradient(dir.file("good.png"), 4, 4, 3);
    const ProgramRun info =
        trximage("info --json " + dir.file("missing.png") + " " + dir.file("good.png") + " 2>/dev/null");
    EXPECT_EQ(info.status, 1);
    const auto json = nlohmann::json::parse(info.out);
    ASSERT_EQ(json.size(), 2u);
    ASSERT_GE(json[0]["errors"].size(), 1u) << info.out;
    EXPECT_EQ(json[0]["errors"][0], "OpenImageIO cannot open " + dir.file("missing.png"));
    EXPECT_EQ(json[1]["errors"].size(), 0u);
    const std::string out = dir.file("no/folder/out.png");
    const ProgramRun convert = trximage("convert " + dir.file("good.png") + " " + out);
    EXPECT_EQ(convert.status, 1);
    EXPECT_NE(convert.out.find("trximage: cannot write " + out + "\n  [TRXImage] OpenImageIO for RGB fails to open"),
              std::string::npos)
        << convert.out;
}

// A profile of no real colour data: its length, colour space and signature in place.
trxtest::Bytes iccProfile(const char* space)
{
    trxtest::Bytes profile(132, 0);
    profile[3] = 132;
    std::memcpy(&profile[16], space, 4);
    std::memcpy(&profile[36], "acsp", 4);
    return profile;
}

trxtest::Bytes iccOf(const std::string& path)
{
    const trxtest::Decoded decoded = trxtest::decodeFile(path);
    const OIIO::ParamValue* p = decoded.spec.find_attribute("ICCProfile");
    const auto* bytes = p ? static_cast<const unsigned char*>(p->data()) : nullptr;
    return bytes ? trxtest::Bytes(bytes, bytes + p->type().size()) : trxtest::Bytes();
}

// The source's profile goes with the pixels unless --strip-icc, or unless it describes
// another colour model than the one written (a grey profile on RGB output).
TEST(Trximage, ConvertKeepsTheIccProfileUnlessStripped)
{
    trxtest::TempDir dir;
    const trxtest::Bytes rgb = iccProfile("RGB "), grey = iccProfile("GRAY");
    OIIO::ImageSpec colour(6, 4, 3, OIIO::TypeUInt8), mono(6, 4, 1, OIIO::TypeUInt8);
    colour.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, int(rgb.size())), rgb.data());
    mono.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, int(grey.size())), grey.data());
    ASSERT_TRUE(trxtest::writeImage(dir.file("rgb.tif"), colour));
    ASSERT_TRUE(trxtest::writeImage(dir.file("grey.tif"), mono));
    const ProgramRun run = trximage("convert rgb.tif grey.tif --out-dir out --format jpg", dir.path());
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(iccOf(dir.file("out/rgb.jpg")), rgb);
    EXPECT_TRUE(iccOf(dir.file("out/grey.jpg")).empty());
    EXPECT_NE(run.out.find("grey.tif: its ICC profile describes 'GRAY'"), std::string::npos) << run.out;
    ASSERT_EQ(trximage("convert rgb.tif stripped.png --strip-icc", dir.path()).status, 0);
    EXPECT_TRUE(iccOf(dir.file("stripped.png")).empty());
}

// CMYK is shown as such, and the tool writes exactly what the library writes for the
// image (CMYK where the format holds it): it converts nothing itself.
TEST(Trximage, CmykIsShownAndWrittenByTheLibrary)
{
    trxtest::TempDir dir;
    OIIO::ImageSpec spec(5, 4, 4, OIIO::TypeUInt8);
    spec.attribute("tiff:ColorSpace", "CMYK");
    ASSERT_TRUE(trxtest::writeImage(dir.file("cmyk.tif"), spec));
    const ProgramRun info = trximage("info cmyk.tif", dir.path());
    EXPECT_NE(info.out.find("5 x 4, CMYK, 32 bits per pixel"), std::string::npos) << info.out;
    ASSERT_EQ(trximage("convert cmyk.tif --out-dir out", dir.path()).status, 0);
    ASSERT_EQ(trximage("convert cmyk.tif out/cmyk.jpg", dir.path()).status, 0);
    TarvexImage image;
    ASSERT_TRUE(image.open(dir.file("cmyk.tif")));
    for (const char* name : {"cmyk.tif", "cmyk.jpg"}) {
        SCOPED_TRACE(name);
        CBufferStream stream;
        ASSERT_TRUE(image.write(name, -1, &stream));
        const trxtest::Decoded own = trxtest::decodeBytes(name, stream.GetBuffer(), stream.GetPos());
        const trxtest::Decoded tool = trxtest::decodeFile(dir.file(std::string("out/") + name));
        EXPECT_EQ(tool.spec.channelnames, own.spec.channelnames);
        EXPECT_EQ(tool.pixels, own.pixels);
    }
}

TEST(Trximage, DemoNeedsNoInputAndWritesItsFiles)
{
    trxtest::TempDir dir;
    const ProgramRun run = trximage("demo " + dir.path());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.find("FAILED"), std::string::npos) << run.out;
    for (const char* name : {"demo.png", "demo.jpg", "demo.tif"})
        EXPECT_GT(std::filesystem::file_size(dir.file(name)), 0u) << name;
}

}  // namespace
