#include "BrellDistortionProcessor.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

// The whole processBlock with the glitch stage off, beside the same block with all five rows
// sounding, so the difference is what the glitch stage costs on top of the chain.
namespace
{
constexpr double benchRate = 48000.0;
constexpr int benchBlock = 512;

std::unique_ptr<BrellDistortionProcessor> makeProcessor (bool glitchOn)
{
    auto proc = std::make_unique<BrellDistortionProcessor>();

    auto* glitchSwitch = proc->apvts.getParameter ("glitchOn");
    glitchSwitch->setValueNotifyingHost (glitchOn ? 1.0f : 0.0f);

    // One block over the whole row for every effect: all five sound on every block.
    for (int row = 0; row < GlitchPattern::numRows; ++row)
        proc->glitchPattern.set (row, 0, GlitchPattern::numSteps);

    proc->prepareToPlay (benchRate, benchBlock);
    return proc;
}

void fillSignal (juce::AudioBuffer<float>& buffer, int& phase)
{
    for (int i = 0; i < buffer.getNumSamples(); ++i, ++phase)
    {
        const auto t = (double) phase / benchRate;
        buffer.setSample (0, i, 0.7f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 220.0 * t));
        buffer.setSample (1, i, 0.7f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 331.0 * t));
    }
}

void runProcessBlock (benchmark::State& state, bool glitchOn)
{
    auto proc = makeProcessor (glitchOn);

    juce::AudioBuffer<float> source (2, benchBlock);
    juce::AudioBuffer<float> buffer (2, benchBlock);
    juce::MidiBuffer midi;
    int phase = 0;
    fillSignal (source, phase);

    for (auto _ : state)
    {
        buffer.makeCopyOf (source, true);
        proc->processBlock (buffer, midi);
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
        benchmark::ClobberMemory();
    }

    state.SetItemsProcessed ((int64_t) state.iterations() * benchBlock);
    state.counters["activeMask"] = (double) proc->activeMask.load();
}

void BM_ProcessBlockGlitchOff (benchmark::State& state)      { runProcessBlock (state, false); }
void BM_ProcessBlockGlitchAllRows (benchmark::State& state)  { runProcessBlock (state, true); }
} // namespace

BENCHMARK (BM_ProcessBlockGlitchOff);
BENCHMARK (BM_ProcessBlockGlitchAllRows);
