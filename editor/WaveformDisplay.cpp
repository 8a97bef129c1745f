#include "WaveformDisplay.h"

#include "ZandorLookAndFeel.h"

#include <cmath>

WaveformDisplay::WaveformDisplay (BrellDistortionProcessor& processor)
    : processorRef (processor)
{
    displaySamples.fill (0.0f);
    startTimer (33);
}

WaveformDisplay::~WaveformDisplay() = default;

void WaveformDisplay::timerCallback()
{
    for (size_t j = 0; j < displaySamples.size(); ++j)
        displaySamples[j] = processorRef.scopeBuffer.samples[j].load();

    repaint();
}

void WaveformDisplay::paint (juce::Graphics& g)
{
    const auto w = (float) getWidth();
    const auto h = (float) getHeight();
    const juce::Rectangle<float> bounds { 0.0f, 0.0f, w, h };

    const auto left = 6.0f;
    const auto top = 6.0f;
    const auto W = juce::jmax (0.0f, w - 12.0f);
    const auto Hi = juce::jmax (0.0f, h - 12.0f);
    const auto cy = top + Hi / 2.0f;

    ZandorLookAndFeel::drawDisplayPanel (g, bounds);

    // The centre line is laid on its own and again as the middle quarter line, so it shows stronger.
    g.setColour (juce::Colour (0x99120820));
    g.drawHorizontalLine ((int) cy, left, left + W);
    for (const auto f : { 0.25f, 0.5f, 0.75f })
    {
        g.drawHorizontalLine ((int) (top + f * Hi), left, left + W);
        g.drawVerticalLine ((int) (left + f * W), top, top + Hi);
    }

    g.setColour (juce::Colour (0x0f7722cc));
    g.fillRect (juce::Rectangle<float> (left, cy - 1.0f, W, 2.0f));

    juce::Path trace;
    const auto last = (float) (displaySamples.size() - 1);

    for (size_t j = 0; j < displaySamples.size(); ++j)
    {
        const auto x = left + ((float) j / last) * W;
        auto y = cy - 0.45f * Hi * displaySamples[j];

        // A sample that is not a number (or an infinite one on a flat display) sits on the centre
        // line; infinities elsewhere end up on an edge through the clamp.
        if (std::isnan (y))
            y = cy;

        y = y < top ? top : (y > top + Hi ? top + Hi : y);

        if (j == 0)
            trace.startNewSubPath (x, y);
        else
            trace.lineTo (x, y);
    }

    const struct { juce::uint32 colour; float thickness; } strokes[] {
        { 0x08bb44ff, 14.0f }, { 0x14bb44ff, 6.0f }, { 0xffbb44ff, 1.5f }, { 0x4ceeddff, 0.5f }
    };

    for (const auto& stroke : strokes)
    {
        g.setColour (juce::Colour (stroke.colour));
        g.strokePath (trace, juce::PathStrokeType (stroke.thickness));
    }

    g.setFont (juce::Font (juce::FontOptions (juce::Font::getDefaultMonospacedFontName(), 10.0f, juce::Font::bold)));
    g.setColour (juce::Colour (0x8000ffee));
    g.drawText ("SCOPE://OUT",
                juce::Rectangle<float> (left + 4.0f, top + 2.0f, juce::jmax (0.0f, W - 8.0f), juce::jmax (0.0f, Hi - 4.0f)),
                juce::Justification::topLeft, true);
}
