#include "CRTOverlay.h"
#include "GlitchGrid.h"
#include "LevelMeter.h"
#include "WaveformDisplay.h"
#include "ZandorLookAndFeel.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

// One full paint of each editor component at the size the editor gives it, with the software
// renderer. The overlay repaints the whole editor on every 33 ms tick, so its figure matters most.
namespace
{
    template <typename ComponentType>
    void paintRepeatedly (benchmark::State& state, ComponentType& component, int width, int height)
    {
        component.setBounds (0, 0, width, height);
        juce::Image image (juce::Image::ARGB, width, height, true, juce::SoftwareImageType());

        for (auto _ : state)
        {
            juce::Graphics g (image);
            component.paintEntireComponent (g, false);
            benchmark::DoNotOptimize (image.getPixelAt (width / 2, height / 2));
        }
    }

    std::unique_ptr<BrellDistortionProcessor> busyProcessor()
    {
        auto processor = std::make_unique<BrellDistortionProcessor>();

        for (int j = 0; j < ScopeBuffer::size; ++j)
            processor->scopeBuffer.samples[(size_t) j] = 0.8f * std::sin ((float) j * 0.1f);

        for (int row = 0; row < GlitchPattern::numRows; ++row)
        {
            processor->glitchPattern.set (row, row, 3);
            processor->glitchPattern.set (row, 8 + row, 1);
        }

        processor->currentStep = 4;
        processor->activeMask = 0b10101;
        return processor;
    }

    void glitchGridPaint (benchmark::State& state)
    {
        auto processor = busyProcessor();
        GlitchGrid grid (*processor);
        paintRepeatedly (state, grid, 736, 401);
    }

    void waveformDisplayPaint (benchmark::State& state)
    {
        auto processor = busyProcessor();
        WaveformDisplay display (*processor);
        display.timerCallback();
        paintRepeatedly (state, display, 294, 120);
    }

    void levelMeterPaint (benchmark::State& state)
    {
        LevelMeter meter;
        meter.setLevel (0.2f);
        meter.timerCallback();
        paintRepeatedly (state, meter, 12, 587);
    }

    void crtOverlayPaint (benchmark::State& state)
    {
        CRTOverlay overlay;
        overlay.setBounds (0, 0, 820, 700);
        overlay.timerCallback();
        paintRepeatedly (state, overlay, 820, 700);
    }

    // The look-and-feel's widgets at their editor sizes: a knob, a selector and the glitch switch.
    void lookAndFeelWidgetsPaint (benchmark::State& state)
    {
        ZandorLookAndFeel lookAndFeel;
        juce::Slider knob (juce::Slider::RotaryHorizontalVerticalDrag, juce::Slider::TextBoxBelow);
        juce::ComboBox selector;
        juce::ToggleButton glitchSwitch;

        for (juce::Component* c : { (juce::Component*) &knob, (juce::Component*) &selector, (juce::Component*) &glitchSwitch })
            c->setLookAndFeel (&lookAndFeel);

        knob.setRange (0.0, 100.0);
        knob.setValue (55.0);
        knob.setBounds (0, 0, 87, 104);
        selector.addItemList ({ "HARD CLIP", "SOFT CLIP", "BITCRUSH", "FOLDBACK" }, 1);
        selector.setSelectedId (1);
        selector.setBounds (0, 0, 294, 28);
        glitchSwitch.setToggleState (true, juce::dontSendNotification);
        glitchSwitch.setBounds (0, 0, 180, 36);

        juce::Image image (juce::Image::ARGB, 294, 104, true, juce::SoftwareImageType());

        for (auto _ : state)
        {
            juce::Graphics g (image);
            knob.paintEntireComponent (g, false);
            selector.paintEntireComponent (g, false);
            glitchSwitch.paintEntireComponent (g, false);
            benchmark::DoNotOptimize (image.getPixelAt (40, 40));
        }

        for (juce::Component* c : { (juce::Component*) &knob, (juce::Component*) &selector, (juce::Component*) &glitchSwitch })
            c->setLookAndFeel (nullptr);
    }
}

BENCHMARK (glitchGridPaint)->Unit (benchmark::kMicrosecond);
BENCHMARK (waveformDisplayPaint)->Unit (benchmark::kMicrosecond);
BENCHMARK (levelMeterPaint)->Unit (benchmark::kMicrosecond);
BENCHMARK (crtOverlayPaint)->Unit (benchmark::kMicrosecond);
BENCHMARK (lookAndFeelWidgetsPaint)->Unit (benchmark::kMicrosecond);
