#pragma once

#include <cmath>

namespace zandor
{

/** Single-precision tanh as a 13/6 odd/even rational, written branch-free so that loops
    over it vectorise. Inputs are clamped where tanh has reached its last float below 1,
    and tiny inputs pass straight through (tanh x = x to well under an ulp there).
    Worst error against the exact tanh over the float range is a few ulp; the engine
    tests measure it. NaN passes through as NaN.
*/
inline float fastTanh (float x) noexcept
{
    constexpr float clampLimit = 7.90531110763549805f;

    constexpr float a1  = 4.89352455891786e-03f;
    constexpr float a3  = 6.37261928875436e-04f;
    constexpr float a5  = 1.48572235717979e-05f;
    constexpr float a7  = 5.12229709037114e-08f;
    constexpr float a9  = -8.60467152213735e-11f;
    constexpr float a11 = 2.00018790482477e-13f;
    constexpr float a13 = -2.76076847742355e-16f;

    constexpr float b0 = 4.89352518554385e-03f;
    constexpr float b2 = 2.26843463243900e-03f;
    constexpr float b4 = 1.18534705686654e-04f;
    constexpr float b6 = 1.19825839466702e-06f;

    const float xc = x < -clampLimit ? -clampLimit : (x > clampLimit ? clampLimit : x);
    const float x2 = xc * xc;

    float p = a13;
    p = p * x2 + a11;
    p = p * x2 + a9;
    p = p * x2 + a7;
    p = p * x2 + a5;
    p = p * x2 + a3;
    p = p * x2 + a1;
    p = p * xc;

    float q = b6;
    q = q * x2 + b4;
    q = q * x2 + b2;
    q = q * x2 + b0;

    const float r = p / q;
    return std::abs (x) < 0.0004f ? x : r;
}

} // namespace zandor
