// trximage: the command-line face of the library, built on its public API only.
#include <TRXImage.h>

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

const char* colourSpaceName(TarvexImage::colourSpaceType space)
{
    switch (space) {
    case TarvexImage::colourSpaceBilevel: return "bilevel";
    case TarvexImage::colourSpaceRGB: return "RGB";
    case TarvexImage::colourSpaceGrey: return "grey";
    case TarvexImage::colourSpaceCMYK: return "CMYK";
    default: return "unknown";
    }
}

void printProperties(const char* title, const TarvexImage& image)
{
    std::printf("%s: %lld x %lld, %s, %d bits per pixel, %d strip(s) of %d lines, %d bytes per line, "
                "resolution %g x %g ppi, alpha %s\n",
                title, static_cast<long long>(image.columns()), static_cast<long long>(image.rows()),
                colourSpaceName(image.colourSpace()), image.bitsPerPixel(), image.stripCount(),
                image.linesPerStrip(), image.bytesPerLine(), image.xResolution(), image.yResolution(),
                image.matte() ? "yes" : "no");
}

// Paints a diagonal RGB gradient through line pointers.
void paintGradient(TarvexImage& image)
{
    const auto width = image.columns();
    const auto height = image.rows();
    TarvexImage::LinePointer line;
    for (int y = 0; y < height; ++y) {
        if (!image.setupLinePointer(line, y))
            continue;
        unsigned char* px = line.get_pustr();
        for (std::int64_t x = 0; x < width; ++x) {
            px[3 * x + 0] = static_cast<unsigned char>(255 * x / (width > 1 ? width - 1 : 1));
            px[3 * x + 1] = static_cast<unsigned char>(255 * y / (height > 1 ? height - 1 : 1));
            px[3 * x + 2] = static_cast<unsigned char>(255 - px[3 * x + 0]);
        }
    }
}

int runDemo()
{
    TarvexImage image;
    image.colourSpace(TarvexImage::colourSpaceRGB);
    image.size(640, 480, 0, 0, nullptr, nullptr);
    image.xResolution(300.0);
    image.yResolution(300.0);
    paintGradient(image);
    image.SetIsRead();
    printProperties("built", image);

    TarvexImage copy(image);
    copy.modifyImage();
    TarvexImage::LinePointer line;
    copy.setupLinePointer(line, 0);
    line.get_pustr()[0] = 7;
    TarvexImage::LinePointer original;
    image.setupLinePointer(original, 0);
    std::printf("copy un-shared: first byte %d in the copy, %d in the original\n", line.get()[0],
                original.get()[0]);
    copy.xResolution(72.0);
    printProperties("copy", copy);
    printProperties("original", image);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"trximage: open, inspect, edit and write raster images with TRXImage"};
    app.require_subcommand(1);
    CLI::App* demo = app.add_subcommand("demo", "Build an image in memory and run the library on it (no input needed)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    if (demo->parsed())
        return runDemo();
    return 2;
}
