#include "HostTestSupport.h"

#include "ModuleFactory.h"

using namespace hosttest;

TEST (ModuleHost, FactoryDescribesVendorAndThreeClassesInOrder)
{
    FactoryInfo info;
    juce::String error;
    ASSERT_TRUE (readFactoryInfo (bundleFile(), info, error)) << error;

    EXPECT_EQ (info.factoryVersion, 3);
    EXPECT_EQ (info.vendor, "ZandorPellumTessarine");
    EXPECT_EQ (info.url, "");
    EXPECT_EQ (info.email, "");

    struct Expected { const char* category; const char* subCategories; };
    const Expected expected[] = {
        { "Audio Module Class", "Fx" },
        { "Component Controller Class", "Fx" },
        { "Plugin Compatibility Class", nullptr },   // sub-categories are not part of this class's description
    };

    ASSERT_EQ (info.classes.size(), std::size (expected));
    for (size_t i = 0; i < info.classes.size(); ++i)
    {
        const auto& c = info.classes[i];
        SCOPED_TRACE (c.category.toStdString());
        EXPECT_EQ (c.name, "Zandor Pellum");
        EXPECT_EQ (c.category, expected[i].category);
        if (expected[i].subCategories != nullptr)
        {
            EXPECT_EQ (c.subCategories, expected[i].subCategories);
        }
        EXPECT_EQ (c.version, "1.0.0");
        EXPECT_EQ (c.sdkVersion, "VST 3.7.12");
        EXPECT_EQ (c.classId.length(), 32);
    }

    // Every class id is distinct and carries the manufacturer and plug-in codes.
    EXPECT_NE (info.classes[0].classId, info.classes[1].classId);
    EXPECT_NE (info.classes[1].classId, info.classes[2].classId);
    for (const auto& c : info.classes)
        EXPECT_TRUE (c.classId.endsWith (juce::String::toHexString ("KzrtKzpl", 8, 0).toUpperCase())) << c.classId;
}

TEST (ModuleHost, FactoryCanBeOpenedAgainWhileAnInstanceIsLoaded)
{
    auto host = loadPlugin();
    ASSERT_NE (host, nullptr);

    FactoryInfo info;
    juce::String error;
    ASSERT_TRUE (readFactoryInfo (bundleFile(), info, error)) << error;
    EXPECT_EQ (info.classes.size(), 3u);

    // The instance is unaffected by the second ModuleEntry/ModuleExit pair.
    auto block = makeSignal (2, 256, 48000.0);
    host->processBlock (block);
    EXPECT_TRUE (allFinite (block));
}

TEST (ModuleHost, MissingBundleIsReportedNotCrashed)
{
    FactoryInfo info;
    juce::String error;
    EXPECT_FALSE (readFactoryInfo (juce::File ("/nonexistent/Nothing.vst3"), info, error));
    EXPECT_TRUE (error.isNotEmpty());

    error = {};
    EXPECT_EQ (PluginHost::load (juce::File ("/nonexistent/Nothing.vst3"), 48000.0, 512, error), nullptr);
    EXPECT_TRUE (error.isNotEmpty());
}

TEST (ModuleHost, BusesMidiLatencyTailAndPrograms)
{
    auto host = loadPlugin();
    ASSERT_NE (host, nullptr);
    auto& instance = host->getInstance();

    ASSERT_EQ (instance.getBusCount (true), 1);
    ASSERT_EQ (instance.getBusCount (false), 1);
    EXPECT_EQ (instance.getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (instance.getBus (false, 0)->getName(), "Output");
    EXPECT_EQ (instance.getBus (true, 0)->getCurrentLayout(), juce::AudioChannelSet::stereo());
    EXPECT_EQ (instance.getBus (false, 0)->getCurrentLayout(), juce::AudioChannelSet::stereo());
    EXPECT_TRUE (instance.getBus (true, 0)->isEnabledByDefault());

    EXPECT_FALSE (instance.acceptsMidi());
    EXPECT_FALSE (instance.producesMidi());
    EXPECT_FALSE (instance.supportsDoublePrecisionProcessing());

    host->prepare();
    EXPECT_EQ (instance.getLatencySamples(), 0);
    EXPECT_EQ (instance.getTailLengthSeconds(), 0.0);
    EXPECT_EQ (host->getNumPrograms(), 1);
    EXPECT_TRUE (instance.hasEditor());
}

TEST (ModuleHost, AcceptsOnlyMatchingMonoOrStereoLayouts)
{
    auto host = loadPlugin();
    ASSERT_NE (host, nullptr);

    const auto mono = juce::AudioChannelSet::mono();
    const auto stereo = juce::AudioChannelSet::stereo();
    struct Case { const char* name; juce::AudioChannelSet in, out; bool accepted; };
    const Case cases[] = {
        { "mono/mono", mono, mono, true },
        { "stereo/stereo", stereo, stereo, true },
        { "mono/stereo", mono, stereo, false },
        { "stereo/mono", stereo, mono, false },
        { "LCR/LCR", juce::AudioChannelSet::createLCR(), juce::AudioChannelSet::createLCR(), false },
        { "quad/quad", juce::AudioChannelSet::quadraphonic(), juce::AudioChannelSet::quadraphonic(), false },
        { "5.1/5.1", juce::AudioChannelSet::create5point1(), juce::AudioChannelSet::create5point1(), false },
        { "7.1/7.1", juce::AudioChannelSet::create7point1(), juce::AudioChannelSet::create7point1(), false },
    };

    for (const auto& c : cases)
        EXPECT_EQ (host->supportsLayout (c.in, c.out), c.accepted) << c.name;

    // A refused layout leaves the buses as they were.
    EXPECT_EQ (host->getInstance().getBus (false, 0)->getCurrentLayout(), stereo);

    ASSERT_TRUE (host->setLayout (mono, mono));
    EXPECT_EQ (host->getNumChannels(), 1);
    ASSERT_TRUE (host->setLayout (stereo, stereo));
    EXPECT_EQ (host->getNumChannels(), 2);
}

TEST (ModuleHost, ADamagedOrMisnamedModuleIsRefusedWithExitCodeTwo)
{
    auto pattern = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("zandor-module-XXXXXX").getFullPathName().toStdString();
    ASSERT_NE (::mkdtemp (pattern.data()), nullptr) << pattern;
    const juce::File folder (pattern);
    const auto binaryName = bundleFile().getFileNameWithoutExtension() + ".so";

    struct Case
    {
        const char* name;
        juce::int64 truncateTo;     // -1: the file is kept whole
        const char* renameTo;       // nullptr: the name is kept
        juce::String message;       // with {so} for the module file's path and {bundle} for the bundle's
    };

    const auto originalSize = findModuleBinary (bundleFile()).getSize();
    const auto cutShort = [&] (juce::int64 size)
    {
        return "the module file {so} is damaged: it is " + juce::String (size) + " bytes long, but its ELF headers describe "
             + juce::String (originalSize) + " (cut short, as by an interrupted copy or download); build or install the bundle again";
    };
    const Case cases[] = {
        { "cut to 1 KB", 1024, nullptr, cutShort (1024) },
        { "cut to 2 MB", 2 << 20, nullptr, cutShort (2 << 20) },
        { "cut inside its ELF header", 40, nullptr,
          "the module file {so} is damaged: it is too short to hold an ELF header; build or install the bundle again" },
        { "renamed", -1, "Other.so",
          "the module binary in {bundle} is named \"Other.so\", but hosts look for it under the bundle's name: rename it to "
          "\"Contents/x86_64-linux/" + binaryName + "\"" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto bundle = folder.getChildFile (bundleFile().getFileName());
        ASSERT_TRUE (bundleFile().copyDirectoryTo (bundle));
        auto binary = bundle.getChildFile ("Contents/x86_64-linux").getChildFile (binaryName);
        if (c.truncateTo >= 0)
        {
            ASSERT_EQ (::truncate (binary.getFullPathName().toRawUTF8(), (off_t) c.truncateTo), 0);
        }
        if (c.renameTo != nullptr)
        {
            const auto renamed = binary.getSiblingFile (c.renameTo);
            ASSERT_TRUE (binary.moveFileTo (renamed));
            binary = renamed;
        }

        for (const juce::String command : { "info", "render" })
        {
            const auto result = runHostProgram ({ command, bundle.getFullPathName() });
            EXPECT_EQ (result.exitCode, 2) << command << ": " << result.output;
            EXPECT_EQ (result.output.trim(), "zandor-host " + command + ": "
                                                 + c.message.replace ("{so}", binary.getFullPathName()).replace ("{bundle}", bundle.getFullPathName()));
        }
        ASSERT_TRUE (bundle.deleteRecursively());
    }
    folder.deleteRecursively();
}
