#include "BrellDistortionProcessor.h"
#include "EngineTestHelpers.h"
#include "ProcessorTestAccess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

namespace
{
using Position = juce::AudioPlayHead::PositionInfo;

Position playingAt (double ppq, double tempo = 120.0)
{
    Position p;
    p.setIsPlaying (true);
    p.setPpqPosition (ppq);
    p.setBpm (tempo);
    return p;
}

class GlitchSequencer : public ::testing::Test
{
protected:
    std::unique_ptr<BrellDistortionProcessor> proc = std::make_unique<BrellDistortionProcessor>();
    BrellDistortionProcessorTestAccess access { *proc };

    // TAPE STOP's start puts the speed back to 1, so a lowered speed tells whether the row started.
    bool tapeStartedSince (float marker) { return ! juce::exactlyEqual (access.tapeSpeed(), marker); }
};

struct SongPositionCase
{
    double ppq;
    int step;
};

class SongPositionToStep : public GlitchSequencer, public ::testing::WithParamInterface<SongPositionCase> {};

TEST_P (SongPositionToStep, FollowsTheHost)
{
    access.advanceSequencer (playingAt (GetParam().ppq), 512);

    EXPECT_EQ (proc->currentStep.load(), GetParam().step);
    EXPECT_EQ (access.lastStep(), GetParam().step);
    EXPECT_EQ (access.stepAccumulator(), 0.0); // host-synced blocks leave the free-running count alone
}

INSTANTIATE_TEST_SUITE_P (Table, SongPositionToStep, ::testing::Values (
    SongPositionCase { 0.0, 0 },
    SongPositionCase { 0.2499, 0 },
    SongPositionCase { 0.25, 1 },
    SongPositionCase { 3.99, 15 },
    SongPositionCase { 4.0, 0 },
    SongPositionCase { -0.1, 15 },
    SongPositionCase { -4.0, 0 },
    SongPositionCase { 7.3, 13 },
    SongPositionCase { -1.0e-17, 0 }, // folds onto 16.0 exactly
    SongPositionCase { 1.0e300, 0 },
    SongPositionCase { std::numeric_limits<double>::quiet_NaN(), 0 },
    SongPositionCase { std::numeric_limits<double>::infinity(), 0 },
    SongPositionCase { -std::numeric_limits<double>::infinity(), 0 }),
    [] (const ::testing::TestParamInfo<SongPositionCase>& testCase)
    {
        return "ppq" + enginetest::namePart (testCase.param.ppq) + "_step" + std::to_string (testCase.param.step);
    });

TEST_F (GlitchSequencer, RepeatedHostStepIsStoredEachTimeButStartsOnce)
{
    proc->glitchPattern.set (1, 5, 1);

    access.tapeSpeed() = 0.25f;
    access.advanceSequencer (playingAt (1.25), 512);
    EXPECT_TRUE (tapeStartedSince (0.25f));

    proc->currentStep.store (9);
    access.tapeSpeed() = 0.25f;
    access.advanceSequencer (playingAt (1.3), 512);
    EXPECT_EQ (proc->currentStep.load(), 5);
    EXPECT_FALSE (tapeStartedSince (0.25f));
}

TEST_F (GlitchSequencer, ModeChoice)
{
    // Playing with a tempo but no song position runs free, at the reported tempo.
    Position noSongPosition;
    noSongPosition.setIsPlaying (true);
    noSongPosition.setBpm (90.0);
    access.advanceSequencer (noSongPosition, 512);
    EXPECT_DOUBLE_EQ (access.samplesPerStep(), 44100.0 * 60.0 / 360.0);
    EXPECT_EQ (access.stepAccumulator(), 512.0);
    EXPECT_EQ (proc->currentStep.load(), -1);

    // A stopped transport ignores the song position.
    Position stopped;
    stopped.setIsPlaying (false);
    stopped.setPpqPosition (2.0);
    access.advanceSequencer (stopped, 512);
    EXPECT_EQ (access.stepAccumulator(), 1024.0);
    EXPECT_EQ (proc->currentStep.load(), -1);

    // A default position is free-running too.
    access.advanceSequencer (Position {}, 512);
    EXPECT_EQ (access.stepAccumulator(), 1536.0);
}

TEST_F (GlitchSequencer, FreeRunningTimingWithShortBlocks)
{
    const Position stopped;

    for (int block = 1; block <= 10; ++block)
        access.advanceSequencer (stopped, 512);

    EXPECT_EQ (proc->currentStep.load(), -1);
    EXPECT_DOUBLE_EQ (access.samplesPerStep(), 5512.5);

    access.advanceSequencer (stopped, 512); // block 11
    EXPECT_EQ (proc->currentStep.load(), 0);
    EXPECT_DOUBLE_EQ (access.stepAccumulator(), 119.5);

    for (int block = 12; block <= 21; ++block)
        access.advanceSequencer (stopped, 512);

    EXPECT_EQ (proc->currentStep.load(), 0);

    access.advanceSequencer (stopped, 512); // block 22
    EXPECT_EQ (proc->currentStep.load(), 1);
    EXPECT_DOUBLE_EQ (access.stepAccumulator(), 239.0);
}

TEST_F (GlitchSequencer, FreeRunningTakesOneStepPerLongBlock)
{
    const Position stopped;

    for (int block = 0; block < 20; ++block)
    {
        access.advanceSequencer (stopped, 16384);
        EXPECT_EQ (proc->currentStep.load(), block % 16);
        EXPECT_DOUBLE_EQ (access.stepAccumulator(), (block + 1) * (16384.0 - 5512.5));
    }
}

TEST_F (GlitchSequencer, FreeRunningWrapsFromLastStep)
{
    access.lastStep() = 15;
    access.advanceSequencer (Position {}, 6000);
    EXPECT_EQ (access.lastStep(), 0);
    EXPECT_EQ (proc->currentStep.load(), 0);
}

TEST_F (GlitchSequencer, KeepsTheLastValidTempo)
{
    Position tempo90;
    tempo90.setBpm (90.0);
    access.advanceSequencer (tempo90, 0);
    ASSERT_DOUBLE_EQ (access.samplesPerStep(), 7350.0);

    for (double bad : { 0.0, -120.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity() })
    {
        Position p;
        p.setBpm (bad);
        access.advanceSequencer (p, 0);
        EXPECT_EQ (access.bpm(), 90.0) << bad;
        EXPECT_DOUBLE_EQ (access.samplesPerStep(), 7350.0) << bad;
    }

    access.advanceSequencer (Position {}, 0);
    EXPECT_EQ (access.bpm(), 90.0);

    // The free clock then runs at 90 bpm: a step after 7350 samples, not 5512.5.
    access.advanceSequencer (Position {}, 7349);
    EXPECT_EQ (proc->currentStep.load(), -1);
    access.advanceSequencer (Position {}, 1);
    EXPECT_EQ (proc->currentStep.load(), 0);
}

TEST_F (GlitchSequencer, ZeroSampleRateStepsEveryBlock)
{
    access.sampleRate() = 0.0;

    for (int block = 0; block < 3; ++block)
        access.advanceSequencer (Position {}, 1);

    EXPECT_EQ (proc->currentStep.load(), 2);
}

TEST_F (GlitchSequencer, BlockCoverage)
{
    auto& pattern = proc->glitchPattern;
    pattern.set (0, 2, 4);
    pattern.set (0, 4, 1);
    pattern.set (1, 14, 5);
    pattern.set (2, 0, 16);
    pattern.set (3, 15, std::numeric_limits<int32_t>::max());
    pattern.set (4, 3, -2);

    const auto covered = [this] (int row)
    {
        int bits = 0;
        for (int step = 0; step < 16; ++step)
            if (access.isRowActiveAtStep (row, step))
                bits |= 1 << step;
        return bits;
    };

    EXPECT_EQ (covered (0), 0b0000'0000'0011'1100);
    EXPECT_EQ (covered (1), 0b1100'0000'0000'0000);
    EXPECT_EQ (covered (2), 0xffff);
    EXPECT_EQ (covered (3), 0b1000'0000'0000'0000);
    EXPECT_EQ (covered (4), 0);

    for (int row = 0; row < 5; ++row)
        EXPECT_FALSE (access.isRowActiveAtStep (row, -1));
}

TEST_F (GlitchSequencer, OverlappingBlocksStartAtEachOfTheirFirstSteps)
{
    proc->glitchPattern.set (1, 2, 4);
    proc->glitchPattern.set (1, 4, 1);

    for (int step = 0; step < 8; ++step)
    {
        access.tapeSpeed() = 0.25f;
        access.advanceSequencer (playingAt (step * 0.25), 512);
        EXPECT_EQ (tapeStartedSince (0.25f), step == 2 || step == 4) << step;
    }
}

TEST_F (GlitchSequencer, RowsStartingTogetherDrawInRowOrder)
{
    for (int row = 0; row < 5; ++row)
        proc->glitchPattern.set (row, 0, 2);

    access.random().setSeed (1234);
    juce::Random reference (1234);

    access.captureWritePos() = 10;
    access.tapePosition() = 77.0f;
    access.advanceSequencer (Position {}, 6000);
    ASSERT_EQ (proc->currentStep.load(), 0);

    // Default chaos 50 at 44100 Hz: STUTTER draws below 2116 - 100, GATE below 1146.
    const auto stutter = reference.nextInt (2116 - 100) + 100;
    const auto bits = reference.nextFloat() * 4.0f + 1.0f;
    const auto gate = reference.nextInt (1146) + 50;

    EXPECT_EQ (access.stutterLength(), stutter);
    EXPECT_EQ (access.crushBits(), bits);
    EXPECT_EQ (access.gateLength(), gate);
    EXPECT_EQ (access.tapePosition(), 0.0f);
    EXPECT_EQ (access.reversePos(), 9);
    EXPECT_EQ (access.random().nextInt (1 << 30), reference.nextInt (1 << 30)); // nothing else drew
}

TEST_F (GlitchSequencer, BlockDrawnOverTheCurrentStepSoundsWithoutStarting)
{
    access.advanceSequencer (playingAt (1.0), 512); // step 4
    proc->glitchPattern.set (1, 3, 3);

    access.tapeSpeed() = 0.25f;
    access.advanceSequencer (playingAt (1.1), 512);
    EXPECT_FALSE (tapeStartedSince (0.25f));

    float left[4] {}, right[4] {};
    access.processGlitch (left, right, 4);
    EXPECT_EQ (proc->activeMask.load(), 1 << 1);
}

//==============================================================================
// The play head as processBlock sees it.
class FixedPlayHead : public juce::AudioPlayHead
{
public:
    juce::Optional<PositionInfo> getPosition() const override { return position; }
    juce::Optional<PositionInfo> position;
};

TEST_F (GlitchSequencer, PlayHeadWithoutPositionFreezesTheSequencer)
{
    proc->prepareToPlay (44100.0, 512);
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;

    for (int block = 0; block < 11; ++block)
    {
        buffer.clear();
        proc->processBlock (buffer, midi);
    }

    // Without a play head the steps run on by themselves.
    ASSERT_EQ (proc->currentStep.load(), 0);
    ASSERT_DOUBLE_EQ (access.stepAccumulator(), 119.5);

    FixedPlayHead frozen;
    proc->setPlayHead (&frozen);

    for (int block = 0; block < 20; ++block)
    {
        buffer.clear();
        proc->processBlock (buffer, midi);
    }

    EXPECT_EQ (proc->currentStep.load(), 0);
    EXPECT_EQ (access.lastStep(), 0);
    EXPECT_DOUBLE_EQ (access.stepAccumulator(), 119.5);

    frozen.position = playingAt (2.0);
    buffer.clear();
    proc->processBlock (buffer, midi);
    EXPECT_EQ (proc->currentStep.load(), 8);

    proc->setPlayHead (nullptr);
}
} // namespace
