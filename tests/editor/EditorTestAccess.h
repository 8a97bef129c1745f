#pragma once

#include "BrellDistortionEditor.h"

// The editor befriends this struct so that tests can reach its children and animation state.
struct BrellDistortionEditorTestAccess
{
    explicit BrellDistortionEditorTestAccess (BrellDistortionEditor& e) : editor (e) {}

    juce::LookAndFeel& lookAndFeel()        { return editor.lookAndFeel; }

    juce::Slider& driveSlider()             { return editor.driveSlider; }
    juce::Slider& mixSlider()               { return editor.mixSlider; }
    juce::Slider& outputSlider()            { return editor.outputSlider; }
    juce::Slider& cutoffSlider()            { return editor.cutoffSlider; }
    juce::Slider& resoSlider()              { return editor.resoSlider; }
    juce::Slider& chaosSlider()             { return editor.chaosSlider; }
    juce::Label& driveLabel()               { return editor.driveLabel; }
    juce::Label& mixLabel()                 { return editor.mixLabel; }
    juce::Label& outputLabel()              { return editor.outputLabel; }
    juce::Label& cutoffLabel()              { return editor.cutoffLabel; }
    juce::Label& resoLabel()                { return editor.resoLabel; }
    juce::Label& chaosLabel()               { return editor.chaosLabel; }
    juce::Label& distLabel()                { return editor.distLabel; }
    juce::Label& filterLabel()              { return editor.filterLabel; }
    juce::ComboBox& modeBox()               { return editor.modeBox; }
    juce::ComboBox& filterTypeBox()         { return editor.filterTypeBox; }
    juce::ToggleButton& glitchButton()      { return editor.glitchButton; }
    juce::TextButton& chaosButton()         { return editor.chaosButton; }
    juce::TextButton& resetButton()         { return editor.resetButton; }

    juce::Component& waveformDisplay()      { return editor.waveformDisplay; }
    LevelMeter& inputMeterLeft()            { return editor.inputMeterLeft; }
    LevelMeter& inputMeterRight()           { return editor.inputMeterRight; }
    LevelMeter& outputMeterLeft()           { return editor.outputMeterLeft; }
    LevelMeter& outputMeterRight()          { return editor.outputMeterRight; }
    juce::Component& glitchGrid()           { return editor.glitchGrid; }
    juce::Component& crtOverlay()           { return editor.crtOverlay; }

    bool& cursorVisible()                   { return editor.cursorVisible; }
    int& blinkCounter()                     { return editor.blinkCounter; }
    float& marqueeOffset()                  { return editor.marqueeOffset; }

    static int marqueeX (float offset, float textWidth)  { return BrellDistortionEditor::marqueeX (offset, textWidth); }
    static float footerTextWidth()                        { return BrellDistortionEditor::footerTextWidth(); }

    BrellDistortionEditor& editor;
};
