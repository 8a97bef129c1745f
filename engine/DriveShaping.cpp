#include "DriveShaping.h"
#include "FastTanh.h"

// The build compiles this file with -fno-trapping-math: without it GCC keeps the selects in
// these loops as branches (a compare might raise a floating-point flag that a branch would have
// skipped), so nothing vectorises. Results are unchanged; only exception flags, which nothing
// reads, may differ. It also compiles it with -ffp-contract=off, so that the AVX2 copies of the
// two clipping loops (picked at load time where the processor has AVX2) give the same samples
// as the SSE2 ones. BITCRUSH and FOLDBACK get no such copy: GCC turns their whole-number steps
// back into branches when it may use AVX2, which is slower than SSE2.
#if defined (__GNUC__) && ! defined (__clang__) && defined (__x86_64__)
 #define ZANDOR_SHAPING_CLONES __attribute__ ((target_clones ("avx2", "default")))
#else
 #define ZANDOR_SHAPING_CLONES
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

void shapeBitcrush (float* __restrict samples, size_t n, float driveGain, float levels) noexcept
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

void shapeFoldback (float* __restrict samples, size_t n, float driveGain) noexcept
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

} // namespace zandor
