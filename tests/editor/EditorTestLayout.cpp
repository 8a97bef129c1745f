#include "EditorTestAccess.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{
    using Access = BrellDistortionEditorTestAccess;

    struct BoundsCase
    {
        const char* name;
        std::function<juce::Component& (Access&)> child;
        juce::Rectangle<int> bounds;
    };

    const BoundsCase boundsCases[] {
        { "inputMeterLeft",   [] (Access& a) -> juce::Component& { return a.inputMeterLeft(); },   { 8, 79, 12, 587 } },
        { "inputMeterRight",  [] (Access& a) -> juce::Component& { return a.inputMeterRight(); },  { 22, 79, 12, 587 } },
        { "outputMeterLeft",  [] (Access& a) -> juce::Component& { return a.outputMeterLeft(); },  { 784, 79, 12, 587 } },
        { "outputMeterRight", [] (Access& a) -> juce::Component& { return a.outputMeterRight(); }, { 798, 79, 12, 587 } },
        { "distLabel",        [] (Access& a) -> juce::Component& { return a.distLabel(); },        { 42, 59, 70, 32 } },
        { "modeBox",          [] (Access& a) -> juce::Component& { return a.modeBox(); },          { 112, 61, 294, 28 } },
        { "filterLabel",      [] (Access& a) -> juce::Component& { return a.filterLabel(); },      { 414, 59, 90, 32 } },
        { "filterTypeBox",    [] (Access& a) -> juce::Component& { return a.filterTypeBox(); },    { 504, 61, 274, 28 } },
        { "waveformDisplay",  [] (Access& a) -> juce::Component& { return a.waveformDisplay(); },  { 42, 97, 294, 120 } },
        { "driveLabel",       [] (Access& a) -> juce::Component& { return a.driveLabel(); },       { 342, 97, 87, 16 } },
        { "driveSlider",      [] (Access& a) -> juce::Component& { return a.driveSlider(); },      { 342, 113, 87, 104 } },
        { "mixLabel",         [] (Access& a) -> juce::Component& { return a.mixLabel(); },         { 429, 97, 87, 16 } },
        { "mixSlider",        [] (Access& a) -> juce::Component& { return a.mixSlider(); },        { 429, 113, 87, 104 } },
        { "outputLabel",      [] (Access& a) -> juce::Component& { return a.outputLabel(); },      { 516, 97, 87, 16 } },
        { "outputSlider",     [] (Access& a) -> juce::Component& { return a.outputSlider(); },     { 516, 113, 87, 104 } },
        { "cutoffLabel",      [] (Access& a) -> juce::Component& { return a.cutoffLabel(); },      { 603, 97, 87, 16 } },
        { "cutoffSlider",     [] (Access& a) -> juce::Component& { return a.cutoffSlider(); },     { 603, 113, 87, 104 } },
        { "resoLabel",        [] (Access& a) -> juce::Component& { return a.resoLabel(); },        { 690, 97, 88, 16 } },
        { "resoSlider",       [] (Access& a) -> juce::Component& { return a.resoSlider(); },       { 690, 113, 88, 104 } },
        { "glitchButton",     [] (Access& a) -> juce::Component& { return a.glitchButton(); },     { 42, 225, 180, 36 } },
        { "chaosLabel",       [] (Access& a) -> juce::Component& { return a.chaosLabel(); },       { 234, 225, 60, 16 } },
        { "chaosSlider",      [] (Access& a) -> juce::Component& { return a.chaosSlider(); },      { 294, 215, 80, 56 } },
        { "chaosButton",      [] (Access& a) -> juce::Component& { return a.chaosButton(); },      { 386, 229, 80, 28 } },
        { "resetButton",      [] (Access& a) -> juce::Component& { return a.resetButton(); },      { 472, 229, 70, 28 } },
        { "glitchGrid",       [] (Access& a) -> juce::Component& { return a.glitchGrid(); },       { 42, 267, 736, 401 } },
        { "crtOverlay",       [] (Access& a) -> juce::Component& { return a.crtOverlay(); },       { 0, 0, 820, 700 } },
    };

    class EditorLayout : public ::testing::Test
    {
    protected:
        EditorLayout() { editor.setVisible (true); }

        BrellDistortionProcessor processor;
        BrellDistortionEditor editor { processor };
        Access access { editor };
    };
}

TEST_F (EditorLayout, EveryChildSitsAtItsRectangle)
{
    ASSERT_EQ (editor.getNumChildComponents(), (int) std::size (boundsCases));

    for (const auto& c : boundsCases)
        EXPECT_EQ (c.child (access).getBounds(), c.bounds) << c.name;
}

TEST_F (EditorLayout, ALaterLayoutPassGivesTheSameRectangles)
{
    editor.resized();
    editor.setSize (820, 700);

    for (const auto& c : boundsCases)
        EXPECT_EQ (c.child (access).getBounds(), c.bounds) << c.name;
}

TEST_F (EditorLayout, HeaderFooterAndSideMarginsHoldNoChildButTheOverlay)
{
    const juce::Rectangle<int> reserved[] {
        { 0, 0, 820, 55 },      // header band
        { 0, 672, 820, 28 },    // footer band
        { 0, 0, 8, 700 },       // left margin
        { 812, 0, 8, 700 },     // right margin
        { 542, 225, 236, 36 },  // the empty end of the glitch row
    };

    for (auto* child : editor.getChildren())
    {
        if (child == &access.crtOverlay())
            continue;

        for (const auto& area : reserved)
            EXPECT_FALSE (child->getBounds().intersects (area))
                << child->getName() << " " << child->getBounds().toString() << " reaches into " << area.toString();
    }
}

TEST_F (EditorLayout, ClicksReachTheTopmostControlBeneathTheOverlay)
{
    struct HitCase { juce::Point<int> point; std::function<juce::Component* (Access&)> expected; const char* what; };
    const HitCase cases[] {
        // Where the chaos knob's bounds reach under the scope and the grid, those lie above it.
        { { 300, 215 }, [] (Access& a) { return &a.waveformDisplay(); }, "scope over the chaos knob's top" },
        { { 335, 216 }, [] (Access& a) { return &a.waveformDisplay(); }, "scope over the chaos knob's top, right" },
        { { 300, 217 }, [] (Access& a) { return &a.chaosSlider(); },     "chaos knob just below the scope" },
        { { 300, 240 }, [] (Access& a) { return &a.chaosSlider(); },     "chaos knob in its row" },
        { { 300, 266 }, [] (Access& a) { return &a.chaosSlider(); },     "chaos knob just above the grid" },
        { { 300, 267 }, [] (Access& a) { return &a.glitchGrid(); },      "grid over the chaos knob's bottom" },
        { { 373, 270 }, [] (Access& a) { return &a.glitchGrid(); },      "grid over the chaos knob's bottom, right" },
        { { 300, 400 }, [] (Access& a) { return &a.glitchGrid(); },      "grid" },
        { { 426, 243 }, [] (Access& a) { return &a.chaosButton(); },     "CHAOS button" },
        { { 507, 243 }, [] (Access& a) { return &a.resetButton(); },     "RESET button" },
        { { 100, 243 }, [] (Access& a) { return &a.glitchButton(); },    "glitch switch" },
        { { 200, 75 },  [] (Access& a) { return &a.modeBox(); },         "mode selector" },
        { { 14, 300 },  [] (Access& a) { return &a.inputMeterLeft(); },  "input meter" },
        // Free areas of the editor belong to the editor itself, never to the overlay.
        { { 400, 20 },  [] (Access&) -> juce::Component* { return nullptr; }, "header" },
        { { 400, 690 }, [] (Access&) -> juce::Component* { return nullptr; }, "footer" },
        { { 600, 243 }, [] (Access&) -> juce::Component* { return nullptr; }, "empty end of the glitch row" },
    };

    for (const auto& c : cases)
    {
        auto* hit = editor.getComponentAt (c.point);
        auto* expected = c.expected (access);
        if (expected == nullptr)
            expected = &editor;

        // A knob's value box is a child of the knob; count it as the knob.
        if (hit != nullptr && hit != &editor && hit->getParentComponent() != &editor)
            hit = hit->getParentComponent();

        EXPECT_EQ (hit, expected) << c.what << " at " << c.point.toString();
        EXPECT_NE (hit, &access.crtOverlay()) << c.what;
    }
}
