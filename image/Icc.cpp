#include "image/ImageImpl.h"
#include "read/SpecInterpreter.h"

// An opened file's profile stays in its interpreter's description; the image's own
// blob serves only images that were not opened from a file.

bool TarvexImage::hasIccProfile() const
{
    if (impl_->interpreter)
        return findIccProfile(impl_->interpreter->spec) != nullptr;
    return impl_->iccProfile.length() > 0;
}

Blob TarvexImage::iccColourProfile() const
{
    Blob profile;
    if (impl_->interpreter)
        impl_->interpreter->getIccProfile(profile);
    else if (impl_->iccProfile.length() >= 1)
        profile = impl_->iccProfile;
    return profile;
}

void TarvexImage::iccColourProfile(Blob& profile)
{
    if (profile.length() > 0)
        impl_->iccProfile = profile;
}

bool TarvexImage::saveIccProfile(const std::wstring& path) const
{
    if (!hasIccProfile() || !impl_->interpreter)
        return false;
    return impl_->interpreter->writeIccProfile(path);
}

bool TarvexImage::hasIccProfileEXIF(bool& hasProfile, bool& isExif) const
{
    hasProfile = false;
    isExif = false;
    return false;
}
