#pragma once

// Shared helpers for the tests that load the built module through the project's host.
#include "BackgroundAudio.h"
#include "EditorWindow.h"
#include "PluginHost.h"
#include "WindowCapture.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace hosttest
{
    inline juce::File bundleFile()    { return juce::File (ZANDOR_VST3_BUNDLE_PATH); }
    inline juce::File hostProgram()   { return juce::File (ZANDOR_HOST_EXE_PATH); }
    inline juce::File sourceFile (const char* path)   { return juce::File (ZANDOR_SOURCE_DIR).getChildFile (path); }

    /** Loads the built bundle; records a test failure and returns nullptr when it cannot. */
    inline std::unique_ptr<PluginHost> loadPlugin (double sampleRate = 48000.0, int blockSize = 512)
    {
        juce::String error;
        auto host = PluginHost::load (bundleFile(), sampleRate, blockSize, error);
        if (host == nullptr)
            ADD_FAILURE() << "cannot load " << bundleFile().getFullPathName() << ": " << error;
        return host;
    }

    /** The VST3 id a DAW stores for a parameter identifier, computed here independently of the host. */
    inline juce::uint32 expectedVstId (const std::string& identifier)
    {
        juce::uint32 h = 0;
        for (const char c : identifier)
            h = h * 31u + (juce::uint32) (unsigned char) c;
        return h & 0x7fffffffu;
    }

    inline juce::AudioProcessorParameter& parameter (PluginHost& host, const std::string& identifier)
    {
        auto* p = host.findParameter (expectedVstId (identifier));
        if (p == nullptr)
            throw std::runtime_error ("no parameter " + identifier);
        return *p;
    }

    inline void setParameter (PluginHost& host, const std::string& identifier, float normalised)
    {
        EXPECT_TRUE (host.setParameter (expectedVstId (identifier), normalised)) << identifier;
    }

    /** A stereo (or mono) test signal: a sine with some noise, well inside full scale. */
    inline juce::AudioBuffer<float> makeSignal (int numChannels, int numSamples, double sampleRate, float amplitude = 0.4f)
    {
        juce::AudioBuffer<float> signal (numChannels, numSamples);
        juce::Random random (1234);
        for (int channel = 0; channel < numChannels; ++channel)
            for (int i = 0; i < numSamples; ++i)
                signal.setSample (channel, i, amplitude * (0.8f * (float) std::sin (juce::MathConstants<double>::twoPi * (330.0 + 110.0 * channel) * i / sampleRate)
                                                           + 0.2f * (random.nextFloat() * 2.0f - 1.0f)));
        return signal;
    }

    /** Processes a copy of the signal in host-sized blocks and returns it. */
    inline juce::AudioBuffer<float> render (PluginHost& host, const juce::AudioBuffer<float>& input)
    {
        juce::AudioBuffer<float> output (input);
        host.processInBlocks (output);
        return output;
    }

    /** The largest sample-wise distance between a and b scaled by scaleOfB. */
    inline float maxDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b, float scaleOfB = 1.0f)
    {
        float worst = 0.0f;
        for (int channel = 0; channel < a.getNumChannels(); ++channel)
            for (int i = 0; i < a.getNumSamples(); ++i)
                worst = std::max (worst, std::abs (a.getSample (channel, i) - scaleOfB * b.getSample (channel, i)));
        return worst;
    }

    inline bool allFinite (const juce::AudioBuffer<float>& buffer)
    {
        for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                if (! std::isfinite (buffer.getSample (channel, i)))
                    return false;
        return true;
    }

    inline void runMessageLoop (int milliseconds)
    {
        const auto end = juce::Time::getMillisecondCounterHiRes() + milliseconds;
        while (juce::Time::getMillisecondCounterHiRes() < end)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (10);
    }

    /** Runs the message loop until the editor area of the window shows a drawn picture (or the
        time is up) and returns what the last capture showed. */
    inline ImageSummary waitForDrawnEditor (EditorWindow& window, int timeoutMs = 8000, int minimumColours = 16)
    {
        ImageSummary summary;
        const auto end = juce::Time::getMillisecondCounterHiRes() + timeoutMs;
        do
        {
            runMessageLoop (200);
            juce::String error;
            const auto image = window.capture (error);
            if (image.isValid() && window.getEditor() != nullptr)
                summary = summariseImage (image, window.getLocalArea (window.getEditor(), window.getEditor()->getLocalBounds()));
        }
        while (summary.distinctColours < minimumColours && juce::Time::getMillisecondCounterHiRes() < end);
        return summary;
    }

    struct ProgramResult
    {
        int exitCode = -1;
        juce::String output;
    };

    /** Runs a command line and collects its stdout and stderr. */
    inline ProgramResult runProgram (const juce::StringArray& command, int timeoutMs = 60000)
    {
        ProgramResult result;
        juce::ChildProcess process;
        if (! process.start (command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
            return result;

        result.output = process.readAllProcessOutput();
        if (process.waitForProcessToFinish (timeoutMs))
            result.exitCode = (int) process.getExitCode();
        else
            process.kill();
        return result;
    }

    /** zandor-host and these arguments as posix_spawn takes them. */
    struct HostArgumentVector
    {
        explicit HostArgumentVector (const juce::StringArray& arguments)
        {
            words.push_back (hostProgram().getFullPathName().toStdString());
            for (const auto& argument : arguments)
                words.push_back (argument.toStdString());
            for (auto& word : words)
                argv.push_back (word.data());
            argv.push_back (nullptr);
        }

        HostArgumentVector (const HostArgumentVector&) = delete;
        HostArgumentVector& operator= (const HostArgumentVector&) = delete;

        std::vector<std::string> words;
        std::vector<char*> argv;    // points into words
    };

    struct SeparateStreamsResult
    {
        int exitCode = -1;
        juce::MemoryBlock standardOutput;
        juce::String standardError;
    };

    /** Runs zandor-host with stdout and stderr kept apart, each read from a pipe of its own. Its
        stdout is a new pipe, or the given write end (a FIFO the caller opened, say) read through
        the given read end; both are closed here. The machine's own stdout is never involved. */
    inline SeparateStreamsResult runHostProgramWithSeparateStreams (const juce::StringArray& arguments,
                                                                    int outputReadEnd = -1, int outputWriteEnd = -1,
                                                                    int timeoutMs = 60000)
    {
        SeparateStreamsResult result;
        int output[2] = { outputReadEnd, outputWriteEnd }, error[2] = { -1, -1 };
        if (output[0] < 0 && ::pipe2 (output, O_CLOEXEC) != 0)
            return result;
        if (::pipe2 (error, O_CLOEXEC) != 0)
        {
            ::close (output[0]);
            ::close (output[1]);
            return result;
        }

        HostArgumentVector command (arguments);
        auto& argv = command.argv;

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init (&actions);
        posix_spawn_file_actions_adddup2 (&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2 (&actions, error[1], STDERR_FILENO);
        pid_t child = -1;
        const auto spawned = ::posix_spawn (&child, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy (&actions);
        ::close (output[1]);
        ::close (error[1]);

        juce::MemoryBlock errorBytes;
        if (spawned == 0)
        {
            struct pollfd fds[2] = { { output[0], POLLIN, 0 }, { error[0], POLLIN, 0 } };
            juce::MemoryBlock* sinks[2] = { &result.standardOutput, &errorBytes };
            const auto end = juce::Time::getMillisecondCounterHiRes() + timeoutMs;
            while ((fds[0].fd >= 0 || fds[1].fd >= 0) && juce::Time::getMillisecondCounterHiRes() < end)
            {
                if (::poll (fds, 2, 100) < 0 && errno != EINTR)
                    break;
                for (int i = 0; i < 2; ++i)
                {
                    if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                        continue;
                    char buffer[65536];
                    const auto count = ::read (fds[i].fd, buffer, sizeof (buffer));
                    if (count > 0)
                        sinks[i]->append (buffer, (size_t) count);
                    else if (count == 0 || errno != EINTR)
                        fds[i].fd = -1;
                }
            }
            if (fds[0].fd >= 0 || fds[1].fd >= 0)
                ::kill (child, SIGKILL);

            int status = 0;
            if (::waitpid (child, &status, 0) == child && WIFEXITED (status) && fds[0].fd < 0 && fds[1].fd < 0)
                result.exitCode = WEXITSTATUS (status);
        }
        ::close (output[0]);
        ::close (error[0]);
        result.standardError = errorBytes.toString();
        return result;
    }

    /** Starts zandor-host with these arguments, its stdout and stderr on /dev/null, and SIGINT,
        SIGTERM and SIGHUP at their default actions (a background shell leaves SIGINT ignored).
        Returns its process id for waitpid or wait4, or -1. */
    inline pid_t startHostProgram (const juce::StringArray& arguments)
    {
        HostArgumentVector command (arguments);
        auto& argv = command.argv;

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init (&actions);
        posix_spawn_file_actions_addopen (&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen (&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawnattr_t attributes;
        posix_spawnattr_init (&attributes);
        sigset_t defaults;
        sigemptyset (&defaults);
        for (const auto signalNumber : { SIGINT, SIGTERM, SIGHUP })
            sigaddset (&defaults, signalNumber);
        posix_spawnattr_setsigdefault (&attributes, &defaults);
        posix_spawnattr_setflags (&attributes, POSIX_SPAWN_SETSIGDEF);

        pid_t child = -1;
        if (::posix_spawn (&child, argv[0], &actions, &attributes, argv.data(), environ) != 0)
            child = -1;
        posix_spawnattr_destroy (&attributes);
        posix_spawn_file_actions_destroy (&actions);
        return child;
    }

    /** Runs the zandor-host program with these arguments and collects stdout and stderr. */
    inline ProgramResult runHostProgram (const juce::StringArray& arguments, int timeoutMs = 60000)
    {
        juce::StringArray command;
        command.add (hostProgram().getFullPathName());
        command.addArray (arguments);
        return runProgram (command, timeoutMs);
    }
}

/** Editor tests need an X server; without one they say so and skip. */
#define SKIP_WITHOUT_DISPLAY()                                                                          \
    if (! canOpenX11Display())                                                                          \
        GTEST_SKIP() << "no X display can be opened (DISPLAY=" << (std::getenv ("DISPLAY") != nullptr  \
                                                                       ? std::getenv ("DISPLAY") : "")  \
                     << "); scripts/test.sh starts Xvfb"
