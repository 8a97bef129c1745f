#include "EngineTestHelpers.h"

#include <gtest/gtest.h>

#include <limits>

using namespace enginetest;

namespace
{
constexpr double rate = 48000.0;
constexpr int blockSize = 512;

struct Prepared
{
    explicit Prepared (int numChannels = 2, double sampleRate = rate, int maxBlock = blockSize)
    {
        if (numChannels == 1)
            setMonoLayout (*proc);

        proc->prepareToPlay (sampleRate, maxBlock);
    }

    std::unique_ptr<BrellDistortionProcessor> proc = std::make_unique<BrellDistortionProcessor>();
    BrellDistortionProcessorTestAccess access { *proc };
};

struct ChainCase
{
    const char* name;
    ReferenceChain::Settings settings;
    int numChannels;
};
} // namespace

//==============================================================================
TEST (SignalChain, FollowsThePlainChainForEveryModeAndFilter)
{
    const ChainCase cases[] = {
        { "hard clip, drive 50",           { 50.0f, 100.0f, 0.0f, 0, 20000.0f, 0.707f, 0 }, 2 },
        { "hard clip, drive 0, loud in",   { 0.0f, 100.0f, 0.0f, 0, 20000.0f, 0.707f, 0 }, 2 },
        { "soft clip, drive 37.3",         { 37.3f, 100.0f, -6.0f, 1, 5000.0f, 1.2f, 0 }, 2 },
        { "bitcrush, drive 100",           { 100.0f, 100.0f, 0.0f, 2, 20000.0f, 0.707f, 0 }, 2 },
        { "bitcrush, drive 55, highpass",  { 55.0f, 80.0f, 3.0f, 2, 800.0f, 2.0f, 1 }, 2 },
        { "foldback, drive 70, bandpass",  { 70.0f, 60.0f, -24.0f, 3, 1500.0f, 4.0f, 2 }, 2 },
        { "foldback, drive 100",           { 100.0f, 100.0f, 6.0f, 3, 20000.0f, 0.1f, 0 }, 2 },
        { "mono soft clip",                { 60.0f, 50.0f, 0.0f, 1, 200.0f, 5.0f, 1 }, 1 },
        { "mono foldback",                 { 90.0f, 100.0f, 0.0f, 3, 200.0f, 5.0f, 2 }, 1 },
    };

    for (const auto& c : cases)
    {
        Prepared p (c.numChannels);
        setParam (*p.proc, "drive", c.settings.drive);
        setParam (*p.proc, "mix", c.settings.mix);
        setParam (*p.proc, "output", c.settings.output);
        setParam (*p.proc, "mode", (float) c.settings.mode);
        setParam (*p.proc, "filterCutoff", c.settings.cutoff);
        setParam (*p.proc, "filterReso", c.settings.resonance);
        setParam (*p.proc, "filterType", (float) c.settings.filterType);

        ReferenceChain reference;
        reference.prepare (rate, blockSize);
        const auto settings = ReferenceChain::settingsOf (*p.proc);
        const float amplitude = c.settings.drive < 1.0f ? 1.7f : 0.8f;

        for (int block = 0; block < 4; ++block)
        {
            auto buffer = makeTestSignal (c.numChannels, blockSize, block * blockSize, amplitude);
            auto expected = buffer;
            process (*p.proc, buffer);
            reference.process (expected, settings);

            // SOFT CLIP's fast tanh differs from the exact one by a few ulp.
            EXPECT_LT (maxAbsDifference (buffer, expected, c.numChannels), c.settings.mode == 1 ? 2e-5f : 1e-6f)
                << c.name << ", block " << block;
        }
    }
}

TEST (SignalChain, MixZeroIsInputTimesOutputGain)
{
    struct Case { int mode; float drive; float output; float gain; int numChannels; };
    const Case cases[] = {
        { 0, 100.0f, -24.0f, 0.063095734f, 2 }, { 1, 50.0f, 0.0f, 1.0f, 2 },
        { 2, 100.0f, 6.0f, 1.9952623f, 2 },     { 3, 75.0f, -3.0f, 0.70794576f, 2 },
        { 3, 100.0f, 6.0f, 1.9952623f, 1 },     { 1, 0.0f, -24.0f, 0.063095734f, 1 },
    };

    for (const auto& c : cases)
    {
        Prepared p (c.numChannels);
        setParam (*p.proc, "mix", 0.0f);
        setParam (*p.proc, "mode", (float) c.mode);
        setParam (*p.proc, "drive", c.drive);
        setParam (*p.proc, "output", c.output);
        setParam (*p.proc, "filterType", 1.0f);
        setParam (*p.proc, "filterCutoff", 3000.0f);

        for (int block = 0; block < 3; ++block)
        {
            const auto input = makeTestSignal (c.numChannels, blockSize, block * blockSize);
            auto buffer = input;
            process (*p.proc, buffer);

            for (int ch = 0; ch < c.numChannels; ++ch)
                for (int i = 0; i < blockSize; ++i)
                    ASSERT_NEAR (buffer.getSample (ch, i), input.getSample (ch, i) * c.gain, 1e-6f)
                        << "mode " << c.mode << " output " << c.output;
        }
    }
}

TEST (SignalChain, SteadyInputFollowsTheDriveLawAndShapes)
{
    // A constant input settles through the oversampler and a wide-open lowpass to the
    // shaped value of the driven constant.
    struct Case { const char* name; int mode; float drive; float input; float expected; };
    const Case cases[] = {
        { "hard clip drive 0 inside",    0, 0.0f,   0.5f,    0.5f },
        { "hard clip drive 0 beyond",    0, 0.0f,   1.5f,    1.0f },
        { "hard clip drive 0 negative",  0, 0.0f,   -1.5f,   -1.0f },
        { "hard clip drive 50",          0, 50.0f,  0.01f,   0.31622776f },
        { "hard clip drive 100",         0, 100.0f, 0.0005f, 0.5f },
        { "soft clip drive 50",          1, 50.0f,  0.02f,   0.5597407f },   // tanh (0.6324555)
        { "bitcrush drive 100",          2, 100.0f, 0.0003f, 0.25f },        // 0.3 x 4 levels -> 1 / 4
        { "bitcrush drive 0",            2, 0.0f,   0.3f,    19661.0f / 65536.0f },
        { "foldback drive 0, 2.5",       3, 0.0f,   2.5f,    -0.5f },
        { "foldback drive 100, 36",      3, 100.0f, 0.1f,    36.0f },
        { "foldback drive 100, -36",     3, 100.0f, -0.1f,   -36.0f },
    };

    for (const auto& c : cases)
    {
        Prepared p;
        setParam (*p.proc, "mode", (float) c.mode);
        setParam (*p.proc, "drive", c.drive);

        juce::AudioBuffer<float> buffer (2, blockSize);
        for (int block = 0; block < 8; ++block)
        {
            for (int ch = 0; ch < 2; ++ch)
                juce::FloatVectorOperations::fill (buffer.getWritePointer (ch), c.input, blockSize);
            process (*p.proc, buffer);
        }

        const float tolerance = 2e-3f * std::max (1.0f, std::abs (c.expected));
        EXPECT_NEAR (buffer.getSample (0, blockSize - 1), c.expected, tolerance) << c.name;
        EXPECT_NEAR (buffer.getSample (1, blockSize - 1), c.expected, tolerance) << c.name;
    }
}

TEST (SignalChain, FilterChoicesMapToTheirResponses)
{
    // A constant passes a lowpass, and vanishes through a highpass or a bandpass.
    struct Case { const char* name; int type; float expected; };
    const Case cases[] = { { "LOWPASS", 0, 0.5f }, { "HIGHPASS", 1, 0.0f }, { "BANDPASS", 2, 0.0f } };

    for (const auto& c : cases)
    {
        Prepared p;
        setParam (*p.proc, "drive", 0.0f);
        setParam (*p.proc, "filterType", (float) c.type);
        setParam (*p.proc, "filterCutoff", 200.0f);

        juce::AudioBuffer<float> buffer (2, blockSize);
        for (int block = 0; block < 40; ++block)
        {
            for (int ch = 0; ch < 2; ++ch)
                juce::FloatVectorOperations::fill (buffer.getWritePointer (ch), 0.5f, blockSize);
            process (*p.proc, buffer);
        }

        EXPECT_NEAR (buffer.getSample (0, blockSize - 1), c.expected, 1e-3f) << c.name;
        EXPECT_NEAR (buffer.getSample (1, blockSize - 1), c.expected, 1e-3f) << c.name;
    }

    // A tone at the cutoff passes the bandpass with a gain of the resonance.
    Prepared p;
    setParam (*p.proc, "drive", 0.0f);
    setParam (*p.proc, "filterType", 2.0f);
    setParam (*p.proc, "filterCutoff", 1000.0f);
    setParam (*p.proc, "filterReso", 2.0f);
    juce::AudioBuffer<float> tone (2, blockSize);
    for (int block = 0; block < 20; ++block)
    {
        for (int i = 0; i < blockSize; ++i)
            for (int ch = 0; ch < 2; ++ch)
                tone.setSample (ch, i, 0.1f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 1000.0 * (block * blockSize + i) / rate));
        process (*p.proc, tone);
    }
    EXPECT_NEAR (tone.getMagnitude (0, 0, blockSize), 0.2f, 0.01f);
}

TEST (SignalChain, MonoBlockSkipsFilterAndStereoStages)
{
    Prepared p (1);
    p.proc->meterLevels.inputLeft = 0.1f;
    p.proc->meterLevels.inputRight = 0.2f;
    p.proc->meterLevels.outputLeft = 0.3f;
    p.proc->meterLevels.outputRight = 0.4f;
    p.proc->activeMask = 7;
    p.access.captureRow (0)[0] = 0.25f;
    p.access.captureRow (1)[5] = -0.25f;
    setParam (*p.proc, "glitchOn", 1.0f);
    setParam (*p.proc, "filterCutoff", 100.0f); // would be plain to see if it ran

    auto buffer = makeTestSignal (1, 300);
    process (*p.proc, buffer);

    EXPECT_EQ (p.proc->activeMask.load(), 0);
    EXPECT_EQ (p.access.captureWritePos(), 300);
    EXPECT_EQ (p.access.captureRow (0)[0], 0.25f);
    EXPECT_EQ (p.access.captureRow (1)[5], -0.25f);
    EXPECT_EQ (p.proc->meterLevels.inputLeft.load(), 0.1f);
    EXPECT_EQ (p.proc->meterLevels.inputRight.load(), 0.2f);
    EXPECT_EQ (p.proc->meterLevels.outputLeft.load(), 0.3f);
    EXPECT_EQ (p.proc->meterLevels.outputRight.load(), 0.4f);

    // The scope holds the one channel's samples; the last 256 of the block.
    EXPECT_EQ (p.access.scopeWriteIndex(), 300 % 256);
    for (int i = 300 - 256; i < 300; ++i)
        ASSERT_EQ (p.proc->scopeBuffer.samples[(size_t) (i % 256)].load(), buffer.getSample (0, i));

    // Not filtered: the plain chain without its filter gives the same.
    ReferenceChain reference;
    reference.prepare (rate, blockSize);
    auto expected = makeTestSignal (1, 300);
    reference.process (expected, ReferenceChain::settingsOf (*p.proc));
    EXPECT_LT (maxAbsDifference (buffer, expected, 1), 1e-6f);
}

TEST (SignalChain, GlitchOffRecordsTheOutputIntoTheCaptureRing)
{
    Prepared p;
    p.proc->activeMask = 9;
    p.access.captureWritePos() = BrellDistortionProcessor::captureLength - 100; // wraps inside the block

    auto buffer = makeTestSignal (2, 300);
    process (*p.proc, buffer);

    EXPECT_EQ (p.proc->activeMask.load(), 0);
    EXPECT_EQ (p.access.captureWritePos(), 200);

    for (int i = 0; i < 300; ++i)
    {
        const int slot = (BrellDistortionProcessor::captureLength - 100 + i) % BrellDistortionProcessor::captureLength;
        ASSERT_EQ (p.access.captureRow (0)[slot], buffer.getSample (0, i));
        ASSERT_EQ (p.access.captureRow (1)[slot], buffer.getSample (1, i));
    }
    EXPECT_EQ (p.access.captureRow (0)[199], buffer.getSample (0, 299));
}

TEST (SignalChain, MetersAndScopeOfAStereoBlock)
{
    Prepared p (2, rate, 1000);
    setParam (*p.proc, "mix", 0.0f);
    setParam (*p.proc, "output", -6.0f);
    p.access.scopeWriteIndex() = 200;

    const auto input = makeTestSignal (2, 1000);
    auto buffer = input;
    process (*p.proc, buffer);

    EXPECT_FLOAT_EQ (p.proc->meterLevels.inputLeft.load(), input.getRMSLevel (0, 0, 1000));
    EXPECT_FLOAT_EQ (p.proc->meterLevels.inputRight.load(), input.getRMSLevel (1, 0, 1000));
    EXPECT_FLOAT_EQ (p.proc->meterLevels.outputLeft.load(), buffer.getRMSLevel (0, 0, 1000));
    EXPECT_FLOAT_EQ (p.proc->meterLevels.outputRight.load(), buffer.getRMSLevel (1, 0, 1000));
    EXPECT_NEAR (p.proc->meterLevels.outputLeft.load() / p.proc->meterLevels.inputLeft.load(), 0.5011872f, 1e-5f);

    // 1000 slots written from 200: the last sample lands in (200 + 999) mod 256.
    EXPECT_EQ (p.access.scopeWriteIndex(), (200 + 1000) % 256);
    EXPECT_EQ (p.proc->scopeBuffer.samples[(size_t) ((200 + 999) % 256)].load(),
               (buffer.getSample (0, 999) + buffer.getSample (1, 999)) / 2.0f);
    for (int i = 1000 - 256; i < 1000; ++i)
        ASSERT_EQ (p.proc->scopeBuffer.samples[(size_t) ((200 + i) % 256)].load(),
                   (buffer.getSample (0, i) + buffer.getSample (1, i)) / 2.0f);
}

TEST (SignalChain, ZeroLengthBlock)
{
    Prepared p;
    p.proc->meterLevels.inputLeft = 0.5f;
    p.proc->meterLevels.outputRight = 0.5f;
    p.proc->scopeBuffer.samples[3] = 0.75f;
    p.access.scopeWriteIndex() = 3;
    p.access.stepAccumulator() = 10.0;

    juce::AudioBuffer<float> buffer (2, 0);
    process (*p.proc, buffer);

    EXPECT_EQ (p.proc->meterLevels.inputLeft.load(), 0.0f);
    EXPECT_EQ (p.proc->meterLevels.inputRight.load(), 0.0f);
    EXPECT_EQ (p.proc->meterLevels.outputLeft.load(), 0.0f);
    EXPECT_EQ (p.proc->meterLevels.outputRight.load(), 0.0f);
    EXPECT_EQ (p.access.scopeWriteIndex(), 3);
    EXPECT_EQ (p.proc->scopeBuffer.samples[3].load(), 0.75f);
    EXPECT_EQ (p.access.stepAccumulator(), 10.0); // the sequencer ran with no samples
}

TEST (SignalChain, BlockBeforePrepareIsUndrivenAndUnshaped)
{
    BrellDistortionProcessor proc;
    BrellDistortionProcessorTestAccess access (proc);
    setParam (proc, "drive", 100.0f);
    setParam (proc, "mode", 0.0f);
    setParam (proc, "filterCutoff", 5000.0f);

    // Unprepared, only the filter (in its constructed state), mix and output act.
    ReferenceChain reference;
    const auto settings = ReferenceChain::settingsOf (proc);

    for (int block = 0; block < 3; ++block)
    {
        auto buffer = makeTestSignal (2, 1500, block * 1500, 0.5f, 44100.0);
        auto expected = buffer;
        process (proc, buffer);
        reference.process (expected, settings);
        EXPECT_LT (maxAbsDifference (buffer, expected, 2), 1e-6f);
    }

    // The drive does not act at all: at drive 0 the output is the same.
    BrellDistortionProcessor undriven;
    setParam (undriven, "drive", 0.0f);
    setParam (undriven, "filterCutoff", 5000.0f);
    BrellDistortionProcessor driven;
    setParam (driven, "drive", 100.0f);
    setParam (driven, "filterCutoff", 5000.0f);
    auto a = makeTestSignal (2, 700, 0, 0.5f, 44100.0);
    auto b = a;
    process (undriven, a);
    process (driven, b);
    EXPECT_EQ (maxAbsDifference (a, b, 2), 0.0f);

    EXPECT_EQ (access.sampleRate(), 44100.0);
    EXPECT_EQ (access.captureWritePos(), 4500);
}

TEST (SignalChain, PlayHeadWithoutPositionHoldsTheSequencer)
{
    Prepared p;
    p.proc->currentStep = 5;
    p.access.lastStep() = 5;
    p.access.stepAccumulator() = 100.0;

    SilentPlayHead silent;
    p.proc->setPlayHead (&silent);
    auto buffer = makeTestSignal (2, 256);
    process (*p.proc, buffer);

    EXPECT_EQ (p.proc->currentStep.load(), 5);
    EXPECT_EQ (p.access.lastStep(), 5);
    EXPECT_EQ (p.access.stepAccumulator(), 100.0);

    // Without any play head the steps run on by themselves.
    p.proc->setPlayHead (nullptr);
    process (*p.proc, buffer);
    EXPECT_EQ (p.access.stepAccumulator(), 356.0);
}

TEST (SignalChain, PrepareResetsItsListAndLeavesTheRest)
{
    Prepared p (2, 44100.0, 256);
    auto& proc = *p.proc;

    auto buffer = makeTestSignal (2, 256);
    for (int i = 0; i < 4; ++i)
        process (proc, buffer);

    proc.currentStep = 7;
    proc.activeMask = 3;
    proc.meterLevels.outputLeft = 0.6f;
    proc.scopeBuffer.samples[10] = 0.125f;
    p.access.scopeWriteIndex() = 99;    // four blocks of 256 would have left it at 0 anyway
    proc.glitchPattern.set (2, 4, 3);
    p.access.bpm() = 90.0;
    p.access.lastStep() = 7;
    p.access.stepAccumulator() = 321.0;
    p.access.tapeSpeed() = 0.3f;
    p.access.gateCounter() = 12;
    p.access.gateOpen() = false;
    p.access.stutterLength() = 1234;
    p.access.crushBits() = 5.0f;
    p.access.gateLength() = 99;
    p.access.tapePosition() = 17.0f;
    p.access.reversePos() = 41;
    p.access.stutterReadPos() = 42;

    proc.prepareToPlay (48000.0, 512);

    EXPECT_EQ (p.access.sampleRate(), 48000.0);
    EXPECT_EQ (p.access.samplesPerStep(), 6000.0);
    EXPECT_EQ (p.access.bpm(), 120.0);
    EXPECT_EQ (p.access.lastStep(), -1);
    EXPECT_EQ (p.access.stepAccumulator(), 0.0);
    EXPECT_EQ (p.access.captureWritePos(), 0);
    EXPECT_EQ (p.access.scopeWriteIndex(), 0);
    EXPECT_EQ (p.access.tapeSpeed(), 1.0f);
    EXPECT_EQ (p.access.gateCounter(), 0);
    EXPECT_TRUE (p.access.gateOpen());
    for (int row = 0; row < 2; ++row)
        for (int i = 0; i < BrellDistortionProcessor::captureLength; ++i)
            ASSERT_EQ (p.access.captureRow (row)[i], 0.0f);

    EXPECT_EQ (proc.currentStep.load(), 7);
    EXPECT_EQ (proc.activeMask.load(), 3);
    EXPECT_EQ (proc.meterLevels.outputLeft.load(), 0.6f);
    EXPECT_EQ (proc.scopeBuffer.samples[10].load(), 0.125f);
    EXPECT_EQ (proc.glitchPattern.get (2, 4), 3);
    EXPECT_EQ (p.access.stutterLength(), 1234);
    EXPECT_EQ (p.access.crushBits(), 5.0f);
    EXPECT_EQ (p.access.gateLength(), 99);
    EXPECT_EQ (p.access.tapePosition(), 17.0f);
    EXPECT_EQ (p.access.reversePos(), 41);
    EXPECT_EQ (p.access.stutterReadPos(), 42);

    Prepared at44k (2, 44100.0, 512);
    EXPECT_EQ (at44k.access.samplesPerStep(), 5512.5);
}

TEST (SignalChain, ReleaseClearsStateAndStaysReady)
{
    Prepared used, fresh;
    for (auto* proc : { used.proc.get(), fresh.proc.get() })
        setParam (*proc, "filterCutoff", 900.0f);

    auto noise = makeTestSignal (2, blockSize, 0, 0.9f);
    process (*used.proc, noise);
    used.proc->releaseResources();

    auto a = makeTestSignal (2, blockSize, 4096);
    auto b = a;
    process (*used.proc, a);
    process (*fresh.proc, b);

    EXPECT_LT (maxAbsDifference (a, b, 2), 1e-7f);
    EXPECT_GT (a.getMagnitude (0, 0, blockSize), 0.5f); // still driven: the oversampler stayed ready
}

//==============================================================================
// Inputs outside the host contract get a sound answer.

TEST (SignalChainRobustness, CutoffAboveHalfTheRateStaysFinite)
{
    Prepared p (2, 32000.0, blockSize);
    setParam (*p.proc, "filterCutoff", 20000.0f);
    setParam (*p.proc, "filterReso", 10.0f);

    ReferenceChain reference;
    reference.prepare (32000.0, blockSize);
    const auto settings = ReferenceChain::settingsOf (*p.proc);

    for (int block = 0; block < 20; ++block)
    {
        auto buffer = makeTestSignal (2, blockSize, block * blockSize, 0.8f, 32000.0);
        auto expected = buffer;
        process (*p.proc, buffer);
        reference.process (expected, settings); // the filters set at 0.49 x the rate
        ASSERT_TRUE (allFinite (buffer)) << "block " << block;
        ASSERT_LT (maxAbsDifference (buffer, expected, 2), 1e-5f);
    }
}

TEST (SignalChainRobustness, NonFiniteParameterValuesReadAsDefaults)
{
    const char* ids[] = { "drive", "mix", "output", "mode", "filterCutoff", "filterReso", "filterType", "glitchOn" };
    const float bad[] = { std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity() };

    for (const auto* id : ids)
        for (float value : bad)
        {
            Prepared defaults, broken;
            broken.proc->apvts.getRawParameterValue (id)->store (value);

            for (int block = 0; block < 3; ++block)
            {
                auto a = makeTestSignal (2, blockSize, block * blockSize);
                auto b = a;
                process (*defaults.proc, a);
                process (*broken.proc, b);
                ASSERT_TRUE (allFinite (b)) << id << " = " << value;
                ASSERT_EQ (maxAbsDifference (a, b, 2), 0.0f) << id << " = " << value;
            }
            EXPECT_TRUE (std::isfinite (broken.proc->meterLevels.outputLeft.load()));
        }
}

TEST (SignalChainRobustness, OverLongBlockGivesTheSameOutputInPieces)
{
    for (int numChannels : { 1, 2 })
        for (int mode = 0; mode < 4; ++mode)
        {
            Prepared small (numChannels, rate, 128), large (numChannels, rate, 2048);
            for (auto* proc : { small.proc.get(), large.proc.get() })
            {
                setParam (*proc, "mode", (float) mode);
                setParam (*proc, "filterCutoff", 3000.0f);
                setParam (*proc, "mix", 70.0f);
            }

            for (int block = 0; block < 3; ++block)
            {
                const int length = 1000 + 37 * block;
                auto a = makeTestSignal (numChannels, length, block * 1200);
                auto b = a;
                process (*small.proc, a);
                process (*large.proc, b);
                ASSERT_EQ (maxAbsDifference (a, b, numChannels), 0.0f) << "mode " << mode << " channels " << numChannels;
            }

            // Meters cover the whole host block; the scope and capture ring match too.
            EXPECT_EQ (small.proc->meterLevels.outputLeft.load(), large.proc->meterLevels.outputLeft.load());
            EXPECT_EQ (small.proc->meterLevels.inputRight.load(), large.proc->meterLevels.inputRight.load());
            EXPECT_EQ (small.access.scopeWriteIndex(), large.access.scopeWriteIndex());
            EXPECT_EQ (small.access.captureWritePos(), large.access.captureWritePos());
            for (size_t i = 0; i < ScopeBuffer::size; ++i)
                ASSERT_EQ (small.proc->scopeBuffer.samples[i].load(), large.proc->scopeBuffer.samples[i].load());
            EXPECT_EQ (small.access.stepAccumulator(), large.access.stepAccumulator());
        }
}

TEST (SignalChainRobustness, ExtraChannelsAreLeftAlone)
{
    Prepared four, two;
    auto wide = makeTestSignal (4, blockSize);
    auto pair = makeTestSignal (2, blockSize);
    const auto original = wide;

    process (*four.proc, wide);
    process (*two.proc, pair);

    EXPECT_EQ (maxAbsDifference (wide, pair, 2), 0.0f);
    for (int ch = 2; ch < 4; ++ch)
        for (int i = 0; i < blockSize; ++i)
            ASSERT_EQ (wide.getSample (ch, i), original.getSample (ch, i));
    for (size_t i = 0; i < ScopeBuffer::size; ++i)
        ASSERT_EQ (four.proc->scopeBuffer.samples[i].load(), two.proc->scopeBuffer.samples[i].load());
}

TEST (SignalChainRobustness, BufferWithoutChannelsIsIgnored)
{
    Prepared p;
    p.proc->activeMask = 2;
    p.access.scopeWriteIndex() = 9;

    juce::AudioBuffer<float> empty (0, 64);
    process (*p.proc, empty);

    EXPECT_EQ (p.proc->activeMask.load(), 2);
    EXPECT_EQ (p.access.scopeWriteIndex(), 9);
    EXPECT_EQ (p.access.captureWritePos(), 0);
}

TEST (SignalChainRobustness, InvalidRateKeepsTheLastValidOne)
{
    Prepared p (2, 48000.0, 512);

    for (double badRate : { 0.0, -44100.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity() })
    {
        p.proc->prepareToPlay (badRate, 256);
        EXPECT_EQ (p.access.sampleRate(), 48000.0);
        EXPECT_EQ (p.access.samplesPerStep(), 6000.0);

        auto buffer = makeTestSignal (2, 256);
        process (*p.proc, buffer);
        EXPECT_TRUE (allFinite (buffer));
    }
}

TEST (SignalChainRobustness, NonPositiveBlockSizeStillProcesses)
{
    Prepared p (2, 48000.0, 0);
    auto buffer = makeTestSignal (2, 300);
    process (*p.proc, buffer);
    EXPECT_TRUE (allFinite (buffer));
    EXPECT_EQ (p.access.captureWritePos(), 300);
}
