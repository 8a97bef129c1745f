#include <juce_audio_processors/juce_audio_processors.h>
int main() { juce::ScopedJuceInitialiser_GUI init; juce::VST3PluginFormat f; return 0; }
