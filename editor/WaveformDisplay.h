#pragma once

#include "BrellDistortionProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

/** The oscilloscope of the processed output: the processor's 256-slot scope ring, drawn in slot
    order as a glowing trace. */
class WaveformDisplay : public juce::Component,
                        private juce::Timer
{
public:
    explicit WaveformDisplay (BrellDistortionProcessor& processor);
    ~WaveformDisplay() override;

    void paint (juce::Graphics& g) override;

    /** Copies the scope ring and repaints; public so that it can be driven without a message loop. */
    void timerCallback() override;

private:
    friend struct EditorComponentTestAccess;

    BrellDistortionProcessor& processorRef;
    std::array<float, ScopeBuffer::size> displaySamples {};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WaveformDisplay)
};
