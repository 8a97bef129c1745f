#include "BrellDistortionProcessor.h"

#include <cmath>

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

    // This plug-in only ever writes a declaration and a shallow tree of a dozen elements. JUCE's
    // XML reader recurses once per nested element, never returns from a processing instruction
    // inside element content, expands entities from an inline DTD without limit, and steps past
    // the end of the text after a hex character reference that isn't closed by ';'. Texts that
    // could lead it into any of these are refused before they reach it.
    constexpr int maxTagOpenings = 512;

    bool hasUnterminatedHexReference (const juce::String& text)
    {
        for (auto at = text.indexOfIgnoreCase ("&#x"); at >= 0; at = text.indexOfIgnoreCase (at + 3, "&#x"))
        {
            auto p = text.getCharPointer() + (at + 3);

            for (int digits = 0; digits < 8 && juce::CharacterFunctions::getHexDigitValue (*p) >= 0; ++digits)
                ++p;

            if (*p != ';')
                return true;
        }

        return false;
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

    // The state wrapper: magic number, 32-bit little-endian text length, UTF-8 text. A length
    // past the data is cut to the data present.
    std::unique_ptr<juce::XmlElement> readStateXml (const void* data, int sizeInBytes)
    {
        if (sizeInBytes <= 8 || juce::ByteOrder::littleEndianInt (data) != 0x21324356)
            return {};

        const auto length = (int) juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (data, 4));

        if (length <= 0)
            return {};

        const auto text = juce::String::fromUTF8 (static_cast<const char*> (data) + 8, juce::jmin (sizeInBytes - 8, length));

        if (! isSafeToParse (text))
            return {};

        return juce::parseXML (text);
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
}

void BrellDistortionProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 8)
        return;

    juce::MemoryBlock padded (data, (size_t) sizeInBytes);
    padded.setSize ((size_t) sizeInBytes + decodePadding, true);

    const auto xml = readStateXml (padded.getData(), sizeInBytes);

    if (xml == nullptr || ! xml->getTagName().equalsIgnoreCase (parametersType.toString()))
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

    // A value that isn't a finite number would reach the engine as NaN or infinity: such a
    // parameter keeps what it has. Finite values are limited to the parameter's range.
    for (auto child : loaded)
    {
        if (! child.hasType (paramType) || ! child.hasProperty (valueProperty))
            continue;

        const auto id = child.getProperty (idProperty).toString();
        auto* parameter = apvts.getParameter (id);
        auto* current = apvts.getRawParameterValue (id);

        if (parameter == nullptr || current == nullptr)
            continue;

        const auto value = static_cast<double> (child.getProperty (valueProperty));
        const auto& range = parameter->getNormalisableRange();

        if (! std::isfinite (value))
            child.setProperty (valueProperty, current->load(), nullptr);
        else if (value < (double) range.start || value > (double) range.end)
            child.setProperty (valueProperty, juce::jlimit ((double) range.start, (double) range.end, value), nullptr);
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
    for (int row = 0; row < GlitchPattern::numRows; ++row)
    {
        int step = 0;

        while (step < GlitchPattern::numSteps)
        {
            glitchPattern.set (row, step, 0);

            if (chaosRandom.nextFloat() < 0.25f)
            {
                const auto length = chaosRandom.nextInt (juce::jmin (GlitchPattern::numSteps - step, 4)) + 1;
                glitchPattern.set (row, step, length);

                for (int covered = step + 1; covered < step + length; ++covered)
                    glitchPattern.set (row, covered, 0);

                step += length;
            }
            else
            {
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
}

void BrellDistortionProcessor::resetAll()
{
    for (int row = 0; row < GlitchPattern::numRows; ++row)
        for (int step = 0; step < GlitchPattern::numSteps; ++step)
            glitchPattern.set (row, step, 0);

    for (const auto* id : { "drive", "mix", "output", "filterCutoff", "filterReso", "glitchChaos" })
        setParameterToMiddle (id);

    for (const auto* id : { "mode", "filterType" })
        if (auto* parameter = apvts.getParameter (id))
            parameter->setValueNotifyingHost (0.0f);
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
