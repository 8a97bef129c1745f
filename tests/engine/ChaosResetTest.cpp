#include "ProcessorTestAccess.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <set>

namespace
{
    const std::array<const char*, 9> parameterIds { "drive", "mix", "output", "mode", "filterCutoff",
                                                    "filterReso", "filterType", "glitchOn", "glitchChaos" };

    float valueOf (BrellDistortionProcessor& p, const char* id)
    {
        return p.apvts.getRawParameterValue (id)->load();
    }

    // Records what the host would be told: value changes per parameter index, and gestures.
    struct HostRecorder : juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float) override     { ++changes[index]; }
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override         {}
        void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int) override      { ++gestures; }
        void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int) override        { ++gestures; }

        std::map<int, int> changes;
        int gestures = 0;
    };

    void expectPatternWellFormed (const BrellDistortionProcessor& p, std::set<std::pair<int, int>>& seenStartAndLength)
    {
        for (int r = 0; r < GlitchPattern::numRows; ++r)
        {
            int s = 0;
            while (s < GlitchPattern::numSteps)
            {
                const auto v = p.glitchPattern.get (r, s);
                ASSERT_GE (v, 0);
                ASSERT_LE (v, 4) << "row " << r << " step " << s;

                if (v == 0)
                {
                    ++s;
                    continue;
                }

                ASSERT_LE (s + v, GlitchPattern::numSteps) << "block past the last step, row " << r;
                seenStartAndLength.insert ({ s, v });

                for (int k = 1; k < v; ++k)
                    ASSERT_EQ (p.glitchPattern.get (r, s + k), 0) << "row " << r << " step " << s + k;

                s += v;
            }
        }
    }

    class ChaosReset : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            ASSERT_EQ (p.getParameters().size(), (int) parameterIds.size()) << "parameter layout missing";
        }

        BrellDistortionProcessor p;
        BrellDistortionProcessorTestAccess access { p };
    };
}

//==============================================================================
TEST_F (ChaosReset, ResetGivesMidRangeAndFirstChoices)
{
    p.apvts.getParameter ("glitchOn")->setValueNotifyingHost (1.0f);
    p.randomise();

    for (int pass = 0; pass < 2; ++pass)
    {
        p.resetAll();

        for (int r = 0; r < GlitchPattern::numRows; ++r)
            for (int s = 0; s < GlitchPattern::numSteps; ++s)
                EXPECT_EQ (p.glitchPattern.get (r, s), 0);

        EXPECT_FLOAT_EQ (valueOf (p, "drive"), 50.0f);
        EXPECT_FLOAT_EQ (valueOf (p, "mix"), 50.0f);
        EXPECT_FLOAT_EQ (valueOf (p, "output"), -9.0f);
        EXPECT_FLOAT_EQ (valueOf (p, "filterCutoff"), 2002.0f);
        EXPECT_NEAR (valueOf (p, "filterReso"), 2.575f, 0.0051f);
        EXPECT_FLOAT_EQ (valueOf (p, "glitchChaos"), 50.0f);
        EXPECT_EQ (p.apvts.getParameter ("mode")->getCurrentValueAsText(), "HARD CLIP");
        EXPECT_EQ (p.apvts.getParameter ("filterType")->getCurrentValueAsText(), "LOWPASS");
        EXPECT_FLOAT_EQ (valueOf (p, "glitchOn"), 1.0f);
    }
}

TEST_F (ChaosReset, RandomPatternsAndSettingsStayInTheirRanges)
{
    struct Range { const char* id; float low, high, step; };
    const Range ranges[] { { "drive", 10.0f, 90.0f, 0.1f }, { "mix", 50.0f, 100.0f, 0.1f },
                           { "output", -12.0f, 3.0f, 0.1f }, { "filterCutoff", 200.0f, 15000.0f, 1.0f },
                           { "filterReso", 0.5f, 5.0f, 0.01f }, { "glitchChaos", 20.0f, 90.0f, 0.1f } };

    std::set<std::pair<int, int>> blocks;
    std::set<int> modes, filterTypes;
    bool sawEmptyRow = false;

    for (const auto on : { 0.0f, 1.0f })
    {
        p.apvts.getParameter ("glitchOn")->setValueNotifyingHost (on);

        for (int run = 0; run < 1000; ++run)
        {
            p.randomise();
            expectPatternWellFormed (p, blocks);

            for (int r = 0; r < GlitchPattern::numRows; ++r)
            {
                bool empty = true;
                for (int s = 0; s < GlitchPattern::numSteps; ++s)
                    empty = empty && p.glitchPattern.get (r, s) == 0;
                sawEmptyRow = sawEmptyRow || empty;
            }

            for (const auto& range : ranges)
            {
                const auto v = valueOf (p, range.id);
                EXPECT_GE (v, range.low - range.step * 0.51f) << range.id;
                EXPECT_LE (v, range.high + range.step * 0.51f) << range.id;
            }

            modes.insert ((int) valueOf (p, "mode"));
            filterTypes.insert ((int) valueOf (p, "filterType"));
            ASSERT_FLOAT_EQ (valueOf (p, "glitchOn"), on);
        }
    }

    EXPECT_EQ (modes, (std::set<int> { 0, 1, 2, 3 }));
    EXPECT_EQ (filterTypes, (std::set<int> { 0, 1, 2 }));
    EXPECT_TRUE (sawEmptyRow);

    // Every length appears, and the blocks near the end are cut to fit.
    for (int length = 1; length <= 4; ++length)
        EXPECT_TRUE (blocks.count ({ 0, length })) << length;
    EXPECT_TRUE (blocks.count ({ 14, 2 }));
    EXPECT_TRUE (blocks.count ({ 15, 1 }));
}

TEST_F (ChaosReset, DrawsInTheDocumentedOrderFromItsOwnGenerator)
{
    constexpr juce::int64 seed = 0x5eed1234;
    access.chaosRandom().setSeed (seed);
    const auto audioSeedBefore = access.random().getSeed();

    p.randomise();

    // Replays the draws: per row, one float per visited step and a length for each block start,
    // then one float per parameter.
    juce::Random expected (seed);
    for (int r = 0; r < GlitchPattern::numRows; ++r)
    {
        int s = 0;
        while (s < GlitchPattern::numSteps)
        {
            if (expected.nextFloat() < 0.25f)
            {
                const auto length = expected.nextInt (juce::jmin (16 - s, 4)) + 1;
                EXPECT_EQ (p.glitchPattern.get (r, s), length) << r << "," << s;
                s += length;
            }
            else
            {
                EXPECT_EQ (p.glitchPattern.get (r, s), 0) << r << "," << s;
                ++s;
            }
        }
    }

    struct Draw { const char* id; float low, high; };
    const Draw draws[] { { "drive", 10.0f, 90.0f }, { "mix", 50.0f, 100.0f }, { "output", -12.0f, 3.0f },
                         { "filterCutoff", 200.0f, 15000.0f }, { "filterReso", 0.5f, 5.0f },
                         { "glitchChaos", 20.0f, 90.0f }, { "mode", 0.0f, 0.0f }, { "filterType", 0.0f, 0.0f } };

    for (const auto& d : draws)
    {
        auto* param = p.apvts.getParameter (d.id);
        const auto u = expected.nextFloat();
        const auto normalised = d.high > d.low ? param->getNormalisableRange().convertTo0to1 (u * (d.high - d.low) + d.low) : u;
        EXPECT_FLOAT_EQ (param->getValue(), param->convertTo0to1 (param->convertFrom0to1 (normalised))) << d.id;
    }

    EXPECT_EQ (access.random().getSeed(), audioSeedBefore) << "CHAOS drew from the audio thread's generator";
}

TEST_F (ChaosReset, HostIsToldOfEveryChangeWithoutGestures)
{
    HostRecorder recorder;
    p.addListener (&recorder);

    const auto glitchOnIndex = p.apvts.getParameter ("glitchOn")->getParameterIndex();

    for (auto action : { &BrellDistortionProcessor::randomise, &BrellDistortionProcessor::resetAll })
    {
        recorder.changes.clear();
        (p.*action)();

        for (int i = 0; i < (int) parameterIds.size(); ++i)
            EXPECT_EQ (recorder.changes[i], i == glitchOnIndex ? 0 : 1) << parameterIds[(size_t) i];
    }

    EXPECT_EQ (recorder.gestures, 0);
    p.removeListener (&recorder);
}
