// Placeholders until the image operations land.
#include "image/ImageImpl.h"

int TarvexImage::FindNearestColourMap(unsigned long) { return -1; }
unsigned long TarvexImage::colourMap(int) const { return 0xFFFFFFul; }
void TarvexImage::colourMap(int, unsigned long) {}
std::int64_t TarvexImage::colourMapSize() const { return 0; }
void TarvexImage::colourMapSize(unsigned int) {}
bool TarvexImage::hasColourMap() const { return false; }
bool TarvexImage::matte() const { return impl_->hasAlpha(); }
void TarvexImage::matte(bool) {}
bool TarvexImage::level(double, double, double) { return false; }
void TarvexImage::resize(int, int) {}
bool TarvexImage::ReduceIfPossible() { return false; }
