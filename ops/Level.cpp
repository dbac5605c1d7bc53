#include <algorithm>
#include <cmath>
#include <cstdint>

#include <immintrin.h>

#include "image/ImageImpl.h"

namespace {

// Each curve follows the stated arithmetic term by term; the build keeps the compiler
// from contracting or reassociating it.
unsigned char rgbCurve(unsigned v, double low, double span, double inverseGamma)
{
    const double s = v / 255.0;
    double t = (s - low) / span;
    if (t > 1.0)
        t = 1.0;
    if (!(t >= 0.0))  // also turns a NaN into 0
        t = 0.0;
    double r = std::pow(t, inverseGamma) * 255.0;
    if (r > 255.0)
        r = 255.0;
    if (!(r >= 0.0))
        r = 0.0;
    return static_cast<unsigned char>(r);
}

unsigned char cmykCurve(unsigned v, double high, double negativeSpan, double gamma)
{
    const double s = v / 255.0;
    const double u = (s - high) / negativeSpan;
    double f = std::pow(u, gamma) * negativeSpan + high;
    if (f > 1.0)
        f = 1.0;
    if (!(f >= 0.0))
        f = 0.0;
    return static_cast<unsigned char>(f * 255.0);
}

void applyTableScalar(unsigned char* p, std::size_t n, const unsigned char* table)
{
    for (std::size_t i = 0; i < n; ++i)
        p[i] = table[p[i]];
}

// Four 64-entry byte permutes cover the whole table; the top index bit picks the half.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void applyTableVbmi(unsigned char* p, std::size_t n,
                                                                           const unsigned char* table)
{
    const __m512i t0 = _mm512_loadu_si512(table);
    const __m512i t1 = _mm512_loadu_si512(table + 64);
    const __m512i t2 = _mm512_loadu_si512(table + 128);
    const __m512i t3 = _mm512_loadu_si512(table + 192);
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i idx = _mm512_loadu_si512(p + i);
        const __m512i lowHalf = _mm512_permutex2var_epi8(t0, idx, t1);
        const __m512i highHalf = _mm512_permutex2var_epi8(t2, idx, t3);
        const __mmask64 high = _mm512_movepi8_mask(idx);
        _mm512_storeu_si512(p + i, _mm512_mask_blend_epi8(high, lowHalf, highHalf));
    }
    if (i < n) {
        const __mmask64 rest = ~0ULL >> (64 - (n - i));
        const __m512i idx = _mm512_maskz_loadu_epi8(rest, p + i);
        const __m512i lowHalf = _mm512_permutex2var_epi8(t0, idx, t1);
        const __m512i highHalf = _mm512_permutex2var_epi8(t2, idx, t3);
        const __mmask64 high = _mm512_movepi8_mask(idx);
        _mm512_mask_storeu_epi8(p + i, rest, _mm512_mask_blend_epi8(high, lowHalf, highHalf));
    }
}

using ApplyTable = void (*)(unsigned char*, std::size_t, const unsigned char*);

ApplyTable chooseApplyTable()
{
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw"))
        return applyTableVbmi;
    return applyTableScalar;
}

}  // namespace

bool TarvexImage::level(double low, double high, double gamma)
{
    if (!(high > low) || !(gamma > 0.0))
        return false;
    TarvexImageImpl& im = *impl_;
    // No sample to change, whatever the colour model (a new image has none yet).
    if (im.rows == 0 || im.columns == 0)
        return true;
    // Only pixels of three (R, G, B) or, for CMYK, four samples have a curve.
    const int samples = im.isCMYK ? 4 : 3;
    if (!im.isTrueColour || im.bytesPerPixel != samples || im.columns < 0 || im.rows < 0)
        return false;
    if (im.columns > INT64_MAX / samples || im.bytesPerLine < im.columns * samples)
        return false;
    if (!stripsCoverLines(im.colourStrips, im.rows, im.linesPerStrip, im.bytesPerLine))
        return false;
    const auto lineSamples = static_cast<std::size_t>(im.columns * samples);

    // The curve is pure, so filling all 256 entries before the first sample gives the
    // same bytes as filling them on first use, and the loop needs no test per sample.
    unsigned char table[256];
    const double span = high - low;
    const double negativeSpan = low - high;
    const double inverseGamma = 1 / gamma;
    for (unsigned v = 0; v < 256; ++v)
        table[v] = im.isCMYK ? cmykCurve(v, high, negativeSpan, gamma) : rgbCurve(v, low, span, inverseGamma);

    // Strips given to size() share a caller's bytes copy-on-write; the caller keeps them.
    for (auto& strip : im.colourStrips)
        if (!strip.Split())
            return false;

    static const ApplyTable applyTable = chooseApplyTable();
    trx::MemMapObjectMapper view(0);
    for (std::int64_t y = 0; y < im.rows; ++y) {
        unsigned char* line = mapLine(view, im.colourStrips, y, im.linesPerStrip, im.bytesPerLine);
        if (!line)
            break;  // cannot happen once the strips cover every line
        applyTable(line, lineSamples, table);
    }
    return true;
}
