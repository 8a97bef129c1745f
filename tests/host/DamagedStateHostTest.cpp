#include "HostTestSupport.h"
#include "LargeStateTexts.h"

#include <cstring>

using namespace hosttest;

// A project's saved state is untrusted input: shared by someone else or damaged on disk. Each of
// these states once crashed the host or froze it for seconds to minutes. Through the real module,
// each must load or be ignored whole, and the next save must complete.
namespace
{
    using Bytes = std::string;

    const std::string privateId = "JUCEPrivateData";

    Bytes le64 (juce::int64 value)
    {
        Bytes b;
        for (int i = 0; i < 8; ++i)
            b += (char) (((juce::uint64) value >> (8 * i)) & 0xff);
        return b;
    }

    // A count as JUCE's binary value trees write it.
    Bytes count (juce::uint32 value)
    {
        Bytes b;
        for (auto v = value; v != 0; v >>= 8)
            b += (char) (v & 0xff);
        return (char) b.size() + b;
    }

    Bytes bypassTree (bool bypassed)
    {
        return privateId + '\0' + count (1) + "Bypass" + '\0' + count (1) + (char) (bypassed ? 2 : 3) + count (0);
    }

    Bytes nestedTree (int depth)
    {
        Bytes b;
        for (int i = 1; i < depth; ++i)
            b += Bytes ("a") + '\0' + count (0) + count (1);
        return b + "a" + '\0' + count (0) + count (0);
    }

    // The processor's own bytes for a state with drive at 66, as the plug-in writes them.
    const Bytes& processorPart()
    {
        static const Bytes part = []
        {
            auto host = loadPlugin();
            if (host == nullptr)
                return Bytes();
            setParameter (*host, "drive", 0.66f);
            const auto state = host->getComponentState();
            const auto* bytes = static_cast<const char*> (state.getData());
            juce::uint32 length = 0;
            std::memcpy (&length, bytes + 4, 4);
            return Bytes (bytes, 8 + length + 1);
        }();
        return part;
    }

    Bytes withTrailer (const Bytes& tree, juce::int64 sizeField)
    {
        return processorPart() + Bytes (8, '\0') + tree + le64 (sizeField) + privateId;
    }

    Bytes withTrailer (const Bytes& tree)
    {
        return withTrailer (tree, (juce::int64) tree.size());
    }

    // The processor's document with attributes spliced in after a tag's name, wrapped afresh.
    Bytes withAttributesAfter (const std::string& tagName, const std::string& attributes)
    {
        const auto& part = processorPart();
        auto text = part.substr (8, part.size() - 9);
        text.insert (text.find ("<" + tagName) + 1 + tagName.size(), " " + attributes);
        Bytes b = "VC2!";
        const auto length = (juce::uint32) text.size();
        for (int i = 0; i < 4; ++i)
            b += (char) ((length >> (8 * i)) & 0xff);
        return b + text + '\0';
    }

    Bytes withInGrid (const std::string& attributes)         { return withAttributesAfter ("GlitchGrid", attributes); }
    Bytes withRootAttributes (const std::string& attributes) { return withAttributesAfter ("Parameters", attributes); }

    using largestate::repeated;

    std::string manyAttributes (int number) { return largestate::attributes ("a", number); }

    struct DamagedState
    {
        const char* name;
        std::function<Bytes()> make;
        const char* drive;    // as the plug-in then reports it
        const char* bypass;
    };

    class DamagedStateHost : public testing::TestWithParam<DamagedState> {};
}

TEST_P (DamagedStateHost, LoadsOrIsIgnoredAndTheNextSaveCompletes)
{
    const auto& c = GetParam();
    const auto bytes = c.make();
    ASSERT_GT (processorPart().size(), 9u);

    juce::TemporaryFile stateFile (".bin"), savedFile (".bin");
    ASSERT_TRUE (stateFile.getFile().replaceWithData (bytes.data(), bytes.size()));

    const auto result = runHostProgram ({ "render", bundleFile().getFullPathName(), "--load-state", stateFile.getFile().getFullPathName(),
                                          "--seconds", "0.1", "--out", "/dev/null", "--save-state", savedFile.getFile().getFullPathName() });
    ASSERT_EQ (result.exitCode, 0) << result.output;
    EXPECT_TRUE (result.output.contains ("param Drive = " + juce::String (c.drive) + " ")) << result.output;
    EXPECT_TRUE (result.output.contains ("param Bypass = " + juce::String (c.bypass) + " ")) << result.output;

    // What was saved is an ordinary state again.
    juce::MemoryBlock saved;
    ASSERT_TRUE (savedFile.getFile().loadFileAsData (saved));
    EXPECT_LT (saved.getSize(), 2048u);
    const std::string savedText (static_cast<const char*> (saved.getData()), saved.getSize());
    EXPECT_NE (savedText.find ("id=\"drive\" value=\"" + std::string (c.drive) + "\""), std::string::npos) << savedText;
}

INSTANTIATE_TEST_SUITE_P (DamagedStateHost, DamagedStateHost, testing::Values (
    DamagedState { "well-formed trailer, bypass on", [] { return withTrailer (bypassTree (true)); }, "66.0", "On" },
    DamagedState { "well-formed trailer, bypass off", [] { return withTrailer (bypassTree (false)); }, "66.0", "Off" },
    DamagedState { "no trailer", [] { return processorPart(); }, "66.0", "Off" },
    // A damaged trailer is ignored: the bypass it carries does not take, the parameters do.
    DamagedState { "size field 0x7fffffff", [] { return withTrailer (bypassTree (true), 0x7fffffff); }, "66.0", "Off" },
    DamagedState { "size field -1", [] { return withTrailer (bypassTree (true), -1); }, "66.0", "Off" },
    DamagedState { "size field 2^32", [] { return withTrailer (bypassTree (true), (juce::int64) 1 << 32); }, "66.0", "Off" },
    DamagedState { "size field one more than the tree", [] { const auto tree = bypassTree (true); return withTrailer (tree, (juce::int64) tree.size() + 1); }, "66.0", "Off" },
    DamagedState { "size field one more than the block", [] { const auto tree = bypassTree (true);
                                                             return withTrailer (tree, (juce::int64) (processorPart().size() + 8 + tree.size() + 8 + 15 + 1)); }, "66.0", "Off" },
    DamagedState { "tree nested 40000 deep", [] { return withTrailer (nestedTree (40000)); }, "66.0", "Off" },
    DamagedState { "tree nested 20000 deep", [] { return withTrailer (nestedTree (20000)); }, "66.0", "Off" },
    DamagedState { "property count 2^31-1", [] { return withTrailer (privateId + '\0' + count (0x7fffffff) + "Bypass" + '\0' + count (1) + (char) 2 + count (0) + Bytes (500, '\0')); }, "66.0", "Off" },
    DamagedState { "child count 2^31-1", [] { return withTrailer (privateId + '\0' + count (0) + count (0x7fffffff) + Bytes (10, '\0')); }, "66.0", "Off" },
    // Beyond the loader's limits a state counts as one that does not parse: the drive stays at
    // its default.
    DamagedState { "30000 hex references in one attribute", [] { return withInGrid ("junk=\"" + repeated ("&#x41;", 30000) + "\" "); }, "50.0", "Off" },
    DamagedState { "30000 attributes on one child", [] { return withInGrid (manyAttributes (30000)); }, "50.0", "Off" },
    DamagedState { "30000 attributes on the root", [] { return withRootAttributes (manyAttributes (30000)); }, "50.0", "Off" },
    DamagedState { "5000 attributes on one child within the text limit", [] { return withInGrid (manyAttributes (5000)); }, "50.0", "Off" },
    DamagedState { "10000 hex references within the limits", [] { return withInGrid ("junk=\"" + repeated ("&#x41;", 10000) + "\" "); }, "66.0", "Off" }),
    largestate::caseName<DamagedState>);
