#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** One vertical 20-segment bar meter with an instant rise, a gradual fall and a held peak. */
class LevelMeter : public juce::Component,
                   private juce::Timer
{
public:
    LevelMeter();
    ~LevelMeter() override;

    /** Stores a linear RMS level (1.0 = full scale); it shows on the meter's next tick. */
    void setLevel (float newLevel);

    void paint (juce::Graphics& g) override;

    /** The ballistics step; public so that it can be driven without a message loop. */
    void timerCallback() override;

private:
    friend struct EditorComponentTestAccess;

    float level = 0.0f;
    float displayLevel = 0.0f;
    float peakLevel = 0.0f;
    int peakHoldTicks = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LevelMeter)
};
