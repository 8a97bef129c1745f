#include "BrellDistortionProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace
{
constexpr int numRows = GlitchPattern::numRows;
constexpr int numSteps = GlitchPattern::numSteps;
constexpr int64_t ringSize = BrellDistortionProcessor::captureLength;

constexpr int rowStutter = 0;
constexpr int rowTapeStop = 1;
constexpr int rowCrush = 2;
constexpr int rowReverse = 3;
constexpr int rowGate = 4;

constexpr float defaultChaos = 50.0f;
constexpr int32_t constructionStutterLength = 2000;

// Any slot arithmetic lands back in 0..ringSize-1, whatever the sign or size of the operand.
int32_t wrapSlot (int64_t slot) noexcept
{
    slot %= ringSize;
    return (int32_t) (slot < 0 ? slot + ringSize : slot);
}

int32_t nextSlot (int32_t slot) noexcept      { return slot + 1 >= (int32_t) ringSize ? 0 : slot + 1; }
int32_t previousSlot (int32_t slot) noexcept  { return slot <= 0 ? (int32_t) ringSize - 1 : slot - 1; }

// max (low, trunc (x)), capped at high; NaN gives low, so no count is ever derived from it.
int32_t truncateClamped (double x, int32_t low, int32_t high) noexcept
{
    if (! (x >= (double) low))
        return low;

    if (x >= (double) high)
        return high;

    return (int32_t) x;
}

// Whole samples of tape travel; a travel too large for an integer, or not a number, counts as none.
int64_t travelInSamples (float travel) noexcept
{
    if (! (std::abs (travel) < 1.0e18f))
        return 0;

    return (int64_t) travel;
}

// The chaos amount as a fraction; a value a state may have smuggled in outside 0..100 counts as the default.
float chaosFraction (float value) noexcept
{
    if (! std::isfinite (value) || value < 0.0f || value > 100.0f)
        value = defaultChaos;

    return value / 100.0f;
}

// std::round (halves away from zero, the sign of zero kept) without the library call, which
// the per-sample CRUSH path cannot afford twice a sample.
inline float roundHalfAwayFromZero (float x) noexcept
{
    if (! (std::abs (x) < 8388608.0f)) // 2^23 and above are whole already; also inf and NaN
        return x;

    auto whole = (float) (int32_t) x;
    const auto fraction = x - whole; // exact: the bits below the point

    if (fraction >= 0.5f)
        whole += 1.0f;
    else if (fraction <= -0.5f)
        whole -= 1.0f;

    return std::copysign (whole, x);
}

// Sixteenth notes since the song start, folded into one bar of 16 steps.
int32_t stepFromSongPosition (double ppq) noexcept
{
    const auto sixteenths = ppq * 4.0;

    if (! std::isfinite (sixteenths))
        return 0;

    auto x = std::fmod (sixteenths, 16.0);

    if (x < 0.0)
        x += 16.0;

    return ((int32_t) x) % numSteps; // an x that rounds up to 16.0 is step 0
}
} // namespace

//==============================================================================
void BrellDistortionProcessor::advanceSequencer (const juce::AudioPlayHead::PositionInfo& position, int numSamples)
{
    if (const auto hostBpm = position.getBpm())
        if (std::isfinite (*hostBpm) && *hostBpm > 0.0)
            bpm = *hostBpm;

    samplesPerStep = (sampleRate * 60.0) / (bpm * 4.0);

    const auto ppq = position.getPpqPosition();

    if (position.getIsPlaying() && ppq.hasValue())
    {
        const auto step = stepFromSongPosition (*ppq);
        currentStep.exchange (step);

        if (step == lastStep)
            return;

        lastStep = step;
    }
    else
    {
        stepAccumulator += (double) numSamples;

        if (stepAccumulator < samplesPerStep)
            return;

        // One step at most, even when the block held several; the surplus carries on.
        stepAccumulator -= samplesPerStep;
        lastStep = (int32_t) (((int64_t) lastStep + 1) % numSteps + numSteps) % numSteps;
        currentStep.exchange (lastStep);
    }

    for (int row = 0; row < numRows; ++row)
        if (glitchPattern.get (row, lastStep) > 0)
            triggerGlitch (row);
}

bool BrellDistortionProcessor::isRowActiveAtStep (int row, int step) const
{
    if (row < 0 || row >= numRows || step < 0 || step >= numSteps)
        return false;

    for (int j = 0; j <= step; ++j)
    {
        const auto length = glitchPattern.get (row, j);

        if (length > 0 && (int64_t) j + length - 1 >= step)
            return true;
    }

    return false;
}

void BrellDistortionProcessor::triggerGlitch (int row)
{
    if (row < 0 || row >= numRows)
        return;

    const auto* rawChaos = apvts.getRawParameterValue ("glitchChaos");
    const auto c = chaosFraction (rawChaos != nullptr ? rawChaos->load (std::memory_order_relaxed) : defaultChaos);
    const auto writeSlot = wrapSlot (captureWritePos);

    switch (row)
    {
        case rowStutter:
        {
            // Capped at the ring's size so that no sample rate can push the window outside it.
            const auto maxLength = truncateClamped ((1.0 - 0.8 * (double) c) * (0.08 * sampleRate),
                                                    200, (int32_t) ringSize);
            stutterLength = random.nextInt (maxLength - 100) + 100;
            stutterReadPos = wrapSlot ((int64_t) writeSlot - stutterLength);
            stutterStartPos = stutterReadPos;

            // Taken now, while the ring still holds it: the ring goes on recording over these slots.
            if (stutterLength <= stutterWindow.getNumSamples())
            {
                const auto firstRun = juce::jmin (stutterLength, (int32_t) ringSize - stutterStartPos);

                for (int ch = 0; ch < 2; ++ch)
                {
                    auto* window = stutterWindow.getWritePointer (ch);
                    std::copy_n (captureBuffer[ch] + stutterStartPos, firstRun, window);
                    std::copy_n (captureBuffer[ch], stutterLength - firstRun, window + firstRun);
                }

                stutterWindowFill = stutterLength;
            }
            else
            {
                stutterWindowFill = 0;
            }
            break;
        }

        case rowTapeStop:
            tapeSpeed = 1.0f;
            tapePosition = 0.0f;
            tapeStartPos = writeSlot;
            break;

        case rowCrush:
            crushBits = random.nextFloat() * ((1.0f - c) * 6.0f + 1.0f) + 1.0f;
            break;

        case rowReverse:
            reversePos = wrapSlot ((int64_t) writeSlot + ringSize - 1);
            break;

        case rowGate:
        {
            gateCounter = 0;
            gateOpen = true;
            const auto n = truncateClamped ((1.0 - 0.7 * (double) c) * (0.04 * sampleRate),
                                            1, std::numeric_limits<int32_t>::max() - 50);
            gateLength = random.nextInt (n) + 50;
            break;
        }

        default:
            break;
    }
}

void BrellDistortionProcessor::processGlitch (float* left, float* right, int numSamples)
{
    const auto step = juce::jmax (0, currentStep.load());
    int32_t mask = 0;

    for (int row = 0; row < numRows; ++row)
        if (isRowActiveAtStep (row, step))
            mask |= (1 << row);

    activeMask.exchange (mask);

    if (numSamples <= 0 || left == nullptr || right == nullptr)
        return;

    const bool stutterOn = (mask & (1 << rowStutter)) != 0;
    const bool tapeOn    = (mask & (1 << rowTapeStop)) != 0;
    const bool crushOn   = (mask & (1 << rowCrush)) != 0;
    const bool reverseOn = (mask & (1 << rowReverse)) != 0;
    const bool gateOn    = (mask & (1 << rowGate)) != 0;

    // Working copies: the sample pointers could alias float members as far as the compiler knows.
    auto* ringLeft = captureBuffer[0];
    auto* ringRight = captureBuffer[1];
    auto writeSlot = wrapSlot (captureWritePos);
    auto stutterSlot = wrapSlot (stutterReadPos);
    const auto stutterStart = wrapSlot (stutterStartPos);
    const auto stutterSpan = stutterLength;
    // Too long a window for its buffer (a rate the processor was never prepared for) is read from the ring.
    const bool stutterWindowed = stutterSpan > 0 && stutterSpan <= stutterWindow.getNumSamples();
    auto* windowLeft = stutterWindowed ? stutterWindow.getWritePointer (0) : nullptr;
    auto* windowRight = stutterWindowed ? stutterWindow.getWritePointer (1) : nullptr;
    auto windowHeld = stutterWindowed ? juce::jlimit (0, stutterSpan, stutterWindowFill) : 0;
    auto speed = tapeSpeed;
    auto travel = tapePosition;
    const auto tapeStart = wrapSlot (tapeStartPos);
    auto reverseSlot = wrapSlot (reversePos);
    auto counter = gateCounter;
    auto open = gateOpen;
    const auto halfPeriod = gateLength;

    // crushBits only changes at a start, which comes before the block's first sample.
    const auto levels = std::exp2 (crushBits);
    const bool crushUsable = std::isfinite (levels) && levels > 0.0f;

    const std::atomic<float>* rawChaos = tapeOn ? apvts.getRawParameterValue ("glitchChaos") : nullptr;
    auto lastRawChaos = std::numeric_limits<float>::quiet_NaN();
    auto factor = 0.0f;

    for (int i = 0; i < numSamples; ++i)
    {
        auto l = left[i];
        auto r = right[i];

        ringLeft[writeSlot] = l;
        ringRight[writeSlot] = r;
        writeSlot = nextSlot (writeSlot);

        if (stutterOn)
        {
            auto offset = stutterSlot - stutterStart;
            if (offset < 0)
                offset += (int32_t) ringSize;

            if (offset < windowHeld)
            {
                l = windowLeft[offset];
                r = windowRight[offset];
            }
            else
            {
                l = ringLeft[stutterSlot];
                r = ringRight[stutterSlot];

                // A row heard without a start keeps what its first pass reads, so later passes repeat it.
                if (stutterWindowed && offset == windowHeld && windowHeld < stutterSpan)
                {
                    windowLeft[offset] = l;
                    windowRight[offset] = r;
                    ++windowHeld;
                }
            }

            stutterSlot = nextSlot (stutterSlot);

            // The window stays where the start put it, so the row repeats the same stretch.
            if (++offset >= (int32_t) ringSize)
                offset = 0;

            if (stutterSpan > 0 && offset >= stutterSpan)
                stutterSlot = stutterStart;
        }

        if (tapeOn)
        {
            // Chaos is looked at on every sample; the factor is only worked out again when it moved.
            const auto rawNow = rawChaos != nullptr ? rawChaos->load (std::memory_order_relaxed) : defaultChaos;

            if (! juce::exactlyEqual (rawNow, lastRawChaos))
            {
                lastRawChaos = rawNow;
                const auto c = chaosFraction (rawNow);
                factor = 0.9997f - (c * 0.0005f);
            }

            speed = speed * factor;

            if (! (speed >= 0.001f))
                speed = 0.001f;

            travel += speed;
            const auto gain = juce::jmin (2.0f * speed, 1.0f);

            // The tape starts on the live signal and falls further behind as it slows.
            auto slot = (int64_t) tapeStart + travelInSamples (travel);
            if (slot >= ringSize)
                slot -= ringSize;
            if (slot < 0 || slot >= ringSize)
                slot = wrapSlot (slot);
            l = gain * ringLeft[slot];
            r = gain * ringRight[slot];
        }

        if (crushOn && crushUsable)
        {
            l = roundHalfAwayFromZero (levels * l) / levels;
            r = roundHalfAwayFromZero (levels * r) / levels;
        }

        if (reverseOn)
        {
            l = ringLeft[reverseSlot];
            r = ringRight[reverseSlot];
            reverseSlot = previousSlot (reverseSlot);
        }

        if (gateOn)
        {
            if (++counter >= halfPeriod)
            {
                counter = 0;
                open = ! open;
            }

            if (! open)
            {
                l = 0.0f;
                r = 0.0f;
            }
        }

        left[i] = l;
        right[i] = r;
    }

    captureWritePos = writeSlot;

    if (stutterOn)
    {
        stutterReadPos = stutterSlot;

        if (stutterWindowed)
            stutterWindowFill = windowHeld;
    }

    if (tapeOn)
    {
        tapeSpeed = speed;
        tapePosition = travel;
    }

    if (reverseOn)
        reversePos = reverseSlot;

    if (gateOn)
    {
        gateCounter = counter;
        gateOpen = open;
    }
}

void BrellDistortionProcessor::prepareStutterWindow()
{
    // Room for the longest window a start can draw at this rate, for the construction length, and
    // for the length the last start left, which a row sounding without a start goes on with.
    const auto longestAtRate = truncateClamped (0.08 * sampleRate, constructionStutterLength, (int32_t) ringSize);
    const auto capacity = juce::jmax (longestAtRate, juce::jlimit (0, (int32_t) ringSize, stutterLength));

    stutterWindow.setSize (2, capacity, false, false, true);
    stutterWindowFill = 0; // nothing held yet: the ring the window came from is cleared with it
}
