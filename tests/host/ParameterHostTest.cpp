#include "HostTestSupport.h"

using namespace hosttest;

namespace
{
    struct ExpectedParameter
    {
        const char* identifier;
        const char* name;
        float defaultNormalised;
        const char* defaultText;
        int numSteps;                    // 0: continuous
        std::vector<const char*> texts;  // the steps' texts, or the texts at 0 and 1 for continuous ones
    };

    const std::vector<ExpectedParameter>& expectedParameters()
    {
        static const std::vector<ExpectedParameter> list {
            { "drive", "Drive", 0.5f, "50.0", 0, { "0.0", "100.0" } },
            { "mix", "Mix", 1.0f, "100.0", 0, { "0.0", "100.0" } },
            { "output", "Output", 0.8f, "0.0", 0, { "-24.0", "6.0" } },
            { "mode", "Mode", 0.0f, "HARD CLIP", 4, { "HARD CLIP", "SOFT CLIP", "BITCRUSH", "FOLDBACK" } },
            { "filterCutoff", "Filter Cutoff", 1.0f, "20000", 0, { "20", "20000" } },
            { "filterReso", "Filter Resonance", 0.2476f, "0.71", 0, { "0.10", "10.00" } },
            { "filterType", "Filter Type", 0.0f, "LOWPASS", 3, { "LOWPASS", "HIGHPASS", "BANDPASS" } },
            { "glitchOn", "Glitch On", 0.0f, "Off", 2, { "Off", "On" } },
            { "glitchChaos", "Glitch Chaos", 0.5f, "50.0", 0, { "0.0", "100.0" } },
        };
        return list;
    }
}

TEST (ParameterHost, NineParametersInHostOrderThenBypass)
{
    auto host = loadPlugin();
    ASSERT_NE (host, nullptr);
    const auto parameters = host->getParameters();
    const auto& expected = expectedParameters();

    ASSERT_EQ (parameters.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i)
    {
        const auto& p = parameters[i];
        const auto& e = expected[i];
        SCOPED_TRACE (e.identifier);

        EXPECT_EQ (p.index, (int) i);
        EXPECT_EQ (p.vstId, expectedVstId (e.identifier));
        EXPECT_EQ (p.name, e.name);
        EXPECT_EQ (p.label, "");
        EXPECT_TRUE (p.automatable);
        EXPECT_NEAR (p.defaultValue, e.defaultNormalised, 1.0e-3f);
        EXPECT_EQ (p.defaultText, e.defaultText);

        if (e.numSteps == 0)
        {
            EXPECT_FALSE (p.discrete);
            EXPECT_EQ (p.minText, e.texts[0]);
            EXPECT_EQ (p.maxText, e.texts[1]);
        }
        else
        {
            EXPECT_TRUE (p.discrete);
            EXPECT_EQ (p.numSteps, e.numSteps);
            ASSERT_EQ (p.stepTexts.size(), (int) e.texts.size());
            for (size_t t = 0; t < e.texts.size(); ++t)
                EXPECT_EQ (p.stepTexts[(int) t], e.texts[t]);
        }
    }

    const auto& bypass = parameters.back();
    EXPECT_EQ (bypass.name, "Bypass");
    EXPECT_TRUE (bypass.discrete);
    EXPECT_EQ (bypass.numSteps, 2);
    EXPECT_EQ (bypass.defaultValue, 0.0f);
}

TEST (ParameterHost, ValueTextsFollowTheRanges)
{
    auto host = loadPlugin();
    ASSERT_NE (host, nullptr);

    struct Case { const char* identifier; float normalised; const char* text; };
    const Case cases[] = {
        { "filterCutoff", 0.5f, "2002" },
        { "filterCutoff", 0.0f, "20" },
        { "output", 0.5f, "-9.0" },
        { "drive", 0.25f, "25.0" },
        { "mode", 1.0f / 3.0f, "SOFT CLIP" },
        { "filterType", 0.5f, "HIGHPASS" },
        { "glitchOn", 1.0f, "On" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (parameter (*host, c.identifier).getText (c.normalised, 1024), c.text) << c.identifier << " at " << c.normalised;
}

TEST (ParameterHost, HostAutomationReachesTheControllerAndIsReadBack)
{
    auto host = loadPlugin();
    ASSERT_NE (host, nullptr);

    setParameter (*host, "drive", 0.7f);
    setParameter (*host, "mode", 1.0f);
    auto block = makeSignal (2, 512, 48000.0);
    host->processBlock (block);

    EXPECT_NEAR (host->getParameter (expectedVstId ("drive")), 0.7f, 1.0e-6f);
    EXPECT_EQ (parameter (*host, "drive").getCurrentValueAsText(), "70.0");
    EXPECT_EQ (parameter (*host, "mode").getCurrentValueAsText(), "FOLDBACK");

    // Bad values from a host are clamped or refused, never passed on as they are.
    EXPECT_FALSE (host->setParameter (expectedVstId ("drive"), std::numeric_limits<float>::quiet_NaN()));
    EXPECT_TRUE (host->setParameter (expectedVstId ("drive"), 7.0f));
    EXPECT_EQ (host->getParameter (expectedVstId ("drive")), 1.0f);
    EXPECT_FALSE (host->setParameter (12345u, 0.5f));
}
