#include "DriveShaping.h"
#include "FastTanh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace
{
float shapeOne (int mode, float x, float driveGain, float levels = 4.0f)
{
    float sample = x;
    switch (mode)
    {
        case 0: zandor::shapeHardClip (&sample, 1, driveGain); break;
        case 1: zandor::shapeSoftClip (&sample, 1, driveGain); break;
        case 2: zandor::shapeBitcrush (&sample, 1, driveGain, levels); break;
        default: zandor::shapeFoldback (&sample, 1, driveGain); break;
    }
    return sample;
}

float foldByLoop (float y)
{
    for (int folds = 0; folds < 32 && (y > 1.0f || y < -1.0f); ++folds)
        y = y > 1.0f ? 2.0f - y : -2.0f - y;
    return y;
}

/** Distance in units of the last place of the exact value's float neighbourhood. */
double ulpError (float approx, double exact)
{
    const auto reference = (float) exact;
    const float spacing = std::nextafter (std::abs (reference), std::numeric_limits<float>::infinity()) - std::abs (reference);
    return std::abs ((double) approx - exact) / spacing;
}
} // namespace

TEST (DriveShaping, HardClipLimitsToUnity)
{
    struct Case { float x, gain, expected; };
    const Case cases[] = { { 0.5f, 1.0f, 0.5f }, { 1.5f, 1.0f, 1.0f }, { -1.5f, 1.0f, -1.0f },
                           { 1.0f, 1.0f, 1.0f }, { 0.01f, 1000.0f, 1.0f }, { -0.0005f, 1000.0f, -0.5f } };
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ (shapeOne (0, c.x, c.gain), c.expected) << c.x << " x " << c.gain;
}

TEST (DriveShaping, BitcrushLevelsFollowTheRawDrive)
{
    EXPECT_FLOAT_EQ (zandor::bitcrushLevels (0.0f), 65536.0f);
    EXPECT_FLOAT_EQ (zandor::bitcrushLevels (50.0f), 512.0f);
    EXPECT_FLOAT_EQ (zandor::bitcrushLevels (100.0f), 4.0f);
    EXPECT_NEAR (zandor::bitcrushLevels (55.0f), std::pow (2.0, 8.3), 1e-3);
}

TEST (DriveShaping, BitcrushRoundsHalvesAwayFromZero)
{
    struct Case { float x, gain, levels, expected; };
    const Case cases[] = {
        { 0.3f, 1.0f, 4.0f, 0.25f },          // 1.2 -> 1
        { 0.375f, 1.0f, 4.0f, 0.5f },         // 1.5 -> 2
        { -0.375f, 1.0f, 4.0f, -0.5f },       // -1.5 -> -2
        { 0.125f, 1.0f, 4.0f, 0.25f },        // 0.5 -> 1
        { 0.12499999f, 1.0f, 4.0f, 0.0f },    // just under a half
        { 0.0003f, 1000.0f, 4.0f, 0.25f },    // the driven sample is quantised
        { 3.0e6f, 1.0f, 4.0f, 3.0e6f },       // beyond 2^23 every float is whole
    };
    for (const auto& c : cases)
        EXPECT_EQ (shapeOne (2, c.x, c.gain, c.levels), std::round (c.levels * (c.gain * c.x)) / c.levels) << c.x;
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ (shapeOne (2, c.x, c.gain, c.levels), c.expected) << c.x;

    // Drive 100 puts every output on a step of 0.25.
    for (float x = -0.004f; x <= 0.004f; x += 0.0000371f)
    {
        const float out = shapeOne (2, x, 1000.0f, 4.0f);
        EXPECT_EQ (out * 4.0f, std::round (out * 4.0f));
    }
}

TEST (DriveShaping, FoldbackFoldsAndStopsAfter32)
{
    struct Case { float y, expected; };
    const Case cases[] = { { 2.5f, -0.5f }, { 3.0f, -1.0f }, { 1.0f, 1.0f }, { 0.25f, 0.25f }, { -2.5f, 0.5f },
                           { 65.0f, 1.0f }, { 100.0f, 36.0f }, { -100.0f, -36.0f }, { 64.5f, 0.5f } };
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ (shapeOne (3, c.y, 1.0f), c.expected) << c.y;

    // The closed form matches fold-by-fold, bit for bit, over a dense sweep.
    for (float y = -200.0f; y <= 200.0f; y += 0.00731f)
        ASSERT_EQ (shapeOne (3, y, 1.0f), foldByLoop (y)) << y;
    for (float y : { 1.0000001f, 2.9999998f, 3.0000002f, 64.99999f, 65.00001f, 1.0e7f, -1.0e7f })
        EXPECT_EQ (shapeOne (3, y, 1.0f), foldByLoop (y)) << y;
}

TEST (DriveShaping, WholeBuffersMatchSampleBySampleBitForBit)
{
    // Long buffers take the wide loops where the processor has them, single samples the
    // portable ones; both must agree with the definitions to the bit, -0 and NaN included.
    const auto bitsOf = [] (float v) { uint32_t b; std::memcpy (&b, &v, 4); return b; };
    // A driven zero, -0 too, comes out as +0 in both modes.
    const auto crushRef = [] (float x, float g, float levels)
    {
        const float v = levels * (g * x);
        return std::fpclassify (v) == FP_ZERO ? 0.0f : std::round (v) / levels;
    };
    const float inf = std::numeric_limits<float>::infinity();
    const float denormal = std::numeric_limits<float>::denorm_min();

    for (float levels : { 4.0f, 512.0f, 65536.0f, zandor::bitcrushLevels (55.0f), zandor::bitcrushLevels (99.3f) })
    {
        std::vector<float> input;
        for (float x = -3.0f; x <= 3.0f; x += 0.000917f)
            input.push_back (x);
        for (float edge : { 0.0f, 1.0f, 3.0f, 65.0f, 100.0f, 64.5f, 0.5f / levels, 1.5f / levels, 8388608.0f,
                            8388609.0f, 16777216.0f, 1.0e30f, inf, denormal, 1.0e-39f })
            for (float v : { edge, std::nextafter (edge, 0.0f), std::nextafter (edge, inf) })
                input.insert (input.end(), { v, -v });
        input.push_back (std::numeric_limits<float>::quiet_NaN());

        for (float gain : { 1.0f, 1.7f, 1000.0f })
        {
            for (int mode : { 2, 3 })
            {
                auto whole = input;
                if (mode == 2)
                    zandor::shapeBitcrush (whole.data(), whole.size(), gain, levels);
                else
                    zandor::shapeFoldback (whole.data(), whole.size(), gain);

                for (size_t i = 0; i < input.size(); ++i)
                {
                    const float x = input[i];
                    const float reference = mode == 2 ? crushRef (x, gain, levels) : (std::fpclassify (gain * x) == FP_ZERO ? 0.0f : foldByLoop (gain * x));
                    const float single = shapeOne (mode, x, gain, levels);
                    if (std::isnan (reference))
                    {
                        ASSERT_TRUE (std::isnan (whole[i]) && std::isnan (single)) << mode << " " << x;
                        continue;
                    }
                    ASSERT_EQ (bitsOf (whole[i]), bitsOf (reference)) << mode << " " << x << " x " << gain << " @ " << levels;
                    ASSERT_EQ (bitsOf (single), bitsOf (reference)) << mode << " " << x << " x " << gain << " @ " << levels;
                }
            }
        }
    }
}

TEST (DriveShaping, ShapingKeepsNonFiniteInputsContained)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE (std::isnan (shapeOne (1, nan, 1.0f)));
    EXPECT_TRUE (std::isnan (shapeOne (3, nan, 1.0f)));
    EXPECT_EQ (shapeOne (0, std::numeric_limits<float>::infinity(), 1.0f), 1.0f);
    EXPECT_EQ (shapeOne (1, std::numeric_limits<float>::infinity(), 1.0f), 1.0f);
}

TEST (FastTanh, WithinSevenUlpOverADenseSweep)
{
    // Every 61st float from 0 to 12 and the mirrored negatives, plus the special points.
    // (An exhaustive run over every float in that range finds 6.88 ulp, near 5.83.)
    double worst = 0.0;
    float worstAt = 0.0f;
    const auto top = [] { float t = 12.0f; uint32_t bits; std::memcpy (&bits, &t, 4); return bits; }();

    for (uint32_t bits = 0; bits < top; bits += 61)
    {
        float x;
        std::memcpy (&x, &bits, 4);

        for (float v : { x, -x })
        {
            const double error = ulpError (zandor::fastTanh (v), std::tanh ((double) v));
            if (error > worst)
            {
                worst = error;
                worstAt = v;
            }
        }
    }

    RecordProperty ("worstUlp", std::to_string (worst));
    std::printf ("fastTanh worst error %.3f ulp at %.9g\n", worst, (double) worstAt);
    EXPECT_LE (worst, 7.0);

    EXPECT_EQ (zandor::fastTanh (0.0f), 0.0f);
    EXPECT_EQ (zandor::fastTanh (1.0e-30f), 1.0e-30f);
    EXPECT_EQ (zandor::fastTanh (100.0f), zandor::fastTanh (7.90531110763549805f));
    EXPECT_LE (std::abs (zandor::fastTanh (100.0f)), 1.0f);
    EXPECT_LE (std::abs (zandor::fastTanh (-1.0e30f)), 1.0f);
}
