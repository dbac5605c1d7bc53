#pragma once

#include <memory>
#include <string>

#include <OpenImageIO/imageio.h>

class Blob;

// Answers what an opened file's description means for the image: CMYK or not,
// inversion, where the alpha is, colour bytes per pixel, resolution in pixels per inch.
// Every answer is a pure function of the copied description (and, for JPEG
// resolutions, of the file's header bytes at the time of the call).
class CImageSpecInterpreter {
public:
    explicit CImageSpecInterpreter(const OIIO::ImageSpec& fileSpec);
    virtual ~CImageSpecInterpreter();

    virtual bool isCMYK() const = 0;
    // Index of the alpha channel in the file's channel order, or -1.
    virtual int alphaChannel() const = 0;
    // Pixels per inch from the description's attributes; 0 means none.
    virtual double xResolution() const;
    virtual double yResolution() const;
    // 1, 3 or 4 colour bytes per pixel.
    virtual int bytesPerPixel() const;
    virtual bool invertOnRead() const;

    // The file's "ICCProfile" bytes into `profile`; false (profile untouched) when
    // there is none or it is empty.
    bool getIccProfile(Blob& profile) const;
    // Writes the file's profile bytes to `path`; false when there is no profile or
    // the file cannot be created (logged).
    bool writeIccProfile(const std::wstring& path) const;

    OIIO::ImageSpec spec;
};

// The interpreter for the file's extension; null only when it cannot be allocated.
std::unique_ptr<CImageSpecInterpreter> createSpecInterpreter(const OIIO::ImageSpec& spec, const std::string& fileName);

// An attribute as text (names matched without regard to case): a string attribute's
// own text, any other type rendered by OpenImageIO, `fallback` when absent.
std::string attributeText(const OIIO::ImageSpec& spec, const char* name, const std::string& fallback = {});

// The first four channels are named exactly "C", "M", "Y", "K".
bool isCMYKByChannelNames(const OIIO::ImageSpec& spec);

// The attribute named exactly "ICCProfile" (case matters), or null.
const OIIO::ParamValue* findIccProfile(const OIIO::ImageSpec& spec);
