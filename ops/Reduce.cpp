#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include <immintrin.h>

#include "image/ImageImpl.h"
#include "ops/NewStrips.h"
#include "ops/ReduceKernels.h"

namespace {

// The grey test and the packing run in one pass over each line, in place: packed byte k
// of a line is written over the blue byte of pixel k. Every pixel whose blue byte is
// overwritten has already passed the test, so its blue byte equals its green byte, and a
// later failure is undone by copying green over blue again. Packed byte k covers pixels
// 8k .. 8k + 7, all at or after pixel k, so no byte is overwritten before it is read.
// The result is -1 when the whole line is grey, otherwise how many blue bytes hold
// packed bytes.

bool isGrey(const unsigned char* p) { return p[0] == p[1] && p[1] == p[2]; }

// Pixels from x (a multiple of 8) to the end of the line, one at a time.
std::int64_t greyPackFrom(unsigned char* rgb, std::int64_t x, std::int64_t columns)
{
    unsigned bits = 0;
    for (; x < columns; ++x) {
        const unsigned char* p = rgb + 3 * x;
        if (!isGrey(p))
            return x / 8;
        if (p[0] != 0)
            bits |= 0x80u >> (x % 8);
        if (x % 8 == 7) {
            rgb[3 * (x / 8) + 2] = static_cast<unsigned char>(bits);
            bits = 0;
        }
    }
    if (columns % 8 != 0)
        rgb[3 * (columns / 8) + 2] = static_cast<unsigned char>(bits);
    return -1;
}

std::int64_t greyPackScalar(unsigned char* rgb, std::int64_t columns) { return greyPackFrom(rgb, 0, columns); }

// Sixteen pixels a step. Grey means bytes 3x and 3x + 1 equal their right neighbours,
// so the line is compared with itself shifted by a byte, ignoring the blue positions;
// the shifted load reads the red byte of pixel x + 16, which must therefore exist. The
// red bytes are gathered with the first pixel of each packed byte in the top lane, so
// the sign mask is already most-significant-bit first.
__attribute__((target("ssse3"))) std::int64_t greyPackSsse3(unsigned char* rgb, std::int64_t columns)
{
    const __m128i ignore0 = _mm_setr_epi8(0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0);
    const __m128i ignore1 = _mm_setr_epi8(0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0);
    const __m128i ignore2 = _mm_setr_epi8(-1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1);
    // Lane L takes the red byte of pixel 8 * (L / 8) + 7 - L % 8.
    const __m128i red0 = _mm_setr_epi8(-1, -1, 15, 12, 9, 6, 3, 0, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i red1 = _mm_setr_epi8(5, 2, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 14, 11, 8);
    const __m128i red2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 13, 10, 7, 4, 1, -1, -1, -1);
    std::int64_t x = 0;
    for (; x + 17 <= columns; x += 16) {
        const unsigned char* p = rgb + 3 * x;
        auto at = [p](int offset) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + offset)); };
        const __m128i a0 = at(0), a1 = at(16), a2 = at(32);
        const __m128i e0 = _mm_or_si128(_mm_cmpeq_epi8(a0, at(1)), ignore0);
        const __m128i e1 = _mm_or_si128(_mm_cmpeq_epi8(a1, at(17)), ignore1);
        const __m128i e2 = _mm_or_si128(_mm_cmpeq_epi8(a2, at(33)), ignore2);
        if (_mm_movemask_epi8(_mm_and_si128(_mm_and_si128(e0, e1), e2)) != 0xFFFF)
            return x / 8;
        const __m128i red = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a0, red0), _mm_shuffle_epi8(a1, red1)),
                                         _mm_shuffle_epi8(a2, red2));
        const unsigned bits = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(red, _mm_setzero_si128())));
        rgb[3 * (x / 8) + 2] = static_cast<unsigned char>(bits);
        rgb[3 * (x / 8) + 5] = static_cast<unsigned char>(bits >> 8);
    }
    return greyPackFrom(rgb, x, columns);
}

// Sixty-four pixels a step, the same tests on mask registers; one byte permute per pair
// of source vectors gathers the red bytes in packed bit order.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) std::int64_t greyPackVbmi(unsigned char* rgb,
                                                                                 std::int64_t columns)
{
    // Set where the comparison matters, over 192 bytes: bytes 3x and 3x + 1.
    constexpr std::uint64_t care0 = 0xB6DB6DB6DB6DB6DBull;
    constexpr std::uint64_t care1 = 0xDB6DB6DB6DB6DB6Dull;
    constexpr std::uint64_t care2 = 0x6DB6DB6DB6DB6DB6ull;
    alignas(64) unsigned char fromFirstTwo[64];
    alignas(64) unsigned char fromLast[64];
    for (int lane = 0; lane < 64; ++lane) {
        const int offset = 3 * (8 * (lane / 8) + 7 - lane % 8);
        // Lanes whose red byte lies in the third vector take it in a second permute.
        fromFirstTwo[lane] = static_cast<unsigned char>(offset < 128 ? offset : 0);
        fromLast[lane] = static_cast<unsigned char>(offset < 128 ? lane : 64 + (offset - 128));
    }
    const __m512i firstTwo = _mm512_load_si512(fromFirstTwo);
    const __m512i last = _mm512_load_si512(fromLast);
    std::int64_t x = 0;
    for (; x + 65 <= columns; x += 64) {
        unsigned char* p = rgb + 3 * x;
        const __m512i a0 = _mm512_loadu_si512(p);
        const __m512i a1 = _mm512_loadu_si512(p + 64);
        const __m512i a2 = _mm512_loadu_si512(p + 128);
        const std::uint64_t e0 = _mm512_cmpeq_epi8_mask(a0, _mm512_loadu_si512(p + 1));
        const std::uint64_t e1 = _mm512_cmpeq_epi8_mask(a1, _mm512_loadu_si512(p + 65));
        const std::uint64_t e2 = _mm512_cmpeq_epi8_mask(a2, _mm512_loadu_si512(p + 129));
        if ((~e0 & care0) | (~e1 & care1) | (~e2 & care2))
            return x / 8;
        const __m512i red = _mm512_permutex2var_epi8(_mm512_permutex2var_epi8(a0, firstTwo, a1), last, a2);
        std::uint64_t bits = _mm512_test_epi8_mask(red, red);
        unsigned char* blue = rgb + 3 * (x / 8) + 2;
        for (int j = 0; j < 8; ++j, bits >>= 8)
            blue[3 * j] = static_cast<unsigned char>(bits);
    }
    return greyPackFrom(rgb, x, columns);
}

// Moves the packed bytes from the blue positions to `out`, which lies at or before the
// line in the same store: byte k is written after blue byte k has been read and before
// any later blue byte could be overwritten.
void compactScalar(const unsigned char* rgb, std::int64_t count, unsigned char* out)
{
    for (std::int64_t k = 0; k < count; ++k)
        out[k] = rgb[3 * k + 2];
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void compactVbmi(const unsigned char* rgb, std::int64_t count,
                                                                        unsigned char* out)
{
    alignas(64) unsigned char fromFirstTwo[64];
    alignas(64) unsigned char fromLast[64];
    for (int lane = 0; lane < 64; ++lane) {
        const int offset = 3 * lane + 2;
        fromFirstTwo[lane] = static_cast<unsigned char>(offset < 128 ? offset : 0);
        fromLast[lane] = static_cast<unsigned char>(offset < 128 ? lane : 64 + (offset - 128));
    }
    const __m512i firstTwo = _mm512_load_si512(fromFirstTwo);
    const __m512i last = _mm512_load_si512(fromLast);
    std::int64_t k = 0;
    for (; k + 64 <= count; k += 64) {
        const unsigned char* p = rgb + 3 * k;
        const __m512i a0 = _mm512_loadu_si512(p);
        const __m512i a1 = _mm512_loadu_si512(p + 64);
        const __m512i a2 = _mm512_loadu_si512(p + 128);
        _mm512_storeu_si512(out + k, _mm512_permutex2var_epi8(_mm512_permutex2var_epi8(a0, firstTwo, a1), last, a2));
    }
    compactScalar(rgb + 3 * k, count - k, out + k);
}

// Undoes greyPack on the first `count` pixels, all of which are grey.
void restoreBlue(unsigned char* rgb, std::int64_t count)
{
    for (std::int64_t k = 0; k < count; ++k)
        rgb[3 * k + 2] = rgb[3 * k + 1];
}

// One-pixel lines, whose packed line is longer than the colour line, go to new strips.
bool reduceIntoNewStrips(TarvexImageImpl& im, std::int64_t packedBytes, StripVector& packed)
{
    trx::MemMapObjectMapper source(0);
    for (std::int64_t y = 0; y < im.rows; ++y) {
        const unsigned char* rgb = mapLine(source, im.colourStrips, y, im.linesPerStrip, im.bytesPerLine);
        for (std::int64_t x = 0; x < im.columns; ++x)
            if (!rgb || !isGrey(rgb + 3 * x))
                return false;
    }
    if (!makeStrips(packed, static_cast<std::int64_t>(im.colourStrips.size()), packedBytes * im.linesPerStrip))
        return false;
    trx::MemMapObjectMapper target(0);
    for (std::int64_t y = 0; y < im.rows; ++y) {
        const unsigned char* rgb = mapLine(source, im.colourStrips, y, im.linesPerStrip, im.bytesPerLine);
        unsigned char* out = mapLine(target, packed, y, im.linesPerStrip, packedBytes);
        for (std::int64_t x = 0; x < im.columns; ++x)
            if (rgb[3 * x] != 0)
                out[x / 8] = static_cast<unsigned char>(out[x / 8] | (0x80u >> (x % 8)));
    }
    return true;
}

}  // namespace

std::vector<ReduceKernels> supportedReduceKernels()
{
    __builtin_cpu_init();
    std::vector<ReduceKernels> all{{"scalar", greyPackScalar, compactScalar, restoreBlue}};
    if (__builtin_cpu_supports("ssse3"))
        all.push_back({"ssse3", greyPackSsse3, compactScalar, restoreBlue});
    if (__builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw"))
        all.push_back({"avx512", greyPackVbmi, compactVbmi, restoreBlue});
    return all;
}

const ReduceKernels& reduceKernels()
{
    static const ReduceKernels kernels = supportedReduceKernels().back();
    return kernels;
}

bool TarvexImage::ReduceIfPossible()
{
    TarvexImageImpl& im = *impl_;
    if (im.isCMYK || !im.isTrueColour || im.columns < 0 || im.rows < 0)
        return false;
    // With no lines there is no pixel to test, so every pixel is grey: a new image,
    // never sized, reduces whatever its bytes per pixel.
    if (im.rows > 0 && (im.bytesPerPixel != 3 || im.columns > INT64_MAX / 3 || im.bytesPerLine < 3 * im.columns))
        return false;
    if (!stripsCoverLines(im.colourStrips, im.rows, im.linesPerStrip, im.bytesPerLine))
        return false;
    const auto packedBytes =
        static_cast<std::int64_t>(((((static_cast<std::uint64_t>(im.columns) + 7) >> 3) - 1) | 3) + 1);
    if (im.linesPerStrip < 0 || (packedBytes > 0 && im.linesPerStrip > INT32_MAX / packedBytes))
        return false;

    const std::int64_t stripBytes = packedBytes * im.linesPerStrip;
    const std::int64_t usedBytes = (im.columns + 7) / 8;
    StripVector packed;
    if (packedBytes <= im.bytesPerLine) {
        // Each strip becomes its own packed strip: the lines are tested and packed in
        // place, moved to the packed line positions (never past the colour line they
        // come from) and the strip is cut to its new length. No fresh pages are needed
        // and only the tails are released. The strips are made private first, as their
        // bytes may be shared with a caller's allocators.
        for (auto& strip : im.colourStrips)
            if (!strip.Split())
                return false;
        const ReduceKernels& kernels = reduceKernels();
        trx::MemMapObjectMapper view(0);
        for (std::int64_t y = 0; y < im.rows; ++y) {
            unsigned char* rgb = mapLine(view, im.colourStrips, y, im.linesPerStrip, im.bytesPerLine);
            const std::int64_t written = kernels.greyPack(rgb, im.columns);
            if (written >= 0) {
                kernels.restore(rgb, written);
                for (std::int64_t done = 0; done < y; ++done)
                    kernels.restore(mapLine(view, im.colourStrips, done, im.linesPerStrip, im.bytesPerLine), usedBytes);
                return false;
            }
        }
        trx::MemMapObjectMapper target(0);
        for (std::int64_t y = 0; y < im.rows; ++y) {
            const unsigned char* rgb = mapLine(view, im.colourStrips, y, im.linesPerStrip, im.bytesPerLine);
            unsigned char* out = mapLine(target, im.colourStrips, y, im.linesPerStrip, packedBytes);
            kernels.compact(rgb, usedBytes, out);
            // Bytes past the last pixel byte would otherwise keep colour bytes.
            if (packedBytes > usedBytes)
                std::memset(out + usedBytes, 0, static_cast<std::size_t>(packedBytes - usedBytes));
        }
        for (auto& strip : im.colourStrips)
            strip.ReSize(static_cast<std::size_t>(stripBytes));
        packed.swap(im.colourStrips);
    } else if (!reduceIntoNewStrips(im, packedBytes, packed)) {
        return false;
    }

    im.isTrueColour = false;
    im.indexBytesPerLine = packedBytes;
    clearStrips(im.indexStrips);
    im.indexStrips.swap(packed);
    clearStrips(im.colourStrips);
    return true;
}
