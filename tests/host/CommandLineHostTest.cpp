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

    /** A WAV file's bytes, its header written by hand so that any format tag, bit count and
        block size can be given; a sub-format makes it WAVE_FORMAT_EXTENSIBLE. */
    juce::MemoryBlock makeWav (int tag, int channels, juce::uint32 rate, int bits, int blockAlign, const juce::MemoryBlock& data,
                               int subFormat = -1)
    {
        juce::MemoryOutputStream format;
        format.writeShort ((short) (subFormat >= 0 ? 0xfffe : tag));
        format.writeShort ((short) channels);
        format.writeInt ((int) rate);
        format.writeInt ((int) (rate * (juce::uint32) blockAlign));
        format.writeShort ((short) blockAlign);
        format.writeShort ((short) bits);
        if (subFormat >= 0)
        {
            format.writeShort (22);
            format.writeShort ((short) bits);                    // valid bits
            format.writeInt (channels == 2 ? 3 : 4);             // front left and right, or centre
            format.writeShort ((short) subFormat);
            const juce::uint8 guidTail[] = { 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71 };
            format.write (guidTail, sizeof (guidTail));
        }

        juce::MemoryOutputStream file;
        file.write ("RIFF", 4);
        file.writeInt ((int) (4 + 8 + format.getDataSize() + 8 + data.getSize()));
        file.write ("WAVEfmt ", 8);
        file.writeInt ((int) format.getDataSize());
        file << format.getMemoryBlock();
        file.write ("data", 4);
        file.writeInt ((int) data.getSize());
        file << data;
        return file.getMemoryBlock();
    }

    /** An AIFC file of 8000 Hz mono with the given compression type. */
    juce::MemoryBlock makeAifc (const char* compression, const juce::MemoryBlock& data)
    {
        juce::MemoryOutputStream file;
        file.write ("FORM", 4);
        file.writeIntBigEndian ((int) (4 + 8 + 24 + 8 + 8 + data.getSize()));
        file.write ("AIFCCOMM", 8);
        file.writeIntBigEndian (24);
        file.writeShortBigEndian (1);
        file.writeIntBigEndian ((int) data.getSize());
        file.writeShortBigEndian (16);
        const juce::uint8 rate8000[] = { 0x40, 0x0b, 0xfa, 0, 0, 0, 0, 0, 0, 0 };    // 80-bit extended
        file.write (rate8000, sizeof (rate8000));
        file.write (compression, 4);
        file.writeShort (0);                                     // an empty name, padded
        file.write ("SSND", 4);
        file.writeIntBigEndian ((int) (8 + data.getSize()));
        file.writeIntBigEndian (0);
        file.writeIntBigEndian (0);
        file << data;
        return file.getMemoryBlock();
    }

    /** A FLAC file of the signal, written by JUCE's encoder at the given compression level. */
    bool writeFlac (const juce::File& file, const juce::AudioBuffer<float>& signal, int bits, int level = 5)
    {
        file.deleteFile();
        auto stream = file.createOutputStream();
        if (stream == nullptr)
            return false;
        juce::FlacAudioFormat flac;
        std::unique_ptr<juce::AudioFormatWriter> writer (flac.createWriterFor (stream.get(), 48000.0, (unsigned int) signal.getNumChannels(),
                                                                               bits, {}, level));
        if (writer == nullptr)
            return false;
        stream.release();
        return writer->writeFromAudioSampleBuffer (signal, 0, signal.getNumSamples());
    }

    juce::AudioBuffer<float> readAudioFile (const juce::File& file, juce::int64 maximumLength = -1)
    {
        juce::AudioFormatManager formats;
        formats.registerBasicFormats();
        std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (file.createInputStream()));
        if (reader == nullptr)
            return {};
        const auto length = (int) (maximumLength >= 0 ? juce::jmin (maximumLength, reader->lengthInSamples) : reader->lengthInSamples);
        juce::AudioBuffer<float> signal ((int) reader->numChannels, length);
        reader->read (&signal, 0, length, 0, true, true);
        return signal;
    }

    /** The report's lines that start so, in order. */
    juce::StringArray linesStartingWith (const juce::String& output, const juce::String& start)
    {
        juce::StringArray lines;
        for (const auto& line : juce::StringArray::fromLines (output))
            if (line.startsWith (start))
                lines.add (line);
        return lines;
    }

    class CommandLineHost : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            // mkdtemp picks and makes the name in one step, so cases running side by side in
            // other processes never share a folder.
            auto pattern = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("zandor-command-line-XXXXXX")
                               .getFullPathName().toStdString();
            ASSERT_NE (::mkdtemp (pattern.data()), nullptr) << pattern;
            folder = juce::File (pattern);
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
        { { "--set", "drive=" }, "zandor-host render: --set \"drive=\" is missing its value" },
        { { "--set", "mode= " }, "zandor-host render: --set \"mode= \" is missing its value" },
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
    enum class Format { wav, aiff, flac };
    struct Case
    {
        const char* name;
        Format format;
        int channels, bits;
        juce::int64 announced, held;
        int strayBytes;    // of a frame cut part way
    };

    // JUCE's FLAC encoder at level 5 codes frames of 4096 samples, so a FLAC holds whole frames.
    const Case cases[] = {
        { "16-bit stereo WAV", Format::wav, 2, 16, 96000, 4992, 0 },
        { "24-bit mono WAV cut inside a frame", Format::wav, 1, 24, 48000, 1000, 2 },
        { "32-bit float stereo WAV", Format::wav, 2, 32, 24000, 2400, 0 },
        { "16-bit stereo AIFF", Format::aiff, 2, 16, 96000, 4992, 3 },
        { "a WAV that holds what it announces", Format::wav, 2, 16, 4800, 4800, 0 },
        { "16-bit stereo FLAC cut inside a frame", Format::flac, 2, 16, 96000, 3 * 4096, 100 },
        { "24-bit mono FLAC cut at the end of a frame", Format::flac, 1, 24, 48000, 5 * 4096, 0 },
        { "16-bit stereo FLAC cut inside its first frame", Format::flac, 2, 16, 48000, 0, 200 },
        { "16-bit stereo FLAC cut inside its last frame, which is short", Format::flac, 2, 16, 30000, 7 * 4096, 100 },
        { "a FLAC that holds what it announces", Format::flac, 2, 16, 30000, 30000, 0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto input = folder.getChildFile (c.format == Format::aiff ? "input.aiff" : (c.format == Format::flac ? "input.flac" : "input.wav"));
        const auto output = folder.getChildFile ("out.wav");
        const auto signal = makeSignal (c.channels, (int) c.announced, 48000.0);
        const auto write = [&] (const juce::File& file, int length)
        {
            const juce::AudioBuffer<float> part (const_cast<float* const*> (signal.getArrayOfReadPointers()), c.channels, length);
            if (c.format == Format::flac)
                return writeFlac (file, part, c.bits);

            std::unique_ptr<juce::AudioFormat> format;
            if (c.format == Format::aiff)
                format = std::make_unique<juce::AiffAudioFormat>();
            else
                format = std::make_unique<juce::WavAudioFormat>();
            auto stream = file.createOutputStream();
            if (stream == nullptr)
                return false;
            std::unique_ptr<juce::AudioFormatWriter> writer (format->createWriterFor (stream.get(), 48000.0, (unsigned int) c.channels,
                                                                                      c.bits, {}, 0));
            if (writer == nullptr)
                return false;
            stream.release();
            return writer->writeFromAudioSampleBuffer (part, 0, length);
        };
        ASSERT_TRUE (write (input, (int) c.announced));
        const auto whole = readAudioFile (input);

        // The sample data comes last: cutting the file's end cuts the data. A FLAC of the held
        // samples alone has the same header and frames as the first part of the whole one.
        juce::MemoryBlock bytes;
        ASSERT_TRUE (input.loadFileAsData (bytes));
        juce::int64 kept = 0;
        if (c.format == Format::flac)
        {
            const auto part = folder.getChildFile ("part.flac");
            ASSERT_TRUE (write (part, (int) c.held));
            kept = part.getSize() + c.strayBytes;
            ASSERT_TRUE (part.deleteFile());
        }
        else
        {
            kept = (juce::int64) bytes.getSize() - (c.announced - c.held) * c.channels * (c.bits / 8) + c.strayBytes;
        }
        bytes.setSize ((size_t) kept);
        ASSERT_TRUE (input.replaceWithData (bytes.getData(), bytes.getSize()));

        // Dry, so that the output is the input as read: silence padded on would show.
        const auto result = runHostProgram ({ "render", bundleFile().getFullPathName(), "--in", input.getFullPathName(),
                                              "--out", output.getFullPathName(), "--set", "mix=0" });
        EXPECT_EQ (result.exitCode, 0) << result.output;

        const auto notice = "zandor-host render: " + input.getFullPathName() + " holds " + juce::String (c.held)
                          + " samples per channel, but its header announces " + juce::String (c.announced)
                          + "; rendering the " + juce::String (c.held) + " it holds";
        EXPECT_EQ (result.output.contains (notice), c.held < c.announced) << result.output;
        EXPECT_EQ (result.output.contains ("header announces"), c.held < c.announced) << result.output;
        EXPECT_TRUE (result.output.contains ("rendering: " + juce::String (c.held / 48000.0, 3) + " s")) << result.output;

        const auto rendered = readAudioFile (output);
        ASSERT_EQ (rendered.getNumSamples(), c.held);
        const auto channels = juce::jmin (2, rendered.getNumChannels());
        for (int channel = 0; channel < channels; ++channel)
            for (int i = 0; i < rendered.getNumSamples(); ++i)
                ASSERT_NEAR (rendered.getSample (channel, i), whole.getSample (juce::jmin (channel, c.channels - 1), i), 1.0e-5f)
                    << "channel " << channel << ", sample " << i;
        EXPECT_TRUE (output.deleteFile());
        EXPECT_TRUE (input.deleteFile());
    }
}

TEST_F (CommandLineHost, AnInputIsReadByWhatItHoldsAndARefusedOneSaysWhy)
{
    // Stereo samples with their low four bits clear: as 16-bit words they are also 12-bit samples
    // left-justified in 16-bit containers, so every readable case below holds the same values.
    constexpr int frames = 9600;
    const auto signal = makeSignal (2, frames, 48000.0);
    juce::MemoryOutputStream words;
    juce::AudioBuffer<float> exact (2, frames);
    for (int i = 0; i < frames; ++i)
    {
        for (int channel = 0; channel < 2; ++channel)
        {
            const auto word = (int) std::lround (signal.getSample (channel, i) * 32767.0f) & ~15;
            words.writeShort ((short) word);
            exact.setSample (channel, i, (float) word / 32768.0f);
        }
    }
    const auto pcm = words.getMemoryBlock();
    const auto wav16 = makeWav (1, 2, 48000, 16, 4, pcm);
    const juce::MemoryBlock someBytes (4800, true);

    const auto flacFile = folder.getChildFile ("made.flac");
    ASSERT_TRUE (writeFlac (flacFile, exact, 16));
    juce::MemoryBlock flac;
    ASSERT_TRUE (flacFile.loadFileAsData (flac));
    ASSERT_TRUE (flacFile.deleteFile());

    juce::MemoryOutputStream mp3;
    mp3.write ("ID3\x03\x00\x00\x00\x00\x00\x00", 10);
    mp3.write ("\xff\xfb\x90\x00", 4);
    mp3 << someBytes;
    juce::MemoryOutputStream opus;
    opus.write ("OggS", 4);
    opus.writeRepeatedByte (0, 24);
    opus.write ("OpusHead", 8);
    opus << someBytes;

    // What the plain 16-bit WAV, named as such, reads as.
    const auto reference = folder.getChildFile ("reference.wav");
    ASSERT_TRUE (reference.replaceWithData (wav16.getData(), wav16.getSize()));
    const auto referenceRun = runHostProgram ({ "render", bundleFile().getFullPathName(), "--in", reference.getFullPathName() });
    ASSERT_EQ (referenceRun.exitCode, 0) << referenceRun.output;
    const auto referenceLevels = linesStartingWith (referenceRun.output, "input channel");
    ASSERT_EQ (referenceLevels.size(), 2) << referenceRun.output;
    ASSERT_TRUE (reference.deleteFile());

    const juce::String unsupported (", which is not supported (the host reads 8- to 32-bit integer PCM and 32-bit float WAV or AIFF, "
                                    "FLAC and Ogg Vorbis)");
    const auto muLaw = juce::String::fromUTF8 ("\xc2\xb5-law");
    struct Case
    {
        const char* name;
        const char* fileName;
        juce::MemoryBlock bytes;
        bool throughPipe;
        juce::String message;    // with {in} for the input's name; empty for an input that renders
    };

    const Case cases[] = {
        { "a WAV named .txt", "take.txt", wav16, false, {} },
        { "a WAV named .wave", "take.wave", wav16, false, {} },
        { "a WAV without an extension", "take", wav16, false, {} },
        { "a FLAC named .wav", "take.wav", flac, false, {} },
        { "a WAV through a pipe", "piped.wav", wav16, true, {} },
        { "a FLAC through a pipe", "piped.flac", flac, true, {} },
        { "12-bit PCM in 16-bit containers", "twelve.wav", makeWav (1, 2, 48000, 12, 4, pcm), false, {} },
        { "12-bit extensible PCM whose container says 12", "twelve-ext.wav", makeWav (1, 2, 48000, 12, 4, pcm, 1), false, {} },
        { "12-bit extensible PCM in 16-bit containers", "sixteen-ext.wav", makeWav (1, 2, 48000, 16, 4, pcm, 1), false, {} },
        { "the lowest rate", "low.wav", makeWav (1, 2, 8000, 16, 4, pcm), false, {} },
        { "the highest rate", "high.wav", makeWav (1, 2, 384000, 16, 4, pcm), false, {} },
        { "a WAV of 1 Hz", "one.wav", makeWav (1, 2, 1, 16, 4, pcm), false,
          "the sample rate of {in}, 1 Hz, is outside what --rate takes: a number from 8000 to 384000" },
        { "a WAV of 0 Hz", "zero.wav", makeWav (1, 2, 0, 16, 4, pcm), false,
          "the sample rate of {in}, 0 Hz, is outside what --rate takes: a number from 8000 to 384000" },
        { "a WAV of 4000 Hz", "low.wav", makeWav (1, 2, 4000, 16, 4, pcm), false,
          "the sample rate of {in}, 4000 Hz, is outside what --rate takes: a number from 8000 to 384000" },
        { "a WAV of 768000 Hz through a pipe", "high.wav", makeWav (1, 2, 768000, 16, 4, pcm), true,
          "the sample rate of {in}, 768000 Hz, is outside what --rate takes: a number from 8000 to 384000" },
        { "12-bit PCM packed in 3 bytes a frame", "packed.wav", makeWav (1, 2, 48000, 12, 3, someBytes), false,
          "cannot read audio from {in}: its samples are 12 bits each, packed in frames of 3 bytes for 2 channel(s)" + unsupported },
        { "mu-law", "mulaw.wav", makeWav (7, 1, 8000, 8, 1, someBytes), false,
          "cannot read audio from {in}: it is a WAV file in " + muLaw + " (format tag 7)" + unsupported },
        { "mu-law through a pipe", "mulaw.wav", makeWav (7, 1, 8000, 8, 1, someBytes), true,
          "cannot read audio from {in}: it is a WAV file in " + muLaw + " (format tag 7)" + unsupported },
        { "A-law", "alaw.wav", makeWav (6, 1, 8000, 8, 1, someBytes), false,
          "cannot read audio from {in}: it is a WAV file in A-law (format tag 6)" + unsupported },
        { "IMA ADPCM", "ima.wav", makeWav (0x11, 1, 8000, 4, 256, someBytes), false,
          "cannot read audio from {in}: it is a WAV file in IMA ADPCM (format tag 0x11)" + unsupported },
        { "64-bit float", "double.wav", makeWav (3, 1, 48000, 64, 8, someBytes), false,
          "cannot read audio from {in}: it is a WAV file in 64-bit float (format tag 3)" + unsupported },
        { "64-bit float, extensible", "double-ext.wav", makeWav (0, 1, 48000, 64, 8, someBytes, 3), false,
          "cannot read audio from {in}: it is a WAV file in 64-bit float (WAVE_FORMAT_EXTENSIBLE, sub-format 3)" + unsupported },
        { "AIFC mu-law", "mulaw.aifc", makeAifc ("ulaw", someBytes), false,
          "cannot read audio from {in}: it is an AIFC file in " + muLaw + " (compression type \"ulaw\")" + unsupported },
        { "MP3", "song.mp3", mp3.getMemoryBlock(), false, "cannot read audio from {in}: it is an MP3 file (MPEG audio)" + unsupported },
        { "MP3 named .wav through a pipe", "song.wav", mp3.getMemoryBlock(), true,
          "cannot read audio from {in}: it is an MP3 file (MPEG audio)" + unsupported },
        { "Ogg Opus", "voice.ogg", opus.getMemoryBlock(), false, "cannot read audio from {in}: it is an Ogg file of Opus" + unsupported },
        { "text", "notes.wav", juce::MemoryBlock ("not audio at all, only words", 28), false,
          "cannot read audio from {in}: it is not a WAV, AIFF, FLAC or Ogg Vorbis file, the formats the host reads" },
        { "an empty file", "empty.wav", {}, false, "cannot read audio from {in}: it is empty" },
        { "nothing through a pipe", "empty.wav", {}, true, "cannot read audio from {in}: it is empty" },
    };

    // Standard input is held in a temporary file in TMPDIR while it is read, and never left there.
    const auto spool = folder.getChildFile ("spool");
    ASSERT_TRUE (spool.createDirectory());

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto input = folder.getChildFile (c.fileName);
        const auto output = folder.getChildFile ("out.wav");
        // (replaceWithData would delete the file for no bytes.)
        ASSERT_TRUE (c.bytes.isEmpty() ? input.create().wasOk() : input.replaceWithData (c.bytes.getData(), c.bytes.getSize()));

        const juce::StringArray options { "render", bundleFile().getFullPathName(), "--in", c.throughPipe ? "-" : input.getFullPathName(),
                                          "--out", output.getFullPathName() };
        ProgramResult result;
        if (c.throughPipe)
        {
            juce::StringArray command { "/bin/sh", "-c", "export TMPDIR=\"$1\"; cat \"$2\" | \"$3\" \"$4\" \"$5\" \"$6\" \"$7\" \"$8\" \"$9\"",
                                        "sh", spool.getFullPathName(), input.getFullPathName(), hostProgram().getFullPathName() };
            command.addArray (options);
            result = runProgram (command);
        }
        else
        {
            result = runHostProgram (options);
        }

        if (c.message.isEmpty())
        {
            EXPECT_EQ (result.exitCode, 0) << result.output;
            EXPECT_EQ (linesStartingWith (result.output, "input channel"), referenceLevels) << result.output;
            EXPECT_FALSE (result.output.contains ("header announces")) << result.output;
            EXPECT_EQ (readAudioFile (output).getNumSamples(), frames);
        }
        else
        {
            const auto name = c.throughPipe ? juce::String ("standard input") : input.getFullPathName();
            EXPECT_EQ (result.exitCode, 1) << result.output;
            EXPECT_EQ (result.output.trim(), "zandor-host render: " + c.message.replace ("{in}", name));
            EXPECT_FALSE (output.exists());
        }
        EXPECT_TRUE (spool.findChildFiles (juce::File::findFilesAndDirectories, false, "*", juce::File::FollowSymlinks::no).isEmpty());
        output.deleteFile();
        EXPECT_TRUE (input.deleteFile());
    }
}
