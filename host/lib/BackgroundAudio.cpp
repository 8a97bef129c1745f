#include "BackgroundAudio.h"

BackgroundAudio::BackgroundAudio (PluginHost& hostToDrive)
    : juce::Thread ("zandor-host audio"), host (hostToDrive)
{
}

BackgroundAudio::~BackgroundAudio()
{
    stop();
}

void BackgroundAudio::start()
{
    host.prepare();
    startThread (juce::Thread::Priority::high);
}

void BackgroundAudio::stop()
{
    stopThread (5000);
}

void BackgroundAudio::run()
{
    const int numChannels = juce::jmax (1, host.getNumChannels());
    const int blockSize = host.getBlockSize();
    const double rate = host.getSampleRate();
    juce::AudioBuffer<float> block (numChannels, blockSize);
    const double phaseStep = juce::MathConstants<double>::twoPi * 220.0 / rate;
    double phase = 0.0;
    const auto blockMs = 1000.0 * blockSize / rate;
    auto nextBlockTime = juce::Time::getMillisecondCounterHiRes();

    while (! threadShouldExit())
    {
        for (int i = 0; i < blockSize; ++i)
        {
            const auto sample = (float) (0.5 * std::sin (phase));
            phase = std::fmod (phase + phaseStep, juce::MathConstants<double>::twoPi);
            for (int channel = 0; channel < numChannels; ++channel)
                block.setSample (channel, i, sample);
        }

        host.processBlock (block);

        for (int channel = 0; channel < numChannels; ++channel)
        {
            const auto* data = block.getReadPointer (channel);
            for (int i = 0; i < blockSize; ++i)
                if (! std::isfinite (data[i]))
                    nonFinite = true;
        }

        ++blocksProcessed;
        nextBlockTime += blockMs;
        const auto now = juce::Time::getMillisecondCounterHiRes();
        if (nextBlockTime > now)
            wait ((int) (nextBlockTime - now));
        else
            nextBlockTime = now;
    }
}
