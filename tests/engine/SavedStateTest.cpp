#include "BrellDistortionProcessor.h"
#include "LargeStateTexts.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <set>
#include <vector>

namespace
{
    using Bytes = std::vector<uint8_t>;

    const char* const xmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

    Bytes save (BrellDistortionProcessor& p)
    {
        juce::MemoryBlock block;
        p.getStateInformation (block);
        const auto* data = static_cast<const uint8_t*> (block.getData());
        return Bytes (data, data + block.getSize());
    }

    void load (BrellDistortionProcessor& p, const Bytes& bytes)
    {
        p.setStateInformation (bytes.data(), (int) bytes.size());
    }

    uint32_t readLE32 (const Bytes& b, size_t offset)
    {
        return (uint32_t) b[offset] | ((uint32_t) b[offset + 1] << 8)
             | ((uint32_t) b[offset + 2] << 16) | ((uint32_t) b[offset + 3] << 24);
    }

    void appendLE32 (Bytes& b, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            b.push_back ((uint8_t) (v >> (8 * i)));
    }

    // Wraps a text the way the state format does; the length field can be forced.
    Bytes wrap (const std::string& text, int64_t lengthField = -1, uint32_t magic = 0x21324356)
    {
        Bytes b;
        appendLE32 (b, magic);
        appendLE32 (b, (uint32_t) (lengthField < 0 ? (int64_t) text.size() : lengthField));
        b.insert (b.end(), text.begin(), text.end());
        b.push_back (0);
        return b;
    }

    std::string xmlText (const Bytes& b)
    {
        return std::string (b.begin() + 8, b.end() - 1);
    }

    std::unique_ptr<juce::XmlElement> parse (const Bytes& b)
    {
        return juce::parseXML (juce::String::fromUTF8 ((const char*) b.data() + 8, (int) b.size() - 9));
    }

    std::string gridDoc (const std::string& gridAttributes, const std::string& root = "Parameters")
    {
        return std::string (xmlDeclaration) + " <" + root + "><GlitchGrid " + gridAttributes + "/></" + root + ">";
    }

    void fillPattern (BrellDistortionProcessor& p, int32_t value)
    {
        for (int r = 0; r < GlitchPattern::numRows; ++r)
            for (int s = 0; s < GlitchPattern::numSteps; ++s)
                p.glitchPattern.set (r, s, value);
    }

    std::string rowOf (const BrellDistortionProcessor& p, int row)
    {
        std::string s;
        for (int step = 0; step < GlitchPattern::numSteps; ++step)
            s += std::to_string (p.glitchPattern.get (row, step)) + (step < 15 ? "," : "");
        return s;
    }

    float valueOf (BrellDistortionProcessor& p, const char* id)
    {
        auto* raw = p.apvts.getRawParameterValue (id);
        return raw != nullptr ? raw->load() : std::nanf ("");
    }

    void setReal (BrellDistortionProcessor& p, const char* id, float realValue)
    {
        auto* param = p.apvts.getParameter (id);
        ASSERT_NE (param, nullptr) << id;
        param->setValueNotifyingHost (param->convertTo0to1 (realValue));
    }

    const std::array<const char*, 9> parameterIds { "drive", "mix", "output", "mode", "filterCutoff",
                                                    "filterReso", "filterType", "glitchOn", "glitchChaos" };

    std::string paramDoc (const char* id, const char* value)
    {
        return std::string (xmlDeclaration) + " <Parameters><PARAM id=\"" + id + "\" value=\"" + value + "\"/></Parameters>";
    }
}

//==============================================================================
TEST (SavedState, ByteLayoutAndTree)
{
    BrellDistortionProcessor p;
    p.glitchPattern.set (0, 0, 4);
    p.glitchPattern.set (0, 8, 1);

    const auto b = save (p);
    ASSERT_GT (b.size(), 9u);
    EXPECT_EQ (b[0], 0x56);
    EXPECT_EQ (b[1], 0x43);
    EXPECT_EQ (b[2], 0x32);
    EXPECT_EQ (b[3], 0x21);
    EXPECT_EQ (readLE32 (b, 4), b.size() - 9);
    EXPECT_EQ (b.back(), 0);

    const auto text = xmlText (b);
    EXPECT_EQ (text.rfind (std::string (xmlDeclaration) + " <Parameters", 0), 0u) << text;
    EXPECT_EQ (text.find ('\n'), std::string::npos);
    EXPECT_EQ (text.find ('\0'), std::string::npos);

    const auto xml = parse (b);
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getTagName(), "Parameters");
    EXPECT_EQ (xml->getNumAttributes(), 0);

    ASSERT_EQ (xml->getNumChildElements(), (int) parameterIds.size() + 1);

    // One PARAM per parameter, in the parameter tree's own order.
    std::set<std::string> ids;
    for (int i = 0; i < (int) parameterIds.size(); ++i)
    {
        auto* child = xml->getChildElement (i);
        EXPECT_EQ (child->getTagName(), "PARAM");
        EXPECT_TRUE (child->hasAttribute ("value"));
        ids.insert (child->getStringAttribute ("id").toStdString());
    }
    EXPECT_EQ (ids, std::set<std::string> (parameterIds.begin(), parameterIds.end()));

    auto* grid = xml->getChildElement ((int) parameterIds.size());
    EXPECT_EQ (grid->getTagName(), "GlitchGrid");
    ASSERT_EQ (grid->getNumAttributes(), 5);

    for (int r = 0; r < 5; ++r)
        EXPECT_EQ (grid->getAttributeName (r), "row" + juce::String (r));

    EXPECT_EQ (grid->getStringAttribute ("row0"), "4000000010000000");

    for (int r = 1; r < 5; ++r)
        EXPECT_EQ (grid->getStringAttribute ("row" + juce::String (r)), "0000000000000000");
}

TEST (SavedState, CellsWrittenAsOneLowercaseHexDigitEach)
{
    struct Case { int32_t value; char digit; };
    const Case cases[] { { 0, '0' }, { 1, '1' }, { 9, '9' }, { 10, 'a' }, { 12, 'c' }, { 15, 'f' },
                         { 16, 'f' }, { 1000, 'f' }, { -1, '0' }, { std::numeric_limits<int32_t>::min(), '0' } };

    for (const auto& c : cases)
    {
        BrellDistortionProcessor p;
        p.glitchPattern.set (3, 5, c.value);

        const auto xml = parse (save (p));
        ASSERT_NE (xml, nullptr);
        auto* grid = xml->getChildByName ("GlitchGrid");
        ASSERT_NE (grid, nullptr);

        std::string expected (16, '0');
        expected[5] = c.digit;
        EXPECT_EQ (grid->getStringAttribute ("row3").toStdString(), expected) << "cell value " << c.value;
    }
}

TEST (SavedState, WholeRowBlockComesBackOneStepShorter)
{
    BrellDistortionProcessor a;
    a.glitchPattern.set (1, 0, 16);
    const auto b = save (a);

    BrellDistortionProcessor fresh;
    load (fresh, b);
    EXPECT_EQ (fresh.glitchPattern.get (1, 0), 15);
}

TEST (SavedState, SavingIsRepeatableAndKeepsOneGrid)
{
    BrellDistortionProcessor p;
    p.glitchPattern.set (2, 3, 2);

    const auto first = save (p);
    EXPECT_EQ (save (p), first);

    load (p, first);
    const auto again = save (p);
    EXPECT_EQ (again, first);

    // A second load of a changed pattern restores the change, and the tree still holds one grid.
    p.glitchPattern.set (4, 15, 1);
    p.glitchPattern.set (2, 3, 0);
    const auto changed = save (p);
    load (p, first);
    EXPECT_EQ (p.glitchPattern.get (4, 15), 0);
    load (p, changed);
    EXPECT_EQ (p.glitchPattern.get (4, 15), 1);
    EXPECT_EQ (p.glitchPattern.get (2, 3), 0);

    const auto xml = parse (save (p));
    ASSERT_NE (xml, nullptr);
    int grids = 0;
    for (auto* child : xml->getChildIterator())
        grids += child->hasTagName ("GlitchGrid") ? 1 : 0;
    EXPECT_EQ (grids, 1);
    EXPECT_TRUE (xml->getChildElement (xml->getNumChildElements() - 1)->hasTagName ("GlitchGrid"));
}

TEST (SavedState, SaveReplacesWhatTheBlockHeld)
{
    BrellDistortionProcessor p;
    juce::MemoryBlock block (100000, true);
    block.fillWith (0xab);
    p.getStateInformation (block);

    const auto expected = save (p);
    ASSERT_EQ (block.getSize(), expected.size());
    EXPECT_EQ (std::memcmp (block.getData(), expected.data(), expected.size()), 0);
}

TEST (SavedState, RowTextsLoadCellByCell)
{
    struct Case { const char* attributes; int row; std::array<int, 16> expected; };

    // The pattern starts with 7 in every cell, so untouched cells show.
    const Case cases[] {
        { "row2=\"12\"",                   2, { 1, 2, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7 } },
        { "row2=\"zz3\"",                  2, { 0, 0, 3, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7 } },
        { "row0=\"F0Aa\"",                 0, { 15, 0, 10, 10, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7 } },
        { "row4=\"0123456789abcdef\"",     4, { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15 } },
        { "row1=\"11111111111111112222\"", 1, { 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1 } },
        { "row0=\"&#x66;&#65;\"",            0, { 15, 10, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7 } },
        { "row3=\"\"",                     3, { 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7 } },
        { "row3=\"-1 g\xc3\xa9\"",         3, { 0, 1, 0, 0, 0, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7 } },
    };

    for (const auto& c : cases)
    {
        BrellDistortionProcessor p;
        fillPattern (p, 7);
        load (p, wrap (gridDoc (c.attributes)));

        for (int r = 0; r < GlitchPattern::numRows; ++r)
        {
            std::string expected;
            for (int s = 0; s < 16; ++s)
                expected += std::to_string (r == c.row ? c.expected[(size_t) s] : 7) + (s < 15 ? "," : "");

            EXPECT_EQ (rowOf (p, r), expected) << c.attributes << ", row " << r;
        }
    }
}

TEST (SavedState, TreeWithoutGridKeepsThePattern)
{
    BrellDistortionProcessor p;
    fillPattern (p, 3);
    load (p, wrap (std::string (xmlDeclaration) + " <Parameters><Other row0=\"ffff\"/></Parameters>"));

    for (int r = 0; r < GlitchPattern::numRows; ++r)
        EXPECT_EQ (rowOf (p, r), "3,3,3,3,3,3,3,3,3,3,3,3,3,3,3,3");
}

TEST (SavedState, BlocksThatAreNotAStateAreIgnored)
{
    const auto valid = gridDoc ("row0=\"ffffffffffffffff\"");

    struct Case { const char* name; Bytes bytes; };
    std::vector<Case> cases;
    cases.push_back ({ "empty", {} });
    const auto whole = wrap (valid);
    cases.push_back ({ "header only", Bytes (whole.begin(), whole.begin() + 8) });
    cases.push_back ({ "wrong magic", wrap (valid, -1, 0x21324357) });
    cases.push_back ({ "zero length", wrap (valid, 0) });
    cases.push_back ({ "negative length", wrap (valid, 0xfffffff0u) });
    cases.push_back ({ "not xml", wrap ("this is not a document <<<") });
    cases.push_back ({ "other root", wrap (gridDoc ("row0=\"ffffffffffffffff\"", "Parametres")) });
    cases.push_back ({ "length past the data, cut document", wrap (valid.substr (0, 20), 100000) });
    // Texts that JUCE's XML reader cannot take safely: it loops on a processing instruction in
    // element content, recurses once per nested element, and expands inline DTD entities.
    cases.push_back ({ "instruction in content", wrap (std::string (xmlDeclaration) + " <Parameters> <?x?>a<GlitchGrid row0=\"f\"/></Parameters>") });
    cases.push_back ({ "inline DTD", wrap (std::string (xmlDeclaration) + " <!DOCTYPE Parameters [<!ENTITY e \"<GlitchGrid row0='f'/>\">]><Parameters>&e;</Parameters>") });
    cases.push_back ({ "open hex reference at the end", wrap (std::string (xmlDeclaration) + " <Parameters>&#x4") });
    cases.push_back ({ "hex reference without ';'", wrap (std::string (xmlDeclaration) + " <Parameters><GlitchGrid row0=\"f&#x4z\"/></Parameters>") });
    cases.push_back ({ "lead byte before the terminator", wrap (std::string (xmlDeclaration) + " <Parameters><GlitchGrid row0=\"f\xc3") });
    cases.push_back ({ "lead byte without continuation", wrap (gridDoc ("row0=\"f\xe2\x41\x42\"")) });
    cases.push_back ({ "overlong '<'", wrap (gridDoc ("row0=\"f\xc0\xbc\"")) });
    cases.push_back ({ "surrogate", wrap (gridDoc ("row0=\"f\xed\xa0\x80\"")) });
    std::string deep = std::string (xmlDeclaration) + " <Parameters>";
    for (int i = 0; i < 200000; ++i)
        deep += "<a>";
    cases.push_back ({ "deep nesting", wrap (deep) });
    cases.push_back ({ "bare text", [] { std::string s = "VC2!"; return Bytes (s.begin(), s.end()); }() });

    for (const auto& c : cases)
    {
        BrellDistortionProcessor p;
        fillPattern (p, 2);
        if (auto* drive = p.apvts.getParameter ("drive"))
            drive->setValueNotifyingHost (0.25f);

        const auto before = save (p);
        p.setStateInformation (c.bytes.empty() ? nullptr : c.bytes.data(), (int) c.bytes.size());
        EXPECT_EQ (save (p), before) << c.name;
    }

    // A null pointer with a size must not be read.
    BrellDistortionProcessor p;
    const auto before = save (p);
    p.setStateInformation (nullptr, 1000);
    EXPECT_EQ (save (p), before);
}

TEST (SavedState, LengthPastTheDataUsesTheBytesPresent)
{
    BrellDistortionProcessor p;
    auto bytes = wrap (gridDoc ("row0=\"1\""), 1 << 20);
    bytes.pop_back(); // no terminator either: the text ends where the data ends
    load (p, bytes);
    EXPECT_EQ (p.glitchPattern.get (0, 0), 1);
}

TEST (SavedState, RootMatchedWithoutCaseIsSavedUnderItsProperName)
{
    BrellDistortionProcessor p;
    load (p, wrap (gridDoc ("row0=\"3\"", "parameters")));
    EXPECT_EQ (p.glitchPattern.get (0, 0), 3);

    const auto xml = parse (save (p));
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getTagName(), "Parameters");
}

TEST (SavedState, TextEndingInsideACharacterIsRefusedWithoutReadingPastIt)
{
    // The block is allocated to its exact size so that a sanitizer sees any read beyond it.
    const auto doc = gridDoc ("row0=\"5\"");
    for (const uint8_t lead : { 0xc3, 0xe2, 0xf0 })
    {
        Bytes bytes;
        appendLE32 (bytes, 0x21324356);
        appendLE32 (bytes, (uint32_t) doc.size() + 1);
        bytes.insert (bytes.end(), doc.begin(), doc.end());
        bytes.push_back (lead);

        auto heap = std::make_unique<uint8_t[]> (bytes.size());
        std::memcpy (heap.get(), bytes.data(), bytes.size());

        BrellDistortionProcessor p;
        p.glitchPattern.set (0, 0, 2);
        p.setStateInformation (heap.get(), (int) bytes.size());
        EXPECT_EQ (p.glitchPattern.get (0, 0), 2);
    }
}

//==============================================================================
class SavedStateParameters : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ (p.getParameters().size(), (int) parameterIds.size()) << "parameter layout missing";
    }

    BrellDistortionProcessor p;
};

TEST_F (SavedStateParameters, EveryParameterAndThePatternRoundTrip)
{
    setReal (p, "drive", 12.3f);
    setReal (p, "mix", 45.6f);
    setReal (p, "output", -7.5f);
    setReal (p, "mode", 3.0f);
    setReal (p, "filterCutoff", 1234.0f);
    setReal (p, "filterReso", 3.21f);
    setReal (p, "filterType", 2.0f);
    setReal (p, "glitchOn", 1.0f);
    setReal (p, "glitchChaos", 77.7f);
    p.glitchPattern.set (0, 0, 4);
    p.glitchPattern.set (3, 14, 2);

    const auto b = save (p);
    BrellDistortionProcessor fresh;
    load (fresh, b);

    for (const auto* id : parameterIds)
        EXPECT_FLOAT_EQ (valueOf (fresh, id), valueOf (p, id)) << id;

    for (int r = 0; r < GlitchPattern::numRows; ++r)
        EXPECT_EQ (rowOf (fresh, r), rowOf (p, r));

    EXPECT_EQ (save (fresh), b);
}

TEST_F (SavedStateParameters, EveryParamIsSavedWithAValueAfterLoadingAnIncompleteTree)
{
    setReal (p, "mix", 20.0f);
    load (p, wrap (std::string (xmlDeclaration) + " <Parameters><PARAM id=\"drive\"/></Parameters>"));

    const auto xml = parse (save (p));
    ASSERT_NE (xml, nullptr);

    int params = 0;
    for (auto* child : xml->getChildWithTagNameIterator ("PARAM"))
    {
        ++params;
        const auto id = child->getStringAttribute ("id");
        ASSERT_TRUE (child->hasAttribute ("value")) << id;
        EXPECT_FLOAT_EQ ((float) child->getDoubleAttribute ("value"), valueOf (p, id.toRawUTF8())) << id;
    }
    EXPECT_EQ (params, (int) parameterIds.size());
}

TEST_F (SavedStateParameters, HostileValuesEndFiniteAndInRange)
{
    struct Case { const char* id; const char* value; float expected; };
    const Case cases[] {
        { "drive",        "nan",     33.3f },
        { "drive",        "inf",     33.3f },
        { "drive",        "-inf",    33.3f },
        { "output",       "nan",     -3.0f },
        { "drive",        "1000",    100.0f },
        { "drive",        "-5",      0.0f },
        { "output",       "1e300",   6.0f },
        { "filterCutoff", "-1e300",  20.0f },
        { "mode",         "99",      3.0f },
        { "glitchChaos",  "66.6",    66.6f },
        { "glitchChaos",  " 7e1 ",   70.0f },
        { "drive",        "n",       33.3f },
        { "drive",        "-i",      33.3f },
        { "drive",        "abc",     33.3f },
        { "drive",        "",        33.3f },
        { "drive",        "1e99999999999", 33.3f },
    };

    for (const auto& c : cases)
    {
        BrellDistortionProcessor q;
        setReal (q, "drive", 33.3f);
        setReal (q, "output", -3.0f);
        load (q, wrap (paramDoc (c.id, c.value)));

        for (const auto* id : parameterIds)
        {
            const auto v = valueOf (q, id);
            const auto& range = q.apvts.getParameter (id)->getNormalisableRange();
            EXPECT_TRUE (std::isfinite (v)) << c.id << "=" << c.value << ": " << id;
            EXPECT_GE (v, range.start) << id;
            EXPECT_LE (v, range.end) << id;
        }

        EXPECT_NEAR (valueOf (q, c.id), c.expected, 1.0e-3f) << c.id << "=" << c.value;

        const auto xml = parse (save (q));
        ASSERT_NE (xml, nullptr);
        EXPECT_EQ (xml->toString().indexOfIgnoreCase ("nan"), -1);
        EXPECT_EQ (xml->toString().indexOfIgnoreCase ("inf"), -1);
    }
}

TEST_F (SavedStateParameters, OnlyCheckedParamChildrenSetParametersAndEachIsSavedOnce)
{
    const std::string grid = "row0=\"4000000000000000\" row1=\"0000000000000000\" row2=\"0000000000000000\" "
                             "row3=\"0000000000000000\" row4=\"0000000000000000\"";
    const auto doc = [] (const std::string& children)
    {
        return std::string (xmlDeclaration) + " <Parameters>" + children + "</Parameters>";
    };

    // Before each load: mix 45, output -3, drive 33.3. A parameter that no PARAM child names
    // takes its default (output 0, drive 50, mix 100), as it does from any state that lacks it.
    struct Case { const char* name; std::string children; const char* id; float expected; };
    const Case cases[] {
        { "another type carries a NaN",       doc ("<param id=\"output\" value=\"nan\"/>"),                       "output", 0.0f },
        { "another type carries a value",     doc ("<Knob id=\"drive\" value=\"90\"/>"),                          "drive",  50.0f },
        { "the grid repeats a PARAM's id",    doc ("<PARAM id=\"mix\" value=\"30.0\"/><GlitchGrid id=\"mix\" value=\"70\" " + grid + "/>"), "mix", 30.0f },
        { "the grid holds a parameter's only id", doc ("<GlitchGrid id=\"mix\" value=\"70\" " + grid + "/>"),     "mix",    100.0f },
        { "a PARAM after another type",       doc ("<Knob id=\"drive\" value=\"90\"/><PARAM id=\"drive\" value=\"20\"/>"), "drive", 20.0f },
        { "two PARAMs for one parameter",     doc ("<PARAM id=\"drive\" value=\"10\"/><PARAM id=\"drive\" value=\"80\"/>"), "drive", 80.0f },
        { "the later of two PARAMs is a NaN", doc ("<PARAM id=\"drive\" value=\"10\"/><PARAM id=\"drive\" value=\"nan\"/>"), "drive", 33.3f },
        // The tree reads the first of two same-named attributes, and its XML writer keeps the last.
        { "a PARAM repeats its value",        doc ("<PARAM id=\"drive\" value=\"10\" value=\"4145\"/>"),      "drive",  10.0f },
        { "a PARAM repeats its id",           doc ("<PARAM id=\"drive\" id=\"mix\" value=\"10\"/>"),          "drive",  10.0f },
        { "another type repeats its id",      doc ("<Knob id=\"x\" id=\"drive\" value=\"90\"/>"),             "drive",  50.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        BrellDistortionProcessor q;
        setReal (q, "mix", 45.0f);
        setReal (q, "output", -3.0f);
        setReal (q, "drive", 33.3f);
        load (q, wrap (c.children));

        EXPECT_NEAR (valueOf (q, c.id), c.expected, 1.0e-3f);

        for (auto* parameter : q.getParameters())
        {
            EXPECT_TRUE (std::isfinite (parameter->getValue()));
            EXPECT_GE (parameter->getValue(), 0.0f);
            EXPECT_LE (parameter->getValue(), 1.0f);
        }

        const auto first = save (q);
        const auto xml = parse (first);
        ASSERT_NE (xml, nullptr);
        EXPECT_EQ (xml->toString().indexOfIgnoreCase ("nan"), -1);

        std::multiset<std::string> ids;
        for (auto* child : xml->getChildIterator())
            if (child->hasAttribute ("id"))
                ids.insert (child->getStringAttribute ("id").toStdString());

        for (const auto* id : parameterIds)
            EXPECT_EQ (ids.count (id), 1u) << id;

        // What the save holds plays as the first load did, and saves to the same bytes.
        BrellDistortionProcessor reloaded;
        load (reloaded, first);

        for (const auto* id : parameterIds)
            EXPECT_EQ (valueOf (reloaded, id), valueOf (q, id)) << id;

        EXPECT_EQ (save (reloaded), first);
        EXPECT_EQ (reloaded.glitchPattern.get (0, 0), c.children.find ("GlitchGrid") != std::string::npos ? 4 : 0);
    }
}

//==============================================================================
namespace
{
    using largestate::attributes;
    using largestate::repeated;

    // A valid state that sets drive to 66 and CRUSH's first cell to 7, with something added.
    std::string stateWith (const std::string& rootAttributes, const std::string& gridAttributes, const std::string& extraChildren = {})
    {
        return std::string (xmlDeclaration) + " <Parameters " + rootAttributes + "><PARAM id=\"drive\" value=\"66.0\"/>"
             + extraChildren + "<GlitchGrid " + gridAttributes + "row2=\"7\"/></Parameters>";
    }

    struct LimitCase
    {
        const char* name;
        std::string text;
        bool loads;
    };

    class StateLimits : public testing::TestWithParam<LimitCase> {};
}

// Beyond what the plug-in could ever write, a state counts as one that does not parse: the
// settings stay. Up to the limits it loads as any other.
TEST_P (StateLimits, LoadsOrIsIgnoredWhole)
{
    const auto& c = GetParam();
    BrellDistortionProcessor p;
    const auto before = save (p);
    load (p, wrap (c.text));

    if (c.loads)
    {
        EXPECT_FLOAT_EQ (valueOf (p, "drive"), 66.0f);
        EXPECT_EQ (p.glitchPattern.get (2, 0), 7);

        // And what it saves loads again.
        BrellDistortionProcessor again;
        load (again, save (p));
        EXPECT_EQ (save (again), save (p));
    }
    else
    {
        EXPECT_EQ (save (p), before);
    }
}

INSTANTIATE_TEST_SUITE_P (SavedState, StateLimits, testing::Values (
    LimitCase { "64 attributes on one element", stateWith ({}, attributes ("a", 63)), true },
    LimitCase { "65 attributes on one element", stateWith ({}, attributes ("a", 64)), false },
    LimitCase { "5000 attributes on one element", stateWith ({}, attributes ("a", 5000)), false },
    LimitCase { "65 attributes on the root", stateWith (attributes ("a", 65), {}), false },
    LimitCase { "text of 64 KiB", [] { auto base = stateWith ({}, "x=\"\" ");
                                        return stateWith ({}, "x=\"" + std::string (64 * 1024 - base.size(), 'A') + "\" "); }(), true },
    LimitCase { "text one byte over 64 KiB", [] { auto base = stateWith ({}, "x=\"\" ");
                                                  return stateWith ({}, "x=\"" + std::string (64 * 1024 + 1 - base.size(), 'A') + "\" "); }(), false },
    LimitCase { "10000 hex references in 64 KiB", stateWith ({}, "x=\"" + repeated ("&#x41;", 10000) + "\" "), true },
    LimitCase { "30000 hex references", stateWith ({}, "x=\"" + repeated ("&#x41;", 30000) + "\" "), false },
    LimitCase { "512 tag openings", stateWith ({}, {}, repeated ("<x/>", 512 - 5)), true },
    LimitCase { "513 tag openings", stateWith ({}, {}, repeated ("<x/>", 513 - 5)), false }),
    largestate::caseName<LimitCase>);

TEST (SavedState, ASaveThatWouldOutgrowTheLimitKeepsTheSettings)
{
    // Quotes read as one character each but are written as "&quot;": loaded whole, the tree
    // would be saved as a text the loader refuses.
    const auto quotes = std::string (xmlDeclaration) + " <Parameters><Junk a='" + std::string (20000, '"')
                      + "'/><PARAM id=\"drive\" value=\"66.0\"/><GlitchGrid row2=\"7\"/></Parameters>";
    BrellDistortionProcessor p;
    setReal (p, "mix", 30.0f);
    load (p, wrap (quotes));
    ASSERT_FLOAT_EQ (valueOf (p, "drive"), 66.0f);

    const auto saved = save (p);
    EXPECT_LE (saved.size(), 64u * 1024u + 9u);
    EXPECT_EQ (xmlText (saved).find ("Junk"), std::string::npos);

    BrellDistortionProcessor fresh;
    load (fresh, saved);
    for (const auto* id : parameterIds)
        EXPECT_FLOAT_EQ (valueOf (fresh, id), valueOf (p, id)) << id;
    for (int row = 0; row < GlitchPattern::numRows; ++row)
        EXPECT_EQ (rowOf (fresh, row), rowOf (p, row)) << row;
    EXPECT_EQ (save (fresh), saved);
}
