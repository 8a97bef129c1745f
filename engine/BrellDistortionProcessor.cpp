#include "BrellDistortionProcessor.h"

// Placeholder bodies: the real chain replaces these.
BrellDistortionProcessor::BrellDistortionProcessor()
    : juce::AudioProcessor (BusesProperties()
                                .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                                .withOutput ("Output", juce::AudioChannelSet::stereo(), true)),
      apvts (*this, nullptr, "Parameters", createParameterLayout())
{
}

BrellDistortionProcessor::~BrellDistortionProcessor() = default;

const juce::String BrellDistortionProcessor::getName() const { return "Zandor Pellum"; }
void BrellDistortionProcessor::prepareToPlay (double, int) {}
void BrellDistortionProcessor::releaseResources() {}
void BrellDistortionProcessor::processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) {}
double BrellDistortionProcessor::getTailLengthSeconds() const { return 0.0; }
bool BrellDistortionProcessor::acceptsMidi() const { return false; }
bool BrellDistortionProcessor::producesMidi() const { return false; }
bool BrellDistortionProcessor::isMidiEffect() const { return false; }
juce::AudioProcessorEditor* BrellDistortionProcessor::createEditor() { return new juce::GenericAudioProcessorEditor (*this); }
bool BrellDistortionProcessor::hasEditor() const { return true; }
int BrellDistortionProcessor::getNumPrograms() { return 1; }
int BrellDistortionProcessor::getCurrentProgram() { return 0; }
void BrellDistortionProcessor::setCurrentProgram (int) {}
const juce::String BrellDistortionProcessor::getProgramName (int) { return {}; }
void BrellDistortionProcessor::changeProgramName (int, const juce::String&) {}
bool BrellDistortionProcessor::isBusesLayoutSupported (const BusesLayout&) const { return true; }

juce::AudioProcessorValueTreeState::ParameterLayout BrellDistortionProcessor::createParameterLayout() { return {}; }

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new BrellDistortionProcessor();
}
