#include "HostTestSupport.h"

using namespace hosttest;

namespace
{
    constexpr double rate = 48000.0;
    constexpr int blockSize = 512;

    std::string asText (const juce::MemoryBlock& block)
    {
        return std::string (static_cast<const char*> (block.getData()), block.getSize());
    }

    juce::MemoryBlock fromText (const std::string& text)
    {
        return juce::MemoryBlock (text.data(), text.size());
    }

    // Rewrites one pattern row inside a component state; the text keeps its length.
    std::string withRow (std::string state, int row, const std::string& cells)
    {
        const auto key = "row" + std::to_string (row) + "=\"";
        const auto at = state.find (key);
        EXPECT_NE (at, std::string::npos) << key;
        if (at != std::string::npos)
            state.replace (at + key.size(), 16, cells);
        return state;
    }

    std::vector<float> parameterValues (PluginHost& host)
    {
        std::vector<float> values;
        for (auto* p : host.getInstance().getParameters())
            values.push_back (p->getValue());
        return values;
    }
}

TEST (StateHost, SavedStateReproducesParametersAndPatternInAFreshInstance)
{
    auto original = loadPlugin (rate, blockSize);
    ASSERT_NE (original, nullptr);

    setParameter (*original, "drive", 0.3f);
    setParameter (*original, "mix", 0.7f);
    setParameter (*original, "output", 0.6f);
    setParameter (*original, "mode", 2.0f / 3.0f);
    setParameter (*original, "filterCutoff", 0.7f);
    setParameter (*original, "filterReso", 0.4f);
    setParameter (*original, "filterType", 0.5f);
    setParameter (*original, "glitchOn", 1.0f);
    setParameter (*original, "glitchChaos", 0.8f);

    // TAPE STOP and REVERSE blocks: the effects that draw nothing at random, so that two
    // instances render alike.
    const auto plain = asText (original->getComponentState());
    const auto patterned = withRow (withRow (plain, 1, "4000400000000000"), 3, "0000000030000000");
    original->setComponentState (fromText (patterned));

    const auto saved = original->getComponentState();
    EXPECT_NE (asText (saved).find ("row1=\"4000400000000000\""), std::string::npos);
    EXPECT_NE (asText (saved).find ("row3=\"0000000030000000\""), std::string::npos);

    auto restored = loadPlugin (rate, blockSize);
    ASSERT_NE (restored, nullptr);
    restored->setComponentState (saved);

    const auto expected = parameterValues (*original);
    const auto actual = parameterValues (*restored);
    ASSERT_EQ (actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR (actual[i], expected[i], 1.0e-6f) << "parameter " << i;

    EXPECT_EQ (asText (restored->getComponentState()), asText (saved));

    const auto input = makeSignal (2, blockSize * 40, rate);
    const auto fromOriginal = render (*original, input);
    const auto fromRestored = render (*restored, input);
    ASSERT_TRUE (allFinite (fromRestored));
    EXPECT_LT (maxDifference (fromOriginal, fromRestored), 1.0e-6f);

    // The same settings without the pattern sound different: the render shows the pattern.
    auto withoutPattern = loadPlugin (rate, blockSize);
    ASSERT_NE (withoutPattern, nullptr);
    withoutPattern->setComponentState (fromText (withRow (withRow (asText (saved), 1, std::string (16, '0')), 3, std::string (16, '0'))));
    EXPECT_GT (maxDifference (render (*withoutPattern, input), fromRestored), 1.0e-3f);
}

TEST (StateHost, BypassTravelsInTheTrailer)
{
    for (const float bypass : { 1.0f, 0.0f })
    {
        auto original = loadPlugin (rate, blockSize);
        ASSERT_NE (original, nullptr);
        auto* bypassParameter = original->findParameterByName ("Bypass");
        ASSERT_NE (bypassParameter, nullptr);
        ASSERT_TRUE (original->setParameter (PluginHost::getVstId (*bypassParameter), bypass));
        setParameter (*original, "drive", 0.9f);

        const auto saved = original->getComponentState();
        const auto text = asText (saved);
        ASSERT_GT (saved.getSize(), 9u);
        EXPECT_EQ (text.substr (0, 4), "VC2!");
        EXPECT_NE (text.find ("JUCEPrivateData"), std::string::npos);

        // The processor's own bytes come first, whole: the length field points at their zero byte.
        const auto length = juce::ByteOrder::littleEndianInt (static_cast<const char*> (saved.getData()) + 4);
        ASSERT_LT ((size_t) length + 8, saved.getSize());
        EXPECT_EQ (text[(size_t) length + 8], '\0');
        EXPECT_NE (text.find ("</Parameters>"), std::string::npos);

        auto restored = loadPlugin (rate, blockSize);
        ASSERT_NE (restored, nullptr);
        restored->setComponentState (saved);

        auto* restoredBypass = restored->findParameterByName ("Bypass");
        ASSERT_NE (restoredBypass, nullptr);
        EXPECT_FLOAT_EQ (restoredBypass->getValue(), bypass);
        EXPECT_NEAR (parameter (*restored, "drive").getValue(), 0.9f, 1.0e-6f);
        EXPECT_EQ (asText (restored->getComponentState()), text);
    }
}

TEST (StateHost, HostileComponentStateLeavesTheSettings)
{
    auto host = loadPlugin (rate, blockSize);
    ASSERT_NE (host, nullptr);
    setParameter (*host, "drive", 0.2f);
    const auto before = asText (host->getComponentState());

    for (const std::string& bad : { std::string ("VC2!"), std::string ("not a state at all, just text"),
                                   before.substr (0, 30), withRow (before, 0, "nan-inf-zzzzzzzz") })
    {
        host->setComponentState (fromText (bad));
        EXPECT_NEAR (parameter (*host, "drive").getValue(), 0.2f, 1.0e-6f);
    }

    const auto output = render (*host, makeSignal (2, blockSize * 8, rate));
    EXPECT_TRUE (allFinite (output));
}
