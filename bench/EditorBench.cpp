#include "BrellDistortionEditor.h"

#include <benchmark/benchmark.h>

#include <cmath>

// One frame of the open editor: every child, the CRT overlay included, painted at 820 x 700
// with the software renderer, as happens about 30 times a second while the editor is open.
namespace
{
void fillDisplayedData (BrellDistortionProcessor& proc)
{
    for (int i = 0; i < ScopeBuffer::size; ++i)
        proc.scopeBuffer.samples[(size_t) i].store (0.8f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * i / 64.0));

    for (int row = 0; row < GlitchPattern::numRows; ++row)
        proc.glitchPattern.set (row, row * 3, 3);

    proc.currentStep.store (4);
    proc.activeMask.store (0b00110);
    proc.meterLevels.inputLeft.store (0.2f);
    proc.meterLevels.inputRight.store (0.15f);
    proc.meterLevels.outputLeft.store (0.3f);
    proc.meterLevels.outputRight.store (0.25f);
}

void paintWholeEditor (benchmark::State& state)
{
    BrellDistortionProcessor proc;
    fillDisplayedData (proc);

    BrellDistortionEditor editor (proc);
    editor.setVisible (true);
    editor.timerCallback();   // hand the levels to the meters

    juce::Image frame (juce::Image::ARGB, editor.getWidth(), editor.getHeight(), true, juce::SoftwareImageType());

    for (auto _ : state)
    {
        juce::Graphics g (frame);
        editor.paintEntireComponent (g, false);
        benchmark::DoNotOptimize (frame.getPixelAt (410, 350));
    }
}

// The editor's own background, header, title glow and footer, without any child.
void paintEditorBackground (benchmark::State& state)
{
    BrellDistortionProcessor proc;
    BrellDistortionEditor editor (proc);

    juce::Image frame (juce::Image::ARGB, editor.getWidth(), editor.getHeight(), true, juce::SoftwareImageType());

    for (auto _ : state)
    {
        juce::Graphics g (frame);
        editor.paint (g);
        benchmark::DoNotOptimize (frame.getPixelAt (410, 30));
    }
}
}

BENCHMARK (paintWholeEditor)->Unit (benchmark::kMillisecond);
BENCHMARK (paintEditorBackground)->Unit (benchmark::kMillisecond);
