#include "EngineTestHelpers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

using namespace enginetest;

namespace
{
constexpr double rate = 48000.0;
constexpr int blockSize = 512;
constexpr int numBlocks = 40;
constexpr int badBlock = 4;
constexpr int badSample = 100;

enum class Bad { nan, plusInf, minusInf, hugeBlock };

struct GlitchRows
{
    const char* name;
    std::vector<int> rows;
};

const char* nameOf (Bad bad)
{
    switch (bad)
    {
        case Bad::nan:       return "NaN";
        case Bad::plusInf:   return "+inf";
        case Bad::minusInf:  return "-inf";
        case Bad::hugeBlock: return "block of +-3.4e38";
    }
    return "?";
}

float badValue (Bad bad)
{
    switch (bad)
    {
        case Bad::nan:       return std::numeric_limits<float>::quiet_NaN();
        case Bad::plusInf:   return std::numeric_limits<float>::infinity();
        case Bad::minusInf:  return -std::numeric_limits<float>::infinity();
        case Bad::hugeBlock: return 3.4e38f;
    }
    return 0.0f;
}

/** Drive 100 and +6 dB out, the settings most likely to overflow; the rows given sound throughout. */
std::unique_ptr<BrellDistortionProcessor> makeProcessor (int numChannels, int mode, float mix, const GlitchRows& glitch)
{
    auto proc = std::make_unique<BrellDistortionProcessor>();

    if (numChannels == 1)
        setMonoLayout (*proc);

    setParam (*proc, "drive", 100.0f);
    setParam (*proc, "output", 6.0f);
    setParam (*proc, "mode", (float) mode);
    setParam (*proc, "mix", mix);
    setParam (*proc, "glitchOn", glitch.rows.empty() ? 0.0f : 1.0f);

    for (const auto row : glitch.rows)
        for (int step = 0; step < GlitchPattern::numSteps; step += 2)
            proc->glitchPattern.set (row, step, 2);

    proc->prepareToPlay (rate, blockSize);
    BrellDistortionProcessorTestAccess (*proc).random().setSeed (4242);
    return proc;
}

/** Block b of the run: a tone, with the bad value (or, for the reference, 0.0) in block badBlock. */
juce::AudioBuffer<float> inputBlock (int numChannels, int block, Bad bad, bool reference)
{
    auto buffer = makeTestSignal (numChannels, blockSize, block * blockSize, 0.5f);

    if (block != badBlock)
        return buffer;

    if (bad == Bad::hugeBlock)
    {
        for (int ch = 0; ch < numChannels; ++ch)
            for (int i = 0; i < blockSize; ++i)
                buffer.setSample (ch, i, ((i + ch) % 2 == 0 ? 1.0f : -1.0f) * badValue (bad));
    }
    else
    {
        buffer.setSample (0, badSample, reference ? 0.0f : badValue (bad));
    }

    return buffer;
}

bool sameBits (float a, float b)
{
    return std::memcmp (&a, &b, sizeof (float)) == 0;
}
} // namespace

TEST (NonFiniteInput, CountsAsSilenceAndNothingNonFiniteEverLeaves)
{
    const GlitchRows glitches[] { { "glitch off", {} }, { "STUTTER and REVERSE", { 0, 3 } }, { "CRUSH", { 2 } } };

    for (const auto bad : { Bad::nan, Bad::plusInf, Bad::minusInf, Bad::hugeBlock })
        for (int mode = 0; mode < 4; ++mode)
            for (const auto& glitch : glitches)
                for (const int numChannels : { 2, 1 })
                    for (const float mix : { 100.0f, 0.0f })
                    {
                        if (numChannels == 1 && ! glitch.rows.empty())
                            continue;

                        SCOPED_TRACE (juce::String (nameOf (bad)) + ", mode " + juce::String (mode) + ", " + glitch.name
                                      + ", " + juce::String (numChannels) + " channel(s), mix " + juce::String (mix));

                        auto proc = makeProcessor (numChannels, mode, mix, glitch);
                        auto reference = makeProcessor (numChannels, mode, mix, glitch);
                        const bool compareBits = bad != Bad::hugeBlock;
                        bool finite = true, identical = true;
                        double lastBlockSquares = 0.0;

                        for (int block = 0; block < numBlocks; ++block)
                        {
                            auto buffer = inputBlock (numChannels, block, bad, false);
                            process (*proc, buffer);

                            juce::AudioBuffer<float> expected;
                            if (compareBits)
                            {
                                expected = inputBlock (numChannels, block, bad, true);
                                process (*reference, expected);
                            }

                            for (int ch = 0; ch < numChannels; ++ch)
                                for (int i = 0; i < blockSize; ++i)
                                {
                                    const auto sample = buffer.getSample (ch, i);
                                    finite = finite && std::isfinite (sample);

                                    if (compareBits)
                                        identical = identical && sameBits (sample, expected.getSample (ch, i));

                                    if (block == numBlocks - 1)
                                        lastBlockSquares += (double) sample * sample;
                                }
                        }

                        EXPECT_TRUE (finite);

                        if (compareBits)
                        {
                            EXPECT_TRUE (identical) << "differs from the same input with 0.0 in place of the bad sample";
                        }

                        // Once the input is normal again, so is the sound: the chain is not left muted.
                        if (glitch.rows.empty())
                        {
                            EXPECT_GT (lastBlockSquares / (blockSize * numChannels), 1.0e-4);
                        }

                        const auto& levels = proc->meterLevels;
                        for (const auto* level : { &levels.inputLeft, &levels.inputRight, &levels.outputLeft, &levels.outputRight })
                            EXPECT_TRUE (std::isfinite (level->load()));

                        for (const auto& slot : proc->scopeBuffer.samples)
                            ASSERT_TRUE (std::isfinite (slot.load()));
                    }
}
