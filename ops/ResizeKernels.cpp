#include "ops/ResizeKernels.h"

#include <algorithm>
#include <cmath>

// GCC 12 reports its own AVX-512 headers (the _mm512_undefined_* helpers) as reading
// uninitialised values once they are inlined; a known false positive.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

namespace {

void widenPortable(const unsigned char* bytes, std::int64_t count, double* out)
{
    for (std::int64_t i = 0; i < count; ++i)
        out[i] = bytes[i];
}

void horizontalPortable(const double* padded, const std::int32_t* base, const double* weights, std::int64_t width,
                        int samples, float* out)
{
    for (std::int64_t x = 0; x < width; ++x) {
        const double* s = padded + static_cast<std::int64_t>(base[x]) * samples;
        const double* w = weights + 4 * x;
        for (int c = 0; c < samples; ++c) {
            const double sum =
                ((s[c] * w[0] + 0) + s[c + samples] * w[1]) + s[c + 2 * samples] * w[2] + s[c + 3 * samples] * w[3];
            out[x * samples + c] = static_cast<float>(sum);
        }
    }
}

unsigned char roundClamp(double sum)
{
    long v = std::lround(sum);
    v = std::min(v, 255L);
    v = std::max(v, 0L);
    return static_cast<unsigned char>(v);
}

void verticalPortable(const float* const rows[4], const double weights[4], std::int64_t count, unsigned char* out)
{
    const double w0 = weights[0], w1 = weights[1], w2 = weights[2], w3 = weights[3];
    for (std::int64_t j = 0; j < count; ++j) {
        const double sum = ((static_cast<double>(rows[0][j]) * w0 + 0) + static_cast<double>(rows[1][j]) * w1) +
                           static_cast<double>(rows[2][j]) * w2 + static_cast<double>(rows[3][j]) * w3;
        out[j] = roundClamp(sum);
    }
}

#define TRX_AVX2 __attribute__((target("avx2")))
#define TRX_AVX2_INLINE inline __attribute__((always_inline, target("avx2")))

TRX_AVX2 void widenAvx2(const unsigned char* bytes, std::int64_t count, double* out)
{
    std::int64_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i eight = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes + i));
        const __m256i ints = _mm256_cvtepu8_epi32(eight);
        _mm256_storeu_pd(out + i, _mm256_cvtepi32_pd(_mm256_castsi256_si128(ints)));
        _mm256_storeu_pd(out + i + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(ints, 1)));
    }
    for (; i < count; ++i)
        out[i] = bytes[i];
}

// Three or four samples a pixel: the lanes are the samples of one output pixel.
TRX_AVX2 void horizontalPixelsAvx2(const double* padded, const std::int32_t* base, const double* weights,
                                   std::int64_t width, int samples, float* out)
{
    const __m256d zero = _mm256_setzero_pd();
    for (std::int64_t x = 0; x < width; ++x) {
        const double* s = padded + static_cast<std::int64_t>(base[x]) * samples;
        const double* w = weights + 4 * x;
        __m256d sum = _mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(s), _mm256_broadcast_sd(w)), zero);
        sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_loadu_pd(s + samples), _mm256_broadcast_sd(w + 1)));
        sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_loadu_pd(s + 2 * samples), _mm256_broadcast_sd(w + 2)));
        sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_loadu_pd(s + 3 * samples), _mm256_broadcast_sd(w + 3)));
        // With three samples the fourth lane spills into the next pixel, written next.
        _mm_storeu_ps(out + x * samples, _mm256_cvtpd_ps(sum));
    }
}

// One sample a pixel: four output pixels side by side. Each pixel's four products are
// formed in its own row and then transposed, so every sum still adds its terms in
// order.
TRX_AVX2 void horizontalSingleAvx2(const double* padded, const std::int32_t* base, const double* weights,
                                   std::int64_t width, float* out)
{
    const __m256d zero = _mm256_setzero_pd();
    std::int64_t x = 0;
    for (; x + 4 <= width; x += 4) {
        const __m256d p0 = _mm256_mul_pd(_mm256_loadu_pd(padded + base[x]), _mm256_loadu_pd(weights + 4 * x));
        const __m256d p1 = _mm256_mul_pd(_mm256_loadu_pd(padded + base[x + 1]), _mm256_loadu_pd(weights + 4 * x + 4));
        const __m256d p2 = _mm256_mul_pd(_mm256_loadu_pd(padded + base[x + 2]), _mm256_loadu_pd(weights + 4 * x + 8));
        const __m256d p3 = _mm256_mul_pd(_mm256_loadu_pd(padded + base[x + 3]), _mm256_loadu_pd(weights + 4 * x + 12));
        const __m256d t0 = _mm256_unpacklo_pd(p0, p1);
        const __m256d t1 = _mm256_unpackhi_pd(p0, p1);
        const __m256d t2 = _mm256_unpacklo_pd(p2, p3);
        const __m256d t3 = _mm256_unpackhi_pd(p2, p3);
        const __m256d term0 = _mm256_permute2f128_pd(t0, t2, 0x20);
        const __m256d term1 = _mm256_permute2f128_pd(t1, t3, 0x20);
        const __m256d term2 = _mm256_permute2f128_pd(t0, t2, 0x31);
        const __m256d term3 = _mm256_permute2f128_pd(t1, t3, 0x31);
        __m256d sum = _mm256_add_pd(term0, zero);
        sum = _mm256_add_pd(sum, term1);
        sum = _mm256_add_pd(sum, term2);
        sum = _mm256_add_pd(sum, term3);
        _mm_storeu_ps(out + x, _mm256_cvtpd_ps(sum));
    }
    horizontalPortable(padded, base + x, weights + 4 * x, width - x, 1, out + x);
}

TRX_AVX2 void horizontalAvx2(const double* padded, const std::int32_t* base, const double* weights, std::int64_t width,
                             int samples, float* out)
{
    if (samples == 1)
        horizontalSingleAvx2(padded, base, weights, width, out);
    else if (samples == 3 || samples == 4)
        horizontalPixelsAvx2(padded, base, weights, width, samples, out);
    else
        horizontalPortable(padded, base, weights, width, samples, out);
}

// Clamping first and then rounding halves up gives what lround, min and max give for
// every sum. On 0..255, truncating s + 0.49999999999999994 (the double just below one
// half) rounds halves up and nothing else: adding 0.5 itself would carry sums just
// below a half, such as 0.5 - 2^-54, up to the next integer.
constexpr double kJustBelowHalf = 0.49999999999999994;

TRX_AVX2_INLINE __m128i roundClampAvx2(__m256d sum)
{
    const __m256d clamped = _mm256_min_pd(_mm256_max_pd(sum, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
    return _mm256_cvttpd_epi32(_mm256_add_pd(clamped, _mm256_set1_pd(kJustBelowHalf)));
}

TRX_AVX2_INLINE __m256d verticalSumAvx2(const float* const rows[4], std::int64_t j, __m256d w0, __m256d w1, __m256d w2,
                                        __m256d w3)
{
    __m256d sum = _mm256_add_pd(_mm256_mul_pd(_mm256_cvtps_pd(_mm_loadu_ps(rows[0] + j)), w0), _mm256_setzero_pd());
    sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_cvtps_pd(_mm_loadu_ps(rows[1] + j)), w1));
    sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_cvtps_pd(_mm_loadu_ps(rows[2] + j)), w2));
    sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_cvtps_pd(_mm_loadu_ps(rows[3] + j)), w3));
    return sum;
}

TRX_AVX2 void verticalAvx2(const float* const rows[4], const double weights[4], std::int64_t count, unsigned char* out)
{
    const __m256d w0 = _mm256_set1_pd(weights[0]);
    const __m256d w1 = _mm256_set1_pd(weights[1]);
    const __m256d w2 = _mm256_set1_pd(weights[2]);
    const __m256d w3 = _mm256_set1_pd(weights[3]);
    std::int64_t j = 0;
    for (; j + 16 <= count; j += 16) {
        const __m128i a = roundClampAvx2(verticalSumAvx2(rows, j, w0, w1, w2, w3));
        const __m128i b = roundClampAvx2(verticalSumAvx2(rows, j + 4, w0, w1, w2, w3));
        const __m128i c = roundClampAvx2(verticalSumAvx2(rows, j + 8, w0, w1, w2, w3));
        const __m128i d = roundClampAvx2(verticalSumAvx2(rows, j + 12, w0, w1, w2, w3));
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), bytes);
    }
    const float* const rest[4] = {rows[0] + j, rows[1] + j, rows[2] + j, rows[3] + j};
    verticalPortable(rest, weights, count - j, out + j);
}

#define TRX_AVX512 __attribute__((target("avx512f")))
#define TRX_AVX512_INLINE inline __attribute__((always_inline, target("avx512f")))

TRX_AVX512_INLINE __m256i verticalEightAvx512(const float* const rows[4], std::int64_t j, __m512d w0, __m512d w1,
                                              __m512d w2, __m512d w3)
{
    __m512d sum = _mm512_add_pd(_mm512_mul_pd(_mm512_cvtps_pd(_mm256_loadu_ps(rows[0] + j)), w0), _mm512_setzero_pd());
    sum = _mm512_add_pd(sum, _mm512_mul_pd(_mm512_cvtps_pd(_mm256_loadu_ps(rows[1] + j)), w1));
    sum = _mm512_add_pd(sum, _mm512_mul_pd(_mm512_cvtps_pd(_mm256_loadu_ps(rows[2] + j)), w2));
    sum = _mm512_add_pd(sum, _mm512_mul_pd(_mm512_cvtps_pd(_mm256_loadu_ps(rows[3] + j)), w3));
    const __m512d clamped = _mm512_min_pd(_mm512_max_pd(sum, _mm512_setzero_pd()), _mm512_set1_pd(255.0));
    return _mm512_cvttpd_epi32(_mm512_add_pd(clamped, _mm512_set1_pd(kJustBelowHalf)));
}

TRX_AVX512 void verticalAvx512(const float* const rows[4], const double weights[4], std::int64_t count,
                               unsigned char* out)
{
    const __m512d w0 = _mm512_set1_pd(weights[0]);
    const __m512d w1 = _mm512_set1_pd(weights[1]);
    const __m512d w2 = _mm512_set1_pd(weights[2]);
    const __m512d w3 = _mm512_set1_pd(weights[3]);
    std::int64_t j = 0;
    for (; j + 16 <= count; j += 16) {
        const __m256i low = verticalEightAvx512(rows, j, w0, w1, w2, w3);
        const __m256i high = verticalEightAvx512(rows, j + 8, w0, w1, w2, w3);
        const __m512i both = _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), _mm512_cvtepi32_epi8(both));
    }
    const float* const rest[4] = {rows[0] + j, rows[1] + j, rows[2] + j, rows[3] + j};
    verticalPortable(rest, weights, count - j, out + j);
}

const ResizeKernels portable{"portable", widenPortable, horizontalPortable, verticalPortable};
const ResizeKernels avx2{"avx2", widenAvx2, horizontalAvx2, verticalAvx2};
const ResizeKernels avx512{"avx512", widenAvx2, horizontalAvx2, verticalAvx512};

}  // namespace

std::vector<const ResizeKernels*> supportedResizeKernels()
{
    __builtin_cpu_init();
    std::vector<const ResizeKernels*> all{&portable};
    if (__builtin_cpu_supports("avx2"))
        all.push_back(&avx2);
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f"))
        all.push_back(&avx512);
    return all;
}

const ResizeKernels& resizeKernels()
{
    static const ResizeKernels& chosen = []() -> const ResizeKernels& {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2"))
            return avx512;
        return __builtin_cpu_supports("avx2") ? avx2 : portable;
    }();
    return chosen;
}
