#include "image/ImageImpl.h"

// Placeholder until the reading subsystem lands.
bool TarvexImage::hasIccProfile() const { return impl_->iccProfile.length() > 0; }
Blob TarvexImage::iccColourProfile() const { return impl_->iccProfile; }
void TarvexImage::iccColourProfile(Blob& profile)
{
    if (profile.length() > 0)
        impl_->iccProfile = profile;
}
bool TarvexImage::saveIccProfile(const std::wstring&) const { return false; }
bool TarvexImage::hasIccProfileEXIF(bool& hasProfile, bool& isExif) const
{
    hasProfile = false;
    isExif = false;
    return false;
}
