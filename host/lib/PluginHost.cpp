#include "PluginHost.h"

#include "ModuleFactory.h"
#include "Vst3Sdk.h"

namespace
{
    /** A growable IBStream over a juce::MemoryBlock, for IComponent::getState/setState. */
    class MemoryBStream final : public Steinberg::IBStream
    {
    public:
        MemoryBStream() = default;
        explicit MemoryBStream (const juce::MemoryBlock& initial) : data (initial) {}
        virtual ~MemoryBStream() = default;

        const juce::MemoryBlock& getData() const noexcept   { return data; }

        Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID queryIid, void** obj) override
        {
            if (Steinberg::FUnknownPrivate::iidEqual (queryIid, Steinberg::FUnknown::iid)
                || Steinberg::FUnknownPrivate::iidEqual (queryIid, Steinberg::IBStream::iid))
            {
                addRef();
                *obj = this;
                return Steinberg::kResultOk;
            }

            *obj = nullptr;
            return Steinberg::kNoInterface;
        }

        // Lives on the stack of its user; the module must not keep it beyond the call.
        Steinberg::uint32 PLUGIN_API addRef() override    { return (Steinberg::uint32) ++refCount; }
        Steinberg::uint32 PLUGIN_API release() override   { return (Steinberg::uint32) --refCount; }

        Steinberg::tresult PLUGIN_API read (void* buffer, Steinberg::int32 numBytes, Steinberg::int32* numBytesRead) override
        {
            if (buffer == nullptr || numBytes < 0)
                return Steinberg::kInvalidArgument;

            const auto available = (Steinberg::int64) data.getSize() - position;
            const auto count = (Steinberg::int32) juce::jlimit ((Steinberg::int64) 0, (Steinberg::int64) numBytes, available);
            if (count > 0)
                std::memcpy (buffer, static_cast<const char*> (data.getData()) + position, (size_t) count);
            position += count;

            if (numBytesRead != nullptr)
                *numBytesRead = count;
            return Steinberg::kResultOk;
        }

        Steinberg::tresult PLUGIN_API write (void* buffer, Steinberg::int32 numBytes, Steinberg::int32* numBytesWritten) override
        {
            if (buffer == nullptr || numBytes < 0)
                return Steinberg::kInvalidArgument;

            const auto end = (size_t) position + (size_t) numBytes;
            if (end > data.getSize())
                data.setSize (end, true);
            if (numBytes > 0)
                std::memcpy (static_cast<char*> (data.getData()) + position, buffer, (size_t) numBytes);
            position += numBytes;

            if (numBytesWritten != nullptr)
                *numBytesWritten = numBytes;
            return Steinberg::kResultOk;
        }

        Steinberg::tresult PLUGIN_API seek (Steinberg::int64 pos, Steinberg::int32 mode, Steinberg::int64* result) override
        {
            Steinberg::int64 target = pos;
            if (mode == kIBSeekCur)
                target = position + pos;
            else if (mode == kIBSeekEnd)
                target = (Steinberg::int64) data.getSize() + pos;
            else if (mode != kIBSeekSet)
                return Steinberg::kInvalidArgument;

            if (target < 0)
                return Steinberg::kInvalidArgument;

            position = target;
            if (result != nullptr)
                *result = position;
            return Steinberg::kResultOk;
        }

        Steinberg::tresult PLUGIN_API tell (Steinberg::int64* pos) override
        {
            if (pos == nullptr)
                return Steinberg::kInvalidArgument;
            *pos = position;
            return Steinberg::kResultOk;
        }

    private:
        juce::MemoryBlock data;
        Steinberg::int64 position = 0;
        int refCount = 1;
    };

    struct ComponentFinder final : juce::ExtensionsVisitor
    {
        void visitVST3Client (const VST3Client& client) override   { component = client.getIComponentPtr(); }
        Steinberg::Vst::IComponent* component = nullptr;
    };

    Steinberg::Vst::IComponent* getComponent (juce::AudioPluginInstance& instance)
    {
        ComponentFinder finder;
        instance.getExtensions (finder);
        return finder.component;
    }

    constexpr int maxStepTexts = 64;
}

//==============================================================================
PluginHost::~PluginHost()
{
    if (instance != nullptr)
    {
        instance->removeListener (this);
        // Whoever opened an editor must have closed it by now: it must not outlive the instance.
        jassert (instance->getActiveEditor() == nullptr);
        if (prepared)
            instance->releaseResources();

        // A JUCE plug-in runs its messages on this host's run loop, and releasing the last instance
        // shuts its JUCE down. Deliver what it still has queued first (the fake mouse moves of an
        // editor that hasEditor() created and dropped, for one), as a DAW's running loop would;
        // JUCE's debug build asserts when it shuts down with messages pending.
        if (auto* messages = juce::MessageManager::getInstanceWithoutCreating())
            if (messages->isThisTheMessageThread())
                messages->runDispatchLoopUntil (20);

        instance.reset();
    }
}

std::unique_ptr<PluginHost> PluginHost::load (const juce::File& bundle, double rate, int block, juce::String& error)
{
    std::unique_ptr<PluginHost> host (new PluginHost());
    host->sampleRate = rate > 0.0 ? rate : 44100.0;
    host->blockSize = juce::jmax (1, block);

    if (! bundle.exists())
    {
        error = "no such bundle: " + bundle.getFullPathName();
        return nullptr;
    }

    juce::File binary;
    if (! checkModuleBinary (bundle, binary, error))
        return nullptr;

    juce::OwnedArray<juce::PluginDescription> found;
    host->format.findAllTypesForFile (found, bundle.getFullPathName());
    if (found.isEmpty())
    {
        error = "no VST3 plug-in found in " + bundle.getFullPathName();
        return nullptr;
    }

    host->description = *found.getFirst();
    host->instance = host->format.createInstanceFromDescription (host->description, host->sampleRate,
                                                                 host->blockSize, error);
    if (host->instance == nullptr)
    {
        if (error.isEmpty())
            error = "the module could not be instantiated";
        return nullptr;
    }

    host->instance->setPlayHead (&host->playHead);
    host->instance->addListener (host.get());
    host->playHead.setSettings ({}, host->sampleRate);
    return host;
}

//==============================================================================
bool PluginHost::supportsLayout (const juce::AudioChannelSet& input, const juce::AudioChannelSet& output)
{
    const bool wasPrepared = prepared;
    release();

    auto layout = instance->getBusesLayout();
    if (layout.inputBuses.isEmpty() || layout.outputBuses.isEmpty())
        return false;
    layout.inputBuses.getReference (0) = input;
    layout.outputBuses.getReference (0) = output;
    const bool supported = instance->checkBusesLayoutSupported (layout);

    if (wasPrepared)
        prepare();
    return supported;
}

bool PluginHost::setLayout (const juce::AudioChannelSet& input, const juce::AudioChannelSet& output)
{
    const bool wasPrepared = prepared;
    release();

    auto layout = instance->getBusesLayout();
    bool applied = false;
    if (! layout.inputBuses.isEmpty() && ! layout.outputBuses.isEmpty())
    {
        layout.inputBuses.getReference (0) = input;
        layout.outputBuses.getReference (0) = output;
        applied = instance->setBusesLayout (layout);
    }

    if (wasPrepared)
        prepare();
    return applied;
}

int PluginHost::getNumChannels() const
{
    return juce::jmax (instance->getTotalNumInputChannels(), instance->getTotalNumOutputChannels());
}

int PluginHost::getNumPrograms()
{
    if (const auto fromParameter = instance->getNumPrograms(); fromParameter > 0)
        return fromParameter;

    auto* component = getComponent (*instance);
    if (component == nullptr)
        return 0;

    void* unitInfoPointer = nullptr;
    if (component->queryInterface (Steinberg::Vst::IUnitInfo::iid, &unitInfoPointer) != Steinberg::kResultOk
        || unitInfoPointer == nullptr)
        return 0;

    auto* unitInfo = static_cast<Steinberg::Vst::IUnitInfo*> (unitInfoPointer);
    int count = 0;
    Steinberg::Vst::ProgramListInfo list {};
    if (unitInfo->getProgramListCount() > 0 && unitInfo->getProgramListInfo (0, list) == Steinberg::kResultOk)
        count = (int) list.programCount;
    unitInfo->release();
    return count;
}

//==============================================================================
juce::uint32 PluginHost::getVstId (const juce::AudioProcessorParameter& parameter)
{
    if (auto* withId = dynamic_cast<const juce::HostedAudioProcessorParameter*> (&parameter))
        return (juce::uint32) withId->getParameterID().getLargeIntValue();
    return 0;
}

std::vector<HostParameterInfo> PluginHost::getParameters() const
{
    std::vector<HostParameterInfo> result;
    const auto& parameters = instance->getParameters();

    for (auto* parameter : parameters)
    {
        HostParameterInfo info;
        info.index = parameter->getParameterIndex();
        info.vstId = getVstId (*parameter);
        info.name = parameter->getName (1024);
        info.label = parameter->getLabel();
        info.defaultValue = parameter->getDefaultValue();
        info.defaultText = parameter->getText (info.defaultValue, 1024);
        info.numSteps = parameter->getNumSteps();
        info.discrete = parameter->isDiscrete();
        info.automatable = parameter->isAutomatable();
        info.minText = parameter->getText (0.0f, 1024);
        info.maxText = parameter->getText (1.0f, 1024);

        if (info.discrete && info.numSteps > 1 && info.numSteps <= maxStepTexts)
            for (int step = 0; step < info.numSteps; ++step)
                info.stepTexts.add (parameter->getText ((float) step / (float) (info.numSteps - 1), 1024));

        result.push_back (info);
    }

    return result;
}

juce::AudioProcessorParameter* PluginHost::findParameter (juce::uint32 vstId) const
{
    for (auto* parameter : instance->getParameters())
        if (getVstId (*parameter) == vstId)
            return parameter;
    return nullptr;
}

juce::AudioProcessorParameter* PluginHost::findParameterByName (const juce::String& name) const
{
    for (auto* parameter : instance->getParameters())
        if (parameter->getName (1024).equalsIgnoreCase (name))
            return parameter;
    return nullptr;
}

bool PluginHost::setParameter (juce::uint32 vstId, float normalised)
{
    if (! std::isfinite (normalised))
        return false;

    if (auto* parameter = findParameter (vstId))
    {
        parameter->setValue (juce::jlimit (0.0f, 1.0f, normalised));
        return true;
    }
    return false;
}

float PluginHost::getParameter (juce::uint32 vstId) const
{
    if (auto* parameter = findParameter (vstId))
        return parameter->getValue();
    return 0.0f;
}

//==============================================================================
void PluginHost::setTransport (const HostPlayHead::Settings& settings)
{
    playHead.setSettings (settings, sampleRate);
}

void PluginHost::setPlayHeadEnabled (bool shouldBeEnabled)
{
    instance->setPlayHead (shouldBeEnabled ? &playHead : nullptr);
}

void PluginHost::prepare()
{
    if (prepared)
        return;

    instance->setRateAndBufferSizeDetails (sampleRate, blockSize);
    instance->prepareToPlay (sampleRate, blockSize);
    midi.ensureSize (256);
    prepared = true;
}

void PluginHost::release()
{
    if (! prepared)
        return;

    instance->releaseResources();
    prepared = false;
}

void PluginHost::processBlock (juce::AudioBuffer<float>& block)
{
    prepare();

    // A host never hands over more than it announced; a longer buffer goes in announced-size pieces.
    for (int start = 0; start < block.getNumSamples() || start == 0; start += blockSize)
    {
        const int length = juce::jmin (blockSize, block.getNumSamples() - start);
        juce::AudioBuffer<float> piece (block.getArrayOfWritePointers(), block.getNumChannels(), start, length);
        midi.clear();
        instance->processBlock (piece, midi);
        playHead.advance (length);
        if (length <= 0)
            break;
    }
}

void PluginHost::processInBlocks (juce::AudioBuffer<float>& signal, std::function<void (int)> progress)
{
    prepare();
    const int numChannels = signal.getNumChannels();
    const int hostChannels = juce::jmax (numChannels, getNumChannels());
    juce::AudioBuffer<float> block (hostChannels, blockSize);

    for (int start = 0; start < signal.getNumSamples(); start += blockSize)
    {
        const int length = juce::jmin (blockSize, signal.getNumSamples() - start);
        block.setSize (hostChannels, length, false, false, true);
        block.clear();
        for (int channel = 0; channel < numChannels; ++channel)
            block.copyFrom (channel, 0, signal, channel, start, length);

        processBlock (block);

        for (int channel = 0; channel < numChannels; ++channel)
            signal.copyFrom (channel, start, block, channel, 0, length);

        if (progress)
            progress (start + length);
    }
}

//==============================================================================
juce::MemoryBlock PluginHost::getState()
{
    juce::MemoryBlock state;
    instance->getStateInformation (state);
    return state;
}

void PluginHost::setState (const juce::MemoryBlock& state)
{
    instance->setStateInformation (state.getData(), (int) state.getSize());
}

juce::MemoryBlock PluginHost::getComponentState()
{
    auto* component = getComponent (*instance);
    if (component == nullptr)
        return {};

    MemoryBStream stream;
    if (component->getState (&stream) != Steinberg::kResultOk)
        return {};
    return stream.getData();
}

void PluginHost::setComponentState (const juce::MemoryBlock& componentState)
{
    // Handing the bytes over in the host's own state form lets JUCE pass them to the component
    // and to the controller and re-read every parameter, as a DAW restoring a project does.
    juce::XmlElement state ("VST3PluginState");
    state.createNewChildElement ("IComponent")->addTextElement (componentState.toBase64Encoding());
    juce::MemoryBlock wrapped;
    juce::AudioProcessor::copyXmlToBinary (state, wrapped);
    setState (wrapped);
}

//==============================================================================
void PluginHost::audioProcessorParameterChanged (juce::AudioProcessor*, int parameterIndex, float newValue)
{
    ParameterChange change;
    change.index = parameterIndex;
    change.value = newValue;
    const auto& parameters = instance->getParameters();
    if (juce::isPositiveAndBelow (parameterIndex, parameters.size()))
        change.vstId = getVstId (*parameters[parameterIndex]);

    const juce::ScopedLock lock (changeLock);
    changes.push_back (change);
    if (changeCallback)
        changeCallback (change);
}

std::vector<ParameterChange> PluginHost::takeParameterChanges()
{
    const juce::ScopedLock lock (changeLock);
    return std::exchange (changes, {});
}

void PluginHost::setParameterChangeCallback (std::function<void (const ParameterChange&)> callback)
{
    const juce::ScopedLock lock (changeLock);
    changeCallback = std::move (callback);
}

void PluginHost::audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails& details)
{
    // JUCE's hosting turns the module's setDirty into this flag; latency, program and parameter
    // info changes are not state edits.
    if (! details.nonParameterStateChanged)
        return;

    const juce::ScopedLock lock (changeLock);
    ++stateChanges;
    if (stateChangeCallback)
        stateChangeCallback();
}

int PluginHost::takeStateChangeCount()
{
    const juce::ScopedLock lock (changeLock);
    return std::exchange (stateChanges, 0);
}

void PluginHost::setStateChangeCallback (std::function<void()> callback)
{
    const juce::ScopedLock lock (changeLock);
    stateChangeCallback = std::move (callback);
}
