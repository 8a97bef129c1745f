#include "EngineTestHelpers.h"

#include <gtest/gtest.h>

namespace
{
struct FloatCase
{
    const char* id;
    const char* name;
    float start, end, interval, skew, defaultValue, normalisedDefault;
};

const FloatCase floatCases[] = {
    { "drive",        "Drive",            0.0f,   100.0f,   0.1f,  1.0f, 50.0f,    0.5f },
    { "mix",          "Mix",              0.0f,   100.0f,   0.1f,  1.0f, 100.0f,   1.0f },
    { "output",       "Output",           -24.0f, 6.0f,     0.1f,  1.0f, 0.0f,     0.8f },
    { "filterCutoff", "Filter Cutoff",    20.0f,  20000.0f, 1.0f,  0.3f, 20000.0f, 1.0f },
    // Declared as 0.707; the value tree snaps it onto the 0.01 grid when it takes it over.
    { "filterReso",   "Filter Resonance", 0.1f,   10.0f,    0.01f, 0.5f, 0.71f,    0.2482f },
    { "glitchChaos",  "Glitch Chaos",     0.0f,   100.0f,   0.1f,  1.0f, 50.0f,    0.5f },
};
} // namespace

TEST (ParameterLayout, NineParametersInHostOrder)
{
    BrellDistortionProcessor proc;
    const char* expected[] = { "drive", "mix", "output", "mode", "filterCutoff",
                               "filterReso", "filterType", "glitchOn", "glitchChaos" };

    const auto& params = proc.getParameters();
    ASSERT_EQ (params.size(), 9);

    for (int i = 0; i < 9; ++i)
    {
        auto* withId = dynamic_cast<juce::AudioProcessorParameterWithID*> (params[i]);
        ASSERT_NE (withId, nullptr);
        EXPECT_EQ (withId->getParameterID(), expected[i]);
        EXPECT_EQ (withId->getVersionHint(), 1) << expected[i];
        EXPECT_TRUE (withId->getLabel().isEmpty()) << expected[i];
        EXPECT_TRUE (withId->isAutomatable());
        EXPECT_FALSE (withId->isMetaParameter());
        EXPECT_FALSE (withId->isOrientationInverted());
        EXPECT_EQ (withId->getCategory(), juce::AudioProcessorParameter::genericParameter);
    }

    EXPECT_EQ (proc.apvts.state.getType().toString(), "Parameters");
}

TEST (ParameterLayout, FloatRangesAndDefaults)
{
    BrellDistortionProcessor proc;

    for (const auto& c : floatCases)
    {
        auto* p = dynamic_cast<juce::AudioParameterFloat*> (proc.apvts.getParameter (c.id));
        ASSERT_NE (p, nullptr) << c.id;
        EXPECT_EQ (p->getName (100), c.name);
        EXPECT_EQ (p->range.start, c.start) << c.id;
        EXPECT_EQ (p->range.end, c.end) << c.id;
        EXPECT_EQ (p->range.interval, c.interval) << c.id;
        EXPECT_EQ (p->range.skew, c.skew) << c.id;
        EXPECT_FALSE (p->range.symmetricSkew) << c.id;
        EXPECT_FLOAT_EQ (p->get(), c.defaultValue) << c.id;
        EXPECT_FLOAT_EQ (enginetest::rawParam (proc, c.id), c.defaultValue) << c.id;
        EXPECT_NEAR (static_cast<juce::AudioProcessorParameter*> (p)->getDefaultValue(), c.normalisedDefault, 1e-4f) << c.id;
    }
}

TEST (ParameterLayout, ChoicesAndSwitch)
{
    BrellDistortionProcessor proc;

    auto* mode = dynamic_cast<juce::AudioParameterChoice*> (proc.apvts.getParameter ("mode"));
    auto* type = dynamic_cast<juce::AudioParameterChoice*> (proc.apvts.getParameter ("filterType"));
    auto* glitch = dynamic_cast<juce::AudioParameterBool*> (proc.apvts.getParameter ("glitchOn"));
    ASSERT_NE (mode, nullptr);
    ASSERT_NE (type, nullptr);
    ASSERT_NE (glitch, nullptr);

    EXPECT_EQ (mode->getName (100), "Mode");
    EXPECT_EQ (mode->choices, juce::StringArray ({ "HARD CLIP", "SOFT CLIP", "BITCRUSH", "FOLDBACK" }));
    EXPECT_EQ (mode->getIndex(), 0);
    EXPECT_EQ (type->getName (100), "Filter Type");
    EXPECT_EQ (type->choices, juce::StringArray ({ "LOWPASS", "HIGHPASS", "BANDPASS" }));
    EXPECT_EQ (type->getIndex(), 0);
    EXPECT_EQ (glitch->getName (100), "Glitch On");
    EXPECT_FALSE (glitch->get());
    EXPECT_EQ (static_cast<juce::AudioProcessorParameter*> (glitch)->getDefaultValue(), 0.0f);

    EXPECT_EQ (static_cast<juce::AudioProcessorParameter*> (mode)->getText (mode->convertTo0to1 (1.0f), 100), "SOFT CLIP");
    mode->setValueNotifyingHost (1.0f / 3.0f);
    EXPECT_EQ (mode->getCurrentChoiceName(), "SOFT CLIP");
    type->setValueNotifyingHost (0.5f);
    EXPECT_EQ (type->getCurrentChoiceName(), "HIGHPASS");
}

TEST (ParameterLayout, ValueMapping)
{
    BrellDistortionProcessor proc;
    auto* cutoff = proc.apvts.getParameter ("filterCutoff");
    auto* output = proc.apvts.getParameter ("output");
    auto* reso = proc.apvts.getParameter ("filterReso");

    EXPECT_FLOAT_EQ (cutoff->convertFrom0to1 (0.5f), 2002.0f);
    EXPECT_FLOAT_EQ (cutoff->convertFrom0to1 (0.0f), 20.0f);
    EXPECT_FLOAT_EQ (cutoff->convertFrom0to1 (1.0f), 20000.0f);
    EXPECT_FLOAT_EQ (output->convertFrom0to1 (0.5f), -9.0f);
    EXPECT_FLOAT_EQ (output->convertTo0to1 (0.0f), 0.8f);

    // 0.707 is off the 0.01 grid; set through a normalised value it snaps to 0.71.
    reso->setValueNotifyingHost (reso->convertTo0to1 (0.707f));
    EXPECT_NEAR (enginetest::rawParam (proc, "filterReso"), 0.71f, 1e-6f);
}
