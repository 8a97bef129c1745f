#pragma once

#include <juce_core/juce_core.h>

#include <vector>

/** One class as the module's factory describes it. */
struct FactoryClassInfo
{
    juce::String classId;          // 32 hex digits
    juce::String category;
    juce::String name;
    int cardinality = 0;
    juce::String subCategories;    // empty when the factory is older than IPluginFactory2
    juce::String vendor;
    juce::String version;
    juce::String sdkVersion;
    juce::uint32 classFlags = 0;
};

/** What the raw VST3 factory of a module reports, read through IPluginFactory/2/3 only. */
struct FactoryInfo
{
    juce::String vendor;
    juce::String url;
    juce::String email;
    juce::int32 flags = 0;
    int factoryVersion = 1;        // highest IPluginFactoryN the factory answers to
    std::vector<FactoryClassInfo> classes;
};

/** Returns the shared object inside a bundle (the .so under Contents/x86_64-linux), or a plain .so as given. */
juce::File findModuleBinary (const juce::File& bundleOrBinary);

/** Finds the module binary of a bundle (or takes a plain .so) and checks it before anything maps
    it: a bundle whose .so is not named after it, or a file cut short of what its ELF headers
    describe, is refused with a message saying so, since a host would not find the first and
    loading the second dies of SIGBUS. Sets binary to the checked file when it returns true. */
bool checkModuleBinary (const juce::File& bundleOrBinary, juce::File& binary, juce::String& error);

/** Opens the module with dlopen, calls ModuleEntry and GetPluginFactory, reads the factory,
    releases it and calls ModuleExit. Returns false and sets error when any step fails. */
bool readFactoryInfo (const juce::File& bundle, FactoryInfo& info, juce::String& error);
