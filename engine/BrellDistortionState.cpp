#include "BrellDistortionProcessor.h"

#include <cmath>
#include <optional>

namespace
{
    const juce::Identifier parametersType { "Parameters" };
    const juce::Identifier paramType { "PARAM" };
    const juce::Identifier glitchGridType { "GlitchGrid" };
    const juce::Identifier idProperty { "id" };
    const juce::Identifier valueProperty { "value" };

    juce::Identifier rowProperty (int row)
    {
        return juce::Identifier ("row" + juce::String (row));
    }

    // Extra zero bytes behind a copy of the host's block: the UTF-8 decoder looks ahead past a
    // multi-byte lead at the very end of the text, and must find a terminator rather than
    // memory that isn't ours.
    constexpr size_t decodePadding = 8;

    // This plug-in only ever writes a declaration and a shallow tree of a dozen elements, in well
    // under a kilobyte. JUCE's XML reader recurses once per nested element, never returns from a
    // processing instruction inside element content, expands entities from an inline DTD without
    // limit, and steps past the end of the text after a hex character reference that isn't closed
    // by ';'; and the value tree checks every attribute against those before it, on loading and
    // again on every save. Texts that could lead into any of these are refused before they reach
    // it, so that any state loads, or is ignored, in about the time an ordinary one takes.
    constexpr int maxTagOpenings = 512;
    constexpr int maxTextBytes = 64 * 1024;
    constexpr int maxAttributesPerElement = 64;

    bool hasUnterminatedHexReference (const juce::String& text)
    {
        for (auto p = text.getCharPointer(); ! p.isEmpty();)
        {
            if (p.getAndAdvance() != '&' || *p != '#')
                continue;

            auto q = p + 1;

            if (*q != 'x' && *q != 'X')
                continue;

            ++q;

            for (int digits = 0; digits < 8 && juce::CharacterFunctions::getHexDigitValue (*q) >= 0; ++digits)
                ++q;

            if (*q != ';')
                return true;

            p = q;
        }

        return false;
    }

    bool hasFewAttributesPerElement (const juce::XmlElement& element)
    {
        if (element.getNumAttributes() > maxAttributesPerElement)
            return false;

        for (const auto* child : element.getChildIterator())
            if (! hasFewAttributesPerElement (*child))
                return false;

        return true;
    }

    bool isSafeToParse (const juce::String& text)
    {
        int tagOpenings = 0;

        for (auto p = text.getCharPointer(); ! p.isEmpty();)
            if (p.getAndAdvance() == '<' && ++tagOpenings > maxTagOpenings)
                return false;

        if (hasUnterminatedHexReference (text))
            return false;

        if (text.containsIgnoreCase ("<!DOCTYPE"))
            return false;

        const auto firstInstruction = text.indexOf ("<?");

        if (firstInstruction < 0)
            return true;

        const auto isLeadingDeclaration = text.substring (0, firstInstruction).trim().isEmpty()
                                       && text.substring (firstInstruction).startsWith ("<?xml");

        return isLeadingDeclaration && text.indexOf (firstInstruction + 2, "<?") < 0;
    }

    // JUCE's text classes step over a multi-byte sequence by its lead byte alone and would walk
    // past the end of a text that ends inside one, so only well-formed UTF-8 is decoded. The text
    // ends at the first zero byte, as a decoded string would.
    bool isWellFormedUtf8 (const uint8_t* bytes, int numBytes)
    {
        for (int i = 0; i < numBytes && bytes[i] != 0;)
        {
            const auto lead = bytes[i];

            if (lead < 0x80)
            {
                ++i;
                continue;
            }

            int extra = 0;
            uint32_t codePoint = 0, lowest = 0;

            if (lead >= 0xc2 && lead <= 0xdf)      { extra = 1; codePoint = lead & 0x1fu; lowest = 0x80; }
            else if (lead >= 0xe0 && lead <= 0xef) { extra = 2; codePoint = lead & 0x0fu; lowest = 0x800; }
            else if (lead >= 0xf0 && lead <= 0xf4) { extra = 3; codePoint = lead & 0x07u; lowest = 0x10000; }
            else                                   return false;

            for (int k = 1; k <= extra; ++k)
            {
                if (i + k >= numBytes || (bytes[i + k] & 0xc0) != 0x80)
                    return false;

                codePoint = (codePoint << 6) | (bytes[i + k] & 0x3fu);
            }

            if (codePoint < lowest || codePoint > 0x10ffff || (codePoint >= 0xd800 && codePoint <= 0xdfff))
                return false;

            i += extra + 1;
        }

        return true;
    }

    // A parameter value as a number, or nothing when its text is not a plain decimal number.
    // JUCE's own number reader looks past the end of some short texts and overflows on long
    // exponents, so the text is checked here first and the reader only sees well-formed numbers.
    std::optional<double> readValue (const juce::var& value)
    {
        if (! value.isString())
            return (value.isDouble() || value.isInt() || value.isInt64() || value.isBool())
                       ? std::optional<double> ((double) value) : std::nullopt;

        const auto text = value.toString().trim();

        if (text.isEmpty() || text.length() > 40)
            return {};

        auto p = text.getCharPointer();
        auto isDigit = [] (juce::juce_wchar c) { return c >= '0' && c <= '9'; };

        if (*p == '+' || *p == '-')
            ++p;

        int mantissaDigits = 0;
        while (isDigit (*p)) { ++p; ++mantissaDigits; }

        if (*p == '.')
        {
            ++p;
            while (isDigit (*p)) { ++p; ++mantissaDigits; }
        }

        if (mantissaDigits == 0)
            return {};

        if (*p == 'e' || *p == 'E')
        {
            ++p;

            if (*p == '+' || *p == '-')
                ++p;

            int exponentDigits = 0;
            while (isDigit (*p)) { ++p; ++exponentDigits; }

            if (exponentDigits == 0 || exponentDigits > 4)
                return {};
        }

        if (! p.isEmpty())
            return {};

        return text.getDoubleValue();
    }

    // XML may repeat an attribute. The tree reads the first of a name but writes the last, so a
    // loaded child would play one value and save another: only the first of each name is kept.
    void keepFirstOfEachProperty (juce::ValueTree& tree)
    {
        juce::Array<juce::Identifier> seen, repeated;

        for (int i = 0; i < tree.getNumProperties(); ++i)
        {
            const auto name = tree.getPropertyName (i);

            if (! seen.contains (name))
                seen.add (name);
            else
                repeated.addIfNotAlreadyThere (name);
        }

        for (const auto& name : repeated)
        {
            const auto first = tree.getProperty (name);

            while (tree.hasProperty (name))
                tree.removeProperty (name, nullptr);

            tree.setProperty (name, first, nullptr);
        }
    }

    // The state wrapper: magic number, 32-bit little-endian text length, UTF-8 text. A length
    // past the data is cut to the data present.
    std::unique_ptr<juce::XmlElement> readStateXml (const void* data, int sizeInBytes)
    {
        if (sizeInBytes <= 8 || juce::ByteOrder::littleEndianInt (data) != 0x21324356)
            return {};

        const auto length = (int) juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (data, 4));

        if (length <= 0)
            return {};

        const auto* textStart = static_cast<const char*> (data) + 8;
        const auto textLength = juce::jmin (sizeInBytes - 8, length);

        if (textLength > maxTextBytes)
            return {};

        if (! isWellFormedUtf8 (reinterpret_cast<const uint8_t*> (textStart), textLength))
            return {};

        const auto text = juce::String::fromUTF8 (textStart, textLength);

        if (! isSafeToParse (text))
            return {};

        auto xml = juce::parseXML (text);

        if (xml == nullptr || ! hasFewAttributesPerElement (*xml))
            return {};

        return xml;
    }

    // A state block's document, when it is one this loader takes: its root is "Parameters" in
    // any case. Only the header and as much text as could ever be read are copied, since the host
    // may hand over far more bytes than that.
    std::unique_ptr<juce::XmlElement> readLoadableState (const void* data, int sizeInBytes)
    {
        if (data == nullptr || sizeInBytes <= 8)
            return {};

        const auto copied = juce::jmin (sizeInBytes, 8 + maxTextBytes + 1);
        juce::MemoryBlock padded (data, (size_t) copied);
        padded.setSize ((size_t) copied + decodePadding, true);

        auto xml = readStateXml (padded.getData(), copied);

        if (xml == nullptr || ! xml->getTagName().equalsIgnoreCase (parametersType.toString()))
            return {};

        return xml;
    }
}

//==============================================================================
void BrellDistortionProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    auto state = apvts.copyState();

    // The tree writes only values that changed since it was last replaced, so a loaded state that
    // lacked a parameter would be saved without its value; every PARAM carries one.
    for (auto child : state)
    {
        if (child.hasType (paramType) && ! child.hasProperty (valueProperty))
            if (auto* current = apvts.getRawParameterValue (child.getProperty (idProperty).toString()))
                child.setProperty (valueProperty, current->load(), nullptr);
    }

    juce::ValueTree grid (glitchGridType);

    for (int row = 0; row < GlitchPattern::numRows; ++row)
    {
        juce::String text;

        // One hex digit per step: cells outside 0..15 (a whole-row block is 16) are limited to it.
        for (int step = 0; step < GlitchPattern::numSteps; ++step)
            text << juce::String::toHexString (juce::jlimit (0, 15, (int) glitchPattern.get (row, step)));

        grid.setProperty (rowProperty (row), text, nullptr);
    }

    // The tree keeps the last loaded state whole, its grid included; write only the current one.
    for (int i = state.getNumChildren(); --i >= 0;)
        if (state.getChild (i).hasType (glitchGridType))
            state.removeChild (i, nullptr);

    state.appendChild (grid, nullptr);

    destData.reset();

    if (auto xml = state.createXml())
        copyXmlToBinary (*xml, destData);

    // A loaded state keeps whatever else it held, and what the save adds (a value for each
    // parameter, escapes for quotes) can take it past the loader's limits. A save that the loader
    // would refuse would lose the project's settings, so such a save keeps only the parameters and
    // the pattern.
    if (readLoadableState (destData.getData(), (int) destData.getSize()) == nullptr)
    {
        juce::ValueTree settingsOnly (parametersType);

        for (const auto& child : state)
        {
            if (child.hasType (paramType) && apvts.getParameter (child.getProperty (idProperty).toString()) != nullptr)
            {
                juce::ValueTree param (paramType);
                param.setProperty (idProperty, child.getProperty (idProperty), nullptr);
                param.setProperty (valueProperty, child.getProperty (valueProperty), nullptr);
                settingsOnly.appendChild (param, nullptr);
            }
        }

        settingsOnly.appendChild (grid.createCopy(), nullptr);
        destData.reset();

        if (auto xml = settingsOnly.createXml())
            copyXmlToBinary (*xml, destData);
    }
}

void BrellDistortionProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    const auto xml = readLoadableState (data, sizeInBytes);

    if (xml == nullptr)
        return;

    auto loaded = juce::ValueTree::fromXml (*xml);

    if (! loaded.isValid())
        return;

    // A root spelt in another case is adopted under the proper type, so the next save writes it
    // as it should be.
    if (! loaded.hasType (parametersType))
    {
        juce::ValueTree renamed (parametersType);
        renamed.copyPropertiesAndChildrenFrom (loaded, nullptr);
        loaded = renamed;
    }

    // The parameter tree binds a parameter to any child whose "id" names it, whatever the child's
    // type, and the last such child wins. So a child of another type that names a parameter loses
    // its id and value, and of several PARAM children for one parameter only the last, the one
    // that would have won, stays and is checked: what plays is then what the next save writes,
    // once each. A parameter that no PARAM child names takes its default, as with any state that
    // lacks it.
    // A value that isn't a finite number would reach the engine as NaN or infinity, and one that
    // isn't a number at all would read as 0: such a parameter keeps what it has. Finite values
    // are limited to the parameter's range.
    juce::StringArray boundIds;

    for (int i = loaded.getNumChildren(); --i >= 0;)
    {
        auto child = loaded.getChild (i);
        keepFirstOfEachProperty (child);
        const auto id = child.getProperty (idProperty).toString();
        auto* parameter = apvts.getParameter (id);
        auto* current = apvts.getRawParameterValue (id);

        if (parameter == nullptr || current == nullptr)
            continue;

        if (! child.hasType (paramType))
        {
            child.removeProperty (idProperty, nullptr);
            child.removeProperty (valueProperty, nullptr);
            continue;
        }

        if (boundIds.contains (id))
        {
            loaded.removeChild (i, nullptr);
            continue;
        }

        boundIds.add (id);

        if (! child.hasProperty (valueProperty))
            continue;

        // The value goes in as a number, so the text is never read again by anyone else.
        const auto value = readValue (child.getProperty (valueProperty));
        const auto& range = parameter->getNormalisableRange();

        if (! value.has_value() || ! std::isfinite (*value))
            child.setProperty (valueProperty, current->load(), nullptr);
        else
            child.setProperty (valueProperty, juce::jlimit ((double) range.start, (double) range.end, *value), nullptr);
    }

    apvts.replaceState (loaded);

    const auto grid = loaded.getChildWithName (glitchGridType);

    if (! grid.isValid())
        return;

    for (int row = 0; row < GlitchPattern::numRows; ++row)
    {
        const auto text = grid.getProperty (rowProperty (row)).toString();
        const auto numCells = juce::jmin (text.length(), GlitchPattern::numSteps);
        auto character = text.getCharPointer();

        for (int step = 0; step < numCells; ++step)
            glitchPattern.set (row, step, juce::String::charToString (character.getAndAdvance()).getHexValue32());
    }
}

//==============================================================================
void BrellDistortionProcessor::randomise()
{
    bool patternChanged = false;

    for (int row = 0; row < GlitchPattern::numRows; ++row)
    {
        int step = 0;

        while (step < GlitchPattern::numSteps)
        {
            // A block's first cell is cleared before it gets its length: what counts is the value it
            // held before and the one it ends up with.
            const auto previous = glitchPattern.set (row, step, 0);

            if (chaosRandom.nextFloat() < 0.25f)
            {
                const auto length = chaosRandom.nextInt (juce::jmin (GlitchPattern::numSteps - step, 4)) + 1;
                glitchPattern.set (row, step, length);
                patternChanged = patternChanged || previous != length;

                for (int covered = step + 1; covered < step + length; ++covered)
                    if (glitchPattern.set (row, covered, 0) != 0)
                        patternChanged = true;

                step += length;
            }
            else
            {
                patternChanged = patternChanged || previous != 0;
                ++step;
            }
        }
    }

    setParameterRandomly ("drive", 10.0f, 90.0f);
    setParameterRandomly ("mix", 50.0f, 100.0f);
    setParameterRandomly ("output", -12.0f, 3.0f);
    setParameterRandomly ("filterCutoff", 200.0f, 15000.0f);
    setParameterRandomly ("filterReso", 0.5f, 5.0f);
    setParameterRandomly ("glitchChaos", 20.0f, 90.0f);

    for (const auto* id : { "mode", "filterType" })
        if (auto* parameter = apvts.getParameter (id))
            parameter->setValueNotifyingHost (chaosRandom.nextFloat());

    if (patternChanged)
        notifyPatternChanged();
}

void BrellDistortionProcessor::resetAll()
{
    bool patternChanged = false;

    for (int row = 0; row < GlitchPattern::numRows; ++row)
        for (int step = 0; step < GlitchPattern::numSteps; ++step)
            if (glitchPattern.set (row, step, 0) != 0)
                patternChanged = true;

    for (const auto* id : { "drive", "mix", "output", "filterCutoff", "filterReso", "glitchChaos" })
        setParameterToMiddle (id);

    for (const auto* id : { "mode", "filterType" })
        if (auto* parameter = apvts.getParameter (id))
            parameter->setValueNotifyingHost (0.0f);

    if (patternChanged)
        notifyPatternChanged();
}

void BrellDistortionProcessor::notifyPatternChanged()
{
    // The pattern is no parameter, so hosts that only watch parameters would not see the project
    // change; this marks the saved state as modified instead.
    updateHostDisplay (ChangeDetails{}.withNonParameterStateChanged (true));
}

void BrellDistortionProcessor::setParameterRandomly (const juce::String& parameterId, float low, float high)
{
    auto* parameter = apvts.getParameter (parameterId);

    if (parameter == nullptr)
        return;

    const auto value = chaosRandom.nextFloat() * (high - low) + low;
    parameter->setValueNotifyingHost (parameter->getNormalisableRange().convertTo0to1 (value));
}

void BrellDistortionProcessor::setParameterToMiddle (const juce::String& parameterId)
{
    if (auto* parameter = apvts.getParameter (parameterId))
        parameter->setValueNotifyingHost (0.5f);
}
