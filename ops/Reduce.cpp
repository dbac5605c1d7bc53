#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include <immintrin.h>

#include "image/ImageImpl.h"
#include "ops/NewStrips.h"
#include "ops/ReduceKernels.h"

namespace {

// --- Grey test: every pixel's three bytes equal. ---------------------------------------
// Grey means that bytes 3x and 3x + 1 of each pixel equal their right neighbours, so the
// vector versions compare the line with itself shifted by one byte and ignore the blue
// positions. The shifted load reads one byte past the block, hence the spare pixel.

bool greyFrom(const unsigned char* rgb, std::int64_t x, std::int64_t columns)
{
    for (; x < columns; ++x) {
        const unsigned char* p = rgb + 3 * x;
        if (p[0] != p[1] || p[1] != p[2])
            return false;
    }
    return true;
}

bool greyLineScalar(const unsigned char* rgb, std::int64_t columns)
{
    return greyFrom(rgb, 0, columns);
}

bool greyLineSse2(const unsigned char* rgb, std::int64_t columns)
{
    // 0xFF where the comparison does not matter: the blue byte of each pixel.
    const __m128i ignore0 = _mm_setr_epi8(0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0);
    const __m128i ignore1 = _mm_setr_epi8(0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0);
    const __m128i ignore2 = _mm_setr_epi8(-1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1);
    std::int64_t x = 0;
    for (; x + 17 <= columns; x += 16) {
        const unsigned char* p = rgb + 3 * x;
        auto at = [p](int offset) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + offset)); };
        const __m128i e0 = _mm_or_si128(_mm_cmpeq_epi8(at(0), at(1)), ignore0);
        const __m128i e1 = _mm_or_si128(_mm_cmpeq_epi8(at(16), at(17)), ignore1);
        const __m128i e2 = _mm_or_si128(_mm_cmpeq_epi8(at(32), at(33)), ignore2);
        if (_mm_movemask_epi8(_mm_and_si128(_mm_and_si128(e0, e1), e2)) != 0xFFFF)
            return false;
    }
    return greyFrom(rgb, x, columns);
}

__attribute__((target("avx512f,avx512bw"))) bool greyLineAvx512(const unsigned char* rgb, std::int64_t columns)
{
    // Set where the comparison matters, over 192 bytes.
    constexpr std::uint64_t care0 = 0xB6DB6DB6DB6DB6DBull;
    constexpr std::uint64_t care1 = 0xDB6DB6DB6DB6DB6Dull;
    constexpr std::uint64_t care2 = 0x6DB6DB6DB6DB6DB6ull;
    std::int64_t x = 0;
    for (; x + 65 <= columns; x += 64) {
        const unsigned char* p = rgb + 3 * x;
        const std::uint64_t e0 = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p), _mm512_loadu_si512(p + 1));
        const std::uint64_t e1 = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p + 64), _mm512_loadu_si512(p + 65));
        const std::uint64_t e2 = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p + 128), _mm512_loadu_si512(p + 129));
        if ((~e0 & care0) | (~e1 & care1) | (~e2 & care2))
            return false;
    }
    return greyFrom(rgb, x, columns);
}

// --- Packing: bit 7 - x mod 8 of byte x / 8 is set where the red byte is not 0. ----------
// `out` may lie at or before `rgb` in the same store: every byte is written only after the
// pixels it could overlap have been read.

void packFrom(const unsigned char* rgb, std::int64_t x, std::int64_t columns, unsigned char* out)
{
    unsigned mask = 0;
    unsigned char* byte = out + x / 8 - 1;
    for (; x < columns; ++x) {
        const bool set = rgb[3 * x] != 0;
        if (mask == 0) {
            ++byte;
            mask = 0x80;
            *byte = set ? 0x80 : 0;
        } else if (set) {
            *byte = static_cast<unsigned char>(*byte | mask);
        }
        mask >>= 1;
    }
}

void packLineScalar(const unsigned char* rgb, std::int64_t columns, unsigned char* out)
{
    packFrom(rgb, 0, columns, out);
}

// Sixteen pixels a step: the red bytes are gathered with the first pixel of each output
// byte in its top lane, so the sign mask is already most-significant-bit first.
__attribute__((target("ssse3"))) void packLineSsse3(const unsigned char* rgb, std::int64_t columns,
                                                     unsigned char* out)
{
    // Lane L takes the red byte of pixel 8 * (L / 8) + 7 - L % 8.
    const __m128i red0 = _mm_setr_epi8(-1, -1, 15, 12, 9, 6, 3, 0, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i red1 = _mm_setr_epi8(5, 2, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 14, 11, 8);
    const __m128i red2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 13, 10, 7, 4, 1, -1, -1, -1);
    std::int64_t x = 0;
    for (; x + 16 <= columns; x += 16) {
        const unsigned char* p = rgb + 3 * x;
        const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        const __m128i a2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
        const __m128i red = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a0, red0), _mm_shuffle_epi8(a1, red1)),
                                         _mm_shuffle_epi8(a2, red2));
        const unsigned bits = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(red, _mm_setzero_si128())));
        out[x / 8] = static_cast<unsigned char>(bits);
        out[x / 8 + 1] = static_cast<unsigned char>(bits >> 8);
    }
    packFrom(rgb, x, columns, out);
}

// Sixty-four pixels a step; the non-zero mask of the gathered red bytes is the eight
// packed bytes as they lie in memory.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void packLineVbmi(const unsigned char* rgb,
                                                                         std::int64_t columns, unsigned char* out)
{
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
    for (; x + 64 <= columns; x += 64) {
        const unsigned char* p = rgb + 3 * x;
        const __m512i a0 = _mm512_loadu_si512(p);
        const __m512i a1 = _mm512_loadu_si512(p + 64);
        const __m512i a2 = _mm512_loadu_si512(p + 128);
        const __m512i red = _mm512_permutex2var_epi8(_mm512_permutex2var_epi8(a0, firstTwo, a1), last, a2);
        const std::uint64_t bits = _mm512_test_epi8_mask(red, red);
        std::memcpy(out + x / 8, &bits, sizeof bits);
    }
    packFrom(rgb, x, columns, out);
}

}  // namespace

std::vector<ReduceKernels> supportedReduceKernels()
{
    __builtin_cpu_init();
    std::vector<ReduceKernels> all{{"scalar", greyLineScalar, packLineScalar}, {"sse2", greyLineSse2, packLineScalar}};
    if (__builtin_cpu_supports("ssse3"))
        all.push_back({"ssse3", greyLineSse2, packLineSsse3});
    if (__builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw"))
        all.push_back({"avx512", greyLineAvx512, packLineVbmi});
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

    const ReduceKernels& kernels = reduceKernels();
    trx::MemMapObjectMapper source(0);
    for (std::int64_t y = 0; y < im.rows; ++y) {
        const unsigned char* rgb = mapLine(source, im.colourStrips, y, im.linesPerStrip, im.bytesPerLine);
        if (!rgb || !kernels.grey(rgb, im.columns))
            return false;
    }

    const std::int64_t stripBytes = packedBytes * im.linesPerStrip;
    const std::int64_t usedBytes = (im.columns + 7) / 8;
    StripVector packed;
    if (packedBytes <= im.bytesPerLine) {
        // Packed lines are shorter than colour lines, so each strip is packed in place,
        // front to back, and then cut to its new length. That spares mapping fresh pages
        // for the packed strips and then releasing all the colour pages: only the tail
        // is released. The strips are first made private, as the colour bytes may be
        // shared with another image or a caller's allocators.
        for (auto& strip : im.colourStrips)
            if (!strip.Split())
                return false;
        trx::MemMapObjectMapper target(0);
        for (std::int64_t y = 0; y < im.rows; ++y) {
            const unsigned char* rgb = mapLine(source, im.colourStrips, y, im.linesPerStrip, im.bytesPerLine);
            unsigned char* out = mapLine(target, im.colourStrips, y, im.linesPerStrip, packedBytes);
            kernels.pack(rgb, im.columns, out);
            // Bytes past the last pixel byte would otherwise keep colour bytes.
            std::memset(out + usedBytes, 0, static_cast<std::size_t>(packedBytes - usedBytes));
        }
        for (auto& strip : im.colourStrips)
            strip.ReSize(static_cast<std::size_t>(stripBytes));
        packed.swap(im.colourStrips);
    } else {
        // One pixel a line: the packed line is the longer, so it needs strips of its own.
        if (!makeStrips(packed, static_cast<std::int64_t>(im.colourStrips.size()), stripBytes))
            return false;
        trx::MemMapObjectMapper target(0);
        for (std::int64_t y = 0; y < im.rows; ++y) {
            const unsigned char* rgb = mapLine(source, im.colourStrips, y, im.linesPerStrip, im.bytesPerLine);
            unsigned char* out = mapLine(target, packed, y, im.linesPerStrip, packedBytes);
            kernels.pack(rgb, im.columns, out);
        }
    }

    im.isTrueColour = false;
    im.indexBytesPerLine = packedBytes;
    clearStrips(im.indexStrips);
    im.indexStrips.swap(packed);
    clearStrips(im.colourStrips);
    return true;
}
