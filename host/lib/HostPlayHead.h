#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>

/** The transport a DAW would report: tempo, playing state and a song position in quarter notes
    that moves on with every processed block. Read on the audio thread only through getPosition. */
class HostPlayHead : public juce::AudioPlayHead
{
public:
    struct Settings
    {
        double bpm = 120.0;
        bool playing = false;
        double ppqStart = 0.0;
        bool hasPpq = true;       // false: the position carries no song position in quarter notes
        int timeSigNumerator = 4;
        int timeSigDenominator = 4;
    };

    HostPlayHead();

    void setSettings (const Settings& newSettings, double sampleRate);
    Settings getSettings() const;

    /** Moves the song position on by one processed block. */
    void advance (int numSamples);

    juce::int64 getTimeInSamples() const noexcept    { return timeInSamples.load(); }
    double getPpqPosition() const noexcept;

    juce::Optional<PositionInfo> getPosition() const override;

private:
    mutable juce::SpinLock settingsLock;
    Settings settings;
    double sampleRate = 44100.0;
    std::atomic<juce::int64> timeInSamples { 0 };
};
