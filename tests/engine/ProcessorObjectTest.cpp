#include "EngineTestHelpers.h"

#include <gtest/gtest.h>

using enginetest::process;

TEST (ProcessorObject, FreshProcessorAnswers)
{
    auto proc = std::make_unique<BrellDistortionProcessor>();
    BrellDistortionProcessorTestAccess access (*proc);

    EXPECT_EQ (proc->getName(), "Zandor Pellum");
    EXPECT_EQ (proc->getTailLengthSeconds(), 0.0);
    EXPECT_FALSE (proc->acceptsMidi());
    EXPECT_FALSE (proc->producesMidi());
    EXPECT_FALSE (proc->isMidiEffect());
    EXPECT_TRUE (proc->hasEditor());
    EXPECT_EQ (proc->getNumPrograms(), 1);
    EXPECT_EQ (proc->getCurrentProgram(), 0);
    EXPECT_TRUE (proc->getProgramName (0).isEmpty());
    EXPECT_EQ (proc->getLatencySamples(), 0);
    EXPECT_FALSE (proc->supportsDoublePrecisionProcessing());
    EXPECT_EQ (proc->getBypassParameter(), nullptr);

    EXPECT_EQ (proc->currentStep.load(), -1);
    EXPECT_EQ (proc->activeMask.load(), 0);
    for (auto& slot : proc->scopeBuffer.samples)
        EXPECT_EQ (slot.load(), 0.0f);
    EXPECT_EQ (proc->meterLevels.inputLeft.load(), 0.0f);
    EXPECT_EQ (proc->meterLevels.inputRight.load(), 0.0f);
    EXPECT_EQ (proc->meterLevels.outputLeft.load(), 0.0f);
    EXPECT_EQ (proc->meterLevels.outputRight.load(), 0.0f);
    for (int row = 0; row < GlitchPattern::numRows; ++row)
        for (int step = 0; step < GlitchPattern::numSteps; ++step)
            EXPECT_EQ (proc->glitchPattern.get (row, step), 0);

    EXPECT_EQ (access.bpm(), 120.0);
    EXPECT_EQ (access.sampleRate(), 44100.0);
    EXPECT_EQ (access.samplesPerStep(), 0.0);
    EXPECT_EQ (access.stepAccumulator(), 0.0);
    EXPECT_EQ (access.lastStep(), -1);
    EXPECT_EQ (access.scopeWriteIndex(), 0);
    EXPECT_EQ (access.captureWritePos(), 0);
    EXPECT_EQ (access.stutterLength(), 2000);
    EXPECT_EQ (access.stutterReadPos(), 0);
    EXPECT_EQ (access.tapeSpeed(), 1.0f);
    EXPECT_EQ (access.tapePosition(), 0.0f);
    EXPECT_EQ (access.crushBits(), 3.0f);
    EXPECT_EQ (access.reversePos(), 0);
    EXPECT_EQ (access.gateCounter(), 0);
    EXPECT_TRUE (access.gateOpen());
    EXPECT_EQ (access.gateLength(), 800);
    for (int row = 0; row < 2; ++row)
        for (int i = 0; i < BrellDistortionProcessor::captureLength; i += 997)
            ASSERT_EQ (access.captureRow (row)[i], 0.0f);
}

TEST (ProcessorObject, BusesAreStereoInputAndOutput)
{
    BrellDistortionProcessor proc;

    ASSERT_EQ (proc.getBusCount (true), 1);
    ASSERT_EQ (proc.getBusCount (false), 1);
    EXPECT_EQ (proc.getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (proc.getBus (false, 0)->getName(), "Output");
    EXPECT_EQ (proc.getBus (true, 0)->getDefaultLayout(), juce::AudioChannelSet::stereo());
    EXPECT_EQ (proc.getBus (false, 0)->getDefaultLayout(), juce::AudioChannelSet::stereo());
    EXPECT_TRUE (proc.getBus (true, 0)->isEnabledByDefault());
    EXPECT_TRUE (proc.getBus (false, 0)->isEnabledByDefault());
    EXPECT_EQ (proc.getTotalNumInputChannels(), 2);
    EXPECT_EQ (proc.getTotalNumOutputChannels(), 2);
}

TEST (ProcessorObject, AcceptsOnlyMatchingMonoOrStereo)
{
    using Set = juce::AudioChannelSet;

    struct Case { const char* name; juce::Array<Set> inputs, outputs; bool accepted; };

    const Case cases[] = {
        { "mono/mono",         { Set::mono() },            { Set::mono() },            true },
        { "stereo/stereo",     { Set::stereo() },          { Set::stereo() },          true },
        { "stereo/mono",       { Set::stereo() },          { Set::mono() },            false },
        { "mono/stereo",       { Set::mono() },            { Set::stereo() },          false },
        { "disabled/stereo",   { Set::disabled() },        { Set::stereo() },          false },
        { "stereo/no output",  { Set::stereo() },          {},                         false },
        { "5.1/5.1",           { Set::create5point1() },   { Set::create5point1() },   false },
        { "left only",         { Set::mono() },            { [] { Set s; s.addChannel (Set::left); return s; }() }, false },
        { "left only both",    { [] { Set s; s.addChannel (Set::left); return s; }() },
                               { [] { Set s; s.addChannel (Set::left); return s; }() }, false },
    };

    BrellDistortionProcessor proc;

    for (const auto& c : cases)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses = c.inputs;
        layout.outputBuses = c.outputs;
        EXPECT_EQ (proc.checkBusesLayoutSupported (layout), c.accepted) << c.name;
    }
}

TEST (ProcessorObject, ProgramCallsChangeNothing)
{
    BrellDistortionProcessor proc;

    proc.setCurrentProgram (3);
    proc.setCurrentProgram (-1);
    proc.changeProgramName (0, "NAMED");

    EXPECT_EQ (proc.getCurrentProgram(), 0);
    EXPECT_TRUE (proc.getProgramName (3).isEmpty());
    EXPECT_TRUE (proc.getProgramName (-7).isEmpty());
    EXPECT_TRUE (proc.getProgramName (0).isEmpty());
}

TEST (ProcessorObject, BuiltAndDeletedWithoutPreparing)
{
    std::unique_ptr<juce::AudioProcessor> proc (createPluginFilter());
    ASSERT_NE (dynamic_cast<BrellDistortionProcessor*> (proc.get()), nullptr);
    proc.reset();
}

TEST (ProcessorObject, EachEditorIsNewAndBoundToTheProcessor)
{
    BrellDistortionProcessor proc;

    std::unique_ptr<juce::AudioProcessorEditor> first (proc.createEditor());
    std::unique_ptr<juce::AudioProcessorEditor> second (proc.createEditor());

    ASSERT_NE (first, nullptr);
    ASSERT_NE (second, nullptr);
    EXPECT_NE (first.get(), second.get());
    EXPECT_EQ (first->getAudioProcessor(), &proc);
    EXPECT_EQ (second->getAudioProcessor(), &proc);

    second.reset();
    first.reset();
}
