#include "BrellDistortionProcessor.h"

// Placeholder bodies: saved state and the CHAOS/RESET actions replace these.
void BrellDistortionProcessor::getStateInformation (juce::MemoryBlock&) {}
void BrellDistortionProcessor::setStateInformation (const void*, int) {}
void BrellDistortionProcessor::randomise() {}
void BrellDistortionProcessor::resetAll() {}
void BrellDistortionProcessor::setParameterRandomly (const juce::String&, float, float) {}
void BrellDistortionProcessor::setParameterToMiddle (const juce::String&) {}
