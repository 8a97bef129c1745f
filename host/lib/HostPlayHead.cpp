#include "HostPlayHead.h"

HostPlayHead::HostPlayHead() = default;

void HostPlayHead::setSettings (const Settings& newSettings, double newSampleRate)
{
    const juce::SpinLock::ScopedLockType lock (settingsLock);
    settings = newSettings;
    sampleRate = newSampleRate > 0.0 ? newSampleRate : 44100.0;
    timeInSamples = 0;
}

HostPlayHead::Settings HostPlayHead::getSettings() const
{
    const juce::SpinLock::ScopedLockType lock (settingsLock);
    return settings;
}

void HostPlayHead::advance (int numSamples)
{
    timeInSamples += numSamples;
}

double HostPlayHead::getPpqPosition() const noexcept
{
    const juce::SpinLock::ScopedLockType lock (settingsLock);
    return settings.ppqStart + (double) timeInSamples.load() / sampleRate * settings.bpm / 60.0;
}

juce::Optional<juce::AudioPlayHead::PositionInfo> HostPlayHead::getPosition() const
{
    Settings current;
    {
        const juce::SpinLock::ScopedLockType lock (settingsLock);
        current = settings;
    }

    PositionInfo info;
    info.setTimeInSamples (timeInSamples.load());
    info.setTimeInSeconds ((double) timeInSamples.load() / sampleRate);
    info.setBpm (current.bpm);
    info.setTimeSignature (TimeSignature { current.timeSigNumerator, current.timeSigDenominator });
    info.setIsPlaying (current.playing);

    if (current.hasPpq)
    {
        const auto ppq = getPpqPosition();
        const auto barLength = 4.0 * current.timeSigNumerator / current.timeSigDenominator;
        info.setPpqPosition (ppq);
        info.setPpqPositionOfLastBarStart (std::floor (ppq / barLength) * barLength);
    }

    return info;
}
