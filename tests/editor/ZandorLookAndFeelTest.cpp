#include "ZandorLookAndFeel.h"
#include "PixelTestHelpers.h"

#include <gtest/gtest.h>

using pixeltest::colourNear;
using pixeltest::over;

namespace
{
    const juce::Colour panel { 0xff08000f };
    const juce::Colour accent { 0xffbb44ff };
    const juce::Colour cyan { 0xff00ffee };
    const juce::Colour pink { 0xffff2090 };

    template <typename Draw>
    juce::Image render (int w, int h, Draw&& draw, juce::Colour background = juce::Colours::transparentBlack)
    {
        juce::Image image (juce::Image::ARGB, w, h, true);
        juce::Graphics g (image);
        g.fillAll (background);
        draw (g);
        return image;
    }
}

TEST (ZandorLookAndFeel, SetsTheSelectorAndMenuColours)
{
    ZandorLookAndFeel lf;
    const struct { int id; juce::uint32 argb; } cases[] {
        { juce::ComboBox::backgroundColourId, 0xff08000f },
        { juce::ComboBox::outlineColourId, 0x80bb44ff },
        { juce::ComboBox::textColourId, 0xffbb44ff },
        { juce::ComboBox::arrowColourId, 0xffbb44ff },
        { juce::PopupMenu::backgroundColourId, 0xff08000f },
        { juce::PopupMenu::textColourId, 0xffbb44ff },
        { juce::PopupMenu::highlightedBackgroundColourId, 0x26bb44ff },
        { juce::PopupMenu::highlightedTextColourId, 0xff00ffee },
    };

    for (const auto& c : cases)
        EXPECT_EQ (lf.findColour (c.id).getARGB(), c.argb) << std::hex << c.id;
}

TEST (ZandorLookAndFeel, MenusAndSelectorsUseThePlainMonospacedFont)
{
    ZandorLookAndFeel lf;
    juce::ComboBox box;

    for (const auto& font : { lf.getPopupMenuFont(), lf.getComboBoxFont (box) })
    {
        EXPECT_EQ (font.getTypefaceName(), juce::Font::getDefaultMonospacedFontName());
        EXPECT_FLOAT_EQ (font.getHeight(), 14.0f);
        EXPECT_FALSE (font.isBold());
        EXPECT_FALSE (font.isItalic());
    }
}

//==============================================================================
TEST (ZandorLookAndFeel, GlitchSwitchShowsItsStateOnly)
{
    ZandorLookAndFeel lf;
    juce::ToggleButton button ("ANY CAPTION");
    button.setLookAndFeel (&lf);
    button.setSize (180, 36);

    const auto draw = [&] (bool on, bool highlighted, bool down) {
        button.setToggleState (on, juce::dontSendNotification);
        return render (180, 36, [&] (juce::Graphics& g) { lf.drawToggleButton (g, button, highlighted, down); });
    };

    const auto off = draw (false, false, false);
    EXPECT_TRUE (colourNear (off.getPixelAt (8, 18), panel, 1));
    // The 1.5-pixel outline centred on x = 2 covers three quarters of that column.
    EXPECT_TRUE (colourNear (off.getPixelAt (2, 18), over (panel, juce::Colour (0x4cbb44ff).withMultipliedAlpha (0.75f)), 4));
    EXPECT_GT (pixeltest::countNear (off, { 20, 4, 140, 28 }, over (panel, juce::Colour (0x80bb44ff)), 12), 0);

    const auto on = draw (true, false, false);
    EXPECT_TRUE (colourNear (on.getPixelAt (12, 18), juce::Colour (0x26ff2090), 1));
    EXPECT_TRUE (colourNear (on.getPixelAt (2, 18).withAlpha (1.0f), pink, 40));
    EXPECT_GT (pixeltest::countNear (on, { 20, 4, 140, 28 },
                                     over (over (juce::Colour (0x26ff2090), pink), juce::Colour (0x26ffffff)), 12), 0);
    EXPECT_EQ (pixeltest::countNear (on, { 20, 4, 140, 28 }, over (panel, juce::Colour (0x80bb44ff)), 12), 0);

    // Hover, press and the caption play no part.
    EXPECT_TRUE (pixeltest::sameImage (draw (true, true, true), on));
    EXPECT_TRUE (pixeltest::sameImage (draw (false, true, false), off));
    button.setButtonText ({});
    EXPECT_TRUE (pixeltest::sameImage (draw (false, false, false), off));

    // A switch with no room left inside its 2-pixel margin draws an empty box.
    button.setSize (4, 3);
    const auto tiny = render (4, 3, [&] (juce::Graphics& g) { lf.drawToggleButton (g, button, false, false); });
    EXPECT_TRUE (tiny.isValid());

    button.setLookAndFeel (nullptr);
}

//==============================================================================
TEST (ZandorLookAndFeel, PopupBackgroundIsThePanelWithAFaintFrame)
{
    ZandorLookAndFeel lf;
    const auto image = render (120, 60, [&] (juce::Graphics& g) { lf.drawPopupMenuBackground (g, 120, 60); });
    EXPECT_TRUE (colourNear (image.getPixelAt (60, 30), panel, 0));
    EXPECT_TRUE (colourNear (image.getPixelAt (0, 30), over (panel, juce::Colour (0x4cbb44ff)), 1));
    EXPECT_TRUE (colourNear (image.getPixelAt (119, 59), over (panel, juce::Colour (0x4cbb44ff)), 1));
}

TEST (ZandorLookAndFeel, PopupItemsColourByHighlightAndActivity)
{
    ZandorLookAndFeel lf;
    const juce::Rectangle<int> area (0, 0, 200, 24);

    const struct { bool active, highlighted; juce::uint32 fill; juce::uint32 text; } cases[] {
        { true, true, 0x26bb44ff, 0xff00ffee },
        { false, true, 0, 0xff00ffee },
        { true, false, 0, 0xffbb44ff },
        { false, false, 0, 0x66bb44ff },
    };

    for (const auto& c : cases)
    {
        const auto image = render (200, 24, [&] (juce::Graphics& g) {
            lf.drawPopupMenuItem (g, area, false, c.active, c.highlighted, false, false, "LOWPASS", {}, nullptr, nullptr);
        }, panel);

        const auto background = over (panel, juce::Colour (c.fill));
        EXPECT_TRUE (colourNear (image.getPixelAt (195, 12), background, 1)) << c.active << c.highlighted;
        EXPECT_GT (pixeltest::countNear (image, { 10, 0, 180, 24 }, over (background, juce::Colour (c.text)), 12), 0)
            << c.active << c.highlighted;
    }
}

TEST (ZandorLookAndFeel, TickedItemsShowAMarkerAndNarrowItemsNoText)
{
    ZandorLookAndFeel lf;
    const auto draw = [&] (int width, bool ticked) {
        return render (width, 24, [&] (juce::Graphics& g) {
            lf.drawPopupMenuItem (g, { 0, 0, width, 24 }, false, true, false, ticked, true, "HARD CLIP", "Ctrl+H",
                                  nullptr, nullptr);
        }, panel);
    };

    // The marker occupies the first character cell, which two blanks leave empty, and the texts
    // of ticked and unticked items start in the same column.
    const juce::Rectangle<int> firstCell (10, 0, 8, 24);
    EXPECT_GT (pixeltest::countNear (draw (220, true), firstCell, accent, 60), 0);
    EXPECT_EQ (pixeltest::countNear (draw (220, false), firstCell, accent, 60), 0);

    const auto firstLitColumn = [&] (const juce::Image& image, int from) {
        for (int x = from; x < image.getWidth(); ++x)
            if (pixeltest::countNear (image, { x, 0, 1, 24 }, accent, 60) > 0)
                return x;
        return -1;
    };
    const auto tickedText = firstLitColumn (draw (220, true), 19);
    const auto untickedText = firstLitColumn (draw (220, false), 10);
    EXPECT_GE (untickedText, 24);
    EXPECT_LE (std::abs (tickedText - untickedText), 1);
    EXPECT_TRUE (pixeltest::sameImage (draw (220, false).getClippedImage ({ 200, 0, 20, 24 }),
                                       render (20, 24, [] (juce::Graphics&) {}, panel)));

    for (int width : { 20, 12 })
        EXPECT_TRUE (pixeltest::sameImage (draw (width, true), render (width, 24, [] (juce::Graphics&) {}, panel))) << width;
}

//==============================================================================
TEST (ZandorLookAndFeel, SelectorDrawsPanelOutlineAndArrowDimmedWhenDisabled)
{
    ZandorLookAndFeel lf;
    juce::Component parent;
    juce::ComboBox box;
    parent.addAndMakeVisible (box);
    box.setBounds (0, 0, 294, 28);

    const auto draw = [&] { return render (294, 28, [&] (juce::Graphics& g) { lf.drawComboBox (g, 294, 28, false, 0, 0, 0, 0, box); }); };

    auto image = draw();
    EXPECT_TRUE (colourNear (image.getPixelAt (100, 14), panel, 0));
    EXPECT_TRUE (colourNear (image.getPixelAt (294 - 16, 13), accent, 1));
    EXPECT_TRUE (colourNear (image.getPixelAt (294 - 26, 14), panel, 0));

    box.setEnabled (false);
    image = draw();
    EXPECT_TRUE (colourNear (image.getPixelAt (294 - 16, 13), over (panel, juce::Colour (0x4cbb44ff)), 1));

    box.setEnabled (true);
    parent.setEnabled (false);
    image = draw();
    EXPECT_TRUE (colourNear (image.getPixelAt (294 - 16, 13), over (panel, juce::Colour (0x4cbb44ff)), 1));

    // Pressed looks the same.
    parent.setEnabled (true);
    EXPECT_TRUE (pixeltest::sameImage (render (294, 28, [&] (juce::Graphics& g) { lf.drawComboBox (g, 294, 28, true, 10, 2, 20, 20, box); }),
                                       draw()));
}

//==============================================================================
namespace
{
    constexpr float startAngle = juce::MathConstants<float>::pi * 1.2f;
    constexpr float endAngle = juce::MathConstants<float>::pi * 2.8f;

    juce::Point<int> polar (juce::Point<float> c, float angle, float distance)
    {
        return { juce::roundToInt (c.x + distance * std::sin (angle)), juce::roundToInt (c.y - distance * std::cos (angle)) };
    }

    // The strongest value of one premultiplied channel in a 3 x 3 patch.
    template <typename Channel>
    int maxAround (const juce::Image& image, juce::Point<int> p, Channel channel)
    {
        int best = 0;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                best = juce::jmax (best, (int) channel (image.getPixelAt (p.x + dx, p.y + dy).getPixelARGB()));
        return best;
    }

    int blueAround (const juce::Image& image, juce::Point<int> p)
    {
        return maxAround (image, p, [] (juce::PixelARGB px) { return px.getBlue(); });
    }
}

TEST (ZandorLookAndFeel, KnobLightsTicksUpToItsValue)
{
    ZandorLookAndFeel lf;
    juce::Slider slider;
    const juce::Point<float> c (50.0f, 50.0f);
    const auto r = 42.0f;   // (100 - 16) / 2

    const struct { float position; int litTicks; } cases[] { { 0.0f, 1 }, { 0.55f, 6 }, { 1.0f, 11 } };

    for (const auto& k : cases)
    {
        const auto image = render (100, 100, [&] (juce::Graphics& g) {
            lf.drawRotarySlider (g, 0, 0, 100, 100, k.position, startAngle, endAngle, slider);
        });

        for (int i = 0; i <= 10; ++i)
        {
            // Just inside the rim: clear of the solid value arc, inside the tick.
            const auto angle = startAngle + (float) i / 10.0f * (endAngle - startAngle);
            const auto blue = blueAround (image, polar (c, angle, r - 2.5f));
            if (i < k.litTicks)
                EXPECT_GT (blue, 200) << k.position << " tick " << i;
            else
                EXPECT_LT (blue, 90) << k.position << " tick " << i;
        }

        // The pointer runs cyan toward the value; the hub is the accent under a pale dot.
        const auto valueAngle = startAngle + k.position * (endAngle - startAngle);
        const auto onPointer = polar (c, valueAngle, 0.45f * r);
        EXPECT_GT (maxAround (image, onPointer, [] (juce::PixelARGB px) { return px.getGreen(); }), 240) << k.position;
        EXPECT_LT ((int) image.getPixelAt (onPointer.x, onPointer.y).getRed(), 80) << k.position;
        EXPECT_TRUE (colourNear (image.getPixelAt (50, 50), over (accent, juce::Colour (0x99eeddff)), 30)) << k.position;

        // Face, away from the pointer.
        const auto facePoint = polar (c, valueAngle + juce::MathConstants<float>::pi, 0.5f * r);
        EXPECT_TRUE (colourNear (image.getPixelAt (facePoint.x, facePoint.y), juce::Colour (0xff030008), 1)) << k.position;
    }
}

TEST (ZandorLookAndFeel, KnobFollowsTheShorterSideAndSurvivesAZeroRadius)
{
    ZandorLookAndFeel lf;
    juce::Slider slider;

    // 200 x 100 at (10, 20): reduced area (18, 28, 184, 84), radius 42, centre (110, 70).
    const auto wide = render (220, 140, [&] (juce::Graphics& g) {
        lf.drawRotarySlider (g, 10, 20, 200, 100, 0.5f, startAngle, endAngle, slider);
    });
    EXPECT_TRUE (colourNear (wide.getPixelAt (110, 70), over (accent, juce::Colour (0x99eeddff)), 30));
    EXPECT_EQ (wide.getPixelAt (165, 70).getAlpha(), 0);    // beyond the halo (radius 50) on the long side
    EXPECT_GT (wide.getPixelAt (110 + 41, 70).getAlpha(), 0);

    const auto tiny = render (16, 16, [&] (juce::Graphics& g) {
        lf.drawRotarySlider (g, 0, 0, 16, 16, 0.3f, startAngle, endAngle, slider);
    });
    EXPECT_GT ((int) tiny.getPixelAt (8, 8).getAlpha(), 0);
}
