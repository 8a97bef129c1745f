#include "Commands.h"
#include "InputAudio.h"
#include "OutputFile.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <cstring>

namespace
{
    void printLevels (const char* label, const juce::AudioBuffer<float>& signal)
    {
        for (int channel = 0; channel < signal.getNumChannels(); ++channel)
        {
            const auto peak = signal.getMagnitude (channel, 0, signal.getNumSamples());
            const auto rms = signal.getRMSLevel (channel, 0, signal.getNumSamples());
            report ("%s channel %d: peak %.6f (%.2f dBFS), rms %.6f (%.2f dBFS)\n", label, channel,
                         (double) peak, (double) juce::Decibels::gainToDecibels (peak, -200.0f),
                         (double) rms, (double) juce::Decibels::gainToDecibels (rms, -200.0f));
        }
    }

    /** A sine at 220 Hz with a little white noise, the same on every run. */
    void makeTestSignal (juce::AudioBuffer<float>& signal, double rate)
    {
        juce::Random noise (20251211);
        const double step = juce::MathConstants<double>::twoPi * 220.0 / rate;
        for (int i = 0; i < signal.getNumSamples(); ++i)
        {
            const auto sine = (float) (0.4 * std::sin (step * i));
            for (int channel = 0; channel < signal.getNumChannels(); ++channel)
                signal.setSample (channel, i, sine + 0.1f * (noise.nextFloat() * 2.0f - 1.0f));
        }
    }

    bool readInput (const juce::String& argument, juce::AudioBuffer<float>& signal, double& rate, int channels, juce::String& error)
    {
        InputAudio input;
        if (! openInputAudio (argument, input, error))
            return false;
        auto& reader = input.reader;

        const auto length = input.getLength();
        if (input.heldLength >= 0)
        {
            // The reader would pad the missing part with silence, which would pass for audio.
            std::fprintf (stderr, "zandor-host render: %s holds %lld samples per channel, but its header announces %lld; "
                                  "rendering the %lld it holds\n",
                          input.name.toRawUTF8(), (long long) length, (long long) input.announcedLength, (long long) length);
        }

        if (length > (juce::int64) std::numeric_limits<int>::max() / 2)
        {
            error = "the input file is too long";
            return false;
        }

        const auto fileChannels = (int) reader->numChannels;
        juce::AudioBuffer<float> fileSignal (juce::jmax (1, fileChannels), (int) length);
        reader->read (&fileSignal, 0, (int) length, 0, true, true);
        rate = reader->sampleRate;

        signal.setSize (channels, (int) length);
        for (int channel = 0; channel < channels; ++channel)
            signal.copyFrom (channel, 0, fileSignal, juce::jmin (channel, fileSignal.getNumChannels() - 1), 0, (int) length);
        return true;
    }

    bool writeWav (const juce::File& file, const juce::AudioBuffer<float>& signal, double rate, juce::String& error)
    {
        // The WAV writer seeks back to finish its header, so the file is made in memory first.
        juce::MemoryBlock bytes;
        {
            juce::WavAudioFormat wav;
            auto stream = std::make_unique<juce::MemoryOutputStream> (bytes, false);
            // 32-bit float keeps levels above full scale as they are.
            std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (stream.get(), rate,
                                                                                  (unsigned int) signal.getNumChannels(), 32, {}, 0));
            if (writer == nullptr)
            {
                error = "cannot write a WAV file with these settings";
                return false;
            }
            stream.release();    // the writer owns it now
            if (! writer->writeFromAudioSampleBuffer (signal, 0, signal.getNumSamples()))
            {
                error = "cannot encode the WAV file";
                return false;
            }
        }
        return writeOutputFile (file, bytes, error);
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
    juce::AudioBuffer<float> signal;
    if (commandLine.get ("in").isNotEmpty())
    {
        if (! readInput (commandLine.get ("in"), signal, rate, channels, error))
        {
            std::fprintf (stderr, "zandor-host render: %s\n", error.toRawUTF8());
            return 1;
        }
        seconds = signal.getNumSamples() / rate;
    }
    else
    {
        signal.setSize (channels, (int) std::llround (seconds * rate));
        makeTestSignal (signal, rate);
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

    juce::AudioBuffer<float> input (signal);
    const bool showProgress = ! commandLine.has ("quiet") && signal.getNumSamples() > (int) (rate * 10.0);
    int lastPercent = -1;
    host->processInBlocks (signal, [&] (int done)
    {
        if (! showProgress)
            return;
        const int percent = (int) (100.0 * done / juce::jmax (1, signal.getNumSamples()));
        if (percent / 10 != lastPercent / 10)
        {
            lastPercent = percent;
            std::fprintf (stderr, "render: %3d%% (%.1f of %.1f s)\n", percent, done / rate, seconds);
        }
    });

    printLevels ("input", input);
    printLevels ("output", signal);

    bool finite = true;
    for (int channel = 0; channel < signal.getNumChannels(); ++channel)
        for (int i = 0; i < signal.getNumSamples(); ++i)
            finite = finite && std::isfinite (signal.getSample (channel, i));
    report ("output finite: %s\n", finite ? "yes" : "no");

    if (commandLine.get ("out").isNotEmpty())
    {
        if (! writeWav (cwd.getChildFile (commandLine.get ("out")), signal, rate, error))
        {
            std::fprintf (stderr, "zandor-host render: %s\n", error.toRawUTF8());
            return 1;
        }
        report ("written: %s\n", cwd.getChildFile (commandLine.get ("out")).getFullPathName().toRawUTF8());
    }

    if (commandLine.get ("save-state").isNotEmpty())
    {
        const auto state = host->getComponentState();
        const auto file = cwd.getChildFile (commandLine.get ("save-state"));
        if (state.isEmpty())
        {
            std::fprintf (stderr, "zandor-host render: cannot save the state to %s: the plug-in gave none\n",
                          file.getFullPathName().toRawUTF8());
            return 1;
        }
        if (! writeOutputFile (file, state, error))
        {
            std::fprintf (stderr, "zandor-host render: cannot save the state: %s\n", error.toRawUTF8());
            return 1;
        }
        report ("state saved: %d bytes\n", (int) state.getSize());
    }

    host->release();
    return finite ? 0 : 3;
}
