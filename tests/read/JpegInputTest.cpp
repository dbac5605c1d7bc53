#include <gtest/gtest.h>

#include "read/ReaderConfig.h"
#include "read/SpecInterpreter.h"
#include "support/ReadFiles.h"
#include "support/TestSupport.h"

using namespace trxtest;

namespace {

Bytes profileOf(std::size_t size)
{
    Bytes p(size);
    for (std::size_t i = 0; i < size; ++i)
        p[i] = static_cast<unsigned char>(i * 7 + i / 251);
    return p;
}

}  // namespace

// Samples against libjpeg's own decoding of the file (the strips hold the complement of
// the stored CMYK, as Pillow, libvips and ImageMagick report it), resolution as the
// interpreter reads it, and the attributes OpenImageIO's reader gives an RGB twin.
TEST(JpegInput, FourComponentFilesOpenAsLibjpegDecodesThem)
{
    TempDir dir;
    const Bytes inches = exifPayload(true, {exifRational(282, 200, 1), exifRational(283, 200, 1), exifShort(296, 2)});
    struct Row {
        const char* name;
        JpegRecipe recipe;
        double x, y;
    };
    const Row rows[] = {
        {"Adobe CMYK, no records", {JpegColour::AdobeCmyk, 37, 29}, 72, 72},
        {"YCCK, JFIF per inch", {JpegColour::Ycck, 40, 30, 1, 300, 300}, 300, 300},
        {"CMYK without Adobe marker, JFIF per cm", {JpegColour::PlainCmyk, 17, 9, 2, 118, 118}, 299.72, 299.72},
        {"JFIF without unit", {JpegColour::AdobeCmyk, 8, 8, 0, 300, 150}, 300, 150},
        {"Exif in inches, ICC in two chunks",
         {JpegColour::AdobeCmyk, 23, 11, -1, 1, 1, inches, profileOf(70000)},
         200,
         200},
        {"progressive YCCK, restarts, JFIF 1:2", {JpegColour::Ycck, 50, 70, 1, 1, 2, {}, {}, 1, true}, 72, 72},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir.file("cmyk.jpg");
        writeFile(path, libjpegFile(row.recipe));
        int components = 0;
        const Bytes stored = libjpegSamples(readFile(path), components);
        ASSERT_EQ(components, 4);

        TarvexImage image;
        ASSERT_TRUE(image.open(path));
        EXPECT_EQ(image.colourSpace(), TarvexImage::colourSpaceCMYK);
        ASSERT_EQ(image.columns(), row.recipe.width);
        ASSERT_EQ(image.rows(), row.recipe.height);
        const std::size_t lineSize = static_cast<std::size_t>(row.recipe.width) * 4;
        for (int y = 0; y < row.recipe.height; ++y) {
            Bytes expected(stored.begin() + y * lineSize, stored.begin() + (y + 1) * lineSize);
            for (unsigned char& b : expected)
                b = static_cast<unsigned char>(255 - b);
            ASSERT_EQ(lineBytes(image, y), expected) << "line " << y;
        }
        EXPECT_NEAR(image.xResolution(), row.x, 1e-9);
        EXPECT_NEAR(image.yResolution(), row.y, 1e-9);
        const Blob& profile = image.iccColourProfile();
        EXPECT_EQ(Bytes(profile.data(), profile.data() + profile.length()), row.recipe.icc);

        JpegRecipe twin = row.recipe;
        twin.colour = JpegColour::Rgb;
        writeFile(dir.file("rgb.jpg"), libjpegFile(twin));
        auto ours = openReader(path);
        auto theirs = OIIO::ImageInput::open(dir.file("rgb.jpg"));
        ASSERT_TRUE(ours && theirs);
        for (const char* name : {"XResolution", "YResolution", "ResolutionUnit", "PixelAspectRatio"})
            EXPECT_EQ(attributeText(ours->spec(), name, "absent"), attributeText(theirs->spec(), name, "absent"))
                << name;

        // A line above the decoder's position restarts it; a channel range reads just those.
        const int last = row.recipe.height - 1;
        Bytes line(lineSize), k(lineSize / 4);
        ASSERT_TRUE(ours->read_scanlines(0, 0, last, last + 1, 0, 0, 4, OIIO::TypeUInt8, line.data()));
        EXPECT_EQ(line, Bytes(stored.end() - static_cast<long>(lineSize), stored.end()));
        ASSERT_TRUE(ours->read_scanlines(0, 0, 0, 1, 0, 3, 4, OIIO::TypeUInt8, k.data()));
        for (std::size_t x = 0; x < k.size(); ++x)
            ASSERT_EQ(k[x], stored[4 * x + 3]) << x;
    }
}
