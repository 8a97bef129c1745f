#include "EditorComponentTestAccess.h"
#include "PixelTestHelpers.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>

using Access = EditorComponentTestAccess;
using pixeltest::colourNear;
using pixeltest::stack;

namespace
{
    constexpr juce::uint32 panel = 0xe6030008;

    struct WaveformDisplayTest : public ::testing::Test
    {
        void SetUp() override
        {
            processor = std::make_unique<BrellDistortionProcessor>();
            display = std::make_unique<WaveformDisplay> (*processor);
            display->setBounds (0, 0, 294, 120);
        }

        void fillRing (float value)
        {
            for (auto& s : processor->scopeBuffer.samples)
                s = value;
        }

        // The row in a column where the solid trace is strongest (most of the accent's blue).
        static int traceRowAt (const juce::Image& image, int x)
        {
            int best = -1, bestScore = -1;
            for (int y = 0; y < image.getHeight(); ++y)
            {
                const auto c = image.getPixelAt (x, y);
                const auto score = (int) c.getPixelARGB().getBlue() + (int) c.getPixelARGB().getRed();
                if (score > bestScore)
                {
                    bestScore = score;
                    best = y;
                }
            }
            return best;
        }

        std::unique_ptr<BrellDistortionProcessor> processor;
        std::unique_ptr<WaveformDisplay> display;
    };
}

TEST_F (WaveformDisplayTest, TickCopiesTheRingInSlotOrder)
{
    for (int j = 0; j < ScopeBuffer::size; ++j)
        processor->scopeBuffer.samples[(size_t) j] = (float) j / 256.0f;

    for (auto v : Access::displaySamples (*display))
        EXPECT_EQ (v, 0.0f);

    display->timerCallback();

    for (int j = 0; j < ScopeBuffer::size; ++j)
        EXPECT_EQ (Access::displaySamples (*display)[(size_t) j], (float) j / 256.0f);
}

TEST_F (WaveformDisplayTest, TraceHeightFollowsTheSampleValues)
{
    const auto inf = std::numeric_limits<float>::infinity();
    const auto nan = std::numeric_limits<float>::quiet_NaN();

    // Inner area (6, 6, 282, 108): centre 60, +1.0 at 60 - 48.6, edges at 6 and 114.
    const struct { float value; int lowestRow, highestRow; } cases[] {
        { 0.0f, 59, 60 },   { 0.5f, 35, 35 },   { 1.0f, 11, 11 },   { -1.0f, 108, 108 },
        { 2.0f, 5, 6 },     { -2.0f, 113, 114 }, { inf, 5, 6 },     { -inf, 113, 114 },
        { nan, 59, 60 },    { std::numeric_limits<float>::max(), 5, 6 },
    };

    for (const auto& c : cases)
    {
        fillRing (c.value);
        display->timerCallback();
        const auto image = pixeltest::snapshot (*display);

        // Columns 6 and 287 are the first and last of the inner area: slot 0 lies on its left
        // edge and slot 255 on its right one.
        for (int x : { 6, 40, 150, 250, 287 })
        {
            const auto y = traceRowAt (image, x);
            EXPECT_GE (y, c.lowestRow) << c.value << " at x " << x;
            EXPECT_LE (y, c.highestRow) << c.value << " at x " << x;
        }
    }
}

TEST_F (WaveformDisplayTest, SlotsAreDrawnLeftToRightAndOnlyAfterATick)
{
    for (int j = 0; j < ScopeBuffer::size; ++j)
        processor->scopeBuffer.samples[(size_t) j] = j < 128 ? 0.5f : -0.5f;

    auto image = pixeltest::snapshot (*display);
    EXPECT_LE (std::abs (traceRowAt (image, 50) - 60), 1);

    display->timerCallback();
    image = pixeltest::snapshot (*display);
    EXPECT_EQ (traceRowAt (image, 50), 35);    // 60 - 24.3
    EXPECT_EQ (traceRowAt (image, 250), 84);   // 60 + 24.3

    // The trace starts and ends with the inner area: nothing of it left of x 6 or right of x 288.
    EXPECT_TRUE (colourNear (image.getPixelAt (5, 35), stack ({ panel }), 2));
    EXPECT_TRUE (colourNear (image.getPixelAt (288, 84), stack ({ panel }), 2));
}

TEST_F (WaveformDisplayTest, PaintsPanelGridAndCaption)
{
    const auto image = pixeltest::snapshot (*display);
    const auto gridLine = stack ({ panel, 0x99120820 });

    // Quarter lines at y 33 and 87 and at x 76, 147 and 217, clear of the flat trace's glow.
    EXPECT_TRUE (colourNear (image.getPixelAt (30, 33), gridLine, 2));
    EXPECT_TRUE (colourNear (image.getPixelAt (30, 87), gridLine, 2));
    EXPECT_TRUE (colourNear (image.getPixelAt (30, 34), stack ({ panel }), 2));
    for (int x : { 76, 147, 217 })
    {
        EXPECT_TRUE (colourNear (image.getPixelAt (x, 100), gridLine, 2)) << x;
        EXPECT_TRUE (colourNear (image.getPixelAt (x + 1, 100), stack ({ panel }), 2)) << x;
    }

    // The caption sits top-left in cyan.
    EXPECT_GT (pixeltest::countNear (image, { 10, 8, 80, 12 }, pixeltest::over (juce::Colour (panel), juce::Colour (0x8000ffee)), 25), 0);
    EXPECT_EQ (pixeltest::countNear (image, { 150, 8, 80, 12 }, pixeltest::over (juce::Colour (panel), juce::Colour (0x8000ffee)), 25), 0);
}

TEST_F (WaveformDisplayTest, NarrowAndFlatSizesStillPaint)
{
    fillRing (std::numeric_limits<float>::infinity());
    display->timerCallback();

    for (const auto size : { juce::Point<int> (12, 60), juce::Point<int> (100, 12), juce::Point<int> (3, 3) })
    {
        display->setSize (size.x, size.y);
        const auto image = pixeltest::snapshot (*display);
        EXPECT_TRUE (image.isValid());
    }
}
