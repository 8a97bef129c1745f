#include "BrellDistortionProcessor.h"

// Placeholder bodies: the sequencer and effects replace these.
void BrellDistortionProcessor::advanceSequencer (const juce::AudioPlayHead::PositionInfo&, int) {}
bool BrellDistortionProcessor::isRowActiveAtStep (int, int) const { return false; }
void BrellDistortionProcessor::triggerGlitch (int) {}
void BrellDistortionProcessor::processGlitch (float*, float*, int) {}
