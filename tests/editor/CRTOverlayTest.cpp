#include "EditorComponentTestAccess.h"
#include "PixelTestHelpers.h"

#include <gtest/gtest.h>

using Access = EditorComponentTestAccess;
using pixeltest::colourNear;
using pixeltest::stack;

TEST (CRTOverlay, TakesNoMouseClicks)
{
    CRTOverlay overlay;
    bool forSelf = true, forChildren = true;
    overlay.getInterceptsMouseClicks (forSelf, forChildren);
    EXPECT_FALSE (forSelf);
    EXPECT_FALSE (forChildren);

    juce::Component parent, beneath;
    parent.setVisible (true);
    parent.setBounds (0, 0, 820, 700);
    parent.addAndMakeVisible (beneath);
    parent.addAndMakeVisible (overlay);
    beneath.setBounds (100, 100, 50, 50);
    overlay.setBounds (parent.getLocalBounds());

    EXPECT_EQ (parent.getComponentAt (120, 120), &beneath);
    EXPECT_EQ (parent.getComponentAt (400, 400), &parent);
}

TEST (CRTOverlay, ScanBandMovesTwoPixelsATickAndWrapsPastTheBottom)
{
    CRTOverlay overlay;
    overlay.setSize (820, 700);

    overlay.timerCallback();
    EXPECT_EQ (Access::barPosition (overlay), 2.0f);

    Access::barPosition (overlay) = 858.0f;
    overlay.timerCallback();
    EXPECT_EQ (Access::barPosition (overlay), 860.0f);
    overlay.timerCallback();
    EXPECT_EQ (Access::barPosition (overlay), -40.0f);

    // With no height yet, the band wraps past 160.
    CRTOverlay unsized;
    Access::barPosition (unsized) = 160.0f;
    unsized.timerCallback();
    EXPECT_EQ (Access::barPosition (unsized), -40.0f);
}

TEST (CRTOverlay, TicksDrawFlickerAndGlitchStrengthFromTheOverlaysOwnGenerator)
{
    CRTOverlay overlay;
    overlay.setSize (820, 700);
    Access::random (overlay).setSeed (1234);
    juce::Random reference (1234);

    for (int tick = 0; tick < 400; ++tick)
    {
        const auto before = Access::glitchAmount (overlay);
        overlay.timerCallback();

        const auto flicker = reference.nextFloat() * 0.4f + 0.8f;
        const auto expectedGlitch = reference.nextFloat() < 0.04f ? reference.nextFloat() * 0.5f + 0.3f : before * 0.8f;

        ASSERT_EQ (Access::flicker (overlay), flicker) << tick;
        ASSERT_EQ (Access::glitchAmount (overlay), expectedGlitch) << tick;
        ASSERT_GE (Access::flicker (overlay), 0.8f);
        ASSERT_LT (Access::flicker (overlay), 1.2f);
    }

    // Each overlay has a generator of its own, apart from the shared system one.
    CRTOverlay other;
    EXPECT_NE (&Access::random (overlay), &Access::random (other));
    EXPECT_NE (&Access::random (overlay), &juce::Random::getSystemRandom());

    Access::random (other).setSeed (99);
    overlay.timerCallback();
    juce::Random fresh (99);
    EXPECT_EQ (Access::random (other).nextInt(), fresh.nextInt());
}

TEST (CRTOverlay, PaintsScanlineRowsOverTheMiddle)
{
    CRTOverlay overlay;
    overlay.setSize (820, 700);
    const auto image = pixeltest::snapshot (overlay);

    // Middle of the screen: no band (it sits at the top), no glitch, no vignette, the glow's
    // brightest part, and the 0x02 white wash. Blends this faint lose a step each in rounding.
    constexpr juce::uint32 wash = 0x02ffffff, glow = 0x057722cc;
    EXPECT_TRUE (colourNear (image.getPixelAt (410, 351), stack ({ 0x24000000, wash, glow }), 3));
    EXPECT_TRUE (colourNear (image.getPixelAt (410, 352), stack ({ 0x017722cc, wash, glow }), 3));
    EXPECT_TRUE (colourNear (image.getPixelAt (410, 350), stack ({ wash, glow }), 3));

    // The vignette darkens the corners.
    EXPECT_GT (image.getPixelAt (2, 2).getAlpha(), 0x70);
    EXPECT_LT (image.getPixelAt (410, 2).getAlpha(), 0x40);
}

TEST (CRTOverlay, EachPaintDrawsFreshGlitchLines)
{
    CRTOverlay overlay;
    overlay.setSize (820, 700);
    Access::glitchAmount (overlay) = 0.8f;

    for (juce::int64 seed : { 1, 2, 3, 4, 5, 6 })
    {
        Access::random (overlay).setSeed (seed);
        juce::Random reference (seed);

        std::vector<std::pair<int, int>> lines;
        for (int i = 0; i < reference.nextInt (3) + 1; ++i)
        {
            const auto y = reference.nextInt (700);
            lines.push_back ({ y, reference.nextInt (2) + 1 });
        }

        const auto image = pixeltest::snapshot (overlay);
        EXPECT_EQ (Access::random (overlay).nextInt(), reference.nextInt()) << "draws per paint, seed " << seed;

        // A glitch row is purple at alpha 0x14 over whatever lies there; a row 3 away has the
        // same scanline, so it is the measure of that.
        for (auto [y, height] : lines)
        {
            const auto other = y >= 350 ? y - 3 : y + 3;
            bool coveredByOtherLine = false;
            for (auto [y2, h2] : lines)
                coveredByOtherLine |= other >= y2 && other < y2 + h2;
            if (coveredByOtherLine)
                continue;

            const auto withLine = image.getPixelAt (410, y).getPixelARGB();
            const auto without = image.getPixelAt (410, other).getPixelARGB();
            EXPECT_GT ((int) withLine.getBlue(), (int) without.getBlue() + 8) << "seed " << seed << " row " << y;
        }
    }
}

TEST (CRTOverlay, TinyAndEmptySizesAreSafe)
{
    CRTOverlay overlay;
    Access::glitchAmount (overlay) = 0.5f;

    juce::Image image (juce::Image::ARGB, 4, 4, true);
    {
        Access::random (overlay).setSeed (7);
        juce::Graphics g (image);
        overlay.paint (g);  // zero size: nothing drawn, nothing drawn from the generator
    }
    EXPECT_EQ (Access::random (overlay).nextInt(), juce::Random (7).nextInt());
    EXPECT_EQ (image.getPixelAt (1, 1).getAlpha(), 0);

    overlay.setSize (16, 1);
    const auto line = pixeltest::snapshot (overlay);
    EXPECT_GT (line.getPixelAt (8, 0).getAlpha(), 0);
}

TEST (CRTOverlay, DrawsExactlyTheSixPlainLayers)
{
    // The six layers drawn the plain way, one call per scanline row and whole-area gradients:
    // the overlay's paint must leave exactly these pixels.
    const auto plain = [] (int w, int h, float barPosition) {
        juce::Image image (juce::Image::ARGB, w, h, true);
        juce::Graphics g (image);
        const auto wf = (float) w, hf = (float) h;

        g.setColour (juce::Colour (0x24000000));
        for (int y = 0; y < h; y += 3)
            g.fillRect (0, y, w, 1);
        g.setColour (juce::Colour (0x017722cc));
        for (int y = 1; y < h; y += 3)
            g.fillRect (0, y, w, 1);

        const auto c = std::fmod (barPosition, hf + 120.0f);
        juce::ColourGradient band (juce::Colour (0x00ffffff), 0.0f, c - 60.0f, juce::Colour (0x00ffffff), 0.0f, c + 60.0f, false);
        band.addColour (0.4, juce::Colour (0x037722cc));
        band.addColour (0.5, juce::Colour (0x08ffffff));
        band.addColour (0.6, juce::Colour (0x037722cc));
        g.setGradientFill (band);
        g.fillRect (juce::Rectangle<float> (0.0f, c - 60.0f, wf, 120.0f));

        g.setColour (juce::Colour (0x02ffffff));
        g.fillRect (0, 0, w, h);

        g.setGradientFill (juce::ColourGradient (juce::Colour (0x057722cc), wf / 2.0f, hf / 2.0f,
                                                 juce::Colour (0x007722cc), 0.0f, 0.0f, true));
        g.fillRect (0, 0, w, h);

        juce::ColourGradient vignette (juce::Colours::transparentBlack, wf / 2.0f, hf / 2.0f,
                                       juce::Colour (0x8c000000), 0.0f, 0.0f, true);
        vignette.addColour (0.65, juce::Colours::transparentBlack);
        vignette.addColour (0.9, juce::Colour (0x33000000));
        g.setGradientFill (vignette);
        g.fillRect (0, 0, w, h);
        return image;
    };

    const struct { int w, h; float barPosition; } cases[] {
        { 820, 700, 0.0f }, { 820, 700, 300.0f }, { 820, 700, -30.0f }, { 820, 700, 850.0f },
        { 301, 77, 20.0f }, { 50, 400, 100.0f }, { 16, 1, 0.0f },
    };

    for (const auto& c : cases)
    {
        CRTOverlay overlay;
        overlay.setSize (c.w, c.h);
        Access::barPosition (overlay) = c.barPosition;
        EXPECT_TRUE (pixeltest::sameImage (pixeltest::snapshot (overlay), plain (c.w, c.h, c.barPosition)))
            << c.w << " x " << c.h << " at " << c.barPosition;
    }
}
