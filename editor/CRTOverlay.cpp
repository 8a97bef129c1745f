#include "CRTOverlay.h"

#include <cmath>

CRTOverlay::CRTOverlay()
{
    setInterceptsMouseClicks (false, false);
    startTimer (33);
}

CRTOverlay::~CRTOverlay() = default;

void CRTOverlay::timerCallback()
{
    const auto h = (float) getHeight();

    barPosition += 2.0f;
    if (barPosition > h + 160.0f)
        barPosition = -40.0f;

    flicker = random.nextFloat() * 0.4f + 0.8f;

    if (random.nextFloat() < 0.04f)
        glitchAmount = random.nextFloat() * 0.5f + 0.3f;
    else
        glitchAmount *= 0.8f;

    repaint();
}

void CRTOverlay::paint (juce::Graphics& g)
{
    const auto w = getWidth();
    const auto h = getHeight();

    // Nothing would show, and the glitch rows need a height to draw from.
    if (w <= 0 || h <= 0)
        return;

    const auto wf = (float) w;
    const auto hf = (float) h;

    g.setColour (juce::Colour (0x24000000));
    for (int y = 0; y < h; y += 3)
        g.fillRect (0, y, w, 1);

    g.setColour (juce::Colour (0x017722cc));
    for (int y = 1; y < h; y += 3)
        g.fillRect (0, y, w, 1);

    {
        const auto c = std::fmod (barPosition, hf + 120.0f);
        juce::ColourGradient band (juce::Colour (0x00ffffff), 0.0f, c - 60.0f,
                                   juce::Colour (0x00ffffff), 0.0f, c + 60.0f, false);
        band.addColour (0.4, juce::Colour (0x037722cc));
        band.addColour (0.5, juce::Colour (0x08ffffff));
        band.addColour (0.6, juce::Colour (0x037722cc));
        g.setGradientFill (band);
        g.fillRect (juce::Rectangle<float> (0.0f, c - 60.0f, wf, 120.0f));
    }

    g.setColour (juce::Colours::white.withAlpha (flicker * 0.008f));
    g.fillRect (0, 0, w, h);

    g.setGradientFill (juce::ColourGradient (juce::Colour (0x057722cc), wf / 2.0f, hf / 2.0f,
                                             juce::Colour (0x007722cc), 0.0f, 0.0f, true));
    g.fillRect (0, 0, w, h);

    if (glitchAmount > 0.01f)
    {
        const auto lineColour = juce::Colour (0xffbb44ff).withAlpha (glitchAmount * 0.1f);

        for (int i = 0; i < random.nextInt (3) + 1; ++i)
        {
            const auto y = random.nextInt (h);
            const auto height = random.nextInt (2) + 1;
            g.setColour (lineColour);
            g.fillRect (0, y, w, height);
        }
    }

    juce::ColourGradient vignette (juce::Colours::transparentBlack, wf / 2.0f, hf / 2.0f,
                                   juce::Colour (0x8c000000), 0.0f, 0.0f, true);
    vignette.addColour (0.65, juce::Colours::transparentBlack);
    vignette.addColour (0.9, juce::Colour (0x33000000));

    // Inside 0.65 of the radius the vignette is fully transparent and leaves the pixels as they
    // are, so that disc (less a safety margin) is clipped away: the same pixels for about half
    // the cost of a radial gradient over the whole area.
    juce::RectangleList<int> darkened ({ 0, 0, w, h });
    darkened.subtract (vignetteClearArea (w, h));

    g.saveState();
    g.reduceClipRegion (darkened);
    g.setGradientFill (vignette);
    g.fillRect (0, 0, w, h);
    g.restoreState();
}

juce::RectangleList<int> CRTOverlay::vignetteClearArea (int w, int h)
{
    const auto cx = (double) w / 2.0;
    const auto cy = (double) h / 2.0;
    const auto clearRadius = 0.65 * std::sqrt (cx * cx + cy * cy) - 2.0;

    juce::RectangleList<int> area;
    constexpr int bandHeight = 8;

    for (int y0 = 0; y0 < h; y0 += bandHeight)
    {
        const auto y1 = juce::jmin (h, y0 + bandHeight) - 1;
        const auto dy = juce::jmax (std::abs ((double) y0 - cy), std::abs ((double) y1 - cy));

        if (dy >= clearRadius)
            continue;

        const auto halfChord = std::sqrt (clearRadius * clearRadius - dy * dy);
        const auto x0 = (int) std::ceil (cx - halfChord);
        const auto x1 = (int) std::floor (cx + halfChord);

        if (x1 > x0)
            area.addWithoutMerging ({ x0, y0, x1 - x0 + 1, y1 - y0 + 1 });
    }

    return area;
}
