#include "Commands.h"

#include "ModuleFactory.h"

namespace
{
    void print (const juce::String& line)
    {
        report ("%s\n", line.toRawUTF8());
    }

    juce::String quoted (const juce::String& text)
    {
        return "\"" + text + "\"";
    }

    juce::String describeSet (const juce::AudioChannelSet& set)
    {
        if (set.isDisabled())
            return "disabled";
        return set.getDescription() + " (" + juce::String (set.size()) + " ch)";
    }

    juce::String yesNo (bool value)   { return value ? "yes" : "no"; }
}

int runInfo (const CommandLine& commandLine)
{
    const auto problem = commandLine.findProblem ({ "rate", "block" }, {});
    if (problem.isNotEmpty())
    {
        std::fprintf (stderr, "zandor-host info: %s\n", problem.toRawUTF8());
        return 1;
    }

    // Every argument is checked before the first line of information.
    juce::String parseError;
    const auto rate = commandLine.getNumber ("rate", 48000.0, 8000.0, 384000.0, parseError);
    const auto block = commandLine.getWholeNumber ("block", 512, 1, 65536, parseError);
    if (parseError.isNotEmpty())
    {
        std::fprintf (stderr, "zandor-host info: %s\n", parseError.toRawUTF8());
        return 1;
    }

    const juce::File bundle (juce::File::getCurrentWorkingDirectory().getChildFile (commandLine.getBundle()));
    FactoryInfo factory;
    juce::String error;
    if (! readFactoryInfo (bundle, factory, error))
    {
        std::fprintf (stderr, "zandor-host info: %s\n", error.toRawUTF8());
        return 2;
    }

    print ("module: " + findModuleBinary (bundle).getFullPathName());
    print ("factory: IPluginFactory" + (factory.factoryVersion > 1 ? juce::String (factory.factoryVersion) : juce::String()));
    print ("vendor: " + quoted (factory.vendor));
    print ("url: " + quoted (factory.url));
    print ("email: " + quoted (factory.email));
    print ("flags: " + juce::String (factory.flags));
    print ("classes: " + juce::String ((int) factory.classes.size()));
    for (size_t i = 0; i < factory.classes.size(); ++i)
    {
        const auto& c = factory.classes[i];
        print ("class " + juce::String ((int) i) + ": name " + quoted (c.name) + ", category " + quoted (c.category)
               + ", sub-categories " + quoted (c.subCategories) + ", version " + quoted (c.version)
               + ", sdk " + quoted (c.sdkVersion) + ", vendor " + quoted (c.vendor) + ", cid " + c.classId);
    }

    auto host = PluginHost::load (bundle, rate, block, error);
    if (host == nullptr)
    {
        std::fprintf (stderr, "zandor-host info: %s\n", error.toRawUTF8());
        return 2;
    }

    auto& instance = host->getInstance();
    print ("plug-in: " + quoted (instance.getName()));

    for (const bool isInput : { true, false })
    {
        for (int i = 0; i < instance.getBusCount (isInput); ++i)
        {
            const auto* bus = instance.getBus (isInput, i);
            print (juce::String (isInput ? "input" : "output") + " bus " + juce::String (i) + ": " + quoted (bus->getName())
                   + ", " + describeSet (bus->getCurrentLayout()) + ", default " + describeSet (bus->getDefaultLayout()));
        }
    }

    struct Candidate { const char* label; juce::AudioChannelSet in, out; };
    const Candidate candidates[] = {
        { "mono/mono", juce::AudioChannelSet::mono(), juce::AudioChannelSet::mono() },
        { "stereo/stereo", juce::AudioChannelSet::stereo(), juce::AudioChannelSet::stereo() },
        { "mono/stereo", juce::AudioChannelSet::mono(), juce::AudioChannelSet::stereo() },
        { "stereo/mono", juce::AudioChannelSet::stereo(), juce::AudioChannelSet::mono() },
        { "LCR/LCR", juce::AudioChannelSet::createLCR(), juce::AudioChannelSet::createLCR() },
        { "quadraphonic/quadraphonic", juce::AudioChannelSet::quadraphonic(), juce::AudioChannelSet::quadraphonic() },
        { "5.1/5.1", juce::AudioChannelSet::create5point1(), juce::AudioChannelSet::create5point1() },
        { "7.1/7.1", juce::AudioChannelSet::create7point1(), juce::AudioChannelSet::create7point1() },
    };
    for (const auto& candidate : candidates)
        print (juce::String ("layout ") + candidate.label + ": "
               + (host->supportsLayout (candidate.in, candidate.out) ? "accepted" : "refused"));

    print ("midi input: " + yesNo (instance.acceptsMidi()));
    print ("midi output: " + yesNo (instance.producesMidi()));
    host->prepare();
    print ("latency: " + juce::String (instance.getLatencySamples()) + " samples");
    print ("tail: " + juce::String (instance.getTailLengthSeconds()) + " s");
    print ("programs: " + juce::String (host->getNumPrograms()));
    print ("editor: " + yesNo (instance.hasEditor()));

    const auto parameters = host->getParameters();
    print ("parameters: " + juce::String ((int) parameters.size()));
    for (const auto& p : parameters)
    {
        juce::String range;
        if (! p.stepTexts.isEmpty())
            range = "choices " + p.stepTexts.joinIntoString (" | ");
        else
            range = "range " + quoted (p.minText) + " .. " + quoted (p.maxText);

        print ("param " + juce::String (p.index) + ": id " + juce::String (p.vstId) + ", name " + quoted (p.name)
               + ", default " + juce::String (p.defaultValue, 6) + " " + quoted (p.defaultText)
               + ", steps " + (p.discrete ? juce::String (p.numSteps) : juce::String ("continuous"))
               + ", " + range + (p.label.isNotEmpty() ? ", unit " + quoted (p.label) : juce::String()));
    }

    host->release();
    return 0;
}
