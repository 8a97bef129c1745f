#include "EditorComponentTestAccess.h"
#include "EditorTestAccess.h"
#include "PixelTestHelpers.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace
{
    using Access = BrellDistortionEditorTestAccess;

    constexpr juce::uint32 background = 0xff030008;
    constexpr juce::uint32 gridLine = 0xff120820;
    constexpr juce::uint32 band = 0xee000005;

    class EditorPaint : public ::testing::Test
    {
    protected:
        /** The editor's own drawing, without its children. */
        juce::Image paintEditorOnly()
        {
            juce::Image image (juce::Image::ARGB, editor.getWidth(), editor.getHeight(), true);
            juce::Graphics g (image);
            editor.paint (g);
            return image;
        }

        void tick (int n)
        {
            for (int i = 0; i < n; ++i)
                editor.timerCallback();
        }

        BrellDistortionProcessor processor;
        BrellDistortionEditor editor { processor };
        Access access { editor };
    };

    /** Per column of the footer text box: whether any of its text rows differ from the band
        beneath them, i.e. whether footer text covers that column. */
    std::vector<bool> footerTextColumns (const juce::Image& image)
    {
        std::vector<bool> columns ((size_t) image.getWidth(), false);
        for (int x = 0; x < image.getWidth(); ++x)
        {
            const auto plainBand = image.getPixelAt (x, 698);
            for (int y = 676; y < 696; ++y)
                if (y != 688 && image.getPixelAt (x, y) != plainBand)   // row 688 carries a grid line
                    columns[(size_t) x] = true;
        }
        return columns;
    }

    /** The leftmost and rightmost columns where the title is drawn at full brightness. */
    juce::Range<int> titleExtent (const juce::Image& image)
    {
        int left = image.getWidth(), right = -1;
        for (int y = 8; y < 46; ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                if (auto c = image.getPixelAt (x, y); c.getRed() > 0x90 && c.getBlue() > 0xd0)
                {
                    left = juce::jmin (left, x);
                    right = juce::jmax (right, x);
                }
        return { left, right };
    }
}

TEST_F (EditorPaint, FixedPointsOfTheBackgroundBandsAndFrame)
{
    const auto image = paintEditorOnly();

    struct PixelCase { int x, y; juce::Colour expected; const char* what; int tolerance = 3; };
    const PixelCase cases[] {
        { 100, 330, pixeltest::stack ({ background }),                                       "plain background" },
        { 96, 330,  pixeltest::stack ({ background, gridLine }),                             "vertical grid line" },
        { 100, 320, pixeltest::stack ({ background, gridLine }),                             "horizontal grid line" },
        { 96, 30,   pixeltest::stack ({ background, gridLine, band }),                       "grid line through the header band" },
        { 100, 30,  pixeltest::stack ({ background, band }),                                 "header band" },
        { 100, 50,  pixeltest::stack ({ background, band, 0x0fbb44ff }),                     "glow strip over the band" },
        { 100, 53,  pixeltest::stack ({ background, 0x0fbb44ff }),                           "glow strip below the rule" },
        { 100, 52,  pixeltest::stack ({ background, 0x0fbb44ff, 0x99bb44ff, 0x1feeddff }),   "header rule" },
        { 402, 697, pixeltest::stack ({ background, band }),                                 "footer band" },
        { 400, 697, pixeltest::stack ({ background, gridLine, band }),                       "grid line through the footer band" },
        { 402, 674, pixeltest::stack ({ background, band, 0x66bb44ff }),                     "footer rule" },
        { 402, 673, pixeltest::stack ({ background }),                                       "above the footer band" },
        { 402, 698, pixeltest::stack ({ background, band, 0x14bb44ff }),                     "frame, inner bottom row" },
        { 1, 300,   pixeltest::stack ({ background, 0x14bb44ff }),                           "frame, inner pixel" },
        { 0, 300,   pixeltest::stack ({ background, gridLine, 0x14bb44ff, 0x80bb44ff }),     "frame, outer pixel" },
        { 819, 300, pixeltest::stack ({ background, 0x14bb44ff, 0x80bb44ff }),               "frame, right edge" },
        { 5, 0,     pixeltest::stack ({ background, gridLine, 0x14bb44ff, 0x80bb44ff, 0x8000ffee }), "top-left bracket", 8 },   // the stroke's edge at y 0 leaves a little less than full coverage
        { 814, 699, pixeltest::stack ({ background, band, 0x14bb44ff, 0x80bb44ff, 0x8000ffee }),     "bottom-right bracket" },
        { 1, 10,    pixeltest::stack ({ background, band, 0x14bb44ff }),                     "beside the left bracket" },
        { 0, 10,    pixeltest::stack ({ background, gridLine, band, 0x14bb44ff, 0x80bb44ff, 0x8000ffee }), "left bracket" },
        { 0, 30,    pixeltest::stack ({ background, gridLine, band, 0x14bb44ff, 0x80bb44ff }),             "left frame below the bracket" },
        { 30, 300,  pixeltest::stack ({ background }),                                       "no bracket below 18 px" },
    };

    for (const auto& c : cases)
        EXPECT_TRUE (pixeltest::colourNear (image.getPixelAt (c.x, c.y), c.expected, c.tolerance)) << c.what << " at " << c.x << "," << c.y;
}

TEST_F (EditorPaint, CaptionsAndStatusTextsAreDrawnInTheirBoxes)
{
    const auto image = paintEditorOnly();

    // Each text leaves some pixels of its colour family inside its box and none just outside it.
    struct TextCase { juce::Rectangle<int> box; const char* what; };
    const TextCase cases[] {
        { { 10, 4, 130, 14 },  "SYS://ACTIVE" },
        { { 750, 4, 60, 14 },  "v2.0.0" },
        { { 8, 56, 32, 16 },   "IN" },
        { { 778, 56, 34, 16 }, "OUT" },
    };

    const auto plain = [&] (int x, int y)
    {
        const auto beneath = y < 49 ? pixeltest::stack ({ background, band }) : pixeltest::stack ({ background });
        return pixeltest::colourNear (image.getPixelAt (x, y), beneath, 1);
    };

    for (const auto& c : cases)
    {
        int drawn = 0;
        for (int y = c.box.getY(); y < c.box.getBottom(); ++y)
            for (int x = c.box.getX(); x < c.box.getRight(); ++x)
                if (y % 16 != 0 && x % 16 != 0 && ! plain (x, y))
                    ++drawn;
        EXPECT_GT (drawn, 5) << c.what;
    }
}

TEST_F (EditorPaint, CursorBlinksEveryFifteenTicksAndTheTitleStaysCentred)
{
    ASSERT_TRUE (access.cursorVisible());
    const auto withCursor = titleExtent (paintEditorOnly());

    tick (14);
    EXPECT_TRUE (access.cursorVisible());
    EXPECT_EQ (access.blinkCounter(), 14);

    tick (1);
    EXPECT_FALSE (access.cursorVisible());
    EXPECT_EQ (access.blinkCounter(), 0);
    const auto withoutCursor = titleExtent (paintEditorOnly());

    // Centred with the cursor included: the text starts further left and ends further right.
    ASSERT_FALSE (withoutCursor.isEmpty());
    EXPECT_LT (withCursor.getStart(), withoutCursor.getStart());
    EXPECT_GT (withCursor.getEnd(), withoutCursor.getEnd());
    EXPECT_NEAR ((withoutCursor.getStart() + withoutCursor.getEnd()) / 2.0, 410.0, 4.0);

    tick (15);
    EXPECT_TRUE (access.cursorVisible());
    EXPECT_EQ (titleExtent (paintEditorOnly()), withCursor);
}

TEST_F (EditorPaint, FooterScrollsLeftByTheTruncatedOffset)
{
    const float width = Access::footerTextWidth();
    ASSERT_GT (width, 100.0f);

    const auto atStart = footerTextColumns (paintEditorOnly());
    ASSERT_TRUE (atStart[2]);   // the text starts at x 0

    for (int n : { 1, 10, 37 })
    {
        access.marqueeOffset() = 0.0f;
        tick (n);
        EXPECT_NEAR (access.marqueeOffset(), 0.8f * (float) n, 1.0e-3f);

        const int shift = -Access::marqueeX (access.marqueeOffset(), width);
        EXPECT_NEAR ((double) shift, 0.8 * n, 1.0) << "n " << n;

        const auto scrolled = footerTextColumns (paintEditorOnly());
        for (int x = 0; x + shift < 800; ++x)
            ASSERT_EQ (scrolled[(size_t) x], atStart[(size_t) (x + shift)]) << "n " << n << ", column " << x;
    }
}

TEST_F (EditorPaint, MarqueeOffsetStaysWithinOneTextWidth)
{
    const float width = Access::footerTextWidth();
    ASSERT_GT (width, 0.0f);

    access.marqueeOffset() = width - 0.3f;
    tick (1);
    EXPECT_GE (access.marqueeOffset(), 0.0f);
    EXPECT_NEAR (access.marqueeOffset(), 0.5f, 1.0e-3f);

    // Past a whole width the text is back at x 0, looking exactly as at the start.
    const auto wrapped = paintEditorOnly();
    access.marqueeOffset() = 0.0f;
    EXPECT_TRUE (pixeltest::sameImage (wrapped, paintEditorOnly()));

    tick (5000);
    EXPECT_LT (access.marqueeOffset(), width);
}

TEST (EditorMarquee, TextPositionIsTheTruncatedRemainder)
{
    struct Case { float offset, width; int x; };
    const Case cases[] {
        { 0.0f, 500.0f, 0 },
        { 5.5f, 100.0f, -5 },
        { 99.9f, 100.0f, -99 },
        { 100.0f, 100.0f, 0 },
        { 250.0f, 100.0f, -50 },
        { 123.4f, 0.0f, 0 },                                          // no measurable text: stays at 0
        { 123.4f, std::numeric_limits<float>::quiet_NaN(), 0 },
    };

    for (const auto& c : cases)
        EXPECT_EQ (BrellDistortionEditorTestAccess::marqueeX (c.offset, c.width), c.x) << c.offset << " mod " << c.width;
}

TEST_F (EditorPaint, WholeEditorSnapshotShowsChildrenAndTheOverlay)
{
    editor.setVisible (true);
    const auto own = paintEditorOnly();
    const auto whole = pixeltest::snapshot (editor);

    ASSERT_EQ (whole.getWidth(), 820);
    ASSERT_EQ (whole.getHeight(), 700);

    // The header rule stays visible through the overlay; the children cover the editor's
    // own background where they sit.
    EXPECT_GT (whole.getPixelAt (100, 52).getBlue(), 0x40);
    EXPECT_NE (whole.getPixelAt (300, 400), own.getPixelAt (300, 400));   // grid
    EXPECT_NE (whole.getPixelAt (100, 243), own.getPixelAt (100, 243));   // glitch switch

    // A meter fed a full level lights its top segment in the pink zone; its neighbours stay dark.
    processor.meterLevels.inputLeft.store (1.0f);
    editor.timerCallback();
    EXPECT_FLOAT_EQ (EditorComponentTestAccess::level (access.inputMeterLeft()), 1.0f);
    access.inputMeterLeft().timerCallback();
    access.inputMeterRight().timerCallback();

    const auto lit = pixeltest::snapshot (access.inputMeterLeft());
    const auto dark = pixeltest::snapshot (access.inputMeterRight());
    EXPECT_GT (lit.getPixelAt (6, 14).getRed(), 0xc0);
    EXPECT_LT (dark.getPixelAt (6, 14).getRed(), 0x40);
}
