#include "BrellDistortionEditor.h"

#include <cmath>

namespace
{
    namespace Palette
    {
        constexpr juce::uint32 background   = 0xff030008;
        constexpr juce::uint32 panel        = 0xff08000f;
        constexpr juce::uint32 accent       = 0xffbb44ff;
        constexpr juce::uint32 cyan         = 0xff00ffee;
        constexpr juce::uint32 pink         = 0xffff2090;
        constexpr juce::uint32 gridLines    = 0xff120820;
    }

    constexpr int headerBandHeight = 55;
    constexpr int footerBandHeight = 28;
    constexpr int gridSpacing = 16;
    constexpr int blinkTicks = 15;
    constexpr float marqueeStep = 0.8f;

    const char* const titleText = "ZANDOR://PELLUM";
    const char* const footerText = ">>> ZANDOR PELLUM TESSARINE  //  DIST | FILTER | GLITCH SEQUENCER  //  "
                                   "CLICK GRID TO PLACE EFFECTS  //  SYNCS TO HOST TEMPO  ///  ";

    void setRowLabelStyle (juce::Label& label, const juce::String& text, juce::uint32 colour, const juce::Font& font)
    {
        label.setText (text, juce::dontSendNotification);
        label.setFont (font);
        label.setColour (juce::Label::textColourId, juce::Colour (colour));
        label.setJustificationType (juce::Justification::centredLeft);
    }
}

//==============================================================================
BrellDistortionEditor::BrellDistortionEditor (BrellDistortionProcessor& owner)
    : juce::AudioProcessorEditor (owner),
      processorRef (owner),
      waveformDisplay (owner),
      glitchGrid (owner)
{
    setLookAndFeel (&lookAndFeel);

    // Fixed size, set before any child is styled: resized() places every child from here on.
    setSize (editorWidth, editorHeight);

    setupKnob (driveSlider, driveLabel, "DRIVE");
    setupKnob (mixSlider, mixLabel, "MIX");
    setupKnob (outputSlider, outputLabel, "OUTPUT");
    driveSlider.setTextValueSuffix ("%");
    mixSlider.setTextValueSuffix ("%");
    outputSlider.setTextValueSuffix (" dB");

    setupKnob (cutoffSlider, cutoffLabel, "CUTOFF");
    setupKnob (resoSlider, resoLabel, "RESO");
    cutoffSlider.setTextValueSuffix (" Hz");

    const auto rowLabelFont = makeMonospacedFont (13.0f, juce::Font::bold);

    filterTypeBox.addItemList ({ "LOWPASS", "HIGHPASS", "BANDPASS" }, 1);
    addAndMakeVisible (filterTypeBox);
    setRowLabelStyle (filterLabel, "FILTER://", Palette::cyan, rowLabelFont);
    addAndMakeVisible (filterLabel);

    modeBox.addItemList ({ "HARD CLIP", "SOFT CLIP", "BITCRUSH", "FOLDBACK" }, 1);
    addAndMakeVisible (modeBox);
    setRowLabelStyle (distLabel, "DIST://", Palette::pink, rowLabelFont);
    addAndMakeVisible (distLabel);

    addAndMakeVisible (glitchButton);

    setupKnob (chaosSlider, chaosLabel, "CHAOS");
    chaosSlider.setTextValueSuffix ("%");

    chaosButton.setColour (juce::TextButton::buttonColourId, juce::Colour (Palette::panel));
    chaosButton.setColour (juce::TextButton::textColourOffId, juce::Colour (Palette::pink));
    addAndMakeVisible (chaosButton);
    chaosButton.onClick = [this] { processorRef.randomise(); };

    resetButton.setColour (juce::TextButton::buttonColourId, juce::Colour (Palette::panel));
    resetButton.setColour (juce::TextButton::textColourOffId, juce::Colour (Palette::cyan));
    addAndMakeVisible (resetButton);
    resetButton.onClick = [this] { processorRef.resetAll(); };

    // Only now, with every control styled and both selectors filled: each attachment sets its
    // control's range and value text and pushes the parameter's current value into it.
    auto& apvts = processorRef.apvts;
    driveAttachment      = std::make_unique<SliderAttachment> (apvts, "drive", driveSlider);
    mixAttachment        = std::make_unique<SliderAttachment> (apvts, "mix", mixSlider);
    outputAttachment     = std::make_unique<SliderAttachment> (apvts, "output", outputSlider);
    modeAttachment       = std::make_unique<ComboBoxAttachment> (apvts, "mode", modeBox);
    cutoffAttachment     = std::make_unique<SliderAttachment> (apvts, "filterCutoff", cutoffSlider);
    resoAttachment       = std::make_unique<SliderAttachment> (apvts, "filterReso", resoSlider);
    filterTypeAttachment = std::make_unique<ComboBoxAttachment> (apvts, "filterType", filterTypeBox);
    glitchAttachment     = std::make_unique<ButtonAttachment> (apvts, "glitchOn", glitchButton);
    chaosAttachment      = std::make_unique<SliderAttachment> (apvts, "glitchChaos", chaosSlider);

    addAndMakeVisible (waveformDisplay);
    addAndMakeVisible (inputMeterLeft);
    addAndMakeVisible (inputMeterRight);
    addAndMakeVisible (outputMeterLeft);
    addAndMakeVisible (outputMeterRight);
    addAndMakeVisible (glitchGrid);
    addAndMakeVisible (crtOverlay);   // topmost; it lets every click through

    startTimer (33);
}

BrellDistortionEditor::~BrellDistortionEditor()
{
    // The children inherit this look-and-feel; detach it before any of them goes.
    setLookAndFeel (nullptr);
}

//==============================================================================
void BrellDistortionEditor::setupKnob (juce::Slider& slider, juce::Label& label, const juce::String& caption)
{
    slider.setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
    slider.setTextBoxStyle (juce::Slider::TextBoxBelow, false, 80, 20);
    slider.setColour (juce::Slider::textBoxTextColourId, juce::Colour (Palette::accent));
    slider.setColour (juce::Slider::textBoxOutlineColourId, juce::Colours::transparentBlack);
    addAndMakeVisible (slider);

    label.setText (caption, juce::dontSendNotification);
    label.setFont (makeMonospacedFont (12.0f, juce::Font::bold));
    label.setColour (juce::Label::textColourId, juce::Colour (Palette::cyan));
    label.setJustificationType (juce::Justification::centred);
    addAndMakeVisible (label);
}

void BrellDistortionEditor::layoutKnob (juce::Slider& slider, juce::Label& label, juce::Rectangle<int> area)
{
    label.setBounds (area.removeFromTop (16));
    slider.setBounds (area);
}

juce::Font BrellDistortionEditor::makeMonospacedFont (float height, int styleFlags)
{
    return juce::Font (juce::FontOptions (juce::Font::getDefaultMonospacedFontName(), height, styleFlags));
}

float BrellDistortionEditor::footerTextWidth()
{
    JUCE_BEGIN_IGNORE_DEPRECATION_WARNINGS
    return makeMonospacedFont (11.0f, juce::Font::plain).getStringWidthFloat (footerText);
    JUCE_END_IGNORE_DEPRECATION_WARNINGS
}

int BrellDistortionEditor::marqueeX (float offset, float textWidth) noexcept
{
    // Without a measurable width (no font found) the text simply stays at x = 0.
    if (! (textWidth > 0.0f))
        return 0;

    return -(int) std::fmod (offset, textWidth);
}

//==============================================================================
void BrellDistortionEditor::resized()
{
    auto area = getLocalBounds();
    area.removeFromTop (headerBandHeight);
    area.removeFromBottom (footerBandHeight);
    area = area.reduced (8, 4);

    auto placeMeterPair = [] (juce::Rectangle<int> strip, LevelMeter& first, LevelMeter& second)
    {
        strip.removeFromTop (18);   // room for the "IN" / "OUT" caption
        first.setBounds (strip.removeFromLeft (12).reduced (0, 2));
        strip.removeFromLeft (2);
        second.setBounds (strip.removeFromLeft (12).reduced (0, 2));
    };

    placeMeterPair (area.removeFromLeft (28), inputMeterLeft, inputMeterRight);
    placeMeterPair (area.removeFromRight (28), outputMeterLeft, outputMeterRight);

    area = area.reduced (6, 0);
    const int rowWidth = area.getWidth();

    // Row 1: the two selectors with their row labels.
    {
        auto row = area.removeFromTop (32);
        auto left = row.removeFromLeft (rowWidth / 2 - 4);
        distLabel.setBounds (left.removeFromLeft (70));
        modeBox.setBounds (left.reduced (0, 2));
        row.removeFromLeft (8);
        filterLabel.setBounds (row.removeFromLeft (90));
        filterTypeBox.setBounds (row.reduced (0, 2));
    }

    area.removeFromTop (6);

    // Row 2: the scope, then five knob columns; the last one takes the division's remainder.
    {
        auto row = area.removeFromTop (120);
        waveformDisplay.setBounds (row.removeFromLeft (rowWidth * 2 / 5));
        row.removeFromLeft (6);
        const int knobWidth = row.getWidth() / 5;
        layoutKnob (driveSlider, driveLabel, row.removeFromLeft (knobWidth));
        layoutKnob (mixSlider, mixLabel, row.removeFromLeft (knobWidth));
        layoutKnob (outputSlider, outputLabel, row.removeFromLeft (knobWidth));
        layoutKnob (cutoffSlider, cutoffLabel, row.removeFromLeft (knobWidth));
        layoutKnob (resoSlider, resoLabel, row);
    }

    area.removeFromTop (8);

    // Row 3: the glitch switch, the chaos knob (taller than the row) and the two buttons.
    {
        auto row = area.removeFromTop (36);
        glitchButton.setBounds (row.removeFromLeft (180));
        row.removeFromLeft (12);
        chaosLabel.setBounds (row.removeFromLeft (60).withHeight (16));
        chaosSlider.setBounds (row.removeFromLeft (80).expanded (0, 10));
        row.removeFromLeft (12);
        chaosButton.setBounds (row.removeFromLeft (80).reduced (0, 4));
        row.removeFromLeft (6);
        resetButton.setBounds (row.removeFromLeft (70).reduced (0, 4));
    }

    area.removeFromTop (6);
    glitchGrid.setBounds (area);

    crtOverlay.setBounds (getLocalBounds());
}

//==============================================================================
void BrellDistortionEditor::paint (juce::Graphics& g)
{
    const int w = getWidth();
    const int h = getHeight();
    const auto wf = (float) w;
    const auto hf = (float) h;

    g.fillAll (juce::Colour (Palette::background));

    g.setColour (juce::Colour (Palette::gridLines));
    for (int y = 0; y < h; y += gridSpacing)
        g.drawHorizontalLine (y, 0.0f, wf);
    for (int x = 0; x < w; x += gridSpacing)
        g.drawVerticalLine (x, 0.0f, hf);

    // Header band, its glow strip and its rule.
    g.setColour (juce::Colour (0xee000005));
    g.fillRect (juce::Rectangle<int> (0, 0, w, 52));
    g.setColour (juce::Colour (0x0fbb44ff));
    g.fillRect (juce::Rectangle<int> (0, 49, w, 6));
    g.setColour (juce::Colour (0x99bb44ff));
    g.drawHorizontalLine (52, 0.0f, wf);
    g.setColour (juce::Colour (0x1feeddff));
    g.drawHorizontalLine (52, 0.0f, wf);

    // Title: a wide faint glow, a tighter brighter one, the text and a pale highlight.
    {
        g.setFont (makeMonospacedFont (28.0f, juce::Font::bold));
        const juce::String title = cursorVisible ? juce::String (titleText) + "_" : juce::String (titleText);

        auto drawTitleAt = [&] (int dx, int dy)
        {
            g.drawText (title, juce::Rectangle<float> ((float) dx, (float) (8 + dy), wf, 38.0f),
                        juce::Justification::centred, true);
        };

        g.setColour (juce::Colour (0x08bb44ff));
        for (int dx = -3; dx <= 3; ++dx)
            for (int dy = -3; dy <= 3; ++dy)
                drawTitleAt (dx, dy);

        g.setColour (juce::Colour (0x14bb44ff));
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy)
                drawTitleAt (dx, dy);

        g.setColour (juce::Colour (Palette::accent));
        drawTitleAt (0, 0);
        g.setColour (juce::Colour (0x2eeeddff));
        drawTitleAt (0, 0);
    }

    g.setFont (makeMonospacedFont (10.0f, juce::Font::plain));
    g.setColour (juce::Colour (0x807722cc));
    g.drawText ("SYS://ACTIVE", juce::Rectangle<float> (10.0f, 4.0f, 130.0f, 14.0f), juce::Justification::centredLeft, true);
    g.drawText ("v2.0.0", juce::Rectangle<float> (wf - 70.0f, 4.0f, 60.0f, 14.0f), juce::Justification::centredRight, true);

    g.setFont (makeMonospacedFont (10.0f, juce::Font::bold));
    g.setColour (juce::Colour (0x9900ffee));
    g.drawText ("IN", juce::Rectangle<float> (8.0f, 56.0f, 32.0f, 16.0f), juce::Justification::centred, true);
    g.drawText ("OUT", juce::Rectangle<float> (wf - 42.0f, 56.0f, 34.0f, 16.0f), juce::Justification::centred, true);

    // Footer band and its marquee: two copies of the text back to back, shifted left by the
    // offset modulo one copy's width, so the scroll has no seam.
    g.setColour (juce::Colour (0xee000005));
    g.fillRect (juce::Rectangle<int> (0, h - 26, w, 26));
    g.setColour (juce::Colour (0x66bb44ff));
    g.drawHorizontalLine (h - 26, 0.0f, wf);

    {
        g.setFont (makeMonospacedFont (11.0f, juce::Font::plain));
        const juce::String once (footerText);
        const float textWidth = footerTextWidth();

        const int x = marqueeX (marqueeOffset, textWidth);
        const int boxWidth = (int) (textWidth * 2.5f);

        g.setColour (juce::Colour (0x66bb44ff));
        g.drawText (once + once, juce::Rectangle<float> ((float) x, (float) (h - 24), (float) boxWidth, 20.0f),
                    juce::Justification::centredLeft, false);
    }

    // Frame and corner brackets.
    g.setColour (juce::Colour (0x14bb44ff));
    g.drawRect (0, 0, w, h, 2);
    g.setColour (juce::Colour (0x80bb44ff));
    g.drawRect (0, 0, w, h, 1);

    constexpr float arm = 18.0f;
    g.setColour (juce::Colour (0x8000ffee));
    g.drawLine (0.0f, 0.0f, arm, 0.0f, 2.0f);
    g.drawLine (0.0f, 0.0f, 0.0f, arm, 2.0f);
    g.drawLine (wf - arm, 0.0f, wf, 0.0f, 2.0f);
    g.drawLine (wf, 0.0f, wf, arm, 2.0f);
    g.drawLine (0.0f, hf, arm, hf, 2.0f);
    g.drawLine (0.0f, hf - arm, 0.0f, hf, 2.0f);
    g.drawLine (wf - arm, hf, wf, hf, 2.0f);
    g.drawLine (wf, hf - arm, wf, hf, 2.0f);
}

//==============================================================================
void BrellDistortionEditor::timerCallback()
{
    auto& levels = processorRef.meterLevels;
    inputMeterLeft.setLevel (levels.inputLeft.load());
    inputMeterRight.setLevel (levels.inputRight.load());
    outputMeterLeft.setLevel (levels.outputLeft.load());
    outputMeterRight.setLevel (levels.outputRight.load());

    if (++blinkCounter >= blinkTicks)
    {
        blinkCounter = 0;
        cursorVisible = ! cursorVisible;
        repaint (0, 0, getWidth(), headerBandHeight);
    }

    // Kept within one text width so the float never loses its 0.8 px step; paint works
    // modulo that width anyway, so the footer looks the same.
    marqueeOffset += marqueeStep;
    const float textWidth = footerTextWidth();
    if (textWidth > 0.0f)
        marqueeOffset = std::fmod (marqueeOffset, textWidth);

    repaint (0, getHeight() - footerBandHeight, getWidth(), footerBandHeight);
}
