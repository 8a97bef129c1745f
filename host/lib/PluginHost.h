#pragma once

#include "HostPlayHead.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <functional>
#include <memory>
#include <vector>

/** One parameter as the host sees it through the VST3 edit controller. */
struct HostParameterInfo
{
    int index = 0;
    juce::uint32 vstId = 0;          // the VST3 ParamID
    juce::String name;
    juce::String label;
    float defaultValue = 0.0f;       // normalised
    juce::String defaultText;
    int numSteps = 0;                // JUCE's step count: the default for continuous parameters
    bool discrete = false;
    bool automatable = true;
    juce::String minText, maxText;   // texts at normalised 0 and 1
    juce::StringArray stepTexts;     // every step's text for stepped parameters with few steps
};

struct ParameterChange
{
    int index = 0;
    juce::uint32 vstId = 0;
    float value = 0.0f;              // normalised
};

/** A VST3 module loaded by path through JUCE's VST3 hosting, driven only through its VST3
    interfaces, as a DAW drives it. The instance is created on the message thread. */
class PluginHost : private juce::AudioProcessorListener
{
public:
    ~PluginHost() override;

    /** Any EditorWindow on the instance must be destroyed before this host.
        Loads the bundle's first audio effect. Returns nullptr and sets error on failure. */
    static std::unique_ptr<PluginHost> load (const juce::File& bundle, double sampleRate, int blockSize,
                                             juce::String& error);

    juce::AudioPluginInstance& getInstance() noexcept     { return *instance; }
    const juce::PluginDescription& getDescription() const { return description; }
    double getSampleRate() const noexcept                 { return sampleRate; }
    int getBlockSize() const noexcept                     { return blockSize; }

    //==============================================================================
    /** Asks the module whether it accepts main buses with these layouts (checked while inactive). */
    bool supportsLayout (const juce::AudioChannelSet& input, const juce::AudioChannelSet& output);
    /** Switches the main buses to these layouts; false when the module refuses them. */
    bool setLayout (const juce::AudioChannelSet& input, const juce::AudioChannelSet& output);
    int getNumChannels() const;

    /** The programs the module offers: its program-change parameter's choices if it has one,
        otherwise the length of its first program list (IUnitInfo). */
    int getNumPrograms();

    //==============================================================================
    std::vector<HostParameterInfo> getParameters() const;
    juce::AudioProcessorParameter* findParameter (juce::uint32 vstId) const;
    /** The parameter whose name matches (case ignored), or nullptr. */
    juce::AudioProcessorParameter* findParameterByName (const juce::String& name) const;
    static juce::uint32 getVstId (const juce::AudioProcessorParameter&);
    /** Sets a parameter as host automation would (normalised 0..1). */
    bool setParameter (juce::uint32 vstId, float normalised);
    float getParameter (juce::uint32 vstId) const;

    //==============================================================================
    HostPlayHead& getPlayHead() noexcept                  { return playHead; }
    void setTransport (const HostPlayHead::Settings&);
    /** Without a play head the module sees a process context with no transport at all. */
    void setPlayHeadEnabled (bool shouldBeEnabled);

    /** Activates the module for the current rate, block size and layout, if not already. */
    void prepare();
    void release();
    bool isPrepared() const noexcept                      { return prepared; }

    /** Processes one block in place; the song position then moves on. A buffer longer than the
        announced block size is processed in pieces of that size. */
    void processBlock (juce::AudioBuffer<float>& block);
    /** Processes a whole signal in place in host-sized blocks. */
    void processInBlocks (juce::AudioBuffer<float>& signal, std::function<void (int samplesDone)> progress = {});

    //==============================================================================
    /** The whole plug-in state as JUCE's host saves it (component and controller state). */
    juce::MemoryBlock getState();
    void setState (const juce::MemoryBlock&);
    /** The raw bytes of IComponent::getState, trailer included. */
    juce::MemoryBlock getComponentState();
    /** Gives the component (and, as a DAW does, the controller) these raw component bytes. */
    void setComponentState (const juce::MemoryBlock&);

    //==============================================================================
    /** Parameter changes the module reported to the host since the last call. */
    std::vector<ParameterChange> takeParameterChanges();
    /** Called for every reported change, on whichever thread the module reports it. */
    void setParameterChangeCallback (std::function<void (const ParameterChange&)>);

    /** How often, since the last call, the module said that its state changed in a way no
        parameter shows (IComponentHandler2::setDirty), so that a DAW marks the project modified. */
    int takeStateChangeCount();
    /** Called for every such report, on the thread it arrives on (the message thread). */
    void setStateChangeCallback (std::function<void()>);

private:
    PluginHost() = default;

    void audioProcessorParameterChanged (juce::AudioProcessor*, int parameterIndex, float newValue) override;
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override;

    juce::VST3PluginFormat format;
    juce::PluginDescription description;
    std::unique_ptr<juce::AudioPluginInstance> instance;
    HostPlayHead playHead;
    juce::MidiBuffer midi;
    double sampleRate = 44100.0;
    int blockSize = 512;
    bool prepared = false;

    juce::CriticalSection changeLock;
    std::vector<ParameterChange> changes;
    std::function<void (const ParameterChange&)> changeCallback;
    int stateChanges = 0;
    std::function<void()> stateChangeCallback;

    JUCE_DECLARE_NON_COPYABLE (PluginHost)
};
