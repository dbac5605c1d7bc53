#include "image/ImageImpl.h"

TarvexImage::TarvexImage() : impl_(new TarvexImageImpl) { impl_->colourSpace = colourSpaceUnknown; }

TarvexImage::TarvexImage(const TarvexImage& other) : impl_(other.impl_) { ++impl_->refCount; }

TarvexImage& TarvexImage::operator=(const TarvexImage& other)
{
    if (impl_ == other.impl_)
        return *this;
    ++other.impl_->refCount;
    if (--impl_->refCount == 0)
        delete impl_;
    impl_ = other.impl_;
    return *this;
}

TarvexImage::~TarvexImage()
{
    if (--impl_->refCount == 0)
        delete impl_;
}

std::int64_t TarvexImage::columns() const { return impl_->columns; }
std::int64_t TarvexImage::rows() const { return impl_->rows; }
int TarvexImage::depth() const { return 8; }
bool TarvexImage::valid() const { return impl_->rows != 0; }
bool TarvexImage::hasValidData() const { return impl_->hasValidData; }
void TarvexImage::SetIsRead() { impl_->hasValidData = true; }

int TarvexImage::bitsPerPixel() const
{
    if (!impl_->isTrueColour)
        return 8;
    switch (impl_->colourSpace) {
    case colourSpaceBilevel: return 1;
    case colourSpaceGrey: return 8;
    case colourSpaceCMYK: return 32;
    default: return 24;
    }
}

TarvexImage::colourSpaceType TarvexImage::colourSpace() const { return impl_->colourSpace; }

void TarvexImage::colourSpace(colourSpaceType space, bool)
{
    impl_->colourSpace = space;
    impl_->isCMYK = space == colourSpaceCMYK;
}

int TarvexImage::linesPerStrip() const { return static_cast<int>(impl_->linesPerStrip); }
int TarvexImage::bytesPerLine() const { return static_cast<int>(impl_->pixelLineBytes()); }
int TarvexImage::stripCount() const { return impl_->stripCount(); }

std::int64_t TarvexImage::fileSize() const { return static_cast<std::int64_t>(bytesPerLine()) * impl_->rows; }

double TarvexImage::xResolution() const { return impl_->xResolution; }
void TarvexImage::xResolution(const double& pixelsPerInch) { impl_->xResolution = pixelsPerInch; }
double TarvexImage::yResolution() const { return impl_->yResolution; }
void TarvexImage::yResolution(const double& pixelsPerInch) { impl_->yResolution = pixelsPerInch; }
TarvexImage::resolutionType TarvexImage::resolutionUnits() const { return resolutionInches; }
void TarvexImage::resolutionUnits(resolutionType) {}
std::uint32_t TarvexImage::matteColour() const { return 0xFFFFFFu; }
bool TarvexImage::hasValidMatteColour() const { return false; }
void TarvexImage::setProgressMonitor(TarvexImageProgress& monitor) { impl_->progressMonitor = &monitor; }
