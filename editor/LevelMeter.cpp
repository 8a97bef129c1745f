#include "LevelMeter.h"

#include <cmath>

LevelMeter::LevelMeter()
{
    startTimer (33);
}

LevelMeter::~LevelMeter() = default;

void LevelMeter::setLevel (float newLevel)
{
    level = newLevel;
}

void LevelMeter::timerCallback()
{
    // Written so that a level that is not a number counts as silence.
    auto target = level * 3.0f;
    if (! (target > 0.0f))
        target = 0.0f;
    else if (target > 1.0f)
        target = 1.0f;

    if (target > displayLevel)
        displayLevel = target;
    else
        displayLevel *= 0.88f;

    if (target > peakLevel)
    {
        peakLevel = target;
        peakHoldTicks = 20;
    }
    else if (peakHoldTicks > 0)
    {
        --peakHoldTicks;
    }
    else
    {
        peakLevel *= 0.95f;
    }

    repaint();
}

void LevelMeter::paint (juce::Graphics& g)
{
    constexpr int numSegments = 20;

    const auto w = (float) getWidth();
    const auto h = (float) getHeight();
    const auto segH = h / (float) numSegments;

    g.setColour (juce::Colour (0xff030008));
    g.fillRoundedRectangle (juce::Rectangle<float> (0.0f, 0.0f, w, h), 2.0f);

    for (int i = 0; i < numSegments; ++i)
    {
        const auto s = (float) (numSegments - 1 - i) / (float) (numSegments - 1);
        const auto zone = s > 0.85f ? juce::Colour (0xffff2090)
                        : s > 0.65f ? juce::Colour (0xffffff00)
                                    : juce::Colour (0xffbb44ff);
        const auto y = (float) i * segH + 0.75f;

        if (std::abs (s - peakLevel) < 0.05f && peakLevel > 0.01f)
        {
            g.setColour (zone);
            g.fillRoundedRectangle (juce::Rectangle<float> (0.0f, y, w, segH - 1.5f), 1.0f);
        }
        else
        {
            g.setColour (zone.withAlpha ((juce::uint8) (displayLevel >= s ? 0xe6 : 0x0a)));
            g.fillRoundedRectangle (juce::Rectangle<float> (1.0f, y, w - 2.0f, segH - 1.5f), 1.0f);
        }
    }

    g.setColour (juce::Colour (0x26bb44ff));
    g.drawRoundedRectangle (juce::Rectangle<float> (0.0f, 0.0f, w, h), 2.0f, 0.5f);
}
