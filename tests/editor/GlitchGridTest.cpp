#include "EditorComponentTestAccess.h"
#include "PixelTestHelpers.h"
#include "ProcessorTestAccess.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

using Access = EditorComponentTestAccess;
using pixeltest::colourNear;
using pixeltest::stack;

namespace
{
    constexpr int gridWidth = 736;
    constexpr int gridHeight = 401;
    constexpr float cw = (736.0f - 90.0f) / 16.0f;
    constexpr float rh = (401.0f - 22.0f) / 5.0f;
    constexpr juce::uint32 panel = 0xe6030008;

    struct GlitchGridTest : public ::testing::Test
    {
        void SetUp() override   { startAfresh(); }

        void startAfresh()
        {
            grid.reset();
            processor = std::make_unique<BrellDistortionProcessor>();
            grid = std::make_unique<GlitchGrid> (*processor);
            grid->setBounds (0, 0, gridWidth, gridHeight);
        }

        juce::MouseEvent eventAt (juce::Point<int> p) const
        {
            const auto now = juce::Time::getCurrentTime();
            return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), p.toFloat(), {},
                                     juce::MouseInputSource::defaultPressure, 0.0f, 0.0f, 0.0f, 0.0f,
                                     grid.get(), grid.get(), now, p.toFloat(), now, 1, false);
        }

        // The middle of a cell, in grid pixels.
        static juce::Point<int> centreOf (int row, int step)
        {
            return { (int) (90.0f + ((float) step + 0.5f) * cw), (int) (22.0f + ((float) row + 0.5f) * rh) };
        }

        void press (int row, int step)     { grid->mouseDown (eventAt (centreOf (row, step))); }
        void drag (int row, int step)      { grid->mouseDrag (eventAt (centreOf (row, step))); }
        void dragTo (juce::Point<int> p)   { grid->mouseDrag (eventAt (p)); }
        void release()                     { grid->mouseUp (eventAt ({ 0, 0 })); }

        std::vector<int> row (int r) const
        {
            std::vector<int> cells;
            for (int s = 0; s < 16; ++s)
                cells.push_back (processor->glitchPattern.get (r, s));
            return cells;
        }

        void setRow (int r, std::vector<std::pair<int, int>> blocks)
        {
            for (int s = 0; s < 16; ++s)
                processor->glitchPattern.set (r, s, 0);
            for (auto [step, length] : blocks)
                processor->glitchPattern.set (r, step, length);
        }

        static std::vector<int> rowOf (std::vector<std::pair<int, int>> blocks)
        {
            std::vector<int> cells (16, 0);
            for (auto [step, length] : blocks)
                cells[(size_t) step] = length;
            return cells;
        }

        std::unique_ptr<BrellDistortionProcessor> processor;
        std::unique_ptr<GlitchGrid> grid;
    };
}

//==============================================================================
TEST_F (GlitchGridTest, CellBoundsFollowTheUnroundedGeometry)
{
    EXPECT_EQ (grid->cellBounds (0, 0), juce::Rectangle<float> (90.0f, 22.0f, 40.375f, 75.8f));
    EXPECT_EQ (grid->cellBounds (4, 15), juce::Rectangle<float> (90.0f + 15.0f * cw, 22.0f + 4.0f * rh, cw, rh));
    EXPECT_FLOAT_EQ (grid->cellBounds (2, 7).getRight(), grid->cellBounds (2, 8).getX());
}

TEST_F (GlitchGridTest, CellAtMapsPixelsToCells)
{
    const struct { int x, y, row, step; } cases[] {
        { 90, 22, 0, 0 },   { 130, 22, 0, 0 },   { 131, 22, 0, 1 },   { 735, 22, 0, 15 },
        { 736, 22, -1, -1 }, { 89, 100, -1, -1 }, { 100, 21, -1, -1 }, { 100, 400, 4, 0 },
        { 100, 401, -1, -1 }, { 400, 97, 0, 7 },  { 400, 98, 1, 7 },   { -5, -5, -1, -1 },
    };

    for (const auto& c : cases)
    {
        const auto cell = grid->cellAt ({ c.x, c.y });
        EXPECT_EQ (cell.row, c.row) << "at " << c.x << ", " << c.y;
        EXPECT_EQ (cell.step, c.step) << "at " << c.x << ", " << c.y;
    }
}

TEST_F (GlitchGridTest, SizesWithoutRoomForCellsHaveNoCellsAndPaintOnlyThePanel)
{
    for (const auto size : { juce::Point<int> (90, 401), juce::Point<int> (736, 22), juce::Point<int> (40, 10),
                             juce::Point<int> (0, 0) })
    {
        grid->setSize (size.x, size.y);

        for (const auto p : { juce::Point<int> (90, 22), juce::Point<int> (100, 30), juce::Point<int> (0, 0) })
            EXPECT_EQ (grid->cellAt (p).row, -1) << size.x << " x " << size.y;

        grid->mouseDown (eventAt ({ 95, 25 }));
        EXPECT_EQ (row (0), rowOf ({}));
        EXPECT_FALSE (Access::dragging (*grid));

        // Painting must not divide by the missing room; paint straight into an image so that the
        // empty size is covered as well.
        juce::Image image (juce::Image::ARGB, 64, 64, true);
        juce::Graphics g (image);
        grid->paint (g);
    }

    grid->setSize (80, 200);
    processor->currentStep = 0;
    const auto image = pixeltest::snapshot (*grid);
    EXPECT_TRUE (colourNear (image.getPixelAt (40, 100), juce::Colour (panel), 2));
}

//==============================================================================
TEST_F (GlitchGridTest, GesturesEditThePatternRow)
{
    using Blocks = std::vector<std::pair<int, int>>;
    enum Kind { down, move, up };
    struct Action { Kind kind; int step; };

    const struct
    {
        const char* name;
        Blocks before;
        std::vector<Action> actions;
        Blocks after;
    } cases[] {
        { "press places a one-step block",      {},                 { { down, 5 } },                               { { 5, 1 } } },
        { "drag right stretches",               {},                 { { down, 5 }, { move, 9 } },                  { { 5, 5 } } },
        { "drag back shortens",                 {},                 { { down, 5 }, { move, 9 }, { move, 7 } },     { { 5, 3 } } },
        { "drag left stretches",                {},                 { { down, 9 }, { move, 5 } },                  { { 5, 5 } } },
        { "first move clears the anchor's right", { { 8, 1 }, { 12, 2 } }, { { down, 2 } },                        { { 2, 1 }, { 8, 1 }, { 12, 2 } } },
        { "... and then removes those blocks",  { { 8, 1 }, { 12, 2 } }, { { down, 2 }, { move, 3 } },             { { 2, 2 } } },
        { "press inside a block erases it",     { { 4, 3 } },       { { down, 6 } },                               {} },
        { "latest-starting cover goes first",   { { 2, 6 }, { 4, 3 } }, { { down, 6 } },                           { { 2, 6 } } },
        { "second press takes the next",        { { 2, 6 }, { 4, 3 } }, { { down, 6 }, { up, 0 }, { down, 6 } },   {} },
        { "last step of a block erases",        { { 4, 3 } },       { { down, 6 }, { up, 0 }, { down, 7 } },       { { 7, 1 } } },
        { "same free cell twice toggles",       {},                 { { down, 3 }, { up, 0 }, { down, 3 } },       {} },
        { "moves after an erase do nothing",    { { 4, 3 } },       { { down, 5 }, { move, 9 }, { move, 12 } },    {} },
        { "full row from step 0",               {},                 { { down, 0 }, { move, 15 } },                 { { 0, 16 } } },
        { "moving onto the last step again",    {},                 { { down, 0 }, { move, 4 }, { move, 4 } },     { { 0, 5 } } },
        { "release ends the gesture",           {},                 { { down, 2 }, { up, 0 }, { move, 9 } },       { { 2, 1 } } },
        // A move leaves the row holding exactly the block from lo to hi.
        { "pulling the start back toward the anchor", {},           { { down, 9 }, { move, 5 }, { move, 7 } },     { { 7, 3 } } },
        { "crossing over the anchor",           {},                 { { down, 9 }, { move, 5 }, { move, 12 } },    { { 9, 4 } } },
        { "a block reaching in is cut at lo",   { { 2, 3 } },       { { down, 9 }, { move, 3 } },                  { { 2, 1 }, { 3, 7 } } },
        { "a block inside lo..hi goes",         { { 4, 2 } },       { { down, 9 }, { move, 3 } },                  { { 3, 7 } } },
        { "blocks left of lo stay",             { { 0, 2 } },       { { down, 9 }, { move, 3 }, { move, 8 } },     { { 0, 2 }, { 8, 2 } } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        setRow (2, c.before);
        release();

        for (const auto& a : c.actions)
        {
            switch (a.kind)
            {
                case down: press (2, a.step); break;
                case move: drag (2, a.step); break;
                case up:   release(); break;
            }
        }

        EXPECT_EQ (row (2), rowOf (c.after));

        for (int other : { 0, 1, 3, 4 })
            EXPECT_EQ (row (other), rowOf ({}));
    }
}

TEST_F (GlitchGridTest, PressStatesFollowTheGesture)
{
    press (1, 4);
    EXPECT_TRUE (Access::dragging (*grid));
    EXPECT_FALSE (Access::erasing (*grid));
    EXPECT_EQ (Access::dragRow (*grid), 1);
    EXPECT_EQ (Access::dragStartStep (*grid), 4);
    EXPECT_EQ (Access::lastDragStep (*grid), 4);

    drag (1, 6);
    EXPECT_EQ (Access::lastDragStep (*grid), 6);

    release();
    EXPECT_FALSE (Access::dragging (*grid));
    EXPECT_EQ (Access::dragRow (*grid), -1);
    EXPECT_EQ (Access::dragStartStep (*grid), 4);

    press (1, 5);   // inside the block just drawn
    EXPECT_TRUE (Access::erasing (*grid));
    EXPECT_FALSE (Access::dragging (*grid));
    EXPECT_EQ (Access::dragRow (*grid), -1);
    EXPECT_EQ (row (1), rowOf ({}));
}

TEST_F (GlitchGridTest, PressOffTheCellsChangesNothing)
{
    for (const auto p : { juce::Point<int> (89, 200), juce::Point<int> (300, 21), juce::Point<int> (736, 200),
                          juce::Point<int> (300, 401) })
    {
        grid->mouseDown (eventAt (p));
        EXPECT_FALSE (Access::dragging (*grid));
        EXPECT_FALSE (Access::erasing (*grid));
        EXPECT_EQ (Access::dragRow (*grid), -1);
    }

    for (int r = 0; r < 5; ++r)
        EXPECT_EQ (row (r), rowOf ({}));
}

TEST_F (GlitchGridTest, DragOffTheRowPausesTheGesture)
{
    press (3, 4);
    drag (3, 7);
    dragTo ({ 300, 10 });       // header
    dragTo ({ 40, 250 });       // label column
    dragTo ({ 800, 250 });      // right of the grid
    drag (2, 12);               // another row
    EXPECT_EQ (row (3), rowOf ({ { 4, 4 } }));
    EXPECT_EQ (row (2), rowOf ({}));

    drag (3, 10);
    EXPECT_EQ (row (3), rowOf ({ { 4, 7 } }));
}

TEST_F (GlitchGridTest, LengthsBeyondTheRowDoNotOverflowAPress)
{
    processor->glitchPattern.set (0, 3, std::numeric_limits<int32_t>::max());
    press (0, 15);
    EXPECT_EQ (row (0), rowOf ({}));
}

//==============================================================================
namespace
{
    juce::Colour colourAt (const juce::Image& image, juce::Point<float> p)
    {
        return image.getPixelAt ((int) p.x, (int) p.y);
    }
}

TEST_F (GlitchGridTest, PaintsHeaderHighlightAndPlayheadAtTheCurrentStep)
{
    processor->currentStep = 3;
    const auto image = pixeltest::snapshot (*grid);

    // Header cells, just below the panel's outline and above the digits.
    EXPECT_TRUE (colourNear (colourAt (image, { 90.0f + 3.2f * cw, 3.0f }), stack ({ panel, 0x26bb44ff }), 2));
    EXPECT_TRUE (colourNear (colourAt (image, { 90.0f + 1.2f * cw, 3.0f }), stack ({ panel }), 2));
    EXPECT_TRUE (colourNear (colourAt (image, { 90.0f + 4.2f * cw, 3.0f }), stack ({ panel }), 2));

    // The current step's digit is drawn in the accent, the others in the dim purple.
    const auto digitBox = [] (int s) { return juce::Rectangle<int> ((int) (90.0f + (float) s * cw), 0, (int) cw, 22); };
    EXPECT_GT (pixeltest::countNear (image, digitBox (3), juce::Colour (0xffbb44ff), 40), 0);
    EXPECT_EQ (pixeltest::countNear (image, digitBox (5), juce::Colour (0xffbb44ff), 40), 0);

    // Playhead line in the middle of the column, over a marked empty cell of row 0.
    const auto cx = (int) (90.0f + 3.5f * cw);
    const auto rowY = (int) (22.0f + 0.5f * rh);
    const auto row0 = GlitchGrid::rowColour (0);
    EXPECT_TRUE (colourNear (image.getPixelAt (cx, rowY),
                             stack ({ panel, row0.withAlpha ((juce::uint8) 0x14).getARGB(), 0x0dbb44ff, 0x80bb44ff }), 3));
    EXPECT_TRUE (colourNear (image.getPixelAt (cx + 2, rowY),
                             stack ({ panel, row0.withAlpha ((juce::uint8) 0x14).getARGB(), 0x0dbb44ff }), 3));
    EXPECT_TRUE (colourNear (image.getPixelAt ((int) (90.0f + 6.5f * cw), rowY),
                             stack ({ panel, row0.withAlpha ((juce::uint8) 0x08).getARGB() }), 3));
}

TEST_F (GlitchGridTest, BeforeTheFirstStepNothingIsMarkedButTheBarLines)
{
    processor->currentStep = -1;
    processor->glitchPattern.set (0, 0, 2);
    const auto image = pixeltest::snapshot (*grid);

    for (int s = 0; s < 16; ++s)
        EXPECT_TRUE (colourNear (colourAt (image, { 90.0f + ((float) s + 0.2f) * cw, 3.0f }), stack ({ panel }), 2)) << s;

    const auto rowY = (int) (22.0f + 2.5f * rh);
    const auto c = GlitchGrid::rowColour (2).withAlpha ((juce::uint8) 0x08).getARGB();
    for (int s = 0; s < 16; ++s)
        EXPECT_TRUE (colourNear (image.getPixelAt ((int) (90.0f + ((float) s + 0.5f) * cw), rowY), stack ({ panel, c }), 3)) << s;

    // The block at step 0 is unlit.
    const auto body = GlitchGrid::rowColour (0);
    EXPECT_TRUE (colourNear (image.getPixelAt ((int) (90.0f + cw), (int) (22.0f + 0.5f * rh)),
                             stack ({ panel, body.withAlpha ((juce::uint8) 0x1f).getARGB(),
                                      body.withAlpha ((juce::uint8) 0x8c).getARGB(), 0x14ffffff }), 3));

    // Bar lines at steps 4, 8 and 12, in the gap between two cells of row 2.
    for (int k : { 4, 8, 12 })
        EXPECT_TRUE (colourNear (image.getPixelAt ((int) (90.0f + (float) k * cw), rowY), stack ({ panel, 0x26bb44ff }), 3)) << k;
}

TEST_F (GlitchGridTest, BlocksShowInTheirRowColoursLitWhileThePlayheadIsInThem)
{
    // The playhead is on step 3. Each block is checked at points clear of the playhead's glow band
    // (3.4 to 3.6 steps) and of the bar lines; the colours are the rows' own, written out.
    const struct
    {
        const char* name;
        int row, step, length;
        juce::uint32 colour;
        bool lit;
        std::vector<float> at;    // positions in steps
    } cases[] {
        // It spans its three cells without the gaps between them (step 4's left edge carries a bar line).
        { "playhead inside",                 0, 2, 3,  0xffff6b00, true,  { 2.3f, 3.0f, 3.9f, 4.5f, 4.7f } },
        { "one step, under the playhead",    1, 3, 1,  0xff00ccff, true,  { 3.2f, 3.8f } },
        { "ends on the playhead's step",     2, 0, 4,  0xffff2090, true,  { 0.5f, 1.5f, 3.2f } },
        { "starts on the playhead's step",   3, 3, 5,  0xff00ff88, true,  { 3.2f, 5.5f, 7.5f } },
        { "ends right before the playhead",  1, 0, 3,  0xff00ccff, false, { 0.5f, 2.5f } },
        { "starts right after the playhead", 4, 4, 1,  0xffffff00, false, { 4.5f } },
        // Clipped at the right edge of the 16th step.
        { "runs past the last step",         4, 10, 15, 0xffffff00, false, { 10.5f, 13.0f, 15.8f } },
    };

    for (const auto& c : cases)
        processor->glitchPattern.set (c.row, c.step, c.length);
    processor->currentStep = 3;
    const auto image = pixeltest::snapshot (*grid);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto colour = juce::Colour (c.colour);
        const auto expected = stack ({ panel, colour.withAlpha ((juce::uint8) 0x1f).getARGB(),
                                       colour.withAlpha ((juce::uint8) (c.lit ? 0xd9 : 0x8c)).getARGB(),
                                       c.lit ? 0x33ffffffu : 0x14ffffffu });

        for (float p : c.at)
            EXPECT_TRUE (colourNear (image.getPixelAt ((int) (90.0f + p * cw), (int) (22.0f + ((float) c.row + 0.5f) * rh)),
                                     expected, 3)) << p;
    }
}

TEST_F (GlitchGridTest, SoundingRowsLightTheirLabels)
{
    processor->activeMask = 0b00010;
    const auto image = pixeltest::snapshot (*grid);

    const auto labelBox = [] (int r) { return juce::Rectangle<int> (6, (int) (22.0f + (float) r * rh) + 2, 82, (int) rh - 4); };
    const auto midRight = [] (int r) { return juce::Point<int> (86, (int) (22.0f + ((float) r + 0.5f) * rh)); };

    EXPECT_TRUE (colourNear (image.getPixelAt (midRight (1).x, midRight (1).y),
                             stack ({ panel, GlitchGrid::rowColour (1).withAlpha ((juce::uint8) 0x14).getARGB() }), 2));
    EXPECT_GT (pixeltest::countNear (image, labelBox (1), GlitchGrid::rowColour (1), 30), 0);

    for (int r : { 0, 2, 3, 4 })
    {
        EXPECT_TRUE (colourNear (image.getPixelAt (midRight (r).x, midRight (r).y), stack ({ panel }), 2)) << r;
        EXPECT_EQ (pixeltest::countNear (image, labelBox (r), GlitchGrid::rowColour (r), 30), 0) << r;
        EXPECT_GT (pixeltest::countNear (image, labelBox (r),
                                         pixeltest::over (juce::Colour (panel), GlitchGrid::rowColour (r).withAlpha ((juce::uint8) 0x80)), 30), 0) << r;
    }
}

TEST_F (GlitchGridTest, TimerTickRedrawsThePlayheadAfterTheStepMoves)
{
    // Behind an image cache the grid shows a moved step only once something repaints it.
    juce::Component parent;
    parent.setBounds (grid->getBounds());
    parent.addAndMakeVisible (*grid);
    grid->setBufferedToImage (true);

    const auto playheadPixel = [] (const juce::Image& image, int step) {
        return image.getPixelAt ((int) (90.0f + ((float) step + 0.5f) * cw), (int) (22.0f + 0.5f * rh));
    };

    processor->currentStep = 7;
    const auto freshAtSeven = pixeltest::snapshot (*grid);
    processor->currentStep = 3;
    const auto freshAtThree = pixeltest::snapshot (*grid);
    ASSERT_FALSE (colourNear (playheadPixel (freshAtThree, 7), playheadPixel (freshAtSeven, 7), 2));

    pixeltest::snapshot (parent);
    processor->currentStep = 7;
    const auto beforeTick = pixeltest::snapshot (parent);
    grid->timerCallback();
    const auto afterTick = pixeltest::snapshot (parent);

    for (int step : { 3, 7 })
    {
        EXPECT_TRUE (colourNear (playheadPixel (beforeTick, step), playheadPixel (freshAtThree, step), 2)) << step;
        EXPECT_TRUE (colourNear (playheadPixel (afterTick, step), playheadPixel (freshAtSeven, step), 2)) << step;
    }

    parent.removeChildComponent (grid.get());
}

//==============================================================================
namespace
{
    /** Counts what the processor tells its listeners (the host among them): state changes that
        are not parameter changes, other change notices, and parameter value changes. */
    struct HostNotificationCounter : juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override   { ++parameterChanges; }

        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails& details) override
        {
            if (details.nonParameterStateChanged)
                ++stateChanges;
            else
                ++otherChanges;
        }

        int stateChanges = 0;
        int otherChanges = 0;
        int parameterChanges = 0;
    };
}

TEST_F (GlitchGridTest, PatternEditsTellTheHostTheStateChanged)
{
    // A saved state whose only difference from the defaults is one block.
    juce::MemoryBlock stateWithABlock;
    {
        BrellDistortionProcessor other;
        other.glitchPattern.set (1, 6, 3);
        other.getStateInformation (stateWithABlock);
    }

    const auto nothing = [] {};
    const auto loadTheBlock = [&]
    {
        processor->setStateInformation (stateWithABlock.getData(), (int) stateWithABlock.getSize());
        EXPECT_EQ (row (1), rowOf ({ { 6, 3 } }));   // the load did write the pattern
    };
    const auto seedChaos = [&] { BrellDistortionProcessorTestAccess (*processor).chaosRandom().setSeed (42); };

    const struct
    {
        const char* name;
        std::function<void()> before, action;
        int stateChanges, parameterChanges;
    } cases[] {
        { "press on a free cell",         nothing,                                  [&] { press (2, 5); },                           1, 0 },
        { "press on the label column",    nothing,                                  [&] { grid->mouseDown (eventAt ({ 40, 200 })); }, 0, 0 },
        { "press on the header",          nothing,                                  [&] { grid->mouseDown (eventAt ({ 300, 10 })); }, 0, 0 },
        { "accepted drag move",           [&] { press (2, 5); },                    [&] { drag (2, 9); },                            1, 0 },
        { "one per accepted move",        [&] { press (2, 5); },                    [&] { drag (2, 9); drag (2, 7); drag (2, 2); },  3, 0 },
        { "move to the last step again",  [&] { press (2, 5); drag (2, 9); },       [&] { drag (2, 9); },                            0, 0 },
        { "moves off the drag row",       [&] { press (2, 5); },                    [&] { drag (3, 9); dragTo ({ 300, 10 }); dragTo ({ 40, 150 }); }, 0, 0 },
        // As if a state load had landed mid-gesture with the very row that the move writes.
        { "move rewriting what is there", [&] { press (2, 5); setRow (2, { { 5, 5 } }); }, [&] { drag (2, 9); },                     0, 0 },
        { "erase press",                  [&] { setRow (2, { { 4, 3 } }); },        [&] { press (2, 6); },                           1, 0 },
        { "moves after an erase",         [&] { setRow (2, { { 4, 3 } }); press (2, 6); }, [&] { drag (2, 9); },                     0, 0 },
        { "release",                      [&] { press (2, 5); drag (2, 9); },       [&] { release(); },                              0, 0 },
        { "state loaded by the host",     nothing,                                  loadTheBlock,                                    0, 0 },
        // A block over the whole row is one that CHAOS never draws.
        { "CHAOS",                        [&] { setRow (0, { { 0, 16 } }); },       [&] { processor->randomise(); },                 1, 8 },
        { "CHAOS drawing the same pattern", [&] { seedChaos(); processor->randomise(); seedChaos(); }, [&] { processor->randomise(); }, 0, 8 },
        { "RESET of a pattern with blocks", [&] { setRow (0, { { 3, 2 } }); },      [&] { processor->resetAll(); },                  1, 8 },
        { "RESET of an empty pattern",    nothing,                                  [&] { processor->resetAll(); },                  0, 8 },
        { "a parameter changed",          nothing,                                  [&] { processor->apvts.getParameter ("drive")->setValueNotifyingHost (0.2f); }, 0, 1 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        startAfresh();
        c.before();

        HostNotificationCounter counter;
        processor->addListener (&counter);
        c.action();
        processor->removeListener (&counter);

        EXPECT_EQ (counter.stateChanges, c.stateChanges);
        EXPECT_EQ (counter.parameterChanges, c.parameterChanges);
        EXPECT_EQ (counter.otherChanges, 0);
    }
}
