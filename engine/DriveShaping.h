#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

// The drive stage's four shaping curves, one loop per mode over a channel's samples so that
// each loop vectorises on its own. Each takes the undriven samples and the drive gain.
namespace zandor
{

/** BITCRUSH's number of levels: 16 bits at drive 0 down to 2 at drive 100, not rounded. */
inline float bitcrushLevels (float drive) noexcept
{
    return std::pow (2.0f, 16.0f - drive * 14.0f / 100.0f);
}

void shapeHardClip (float* samples, size_t n, float driveGain) noexcept;
void shapeSoftClip (float* samples, size_t n, float driveGain) noexcept;
void shapeBitcrush (float* samples, size_t n, float driveGain, float levels) noexcept;
void shapeFoldback (float* samples, size_t n, float driveGain) noexcept;

} // namespace zandor
