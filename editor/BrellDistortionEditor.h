#pragma once

#include "BrellDistortionProcessor.h"
#include "CRTOverlay.h"
#include "GlitchGrid.h"
#include "LevelMeter.h"
#include "WaveformDisplay.h"
#include "ZandorLookAndFeel.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** The plug-in's fixed-size 820 x 700 window: knobs, selectors, the glitch switch, the CHAOS and
    RESET buttons, the scope, four meters, the grid and the CRT overlay, with its own animated
    header and footer. */
class BrellDistortionEditor : public juce::AudioProcessorEditor,
                              private juce::Timer
{
public:
    static constexpr int editorWidth = 820;
    static constexpr int editorHeight = 700;

    explicit BrellDistortionEditor (BrellDistortionProcessor& owner);
    ~BrellDistortionEditor() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    /** Feeds the meters, blinks the cursor and scrolls the footer; public so that the animation
        can be stepped without a running message loop. */
    void timerCallback() override;

private:
    friend struct BrellDistortionEditorTestAccess;

    using SliderAttachment = juce::AudioProcessorValueTreeState::SliderAttachment;
    using ComboBoxAttachment = juce::AudioProcessorValueTreeState::ComboBoxAttachment;
    using ButtonAttachment = juce::AudioProcessorValueTreeState::ButtonAttachment;

    void setupKnob (juce::Slider& slider, juce::Label& label, const juce::String& caption);
    static void layoutKnob (juce::Slider& slider, juce::Label& label, juce::Rectangle<int> area);

    static juce::Font makeMonospacedFont (float height, int styleFlags);
    static float footerTextWidth();
    static int marqueeX (float offset, float textWidth) noexcept;

    BrellDistortionProcessor& processorRef;

    // Declared before every widget so that it outlives all of them.
    ZandorLookAndFeel lookAndFeel;

    juce::Slider driveSlider;
    juce::Slider mixSlider;
    juce::Slider outputSlider;
    juce::ComboBox modeBox;
    juce::Label driveLabel;
    juce::Label mixLabel;
    juce::Label outputLabel;
    juce::Label distLabel;

    juce::Slider cutoffSlider;
    juce::Slider resoSlider;
    juce::ComboBox filterTypeBox;
    juce::Label cutoffLabel;
    juce::Label resoLabel;
    juce::Label filterLabel;

    juce::ToggleButton glitchButton;
    juce::Slider chaosSlider;
    juce::Label chaosLabel;
    juce::TextButton chaosButton { "CHAOS" };
    juce::TextButton resetButton { "RESET" };

    // After all the controls, so each one is released while its control still exists.
    std::unique_ptr<SliderAttachment> driveAttachment;
    std::unique_ptr<SliderAttachment> mixAttachment;
    std::unique_ptr<SliderAttachment> outputAttachment;
    std::unique_ptr<SliderAttachment> cutoffAttachment;
    std::unique_ptr<SliderAttachment> resoAttachment;
    std::unique_ptr<SliderAttachment> chaosAttachment;
    std::unique_ptr<ComboBoxAttachment> modeAttachment;
    std::unique_ptr<ComboBoxAttachment> filterTypeAttachment;
    std::unique_ptr<ButtonAttachment> glitchAttachment;

    WaveformDisplay waveformDisplay;
    LevelMeter inputMeterLeft;
    LevelMeter inputMeterRight;
    LevelMeter outputMeterLeft;
    LevelMeter outputMeterRight;
    GlitchGrid glitchGrid;
    CRTOverlay crtOverlay;

    // Title cursor and footer marquee: written only by timerCallback, read only by paint.
    bool cursorVisible = true;
    int blinkCounter = 0;
    float marqueeOffset = 0.0f;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BrellDistortionEditor)
};
