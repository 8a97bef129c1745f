#include "DriveShaping.h"
#include "FastTanh.h"

// The build compiles this file with -fno-trapping-math: without it GCC keeps the selects in
// these loops as branches (a compare might raise a floating-point flag that a branch would have
// skipped), so nothing vectorises. Results are unchanged; only exception flags, which nothing
// reads, may differ. It also compiles it with -ffp-contract=off, so that the AVX2 copies of the
// two clipping loops (picked at load time where the processor has AVX2) give the same samples
// as the SSE2 ones. BITCRUSH and FOLDBACK can't be left to target_clones: GCC turns their
// whole-number steps back into branches when it may use AVX2, which is slower than SSE2. So they
// get hand-written AVX2 loops, picked at load time, that do the same IEEE operations in the
// same order as their portable loops, lane by lane, and so give the same samples bit for bit.
#if defined (__GNUC__) && ! defined (__clang__) && defined (__x86_64__)
 #define ZANDOR_SHAPING_CLONES __attribute__ ((target_clones ("avx2", "default")))
 #define ZANDOR_SHAPING_AVX2 1
 #include <immintrin.h>
#else
 #define ZANDOR_SHAPING_CLONES
 #define ZANDOR_SHAPING_AVX2 0
#endif

namespace zandor
{

ZANDOR_SHAPING_CLONES void shapeHardClip (float* __restrict samples, size_t n, float driveGain) noexcept
{
    for (size_t i = 0; i < n; ++i)
    {
        const float y = driveGain * samples[i];
        samples[i] = y < -1.0f ? -1.0f : (1.0f < y ? 1.0f : y);
    }
}

ZANDOR_SHAPING_CLONES void shapeSoftClip (float* __restrict samples, size_t n, float driveGain) noexcept
{
    for (size_t i = 0; i < n; ++i)
        samples[i] = zandor::fastTanh (driveGain * samples[i]);
}

namespace
{
void bitcrushPortable (float* __restrict samples, size_t n, float driveGain, float levels) noexcept
{
    // Every float at or beyond 2^23 is already a whole number, and the int conversion
    // below is only valid under that.
    constexpr float wholeFrom = 8388608.0f;

    for (size_t i = 0; i < n; ++i)
    {
        const float v = levels * (driveGain * samples[i]);
        const float magnitude = std::abs (v);
        const float truncated = (float) (int32_t) (magnitude < wholeFrom ? magnitude : 0.0f);
        // magnitude - truncated is exact, so halves round away from zero without error.
        const float rounded = (magnitude - truncated) >= 0.5f ? truncated + 1.0f : truncated;
        const float whole = magnitude < wholeFrom ? rounded : magnitude;
        samples[i] = (v < 0.0f ? -whole : whole) / levels;
    }
}

void foldbackPortable (float* __restrict samples, size_t n, float driveGain) noexcept
{
    // Folding at +-1 is odd and, for a magnitude a > 1, takes ceil ((a - 1) / 2) folds
    // (capped at 32): an even count leaves a - 2 * folds, an odd one 2 * folds - a.
    // Each of the single folds is exact in float, and so is this closed form.
    constexpr float maxFolds = 32.0f;

    for (size_t i = 0; i < n; ++i)
    {
        const float y = driveGain * samples[i];
        const float a = std::abs (y);
        const float half = (a - 1.0f) * 0.5f;
        const float limited = half < maxFolds ? (half > 0.0f ? half : 0.0f) : maxFolds;
        auto folds = (int32_t) limited;
        folds += (float) folds < limited ? 1 : 0;
        const float twiceFolds = 2.0f * (float) folds;
        const float folded = (folds & 1) != 0 ? twiceFolds - a : a - twiceFolds;
        // Within +-1 no fold applies and folded is a itself, so the sign restores y.
        samples[i] = y < 0.0f ? -folded : folded;
    }
}

#if ZANDOR_SHAPING_AVX2
// Eight lanes of bitcrushPortable. Truncation uses vroundps instead of the int conversion,
// which gives the same whole number below 2^23; at and beyond it the last select keeps the
// magnitude, as there.
__attribute__ ((target ("avx2"))) void bitcrushAvx2 (float* __restrict samples, size_t n, float driveGain, float levels) noexcept
{
    const __m256 gain = _mm256_set1_ps (driveGain);
    const __m256 levelsV = _mm256_set1_ps (levels);
    const __m256 signBit = _mm256_set1_ps (-0.0f);
    const __m256 wholeFrom = _mm256_set1_ps (8388608.0f);
    const __m256 half = _mm256_set1_ps (0.5f);
    const __m256 one = _mm256_set1_ps (1.0f);
    const __m256 zero = _mm256_setzero_ps();
    size_t i = 0;

    for (; i + 8 <= n; i += 8)
    {
        const __m256 v = _mm256_mul_ps (levelsV, _mm256_mul_ps (gain, _mm256_loadu_ps (samples + i)));
        const __m256 magnitude = _mm256_andnot_ps (signBit, v);
        const __m256 below = _mm256_cmp_ps (magnitude, wholeFrom, _CMP_LT_OQ);
        const __m256 truncated = _mm256_round_ps (_mm256_and_ps (below, magnitude), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const __m256 roundUp = _mm256_cmp_ps (_mm256_sub_ps (magnitude, truncated), half, _CMP_GE_OQ);
        const __m256 rounded = _mm256_blendv_ps (truncated, _mm256_add_ps (truncated, one), roundUp);
        const __m256 whole = _mm256_blendv_ps (magnitude, rounded, below);
        const __m256 negative = _mm256_cmp_ps (v, zero, _CMP_LT_OQ);
        const __m256 signedWhole = _mm256_xor_ps (whole, _mm256_and_ps (negative, signBit));
        _mm256_storeu_ps (samples + i, _mm256_div_ps (signedWhole, levelsV));
    }

    bitcrushPortable (samples + i, n - i, driveGain, levels);
}

// Eight lanes of foldbackPortable; the fold count's ceiling comes from vroundps, and its
// parity, shifted into the sign bit, picks the lane's branch of the closed form.
__attribute__ ((target ("avx2"))) void foldbackAvx2 (float* __restrict samples, size_t n, float driveGain) noexcept
{
    const __m256 gain = _mm256_set1_ps (driveGain);
    const __m256 signBit = _mm256_set1_ps (-0.0f);
    const __m256 one = _mm256_set1_ps (1.0f);
    const __m256 halfV = _mm256_set1_ps (0.5f);
    const __m256 two = _mm256_set1_ps (2.0f);
    const __m256 maxFolds = _mm256_set1_ps (32.0f);
    const __m256 zero = _mm256_setzero_ps();
    size_t i = 0;

    for (; i + 8 <= n; i += 8)
    {
        const __m256 y = _mm256_mul_ps (gain, _mm256_loadu_ps (samples + i));
        const __m256 a = _mm256_andnot_ps (signBit, y);
        const __m256 half = _mm256_mul_ps (_mm256_sub_ps (a, one), halfV);
        // max_ps (half, 0) is "half > 0 ? half : 0", NaN included; the cap keeps the portable
        // loop's own compare so that a NaN lane, too, takes 32 folds.
        const __m256 limited = _mm256_blendv_ps (maxFolds, _mm256_max_ps (half, zero),
                                                 _mm256_cmp_ps (half, maxFolds, _CMP_LT_OQ));
        const __m256 folds = _mm256_round_ps (limited, _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC);
        const __m256 odd = _mm256_castsi256_ps (_mm256_slli_epi32 (_mm256_cvttps_epi32 (folds), 31));
        const __m256 twiceFolds = _mm256_mul_ps (two, folds);
        const __m256 folded = _mm256_blendv_ps (_mm256_sub_ps (a, twiceFolds), _mm256_sub_ps (twiceFolds, a), odd);
        const __m256 negative = _mm256_cmp_ps (y, zero, _CMP_LT_OQ);
        _mm256_storeu_ps (samples + i, _mm256_xor_ps (folded, _mm256_and_ps (negative, signBit)));
    }

    foldbackPortable (samples + i, n - i, driveGain);
}

// Read once at load time, so the audio thread only tests a plain bool.
const bool hasAvx2 = [] { __builtin_cpu_init(); return __builtin_cpu_supports ("avx2") != 0; }();
#endif
} // namespace

void shapeBitcrush (float* samples, size_t n, float driveGain, float levels) noexcept
{
#if ZANDOR_SHAPING_AVX2
    if (hasAvx2)
        return bitcrushAvx2 (samples, n, driveGain, levels);
#endif
    bitcrushPortable (samples, n, driveGain, levels);
}

void shapeFoldback (float* samples, size_t n, float driveGain) noexcept
{
#if ZANDOR_SHAPING_AVX2
    if (hasAvx2)
        return foldbackAvx2 (samples, n, driveGain);
#endif
    foldbackPortable (samples, n, driveGain);
}

} // namespace zandor
