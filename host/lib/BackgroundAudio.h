#pragma once

#include "PluginHost.h"

#include <atomic>

/** Keeps audio blocks flowing through a hosted plug-in on a thread of its own, paced roughly in
    real time, while the message thread runs its editor: the situation of a playing DAW. */
class BackgroundAudio : private juce::Thread
{
public:
    explicit BackgroundAudio (PluginHost& host);
    ~BackgroundAudio() override;

    /** Prepares the plug-in (on the calling thread, which must be the message thread) and starts. */
    void start();
    void stop();

    juce::int64 getBlocksProcessed() const noexcept   { return blocksProcessed.load(); }
    /** True if any processed output held a value that was not finite. */
    bool sawNonFiniteOutput() const noexcept          { return nonFinite.load(); }

private:
    void run() override;

    PluginHost& host;
    std::atomic<juce::int64> blocksProcessed { 0 };
    std::atomic<bool> nonFinite { false };
};
