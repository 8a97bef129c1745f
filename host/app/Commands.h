#pragma once

#include "PluginHost.h"

#include <juce_core/juce_core.h>

#include <vector>

/** The options after the command word, in the order given. */
class CommandLine
{
public:
    CommandLine (const juce::StringArray& arguments);

    juce::String getBundle() const                  { return bundle; }
    bool has (const juce::String& flag) const;
    juce::String get (const juce::String& option, const juce::String& fallback = {}) const;
    juce::StringArray getAll (const juce::String& option) const;

    /** Numeric option; sets error when present but not a number in range. */
    double getNumber (const juce::String& option, double fallback, double minimum, double maximum, juce::String& error) const;
    /** As getNumber, for options that count something and so take whole numbers only. */
    int getWholeNumber (const juce::String& option, int fallback, int minimum, int maximum, juce::String& error) const;

    /** The first word, in the order given, that the command cannot take: an unknown option, an
        option that lacks its value, a flag given a value or a stray word. Empty when all is well. */
    juce::String findProblem (const juce::StringArray& valueOptions, const juce::StringArray& flagNames) const;

    /** Words that never take the next word as a value. */
    static const juce::StringArray& flagNames();

private:
    struct Word
    {
        juce::String name, value;    // name is empty for a stray word, held in value
        bool hasValue = false;
    };

    juce::String bundle;
    std::vector<Word> words;
};

/** JUCE's VST3 parameter id for a parameter identifier string: h = 31 h + c, top bit cleared. */
juce::uint32 vstIdForIdentifier (const juce::String& identifier);

/** Applies one "--set KEY=VALUE" to a loaded plug-in; sets error and returns false when it cannot. */
bool applyParameterSetting (PluginHost& host, const juce::String& setting, juce::String& error);

/** Applies every --set option in order; prints the first problem and returns false if one fails. */
bool applyParameterSettings (PluginHost& host, const CommandLine& commandLine, const char* command);

/** Puts the plug-in's main buses to one or two channels. */
bool applyChannelCount (PluginHost& host, int channels);

/** Prints one report line (printf style): to standard output, or to standard error once
    reportToStandardError has been called, so that an output written to standard output stays
    only that. Thread-safe, and flushed at once. */
void report (const char* format, ...) __attribute__ ((format (printf, 1, 2)));
void reportToStandardError();

/** Checks every output path these options name before anything is made, so that a run that
    cannot write one of them writes none; and, if one is standard output, sends the report to
    standard error. Prints the problem and returns false when there is one. */
bool prepareOutputs (const CommandLine&, const juce::StringArray& outputOptions, const char* command);

int runInfo (const CommandLine&);
int runRender (const CommandLine&);
int runEditor (const CommandLine&);

void printUsage();
