#include "BrellDistortionProcessor.h"
#include "EngineTestHelpers.h"
#include "ProcessorTestAccess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <ostream>
#include <limits>
#include <memory>
#include <vector>

namespace
{
constexpr int ring = BrellDistortionProcessor::captureLength;
constexpr int rowStutter = 0, rowTape = 1, rowCrush = 2, rowReverse = 3, rowGate = 4;

class GlitchEffects : public ::testing::Test
{
protected:
    std::unique_ptr<BrellDistortionProcessor> proc = std::make_unique<BrellDistortionProcessor>();
    BrellDistortionProcessorTestAccess access { *proc };

    // Rows whose block covers step 0 sound before the sequencer's first step.
    void sound (std::initializer_list<int> rows)
    {
        for (int row = 0; row < 5; ++row)
            proc->glitchPattern.set (row, 0, 0);

        for (auto row : rows)
            proc->glitchPattern.set (row, 0, 16);
    }

    void setChaos (float value)
    {
        auto* raw = proc->apvts.getRawParameterValue ("glitchChaos");
        ASSERT_NE (raw, nullptr);
        raw->store (value);
    }

    // Runs one block; right carries the negated left so the channels can be told apart.
    std::vector<float> run (std::vector<float> left)
    {
        std::vector<float> right (left.size());
        for (size_t i = 0; i < left.size(); ++i)
            right[i] = -left[i];

        access.processGlitch (left.data(), right.data(), (int) left.size());

        for (size_t i = 0; i < left.size(); ++i)
            EXPECT_EQ (right[i], -left[i]) << "channels diverged at " << i;

        return left;
    }

    // A ramp whose value names the running sample number, so read-backs can be traced.
    std::vector<float> ramp (int n)
    {
        std::vector<float> v ((size_t) n);
        for (auto& x : v)
            x = (float) ++samplesFed;
        return v;
    }

    int samplesFed = 0;
};

TEST_F (GlitchEffects, NoRowPassesTheSignalAndRecordsIt)
{
    access.captureWritePos() = ring - 3; // the record wraps the ring's end
    const auto in = ramp (10);
    const auto out = run (in);

    EXPECT_EQ (out, in);
    EXPECT_EQ (proc->activeMask.load(), 0);
    EXPECT_EQ (access.captureWritePos(), 7);

    for (int i = 0; i < 10; ++i)
    {
        const auto slot = (ring - 3 + i) % ring;
        EXPECT_EQ (access.captureRow (0)[slot], in[(size_t) i]);
        EXPECT_EQ (access.captureRow (1)[slot], -in[(size_t) i]);
    }
}

TEST_F (GlitchEffects, ActiveMaskBeforeTheFirstStepAndForEmptyBlocks)
{
    sound ({ rowGate });
    float unused = 0.0f;
    access.processGlitch (&unused, &unused, 0);
    EXPECT_EQ (proc->activeMask.load(), 16);

    // GATE runs with its construction half period of 800 samples.
    const auto out = run (std::vector<float> (2000, 1.0f));
    for (int i = 0; i < 2000; ++i)
        EXPECT_EQ (out[(size_t) i], (i >= 799 && i < 1599) ? 0.0f : 1.0f) << i;
}

TEST_F (GlitchEffects, StutterStartsItsLengthBehindTheWriteSlot)
{
    access.captureWritePos() = 50;
    access.triggerGlitch (rowStutter);

    const auto length = access.stutterLength();
    EXPECT_EQ (access.stutterReadPos(), (50 - length + ring) % ring);
    EXPECT_EQ (access.stutterStartPos(), access.stutterReadPos());
}

TEST_F (GlitchEffects, StutterRepeatsTheWindowBeforeItsStart)
{
    run (ramp (5000));
    access.triggerGlitch (rowStutter);
    const auto length = access.stutterLength();
    const auto start = access.stutterReadPos();
    sound ({ rowStutter });

    // Several blocks, so the repeat also holds across block boundaries.
    std::vector<float> out;
    for (int block = 0; block < 7; ++block)
    {
        const auto part = run (ramp (length / 2 + 1));
        out.insert (out.end(), part.begin(), part.end());
    }

    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ (out[i], (float) (5001 - length + (int) (i % (size_t) length))) << i;

    EXPECT_EQ (access.stutterStartPos(), start);
}

TEST_F (GlitchEffects, StutterKeepsItsWindowWhileItDoesNotSound)
{
    // As when the start fell in blocks that skipped the stage: the ring records a whole lap
    // before the row is first heard, and the row still plays what came before its start.
    run (ramp (5000));
    access.triggerGlitch (rowStutter);
    const auto length = access.stutterLength();
    run (ramp (ring));

    sound ({ rowStutter });
    const auto out = run (ramp (3 * length));
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ (out[i], (float) (5001 - length + (int) (i % (size_t) length))) << i;
}

TEST_F (GlitchEffects, AfterPrepareStutterRepeatsWhatItsFirstPassRead)
{
    run (ramp (5000));
    access.triggerGlitch (rowStutter);
    const auto length = access.stutterLength();
    const auto start = access.stutterStartPos();
    sound ({ rowStutter });
    run (ramp (length / 2)); // leaves the read slot halfway through the window

    // Preparing clears the ring, so the window held before is gone; the row, sounding again
    // without a start, reads the new recording once and then repeats it for more than a lap.
    proc->prepareToPlay (44100.0, 512);
    sound ({});
    const auto firstAfterPrepare = (float) (samplesFed + 1);
    run (ramp (6000));

    sound ({ rowStutter });
    const auto out = run (ramp (ring + 8000));
    for (size_t i = 0; i < out.size(); ++i)
    {
        const auto offset = (length / 2 + (int) i) % length;
        ASSERT_EQ (out[i], firstAfterPrepare + (float) (start + offset)) << i;
    }
}

TEST_F (GlitchEffects, StutterLongerThanItsWindowBufferStillPlaysTheRing)
{
    // Never prepared, so the window buffer is sized for 44.1 kHz; a start at a higher rate can draw more.
    access.sampleRate() = 192000.0;
    setChaos (0.0f);
    run (ramp (20000));

    do
        access.triggerGlitch (rowStutter);
    while (access.stutterLength() <= access.stutterWindow().getNumSamples());

    const auto length = access.stutterLength();
    sound ({ rowStutter });
    const auto out = run (ramp (2 * length));
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ (out[i], (float) (20001 - length + (int) (i % (size_t) length))) << i;
}

TEST_F (GlitchEffects, ReverseStartsFromTheNewestSample)
{
    run (ramp (ring)); // leaves the write slot at 0
    ASSERT_EQ (access.captureWritePos(), 0);

    access.triggerGlitch (rowReverse);
    EXPECT_EQ (access.reversePos(), ring - 1);

    sound ({ rowReverse });
    const auto out = run (ramp (1000));
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ (out[(size_t) i], (float) (ring - i)) << i;
}

TEST_F (GlitchEffects, ReversePlaysWhatItsStartRecordedAfterTheCrossing)
{
    run (ramp (1000));
    access.triggerGlitch (rowReverse);
    sound ({ rowReverse });
    const auto out = run (ramp (ring));

    EXPECT_EQ (out[999], 1.0f);                   // the oldest sample before the start
    EXPECT_EQ (out[1000], 0.0f);                  // then what the ring held before anything was fed
    EXPECT_EQ (out[(size_t) ring - 1], 1001.0f);  // at the end, the first sample written after the start
}

struct CrushCase
{
    float bits, in, out;
};

class CrushRounding : public GlitchEffects, public ::testing::WithParamInterface<CrushCase> {};

TEST_P (CrushRounding, HalvesGoAwayFromZero)
{
    sound ({ rowCrush });
    access.crushBits() = GetParam().bits;
    EXPECT_EQ (run ({ GetParam().in })[0], GetParam().out);
}

INSTANTIATE_TEST_SUITE_P (Table, CrushRounding, ::testing::Values (
    CrushCase { 1.0f, 0.25f, 0.5f },
    CrushCase { 1.0f, -0.25f, -0.5f },
    CrushCase { 1.0f, 0.2f, 0.0f },
    CrushCase { 1.0f, -0.2f, 0.0f },
    CrushCase { 1.0f, 0.75f, 1.0f },
    CrushCase { 1.0f, 1.3f, 1.5f },
    CrushCase { 3.0f, 0.0625f, 0.125f },
    CrushCase { 3.0f, -0.3f, -0.25f },
    CrushCase { 4.0f, -0.03125f, -0.0625f }),
    [] (const ::testing::TestParamInfo<CrushCase>& testCase)
    {
        using enginetest::namePart;
        return "bits" + namePart (testCase.param.bits) + "_" + namePart (testCase.param.in) + "_to_" + namePart (testCase.param.out);
    });

TEST_F (GlitchEffects, CrushMatchesLibraryRoundingBitForBit)
{
    sound ({ rowCrush });

    for (float bits : { 1.0f, 3.0f, 4.7f, 7.99f })
    {
        access.crushBits() = bits;
        const auto levels = std::exp2 (bits);

        // Halves, near-halves, signed zeros, large values and the special ones.
        std::vector<float> in { 0.0f, -0.0f, 1.0e-30f, -1.0e-30f, 3.0e7f, -3.0e7f, 1.0e38f,
                                std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity() };
        for (int k = -600; k <= 600; ++k)
        {
            const auto half = (k + 0.5f) / levels;
            in.insert (in.end(), { half, std::nextafter (half, 0.0f), std::nextafter (half, 2.0f * half), k * 0.00173f });
        }

        const auto out = run (in);
        for (size_t i = 0; i < in.size(); ++i)
        {
            const auto expected = std::round (levels * in[i]) / levels;
            ASSERT_EQ (out[i], expected) << bits << " " << in[i];
            ASSERT_EQ (std::signbit (out[i]), std::signbit (expected)) << bits << " " << in[i];
        }
    }
}

TEST_F (GlitchEffects, GatePassesThenMutesEachHalfPeriod)
{
    access.triggerGlitch (rowGate);
    access.gateLength() = 50;
    sound ({ rowGate });

    const auto out = run (std::vector<float> (300, 1.0f));
    for (int n = 1; n <= 300; ++n) // n counts samples from the start, from 1
        EXPECT_EQ (out[(size_t) n - 1], (n / 50) % 2 == 1 ? 0.0f : 1.0f) << n;
}

TEST_F (GlitchEffects, GateAndCrushTogether)
{
    sound ({ rowCrush, rowGate });
    access.crushBits() = 1.0f;
    access.gateLength() = 4;
    access.gateCounter() = 0;
    access.gateOpen() = true;

    const auto out = run (std::vector<float> (10, 0.3f));
    const std::vector<float> expected { 0.5f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f, 0.5f, 0.5f, 0.5f };
    EXPECT_EQ (out, expected);
}

struct TapeCase
{
    float chaos;
    int halfSpeedSample, floorSample; // counted from the start, from 1
};

class TapeStopEnvelope : public GlitchEffects, public ::testing::WithParamInterface<TapeCase> {};

TEST_P (TapeStopEnvelope, FadesAndReachesTheFloor)
{
    setChaos (GetParam().chaos);
    run (std::vector<float> (ring, 1.0f));
    access.triggerGlitch (rowTape);
    sound ({ rowTape });

    const auto out = run (std::vector<float> (30000, 1.0f));

    int firstFaded = 0, firstAtFloor = 0;
    for (int n = 1; n <= 30000; ++n)
    {
        const auto v = out[(size_t) n - 1];
        if (firstFaded == 0 && v < 1.0f)
            firstFaded = n;
        if (firstAtFloor == 0 && juce::exactlyEqual (v, 2.0f * 0.001f))
            firstAtFloor = n;
    }

    EXPECT_EQ (firstFaded, GetParam().halfSpeedSample);
    EXPECT_EQ (firstAtFloor, GetParam().floorSample);
    EXPECT_EQ (access.tapeSpeed(), 0.001f);
}

INSTANTIATE_TEST_SUITE_P (Chaos, TapeStopEnvelope, ::testing::Values (
    TapeCase { 0.0f, 2311, 23024 },
    TapeCase { 50.0f, 1260, 12557 },
    TapeCase { 100.0f, 867, 8632 }),
    [] (const ::testing::TestParamInfo<TapeCase>& testCase) { return "chaos" + enginetest::namePart (testCase.param.chaos); });

TEST_F (GlitchEffects, TapeStopFallsBehindTheLiveSignal)
{
    run (ramp (3000));
    access.triggerGlitch (rowTape);
    sound ({ rowTape });

    const auto in = ramp (4000);
    const auto out = run (in);

    EXPECT_EQ (out[0], in[0]); // starts on the live signal

    // Divide the fade out again: what remains is the sample the tape is reading.
    float speed = 1.0f, travel = 0.0f, previous = 0.0f;
    for (size_t i = 0; i < out.size(); ++i)
    {
        speed = std::max (speed * (0.9997f - 0.5f * 0.0005f), 0.001f);
        travel += speed;
        const auto read = (float) (3001 + (int) travel);
        ASSERT_EQ (out[i], std::min (2.0f * speed, 1.0f) * read) << i;
        ASSERT_LE (read, in[i]);
        ASSERT_GE (read, previous);
        previous = read;
    }

    EXPECT_LT (previous, in.back() - 1000.0f); // well behind by now
}

TEST_F (GlitchEffects, TapeStopFollowsAChaosChangeAtOnce)
{
    setChaos (0.0f);
    access.triggerGlitch (rowTape);
    sound ({ rowTape });
    run (std::vector<float> (100, 0.0f));
    const auto slowFall = access.tapeSpeed();

    setChaos (100.0f);
    run (std::vector<float> (1, 0.0f));
    EXPECT_EQ (access.tapeSpeed(), slowFall * (0.9997f - 1.0f * 0.0005f));
}

TEST_F (GlitchEffects, TapeStopUnderReverseKeepsFalling)
{
    run (ramp (500));
    access.triggerGlitch (rowTape);
    access.triggerGlitch (rowReverse);
    sound ({ rowTape, rowReverse });

    const auto out = run (ramp (100));
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ (out[(size_t) i], (float) (500 - i));

    EXPECT_LT (access.tapeSpeed(), 1.0f);
    EXPECT_GT (access.tapePosition(), 90.0f);
}

TEST_F (GlitchEffects, AllRowsTogetherStayFiniteAndInsideTheRing)
{
    sound ({ rowStutter, rowTape, rowCrush, rowReverse, rowGate });
    for (int row = 0; row < 5; ++row)
        access.triggerGlitch (row);

    for (int block = 0; block < 400; ++block)
    {
        for (auto v : run (ramp (512)))
            ASSERT_TRUE (std::isfinite (v));

        ASSERT_GE (access.captureWritePos(), 0);
        ASSERT_LT (access.captureWritePos(), ring);
        ASSERT_GE (access.stutterReadPos(), 0);
        ASSERT_LT (access.stutterReadPos(), ring);
        ASSERT_GE (access.reversePos(), 0);
        ASSERT_LT (access.reversePos(), ring);
    }

    EXPECT_EQ (proc->activeMask.load(), 31);
}

TEST_F (GlitchEffects, SlotsOutsideTheRingAreFoldedBack)
{
    sound ({ rowStutter, rowTape, rowReverse });
    access.captureWritePos() = -7;
    access.stutterReadPos() = 3 * ring + 5;
    access.stutterStartPos() = -1;
    access.reversePos() = std::numeric_limits<int32_t>::min();
    access.tapeStartPos() = std::numeric_limits<int32_t>::max();
    access.tapePosition() = std::numeric_limits<float>::quiet_NaN();

    for (auto v : run (ramp (64)))
        EXPECT_TRUE (std::isfinite (v));

    EXPECT_EQ (access.captureWritePos(), (ring - 7 + 64) % ring);
}

//==============================================================================
struct RangeCase
{
    double sampleRate;
    float chaos;
    int stutterHigh, gateHigh;
    float crushEnd;
};

class StartRanges : public GlitchEffects, public ::testing::WithParamInterface<RangeCase> {};

TEST_P (StartRanges, DrawsFollowTheGeneratorWithinBounds)
{
    const auto& p = GetParam();
    access.sampleRate() = p.sampleRate;
    setChaos (p.chaos);

    access.random().setSeed (987654321);
    juce::Random reference (987654321);

    int stutterMin = 1 << 30, stutterMax = 0, gateMin = 1 << 30, gateMax = 0;
    float crushMin = 100.0f, crushMax = 0.0f;

    for (int i = 0; i < 5000; ++i)
    {
        for (int row = 0; row < 5; ++row)
            access.triggerGlitch (row);

        ASSERT_EQ (access.stutterLength(), reference.nextInt (p.stutterHigh + 1 - 100) + 100);
        ASSERT_EQ (access.crushBits(), reference.nextFloat() * ((1.0f - p.chaos / 100.0f) * 6.0f + 1.0f) + 1.0f);
        ASSERT_EQ (access.gateLength(), reference.nextInt (p.gateHigh + 1 - 50) + 50);

        stutterMin = std::min (stutterMin, access.stutterLength());
        stutterMax = std::max (stutterMax, access.stutterLength());
        gateMin = std::min (gateMin, access.gateLength());
        gateMax = std::max (gateMax, access.gateLength());
        crushMin = std::min (crushMin, access.crushBits());
        crushMax = std::max (crushMax, access.crushBits());
    }

    EXPECT_GE (stutterMin, 100);
    EXPECT_LE (stutterMax, p.stutterHigh);
    EXPECT_GE (gateMin, 50);
    EXPECT_LE (gateMax, p.gateHigh);
    EXPECT_GE (crushMin, 1.0f);
    EXPECT_LT (crushMax, p.crushEnd);
    EXPECT_GT (crushMax, p.crushEnd - 0.1f * (p.crushEnd - 1.0f)); // the range is used, not just bounded
}

INSTANTIATE_TEST_SUITE_P (Table, StartRanges, ::testing::Values (
    RangeCase { 44100.0, 0.0f, 3527, 1813, 8.0f },
    RangeCase { 44100.0, 50.0f, 2115, 1195, 5.0f },
    RangeCase { 44100.0, 100.0f, 704, 578, 2.0f },
    RangeCase { 48000.0, 0.0f, 3839, 1969, 8.0f },
    RangeCase { 48000.0, 100.0f, 766, 625, 2.0f }),
    [] (const ::testing::TestParamInfo<RangeCase>& testCase)
    {
        using enginetest::namePart;
        return namePart (testCase.param.sampleRate) + "Hz_chaos" + namePart (testCase.param.chaos);
    });

TEST_F (GlitchEffects, ChaosOutsideItsRangeCountsAsTheDefault)
{
    for (float bad : { std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), -5.0f, 250.0f })
    {
        setChaos (bad);
        access.random().setSeed (42);
        juce::Random reference (42);

        access.triggerGlitch (rowStutter);
        access.triggerGlitch (rowCrush);
        access.triggerGlitch (rowGate);

        EXPECT_EQ (access.stutterLength(), reference.nextInt (2116 - 100) + 100) << bad;
        EXPECT_EQ (access.crushBits(), reference.nextFloat() * 4.0f + 1.0f) << bad;
        EXPECT_EQ (access.gateLength(), reference.nextInt (1146) + 50) << bad;

        // TAPE STOP falls at the default rate too.
        access.triggerGlitch (rowTape);
        sound ({ rowTape });
        run ({ 0.0f });
        EXPECT_EQ (access.tapeSpeed(), 0.9997f - 0.5f * 0.0005f) << bad;
    }
}

TEST_F (GlitchEffects, StutterFitsTheRingAtAnySampleRate)
{
    for (double rate : { 2.0e6, 1.0e12, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(), -48000.0, 0.0 })
    {
        access.sampleRate() = rate;
        for (int i = 0; i < 200; ++i)
        {
            access.triggerGlitch (rowStutter);
            access.triggerGlitch (rowGate);
            ASSERT_GE (access.stutterLength(), 100) << rate;
            ASSERT_LT (access.stutterLength(), ring) << rate;
            ASSERT_GE (access.stutterReadPos(), 0) << rate;
            ASSERT_LT (access.stutterReadPos(), ring) << rate;
            ASSERT_GE (access.gateLength(), 50) << rate;
        }
    }
}

TEST_F (GlitchEffects, UnknownRowsChangeNothing)
{
    access.random().setSeed (7);
    juce::Random reference (7);

    access.triggerGlitch (-1);
    access.triggerGlitch (5);

    EXPECT_EQ (access.stutterLength(), 2000);
    EXPECT_EQ (access.random().nextInt (1000000), reference.nextInt (1000000));
}
} // namespace

//==============================================================================
// Through processBlock: the stage runs only with the switch on and two channels, yet starts happen regardless.
namespace
{
class PlayingAtSongStart : public juce::AudioPlayHead
{
public:
    juce::Optional<PositionInfo> getPosition() const override
    {
        PositionInfo info;
        info.setIsPlaying (true);
        info.setBpm (120.0);
        info.setPpqPosition (0.0);
        return info;
    }
};

void setParameter (BrellDistortionProcessor& proc, const char* id, float value)
{
    auto* parameter = proc.apvts.getParameter (id);
    ASSERT_NE (parameter, nullptr) << id;
    parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
}

juce::AudioBuffer<float> sineBlock (int channels, int samples)
{
    juce::AudioBuffer<float> buffer (channels, samples);
    for (int ch = 0; ch < channels; ++ch)
        for (int i = 0; i < samples; ++i)
            buffer.setSample (ch, i, 0.5f * (float) std::sin (0.05 * (i + 1) * (ch + 1)));
    return buffer;
}

// A playing transport at a fixed tempo whose song position moves on with every block it is told of.
class RunningTransport final : public juce::AudioPlayHead
{
public:
    RunningTransport (double rateIn, double bpmIn, double ppqStartIn) : rate (rateIn), bpm (bpmIn), ppqStart (ppqStartIn) {}

    juce::Optional<PositionInfo> getPosition() const override
    {
        PositionInfo info;
        info.setIsPlaying (true);
        info.setBpm (bpm);
        info.setPpqPosition (ppqStart + (double) samples * bpm / (60.0 * rate));
        return info;
    }

    void advance (int numSamples) { samples += numSamples; }

private:
    double rate, bpm, ppqStart;
    juce::int64 samples = 0;
};

constexpr int hostBlock = 512;

std::unique_ptr<BrellDistortionProcessor> makeGlitchProcessor (bool glitchOn, double rate)
{
    auto proc = std::make_unique<BrellDistortionProcessor>();
    setParameter (*proc, "glitchOn", glitchOn ? 1.0f : 0.0f);
    setParameter (*proc, "glitchChaos", 100.0f); // the shortest windows, so many periods fit
    proc->prepareToPlay (rate, hostBlock);
    return proc;
}

juce::AudioBuffer<float> noiseSignal (int samples)
{
    juce::AudioBuffer<float> buffer (2, samples);
    juce::Random noise (20240611);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < samples; ++i)
            buffer.setSample (ch, i, noise.nextFloat() - 0.5f);
    return buffer;
}

struct BlockRender
{
    juce::AudioBuffer<float> output;
    std::vector<int> steps; // currentStep after each block, which is the step the block played
};

// The signal through processBlock in host-sized blocks; beforeBlock may change the processor first.
BlockRender renderInBlocks (BrellDistortionProcessor& proc, RunningTransport& transport, const juce::AudioBuffer<float>& input,
                            const std::function<void (int)>& beforeBlock = {})
{
    BlockRender render { input, {} };
    proc.setPlayHead (&transport);
    juce::AudioBuffer<float> block (2, hostBlock);
    juce::MidiBuffer midi;

    for (int start = 0, index = 0; start < input.getNumSamples(); start += hostBlock, ++index)
    {
        const int length = juce::jmin (hostBlock, input.getNumSamples() - start);
        block.setSize (2, length, false, false, true);
        for (int ch = 0; ch < 2; ++ch)
            block.copyFrom (ch, 0, input, ch, start, length);

        if (beforeBlock)
            beforeBlock (index);

        proc.processBlock (block, midi);
        transport.advance (length);
        render.steps.push_back (proc.currentStep.load());

        for (int ch = 0; ch < 2; ++ch)
            render.output.copyFrom (ch, start, block, ch, 0, length);
    }

    proc.setPlayHead (nullptr);
    return render;
}

// The first block index from `from` on whose step satisfies the test, or the number of blocks.
template <typename Test>
int firstBlockWhere (const std::vector<int>& steps, int from, Test test)
{
    for (int b = from; b < (int) steps.size(); ++b)
        if (test (steps[(size_t) b]))
            return b;
    return (int) steps.size();
}

struct StutterHoldCase
{
    double rate, bpm;
};

std::ostream& operator<< (std::ostream& out, const StutterHoldCase& c) { return out << c.rate << " Hz, " << c.bpm << " bpm"; }

class StutterHold : public ::testing::TestWithParam<StutterHoldCase> {};
} // namespace

// A block of four steps at a slow tempo sounds for well over a lap of the capture ring.
TEST_P (StutterHold, RepeatsTheWindowBeforeItsStartForTheWholeBlock)
{
    const auto [rate, bpm] = GetParam();
    const auto samplesPerStep = rate * 15.0 / bpm;
    const auto ppqStart = 0.5 - 8000.5 / (4.0 * samplesPerStep); // step 2 comes after 8000 samples
    const auto input = noiseSignal ((int) (8000.0 + 4.0 * samplesPerStep) + 4 * hostBlock);

    auto glitched = makeGlitchProcessor (true, rate);
    auto plain = makeGlitchProcessor (false, rate);
    glitched->glitchPattern.set (rowStutter, 2, 4);
    plain->glitchPattern.set (rowStutter, 2, 4);

    RunningTransport glitchedTransport (rate, bpm, ppqStart), plainTransport (rate, bpm, ppqStart);
    const auto out = renderInBlocks (*glitched, glitchedTransport, input);
    const auto ref = renderInBlocks (*plain, plainTransport, input); // what reached the glitch stage

    const auto firstBlock = firstBlockWhere (out.steps, 0, [] (int s) { return s == 2; });
    const auto endBlock = firstBlockWhere (out.steps, firstBlock, [] (int s) { return s < 2 || s > 5; });
    const auto begin = firstBlock * hostBlock;
    const auto end = juce::jmin (endBlock * hostBlock, input.getNumSamples());
    const auto length = BrellDistortionProcessorTestAccess (*glitched).stutterLength();

    ASSERT_LT (endBlock, (int) out.steps.size()) << "the block must end inside the render";
    ASSERT_GE (begin, length);
    ASSERT_GT (end - begin, ring + 2 * length);

    for (int ch = 0; ch < 2; ++ch)
    {
        const auto* o = out.output.getReadPointer (ch);
        const auto* r = ref.output.getReadPointer (ch);

        int changes = 0;
        for (int k = 0; k < length; ++k)
        {
            ASSERT_EQ (o[begin - length + k], r[begin - length + k]) << "channel " << ch << " before the start, " << k;
            ASSERT_EQ (o[begin + k], r[begin - length + k]) << "channel " << ch << " first period, " << k;
            changes += (k > 0 && ! juce::exactlyEqual (o[begin + k], o[begin + k - 1])) ? 1 : 0;
        }
        EXPECT_GT (changes, length / 2) << "the window should hold noise, channel " << ch;

        for (int i = begin + length; i < end; ++i)
            ASSERT_EQ (o[i], o[i - length]) << "channel " << ch << " sample " << i - begin << " after the start";
    }
}

INSTANTIATE_TEST_SUITE_P (Rates, StutterHold, ::testing::Values (
    StutterHoldCase { 44100.0, 15.0 },
    StutterHoldCase { 96000.0, 30.0 },
    StutterHoldCase { 192000.0, 60.0 }),
    [] (const ::testing::TestParamInfo<StutterHoldCase>& testCase)
    {
        using enginetest::namePart;
        return namePart (testCase.param.rate) + "Hz_" + namePart (testCase.param.bpm) + "bpm";
    });

// A block drawn over the step that is playing sounds without a start, from the construction values.
TEST (GlitchThroughProcessBlock, StutterWithoutAStartRepeatsItsFirstPass)
{
    constexpr double rate = 192000.0, bpm = 60.0;
    constexpr int drawBlock = 10;
    const auto input = noiseSignal ((int) (0.75 * 4.0 * 48000.0) + 4 * hostBlock); // steps 2 to 4, and a little

    auto glitched = makeGlitchProcessor (true, rate);
    auto plain = makeGlitchProcessor (false, rate);
    RunningTransport glitchedTransport (rate, bpm, 0.51), plainTransport (rate, bpm, 0.51); // inside step 2

    const auto out = renderInBlocks (*glitched, glitchedTransport, input, [&] (int block) {
        if (block == drawBlock)
            glitched->glitchPattern.set (rowStutter, 1, 4);
    });
    const auto ref = renderInBlocks (*plain, plainTransport, input);

    const auto begin = drawBlock * hostBlock;
    const auto endBlock = firstBlockWhere (out.steps, drawBlock, [] (int s) { return s != 2 && s != 3 && s != 4; });
    const auto end = juce::jmin (endBlock * hostBlock, input.getNumSamples());
    const auto length = BrellDistortionProcessorTestAccess (*glitched).stutterLength();

    ASSERT_EQ (length, 2000);
    ASSERT_LT (endBlock, (int) out.steps.size());
    ASSERT_GT (end - begin, ring + 2 * length);

    for (int ch = 0; ch < 2; ++ch)
    {
        const auto* o = out.output.getReadPointer (ch);
        const auto* r = ref.output.getReadPointer (ch);

        // The first pass reads ring slots 0 onwards as they stand, which still hold the first samples since prepare.
        for (int k = 0; k < length; ++k)
            ASSERT_EQ (o[begin + k], r[k]) << "channel " << ch << " first pass, " << k;

        for (int i = begin + length; i < end; ++i)
            ASSERT_EQ (o[i], o[i - length]) << "channel " << ch << " sample " << i - begin << " after the row began";
    }
}

TEST (GlitchThroughProcessBlock, SkippedStageStillStartsRowsAndMovesTheRing)
{
    for (int channels : { 1, 2 })
    {
        auto proc = std::make_unique<BrellDistortionProcessor>();
        BrellDistortionProcessorTestAccess access { *proc };

        if (channels == 1)
        {
            ASSERT_TRUE (enginetest::setMonoLayout (*proc));
        }

        setParameter (*proc, "glitchOn", channels == 1 ? 1.0f : 0.0f); // mono skips it even when on
        proc->prepareToPlay (44100.0, 512);
        proc->glitchPattern.set (rowStutter, 0, 16);
        proc->glitchPattern.set (rowGate, 0, 16);
        proc->activeMask.store (31);

        access.random().setSeed (555);
        juce::Random reference (555);

        PlayingAtSongStart playHead;
        proc->setPlayHead (&playHead);
        auto buffer = sineBlock (channels, 512);
        juce::MidiBuffer midi;
        proc->processBlock (buffer, midi);
        proc->setPlayHead (nullptr);

        EXPECT_EQ (proc->activeMask.load(), 0) << channels;
        EXPECT_EQ (access.captureWritePos(), 512) << channels;
        EXPECT_EQ (access.stutterLength(), reference.nextInt (2116 - 100) + 100) << channels;
        EXPECT_EQ (access.gateLength(), reference.nextInt (1146) + 50) << channels;
        EXPECT_EQ (access.stutterReadPos(), ring - access.stutterLength()) << channels; // not moved since
        EXPECT_EQ (access.gateCounter(), 0) << channels;
    }
}

TEST (GlitchThroughProcessBlock, GateMutesTheMixedOutput)
{
    auto proc = std::make_unique<BrellDistortionProcessor>();
    BrellDistortionProcessorTestAccess access { *proc };
    setParameter (*proc, "glitchOn", 1.0f);
    proc->prepareToPlay (44100.0, 2048);
    proc->glitchPattern.set (rowGate, 0, 16);
    access.random().setSeed (99);

    PlayingAtSongStart playHead;
    proc->setPlayHead (&playHead);
    auto buffer = sineBlock (2, 2048);
    juce::MidiBuffer midi;
    proc->processBlock (buffer, midi);
    proc->setPlayHead (nullptr);

    EXPECT_EQ (proc->activeMask.load(), 1 << rowGate);
    const auto half = access.gateLength();

    for (int ch = 0; ch < 2; ++ch)
    {
        float passed = 0.0f;
        for (int n = 1; n < std::min (2 * half, 2049); ++n)
        {
            const auto v = buffer.getSample (ch, n - 1);
            if (n < half)
                passed = std::max (passed, std::abs (v));
            else
                ASSERT_EQ (v, 0.0f) << "channel " << ch << " sample " << n;
        }
        EXPECT_GT (passed, 0.01f) << ch;
    }
}
