#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <regex>

#include "support/ReadFiles.h"
#include "support/TestSupport.h"

namespace {

// A curved pattern, so that deflate levels give different files.
unsigned char rings(int x, int y, int c) { return static_cast<unsigned char>((x * x + y * y) * (c + 1) / 7); }

struct Row {
    const char* arguments;
    int status;
    const char* says;  // a regular expression found in the output
    // With `edit`: `out` is the file the library writes for `in` with its ICC profile and `edit`.
    const char* in = "";
    const char* out = "";
    void (*edit)(TarvexImage& image, trx::WriteOptions& options) = nullptr;
};

// The tool converts nothing itself: its files are the library's own with the edits and
// options asked for and its defaults (PNG and TIFF deflated at level 3, the source's
// ICC profile kept). A usage error (status 2) writes nothing; nor does any run that
// would lose a file: an output that is an input (by spelling, symbolic or hard link) or
// that two inputs would write.
TEST(Trximage, RunsGiveTheLibrarysFilesOrWriteNothing)
{
    trxtest::TempDir dir;
    ASSERT_TRUE(trxtest::writeImage(dir.file("a.png"), OIIO::ImageSpec(30, 20, 4, OIIO::TypeUInt8)));
    std::filesystem::create_symlink("a.png", dir.file("link.png"));
    std::filesystem::create_hard_link(dir.file("a.png"), dir.file("hard.png"));
    trxtest::writeFile(dir.file("rgb.jpg"), {1, 2, 3});  // no input: to be overwritten
    // An ICC profile header of 132 bytes and no colour data; the colour space goes in at 16.
    std::string icc = std::string("\0\0\0\x84", 4) + std::string(32, '\0') + "acsp" + std::string(92, '\0');
    const std::tuple<const char*, int, const char*> tiffs[] = {
        {"cmyk.tif", 4, "CMYK"}, {"rgb.tif", 3, "RGB "}, {"grey.tif", 1, "GRAY"}};
    for (const auto& [name, channels, space] : tiffs) {
        OIIO::ImageSpec spec(64, 48, channels, OIIO::TypeUInt8);
        spec.attribute("tiff:ColorSpace", channels == 4 ? "CMYK" : "");
        icc.replace(16, 4, space);
        spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, 132), icc.data());
        ASSERT_TRUE(trxtest::writeImage(dir.file(name), spec, rings));
    }
    const Row rows[] = {
        {"frobnicate", 2, "unknown command 'frobnicate'"},
        {"convert a.png b.jpg --quality 101", 2, ""},
        {"convert a.png b.png c.png", 2, ""},
        {"convert a.png sub/link.png sub/hard.png --out-dir .", 2,
         "the output ./a.png is the input a.png\n  the output ./link.png is the input a.png\n"
         "  the output ./hard.png is the input a.png"},
        {"convert grey.tif a.tif cmyk.tif cmyk.jpg a.png --format png", 2,
         "the output a.png is the input a.png\n  cmyk.tif and cmyk.jpg would both be written to cmyk.png"},
        {"convert a.png c.jpg --icc-out a.png", 2, "the profile file a.png is the input a.png"},
        {"info cmyk.tif", 0, "cmyk.tif: 64 x 48, CMYK, 32 bits per pixel"},
        {"info --json cmyk.tif missing.png 2>/dev/null", 1,
         "\"colourSpace\": \"CMYK\"[^]*\"errors\": \\[\n +\"OpenImageIO cannot open missing.png\""},
        {"convert cmyk.tif c.jpg --quality 80 --resize 20x10 --level 0.1,0.9,1.5", 0, "", "cmyk.tif", "c.jpg",
         [](auto& image, auto& options) { image.resize(20, 10), image.level(0.1, 0.9, 1.5), options.quality(80); }},
        {"convert a.png t.tif --compression none --attrib tiff:RowsPerStrip=3 --attrib Software=x", 0, "", "a.png",
         "t.tif",
         [](auto&, auto& o) { o.compression("none").attribute("tiff:RowsPerStrip", 3).attribute("Software", "x"); }},
        // Beside its input; a grey profile does not describe the RGB written.
        {"convert rgb.tif grey.tif --format jpg", 0, "grey.tif: its ICC profile describes 'GRAY'", "rgb.tif", "rgb.jpg",
         [](auto&, auto&) {}},
        {"convert rgb.tif s.png --strip-icc", 0, "", "rgb.tif", "s.png",
         [](auto&, auto& options) { options.iccProfile(Blob()).attribute("png:compressionLevel", 3); }},
        {"convert a.png missing.png cmyk.tif --out-dir out", 1,
         "cannot read missing.png\n  \\[TRXImage\\] [^]*converted 2 of 3 files", "cmyk.tif", "out/cmyk.tif",
         [](auto&, auto& options) { options.compression("zip:3"); }},
        {"demo demo", 0, "demo.png reads back as 640 x 480"},
    };
    const auto files = [&] {  // every file in the folder with its time of writing
        std::string all;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
            all += entry.path().string() + std::to_string(entry.last_write_time().time_since_epoch().count());
        return all;
    };
    const std::regex writingTime("\\d{4}:\\d\\d:\\d\\d \\d\\d:\\d\\d:\\d\\d");  // in TIFF files
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments);
        const std::string before = row.status == 2 ? files() : "";
        FILE* pipe = popen(("cd '" + dir.path() + "' && " TRXIMAGE_PROGRAM " 2>&1 " + row.arguments).c_str(), "r");
        std::string out;
        for (int c; (c = std::fgetc(pipe)) != EOF;)
            out += static_cast<char>(c);
        const int status = pclose(pipe);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, row.status) << out;
        EXPECT_TRUE(std::regex_search(out, std::regex(row.says))) << out;
        EXPECT_TRUE(row.status != 2 || files() == before) << "a refused run wrote";
        if (!row.edit)
            continue;
        TarvexImage image;
        trx::WriteOptions options;
        CBufferStream own;
        ASSERT_TRUE(image.open(dir.file(row.in)));
        options.iccProfile(image.iccColourProfile());
        row.edit(image, options);
        ASSERT_TRUE(image.write(row.out, &own, options));
        const trxtest::Bytes file = trxtest::readFile(dir.file(row.out));
        EXPECT_TRUE(std::regex_replace(std::string(file.begin(), file.end()), writingTime, "") ==
                    std::regex_replace(std::string(own.GetBuffer(), own.GetPos()), writingTime, ""))
            << "the tool wrote " << file.size() << " bytes, the library " << own.GetPos();
    }
}

}  // namespace
