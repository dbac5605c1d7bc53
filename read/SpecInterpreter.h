#pragma once

#include <memory>
#include <string>

#include <OpenImageIO/imageio.h>

class Blob;

// Answers what an opened file's description means for the image: CMYK or not,
// inversion, where the alpha is, colour bytes per pixel, resolution in pixels per inch.
class CImageSpecInterpreter {
public:
    explicit CImageSpecInterpreter(const OIIO::ImageSpec& fileSpec);
    virtual ~CImageSpecInterpreter();

    virtual bool isCMYK() const = 0;
    virtual int alphaChannel() const = 0;
    virtual double xResolution() const;
    virtual double yResolution() const;
    virtual int bytesPerPixel() const;
    virtual bool invertOnRead() const;

    // The file's "ICCProfile" bytes into `profile`; false when there are none.
    bool getIccProfile(Blob& profile) const;
    // Writes the file's profile bytes to `path`.
    bool writeIccProfile(const std::wstring& path) const;

    OIIO::ImageSpec spec;
};

// The interpreter for the file's extension; null only when it cannot be allocated.
std::unique_ptr<CImageSpecInterpreter> createSpecInterpreter(const OIIO::ImageSpec& spec,
                                                             const std::string& fileName);
