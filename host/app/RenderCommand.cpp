#include "Commands.h"
#include "InputAudio.h"
#include "OutputFile.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <cstring>
#include <vector>

namespace
{
    /** Peak and RMS of each channel of a signal that goes by block by block. */
    class Levels
    {
    public:
        explicit Levels (int numChannels) : peaks ((size_t) numChannels), sums ((size_t) numChannels) {}

        void add (const juce::AudioBuffer<float>& block, int numSamples)
        {
            for (size_t channel = 0; channel < peaks.size(); ++channel)
            {
                peaks[channel] = juce::jmax (peaks[channel], block.getMagnitude ((int) channel, 0, numSamples));
                // As AudioBuffer::getRMSLevel sums: each square in float, the sum in double.
                const auto* data = block.getReadPointer ((int) channel);
                double sum = 0.0;
                for (int i = 0; i < numSamples; ++i)
                {
                    const auto sample = data[i];
                    sum += sample * sample;
                    finite = finite && std::isfinite (sample);
                }
                sums[channel] += sum;
            }
            length += numSamples;
        }

        bool isFinite() const noexcept    { return finite; }

        void print (const char* label) const
        {
            for (size_t channel = 0; channel < peaks.size(); ++channel)
            {
                const auto peak = peaks[channel];
                const auto rms = length > 0 ? (float) std::sqrt (sums[channel] / (double) length) : 0.0f;
                report ("%s channel %d: peak %.6f (%.2f dBFS), rms %.6f (%.2f dBFS)\n", label, (int) channel,
                        (double) peak, (double) juce::Decibels::gainToDecibels (peak, -200.0f),
                        (double) rms, (double) juce::Decibels::gainToDecibels (rms, -200.0f));
            }
        }

    private:
        std::vector<float> peaks;
        std::vector<double> sums;
        juce::int64 length = 0;
        bool finite = true;
    };

    /** A sine at 220 Hz with a little white noise, the same on every run, made block by block. */
    class TestSignal
    {
    public:
        explicit TestSignal (double rate) : step (juce::MathConstants<double>::twoPi * 220.0 / rate) {}

        void fill (juce::AudioBuffer<float>& block, int numChannels, int numSamples)
        {
            for (int i = 0; i < numSamples; ++i, ++position)
            {
                const auto sine = (float) (0.4 * std::sin (step * (double) position));
                for (int channel = 0; channel < numChannels; ++channel)
                    block.setSample (channel, i, sine + 0.1f * (noise.nextFloat() * 2.0f - 1.0f));
            }
        }

    private:
        juce::Random noise { 20251211 };
        const double step;
        juce::int64 position = 0;
    };

    /** The header a 32-bit float WAV writer gives a file of this many frames, made without
        keeping the file: for an output that cannot seek back to write it at the end. */
    juce::MemoryBlock makeWavHeader (double rate, int numChannels, juce::int64 frames)
    {
        // Keeps the first bytes written, and only counts the rest.
        struct HeaderStream final : public juce::OutputStream
        {
            juce::MemoryBlock start { 4096, true };
            juce::int64 position = 0;

            void flush() override {}
            juce::int64 getPosition() override           { return position; }
            bool setPosition (juce::int64 p) override    { position = p; return true; }
            bool write (const void* data, size_t size) override
            {
                for (size_t i = 0; i < size && position + (juce::int64) i < (juce::int64) start.getSize(); ++i)
                    start[(size_t) position + i] = static_cast<const char*> (data)[i];
                position += (juce::int64) size;
                return true;
            }
        };

        auto* stream = new HeaderStream();
        juce::int64 headerSize = 0;
        juce::MemoryBlock header;
        {
            std::unique_ptr<juce::AudioFormatWriter> writer (juce::WavAudioFormat().createWriterFor (stream, rate, (unsigned int) numChannels,
                                                                                                      32, {}, 0));
            if (writer == nullptr)
            {
                delete stream;
                return {};
            }
            headerSize = stream->position;
            juce::AudioBuffer<float> silence (numChannels, 65536);
            silence.clear();
            for (auto left = frames; left > 0; left -= silence.getNumSamples())
                writer->writeFromAudioSampleBuffer (silence, 0, (int) juce::jmin (left, (juce::int64) silence.getNumSamples()));
            writer->flush();
            header.append (stream->start.getData(), (size_t) headerSize);
        }
        return header;
    }

    /** Opens the input for reading block by block, and says how many frames to take from it. */
    std::unique_ptr<juce::AudioFormatReader> openInput (const juce::String& argument, juce::int64& length, juce::String& error)
    {
        InputAudio input;
        if (! openInputAudio (argument, input, error))
            return nullptr;

        length = input.getLength();
        if (input.heldLength >= 0)
        {
            // The reader would pad the missing part with silence, which would pass for audio.
            std::fprintf (stderr, "zandor-host render: %s holds %lld samples per channel, but its header announces %lld; "
                                  "rendering the %lld it holds\n",
                          input.name.toRawUTF8(), (long long) length, (long long) input.announcedLength, (long long) length);
        }
        return std::move (input.reader);
    }
}

int runRender (const CommandLine& commandLine)
{
    const auto problem = commandLine.findProblem ({ "in", "out", "seconds", "rate", "block", "channels", "set", "tempo",
                                                    "ppq", "load-state", "save-state" },
                                                  { "playing", "no-playhead", "quiet" });
    if (problem.isNotEmpty())
    {
        std::fprintf (stderr, "zandor-host render: %s\n", problem.toRawUTF8());
        return 1;
    }

    juce::String error;
    auto seconds = commandLine.getNumber ("seconds", 2.0, 0.0, 3600.0, error);
    auto rate = commandLine.getNumber ("rate", 48000.0, 8000.0, 384000.0, error);
    const auto block = commandLine.getWholeNumber ("block", 512, 1, 65536, error);
    int channels = commandLine.getWholeNumber ("channels", 2, 1, 2, error);
    const auto tempo = commandLine.getNumber ("tempo", 120.0, 1.0, 999.0, error);
    const auto ppq = commandLine.getNumber ("ppq", 0.0, -1.0e6, 1.0e9, error);
    if (error.isNotEmpty())
    {
        std::fprintf (stderr, "zandor-host render: %s\n", error.toRawUTF8());
        return 1;
    }

    if (! prepareOutputs (commandLine, { "out", "save-state" }, "render"))
        return 1;

    const auto cwd = juce::File::getCurrentWorkingDirectory();
    std::unique_ptr<juce::AudioFormatReader> reader;
    juce::int64 length = 0;
    if (commandLine.get ("in").isNotEmpty())
    {
        reader = openInput (commandLine.get ("in"), length, error);
        if (reader == nullptr)
        {
            std::fprintf (stderr, "zandor-host render: %s\n", error.toRawUTF8());
            return 1;
        }
        rate = reader->sampleRate;
        seconds = (double) length / rate;
    }
    else
    {
        length = std::llround (seconds * rate);
    }

    auto host = PluginHost::load (cwd.getChildFile (commandLine.getBundle()), rate, block, error);
    if (host == nullptr)
    {
        std::fprintf (stderr, "zandor-host render: %s\n", error.toRawUTF8());
        return 2;
    }

    if (! applyChannelCount (*host, channels))
    {
        std::fprintf (stderr, "zandor-host render: the plug-in refuses %d-channel buses\n", channels);
        return 2;
    }

    const auto stateToLoad = commandLine.get ("load-state");
    if (stateToLoad.isNotEmpty())
    {
        juce::MemoryBlock state;
        if (! cwd.getChildFile (stateToLoad).loadFileAsData (state) || state.isEmpty())
        {
            std::fprintf (stderr, "zandor-host render: cannot read state from %s\n", stateToLoad.toRawUTF8());
            return 1;
        }
        // The plug-in may take the bytes or ignore them (as it should ignore a state not its own):
        // the host can only say what it gave, and what the plug-in reports afterwards.
        const auto before = host->getComponentState();
        host->setComponentState (state);
        report ("state handed to the plug-in: %d bytes (the state it reports back %s)\n", (int) state.getSize(),
                host->getComponentState() == before ? "is unchanged" : "has changed");
    }

    if (! applyParameterSettings (*host, commandLine, "render"))
        return 1;

    HostPlayHead::Settings transport;
    transport.bpm = tempo;
    transport.playing = commandLine.has ("playing");
    transport.ppqStart = ppq;
    host->setTransport (transport);
    host->setPlayHeadEnabled (! commandLine.has ("no-playhead"));

    // What took effect, as the plug-in now reports it.
    if (commandLine.getAll ("set").size() > 0 || stateToLoad.isNotEmpty())
        for (const auto& p : host->getParameters())
            report ("param %s = %s (%.6f)\n", p.name.toRawUTF8(),
                    host->getInstance().getParameters()[p.index]->getCurrentValueAsText().toRawUTF8(),
                    (double) host->getParameter (p.vstId));

    report ("rendering: %.3f s at %.0f Hz, %d channel(s), blocks of %d, %s\n", seconds, rate, channels, block,
                 commandLine.has ("no-playhead") ? "no play head"
                                                 : (juce::String (tempo) + " bpm, " + (transport.playing ? "playing" : "stopped")
                                                    + " from ppq " + juce::String (ppq)).toRawUTF8());

    // The WAV streams out as it is made: into a temporary beside its file, or straight into a
    // pipe or device, which gets the header for the length known now.
    std::unique_ptr<OutputFile> wavOutput;
    std::unique_ptr<juce::AudioFormatWriter> writer;
    if (commandLine.get ("out").isNotEmpty())
    {
        wavOutput = std::make_unique<OutputFile> (cwd.getChildFile (commandLine.get ("out")));
        if (! wavOutput->open (error))
        {
            std::fprintf (stderr, "zandor-host render: %s\n", error.toRawUTF8());
            return 1;
        }
        auto stream = wavOutput->createStream (wavOutput->canSeek() ? juce::MemoryBlock() : makeWavHeader (rate, channels, length));
        // 32-bit float keeps levels above full scale as they are.
        writer.reset (juce::WavAudioFormat().createWriterFor (stream.get(), rate, (unsigned int) channels, 32, {}, 0));
        if (writer == nullptr)
        {
            std::fprintf (stderr, "zandor-host render: cannot write a WAV file with these settings\n");
            return 1;
        }
        stream.release();    // the writer owns it now
    }

    // Block by block, as a DAW plays it: memory stays the same whatever the length.
    TestSignal testSignal (rate);
    const int fileChannels = reader != nullptr ? (int) reader->numChannels : 0;
    juce::AudioBuffer<float> fromFile (juce::jmax (1, fileChannels), reader != nullptr ? block : 0);
    host->prepare();
    juce::AudioBuffer<float> buffer (juce::jmax (channels, host->getNumChannels()), block);
    Levels inputLevels (channels), outputLevels (channels);
    const bool showProgress = ! commandLine.has ("quiet") && length > (juce::int64) (rate * 10.0);
    int lastPercent = -1;

    for (juce::int64 start = 0; start < length; start += block)
    {
        const auto numSamples = (int) juce::jmin ((juce::int64) block, length - start);
        buffer.setSize (buffer.getNumChannels(), numSamples, false, false, true);
        buffer.clear();
        if (reader != nullptr)
        {
            fromFile.setSize (fromFile.getNumChannels(), numSamples, false, false, true);
            reader->read (&fromFile, 0, numSamples, start, true, true);
            for (int channel = 0; channel < channels; ++channel)
                buffer.copyFrom (channel, 0, fromFile, juce::jmin (channel, fromFile.getNumChannels() - 1), 0, numSamples);
        }
        else
        {
            testSignal.fill (buffer, channels, numSamples);
        }

        inputLevels.add (buffer, numSamples);
        host->processBlock (buffer);
        outputLevels.add (buffer, numSamples);

        if (writer != nullptr)
        {
            const juce::AudioBuffer<float> written (buffer.getArrayOfWritePointers(), channels, numSamples);
            if (! writer->writeFromAudioSampleBuffer (written, 0, numSamples))
            {
                writer.reset();
                if (wavOutput->finish (error))
                    error = "cannot write " + wavOutput->getFile().getFullPathName();
                std::fprintf (stderr, "zandor-host render: %s\n", error.toRawUTF8());
                return 1;
            }
        }

        const auto done = start + numSamples;
        const int percent = (int) (100.0 * (double) done / (double) length);
        if (showProgress && percent / 10 != lastPercent / 10)
        {
            lastPercent = percent;
            std::fprintf (stderr, "render: %3d%% (%.1f of %.1f s)\n", percent, (double) done / rate, seconds);
        }
    }

    inputLevels.print ("input");
    outputLevels.print ("output");
    const bool finite = outputLevels.isFinite();
    report ("output finite: %s\n", finite ? "yes" : "no");

    // Every output is complete before any becomes the user's, so a run that fails on the last
    // leaves every file as it was.
    std::vector<OutputFile*> outputs;
    if (wavOutput != nullptr)
    {
        writer.reset();    // writes the final header
        if (! wavOutput->finish (error))
        {
            std::fprintf (stderr, "zandor-host render: %s\n", error.toRawUTF8());
            return 1;
        }
        outputs.push_back (wavOutput.get());
    }

    std::unique_ptr<OutputFile> stateOutput;
    juce::MemoryBlock state;
    if (commandLine.get ("save-state").isNotEmpty())
    {
        state = host->getComponentState();
        stateOutput = std::make_unique<OutputFile> (cwd.getChildFile (commandLine.get ("save-state")));
        if (state.isEmpty())
        {
            std::fprintf (stderr, "zandor-host render: cannot save the state to %s: the plug-in gave none\n",
                          stateOutput->getFile().getFullPathName().toRawUTF8());
            return 1;
        }
        bool saved = stateOutput->open (error);
        if (saved)
        {
            auto stream = stateOutput->createStream();
            saved = stream->write (state.getData(), state.getSize());
            stream.reset();
            saved = stateOutput->finish (error) && saved;
        }
        if (! saved)
        {
            std::fprintf (stderr, "zandor-host render: cannot save the state: %s\n", error.toRawUTF8());
            return 1;
        }
        outputs.push_back (stateOutput.get());
    }

    if (! commitOutputs (outputs, error))
    {
        std::fprintf (stderr, "zandor-host render: %s\n", error.toRawUTF8());
        return 1;
    }
    if (wavOutput != nullptr)
        report ("written: %s\n", wavOutput->getFile().getFullPathName().toRawUTF8());
    if (stateOutput != nullptr)
        report ("state saved: %d bytes\n", (int) state.getSize());

    host->release();
    return finite ? 0 : 3;
}
