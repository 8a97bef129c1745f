#include "Commands.h"

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
                values.add ({ name.upToFirstOccurrenceOf ("=", false, false), name.fromFirstOccurrenceOf ("=", false, false) });
                continue;
            }

            // An option takes the next word as its value unless that is another option.
            if (i + 1 < arguments.size() && ! arguments[i + 1].startsWith ("--")
                && ! juce::StringArray ({ "playing", "no-playhead", "help", "quiet" }).contains (name))
            {
                values.add ({ name, arguments[i + 1] });
                ++i;
            }
            else
            {
                flags.add (name);
            }
        }
        else if (bundle.isEmpty())
        {
            bundle = argument;
        }
        else
        {
            flags.add ("<extra:" + argument + ">");
        }
    }
}

juce::String CommandLine::get (const juce::String& option, const juce::String& fallback) const
{
    for (int i = values.size(); --i >= 0;)
        if (values.getReference (i).first == option)
            return values.getReference (i).second;
    return fallback;
}

juce::StringArray CommandLine::getAll (const juce::String& option) const
{
    juce::StringArray result;
    for (const auto& value : values)
        if (value.first == option)
            result.add (value.second);
    return result;
}

double CommandLine::getNumber (const juce::String& option, double fallback, double minimum, double maximum,
                               juce::String& error) const
{
    const auto text = get (option).trim();
    if (text.isEmpty())
        return fallback;

    const auto value = text.getDoubleValue();
    if (! text.containsOnly ("0123456789.-+eE") || ! std::isfinite (value) || value < minimum || value > maximum)
    {
        error = "--" + option + " wants a number from " + juce::String (minimum) + " to " + juce::String (maximum)
              + ", not \"" + text + "\"";
        return fallback;
    }
    return value;
}

juce::StringArray CommandLine::findUnknown (const juce::StringArray& allowedOptions, const juce::StringArray& allowedFlags) const
{
    juce::StringArray unknown;
    for (const auto& value : values)
        if (! allowedOptions.contains (value.first))
            unknown.add ("--" + value.first);
    for (const auto& flag : flags)
        if (! allowedFlags.contains (flag))
            unknown.add (flag.startsWith ("<extra:") ? flag.fromFirstOccurrenceOf (":", false, false).dropLastCharacters (1)
                                                     : "--" + flag);
    return unknown;
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
        normalised = (float) valueText.dropLastCharacters (1).getDoubleValue();
        if (! std::isfinite (normalised) || normalised < 0.0f || normalised > 1.0f)
        {
            error = "normalised value out of 0..1: \"" + valueText + "\"";
            return false;
        }
    }
    else if (stepped && valueText.containsOnly ("0123456789") && valueText.isNotEmpty())
    {
        const auto index = valueText.getIntValue();
        if (index < 0 || index >= steps)
        {
            error = "\"" + key + "\" has choices 0 to " + juce::String (steps - 1);
            return false;
        }
        normalised = (float) index / (float) (steps - 1);
    }
    else if (stepped)
    {
        int found = -1;
        for (int step = 0; step < steps && found < 0; ++step)
            if (parameter->getText ((float) step / (float) (steps - 1), 1024).equalsIgnoreCase (valueText))
                found = step;

        if (found < 0)
        {
            error = "\"" + valueText + "\" is not a choice of \"" + key + "\"";
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
        // The plug-in converts its own units through its edit controller.
        normalised = parameter->getValueForText (valueText);
        if (! std::isfinite (normalised))
        {
            error = "the plug-in could not convert \"" + valueText + "\"";
            return false;
        }
    }

    host.setParameter (PluginHost::getVstId (*parameter), juce::jlimit (0.0f, 1.0f, normalised));
    return true;
}

bool applyParameterSettings (PluginHost& host, const CommandLine& commandLine)
{
    for (const auto& setting : commandLine.getAll ("set"))
    {
        juce::String error;
        if (! applyParameterSetting (host, setting, error))
        {
            std::fprintf (stderr, "zandor-host: %s\n", error.toRawUTF8());
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
