#include "HostTestSupport.h"

#include <filesystem>
#include <set>

using namespace hosttest;

// What the program makes of its arguments and input files, seen from its output.
namespace
{
    struct Command
    {
        const char* name;
        std::vector<const char*> valueOptions;
    };

    const Command commands[] = {
        { "info", { "rate", "block" } },
        { "render", { "in", "out", "seconds", "rate", "block", "channels", "set", "tempo", "ppq", "load-state", "save-state" } },
        { "editor", { "seconds", "screenshot", "cycles", "rate", "block", "set", "tempo", "ppq", "load-state" } },
    };

    std::set<std::string> entriesIn (const juce::File& folder)
    {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator (folder.getFullPathName().toStdString()))
            names.insert (entry.path().filename().string());
        return names;
    }

    class CommandLineHost : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("zandor-command-line", {}, false);
            ASSERT_TRUE (folder.createDirectory());
        }

        void TearDown() override    { folder.deleteRecursively(); }

        juce::String inFolder (const char* name) const    { return folder.getChildFile (name).getFullPathName(); }

        juce::File folder;
    };
}

TEST_F (CommandLineHost, AnOptionWithoutItsValueIsNamedAndNothingIsWritten)
{
    for (const auto& command : commands)
    {
        for (const juce::String option : command.valueOptions)
        {
            // Another option of the same command, with its value; for render and editor one that
            // writes a file, so that a run that went ahead would show.
            juce::StringArray other;
            if (juce::String (command.name) == "info")
                other = option == "rate" ? juce::StringArray { "--block", "512" } : juce::StringArray { "--rate", "48000" };
            else if (juce::String (command.name) == "render")
                other = option == "out" ? juce::StringArray { "--save-state", inFolder ("state.bin") }
                                        : juce::StringArray { "--out", inFolder ("out.wav") };
            else
                other = option == "screenshot" ? juce::StringArray { "--seconds", "0" }
                                               : juce::StringArray { "--screenshot", inFolder ("shot.png") };

            // At the end, before another option, or given as an empty word.
            for (const auto place : { 0, 1, 2 })
            {
                juce::StringArray arguments { command.name, bundleFile().getFullPathName() };
                if (place == 0)
                {
                    arguments.addArray (other);
                    arguments.add ("--" + option);
                }
                else
                {
                    arguments.add ("--" + option);
                    if (place == 2)
                        arguments.add ("");
                    arguments.addArray (other);
                }
                SCOPED_TRACE (arguments.joinIntoString (" "));

                // Spawned directly: juce::ChildProcess would drop the empty word.
                const auto result = runHostProgramWithSeparateStreams (arguments);
                EXPECT_EQ (result.exitCode, 1) << result.standardError;
                EXPECT_EQ (result.standardError.trim(),
                           "zandor-host " + juce::String (command.name) + ": --" + option + " is missing its value");
                EXPECT_EQ (result.standardOutput.getSize(), 0u);
                EXPECT_TRUE (entriesIn (folder).empty());
            }
        }
    }
}

TEST_F (CommandLineHost, ValuesOutsideTheirRangeAreRefusedWithTheRange)
{
    struct Case
    {
        juce::StringArray arguments;    // after the command word and the bundle
        const char* message;            // for a refused run; nullptr for one that goes ahead
        const char* command = "render";
    };

    const Case cases[] = {
        { { "--set", "drive=150" }, "zandor-host render: \"drive\" takes 0.0 to 100.0, not \"150\"" },
        { { "--set", "drive=-10" }, "zandor-host render: \"drive\" takes 0.0 to 100.0, not \"-10\"" },
        { { "--set", "drive=1e400" }, "zandor-host render: \"drive\" takes 0.0 to 100.0, not \"1e400\"" },
        { { "--set", "output=20" }, "zandor-host render: \"output\" takes -24.0 to 6.0, not \"20\"" },
        { { "--set", "output=-24.5" }, "zandor-host render: \"output\" takes -24.0 to 6.0, not \"-24.5\"" },
        { { "--set", "filterCutoff=99999" }, "zandor-host render: \"filterCutoff\" takes 20 to 20000, not \"99999\"" },
        { { "--set", "Filter Resonance=11" }, "zandor-host render: \"Filter Resonance\" takes 0.10 to 10.00, not \"11\"" },
        { { "--set", "glitchChaos=100.5" }, "zandor-host render: \"glitchChaos\" takes 0.0 to 100.0, not \"100.5\"" },
        { { "--set", "drive=1.5n" }, "zandor-host render: \"drive\": normalised value out of 0..1: \"1.5n\"" },
        { { "--set", "mix=-0.25n" }, "zandor-host render: \"mix\": normalised value out of 0..1: \"-0.25n\"" },
        { { "--set", "mix=1e400n" }, "zandor-host render: \"mix\": normalised value out of 0..1: \"1e400n\"" },
        { { "--set", "mode=4" }, "zandor-host render: \"mode\" has choices 0 to 3 (HARD CLIP, SOFT CLIP, BITCRUSH, FOLDBACK), not \"4\"" },
        { { "--set", "mode=4294967296" }, "zandor-host render: \"mode\" has choices 0 to 3 (HARD CLIP, SOFT CLIP, BITCRUSH, FOLDBACK), not \"4294967296\"" },
        { { "--set", "filterType=NOTCH" }, "zandor-host render: \"filterType\" has choices 0 to 2 (LOWPASS, HIGHPASS, BANDPASS), not \"NOTCH\"" },
        { { "--channels", "1.5" }, "zandor-host render: --channels wants a whole number from 1 to 2, not \"1.5\"" },
        { { "--block", "256.5" }, "zandor-host render: --block wants a whole number from 1 to 65536, not \"256.5\"" },
        { { "--seconds", "1e400" }, "zandor-host render: --seconds wants a number from 0 to 3600, not \"1e400\"" },
        { { "--seconds", "e" }, "zandor-host render: --seconds wants a number from 0 to 3600, not \"e\"" },
        { { "--tempo", "-5" }, "zandor-host render: --tempo wants a number from 1 to 999, not \"-5\"" },
        { { "--cycles", "1.5", "--seconds", "0" }, "zandor-host editor: --cycles wants a whole number from 0 to 10000, not \"1.5\"", "editor" },
        { { "--block", "64.5", "--seconds", "0" }, "zandor-host editor: --block wants a whole number from 1 to 65536, not \"64.5\"", "editor" },
        { { "--tempo", "0", "--seconds", "0" }, "zandor-host editor: --tempo wants a number from 1 to 999, not \"0\"", "editor" },
        { { "--ppq", "x", "--seconds", "0" }, "zandor-host editor: --ppq wants a number from -1e+06 to 1e+09, not \"x\"", "editor" },
        { { "--load-state", "/nonexistent.state", "--seconds", "0" }, "zandor-host editor: cannot read state from /nonexistent.state", "editor" },
        { { "--block", "0.5" }, "zandor-host info: --block wants a whole number from 1 to 65536, not \"0.5\"", "info" },
        // The ends themselves and negative values in range are taken, the sign not read as an option.
        { { "--set", "output=-6" }, nullptr },
        { { "--set", "output=6", "--set", "drive=100", "--set", "filterCutoff=20" }, nullptr },
        { { "--set", "mix=0n", "--channels", "1", "--block", "1e2", "--ppq", "-4", "--playing" }, nullptr },
    };

    for (const auto& c : cases)
    {
        // The case's own options come last, so that they win over these.
        juce::StringArray arguments { c.command, bundleFile().getFullPathName() };
        if (juce::String (c.command) == "render")
            arguments.addArray ({ "--seconds", "0.05", "--out", inFolder ("out.wav") });
        arguments.addArray (c.arguments);
        SCOPED_TRACE (arguments.joinIntoString (" "));

        const auto result = runHostProgram (arguments);
        if (c.message != nullptr)
        {
            EXPECT_EQ (result.exitCode, 1) << result.output;
            EXPECT_EQ (result.output.trim(), juce::String (c.message));
            EXPECT_TRUE (entriesIn (folder).empty());
        }
        else
        {
            EXPECT_EQ (result.exitCode, 0) << result.output;
            EXPECT_TRUE (folder.getChildFile ("out.wav").existsAsFile()) << result.output;
            EXPECT_TRUE (folder.getChildFile ("out.wav").deleteFile());
        }
    }

    // What the accepted ones set, as the plug-in reports it.
    const auto result = runHostProgram ({ "render", bundleFile().getFullPathName(), "--seconds", "0.05", "--set", "output=-6",
                                          "--set", "filterCutoff=20", "--ppq", "-4", "--block", "1e2" });
    ASSERT_EQ (result.exitCode, 0) << result.output;
    for (const auto* line : { "param Output = -6.0 ", "param Filter Cutoff = 20 ", "blocks of 100, 120 bpm, stopped from ppq -4" })
        EXPECT_TRUE (result.output.contains (line)) << line << "\nnot in:\n" << result.output;
}

TEST_F (CommandLineHost, VersionIsTheHostsOwn)
{
    const auto result = runHostProgramWithSeparateStreams ({ "--version" });
    EXPECT_EQ (result.exitCode, 0) << result.standardError;
    EXPECT_EQ (result.standardOutput.toString(), "zandor-host " ZANDOR_PROJECT_VERSION "\n");
    EXPECT_EQ (result.standardError.trim(), "");
}

TEST_F (CommandLineHost, InfoChecksItsArgumentsBeforePrintingAnything)
{
    struct Case { juce::StringArray options; const char* message; };
    const Case cases[] = {
        { { "--rate", "0" }, "zandor-host info: --rate wants a number from 8000 to 384000, not \"0\"" },
        { { "--rate", "abc" }, "zandor-host info: --rate wants a number from 8000 to 384000, not \"abc\"" },
        { { "--block", "0" }, "zandor-host info: --block wants a whole number from 1 to 65536, not \"0\"" },
        { { "--rate", "48000", "--block", "70000" }, "zandor-host info: --block wants a whole number from 1 to 65536, not \"70000\"" },
    };

    for (const auto& c : cases)
    {
        juce::StringArray arguments { "info", bundleFile().getFullPathName() };
        arguments.addArray (c.options);
        const auto result = runHostProgram (arguments);
        EXPECT_EQ (result.exitCode, 1) << result.output;
        EXPECT_EQ (result.output.trim(), juce::String (c.message)) << arguments.joinIntoString (" ");
    }
}

TEST_F (CommandLineHost, LoadStateSaysTheBytesWereHandedOverAndShowsWhatTookEffect)
{
    const auto saved = folder.getChildFile ("saved.state");
    ASSERT_EQ (runHostProgram ({ "render", bundleFile().getFullPathName(), "--seconds", "0.05", "--set", "drive=70",
                                 "--set", "mode=FOLDBACK", "--save-state", saved.getFullPathName() }).exitCode, 0);

    juce::MemoryBlock randomBytes (1000);
    juce::Random (15).fillBitsRandomly (randomBytes.getData(), randomBytes.getSize());
    const auto garbage = folder.getChildFile ("random.state");
    ASSERT_TRUE (garbage.replaceWithData (randomBytes.getData(), randomBytes.getSize()));

    struct Case
    {
        const char* name;
        juce::StringArray options;
        const char* handedLine;              // nullptr: no state given, no such line
        std::vector<const char*> parameterLines;
        int expectedParameterLines;
    };

    const auto size = juce::String (saved.getSize());
    const auto savedLine = "state handed to the plug-in: " + size + " bytes (the state it reports back has changed)";
    const Case cases[] = {
        { "random bytes, ignored", { "--load-state", garbage.getFullPathName() },
          "state handed to the plug-in: 1000 bytes (the state it reports back is unchanged)",
          { "param Drive = 50.0 (0.500000)", "param Mode = HARD CLIP (0.000000)", "param Bypass = Off (0.000000)" }, 10 },
        { "a saved state, taken", { "--load-state", saved.getFullPathName() }, savedLine.toRawUTF8(),
          { "param Drive = 70.0 (0.700000)", "param Mode = FOLDBACK (1.000000)", "param Mix = 100.0 (1.000000)" }, 10 },
        { "a saved state, then a setting", { "--load-state", saved.getFullPathName(), "--set", "mix=25" }, savedLine.toRawUTF8(),
          { "param Drive = 70.0 (0.700000)", "param Mix = 25.0 (0.250000)" }, 10 },
        { "neither", {}, nullptr, {}, 0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        juce::StringArray arguments { "render", bundleFile().getFullPathName(), "--seconds", "0.05" };
        arguments.addArray (c.options);
        const auto result = runHostProgram (arguments);
        ASSERT_EQ (result.exitCode, 0) << result.output;

        EXPECT_FALSE (result.output.contains ("state loaded")) << result.output;
        if (c.handedLine != nullptr)
        {
            EXPECT_TRUE (result.output.contains (c.handedLine)) << result.output;
        }
        for (const auto* line : c.parameterLines)
            EXPECT_TRUE (result.output.contains (line)) << line << "\nnot in:\n" << result.output;

        int parameterLines = 0;
        for (const auto& line : juce::StringArray::fromLines (result.output))
            parameterLines += line.startsWith ("param ") ? 1 : 0;
        EXPECT_EQ (parameterLines, c.expectedParameterLines) << result.output;
    }
}

TEST_F (CommandLineHost, ACutOffInputRendersWhatItHoldsAndSaysSo)
{
    struct Case
    {
        const char* name;
        bool aiff;
        int channels, bits;
        juce::int64 announced, held;
        int strayBytes;    // of a frame cut part way
    };

    const Case cases[] = {
        { "16-bit stereo WAV", false, 2, 16, 96000, 4992, 0 },
        { "24-bit mono WAV cut inside a frame", false, 1, 24, 48000, 1000, 2 },
        { "32-bit float stereo WAV", false, 2, 32, 24000, 2400, 0 },
        { "16-bit stereo AIFF", true, 2, 16, 96000, 4992, 3 },
        { "a WAV that holds what it announces", false, 2, 16, 4800, 4800, 0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto input = folder.getChildFile (c.aiff ? "input.aiff" : "input.wav");
        const auto output = folder.getChildFile ("out.wav");
        {
            std::unique_ptr<juce::AudioFormat> format;
            if (c.aiff)
                format = std::make_unique<juce::AiffAudioFormat>();
            else
                format = std::make_unique<juce::WavAudioFormat>();
            auto stream = input.createOutputStream();
            ASSERT_NE (stream, nullptr);
            std::unique_ptr<juce::AudioFormatWriter> writer (format->createWriterFor (stream.get(), 48000.0, (unsigned int) c.channels,
                                                                                      c.bits, {}, 0));
            ASSERT_NE (writer, nullptr);
            stream.release();
            const auto signal = makeSignal (c.channels, (int) c.announced, 48000.0);
            ASSERT_TRUE (writer->writeFromAudioSampleBuffer (signal, 0, signal.getNumSamples()));
        }

        // The sample data comes last: cutting the file's end cuts the data.
        juce::MemoryBlock bytes;
        ASSERT_TRUE (input.loadFileAsData (bytes));
        const auto missing = (c.announced - c.held) * c.channels * (c.bits / 8) - c.strayBytes;
        bytes.setSize (bytes.getSize() - (size_t) missing);
        ASSERT_TRUE (input.replaceWithData (bytes.getData(), bytes.getSize()));

        const auto result = runHostProgram ({ "render", bundleFile().getFullPathName(), "--in", input.getFullPathName(),
                                              "--out", output.getFullPathName() });
        EXPECT_EQ (result.exitCode, 0) << result.output;

        const auto notice = "zandor-host render: " + input.getFullPathName() + " holds " + juce::String (c.held)
                          + " samples per channel, but its header announces " + juce::String (c.announced)
                          + "; rendering the " + juce::String (c.held) + " it holds";
        EXPECT_EQ (result.output.contains (notice), c.held < c.announced) << result.output;
        EXPECT_EQ (result.output.contains ("header announces"), c.held < c.announced) << result.output;
        EXPECT_TRUE (result.output.contains ("rendering: " + juce::String (c.held / 48000.0, 3) + " s")) << result.output;

        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatReader> reader (wav.createReaderFor (output.createInputStream().release(), true));
        ASSERT_NE (reader, nullptr);
        EXPECT_EQ (reader->lengthInSamples, c.held);
        reader.reset();
        EXPECT_TRUE (output.deleteFile());
        EXPECT_TRUE (input.deleteFile());
    }
}
