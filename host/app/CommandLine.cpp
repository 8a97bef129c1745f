#include "Commands.h"
#include "OutputFile.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>

const juce::StringArray& CommandLine::flagNames()
{
    static const juce::StringArray names { "playing", "no-playhead", "quiet", "help", "version" };
    return names;
}

CommandLine::CommandLine (const juce::StringArray& arguments)
{
    for (int i = 0; i < arguments.size(); ++i)
    {
        const auto& argument = arguments[i];

        if (argument.startsWith ("--"))
        {
            const auto name = argument.substring (2);
            if (name.contains ("="))
            {
                words.push_back ({ name.upToFirstOccurrenceOf ("=", false, false), name.fromFirstOccurrenceOf ("=", false, false), true });
                continue;
            }

            // An option takes the next word as its value unless that is another option; a single
            // dash is a value's sign (--tempo -5, --set output=-6 are values, not options).
            if (i + 1 < arguments.size() && ! arguments[i + 1].startsWith ("--") && ! flagNames().contains (name))
            {
                words.push_back ({ name, arguments[i + 1], true });
                ++i;
            }
            else
            {
                words.push_back ({ name, {}, false });
            }
        }
        else if (bundle.isEmpty())
        {
            bundle = argument;
        }
        else
        {
            words.push_back ({ {}, argument, true });
        }
    }
}

bool CommandLine::has (const juce::String& flag) const
{
    for (const auto& word : words)
        if (word.name == flag && ! word.hasValue)
            return true;
    return false;
}

juce::String CommandLine::get (const juce::String& option, const juce::String& fallback) const
{
    for (auto word = words.rbegin(); word != words.rend(); ++word)
        if (word->name == option && word->hasValue)
            return word->value;
    return fallback;
}

juce::StringArray CommandLine::getAll (const juce::String& option) const
{
    juce::StringArray result;
    for (const auto& word : words)
        if (word.name == option && word.hasValue)
            result.add (word.value);
    return result;
}

namespace
{
    /** The whole text as a finite decimal number (no hex, inf or nan), or false. */
    bool parseNumber (const juce::String& text, double& value)
    {
        if (text.isEmpty() || ! text.containsOnly ("0123456789.-+eE") || ! text.containsAnyOf ("0123456789"))
            return false;
        const auto utf8 = text.toStdString();
        char* end = nullptr;
        errno = 0;
        value = std::strtod (utf8.c_str(), &end);
        return end == utf8.c_str() + utf8.size() && errno != ERANGE && std::isfinite (value);
    }
}

double CommandLine::getNumber (const juce::String& option, double fallback, double minimum, double maximum,
                               juce::String& error) const
{
    const auto text = get (option).trim();
    if (text.isEmpty())
        return fallback;

    double value = 0.0;
    if (! parseNumber (text, value) || value < minimum || value > maximum)
    {
        error = "--" + option + " wants a number from " + juce::String (minimum) + " to " + juce::String (maximum)
              + ", not \"" + text + "\"";
        return fallback;
    }
    return value;
}

int CommandLine::getWholeNumber (const juce::String& option, int fallback, int minimum, int maximum, juce::String& error) const
{
    const auto text = get (option).trim();
    if (text.isEmpty())
        return fallback;

    double value = 0.0;
    if (! parseNumber (text, value) || std::abs (value - std::round (value)) > 0.0 || value < minimum || value > maximum)
    {
        error = "--" + option + " wants a whole number from " + juce::String (minimum) + " to " + juce::String (maximum)
              + ", not \"" + text + "\"";
        return fallback;
    }
    return (int) value;
}

juce::String CommandLine::findProblem (const juce::StringArray& valueOptions, const juce::StringArray& flags) const
{
    for (const auto& word : words)
    {
        if (word.name.isEmpty())
            return "unexpected argument \"" + word.value + "\" (the bundle is \"" + bundle + "\")";
        if (valueOptions.contains (word.name))
        {
            // An empty value ("--out ''") would quietly mean the option's default.
            if (! word.hasValue || word.value.trim().isEmpty())
                return "--" + word.name + " is missing its value";
        }
        else if (flags.contains (word.name))
        {
            if (word.hasValue)
                return "--" + word.name + " takes no value";
        }
        else
        {
            return "unknown option --" + word.name;
        }
    }
    return {};
}

//==============================================================================
juce::uint32 vstIdForIdentifier (const juce::String& identifier)
{
    juce::uint32 hash = 0;
    for (auto p = identifier.getCharPointer(); ! p.isEmpty();)
        hash = 31u * hash + (juce::uint32) p.getAndAdvance();
    return hash & 0x7fffffffu;
}

namespace
{
    juce::AudioProcessorParameter* resolveParameter (PluginHost& host, const juce::String& key)
    {
        if (key.containsOnly ("0123456789") && key.isNotEmpty())
            if (auto* byNumber = host.findParameter ((juce::uint32) key.getLargeIntValue()))
                return byNumber;

        if (auto* byIdentifier = host.findParameter (vstIdForIdentifier (key)))
            return byIdentifier;

        return host.findParameterByName (key);
    }

    bool isNumber (const juce::String& text)
    {
        return text.isNotEmpty() && text.containsOnly ("0123456789.-+eE") && text.containsAnyOf ("0123456789");
    }
}

bool applyParameterSetting (PluginHost& host, const juce::String& setting, juce::String& error)
{
    if (! setting.contains ("="))
    {
        error = "--set wants KEY=VALUE, not \"" + setting + "\"";
        return false;
    }

    const auto key = setting.upToFirstOccurrenceOf ("=", false, false).trim();
    auto valueText = setting.fromFirstOccurrenceOf ("=", false, false).trim();
    if (valueText.isEmpty())
    {
        error = "--set \"" + setting + "\" is missing its value";
        return false;
    }
    auto* parameter = resolveParameter (host, key);
    if (parameter == nullptr)
    {
        error = "no parameter \"" + key + "\"";
        return false;
    }

    float normalised = 0.0f;
    const int steps = parameter->getNumSteps();
    const bool stepped = parameter->isDiscrete() && steps > 1 && steps <= 256;

    if (valueText.endsWithIgnoreCase ("n") && isNumber (valueText.dropLastCharacters (1)))
    {
        double value = 0.0;
        if (! parseNumber (valueText.dropLastCharacters (1), value) || value < 0.0 || value > 1.0)
        {
            error = "\"" + key + "\": normalised value out of 0..1: \"" + valueText + "\"";
            return false;
        }
        normalised = (float) value;
    }
    else if (stepped)
    {
        juce::StringArray choices;
        for (int step = 0; step < steps; ++step)
            choices.add (parameter->getText ((float) step / (float) (steps - 1), 1024));

        int found = -1;
        if (valueText.containsOnly ("0123456789") && valueText.isNotEmpty())
            found = valueText.length() < 9 && valueText.getIntValue() < steps ? valueText.getIntValue() : -1;
        else
            for (int step = 0; step < steps && found < 0; ++step)
                if (choices[step].equalsIgnoreCase (valueText))
                    found = step;

        if (found < 0)
        {
            error = "\"" + key + "\" has choices 0 to " + juce::String (steps - 1) + " (" + choices.joinIntoString (", ")
                  + "), not \"" + valueText + "\"";
            return false;
        }
        normalised = (float) found / (float) (steps - 1);
    }
    else
    {
        if (! isNumber (valueText))
        {
            error = "\"" + valueText + "\" is not a number";
            return false;
        }
        // The plug-in's texts at the two ends give its range in its own units; its conversion
        // would pull a value outside them to the nearer end without a word.
        double value = 0.0, low = 0.0, high = 0.0;
        const auto lowText = parameter->getText (0.0f, 1024).trim(), highText = parameter->getText (1.0f, 1024).trim();
        const bool hasRange = parseNumber (lowText, low) && parseNumber (highText, high);
        const auto slack = 1.0e-9 * std::abs (high - low);
        if (! parseNumber (valueText, value)
            || (hasRange && (value < juce::jmin (low, high) - slack || value > juce::jmax (low, high) + slack)))
        {
            const auto unit = parameter->getLabel().isNotEmpty() ? " " + parameter->getLabel() : juce::String();
            error = "\"" + key + "\" takes " + (hasRange ? lowText + " to " + highText + unit : juce::String ("a finite number"))
                  + ", not \"" + valueText + "\"";
            return false;
        }

        // The plug-in converts its own units through its edit controller.
        normalised = parameter->getValueForText (valueText);
        if (! std::isfinite (normalised) || normalised < 0.0f || normalised > 1.0f)
        {
            error = "the plug-in could not convert \"" + valueText + "\"";
            return false;
        }
    }

    host.setParameter (PluginHost::getVstId (*parameter), normalised);
    return true;
}

bool applyParameterSettings (PluginHost& host, const CommandLine& commandLine, const char* command)
{
    for (const auto& setting : commandLine.getAll ("set"))
    {
        juce::String error;
        if (! applyParameterSetting (host, setting, error))
        {
            std::fprintf (stderr, "zandor-host %s: %s\n", command, error.toRawUTF8());
            return false;
        }
    }
    return true;
}

bool applyChannelCount (PluginHost& host, int channels)
{
    const auto set = channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
    if (host.getNumChannels() == channels)
        return true;
    return host.setLayout (set, set);
}

//==============================================================================
namespace
{
    std::atomic<bool> reportOnStandardError { false };
}

void report (const char* format, ...)
{
    auto* stream = reportOnStandardError ? stderr : stdout;
    std::va_list arguments;
    va_start (arguments, format);
    std::vfprintf (stream, format, arguments);
    va_end (arguments);
    std::fflush (stream);
}

void reportToStandardError()
{
    std::fflush (stdout);
    reportOnStandardError = true;
}

bool prepareOutputs (const CommandLine& commandLine, const juce::StringArray& outputOptions, const char* command)
{
    const auto cwd = juce::File::getCurrentWorkingDirectory();
    juce::StringArray given;
    juce::Array<juce::File> files;
    for (const auto& option : outputOptions)
    {
        const auto path = commandLine.get (option);
        if (path.isEmpty())
            continue;
        given.add (option);
        files.add (cwd.getChildFile (path));

        // The file path would lose these endings, and a file be made where a folder was meant.
        for (const char* ending : { "/", "/.", "/.." })
        {
            if (path.endsWith (ending) && ! files.getLast().isDirectory())
            {
                std::fprintf (stderr, "zandor-host %s: cannot write %s: a path ending in \"%s\" names a folder, and there is none\n",
                              command, path.toRawUTF8(), ending);
                return false;
            }
        }
    }

    for (int i = 0; i < files.size(); ++i)
    {
        juce::String error;
        if (! checkOutputFile (files[i], error))
        {
            std::fprintf (stderr, "zandor-host %s: %s\n", command, error.toRawUTF8());
            return false;
        }
    }

    // A file or pipe holds one output whole, or the bytes of two run into each other (or one
    // replaces the other).
    bool toStandardOutput = false;
    for (int i = 0; i < files.size(); ++i)
    {
        toStandardOutput = toStandardOutput || isStandardOutput (files[i]);
        for (int j = 0; j < i; ++j)
        {
            if (! nameTheSameOutput (files[j], files[i]))
                continue;
            if (isStandardOutput (files[i]))
                std::fprintf (stderr, "zandor-host %s: --%s and --%s both name standard output, which can hold only one of them\n",
                              command, given[j].toRawUTF8(), given[i].toRawUTF8());
            else
                std::fprintf (stderr, "zandor-host %s: --%s and --%s both name %s, which can hold only one of them\n",
                              command, given[j].toRawUTF8(), given[i].toRawUTF8(), files[i].getFullPathName().toRawUTF8());
            return false;
        }
    }

    if (toStandardOutput)
        reportToStandardError();
    return true;
}
