#include "Commands.h"

#include <juce_events/juce_events.h>

void printUsage()
{
    std::printf (R"(zandor-host: loads a VST3 bundle through its VST3 interfaces and drives it as a DAW does.

usage:
  zandor-host --version
      The host's version.

  zandor-host info BUNDLE [--rate HZ] [--block N]
      The raw factory (vendor, URL, e-mail, every class with name, category, sub-categories,
      version and SDK version), buses and accepted layouts, MIDI, latency, tail, programs and
      every parameter: VST3 id, name, default (normalised and as text), steps and range or choices.

  zandor-host render BUNDLE [options]
      --in FILE            input audio: WAV, AIFF, FLAC or Ogg Vorbis, told by its content
                           whatever its name, or - for standard input; its rate is used and
                           must lie in --rate's range. Without it a 220 Hz sine with a little
                           noise is generated
      --out FILE.wav       write the output (32-bit float WAV)
      --seconds S          length of the generated signal (default 2)
      --rate HZ            sample rate of the generated signal (default 48000)
      --block N            host block size (default 512)
      --channels 1|2       mono or stereo buses (default 2); from --in the first channels are
                           taken, a mono file feeding both
      --set KEY=VALUE      set a parameter before rendering; repeatable. KEY is the parameter
                           identifier (drive, filterCutoff, ...), its VST3 id or its name.
                           VALUE is in the parameter's own units (drive=70, output=-6,
                           filterCutoff=4000); for choices and switches the 0-based index or the
                           choice text (mode=2, mode=BITCRUSH, glitchOn=1); a value ending in "n"
                           is normalised 0..1 (drive=0.25n)
      --tempo BPM          play-head tempo (default 120)
      --playing            the transport plays (default: stopped)
      --ppq START          song position in quarter notes at the first block (default 0); it
                           advances with every block
      --no-playhead        give the plug-in no transport information at all
      --load-state FILE    hand raw component state bytes (as --save-state writes them) to the
                           plug-in first
      --save-state FILE    save the raw component state bytes after rendering
      --quiet              no progress lines
      Prints peak and RMS of input and output per channel, and with --set or --load-state every
      parameter as the plug-in then reports it; progress goes to stderr. A WAV, AIFF or FLAC file
      cut short of what its header announces is rendered as far as it goes, and the shortfall is
      reported. An input that cannot be read is refused with what it was found to be (mu-law,
      ADPCM, 64-bit float, MP3, ...). Audio streams through in blocks: memory stays the same
      whatever the length.

  zandor-host editor BUNDLE [options]
      Opens the editor in a top-level X11 window while audio blocks run on another thread, and
      prints its size, whether it can resize, the window id and screen positions, and every
      parameter change the host is told about.
      --seconds N          how long to run the message loop (default 2)
      --screenshot FILE    write a PNG of the host window at the end
      --cycles K           first close and reopen the editor K times while audio runs
      --tempo BPM          play-head tempo (default 120); the transport always plays
      --ppq START          song position in quarter notes when the audio starts (default 0)
      --rate HZ, --block N, --set KEY=VALUE, --load-state FILE as for render

Every output path is checked before anything is rendered. Files are written to temporaries
beside them and renamed only once every output is complete; SIGINT, SIGTERM or SIGHUP removes
the temporaries. Two outputs may not name one file or pipe, though one device twice is fine.
When an output is standard output (/dev/stdout, /proc/self/fd/1), the report goes to stderr and
stdout holds that output alone.
An option's value is the next word unless that starts with "--"; --OPTION=VALUE also works.

exit codes: 0 done, 1 bad arguments or files, 2 the plug-in could not be loaded or opened
            (its module file missing, misnamed or damaged included),
            3 the output held a value that was not finite
)");
}

int main (int argc, char* argv[])
{
    juce::StringArray arguments;
    for (int i = 1; i < argc; ++i)
        arguments.add (juce::String::fromUTF8 (argv[i]));

    if (arguments.isEmpty() || arguments[0] == "--help" || arguments[0] == "-h" || arguments[0] == "help")
    {
        printUsage();
        return arguments.isEmpty() ? 1 : 0;
    }

    if (arguments[0] == "--version")
    {
        std::printf ("zandor-host %s\n", ZANDOR_HOST_VERSION);
        return 0;
    }

    const auto command = arguments[0];
    if (command != "info" && command != "render" && command != "editor")
    {
        // Named before anything else, or a mistyped command would be told it lacks a bundle.
        std::fprintf (stderr, "zandor-host: unknown %s \"%s\" (see --help)\n", command.startsWith ("-") ? "option" : "command",
                      command.toRawUTF8());
        return 1;
    }
    arguments.remove (0);
    const CommandLine commandLine (arguments);

    if (commandLine.has ("help"))
    {
        printUsage();
        return 0;
    }

    if (commandLine.getBundle().isEmpty())
    {
        std::fprintf (stderr, "zandor-host %s: no bundle given\n", command.toRawUTF8());
        return 1;
    }

    int result = 1;
    {
        juce::ScopedJuceInitialiser_GUI juce;

        if (command == "info")
            result = runInfo (commandLine);
        else if (command == "render")
            result = runRender (commandLine);
        else
            result = runEditor (commandLine);
    }

    std::fflush (stdout);
    return result;
}
