#include <climits>
#include <cstdint>

#include <immintrin.h>

#include "image/ImageImpl.h"
#include "ops/NewStrips.h"

namespace {

// Grey test and packing of pixels [x, columns) of one line, a pixel at a time; `out`
// points at the byte that holds pixel x, and x is a multiple of 8.
bool reduceTail(const unsigned char* rgb, std::int64_t x, std::int64_t columns, unsigned char* out)
{
    unsigned mask = 0;
    --out;
    for (; x < columns; ++x) {
        const unsigned char* p = rgb + 3 * x;
        if (p[0] != p[1] || p[1] != p[2])
            return false;
        if (mask == 0) {
            ++out;
            mask = 0x80;
            *out = p[0] != 0 ? 0x80 : 0;
        } else if (p[0] != 0) {
            *out = static_cast<unsigned char>(*out | mask);
        }
        mask >>= 1;
    }
    return true;
}

bool reduceLineScalar(const unsigned char* rgb, std::int64_t columns, unsigned char* out)
{
    return reduceTail(rgb, 0, columns, out);
}

// Sixteen pixels (48 bytes) a step. Grey means every byte at 3x and 3x+1 equals its
// right neighbour, so one comparison with the line shifted by a byte tests all three
// samples; the red bytes are then gathered with the first pixel of each output byte in
// the top lane, so that the sign mask is already most-significant-bit first.
__attribute__((target("ssse3"))) bool reduceLineSsse3(const unsigned char* rgb, std::int64_t columns,
                                                       unsigned char* out)
{
    // 0xFF where the comparison does not matter (the blue byte of each pixel).
    const __m128i ignore0 = _mm_setr_epi8(0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0);
    const __m128i ignore1 = _mm_setr_epi8(0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0);
    const __m128i ignore2 = _mm_setr_epi8(-1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1);
    // Lane L takes the red byte of pixel 8 * (L / 8) + 7 - L % 8.
    const __m128i red0 = _mm_setr_epi8(-1, -1, 15, 12, 9, 6, 3, 0, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i red1 = _mm_setr_epi8(5, 2, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 14, 11, 8);
    const __m128i red2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 13, 10, 7, 4, 1, -1, -1, -1);
    const __m128i zero = _mm_setzero_si128();
    std::int64_t x = 0;
    // The shifted load reads the red byte of pixel x + 16, so that pixel must exist.
    for (; x + 17 <= columns; x += 16) {
        const unsigned char* p = rgb + 3 * x;
        const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        const __m128i a2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
        const __m128i e0 = _mm_or_si128(_mm_cmpeq_epi8(a0, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1))), ignore0);
        const __m128i e1 = _mm_or_si128(_mm_cmpeq_epi8(a1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 17))), ignore1);
        const __m128i e2 = _mm_or_si128(_mm_cmpeq_epi8(a2, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 33))), ignore2);
        if (_mm_movemask_epi8(_mm_and_si128(_mm_and_si128(e0, e1), e2)) != 0xFFFF)
            return false;
        const __m128i red = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a0, red0), _mm_shuffle_epi8(a1, red1)),
                                         _mm_shuffle_epi8(a2, red2));
        const unsigned bits = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(red, zero)));
        out[x / 8] = static_cast<unsigned char>(bits);
        out[x / 8 + 1] = static_cast<unsigned char>(bits >> 8);
    }
    return reduceTail(rgb, x, columns, out + x / 8);
}

using ReduceLine = bool (*)(const unsigned char*, std::int64_t, unsigned char*);

ReduceLine chooseReduceLine()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") ? reduceLineSsse3 : reduceLineScalar;
}

}  // namespace

bool TarvexImage::ReduceIfPossible()
{
    TarvexImageImpl& im = *impl_;
    if (im.isCMYK || !im.isTrueColour || im.bytesPerPixel != 3 || im.columns < 0 || im.rows < 0)
        return false;
    if (im.columns > INT64_MAX / 3 || im.bytesPerLine < 3 * im.columns)
        return false;
    if (!stripsCoverLines(im.colourStrips, im.rows, im.linesPerStrip, im.bytesPerLine))
        return false;
    const auto packedBytes = static_cast<std::int64_t>(
        ((((static_cast<std::uint64_t>(im.columns) + 7) >> 3) - 1) | 3) + 1);
    if (im.linesPerStrip < 0 || (packedBytes > 0 && im.linesPerStrip > INT32_MAX / packedBytes))
        return false;

    // The packed lines are written while the grey test runs, into strips held aside:
    // one read of the colour bytes, and a non-grey pixel simply drops them.
    StripVector packed;
    if (!makeStrips(packed, static_cast<std::int64_t>(im.colourStrips.size()), packedBytes * im.linesPerStrip))
        return false;
    static const ReduceLine reduceLine = chooseReduceLine();
    trx::MemMapObjectMapper source(0);
    trx::MemMapObjectMapper target(0);
    for (std::int64_t y = 0; y < im.rows; ++y) {
        const unsigned char* rgb = mapLine(source, im.colourStrips, y, im.linesPerStrip, im.bytesPerLine);
        unsigned char* out = mapLine(target, packed, y, im.linesPerStrip, packedBytes);
        if (!rgb || !out || !reduceLine(rgb, im.columns, out))
            return false;
    }

    im.isTrueColour = false;
    im.indexBytesPerLine = packedBytes;
    im.indexStrips.swap(packed);
    clearStrips(im.colourStrips);
    return true;
}
