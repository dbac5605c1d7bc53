#pragma once

#include <memory>
#include <string>

#include <OpenImageIO/imageio.h>

struct FileHead;

// Colour modes of a PSD header that OpenImageIO 2.4 gets wrong in raw-colour mode.
constexpr int kPsdBitmap = 0;
constexpr int kPsdIndexed = 2;

// The colour mode of a PSD file's header, or -1 when the bytes are not a PSD header.
int psdColourMode(const FileHead& file);

// A reader of an indexed PSD that delivers RGB (RGBA when the file names a transparent
// index) through the file's colour table, from `raw`, the file opened in raw-colour
// mode. Null, with `reason` set, when the colour table cannot be read.
std::unique_ptr<OIIO::ImageInput> indexedPsdReader(std::unique_ptr<OIIO::ImageInput> raw, const std::string& fileName,
                                                   std::string& reason);
