#include "BrellDistortionProcessor.h"

#include <benchmark/benchmark.h>

#include <string>

// A load and the save after it, for an ordinary state beside the costliest states a project
// could hold: the largest the loader takes, and large ones it refuses.
namespace
{
std::string ordinaryText()
{
    BrellDistortionProcessor proc;
    juce::MemoryBlock block;
    proc.getStateInformation (block);
    return std::string (static_cast<const char*> (block.getData()) + 8, block.getSize() - 9);
}

juce::MemoryBlock wrap (const std::string& text)
{
    juce::MemoryOutputStream out;
    out.writeInt (0x21324356);
    out.writeInt ((int) text.size());
    out.write (text.data(), text.size());
    out.writeByte (0);
    return out.getMemoryBlock();
}

std::string withBeforeEnd (const std::string& extra)
{
    auto text = ordinaryText();
    text.insert (text.rfind ("</Parameters>"), extra);
    return text;
}

std::string attributes (const std::string& prefix, int count)
{
    std::string s;
    for (int i = 0; i < count; ++i)
        s += " " + prefix + std::to_string (i) + "=''";
    return s;
}

// Elements of 64 attributes each, as many as fit the loader's 64 KiB.
std::string largestTaken()
{
    const auto base = ordinaryText();
    std::string junk;
    for (int k = 0;; ++k)
    {
        const auto element = "<x" + attributes ("e" + std::to_string (k) + "_", 64) + "/>";
        if (base.size() + junk.size() + element.size() > 64 * 1024)
            break;
        junk += element;
    }
    return withBeforeEnd (junk);
}

void runLoadAndSave (benchmark::State& state, const std::string& text)
{
    BrellDistortionProcessor proc;
    const auto bytes = wrap (text);
    juce::MemoryBlock saved;

    for (auto _ : state)
    {
        proc.setStateInformation (bytes.getData(), (int) bytes.getSize());
        proc.getStateInformation (saved);
        benchmark::DoNotOptimize (saved.getData());
    }

    state.counters["state_bytes"] = (double) bytes.getSize();
    state.counters["saved_bytes"] = (double) saved.getSize();
}

void stateOrdinary (benchmark::State& state)           { runLoadAndSave (state, ordinaryText()); }
void stateLargestTaken (benchmark::State& state)       { runLoadAndSave (state, largestTaken()); }
void stateHexReferences30000 (benchmark::State& state)
{
    std::string refs;
    for (int i = 0; i < 30000; ++i)
        refs += "&#x41;";
    runLoadAndSave (state, withBeforeEnd ("<x a=\"" + refs + "\"/>"));
}
void stateAttributes30000OnAChild (benchmark::State& state) { runLoadAndSave (state, withBeforeEnd ("<x" + attributes ("a", 30000) + "/>")); }
void stateAttributes100000OnAChild (benchmark::State& state) { runLoadAndSave (state, withBeforeEnd ("<x" + attributes ("a", 100000) + "/>")); }
}

BENCHMARK (stateOrdinary)->Unit (benchmark::kMicrosecond);
BENCHMARK (stateLargestTaken)->Unit (benchmark::kMicrosecond);
BENCHMARK (stateHexReferences30000)->Unit (benchmark::kMicrosecond);
BENCHMARK (stateAttributes30000OnAChild)->Unit (benchmark::kMicrosecond);
BENCHMARK (stateAttributes100000OnAChild)->Unit (benchmark::kMicrosecond);
