#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

/** The sample rates render works at, given by --rate or by an input file's header alike. */
constexpr double lowestRenderRate = 8000.0;
constexpr double highestRenderRate = 384000.0;

/** An input for render, opened by what it holds rather than by its name. */
struct InputAudio
{
    std::unique_ptr<juce::AudioFormatReader> reader;
    juce::String name;                   // the full path, or "standard input"
    juce::int64 announcedLength = 0;     // samples per channel, as its header announces them
    juce::int64 heldLength = -1;         // samples per channel it holds when fewer than announced, else -1

    /** The samples per channel there are to render: those the input holds. */
    juce::int64 getLength() const noexcept    { return heldLength >= 0 ? heldLength : announcedLength; }
};

/** Opens the --in argument: a path, relative to the working directory, or "-" for standard input.
    A pipe or other stream that cannot seek (standard input, a FIFO, /dev/stdin) is first copied to
    a temporary file, which is unlinked at once so that nothing is left behind whatever happens.
    The format comes from the content, whatever the name. A WAV or AIFF of 12 or 20 bits in wider
    containers is read as those containers, where its samples sit left-justified. A WAV, AIFF or
    FLAC cut short of the length its header announces says so in heldLength. Returns false and sets
    error when the input cannot be rendered, naming the format or encoding found and why. */
bool openInputAudio (const juce::String& argument, InputAudio& input, juce::String& error);
