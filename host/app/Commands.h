#pragma once

#include "PluginHost.h"

#include <juce_core/juce_core.h>

/** The options after the command word, with the flags each command knows. */
class CommandLine
{
public:
    CommandLine (const juce::StringArray& arguments);

    juce::String getBundle() const                  { return bundle; }
    bool has (const juce::String& flag) const       { return flags.contains (flag); }
    juce::String get (const juce::String& option, const juce::String& fallback = {}) const;
    juce::StringArray getAll (const juce::String& option) const;

    /** Numeric option; sets error when present but not a number in range. */
    double getNumber (const juce::String& option, double fallback, double minimum, double maximum, juce::String& error) const;

    /** Options or flags that none of the allowed names cover. */
    juce::StringArray findUnknown (const juce::StringArray& allowedOptions, const juce::StringArray& allowedFlags) const;

private:
    juce::String bundle;
    juce::StringArray flags;
    juce::Array<std::pair<juce::String, juce::String>> values;
};

/** JUCE's VST3 parameter id for a parameter identifier string: h = 31 h + c, top bit cleared. */
juce::uint32 vstIdForIdentifier (const juce::String& identifier);

/** Applies one "--set KEY=VALUE" to a loaded plug-in; sets error and returns false when it cannot. */
bool applyParameterSetting (PluginHost& host, const juce::String& setting, juce::String& error);

/** Applies every --set option in order, printing each applied value. */
bool applyParameterSettings (PluginHost& host, const CommandLine& commandLine);

/** Puts the plug-in's main buses to one or two channels. */
bool applyChannelCount (PluginHost& host, int channels);

int runInfo (const CommandLine&);
int runRender (const CommandLine&);
int runEditor (const CommandLine&);

void printUsage();
