#include "BrellDistortionProcessor.h"
#include "BrellDistortionEditor.h"
#include "DriveShaping.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace
{

// The float parameters: identifier, name, range (start, end, interval, skew) and default.
struct FloatParameterSpec
{
    const char* id;
    const char* name;
    float start, end, interval, skew, defaultValue;
};

constexpr FloatParameterSpec driveSpec        { "drive",        "Drive",            0.0f,   100.0f,   0.1f,  1.0f, 50.0f };
constexpr FloatParameterSpec mixSpec          { "mix",          "Mix",              0.0f,   100.0f,   0.1f,  1.0f, 100.0f };
constexpr FloatParameterSpec outputSpec       { "output",       "Output",           -24.0f, 6.0f,     0.1f,  1.0f, 0.0f };
constexpr FloatParameterSpec cutoffSpec       { "filterCutoff", "Filter Cutoff",    20.0f,  20000.0f, 1.0f,  0.3f, 20000.0f };
constexpr FloatParameterSpec resoSpec         { "filterReso",   "Filter Resonance", 0.1f,   10.0f,    0.01f, 0.5f, 0.707f };
constexpr FloatParameterSpec glitchChaosSpec  { "glitchChaos",  "Glitch Chaos",     0.0f,   100.0f,   0.1f,  1.0f, 50.0f };

constexpr int numModes = 4;
constexpr int numFilterTypes = 3;

// The filters are only defined below half the rate; 0.49 keeps every cutoff of the range
// unchanged from 40.8 kHz upwards.
constexpr double maxCutoffFractionOfRate = 0.49;

// Until the host prepares the processor, blocks are worked through in pieces of this size.
constexpr int unpreparedBlockSize = 1024;

std::unique_ptr<juce::AudioParameterFloat> makeFloatParameter (const FloatParameterSpec& spec)
{
    return std::make_unique<juce::AudioParameterFloat> (juce::ParameterID { spec.id, 1 },
                                                        spec.name,
                                                        juce::NormalisableRange<float> (spec.start, spec.end, spec.interval, spec.skew),
                                                        spec.defaultValue);
}

/** A parameter's raw value, limited to its range. A non-finite one (a state or a host can
    deliver one) reads as the parameter's default, as a fresh processor would read it. */
float readFloat (juce::AudioProcessorValueTreeState& state, const FloatParameterSpec& spec) noexcept
{
    const auto* raw = state.getRawParameterValue (spec.id);
    const float value = raw != nullptr ? raw->load (std::memory_order_relaxed) : spec.defaultValue;

    if (std::isfinite (value))
        return juce::jlimit (spec.start, spec.end, value);

    if (auto* parameter = state.getParameter (spec.id))
        return parameter->convertFrom0to1 (parameter->getDefaultValue());

    return spec.defaultValue;
}

/** A choice index by truncation toward zero, kept inside the choice list. */
int readChoice (juce::AudioProcessorValueTreeState& state, const char* id, int numChoices) noexcept
{
    const auto* raw = state.getRawParameterValue (id);
    const float value = raw != nullptr ? raw->load (std::memory_order_relaxed) : 0.0f;

    if (! std::isfinite (value) || value < 0.0f)
        return 0;

    return juce::jmin ((int) juce::jmin (value, (float) numChoices), numChoices - 1);
}

bool readSwitch (juce::AudioProcessorValueTreeState& state, const char* id) noexcept
{
    const auto* raw = state.getRawParameterValue (id);
    const float value = raw != nullptr ? raw->load (std::memory_order_relaxed) : 0.0f;
    return value > 0.5f; // false for NaN, which is the switch's default
}

/** RMS as juce::AudioBuffer::getRMSLevel has it (float squares summed in double, 0 for no
    samples), with four partial sums so that the additions need not wait on each other. */
float rmsLevel (const float* samples, int numSamples) noexcept
{
    if (numSamples <= 0)
        return 0.0f;

    double sums[4] = {};
    int i = 0;

    for (; i + 4 <= numSamples; i += 4)
        for (int k = 0; k < 4; ++k)
        {
            const float sample = samples[i + k];
            sums[k] += sample * sample;
        }

    for (; i < numSamples; ++i)
    {
        const float sample = samples[i];
        sums[0] += sample * sample;
    }

    return (float) std::sqrt (((sums[0] + sums[1]) + (sums[2] + sums[3])) / numSamples);
}

/** True when any sample is NaN or infinite: all eight exponent bits set. Works on the bits so
    that it vectorises without any licence to reorder float arithmetic. */
bool hasNonFinite (const float* samples, int numSamples) noexcept
{
    uint32_t found = 0;

    for (int i = 0; i < numSamples; ++i)
    {
        uint32_t bits;
        std::memcpy (&bits, samples + i, sizeof (bits));
        found |= (uint32_t) ((bits & 0x7f800000u) == 0x7f800000u);
    }

    return found != 0;
}

/** Replaces every NaN or infinite sample by 0; says whether there was any. */
bool clearNonFinite (float* samples, int numSamples) noexcept
{
    if (! hasNonFinite (samples, numSamples))
        return false;

    for (int i = 0; i < numSamples; ++i)
        if (! std::isfinite (samples[i]))
            samples[i] = 0.0f;

    return true;
}

juce::dsp::StateVariableTPTFilterType filterTypeForIndex (int index) noexcept
{
    switch (index)
    {
        case 1:  return juce::dsp::StateVariableTPTFilterType::highpass;
        case 2:  return juce::dsp::StateVariableTPTFilterType::bandpass;
        default: return juce::dsp::StateVariableTPTFilterType::lowpass;
    }
}

} // namespace

//==============================================================================
BrellDistortionProcessor::BrellDistortionProcessor()
    : juce::AudioProcessor (BusesProperties()
                                .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                                .withOutput ("Output", juce::AudioChannelSet::stereo(), true)),
      apvts (*this, nullptr, "Parameters", createParameterLayout())
{
    for (auto& slot : scopeBuffer.samples)
        slot.store (0.0f);

    for (int row = 0; row < GlitchPattern::numRows; ++row)
        for (int step = 0; step < GlitchPattern::numSteps; ++step)
            glitchPattern.cells[(size_t) row][(size_t) step].store (0);

    // A block may arrive before any prepareToPlay; the dry copy is there for it too.
    dryBuffer.setSize (2, unpreparedBlockSize);
    dryBuffer.clear();
    prepareStutterWindow();
}

BrellDistortionProcessor::~BrellDistortionProcessor() = default;

//==============================================================================
juce::AudioProcessorValueTreeState::ParameterLayout BrellDistortionProcessor::createParameterLayout()
{
    std::vector<std::unique_ptr<juce::RangedAudioParameter>> parameters;

    parameters.push_back (makeFloatParameter (driveSpec));
    parameters.push_back (makeFloatParameter (mixSpec));
    parameters.push_back (makeFloatParameter (outputSpec));
    parameters.push_back (std::make_unique<juce::AudioParameterChoice> (
        juce::ParameterID { "mode", 1 }, "Mode",
        juce::StringArray { "HARD CLIP", "SOFT CLIP", "BITCRUSH", "FOLDBACK" }, 0));
    parameters.push_back (makeFloatParameter (cutoffSpec));
    parameters.push_back (makeFloatParameter (resoSpec));
    parameters.push_back (std::make_unique<juce::AudioParameterChoice> (
        juce::ParameterID { "filterType", 1 }, "Filter Type",
        juce::StringArray { "LOWPASS", "HIGHPASS", "BANDPASS" }, 0));
    parameters.push_back (std::make_unique<juce::AudioParameterBool> (
        juce::ParameterID { "glitchOn", 1 }, "Glitch On", false));
    parameters.push_back (makeFloatParameter (glitchChaosSpec));

    return { parameters.begin(), parameters.end() };
}

//==============================================================================
const juce::String BrellDistortionProcessor::getName() const { return "Zandor Pellum"; }
double BrellDistortionProcessor::getTailLengthSeconds() const { return 0.0; }
bool BrellDistortionProcessor::acceptsMidi() const { return false; }
bool BrellDistortionProcessor::producesMidi() const { return false; }
bool BrellDistortionProcessor::isMidiEffect() const { return false; }

juce::AudioProcessorEditor* BrellDistortionProcessor::createEditor() { return new BrellDistortionEditor (*this); }
bool BrellDistortionProcessor::hasEditor() const { return true; }

int BrellDistortionProcessor::getNumPrograms() { return 1; }
int BrellDistortionProcessor::getCurrentProgram() { return 0; }
void BrellDistortionProcessor::setCurrentProgram (int) {}
const juce::String BrellDistortionProcessor::getProgramName (int) { return {}; }
void BrellDistortionProcessor::changeProgramName (int, const juce::String&) {}

bool BrellDistortionProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto output = layouts.getMainOutputChannelSet();
    const auto input = layouts.getMainInputChannelSet();

    if (output != juce::AudioChannelSet::mono() && output != juce::AudioChannelSet::stereo())
        return false;

    return input == output;
}

//==============================================================================
void BrellDistortionProcessor::prepareToPlay (double newSampleRate, int maximumBlockSize)
{
    // A rate that is not a positive number would break the filters and the step length;
    // the last valid one stays.
    if (newSampleRate > 0.0 && std::isfinite (newSampleRate))
        sampleRate = newSampleRate;

    preparedBlockSize = juce::jmax (1, maximumBlockSize);

    oversampler.initProcessing ((size_t) preparedBlockSize);
    scopeWriteIndex = 0;

    const juce::dsp::ProcessSpec spec { sampleRate, (juce::uint32) preparedBlockSize, 1 };
    filterLeft.prepare (spec);
    filterRight.prepare (spec);

    dryBuffer.setSize (2, preparedBlockSize, false, false, true);
    dryBuffer.clear();

    captureWritePos = 0;
    stepAccumulator = 0.0;
    lastStep = -1;
    tapeSpeed = 1.0f;
    gateCounter = 0;
    gateOpen = true;
    for (auto& row : captureBuffer)
        std::fill (std::begin (row), std::end (row), 0.0f);
    prepareStutterWindow(); // after the rate is set; the window it held went with the ring

    bpm = 120.0;
    samplesPerStep = sampleRate * 60.0 / 480.0;
}

void BrellDistortionProcessor::releaseResources()
{
    oversampler.reset();
    filterLeft.reset();
    filterRight.reset();
}

//==============================================================================
void BrellDistortionProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;

    // Only the stereo pair is ever touched; a buffer with no channel carries nothing to do.
    const int numChannels = juce::jmin (buffer.getNumChannels(), 2);
    if (numChannels <= 0)
        return;

    const int numSamples = buffer.getNumSamples();
    const bool stereo = numChannels == 2;

    // A non-finite sample (a damaged file, an upstream plug-in gone wrong) counts as silence
    // before anything reads the block: left in, it would live on in the oversampler's and the
    // filters' state and in the capture ring for as long as the plug-in stays active.
    for (int ch = 0; ch < numChannels; ++ch)
        clearNonFinite (buffer.getWritePointer (ch), numSamples);

    // Parameter snapshot, once per block.
    const float drive = readFloat (apvts, driveSpec);
    const float mix = readFloat (apvts, mixSpec) / 100.0f;
    const float outputLevel = readFloat (apvts, outputSpec);
    const int modeIndex = readChoice (apvts, "mode", numModes);
    const float cutoff = readFloat (apvts, cutoffSpec);
    const float resonance = readFloat (apvts, resoSpec);
    const int filterTypeIndex = readChoice (apvts, "filterType", numFilterTypes);
    const bool glitchOn = readSwitch (apvts, "glitchOn");

    const float driveGain = juce::Decibels::decibelsToGain (drive * 0.6f);
    const float outputGain = juce::Decibels::decibelsToGain (outputLevel);
    const float crushLevels = zandor::bitcrushLevels (drive);

    // Sequencer: a play head without a position holds it; no play head lets it run on.
    if (auto* hostPlayHead = getPlayHead())
    {
        if (const auto position = hostPlayHead->getPosition())
            advanceSequencer (*position, numSamples);
    }
    else
    {
        advanceSequencer (juce::AudioPlayHead::PositionInfo {}, numSamples);
    }

    if (stereo)
    {
        meterLevels.inputLeft.store (rmsLevel (buffer.getReadPointer (0), numSamples));
        meterLevels.inputRight.store (rmsLevel (buffer.getReadPointer (1), numSamples));
    }

    filterLeft.setType (filterTypeForIndex (filterTypeIndex));
    filterRight.setType (filterTypeForIndex (filterTypeIndex));
    const float safeCutoff = juce::jmin (cutoff, (float) (sampleRate * maxCutoffFractionOfRate));
    filterLeft.setCutoffFrequency (safeCutoff);
    filterRight.setCutoffFrequency (safeCutoff);
    filterLeft.setResonance (resonance);
    filterRight.setResonance (resonance);

    // The oversampler and the dry copy hold at most one prepared block; a longer host block
    // goes through in pieces, which the streaming filters turn into the same output.
    const int pieceLength = juce::jmax (1, dryBuffer.getNumSamples());
    const bool oversamplerReady = preparedBlockSize > 0;
    const float dryGain = 1.0f - mix;

    for (int start = 0; start < numSamples; start += pieceLength)
    {
        const int length = juce::jmin (pieceLength, numSamples - start);

        for (int ch = 0; ch < numChannels; ++ch)
            dryBuffer.copyFrom (ch, 0, buffer, ch, start, length);

        auto hostBlock = juce::dsp::AudioBlock<float> (buffer)
                             .getSubsetChannelBlock (0, (size_t) numChannels)
                             .getSubBlock ((size_t) start, (size_t) length);

        if (oversamplerReady)
        {
            auto upsampled = oversampler.processSamplesUp (hostBlock);
            const auto upChannels = juce::jmin (upsampled.getNumChannels(), (size_t) numChannels);
            const auto upLength = upsampled.getNumSamples();

            for (size_t ch = 0; ch < upChannels; ++ch)
            {
                float* samples = upsampled.getChannelPointer (ch);

                switch (modeIndex)
                {
                    case 1:  zandor::shapeSoftClip (samples, upLength, driveGain); break;
                    case 2:  zandor::shapeBitcrush (samples, upLength, driveGain, crushLevels); break;
                    case 3:  zandor::shapeFoldback (samples, upLength, driveGain); break;
                    default: zandor::shapeHardClip (samples, upLength, driveGain); break;
                }
            }

            oversampler.processSamplesDown (hostBlock);
        }

        if (stereo)
        {
            float* left = hostBlock.getChannelPointer (0);
            float* right = hostBlock.getChannelPointer (1);

            for (int i = 0; i < length; ++i)
            {
                left[i] = filterLeft.processSample (0, left[i]);
                right[i] = filterRight.processSample (0, right[i]);
            }
        }

        for (int ch = 0; ch < numChannels; ++ch)
        {
            float* __restrict wet = hostBlock.getChannelPointer ((size_t) ch);
            const float* __restrict dry = dryBuffer.getReadPointer (ch);

            for (int i = 0; i < length; ++i)
                wet[i] = (dryGain * dry[i] + mix * wet[i]) * outputGain;
        }

        // Finite input near the float limit can still overflow inside the chain. Whatever went
        // non-finite is muted, and the state that may hold it starts afresh, so that neither the
        // capture ring nor the blocks that follow inherit it.
        bool overflowed = false;

        for (int ch = 0; ch < numChannels; ++ch)
            overflowed = clearNonFinite (hostBlock.getChannelPointer ((size_t) ch), length) || overflowed;

        if (overflowed)
        {
            oversampler.reset();
            filterLeft.reset();
            filterRight.reset();
        }
    }

    if (glitchOn && stereo)
    {
        processGlitch (buffer.getWritePointer (0), buffer.getWritePointer (1), numSamples);

        // CRUSH scales by up to 2^8 before it rounds, which can overflow a sample near the limit.
        for (int ch = 0; ch < 2; ++ch)
            clearNonFinite (buffer.getWritePointer (ch), numSamples);
    }
    else
    {
        // Copied in at most two runs, split where the ring wraps.
        for (int done = 0; done < numSamples;)
        {
            const int run = juce::jmin (numSamples - done, captureLength - captureWritePos);

            if (stereo)
            {
                std::copy_n (buffer.getReadPointer (0) + done, run, captureBuffer[0] + captureWritePos);
                std::copy_n (buffer.getReadPointer (1) + done, run, captureBuffer[1] + captureWritePos);
            }

            captureWritePos = (captureWritePos + run) % captureLength;
            done += run;
        }

        activeMask.store (0);
    }

    if (stereo)
    {
        meterLevels.outputLeft.store (rmsLevel (buffer.getReadPointer (0), numSamples));
        meterLevels.outputRight.store (rmsLevel (buffer.getReadPointer (1), numSamples));
    }

    // Only the block's last 256 samples survive in the ring, so the earlier ones are skipped;
    // the slots and the index end as if every sample had been written.
    const int firstScopeSample = juce::jmax (0, numSamples - ScopeBuffer::size);
    scopeWriteIndex = (scopeWriteIndex + firstScopeSample) % ScopeBuffer::size;

    const float* channel0 = buffer.getReadPointer (0);
    const float* channel1 = stereo ? buffer.getReadPointer (1) : nullptr;

    for (int i = firstScopeSample; i < numSamples; ++i)
    {
        float sum = channel0[i];
        if (stereo)
            sum += channel1[i];

        scopeBuffer.samples[(size_t) scopeWriteIndex].store (sum / (float) numChannels, std::memory_order_relaxed);
        scopeWriteIndex = (scopeWriteIndex + 1) % ScopeBuffer::size;
    }
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new BrellDistortionProcessor();
}
