#include <juce_events/juce_events.h>

#include <benchmark/benchmark.h>

// One JUCE initialiser for the whole run, as a host would have: the processors' parameter
// trees expect a message manager to exist.
int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juceInitialiser;

    benchmark::Initialize (&argc, argv);

    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
