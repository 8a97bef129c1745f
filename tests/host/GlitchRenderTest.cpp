#include "HostTestSupport.h"

#include <cmath>
#include <set>

using namespace hosttest;

// The glitch rows as a DAW hears them: a saved pattern, a playing transport at 120 bpm, and a render
// compared with the same render through the same chain with the glitch switch off.
namespace
{
constexpr double rate = 48000.0;
constexpr int blockSize = 512;
constexpr int samplesPerStep = 6000; // a sixteenth note at 120 bpm and 48 kHz
constexpr int renderLength = 16 * samplesPerStep;

enum Row { stutter, tapeStop, crush, reverse, gate };

// One block of two steps per row, with empty steps between them, so every effect stands alone.
constexpr int firstStepOf[5] = { 1, 4, 7, 10, 13 };
const char* const patternRows[5] = {
    "0200000000000000",
    "0000200000000000",
    "0000000200000000",
    "0000000000200000",
    "0000000000000200",
};

// Host-synced steps change at block starts: a step begins with the first block that starts inside it.
int stepStart (int step, int stepLength = samplesPerStep)
{
    return (step * stepLength + blockSize - 1) / blockSize * blockSize;
}

struct Region
{
    int begin, end;
    bool contains (int sample) const { return sample >= begin && sample < end; }
};

Region regionOf (int row) { return { stepStart (firstStepOf[row]), stepStart (firstStepOf[row] + 2) }; }

// The stutter length is drawn at random: the one (0 for none) under which the whole region
// repeats the stretch of the reference just before the region.
int repeatedLength (const juce::AudioBuffer<float>& output, const juce::AudioBuffer<float>& reference, Region region)
{
    for (int length = 100; length < 4000; ++length)
    {
        bool matches = true;
        for (int i = region.begin; i < region.end && matches; ++i)
        {
            const auto source = region.begin - length + (i - region.begin) % length;
            for (int ch = 0; ch < 2; ++ch)
                matches = matches && juce::exactlyEqual (output.getSample (ch, i), reference.getSample (ch, source));
        }

        if (matches)
            return length;
    }

    return 0;
}

std::unique_ptr<PluginHost> loadWithPattern (bool glitchOn, double sampleRate = rate, double bpm = 120.0,
                                             const char* const* rows = patternRows)
{
    auto host = loadPlugin (sampleRate, blockSize);
    if (host == nullptr)
        return nullptr;

    const auto saved = host->getComponentState();
    auto xml = juce::AudioProcessor::getXmlFromBinary (saved.getData(), (int) saved.getSize());
    if (xml == nullptr || xml->getChildByName ("GlitchGrid") == nullptr)
    {
        ADD_FAILURE() << "the module's state carries no glitch grid";
        return nullptr;
    }

    auto* grid = xml->getChildByName ("GlitchGrid");
    for (int row = 0; row < 5; ++row)
        grid->setAttribute ("row" + juce::String (row), rows[row]);

    juce::MemoryBlock edited;
    juce::AudioProcessor::copyXmlToBinary (*xml, edited);
    host->setComponentState (edited);

    setParameter (*host, "glitchOn", glitchOn ? 1.0f : 0.0f);

    HostPlayHead::Settings transport;
    transport.bpm = bpm;
    transport.playing = true;
    transport.ppqStart = 0.0;
    host->setTransport (transport);
    return host;
}

class GlitchRender : public ::testing::Test
{
protected:
    void SetUp() override
    {
        input = makeSignal (2, renderLength, rate, 0.3f);

        auto plain = loadWithPattern (false);
        auto glitched = loadWithPattern (true);
        ASSERT_NE (plain, nullptr);
        ASSERT_NE (glitched, nullptr);

        reference = input;
        plain->processInBlocks (reference);
        output = input;
        glitched->processInBlocks (output);

        ASSERT_TRUE (allFinite (output));
    }

    float out (int ch, int i) const { return output.getSample (ch, i); }
    float ref (int ch, int i) const { return reference.getSample (ch, i); }

    juce::AudioBuffer<float> input, reference, output;
};

TEST_F (GlitchRender, OutsideTheBlocksTheSignalIsUntouched)
{
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < renderLength; ++i)
        {
            bool inside = false;
            for (int row = 0; row < 5; ++row)
                inside = inside || regionOf (row).contains (i);

            if (! inside)
            {
                ASSERT_EQ (out (ch, i), ref (ch, i)) << "channel " << ch << " sample " << i;
            }
        }
}

TEST_F (GlitchRender, StutterRepeatsOneStretchFromBeforeItsStart)
{
    const auto region = regionOf (stutter);
    const auto found = repeatedLength (output, reference, region);

    EXPECT_GE (found, 100);
    EXPECT_LT (found, region.end - region.begin); // it does repeat inside the region
}

TEST_F (GlitchRender, TapeStopStartsLiveAndFadesOut)
{
    const auto region = regionOf (tapeStop);

    for (int ch = 0; ch < 2; ++ch)
    {
        EXPECT_EQ (out (ch, region.begin), ref (ch, region.begin));

        const auto tailStart = region.end - 1000;
        const auto tailRms = output.getRMSLevel (ch, tailStart, 1000);
        const auto referenceRms = reference.getRMSLevel (ch, tailStart, 1000);
        EXPECT_LT (tailRms, 0.05f * referenceRms) << ch;
    }
}

TEST_F (GlitchRender, CrushLeavesFewLevels)
{
    const auto region = regionOf (crush);

    for (int ch = 0; ch < 2; ++ch)
    {
        std::set<float> levels, referenceLevels;
        float lowest = 0.0f, highest = 0.0f;
        for (int i = region.begin; i < region.end; ++i)
        {
            levels.insert (out (ch, i));
            referenceLevels.insert (ref (ch, i));
            lowest = juce::jmin (lowest, ref (ch, i));
            highest = juce::jmax (highest, ref (ch, i));
        }

        // The default chaos draws fewer than 5 bits, so fewer than 2^5 steps per unit over the
        // signal's span (which the oversampling filters can push past +-1).
        const auto maxLevels = (size_t) std::ceil ((highest - lowest) * 32.0f) + 2;
        EXPECT_LE (levels.size(), maxLevels) << ch;
        EXPECT_GT (referenceLevels.size(), 200u) << ch;
    }
}

TEST_F (GlitchRender, ReversePlaysBackwardsFromTheNewestSample)
{
    const auto region = regionOf (reverse);

    for (int ch = 0; ch < 2; ++ch)
        for (int i = region.begin; i < region.end; ++i)
            ASSERT_EQ (out (ch, i), ref (ch, 2 * region.begin - 1 - i)) << "channel " << ch << " sample " << i;
}

TEST_F (GlitchRender, GateChopsInEqualHalves)
{
    const auto region = regionOf (gate);

    // Each sample either passes or is muted, both channels alike.
    int firstMuted = -1;
    for (int i = region.begin; i < region.end; ++i)
    {
        const bool silent = juce::exactlyEqual (out (0, i), 0.0f) && juce::exactlyEqual (out (1, i), 0.0f);
        const bool muted = silent && (! juce::exactlyEqual (ref (0, i), 0.0f) || ! juce::exactlyEqual (ref (1, i), 0.0f));
        if (! muted)
        {
            ASSERT_EQ (out (0, i), ref (0, i)) << i;
            ASSERT_EQ (out (1, i), ref (1, i)) << i;
        }
        else if (firstMuted < 0)
        {
            firstMuted = i;
        }
    }

    ASSERT_GE (firstMuted, 0);
    const auto half = firstMuted - region.begin + 1; // the first half period passes one sample short

    for (int i = region.begin; i < region.end; ++i)
    {
        const bool shouldMute = ((i - region.begin + 1) / half) % 2 == 1;
        if (shouldMute)
            ASSERT_EQ (out (0, i), 0.0f) << i;
        else
            ASSERT_EQ (out (0, i), ref (0, i)) << i;
    }
}

// At 192 kHz and 60 bpm a STUTTER block of four steps sounds for twice the capture ring's length.
TEST (GlitchRenderSlow, StutterRepeatsItsStretchForLongerThanTheRing)
{
    constexpr double slowRate = 192000.0;
    constexpr int slowStep = 48000; // a sixteenth note at 60 bpm
    constexpr int captureRing = 96000; // samples the plug-in keeps of its input
    const char* const rows[5] = { "0040000000000000", "0000000000000000", "0000000000000000",
                                  "0000000000000000", "0000000000000000" };

    auto plain = loadWithPattern (false, slowRate, 60.0, rows);
    auto glitched = loadWithPattern (true, slowRate, 60.0, rows);
    ASSERT_NE (plain, nullptr);
    ASSERT_NE (glitched, nullptr);
    setParameter (*glitched, "glitchChaos", 1.0f); // chaos 100: the shortest windows

    const auto input = makeSignal (2, 7 * slowStep, slowRate, 0.3f);
    const auto reference = render (*plain, input);
    const auto output = render (*glitched, input);

    const Region region { stepStart (2, slowStep), stepStart (6, slowStep) };
    ASSERT_GE (region.end - region.begin, 2 * captureRing);

    const auto found = repeatedLength (output, reference, region);
    EXPECT_GE (found, 100);
    EXPECT_LT (found, 3071); // the longest window chaos 100 allows at this rate
}
// The main job's render, as scripts/demo.sh makes it: its project file wrapped into state bytes,
// handed to the real zandor-host, and compared with the same render with the glitch switch off.
TEST (GlitchRenderDemo, EveryRowOfTheDemoProjectIsHeardOnItsOwnAndNothingClips)
{
    const auto project = sourceFile ("scripts/demo-state.xml");
    const auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("zandor-demo", {}, false);
    ASSERT_TRUE (folder.createDirectory());
    const auto state = folder.getChildFile ("demo.state");
    const auto wrapped = runProgram ({ "bash", sourceFile ("scripts/state-from-xml.sh").getFullPathName(),
                                       project.getFullPathName(), state.getFullPathName() });
    ASSERT_EQ (wrapped.exitCode, 0) << wrapped.output;

    // Each row's blocks, as the project's pattern holds them: (first step, length).
    const auto xml = juce::XmlDocument::parse (project);
    ASSERT_NE (xml, nullptr);
    const auto* grid = xml->getChildByName ("GlitchGrid");
    ASSERT_NE (grid, nullptr);
    std::vector<std::pair<int, int>> blocks[5];
    std::set<int> covered;
    for (int row = 0; row < 5; ++row)
    {
        const auto text = grid->getStringAttribute ("row" + juce::String (row));
        ASSERT_EQ (text.length(), 16) << row;
        for (int step = 0; step < 16; ++step)
            if (const auto length = juce::String::charToString (text[step]).getHexValue32(); length > 0)
            {
                blocks[row].push_back ({ step, length });
                for (int s = step; s < juce::jmin (16, step + length); ++s)
                    EXPECT_TRUE (covered.insert (s).second) << "row " << row << " shares step " << s << " with another row";
            }
        EXPECT_FALSE (blocks[row].empty()) << "row " << row << " has no block";
    }

    // Two bars at 120 bpm and 48 kHz in blocks of 512, the transport playing from the song's start.
    auto renderWith = [&] (const char* name, juce::StringArray extra)
    {
        const auto out = folder.getChildFile (name);
        juce::StringArray arguments { "render", bundleFile().getFullPathName(), "--seconds", "4", "--tempo", "120", "--playing",
                                      "--load-state", state.getFullPathName(), "--out", out.getFullPathName(), "--quiet" };
        arguments.addArray (extra);
        const auto result = runHostProgram (arguments);
        EXPECT_EQ (result.exitCode, 0) << result.output;
        EXPECT_TRUE (result.output.contains ("(the state it reports back has changed)")) << result.output;

        juce::AudioBuffer<float> audio;
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatReader> reader (wav.createReaderFor (out.createInputStream().release(), true));
        if (reader != nullptr)
        {
            audio.setSize ((int) reader->numChannels, (int) reader->lengthInSamples);
            reader->read (&audio, 0, audio.getNumSamples(), 0, true, true);
        }
        return audio;
    };
    const auto output = renderWith ("on.wav", {});
    const auto reference = renderWith ("off.wav", { "--set", "glitchOn=0" });
    folder.deleteRecursively();
    ASSERT_EQ (output.getNumChannels(), 2);
    ASSERT_EQ (output.getNumSamples(), 2 * renderLength);
    ASSERT_EQ (reference.getNumSamples(), output.getNumSamples());

    std::vector<bool> inBlock ((size_t) output.getNumSamples(), false);
    for (int row = 0; row < 5; ++row)
        for (const auto& [step, length] : blocks[row])
            for (int bar = 0; bar < 2; ++bar)
            {
                const Region region { stepStart (16 * bar + step), stepStart (16 * bar + juce::jmin (16, step + length)) };
                float difference = 0.0f;
                for (int ch = 0; ch < 2; ++ch)
                    for (int i = region.begin; i < region.end; ++i)
                    {
                        difference = juce::jmax (difference, std::abs (output.getSample (ch, i) - reference.getSample (ch, i)));
                        inBlock[(size_t) i] = true;
                    }

                // Even the finest CRUSH that chaos 70 draws moves samples by more than this.
                EXPECT_GT (difference, 0.02f) << "row " << row << ", step " << step << ", bar " << bar;
            }

    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < output.getNumSamples(); ++i)
        {
            if (! inBlock[(size_t) i])
            {
                ASSERT_EQ (output.getSample (ch, i), reference.getSample (ch, i)) << "channel " << ch << " sample " << i;
            }
        }

    // CRUSH rounds to at least two levels per unit, which lifts a peak of 0.75 at most to 1, so
    // the chain's own peak has to stay at 0.75 or below whatever depth it draws.
    EXPECT_LE (reference.getMagnitude (0, reference.getNumSamples()), 0.75f);
    EXPECT_LE (output.getMagnitude (0, output.getNumSamples()), 1.0f);
}

} // namespace
