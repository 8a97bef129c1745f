#pragma once

#include "BrellDistortionProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** The 5 x 16 effect grid: draws the processor's glitch pattern with its playhead and sounding
    rows, and lets the mouse place, stretch and erase blocks in that pattern. An edit that changes
    the pattern tells the host that the plug-in's state changed, as no parameter does. */
class GlitchGrid : public juce::Component,
                   private juce::Timer
{
public:
    /** A row and step of the grid; (-1, -1) where there is no cell. */
    struct GridCell
    {
        int row = -1;
        int step = -1;
    };

    static constexpr int numRows = GlitchPattern::numRows;
    static constexpr int numSteps = GlitchPattern::numSteps;

    static constexpr const char* rowLabels[numRows] { "STUTTER", "TAPE STOP", "CRUSH", "REVERSE", "GATE" };
    static juce::Colour rowColour (int row) noexcept;

    explicit GlitchGrid (BrellDistortionProcessor& processor);
    ~GlitchGrid() override;

    void mouseDown (const juce::MouseEvent& event) override;
    void mouseDrag (const juce::MouseEvent& event) override;
    void mouseUp (const juce::MouseEvent& event) override;
    void paint (juce::Graphics& g) override;

    /** Public so that the animation can be stepped without a running message loop. */
    void timerCallback() override;

    GridCell cellAt (juce::Point<int> position) const noexcept;
    juce::Rectangle<float> cellBounds (int row, int step) const noexcept;

private:
    friend struct EditorComponentTestAccess;

    bool hasRoomForCells() const noexcept;
    float cellWidth() const noexcept;
    float rowHeight() const noexcept;

    BrellDistortionProcessor& processorRef;
    int dragRow = -1;
    int dragStartStep = -1;
    int lastDragStep = -1;
    bool dragging = false;
    bool erasing = false;
    float labelWidth = 90.0f;
    float headerHeight = 22.0f;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (GlitchGrid)
};
