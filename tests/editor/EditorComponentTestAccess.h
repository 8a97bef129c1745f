#pragma once

#include "CRTOverlay.h"
#include "GlitchGrid.h"
#include "LevelMeter.h"
#include "WaveformDisplay.h"

// The editor components befriend this struct so that tests can read and set their private state.
struct EditorComponentTestAccess
{
    static int& dragRow (GlitchGrid& g)                  { return g.dragRow; }
    static int& dragStartStep (GlitchGrid& g)            { return g.dragStartStep; }
    static int& lastDragStep (GlitchGrid& g)             { return g.lastDragStep; }
    static bool& dragging (GlitchGrid& g)                { return g.dragging; }
    static bool& erasing (GlitchGrid& g)                 { return g.erasing; }
    static float labelWidth (const GlitchGrid& g)        { return g.labelWidth; }
    static float headerHeight (const GlitchGrid& g)      { return g.headerHeight; }

    static std::array<float, ScopeBuffer::size>& displaySamples (WaveformDisplay& d) { return d.displaySamples; }

    static float& level (LevelMeter& m)                  { return m.level; }
    static float& displayLevel (LevelMeter& m)           { return m.displayLevel; }
    static float& peakLevel (LevelMeter& m)              { return m.peakLevel; }
    static int& peakHoldTicks (LevelMeter& m)            { return m.peakHoldTicks; }

    static float& barPosition (CRTOverlay& o)            { return o.barPosition; }
    static float& flicker (CRTOverlay& o)                { return o.flicker; }
    static float& glitchAmount (CRTOverlay& o)           { return o.glitchAmount; }
    static juce::Random& random (CRTOverlay& o)          { return o.random; }
};
