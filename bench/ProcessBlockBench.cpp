// processBlock at 48 kHz, stereo, 512-sample blocks, for each shaping mode (glitch off),
// beside JUCE's bare 4x oversampling up and down pass on the same block. Each run reports its
// real-time factor ("realtime_x"); each mode also reports "ratio_to_bare", its time per block
// over the bare pass's, both timed in alternating rounds in the same run (best round of each).

#include "BrellDistortionProcessor.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <chrono>
#include <algorithm>

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 512;
constexpr double blockSeconds = blockSize / sampleRate;
const char* const modeNames[] = { "HARD CLIP", "SOFT CLIP", "BITCRUSH", "FOLDBACK" };

juce::AudioBuffer<float> makeInput()
{
    juce::AudioBuffer<float> input (2, blockSize);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < blockSize; ++i)
            input.setSample (ch, i, 0.7f * (float) std::sin (0.031 * (ch + 1) * i) + 0.05f * (float) std::sin (0.9 * i));
    return input;
}

void setRealTimeFactor (benchmark::State& state)
{
    state.counters["realtime_x"] = benchmark::Counter (blockSeconds, benchmark::Counter::kIsIterationInvariantRate);
}

/** The processor's oversampler configuration, bare: one up and one down pass per block. */
struct BarePass
{
    BarePass() { oversampler.initProcessing ((size_t) blockSize); }

    void run (juce::AudioBuffer<float>& buffer, const juce::AudioBuffer<float>& input)
    {
        buffer.copyFrom (0, 0, input, 0, 0, blockSize);
        buffer.copyFrom (1, 0, input, 1, 0, blockSize);
        juce::dsp::AudioBlock<float> block (buffer);
        auto up = oversampler.processSamplesUp (block);
        benchmark::DoNotOptimize (up.getChannelPointer (0));
        oversampler.processSamplesDown (block);
        benchmark::ClobberMemory();
    }

    juce::dsp::Oversampling<float> oversampler { 2, 2, juce::dsp::Oversampling<float>::filterHalfBandPolyphaseIIR, true, false };
};

template <typename Body>
double bestSecondsPerBlock (Body&& body, int blocks)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < blocks; ++i)
        body();
    return std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count() / blocks;
}

void bareOversampling (benchmark::State& state)
{
    juce::ScopedNoDenormals noDenormals;
    BarePass bare;
    const auto input = makeInput();
    juce::AudioBuffer<float> buffer (2, blockSize);

    for (auto _ : state)
        bare.run (buffer, input);

    setRealTimeFactor (state);
}

void processBlockInMode (benchmark::State& state)
{
    const int mode = (int) state.range (0);
    state.SetLabel (modeNames[mode]);

    auto proc = std::make_unique<BrellDistortionProcessor>();
    auto* modeParameter = proc->apvts.getParameter ("mode");
    modeParameter->setValueNotifyingHost (modeParameter->convertTo0to1 ((float) mode));
    proc->prepareToPlay (sampleRate, blockSize);

    const auto input = makeInput();
    juce::AudioBuffer<float> buffer (2, blockSize);
    juce::MidiBuffer midi;

    const auto processOnce = [&]
    {
        buffer.copyFrom (0, 0, input, 0, 0, blockSize);
        buffer.copyFrom (1, 0, input, 1, 0, blockSize);
        proc->processBlock (buffer, midi);
        benchmark::ClobberMemory();
    };

    for (auto _ : state)
        processOnce();

    setRealTimeFactor (state);

    // The ratio to the bare pass, from alternating rounds so both see the same machine state.
    juce::ScopedNoDenormals noDenormals;
    BarePass bare;
    juce::AudioBuffer<float> bareBuffer (2, blockSize);
    double bestProcess = 1.0e9, bestBare = 1.0e9;

    for (int round = 0; round < 7; ++round)
    {
        bestBare = std::min (bestBare, bestSecondsPerBlock ([&] { bare.run (bareBuffer, input); }, 500));
        bestProcess = std::min (bestProcess, bestSecondsPerBlock (processOnce, 500));
    }

    state.counters["ratio_to_bare"] = bestProcess / bestBare;
}

} // namespace

BENCHMARK (bareOversampling);
BENCHMARK (processBlockInMode)->DenseRange (0, 3);
