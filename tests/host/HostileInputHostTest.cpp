#include "HostTestSupport.h"

#include <limits>
#include <map>

using namespace hosttest;

// Input that could poison an instance for the rest of its life: a non-finite sample in the audio,
// and state children that the parameter tree would bind without the loader ever checking them.
namespace
{
    constexpr double rate = 48000.0;
    constexpr int blockSize = 512;

    bool writeFloatWav (const juce::File& file, const juce::AudioBuffer<float>& signal)
    {
        file.deleteFile();
        std::unique_ptr<juce::OutputStream> stream (file.createOutputStream().release());
        if (stream == nullptr)
            return false;

        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (stream.get(), rate, (unsigned int) signal.getNumChannels(), 32, {}, 0));
        if (writer == nullptr)
            return false;

        stream.release(); // the writer owns it now
        return writer->writeFromAudioSampleBuffer (signal, 0, signal.getNumSamples());
    }

    juce::AudioBuffer<float> readWav (const juce::File& file)
    {
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatReader> reader (wav.createReaderFor (file.createInputStream().release(), true));
        if (reader == nullptr)
            return {};

        juce::AudioBuffer<float> signal ((int) reader->numChannels, (int) reader->lengthInSamples);
        reader->read (&signal, 0, signal.getNumSamples(), 0, true, true);
        return signal;
    }

    juce::MemoryBlock wrapState (const std::string& children)
    {
        const std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?> <Parameters>" + children + "</Parameters>";
        juce::MemoryOutputStream bytes;
        bytes.writeInt (0x21324356);
        bytes.writeInt ((int) text.size());
        bytes.write (text.data(), text.size());
        bytes.writeByte (0);
        return bytes.getMemoryBlock();
    }

    std::map<std::string, int> idCounts (const juce::MemoryBlock& state)
    {
        std::map<std::string, int> counts;
        const auto length = (int) juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (state.getData(), 4));
        if (auto xml = juce::parseXML (juce::String::fromUTF8 (static_cast<const char*> (state.getData()) + 8, length)))
            for (auto* child : xml->getChildIterator())
                if (child->hasAttribute ("id"))
                    ++counts[child->getStringAttribute ("id").toStdString()];
        return counts;
    }
}

TEST (HostileInputHost, RenderOfAWavWithANonFiniteSampleComesOutFinite)
{
    const juce::TemporaryFile in (".wav"), out (".wav");
    constexpr int length = 24000;
    constexpr int badAt = 5000;

    struct Case { const char* name; float bad; juce::StringArray settings; };
    const Case cases[] {
        { "NaN, default settings", std::numeric_limits<float>::quiet_NaN(), {} },
        { "NaN, dry mix", std::numeric_limits<float>::quiet_NaN(), { "--set", "mix=0" } },
        { "+inf, glitch on", std::numeric_limits<float>::infinity(), { "--set", "glitchOn=1", "--tempo", "120", "--playing" } },
        { "-inf, dry mix", -std::numeric_limits<float>::infinity(), { "--set", "mix=0" } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        auto signal = makeSignal (2, length, rate, 0.3f);
        signal.setSample (0, badAt, c.bad);
        ASSERT_TRUE (writeFloatWav (in.getFile(), signal));

        juce::StringArray arguments { "render", bundleFile().getFullPathName(), "--in", in.getFile().getFullPathName(),
                                      "--out", out.getFile().getFullPathName() };
        arguments.addArray (c.settings);
        const auto result = runHostProgram (arguments);
        ASSERT_EQ (result.exitCode, 0) << result.output;

        const auto rendered = readWav (out.getFile());
        ASSERT_EQ (rendered.getNumChannels(), 2);
        ASSERT_EQ (rendered.getNumSamples(), length);
        EXPECT_TRUE (allFinite (rendered));

        // The channel plays on after the bad sample rather than falling silent.
        EXPECT_GT (rendered.getRMSLevel (0, badAt + 4800, length - badAt - 4800), 0.01f);
    }
}

TEST (HostileInputHost, OnlyParamChildrenSetParametersAndASaveReplaysTheLoad)
{
    const std::string grid = "row0=\"0000000000000000\" row1=\"0000000000000000\" row2=\"0000000000000000\" "
                             "row3=\"0000000000000000\" row4=\"0000000000000000\"";

    // Each state's expected effect, as a normalised value the host sets on a fresh instance. The
    // parameters that no PARAM child names take their defaults (output 0 dB is 0.8, drive 50 0.5).
    struct Case { const char* name; std::string children; const char* id; float expectedNormalised; };
    const Case cases[] {
        { "a lower-case param with a NaN", "<param id=\"output\" value=\"nan\"/>", "output", 0.8f },
        { "a PARAM and a grid naming one parameter", "<PARAM id=\"mix\" value=\"30.0\"/><GlitchGrid id=\"mix\" value=\"70\" " + grid + "/>", "mix", 0.3f },
        { "a grid with the only id of a parameter", "<GlitchGrid id=\"drive\" value=\"90\" " + grid + "/>", "drive", 0.5f },
    };

    const auto input = makeSignal (2, blockSize * 20, rate, 0.3f);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        auto loaded = loadPlugin (rate, blockSize);
        auto expected = loadPlugin (rate, blockSize);
        ASSERT_NE (loaded, nullptr);
        ASSERT_NE (expected, nullptr);

        // Settings before the load that differ from the defaults, so that a value kept shows.
        setParameter (*loaded, "output", 0.6f);
        setParameter (*loaded, "drive", 0.2f);
        setParameter (*loaded, "mix", 0.9f);
        setParameter (*expected, c.id, c.expectedNormalised);

        loaded->setComponentState (wrapState (c.children));

        for (auto* p : loaded->getInstance().getParameters())
        {
            EXPECT_TRUE (std::isfinite (p->getValue())) << p->getName (64);
            EXPECT_FALSE (p->getCurrentValueAsText().containsIgnoreCase ("nan")) << p->getName (64);
        }
        EXPECT_NEAR (parameter (*loaded, c.id).getValue(), c.expectedNormalised, 1.0e-6f);

        const auto saved = loaded->getComponentState();
        for (const auto* id : { "drive", "mix", "output", "mode", "filterCutoff", "filterReso", "filterType", "glitchOn", "glitchChaos" })
            EXPECT_EQ (idCounts (saved)[id], 1) << id;

        auto reloaded = loadPlugin (rate, blockSize);
        ASSERT_NE (reloaded, nullptr);
        reloaded->setComponentState (saved);

        const auto heard = render (*loaded, input);
        EXPECT_LT (maxDifference (heard, render (*expected, input)), 1.0e-5f) << "plays otherwise than the checked values";
        EXPECT_LT (maxDifference (render (*reloaded, input), heard), 1.0e-5f) << "the saved state plays otherwise";
    }
}
