#include "HostTestSupport.h"

#include <sys/resource.h>

using namespace hosttest;

namespace
{
    constexpr double rate = 48000.0;
    constexpr int blockSize = 512;
}

TEST (RenderHost, DryMixGivesInputTimesOutputGainForEveryModeAndDrive)
{
    struct Output { float normalised; float gain; };
    const Output outputs[] = {
        { 0.0f, std::pow (10.0f, -24.0f / 20.0f) },
        { 0.8f, 1.0f },
        { 1.0f, std::pow (10.0f, 6.0f / 20.0f) },
    };

    for (const int channels : { 2, 1 })
    {
        auto host = loadPlugin (rate, blockSize);
        ASSERT_NE (host, nullptr);
        if (channels == 1)
        {
            ASSERT_TRUE (host->setLayout (juce::AudioChannelSet::mono(), juce::AudioChannelSet::mono()));
        }

        const auto input = makeSignal (channels, blockSize * 6 + 100, rate);
        setParameter (*host, "mix", 0.0f);

        for (int mode = 0; mode < 4; ++mode)
        {
            for (const float drive : { 0.0f, 0.5f, 1.0f })
            {
                for (const auto& out : outputs)
                {
                    SCOPED_TRACE (juce::String ("channels ") + juce::String (channels) + ", mode " + juce::String (mode)
                                  + ", drive " + juce::String (drive) + ", output " + juce::String (out.normalised));
                    setParameter (*host, "mode", (float) mode / 3.0f);
                    setParameter (*host, "drive", drive);
                    setParameter (*host, "output", out.normalised);

                    const auto output = render (*host, input);
                    EXPECT_LT (maxDifference (output, input, out.gain), 1.0e-5f);
                }
            }
        }
    }
}

TEST (RenderHost, DefaultChainDrivesAndClipsTheSignal)
{
    auto host = loadPlugin (rate, blockSize);
    ASSERT_NE (host, nullptr);
    const auto input = makeSignal (2, blockSize * 20, rate, 0.3f);

    // Defaults: drive 50 (about +30 dB) into HARD CLIP, fully wet, filter open, 0 dB out.
    const auto output = render (*host, input);
    ASSERT_TRUE (allFinite (output));
    for (int channel = 0; channel < 2; ++channel)
    {
        const auto inRms = input.getRMSLevel (channel, 0, input.getNumSamples());
        const auto outRms = output.getRMSLevel (channel, 0, output.getNumSamples());
        const auto outPeak = output.getMagnitude (channel, blockSize, output.getNumSamples() - blockSize);
        EXPECT_GT (outRms, 2.5f * inRms) << "channel " << channel;
        EXPECT_GT (outPeak, 0.8f);
        // Clipped at 1 at four times the rate; the downsampling filters' ringing adds overshoot only.
        EXPECT_LT (outRms, 1.05f);
        EXPECT_LT (outPeak, 2.5f);
    }
}

TEST (RenderHost, BypassPassesTheInputUnchanged)
{
    auto host = loadPlugin (rate, blockSize);
    ASSERT_NE (host, nullptr);
    const auto input = makeSignal (2, blockSize * 4, rate);

    setParameter (*host, "drive", 1.0f);
    setParameter (*host, "mode", 1.0f);
    host->setParameter (PluginHost::getVstId (*host->findParameterByName ("Bypass")), 1.0f);

    const auto output = render (*host, input);
    EXPECT_EQ (maxDifference (output, input, 1.0f), 0.0f);
}

TEST (RenderHost, EveryModeStaysFiniteAtExtremeSettingsWithAndWithoutTransport)
{
    auto host = loadPlugin (rate, 256);
    ASSERT_NE (host, nullptr);
    auto input = makeSignal (2, 256 * 40, rate, 1.0f);
    input.setSample (0, 100, 50.0f);    // a wild sample, as a broken upstream plug-in might send
    input.setSample (1, 200, -50.0f);

    setParameter (*host, "drive", 1.0f);
    setParameter (*host, "filterReso", 1.0f);
    setParameter (*host, "filterCutoff", 0.0f);
    setParameter (*host, "glitchOn", 1.0f);
    setParameter (*host, "glitchChaos", 1.0f);

    HostPlayHead::Settings playing;
    playing.playing = true;
    playing.bpm = 174.0;

    for (int mode = 0; mode < 4; ++mode)
    {
        for (const bool withTransport : { true, false })
        {
            setParameter (*host, "mode", (float) mode / 3.0f);
            setParameter (*host, "filterType", (float) (mode % 3) / 2.0f);
            host->setTransport (playing);
            host->setPlayHeadEnabled (withTransport);
            EXPECT_TRUE (allFinite (render (*host, input))) << "mode " << mode << (withTransport ? " playing" : " no play head");
        }
    }
}

TEST (RenderHost, ComponentStateCarriesTheProcessorStateAndJuceTrailer)
{
    auto host = loadPlugin (rate, blockSize);
    ASSERT_NE (host, nullptr);

    setParameter (*host, "drive", 0.25f);
    auto block = makeSignal (2, blockSize, rate);
    host->processBlock (block);
    const auto saved = host->getComponentState();

    ASSERT_GT (saved.getSize(), 24u);
    const auto* bytes = static_cast<const char*> (saved.getData());
    EXPECT_EQ (juce::String (juce::CharPointer_UTF8 (bytes), 4), "VC2!");
    const juce::String tail (juce::CharPointer_UTF8 (bytes + saved.getSize() - 15), 15);
    EXPECT_EQ (tail, "JUCEPrivateData");

    const auto xml = juce::AudioProcessor::getXmlFromBinary (saved.getData(), (int) saved.getSize());
    ASSERT_NE (xml, nullptr);
    EXPECT_TRUE (xml->hasTagName ("Parameters"));

    // Loading it back after a change restores the value, and the host is told about it.
    setParameter (*host, "drive", 0.9f);
    host->processBlock (block);
    host->takeParameterChanges();
    host->setComponentState (saved);

    EXPECT_NEAR (host->getParameter (expectedVstId ("drive")), 0.25f, 1.0e-4f);
    const auto changes = host->takeParameterChanges();
    const auto driveChange = std::find_if (changes.begin(), changes.end(),
                                           [] (const ParameterChange& c) { return c.vstId == expectedVstId ("drive"); });
    ASSERT_NE (driveChange, changes.end());
    EXPECT_NEAR (driveChange->value, 0.25f, 1.0e-4f);

    // The host's own full state survives a round trip through a second instance.
    const auto full = host->getState();
    auto other = loadPlugin (rate, blockSize);
    ASSERT_NE (other, nullptr);
    other->setState (full);
    EXPECT_NEAR (other->getParameter (expectedVstId ("drive")), 0.25f, 1.0e-4f);
}

TEST (RenderHost, GarbageComponentStateKeepsTheCurrentSettings)
{
    auto host = loadPlugin (rate, blockSize);
    ASSERT_NE (host, nullptr);
    setParameter (*host, "mix", 0.3f);
    auto block = makeSignal (2, blockSize, rate);
    host->processBlock (block);

    // Too short, cut off, wrongly rooted or foreign: none of these is a state of this plug-in.
    const std::string garbage[] = { "x", "VC2!",
                                    std::string ("VC2!\x05\x00\x00\x00<Para", 13),
                                    std::string ("VC2!\x08\x00\x00\x00<Other/>\x00", 17),
                                    "not a state at all, but long enough" };
    for (const auto& bytes : garbage)
    {
        host->setComponentState (juce::MemoryBlock (bytes.data(), bytes.size()));
        EXPECT_NEAR (host->getParameter (expectedVstId ("mix")), 0.3f, 1.0e-4f) << bytes.size() << " bytes";
    }

    host->processBlock (block);
    EXPECT_TRUE (allFinite (block));
}

namespace
{
    /** The peak resident memory, in kilobytes, of a zandor-host run with these arguments; -1
        when it did not exit with code 0. */
    long peakMemoryOfRun (const juce::StringArray& arguments)
    {
        const auto child = startHostProgram (arguments);
        if (child <= 0)
            return -1;
        int status = 0;
        struct rusage usage {};
        if (::wait4 (child, &status, 0, &usage) != child || ! WIFEXITED (status) || WEXITSTATUS (status) != 0)
            return -1;
        return usage.ru_maxrss;
    }
}

TEST (RenderHost, MemoryStaysTheSameWhateverTheLength)
{
    // A memory bound, not a timing one: held whole, 110 s more of 48 kHz stereo would take
    // some 160 MB more.
    constexpr long allowedGrowthKb = 20 * 1024;
    const auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("zandor-render-memory", {}, false);
    ASSERT_TRUE (folder.createDirectory());
    const auto bundle = bundleFile().getFullPathName();
    const auto shortInput = folder.getChildFile ("short.wav").getFullPathName();
    const auto longInput = folder.getChildFile ("long.wav").getFullPathName();
    const auto output = folder.getChildFile ("out.wav").getFullPathName();
    ASSERT_GT (peakMemoryOfRun ({ "render", bundle, "--seconds", "10", "--quiet", "--out", shortInput }), 0);
    ASSERT_GT (peakMemoryOfRun ({ "render", bundle, "--seconds", "120", "--quiet", "--out", longInput }), 0);

    struct Case
    {
        const char* name;
        juce::StringArray shortRun, longRun;    // after "render BUNDLE --quiet"
    };

    const Case cases[] = {
        { "a generated signal into a file", { "--seconds", "10", "--out", output }, { "--seconds", "120", "--out", output } },
        { "a generated signal into a device", { "--seconds", "10", "--out", "/dev/null" }, { "--seconds", "120", "--out", "/dev/null" } },
        { "a file into a file", { "--in", shortInput, "--out", output }, { "--in", longInput, "--out", output } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        juce::StringArray shortRun { "render", bundle, "--quiet" }, longRun { "render", bundle, "--quiet" };
        shortRun.addArray (c.shortRun);
        longRun.addArray (c.longRun);
        const auto shortPeak = peakMemoryOfRun (shortRun);
        const auto longPeak = peakMemoryOfRun (longRun);
        ASSERT_GT (shortPeak, 0) << shortRun.joinIntoString (" ");
        ASSERT_GT (longPeak, 0) << longRun.joinIntoString (" ");
        EXPECT_LE (longPeak, shortPeak + allowedGrowthKb) << "peak resident memory: " << shortPeak << " kB for 10 s, "
                                                          << longPeak << " kB for 120 s";
    }
    folder.deleteRecursively();
}
