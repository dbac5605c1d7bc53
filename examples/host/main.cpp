// A host of TRXImage: builds an RGB image in memory, paints it through line pointers,
// edits a private copy and prints what both images report. Exits non-zero when the
// library does not behave as its header promises.
#include <TRXImage.h>

#include <cstdio>

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
    std::printf("%s: %lld x %lld, %s, %d bits per pixel, %d bytes per line, %d strip(s), "
                "%g x %g ppi, alpha %s\n",
                title, static_cast<long long>(image.columns()), static_cast<long long>(image.rows()),
                colourSpaceName(image.colourSpace()), image.bitsPerPixel(), image.bytesPerLine(), image.stripCount(),
                image.xResolution(), image.yResolution(), image.matte() ? "yes" : "no");
}

unsigned char gradient(int x, int y, int channel)
{
    return static_cast<unsigned char>((x * (channel + 1) + y * 3) & 0xFF);
}

// Returns false when a line cannot be reached.
bool paint(TarvexImage& image)
{
    TarvexImage::LinePointer line;
    for (int y = 0; y < image.rows(); ++y) {
        if (!image.setupLinePointer(line, y))
            return false;
        unsigned char* pixels = line.get_pustr();
        for (int x = 0; x < image.columns(); ++x)
            for (int c = 0; c < 3; ++c)
                pixels[3 * x + c] = gradient(x, y, c);
    }
    return true;
}

// Counts the bytes that differ from the painted gradient.
long countChanged(TarvexImage& image)
{
    long changed = 0;
    TarvexImage::LinePointer line;
    for (int y = 0; y < image.rows(); ++y) {
        if (!image.setupLinePointer(line, y))
            return -1;
        const unsigned char* pixels = line.get();
        for (int x = 0; x < image.columns(); ++x)
            for (int c = 0; c < 3; ++c)
                changed += pixels[3 * x + c] != gradient(x, y, c);
    }
    return changed;
}

}  // namespace

int main()
{
    TarvexImage image;
    image.colourSpace(TarvexImage::colourSpaceRGB);
    image.size(320, 200, 0, 0, nullptr, nullptr);
    image.xResolution(300.0);
    image.yResolution(300.0);
    if (!paint(image)) {
        std::fprintf(stderr, "host: a scan line of the new image cannot be reached\n");
        return 1;
    }
    image.SetIsRead();
    printProperties("image", image);

    // The copy shares the pixels until modifyImage() gives it its own.
    TarvexImage copy(image);
    copy.modifyImage();
    TarvexImage::LinePointer line;
    if (!copy.setupLinePointer(line, 10)) {
        std::fprintf(stderr, "host: a scan line of the copy cannot be reached\n");
        return 1;
    }
    line.get_pustr()[0] = static_cast<unsigned char>(gradient(0, 10, 0) ^ 0xFF);
    copy.xResolution(72.0);
    printProperties("copy", copy);

    const long changedInImage = countChanged(image);
    const long changedInCopy = countChanged(copy);
    std::printf("bytes changed: %ld in the image, %ld in the copy\n", changedInImage, changedInCopy);
    if (image.columns() != 320 || image.rows() != 200 || image.bitsPerPixel() != 24 || changedInImage != 0 ||
        changedInCopy != 1 || image.xResolution() != 300.0) {
        std::fprintf(stderr, "host: the library did not behave as documented\n");
        return 1;
    }
    return 0;
}
