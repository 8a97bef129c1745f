#include "ZandorLookAndFeel.h"

#include <cmath>

namespace
{
    juce::Font monospaced (int style)
    {
        return juce::Font (juce::FontOptions (juce::Font::getDefaultMonospacedFontName(), 14.0f, style));
    }

    // The point at angle a (0 straight up, clockwise) and distance d from c.
    juce::Point<float> pointAt (juce::Point<float> c, float a, float d) noexcept
    {
        return { c.x + d * std::sin (a), c.y - d * std::cos (a) };
    }
}

ZandorLookAndFeel::ZandorLookAndFeel()
{
    setColour (juce::ComboBox::backgroundColourId, juce::Colour (0xff08000f));
    setColour (juce::ComboBox::outlineColourId, juce::Colour (0x80bb44ff));
    setColour (juce::ComboBox::textColourId, juce::Colour (0xffbb44ff));
    setColour (juce::ComboBox::arrowColourId, juce::Colour (0xffbb44ff));
    setColour (juce::PopupMenu::backgroundColourId, juce::Colour (0xff08000f));
    setColour (juce::PopupMenu::textColourId, juce::Colour (0xffbb44ff));
    setColour (juce::PopupMenu::highlightedBackgroundColourId, juce::Colour (0x26bb44ff));
    setColour (juce::PopupMenu::highlightedTextColourId, juce::Colour (0xff00ffee));
}

//==============================================================================
void ZandorLookAndFeel::drawToggleButton (juce::Graphics& g, juce::ToggleButton& button, bool, bool)
{
    // The switch shows its state only; hover, press and the button's own text play no part.
    const auto box = button.getLocalBounds().toFloat().reduced (2.0f);

    if (! button.getToggleState())
    {
        g.setColour (juce::Colour (0xff08000f));
        g.fillRoundedRectangle (box, 4.0f);
        g.setColour (juce::Colour (0x4cbb44ff));
        g.drawRoundedRectangle (box, 4.0f, 1.5f);
        g.setFont (monospaced (juce::Font::bold));
        g.setColour (juce::Colour (0x80bb44ff));
        g.drawText ("GLITCH://OFF", box, juce::Justification::centred, true);
        return;
    }

    g.setColour (juce::Colour (0x26ff2090));
    g.fillRoundedRectangle (box, 4.0f);
    g.setColour (juce::Colour (0x0fff2090));
    g.drawRoundedRectangle (box, 4.0f, 8.0f);
    g.setColour (juce::Colour (0x26ff2090));
    g.drawRoundedRectangle (box, 4.0f, 4.0f);
    g.setColour (juce::Colour (0xffff2090));
    g.drawRoundedRectangle (box, 4.0f, 1.5f);
    g.setFont (monospaced (juce::Font::bold));
    g.drawText ("GLITCH://ON", box, juce::Justification::centred, true);
    g.setColour (juce::Colours::white.withAlpha (0.15f));
    g.drawText ("GLITCH://ON", box, juce::Justification::centred, true);
}

//==============================================================================
void ZandorLookAndFeel::drawPopupMenuBackground (juce::Graphics& g, int width, int height)
{
    g.fillAll (juce::Colour (0xff08000f));
    g.setColour (juce::Colour (0x4cbb44ff));
    g.drawRect (0, 0, width, height, 1);
}

void ZandorLookAndFeel::drawPopupMenuItem (juce::Graphics& g, const juce::Rectangle<int>& area,
                                           bool, bool isActive, bool isHighlighted, bool isTicked, bool,
                                           const juce::String& text, const juce::String&,
                                           const juce::Drawable*, const juce::Colour*)
{
    juce::Colour textColour;

    if (isHighlighted)
    {
        if (isActive)
        {
            g.setColour (juce::Colour (0x26bb44ff));
            g.fillRect (area);
        }

        textColour = juce::Colour (0xff00ffee);
    }
    else
    {
        textColour = juce::Colour (isActive ? 0xffbb44ff : 0x66bb44ff);
    }

    g.setColour (textColour);
    g.setFont (getPopupMenuFont());

    // The ticked item carries "> " and the others two blanks, so that all texts line up in the
    // monospaced font. Fitted text drops leading blanks, so those two are kept as an indent of the
    // text area instead.
    juce::Rectangle<int> textArea (area.getX() + 10, area.getY(),
                                   juce::jmax (0, area.getWidth() - 20), juce::jmax (0, area.getHeight()));

    if (isTicked)
    {
        g.drawFittedText ("> " + text, textArea, juce::Justification::centredLeft, 1, 0.0f);
    }
    else if (! textArea.isEmpty())
    {
        const auto indent = juce::roundToInt (juce::GlyphArrangement::getStringWidth (g.getCurrentFont(), "  "));
        g.drawFittedText (text, textArea.withTrimmedLeft (indent), juce::Justification::centredLeft, 1, 0.0f);
    }
}

juce::Font ZandorLookAndFeel::getPopupMenuFont()
{
    return monospaced (juce::Font::plain);
}

//==============================================================================
void ZandorLookAndFeel::drawDisplayPanel (juce::Graphics& g, juce::Rectangle<float> bounds)
{
    g.setColour (juce::Colour (0xe6030008));
    g.fillRoundedRectangle (bounds, 4.0f);
    g.setColour (juce::Colour (0x0abb44ff));
    g.drawRoundedRectangle (bounds, 4.0f, 5.0f);
    g.setColour (juce::Colour (0x4cbb44ff));
    g.drawRoundedRectangle (bounds.reduced (0.5f), 4.0f, 1.0f);
}

//==============================================================================
void ZandorLookAndFeel::drawComboBox (juce::Graphics& g, int width, int height, bool,
                                      int, int, int, int, juce::ComboBox& box)
{
    const juce::Rectangle<float> full (0.0f, 0.0f, (float) width, (float) height);

    g.setColour (juce::Colour (0xff08000f));
    g.fillRoundedRectangle (full, 3.0f);
    g.setColour (juce::Colour (0x0fbb44ff));
    g.drawRoundedRectangle (full, 3.0f, 4.0f);
    g.setColour (juce::Colour (0x66bb44ff));
    g.drawRoundedRectangle (full.reduced (0.5f), 3.0f, 1.0f);

    const juce::Point<float> c ((float) width - 16.0f, (float) height / 2.0f);
    juce::Path arrow;
    arrow.startNewSubPath (c.x - 4.0f, c.y - 2.5f);
    arrow.lineTo (c.x + 4.0f, c.y - 2.5f);
    arrow.lineTo (c.x, c.y + 3.0f);
    arrow.closeSubPath();

    g.setColour (juce::Colour (box.isEnabled() ? 0xffbb44ff : 0x4cbb44ff));
    g.fillPath (arrow);
}

juce::Font ZandorLookAndFeel::getComboBoxFont (juce::ComboBox&)
{
    return monospaced (juce::Font::plain);
}

//==============================================================================
void ZandorLookAndFeel::drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height,
                                          float sliderPosProportional, float rotaryStartAngle, float rotaryEndAngle,
                                          juce::Slider&)
{
    const auto area = juce::Rectangle<int> (x, y, width, height).toFloat().reduced (8.0f);
    const auto r = juce::jmin (area.getWidth(), area.getHeight()) / 2.0f;
    const auto c = area.getCentre();

    const auto angle = [&] (float t) { return rotaryStartAngle + t * (rotaryEndAngle - rotaryStartAngle); };
    const auto valueAngle = angle (sliderPosProportional);

    // Halo: the outermost ring is the most opaque.
    for (int k = 4; k >= 1; --k)
    {
        const auto radius = r + 2.0f * (float) k;
        g.setColour (juce::Colour (0xffbb44ff).withAlpha (0.02f * (float) k));
        g.drawEllipse (c.x - radius, c.y - radius, 2.0f * radius, 2.0f * radius, 2.0f);
    }

    g.setColour (juce::Colour (0xff030008));
    g.fillEllipse (c.x - r, c.y - r, 2.0f * r, 2.0f * r);

    for (int i = 0; i <= 10; ++i)
    {
        const auto t = (float) i / 10.0f;
        const auto a = angle (t);
        const auto lit = sliderPosProportional >= t;

        g.setColour (juce::Colour (lit ? 0xffbb44ff : 0x1abb44ff));
        g.drawLine (juce::Line<float> (pointAt (c, a, r - 3.0f), pointAt (c, a, r + 2.0f)), lit ? 2.0f : 1.0f);
    }

    const juce::PathStrokeType thin (2.5f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded);

    juce::Path track;
    track.addCentredArc (c.x, c.y, r, r, 0.0f, rotaryStartAngle, rotaryEndAngle, true);
    if (! track.isEmpty())
    {
        g.setColour (juce::Colour (0x14bb44ff));
        g.strokePath (track, thin);
    }

    juce::Path valueArc;
    valueArc.addCentredArc (c.x, c.y, r, r, 0.0f, rotaryStartAngle, valueAngle, true);
    if (! valueArc.isEmpty())
    {
        const struct { juce::uint32 colour; float thickness; } strokes[] {
            { 0x0abb44ff, 16.0f }, { 0x1abb44ff, 8.0f }, { 0xffbb44ff, 2.5f }, { 0x40eeddff, 1.0f }
        };

        for (const auto& stroke : strokes)
        {
            g.setColour (juce::Colour (stroke.colour));
            g.strokePath (valueArc, juce::PathStrokeType (stroke.thickness, juce::PathStrokeType::curved,
                                                          juce::PathStrokeType::rounded));
        }
    }

    const juce::Line<float> pointer (c, pointAt (c, valueAngle, 0.7f * r));
    g.setColour (juce::Colour (0x2600ffee));
    g.drawLine (pointer, 6.0f);
    g.setColour (juce::Colour (0xff00ffee));
    g.drawLine (pointer, 2.0f);

    g.setColour (juce::Colour (0xffbb44ff));
    g.fillEllipse (c.x - 3.0f, c.y - 3.0f, 6.0f, 6.0f);
    g.setColour (juce::Colour (0x99eeddff));
    g.fillEllipse (c.x - 1.5f, c.y - 1.5f, 3.0f, 3.0f);
}
