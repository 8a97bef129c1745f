#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_dsp/juce_dsp.h>

#include <array>
#include <atomic>

/** 256 output samples (the mean of all channels), written as a ring by the audio thread. */
struct ScopeBuffer
{
    static constexpr int size = 256;
    std::array<std::atomic<float>, size> samples {};
};

/** RMS of the last block, per channel, before and after processing. */
struct MeterLevels
{
    std::atomic<float> inputLeft { 0.0f };
    std::atomic<float> inputRight { 0.0f };
    std::atomic<float> outputLeft { 0.0f };
    std::atomic<float> outputRight { 0.0f };
};

/** 5 rows x 16 steps. A cell holds the length in steps of a block starting there, 0 for none. */
struct GlitchPattern
{
    static constexpr int numRows = 5;
    static constexpr int numSteps = 16;

    std::array<std::array<std::atomic<int32_t>, numSteps>, numRows> cells {};

    int32_t get (int row, int step) const noexcept          { return cells[(size_t) row][(size_t) step].load(); }
    /** Returns the value the cell held, so that writers can tell whether they changed anything. */
    int32_t set (int row, int step, int32_t value) noexcept { return cells[(size_t) row][(size_t) step].exchange (value); }
};

class BrellDistortionProcessor : public juce::AudioProcessor
{
public:
    BrellDistortionProcessor();
    ~BrellDistortionProcessor() override;

    const juce::String getName() const override;

    void prepareToPlay (double sampleRate, int maximumBlockSize) override;
    void releaseResources() override;
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midiMessages) override;
    using juce::AudioProcessor::processBlock;

    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool isMidiEffect() const override;

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;

    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int index, const juce::String& newName) override;

    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    /** CHAOS: a random pattern and random settings; message thread only. */
    void randomise();
    /** RESET: empty pattern, continuous parameters at mid-range, first choices; message thread only. */
    void resetAll();
    /** Tells the host that the saved state changed although no parameter did (an edit of the
        pattern); message thread only. */
    void notifyPatternChanged();

    static juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout();

    static constexpr int captureLength = 96000;

    //==============================================================================
    juce::AudioProcessorValueTreeState apvts;
    ScopeBuffer scopeBuffer;
    MeterLevels meterLevels;
    GlitchPattern glitchPattern;
    std::atomic<int32_t> currentStep { -1 };
    std::atomic<int32_t> activeMask { 0 };

private:
    friend struct BrellDistortionProcessorTestAccess;

    void advanceSequencer (const juce::AudioPlayHead::PositionInfo& position, int numSamples);
    bool isRowActiveAtStep (int row, int step) const;
    void triggerGlitch (int row);
    void processGlitch (float* left, float* right, int numSamples);
    void prepareStutterWindow();

    void setParameterRandomly (const juce::String& parameterId, float low, float high);
    void setParameterToMiddle (const juce::String& parameterId);

    //==============================================================================
    juce::dsp::Oversampling<float> oversampler {
        2, 2, juce::dsp::Oversampling<float>::filterHalfBandPolyphaseIIR, true, false
    };
    int32_t scopeWriteIndex = 0;
    juce::dsp::StateVariableTPTFilter<float> filterLeft;
    juce::dsp::StateVariableTPTFilter<float> filterRight;
    double sampleRate = 44100.0;
    double stepAccumulator = 0.0;
    double samplesPerStep = 0.0;
    int32_t lastStep = -1;
    double bpm = 120.0;
    float captureBuffer[2][captureLength] {};
    int32_t captureWritePos = 0;
    int32_t stutterReadPos = 0;
    int32_t stutterLength = 2000;
    float tapeSpeed = 1.0f;
    float tapePosition = 0.0f;
    float crushBits = 3.0f;
    int32_t reversePos = 0;
    int32_t gateCounter = 0;
    bool gateOpen = true;
    int32_t gateLength = 800;
    juce::Random random;

    // Beyond the layout above: the dry copy is prepared once so that a block allocates nothing,
    // the prepared block size bounds what one pass through the oversampler may hold, TAPE STOP
    // reads relative to the slot it started at, STUTTER keeps its own copy of its window (the
    // ring records over the window's slots while the row sounds), and CHAOS draws from its own
    // generator on the message thread so it never races the audio thread's draws.
    juce::AudioBuffer<float> dryBuffer;
    int preparedBlockSize = 0;
    int32_t tapeStartPos = 0;
    int32_t stutterStartPos = 0;            // first slot of the window that STUTTER repeats
    juce::AudioBuffer<float> stutterWindow; // the window's samples, sized for the longest window
    int32_t stutterWindowFill = 0;          // how many of its leading samples stutterWindow holds
    juce::Random chaosRandom;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BrellDistortionProcessor)
};
