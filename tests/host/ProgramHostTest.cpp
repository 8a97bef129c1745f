#include "HostTestSupport.h"

#include <set>

using namespace hosttest;

namespace
{
    /** The number after "label" on the first output line that starts with it. */
    double numberAfter (const juce::String& output, const juce::String& label)
    {
        for (const auto& line : juce::StringArray::fromLines (output))
            if (line.startsWith (label))
                return line.fromFirstOccurrenceOf (label, false, false).trim().getDoubleValue();
        ADD_FAILURE() << "no line starting with \"" << label << "\" in:\n" << output;
        return 0.0;
    }
}

TEST (ProgramHost, InfoPrintsFactoryBusesAndParameters)
{
    const auto result = runHostProgram ({ "info", bundleFile().getFullPathName() });
    ASSERT_EQ (result.exitCode, 0) << result.output;

    for (const juce::String expected : { "vendor: \"ZandorPellumTessarine\"",
                                         "url: \"\"",
                                         "class 0: name \"Zandor Pellum\", category \"Audio Module Class\", sub-categories \"Fx\", version \"1.0.0\", sdk \"VST 3.7.12\"",
                                         "category \"Plugin Compatibility Class\"",
                                         "input bus 0: \"Input\"",
                                         "layout mono/mono: accepted",
                                         "layout mono/stereo: refused",
                                         "latency: 0 samples",
                                         "programs: 1",
                                         "parameters: 10",
                                         "name \"Bypass\"" })
        EXPECT_TRUE (result.output.contains (expected)) << expected << "\nin:\n" << result.output;

    const auto driveLine = "param 0: id " + juce::String (expectedVstId ("drive")) + ", name \"Drive\", default 0.500000 \"50.0\"";
    EXPECT_TRUE (result.output.contains (driveLine)) << result.output;
}

TEST (ProgramHost, RenderPrintsLevelsThatFollowTheOutputGain)
{
    const auto outFile = juce::File::createTempFile (".wav");
    const auto stateFile = juce::File::createTempFile (".state");
    const auto result = runHostProgram ({ "render", bundleFile().getFullPathName(), "--seconds", "0.5", "--block", "480",
                                          "--set", "mix=0", "--set", "output=-24", "--set", "mode=FOLDBACK",
                                          "--tempo", "140", "--playing", "--out", outFile.getFullPathName(),
                                          "--save-state", stateFile.getFullPathName() });
    ASSERT_EQ (result.exitCode, 0) << result.output;

    for (const int channel : { 0, 1 })
    {
        const auto prefix = juce::String (" channel ") + juce::String (channel) + ": peak";
        const auto inPeak = numberAfter (result.output, "input" + prefix);
        const auto outPeak = numberAfter (result.output, "output" + prefix);
        EXPECT_GT (inPeak, 0.1);
        EXPECT_NEAR (outPeak, inPeak * std::pow (10.0, -24.0 / 20.0), 1.0e-5);
    }
    EXPECT_TRUE (result.output.contains ("output finite: yes"));

    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (outFile));
    ASSERT_NE (reader, nullptr);
    EXPECT_EQ (reader->numChannels, 2u);
    EXPECT_EQ (reader->lengthInSamples, 24000);

    // The saved state loads into a fresh render and brings its settings along.
    const auto reloaded = runHostProgram ({ "render", bundleFile().getFullPathName(), "--seconds", "0.1",
                                            "--load-state", stateFile.getFullPathName(), "--set", "drive=10" });
    ASSERT_EQ (reloaded.exitCode, 0) << reloaded.output;
    EXPECT_TRUE (reloaded.output.contains ("param Mode = FOLDBACK")) << reloaded.output;
    EXPECT_TRUE (reloaded.output.contains ("param Output = -24.0")) << reloaded.output;

    outFile.deleteFile();
    stateFile.deleteFile();
}

TEST (ProgramHost, EditorOpensCyclesAndTakesAScreenshot)
{
    SKIP_WITHOUT_DISPLAY();
    const auto shot = juce::File::createTempFile (".png");
    const auto result = runHostProgram ({ "editor", bundleFile().getFullPathName(), "--seconds", "1.5", "--cycles", "2",
                                          "--screenshot", shot.getFullPathName() });
    ASSERT_EQ (result.exitCode, 0) << result.output;

    for (const juce::String expected : { "editor cycles: 2", "editor size: 820 x 700", "editor resizable: no",
                                         "window id: ", "window position: ", "editor position: ", "output finite: yes" })
        EXPECT_TRUE (result.output.contains (expected)) << expected << "\nin:\n" << result.output;
    EXPECT_GT (numberAfter (result.output, "audio blocks processed:"), 10.0);

    const auto image = juce::ImageFileFormat::loadFrom (shot);
    ASSERT_TRUE (image.isValid());
    EXPECT_GE (image.getWidth(), 820);
    EXPECT_GE (image.getHeight(), 700);
    EXPECT_GE (summariseImage (image, image.getBounds()).distinctColours, 16);

    // The colour figure is a true count of the picture, every pixel looked at.
    std::set<juce::uint32> colours;
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            colours.insert (image.getPixelAt (x, y).getARGB());
    const auto shotLine = "screenshot: " + shot.getFullPathName() + " (" + juce::String (image.getWidth()) + " x "
                        + juce::String (image.getHeight()) + ", " + juce::String ((int) colours.size()) + " distinct colours)";
    EXPECT_TRUE (result.output.contains (shotLine)) << shotLine << "\nnot in:\n" << result.output;
    shot.deleteFile();
}

TEST (ProgramHost, EditorOpensWithASavedStateAndPlaysFromTheGivenPosition)
{
    SKIP_WITHOUT_DISPLAY();
    const auto stateFile = juce::File::createTempFile (".state");
    ASSERT_EQ (runHostProgram ({ "render", bundleFile().getFullPathName(), "--seconds", "0.1", "--set", "drive=70",
                                 "--save-state", stateFile.getFullPathName() }).exitCode, 0);

    const auto result = runHostProgram ({ "editor", bundleFile().getFullPathName(), "--seconds", "0.5",
                                          "--load-state", stateFile.getFullPathName(), "--tempo", "90", "--ppq", "3.5" });
    ASSERT_EQ (result.exitCode, 0) << result.output;

    const auto handed = "state handed to the plug-in: " + juce::String (stateFile.getSize())
                      + " bytes (the state it reports back has changed)";
    for (const auto& expected : juce::StringArray { handed, "transport: 90 bpm, playing from ppq 3.5", "output finite: yes" })
        EXPECT_TRUE (result.output.contains (expected)) << expected << "\nnot in:\n" << result.output;

    // Without the options: the defaults, and no state handed over.
    const auto plain = runHostProgram ({ "editor", bundleFile().getFullPathName(), "--seconds", "0" });
    ASSERT_EQ (plain.exitCode, 0) << plain.output;
    EXPECT_TRUE (plain.output.contains ("transport: 120 bpm, playing from ppq 0")) << plain.output;
    EXPECT_FALSE (plain.output.contains ("state handed")) << plain.output;
    stateFile.deleteFile();
}

TEST (ProgramHost, BadArgumentsAreRefusedWithAMessage)
{
    struct Case { juce::StringArray arguments; int exitCode; const char* message; };
    const Case cases[] = {
        { { "render", bundleFile().getFullPathName(), "--bogus", "1" }, 1, "unknown option --bogus" },
        { { "render", bundleFile().getFullPathName(), "--set", "nothing=1" }, 1, "no parameter" },
        { { "render", bundleFile().getFullPathName(), "--set", "mode=7" }, 1, "choices 0 to 3" },
        { { "render", bundleFile().getFullPathName(), "--set", "drive=1.5n" }, 1, "out of 0..1" },
        { { "render", bundleFile().getFullPathName(), "--channels", "6" }, 1, "--channels" },
        { { "render", bundleFile().getFullPathName(), "--in", "/nonexistent.wav" }, 1, "cannot read" },
        { { "info", "/nonexistent/Nothing.vst3" }, 2, "no module binary" },
        { { "launch", bundleFile().getFullPathName() }, 1, "unknown command" },
        // Named before the bundle is asked for, which a mistyped command or option would not have.
        { { "frobnicate" }, 1, "zandor-host: unknown command \"frobnicate\" (see --help)" },
        { { "-V" }, 1, "zandor-host: unknown option \"-V\" (see --help)" },
        { { "--verbose", bundleFile().getFullPathName() }, 1, "zandor-host: unknown option \"--verbose\" (see --help)" },
    };

    for (const auto& c : cases)
    {
        const auto result = runHostProgram (c.arguments);
        EXPECT_EQ (result.exitCode, c.exitCode) << c.arguments.joinIntoString (" ") << "\n" << result.output;
        EXPECT_TRUE (result.output.contains (c.message)) << c.arguments.joinIntoString (" ") << "\n" << result.output;
    }
}
