#pragma once

#include <juce_core/juce_core.h>

#include <memory>
#include <string>
#include <vector>

/** One output (WAV, PNG, state bytes) of a run, written to a path the user named without ever
    destroying what that path stands for, and made the user's only once every output of the run
    is complete.

    A regular file, or a path that does not exist yet, is written to a uniquely named temporary
    file in the same folder, which commitOutputs syncs and renames over it, so a failed run
    leaves the old file as it was; a replaced file keeps its permission bits (and owner where
    allowed), a new one gets 0666 less the umask. A symbolic link is followed to its end and its
    target written that way, so the link stays a link (a dangling link creates its target). A
    regular file with more than one hard link is written to a temporary too, whose bytes
    commitOutputs copies into the file, so every link sees the new data (without a writable
    folder it is written in place at once). Anything else (a device such as /dev/null, a FIFO,
    /dev/stdout and the other /proc links) is opened and written in place as it is made.

    While a temporary exists, SIGINT, SIGTERM, SIGHUP, SIGPIPE and SIGXFSZ (those not ignored)
    remove it and then end the process as the signal would have; one that arrives while
    commitOutputs is renaming waits until it has done. */
class OutputFile
{
public:
    explicit OutputFile (const juce::File& file);
    /** Removes the temporary of an output that was never committed. */
    ~OutputFile();

    const juce::File& getFile() const noexcept      { return file; }

    /** Opens what gets written. Sets error to a message naming the path and returns false if it
        cannot (a folder, a missing folder, a refused write); nothing is then left behind. */
    bool open (juce::String& error);

    /** False for a pipe, terminal or device written in place: these cannot seek back. */
    bool canSeek() const noexcept;

    /** A buffered stream over the opened output, for a writer to own. Where the output cannot
        seek, headerIfUnseekable is sent first, and what the writer writes over those bytes
        (a header it rewrites once it knows the length) is dropped. */
    std::unique_ptr<juce::OutputStream> createStream (const juce::MemoryBlock& headerIfUnseekable = {});

    /** Flushes and syncs what its streams wrote, and closes it. For a temporary the output is
        then complete but still waits for commitOutputs. Sets error as open does. */
    bool finish (juce::String& error);

private:
    friend bool commitOutputs (const std::vector<OutputFile*>&, juce::String&);
    enum class Mode { replace, copyIn, inPlace };

    bool commit (juce::String& error);
    void removeTemporary();

    juce::File file;
    Mode mode = Mode::replace;
    std::string targetPath, temporaryPath;
    bool targetExists = false;
    unsigned int targetUid = 0, targetGid = 0, targetMode = 0;
    int fd = -1, registrySlot = -1;
    bool seekable = true;
    std::shared_ptr<int> firstError = std::make_shared<int> (0);    // errno of the first failed write

    JUCE_DECLARE_NON_COPYABLE (OutputFile)
};

/** Makes finished outputs the user's at once: first those copied into hard-linked files, then
    each temporary renamed over its path. Sets error naming the path and returns false when one
    fails; outputs not yet committed then stay as they were. */
bool commitOutputs (const std::vector<OutputFile*>& outputs, juce::String& error);

/** Writes a whole output made in memory: open, write, finish and commit in one. */
bool writeOutputFile (const juce::File& file, const void* data, size_t size, juce::String& error);

inline bool writeOutputFile (const juce::File& file, const juce::MemoryBlock& data, juce::String& error)
{
    return writeOutputFile (file, data.getData(), data.getSize(), error);
}

/** Checks, without creating, changing or removing anything, that an OutputFile could write
    this path now: its folder exists, it is not a folder, and the file (or, for a new or replaced
    file, its folder) is writable. Sets error as open would and returns false if not. */
bool checkOutputFile (const juce::File& file, juce::String& error);

/** True when both paths, their links followed, would write the same regular file, pipe or
    socket (one that exists, or the same new path); the same character device, /dev/null
    say, is no conflict. */
bool nameTheSameOutput (const juce::File& first, const juce::File& second);

/** True when the path names the same open file as this process's standard output (/dev/stdout,
    /proc/self/fd/1, or the very pipe, terminal or file that fd 1 is). */
bool isStandardOutput (const juce::File& file);
