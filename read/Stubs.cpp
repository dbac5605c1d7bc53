// Placeholders until the reading subsystem lands.
#include "image/ImageImpl.h"
#include "read/Reopen.h"
#include "read/SpecInterpreter.h"

CImageSpecInterpreter::CImageSpecInterpreter(const OIIO::ImageSpec& fileSpec) : spec(fileSpec) {}
CImageSpecInterpreter::~CImageSpecInterpreter() = default;
double CImageSpecInterpreter::xResolution() const { return 0.0; }
double CImageSpecInterpreter::yResolution() const { return 0.0; }
int CImageSpecInterpreter::bytesPerPixel() const { return 3; }
bool CImageSpecInterpreter::invertOnRead() const { return false; }
bool CImageSpecInterpreter::getIccProfile(Blob&) const { return false; }
bool CImageSpecInterpreter::writeIccProfile(const std::wstring&) const { return false; }
std::unique_ptr<CImageSpecInterpreter> createSpecInterpreter(const OIIO::ImageSpec&, const std::string&)
{
    return nullptr;
}
void reopenForCopy(TarvexImageImpl&) {}
bool TarvexImage::open(const std::string&) { return false; }
bool TarvexImage::open(const char*) { return false; }
bool TarvexImage::open(const wchar_t*) { return false; }
bool TarvexImage::open(const std::wstring&) { return false; }
bool TarvexImage::read() { return false; }
