#pragma once

#include <juce_core/juce_core.h>

/** Writes a finished output (WAV, PNG, state bytes) to a path the user named, without ever
    destroying what that path stands for.

    A regular file, or a path that does not exist yet, is written to a uniquely named temporary
    file in the same folder, synced and then renamed over it, so a failed write leaves the old
    file as it was; a replaced file keeps its permission bits (and owner where allowed), a new
    one gets 0666 less the umask. A symbolic link is followed to its end and its target written
    that way, so the link stays a link (a dangling link creates its target). A regular file with
    more than one hard link is truncated and written in place so every link sees the new data.
    Anything else (a device such as /dev/null, a FIFO, /dev/stdout and the other /proc links) is
    opened and written in place. A directory, a missing folder or a refused write sets error to a
    message naming the path and returns false, and leaves no temporary file behind. */
bool writeOutputFile (const juce::File& file, const void* data, size_t size, juce::String& error);

inline bool writeOutputFile (const juce::File& file, const juce::MemoryBlock& data, juce::String& error)
{
    return writeOutputFile (file, data.getData(), data.getSize(), error);
}

/** Checks, without creating, changing or removing anything, that writeOutputFile could write
    this path now: its folder exists, it is not a folder, and the file (or, for a new or replaced
    file, its folder) is writable. Sets error as writeOutputFile would and returns false if not. */
bool checkOutputFile (const juce::File& file, juce::String& error);

/** True when the path names the same open file as this process's standard output (/dev/stdout,
    /proc/self/fd/1, or the very pipe, terminal or file that fd 1 is). */
bool isStandardOutput (const juce::File& file);
