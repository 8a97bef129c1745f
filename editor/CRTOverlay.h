#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** A see-through layer over the whole editor: scanlines, a sweeping band, flicker, glitch lines
    and a vignette. It never takes mouse clicks. */
class CRTOverlay : public juce::Component,
                   private juce::Timer
{
public:
    CRTOverlay();
    ~CRTOverlay() override;

    void paint (juce::Graphics& g) override;

    /** Advances the animation; public so that it can be driven without a message loop. */
    void timerCallback() override;

private:
    friend struct EditorComponentTestAccess;

    static juce::RectangleList<int> vignetteClearArea (int width, int height);

    float barPosition = 0.0f;
    float flicker = 1.0f;
    float glitchAmount = 0.0f;
    juce::Random random;   // the overlay's own generator, message thread only

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CRTOverlay)
};
