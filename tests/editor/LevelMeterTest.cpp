#include "EditorComponentTestAccess.h"
#include "PixelTestHelpers.h"

#include <gtest/gtest.h>

#include <limits>

using Access = EditorComponentTestAccess;
using pixeltest::colourNear;

TEST (LevelMeter, TargetIsThreeTimesTheLevelLimitedToFullScale)
{
    const auto nan = std::numeric_limits<float>::quiet_NaN();
    const auto inf = std::numeric_limits<float>::infinity();

    const struct { float level, target; } cases[] {
        { 0.0f, 0.0f }, { 0.1f, 0.3f }, { 1.0f / 3.0f, 1.0f }, { 0.9f, 1.0f },
        { -0.5f, 0.0f }, { nan, 0.0f }, { inf, 1.0f }, { -inf, 0.0f },
    };

    for (const auto& c : cases)
    {
        LevelMeter meter;
        meter.setLevel (c.level);
        if (! std::isnan (c.level))
        {
            EXPECT_FLOAT_EQ (Access::level (meter), c.level) << "stored as given";
        }
        EXPECT_EQ (Access::displayLevel (meter), 0.0f) << "setLevel alone shows nothing";

        meter.timerCallback();
        EXPECT_NEAR (Access::displayLevel (meter), c.target, 1.0e-6f) << c.level;
        EXPECT_NEAR (Access::peakLevel (meter), c.target, 1.0e-6f) << c.level;
    }
}

TEST (LevelMeter, RisesAtOnceFallsByTwelvePercentAndHoldsItsPeak)
{
    LevelMeter meter;
    meter.setLevel (0.2f);
    meter.timerCallback();
    EXPECT_FLOAT_EQ (Access::displayLevel (meter), 0.6f);
    EXPECT_FLOAT_EQ (Access::peakLevel (meter), 0.6f);
    EXPECT_EQ (Access::peakHoldTicks (meter), 20);

    meter.setLevel (0.0f);
    auto expectedDisplay = 0.6f;
    for (int tick = 1; tick <= 20; ++tick)
    {
        meter.timerCallback();
        expectedDisplay *= 0.88f;
        EXPECT_FLOAT_EQ (Access::displayLevel (meter), expectedDisplay) << tick;
        EXPECT_FLOAT_EQ (Access::peakLevel (meter), 0.6f) << tick;
        EXPECT_EQ (Access::peakHoldTicks (meter), 20 - tick);
    }

    meter.timerCallback();
    EXPECT_FLOAT_EQ (Access::peakLevel (meter), 0.6f * 0.95f);
    meter.timerCallback();
    EXPECT_FLOAT_EQ (Access::peakLevel (meter), 0.6f * 0.95f * 0.95f);

    // A lower target leaves the sinking peak alone; a higher one takes over and restarts the hold.
    meter.setLevel (0.1f);
    meter.timerCallback();
    EXPECT_FLOAT_EQ (Access::displayLevel (meter), 0.3f);
    EXPECT_FLOAT_EQ (Access::peakLevel (meter), 0.6f * 0.95f * 0.95f * 0.95f);

    meter.setLevel (0.3f);
    meter.timerCallback();
    EXPECT_FLOAT_EQ (Access::peakLevel (meter), 0.9f);
    EXPECT_EQ (Access::peakHoldTicks (meter), 20);
}

TEST (LevelMeter, AConstantLevelAlternatesAndLetsThePeakSinkEveryTwentyTwoTicks)
{
    LevelMeter meter;
    meter.setLevel (0.1f);

    int peakRenewals = 0;
    for (int tick = 0; tick < 45; ++tick)
    {
        meter.timerCallback();
        EXPECT_FLOAT_EQ (Access::displayLevel (meter), tick % 2 == 0 ? 0.3f : 0.3f * 0.88f) << tick;
        if (Access::peakHoldTicks (meter) == 20)
            ++peakRenewals;
    }

    EXPECT_EQ (peakRenewals, 3);   // ticks 0, 22 and 44
}

namespace
{
    constexpr float segH = 587.0f / 20.0f;

    int segmentMidY (int i)    { return (int) ((float) i * segH + 0.75f + (segH - 1.5f) / 2.0f); }

    juce::Colour zoneOf (int i)
    {
        return i < 3 ? juce::Colour (0xffff2090) : i < 7 ? juce::Colour (0xffffff00) : juce::Colour (0xffbb44ff);
    }

    enum class Look { dark, lit, peak };

    void expectSegments (const juce::Image& image, const Look (&looks)[20])
    {
        const auto background = juce::Colour (0xff030008);
        // The right-most column carries a quarter of the 0.5-pixel outline on the edge at x = 12.
        const auto outlineQuarter = juce::Colour (0x26bb44ff).withMultipliedAlpha (0.25f);

        for (int i = 0; i < 20; ++i)
        {
            const auto y = segmentMidY (i);
            const auto zone = zoneOf (i);
            const auto inner = image.getPixelAt (6, y);
            const auto edge = image.getPixelAt (11, y);

            switch (looks[i])
            {
                case Look::peak:
                    EXPECT_TRUE (colourNear (inner, zone, 1)) << "segment " << i;
                    EXPECT_TRUE (colourNear (edge, pixeltest::over (zone, outlineQuarter), 4)) << "segment " << i;
                    break;
                case Look::lit:
                    EXPECT_TRUE (colourNear (inner, pixeltest::over (background, zone.withAlpha ((juce::uint8) 0xe6)), 2)) << "segment " << i;
                    EXPECT_TRUE (colourNear (edge, pixeltest::over (background, outlineQuarter), 4)) << "segment " << i;
                    break;
                case Look::dark:
                    EXPECT_TRUE (colourNear (inner, pixeltest::over (background, zone.withAlpha ((juce::uint8) 0x0a)), 2)) << "segment " << i;
                    EXPECT_TRUE (colourNear (edge, pixeltest::over (background, outlineQuarter), 4)) << "segment " << i;
                    break;
            }
        }
    }
}

TEST (LevelMeter, ANewMeterLightsOnlyTheBottomSegment)
{
    LevelMeter meter;
    meter.setBounds (0, 0, 12, 587);

    using L = Look;
    const Look looks[20] { L::dark, L::dark, L::dark, L::dark, L::dark, L::dark, L::dark, L::dark, L::dark, L::dark,
                           L::dark, L::dark, L::dark, L::dark, L::dark, L::dark, L::dark, L::dark, L::dark, L::lit };
    expectSegments (pixeltest::snapshot (meter), looks);
}

TEST (LevelMeter, FullScaleLightsEverySegmentWithThePeakOnTop)
{
    LevelMeter meter;
    meter.setBounds (0, 0, 12, 587);
    meter.setLevel (0.5f);
    meter.timerCallback();

    using L = Look;
    const Look looks[20] { L::peak, L::lit, L::lit, L::lit, L::lit, L::lit, L::lit, L::lit, L::lit, L::lit,
                           L::lit, L::lit, L::lit, L::lit, L::lit, L::lit, L::lit, L::lit, L::lit, L::lit };
    expectSegments (pixeltest::snapshot (meter), looks);
}

TEST (LevelMeter, AHeldPeakBetweenTwoSegmentsMarksBoth)
{
    LevelMeter meter;
    meter.setBounds (0, 0, 12, 587);
    meter.setLevel (0.5f / 3.0f);   // target 0.5, between s = 9/19 and 10/19
    meter.timerCallback();
    meter.setLevel (0.0f);
    for (int tick = 0; tick < 12; ++tick)
        meter.timerCallback();      // display falls to 0.5 * 0.88^12 (about 0.108), the peak holds

    ASSERT_FLOAT_EQ (Access::peakLevel (meter), 0.5f);

    using L = Look;
    const Look looks[20] { L::dark, L::dark, L::dark, L::dark, L::dark, L::dark, L::dark, L::dark, L::dark, L::peak,
                           L::peak, L::dark, L::dark, L::dark, L::dark, L::dark, L::dark, L::lit, L::lit, L::lit };
    expectSegments (pixeltest::snapshot (meter), looks);
}
