// Writes the seed corpora: small files of every format the open target tries, JPEG
// marker streams and record payloads, and a few buffer operation sequences.
//   trx_fuzz_seeds <folder>   makes <folder>/jpeg_records, <folder>/open, <folder>/buffers
#include <cstdio>
#include <filesystem>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "support/ReadFiles.h"

using namespace trxtest;
namespace fs = std::filesystem;

namespace {

int failures = 0;

void save(const fs::path& folder, const std::string& name, const Bytes& bytes)
{
    std::FILE* file = std::fopen((folder / name).c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", (folder / name).c_str());
        ++failures;
    }
    if (file)
        std::fclose(file);
}

Bytes slurp(const fs::path& path)
{
    Bytes bytes;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::getc(file)) != EOF)
            bytes.push_back(static_cast<unsigned char>(c));
        std::fclose(file);
    }
    return bytes;
}

std::size_t extensionIndex(const std::string& extension)
{
    for (std::size_t i = 0; i < trxfuzz::kExtensionCount; ++i)
        if (extension == trxfuzz::kExtensions[i])
            return i;
    return trxfuzz::kExtensionCount - 1;
}

// A small image written by OpenImageIO, or empty when it has no writer for the format.
Bytes madeByOpenImageIO(const fs::path& scratch, const std::string& extension, int width, int height, int channels)
{
    const fs::path path = scratch / ("seed" + extension);
    if (!writeImage(path.string(), OIIO::ImageSpec(width, height, channels, OIIO::TypeUInt8)))
        return {};
    return slurp(path);
}

Bytes patternPlane(int width, int height, int c)
{
    Bytes plane;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            plane.push_back(patternSample(x, y, c));
    return plane;
}

Bytes joined(Bytes first, const Bytes& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    const fs::path records = root / "jpeg_records", open = root / "open", buffers = root / "buffers",
                   scratch = root / "scratch";
    for (const fs::path& folder : {records, open, buffers, scratch})
        fs::create_directories(folder);

    // Record payloads, alone and inside marker streams.
    const Bytes jfif = jfifPayload(1, 300, 300);
    const Bytes exifLittle =
        exifPayload(true, {exifRational(282, 300, 1), exifRational(283, 150, 1), exifShort(296, 3)});
    const Bytes exifBig = exifPayload(false, {exifRational(282, 72, 1), exifShort(296, 2)});
    const Bytes photoshop = photoshopPayload(
        {{"8BIM", 1004, "ab", Bytes(5, 1)}, {"8BIM", 1005, "", photoshopResolution(300 << 16, 1, 200 << 16, 2)}});
    save(records, "jfif", jfif);
    save(records, "exif_le", exifLittle);
    save(records, "exif_be", exifBig);
    save(records, "photoshop", photoshop);
    save(records, "stream_all",
         JpegStream().segment(0xE0, jfif).segment(0xE1, exifLittle).segment(0xED, photoshop).marker(0xD9).bytes());
    save(records, "stream_restarts",
         JpegStream().marker(0xD0).raw({0xFF, 0xFF}).segment(0xED, photoshop).marker(0xDA).bytes());

    // Files of every format, each behind the byte that picks its extension.
    const auto saveOpen = [&](const std::string& name, const std::string& extension, const Bytes& file) {
        if (file.empty())
            return;
        Bytes seed{static_cast<unsigned char>(extensionIndex(extension))};
        seed.insert(seed.end(), file.begin(), file.end());
        save(open, name, seed);
    };
    for (const std::string extension : {".jpg", ".png", ".tif", ".bmp", ".gif", ".tga", ".pnm"})
        for (int channels : {1, 3, 4})
            saveOpen("oiio" + std::to_string(channels) + extension, extension,
                     madeByOpenImageIO(scratch, extension, 7, 5, channels));
    const Bytes jpeg = madeByOpenImageIO(scratch, ".jpg", 9, 4, 3);
    saveOpen("records.jpg", ".jpg",
             replaceJpegRecords(jpeg, joined(jpegSegment(0xE1, exifLittle), jpegSegment(0xED, photoshop))));
    // Four-component JPEGs go to the library's own reader.
    saveOpen("ycck.jpg", ".jpg", libjpegFile({JpegColour::Ycck, 9, 4, 1, 300, 300, exifLittle, {}, 1, true}));
    saveOpen("cmyk.jpg", ".jpg", libjpegFile({JpegColour::PlainCmyk, 7, 5}));
    std::vector<Bytes> rgb, cmyk;
    for (int c = 0; c < 4; ++c)
        (c < 3 ? rgb : cmyk).push_back(patternPlane(6, 4, c));
    cmyk.insert(cmyk.begin(), rgb.begin(), rgb.end());
    saveOpen("rgb.psd", ".psd", psdFile(6, 4, 3, rgb, photoshopResolution(72 << 16, 1, 72 << 16, 1)));
    saveOpen("cmyk.psd", ".psd", psdFile(6, 4, 4, cmyk));
    Bytes samples;
    for (int i = 0; i < 6 * 4 * 3; ++i)
        samples.push_back(static_cast<unsigned char>(i * 5));
    saveOpen("strips.tif", ".tif", tiffFile(6, 4, 3, samples, 2));
    saveOpen("tiff_as_other", ".dat", tiffFile(6, 4, 3, samples, 4));

    // Buffer operation sequences: writes, reads, copies and clears on both objects.
    save(buffers, "writes", {0, 1, 0, 200, 0x80, 2, 1, 0, 2, 0, 0, 0, 50, 3, 10, 5});
    save(buffers, "copies", {0, 9, 2, 0, 4, 1, 0x84, 0, 5, 6, 3, 3, 0, 0x89, 0xC9, 8, 0, 4});
    save(buffers, "granules", {6, 1, 1, 255, 6, 2, 0, 1, 7, 5, 8, 0, 100, 0x86, 4, 0, 0, 9, 0xC9});

    fs::remove_all(scratch);
    return failures == 0 ? 0 : 1;
}
