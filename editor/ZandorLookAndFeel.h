#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Terminal-style drawing for the editor's knobs, selectors with their menus, and glitch switch. */
class ZandorLookAndFeel : public juce::LookAndFeel_V4
{
public:
    ZandorLookAndFeel();

    void drawToggleButton (juce::Graphics& g, juce::ToggleButton& button,
                           bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    void drawPopupMenuBackground (juce::Graphics& g, int width, int height) override;
    void drawPopupMenuItem (juce::Graphics& g, const juce::Rectangle<int>& area,
                            bool isSeparator, bool isActive, bool isHighlighted, bool isTicked, bool hasSubMenu,
                            const juce::String& text, const juce::String& shortcutKeyText,
                            const juce::Drawable* icon, const juce::Colour* textColour) override;
    juce::Font getPopupMenuFont() override;

    void drawComboBox (juce::Graphics& g, int width, int height, bool isButtonDown,
                       int buttonX, int buttonY, int buttonW, int buttonH, juce::ComboBox& box) override;
    juce::Font getComboBoxFont (juce::ComboBox& box) override;

    void drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height,
                           float sliderPosProportional, float rotaryStartAngle, float rotaryEndAngle,
                           juce::Slider& slider) override;

    /** The dark, softly glowing frame the scope and the glitch grid are drawn in. */
    static void drawDisplayPanel (juce::Graphics& g, juce::Rectangle<float> bounds);

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ZandorLookAndFeel)
};
