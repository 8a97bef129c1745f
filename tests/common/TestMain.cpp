#include <juce_events/juce_events.h>
#include <gtest/gtest.h>

// One JUCE initialiser for the whole run: the message manager and the leak detectors
// must outlive every test.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    juce::ScopedJuceInitialiser_GUI juceInit;
    return RUN_ALL_TESTS();
}
