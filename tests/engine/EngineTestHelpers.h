#pragma once

#include "BrellDistortionProcessor.h"
#include "ProcessorTestAccess.h"

#include <cmath>
#include <memory>
#include <sstream>
#include <string>

namespace enginetest
{

/** Sets a parameter from a value in its own units, as the host or an attachment would. */
inline void setParam (BrellDistortionProcessor& proc, const char* id, float value)
{
    auto* parameter = proc.apvts.getParameter (id);
    parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
}

/** Puts the processor on mono buses, as a host does for a mono track; says whether it took them. */
inline bool setMonoLayout (BrellDistortionProcessor& proc)
{
    juce::AudioProcessor::BusesLayout mono;
    mono.inputBuses.add (juce::AudioChannelSet::mono());
    mono.outputBuses.add (juce::AudioChannelSet::mono());
    return proc.setBusesLayout (mono);
}

inline float rawParam (BrellDistortionProcessor& proc, const char* id)
{
    return proc.apvts.getRawParameterValue (id)->load();
}

/** Two different tones, left and right, so that channel mix-ups show. */
inline juce::AudioBuffer<float> makeTestSignal (int numChannels, int numSamples, int startSample = 0,
                                                float amplitude = 0.8f, double sampleRate = 48000.0)
{
    juce::AudioBuffer<float> buffer (numChannels, numSamples);

    for (int ch = 0; ch < numChannels; ++ch)
    {
        const double frequency = 220.0 * (ch + 1) + 17.0 * ch;

        for (int i = 0; i < numSamples; ++i)
        {
            const double t = (startSample + i) / sampleRate;
            buffer.setSample (ch, i, amplitude * (float) std::sin (2.0 * juce::MathConstants<double>::pi * frequency * t + 0.3 * ch));
        }
    }

    return buffer;
}

inline void process (BrellDistortionProcessor& proc, juce::AudioBuffer<float>& buffer)
{
    juce::MidiBuffer midi;
    proc.processBlock (buffer, midi);
}

/** A play head that answers every query with "no position". */
struct SilentPlayHead final : juce::AudioPlayHead
{
    juce::Optional<PositionInfo> getPosition() const override { return {}; }
};

/** The chain written out the plain way, one sample at a time, to check the processor against. */
struct ReferenceChain
{
    struct Settings
    {
        float drive = 50.0f, mix = 100.0f, output = 0.0f;
        int mode = 0;
        float cutoff = 20000.0f, resonance = 0.707f;
        int filterType = 0;
    };

    static Settings settingsOf (BrellDistortionProcessor& proc)
    {
        Settings s;
        s.drive = rawParam (proc, "drive");
        s.mix = rawParam (proc, "mix");
        s.output = rawParam (proc, "output");
        s.mode = (int) rawParam (proc, "mode");
        s.cutoff = rawParam (proc, "filterCutoff");
        s.resonance = rawParam (proc, "filterReso");
        s.filterType = (int) rawParam (proc, "filterType");
        return s;
    }

    void prepare (double rate, int blockSize)
    {
        sampleRate = rate;
        oversampler.initProcessing ((size_t) blockSize);
        const juce::dsp::ProcessSpec spec { rate, (juce::uint32) blockSize, 1 };
        filterLeft.prepare (spec);
        filterRight.prepare (spec);
        prepared = true;
    }

    static float shape (float x, int mode, float drive, float driveGain)
    {
        float y = driveGain * x;

        switch (mode)
        {
            case 0: return y < -1.0f ? -1.0f : std::min (y, 1.0f);
            case 1: return std::tanh (y);
            case 2:
            {
                const float levels = std::pow (2.0f, 16.0f - drive * 14.0f / 100.0f);
                return std::round (levels * y) / levels;
            }
            default:
                for (int folds = 0; folds < 32 && (y > 1.0f || y < -1.0f); ++folds)
                    y = y > 1.0f ? 2.0f - y : -2.0f - y;
                return y;
        }
    }

    void process (juce::AudioBuffer<float>& buffer, const Settings& s)
    {
        const int numChannels = buffer.getNumChannels();
        juce::AudioBuffer<float> dry;
        dry.makeCopyOf (buffer);

        const float driveGain = juce::Decibels::decibelsToGain (s.drive * 0.6f);
        const float outputGain = juce::Decibels::decibelsToGain (s.output);
        const float mix = s.mix / 100.0f;

        if (prepared)
        {
            juce::dsp::AudioBlock<float> block (buffer);
            auto up = oversampler.processSamplesUp (block);

            for (size_t ch = 0; ch < (size_t) numChannels; ++ch)
                for (size_t i = 0; i < up.getNumSamples(); ++i)
                    up.setSample ((int) ch, (int) i, shape (up.getSample ((int) ch, (int) i), s.mode, s.drive, driveGain));

            oversampler.processSamplesDown (block);
        }

        const juce::dsp::StateVariableTPTFilterType types[] = { juce::dsp::StateVariableTPTFilterType::lowpass,
                                                                juce::dsp::StateVariableTPTFilterType::highpass,
                                                                juce::dsp::StateVariableTPTFilterType::bandpass };
        const float cutoff = std::min (s.cutoff, (float) (sampleRate * 0.49));

        for (auto* f : { &filterLeft, &filterRight })
        {
            f->setType (types[s.filterType]);
            f->setCutoffFrequency (cutoff);
            f->setResonance (s.resonance);
        }

        if (numChannels >= 2)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
            {
                buffer.setSample (0, i, filterLeft.processSample (0, buffer.getSample (0, i)));
                buffer.setSample (1, i, filterRight.processSample (0, buffer.getSample (1, i)));
            }

        for (int ch = 0; ch < numChannels; ++ch)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                buffer.setSample (ch, i, ((1.0f - mix) * dry.getSample (ch, i) + mix * buffer.getSample (ch, i)) * outputGain);
    }

    juce::dsp::Oversampling<float> oversampler { 2, 2, juce::dsp::Oversampling<float>::filterHalfBandPolyphaseIIR, true, false };
    juce::dsp::StateVariableTPTFilter<float> filterLeft, filterRight;
    double sampleRate = 44100.0;
    bool prepared = false;
};

inline float maxAbsDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b, int numChannels)
{
    float worst = 0.0f;

    for (int ch = 0; ch < numChannels; ++ch)
        for (int i = 0; i < a.getNumSamples(); ++i)
            worst = std::max (worst, std::abs (a.getSample (ch, i) - b.getSample (ch, i)));

    return worst;
}

inline bool allFinite (const juce::AudioBuffer<float>& buffer)
{
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            if (! std::isfinite (buffer.getSample (ch, i)))
                return false;

    return true;
}

/** A number as a part of a test case's name, where only letters, digits and underscores may
    stand: 0.25 gives "0p25", -4 "minus4", 1e-17 "1eminus17", 1e300 "1e300", NaN "nan". */
inline std::string namePart (double value)
{
    std::ostringstream printed;
    printed << value;

    std::string name;
    for (const char c : printed.str())
    {
        if (c == '-')
            name += "minus";
        else if (c == '.')
            name += 'p';
        else if (c != '+')
            name += c;
    }
    return name;
}

} // namespace enginetest
