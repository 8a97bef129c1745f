#include "Commands.h"
#include "OutputFile.h"

#include "BackgroundAudio.h"
#include "EditorWindow.h"
#include "WindowCapture.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace
{
    void runLoopFor (double seconds)
    {
        const auto end = juce::Time::getMillisecondCounterHiRes() + seconds * 1000.0;
        while (juce::Time::getMillisecondCounterHiRes() < end)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (
                juce::jmax (1, juce::jmin (50, (int) (end - juce::Time::getMillisecondCounterHiRes()))));
    }

    void describeWindow (EditorWindow& window)
    {
        const auto bounds = window.getEditorBounds();
        WindowGeometry geometry;
        getX11WindowGeometry (window.getNativeWindowId(), geometry);
        const auto editorPosition = window.getEditorScreenPosition();

        report ("editor size: %d x %d\n", bounds.getWidth(), bounds.getHeight());
        report ("editor resizable: %s\n", window.canResize() ? "yes" : "no");
        report ("window id: %lu (0x%lx)\n", window.getNativeWindowId(), window.getNativeWindowId());
        report ("window position: %d %d\n", geometry.x, geometry.y);
        report ("window size: %d x %d\n", geometry.width, geometry.height);
        report ("editor position: %d %d\n", editorPosition.x, editorPosition.y);
    }

    /** Hands saved state bytes to the plug-in, as a DAW opening a project does, and says what it
        gave and whether the plug-in took them. */
    void handOverState (PluginHost& host, const juce::MemoryBlock& state)
    {
        const auto before = host.getComponentState();
        host.setComponentState (state);
        report ("state handed to the plug-in: %d bytes (the state it reports back %s)\n", (int) state.getSize(),
                host.getComponentState() == before ? "is unchanged" : "has changed");
    }
}

int runEditor (const CommandLine& commandLine)
{
    const auto problem = commandLine.findProblem ({ "seconds", "screenshot", "cycles", "rate", "block", "set",
                                                      "tempo", "ppq", "load-state" }, { "quiet" });
    if (problem.isNotEmpty())
    {
        std::fprintf (stderr, "zandor-host editor: %s\n", problem.toRawUTF8());
        return 1;
    }

    juce::String error;
    const auto seconds = commandLine.getNumber ("seconds", 2.0, 0.0, 3600.0, error);
    const auto cycles = commandLine.getWholeNumber ("cycles", 0, 0, 10000, error);
    const auto rate = commandLine.getNumber ("rate", 48000.0, 8000.0, 384000.0, error);
    const auto block = commandLine.getWholeNumber ("block", 512, 1, 65536, error);
    const auto tempo = commandLine.getNumber ("tempo", 120.0, 1.0, 999.0, error);
    const auto ppq = commandLine.getNumber ("ppq", 0.0, -1.0e6, 1.0e9, error);
    if (error.isNotEmpty())
    {
        std::fprintf (stderr, "zandor-host editor: %s\n", error.toRawUTF8());
        return 1;
    }

    if (! prepareOutputs (commandLine, { "screenshot" }, "editor"))
        return 1;

    const auto cwd = juce::File::getCurrentWorkingDirectory();
    const auto stateToLoad = commandLine.get ("load-state");
    juce::MemoryBlock state;
    if (stateToLoad.isNotEmpty() && (! cwd.getChildFile (stateToLoad).loadFileAsData (state) || state.isEmpty()))
    {
        std::fprintf (stderr, "zandor-host editor: cannot read state from %s\n", stateToLoad.toRawUTF8());
        return 1;
    }

    if (! canOpenX11Display())
    {
        std::fprintf (stderr, "zandor-host editor: cannot open the X display (is DISPLAY set?)\n");
        return 2;
    }

    auto host = PluginHost::load (cwd.getChildFile (commandLine.getBundle()), rate, block, error);
    if (host == nullptr)
    {
        std::fprintf (stderr, "zandor-host editor: %s\n", error.toRawUTF8());
        return 2;
    }

    if (stateToLoad.isNotEmpty())
        handOverState (*host, state);

    if (! applyParameterSettings (*host, commandLine, "editor"))
        return 1;
    host->takeParameterChanges();

    // Every change the plug-in reports, printed as it arrives (from whichever thread).
    const auto parameters = host->getParameters();
    host->setParameterChangeCallback ([&parameters] (const ParameterChange& change)
    {
        const auto name = juce::isPositiveAndBelow (change.index, (int) parameters.size()) ? parameters[(size_t) change.index].name
                                                                                          : juce::String ("?");
        report ("parameter changed: id %u, name \"%s\", value %.6f\n", change.vstId, name.toRawUTF8(), (double) change.value);
    });
    host->setStateChangeCallback ([] { report ("state changed (not a parameter)\n"); });

    HostPlayHead::Settings transport;
    transport.bpm = tempo;
    transport.playing = true;
    transport.ppqStart = ppq;
    host->setTransport (transport);
    report ("transport: %s bpm, playing from ppq %s\n", juce::String (tempo).toRawUTF8(), juce::String (ppq).toRawUTF8());

    BackgroundAudio audio (*host);
    audio.start();

    // Says so and gives nullptr when the plug-in has no editor to show.
    auto openWindow = [&]() -> std::unique_ptr<EditorWindow>
    {
        auto window = std::make_unique<EditorWindow> (host->getInstance(), "Zandor Pellum - zandor-host");
        if (window->hasEditor())
            return window;

        std::fprintf (stderr, "zandor-host editor: the plug-in gave no editor\n");
        return nullptr;
    };

    for (int cycle = 0; cycle < cycles; ++cycle)
    {
        auto window = openWindow();
        if (window == nullptr)
        {
            audio.stop();
            return 2;
        }
        runLoopFor (0.15);
        window.reset();
        runLoopFor (0.05);
    }
    if (cycles > 0)
        report ("editor cycles: %d\n", cycles);

    auto window = openWindow();
    if (window == nullptr)
    {
        audio.stop();
        return 2;
    }

    bool closeRequested = false;
    window->onCloseRequested = [&closeRequested] { closeRequested = true; };
    runLoopFor (0.3);    // lets the window map and the plug-in draw before anyone looks
    describeWindow (*window);

    const auto end = juce::Time::getMillisecondCounterHiRes() + seconds * 1000.0;
    while (! closeRequested && juce::Time::getMillisecondCounterHiRes() < end)
        runLoopFor (0.05);

    int result = 0;
    if (commandLine.get ("screenshot").isNotEmpty())
    {
        const auto image = window->capture (error);
        const auto file = cwd.getChildFile (commandLine.get ("screenshot"));
        juce::MemoryOutputStream bytes;
        bool written = image.isValid();
        if (written && ! juce::PNGImageFormat().writeImageToStream (image, bytes))
        {
            error = "cannot encode the PNG";
            written = false;
        }
        written = written && writeOutputFile (file, bytes.getData(), bytes.getDataSize(), error);
        if (! written)
        {
            std::fprintf (stderr, "zandor-host editor: screenshot failed: %s\n", error.toRawUTF8());
            result = 1;
        }
        else
        {
            const auto summary = summariseImage (image, image.getBounds());
            report ("screenshot: %s (%d x %d, %d distinct colours)\n", file.getFullPathName().toRawUTF8(),
                    image.getWidth(), image.getHeight(), summary.distinctColours);
        }
    }

    window.reset();
    runLoopFor (0.05);
    audio.stop();
    host->setParameterChangeCallback ({});
    host->setStateChangeCallback ({});
    report ("audio blocks processed: %lld\n", (long long) audio.getBlocksProcessed());
    report ("output finite: %s\n", audio.sawNonFiniteOutput() ? "no" : "yes");
    return audio.sawNonFiniteOutput() ? 3 : result;
}
