#include "HostTestSupport.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace hosttest;

// What the program's output options do to whatever their paths name: files are replaced whole,
// links are followed, devices and pipes are written in place, and failures leave nothing behind.
namespace
{
    constexpr juce::int64 renderedSamples = 2400;    // --seconds 0.05 at the default 48 kHz
    constexpr mode_t existingMode = 0640;
    const char* const oldContents = "old contents";

    std::string pathOf (const juce::File& file)    { return file.getFullPathName().toStdString(); }

    /** lstat of the path: a link is not followed; st_mode is 0 when nothing is there. */
    struct stat statusOf (const juce::File& file)
    {
        struct stat status {};
        if (::lstat (pathOf (file).c_str(), &status) != 0)
            status.st_mode = 0;
        return status;
    }

    std::string linkTarget (const juce::File& link)
    {
        std::error_code error;
        return std::filesystem::read_symlink (pathOf (link), error).string();
    }

    juce::MemoryBlock contentsOf (const juce::File& file)
    {
        juce::MemoryBlock bytes;
        file.loadFileAsData (bytes);
        return bytes;
    }

    ::testing::AssertionResult isRenderedWav (const juce::MemoryBlock& bytes)
    {
        if (bytes.getSize() < 12 || std::memcmp (bytes.getData(), "RIFF", 4) != 0)
            return ::testing::AssertionFailure() << "no RIFF header in " << bytes.getSize() << " bytes";

        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatReader> reader (wav.createReaderFor (new juce::MemoryInputStream (bytes, false), true));
        if (reader == nullptr)
            return ::testing::AssertionFailure() << "not readable as WAV";
        if (reader->numChannels != 2 || reader->lengthInSamples != renderedSamples)
            return ::testing::AssertionFailure() << reader->numChannels << " channels, " << reader->lengthInSamples << " samples";
        return ::testing::AssertionSuccess();
    }

    /** Every entry below the folder as a relative path, links not followed, hidden ones included. */
    std::set<std::string> entriesBelow (const juce::File& folder)
    {
        std::set<std::string> names;
        const std::filesystem::path root (pathOf (folder));
        for (const auto& entry : std::filesystem::recursive_directory_iterator (root))
            names.insert (entry.path().lexically_relative (root).string());
        return names;
    }

    std::string describe (const std::set<std::string>& names)
    {
        std::string text;
        for (const auto& name : names)
            text += " " + name;
        return text;
    }

    ProgramResult render (const juce::StringArray& options)
    {
        juce::StringArray arguments { "render", bundleFile().getFullPathName(), "--seconds", "0.05" };
        arguments.addArray (options);
        return runHostProgram (arguments);
    }

    /** What a case puts in its folder before the run. */
    struct Entry
    {
        enum Kind { file, folder, link, hardLink } kind;
        const char* path;
        const char* target = "";    // a link's text ("/x" means x in the case folder) or a hard link's file
    };

    void make (const juce::File& folder, const Entry& entry)
    {
        const auto file = folder.getChildFile (entry.path);
        ASSERT_TRUE (file.getParentDirectory().createDirectory());
        switch (entry.kind)
        {
            case Entry::file:
                ASSERT_TRUE (file.replaceWithText (oldContents));
                ASSERT_EQ (::chmod (pathOf (file).c_str(), existingMode), 0);
                break;
            case Entry::folder:
                ASSERT_TRUE (file.createDirectory());
                break;
            case Entry::link:
            {
                const std::string target = entry.target[0] == '/' ? pathOf (folder) + entry.target : entry.target;
                ASSERT_EQ (::symlink (target.c_str(), pathOf (file).c_str()), 0) << entry.path;
                break;
            }
            case Entry::hardLink:
                ASSERT_EQ (::link (pathOf (folder.getChildFile (entry.target)).c_str(), pathOf (file).c_str()), 0) << entry.path;
                break;
        }
    }

    /** Links still links with the same text, hard links still sharing their file. */
    void expectEntriesKept (const juce::File& folder, const std::vector<Entry>& entries)
    {
        for (const auto& entry : entries)
        {
            const auto file = folder.getChildFile (entry.path);
            if (entry.kind == Entry::link)
            {
                EXPECT_TRUE (S_ISLNK (statusOf (file).st_mode)) << entry.path << " is no longer a link";
                const std::string target = entry.target[0] == '/' ? pathOf (folder) + entry.target : entry.target;
                EXPECT_EQ (linkTarget (file), target) << entry.path;
            }
            else if (entry.kind == Entry::hardLink)
            {
                EXPECT_EQ (statusOf (file).st_ino, statusOf (folder.getChildFile (entry.target)).st_ino) << entry.path;
                EXPECT_EQ (statusOf (file).st_nlink, 2u) << entry.path;
            }
        }
    }

    class OutputPaths : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            // mkdtemp picks and makes the name in one step, so cases running side by side in
            // other processes never share a folder.
            auto pattern = pathOf (juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("zandor-output-paths-XXXXXX"));
            ASSERT_NE (::mkdtemp (pattern.data()), nullptr) << pattern;
            folder = juce::File (pattern);
        }

        void TearDown() override    { folder.deleteRecursively(); }

        /** A fresh folder for one case of a table, holding the case's entries. */
        juce::File makeCaseFolder (int index, const std::vector<Entry>& entries)
        {
            const auto caseFolder = folder.getChildFile ("case" + juce::String (index));
            EXPECT_TRUE (caseFolder.createDirectory());
            for (const auto& entry : entries)
                make (caseFolder, entry);
            return caseFolder;
        }

        juce::File folder;
    };
}

TEST_F (OutputPaths, RenderReplacesFilesAndWritesThroughLinks)
{
    const auto mask = ::umask (0);
    ::umask (mask);
    const mode_t newMode = 0666 & ~mask;

    struct Case
    {
        const char* name;
        std::vector<Entry> before;
        const char* out;
        const char* wavAt;        // the regular file that must end up holding the WAV
        mode_t mode;
        std::set<std::string> created;
    };

    const Case cases[] = {
        { "an existing file", { { Entry::file, "old.wav" } }, "old.wav", "old.wav", existingMode, {} },
        { "a new path", {}, "new.wav", "new.wav", newMode, { "new.wav" } },
        { "an absolute link",
          { { Entry::file, "data/target.wav" }, { Entry::link, "link.wav", "/data/target.wav" } },
          "link.wav", "data/target.wav", existingMode, {} },
        { "relative links in a chain, each against its own folder",
          { { Entry::file, "data/target.wav" }, { Entry::link, "data/chain.wav", "target.wav" },
            { Entry::link, "links/first.wav", "../data/chain.wav" } },
          "links/first.wav", "data/target.wav", existingMode, {} },
        { "a dangling link", { { Entry::link, "dangling.wav", "made.wav" } }, "dangling.wav", "made.wav", newMode, { "made.wav" } },
        { "a file with a second hard link",
          { { Entry::file, "shared.wav" }, { Entry::hardLink, "other.wav", "shared.wav" } },
          "shared.wav", "other.wav", existingMode, {} },
    };

    int index = 0;
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto caseFolder = makeCaseFolder (index++, c.before);
        const auto entriesBefore = entriesBelow (caseFolder);

        const auto result = render ({ "--out", caseFolder.getChildFile (c.out).getFullPathName() });
        EXPECT_EQ (result.exitCode, 0) << result.output;

        const auto written = caseFolder.getChildFile (c.wavAt);
        EXPECT_TRUE (S_ISREG (statusOf (written).st_mode));
        EXPECT_EQ (statusOf (written).st_mode & 07777, c.mode);
        EXPECT_TRUE (isRenderedWav (contentsOf (written)));
        expectEntriesKept (caseFolder, c.before);

        auto expected = entriesBefore;
        expected.insert (c.created.begin(), c.created.end());
        EXPECT_EQ (entriesBelow (caseFolder), expected) << "after:" << describe (entriesBelow (caseFolder));
    }
}

TEST_F (OutputPaths, RenderWritesIntoAFifoForItsReader)
{
    const auto fifo = folder.getChildFile ("pipe.wav");
    ASSERT_EQ (::mkfifo (pathOf (fifo).c_str(), 0600), 0) << std::strerror (errno);
    // Reaches the pipe even if a run removed its name.
    const auto handle = ::open (pathOf (fifo).c_str(), O_PATH | O_CLOEXEC);
    ASSERT_GE (handle, 0);

    juce::MemoryBlock received;
    std::atomic<bool> readerDone { false };
    std::thread reader ([&]
    {
        const auto fd = ::open (("/proc/self/fd/" + std::to_string (handle)).c_str(), O_RDONLY | O_CLOEXEC);
        char buffer[4096];
        for (ssize_t count = 0; fd >= 0 && ((count = ::read (fd, buffer, sizeof (buffer))) > 0 || (count < 0 && errno == EINTR));)
            if (count > 0)
                received.append (buffer, (size_t) count);
        if (fd >= 0)
            ::close (fd);
        readerDone = true;
    });

    const auto result = render ({ "--out", fifo.getFullPathName() });

    // A run that never opened the pipe leaves the reader waiting: a writer that comes and goes frees it.
    while (! readerDone)
    {
        const auto writer = ::open (("/proc/self/fd/" + std::to_string (handle)).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0)
            ::close (writer);
        std::this_thread::sleep_for (std::chrono::milliseconds (10));
    }
    reader.join();
    ::close (handle);

    EXPECT_EQ (result.exitCode, 0) << result.output;
    EXPECT_TRUE (S_ISFIFO (statusOf (fifo).st_mode));
    EXPECT_TRUE (isRenderedWav (received));
    EXPECT_EQ (entriesBelow (folder), std::set<std::string> { "pipe.wav" });
}

TEST_F (OutputPaths, RenderWritesACharacterDeviceInPlace)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "making a device node needs root";

    // A null device of our own, so the machine's /dev/null is never at stake.
    const auto device = folder.getChildFile ("null");
    ASSERT_EQ (::mknod (pathOf (device).c_str(), S_IFCHR | 0666, ::makedev (1, 3)), 0) << std::strerror (errno);
    const auto probe = ::open (pathOf (device).c_str(), O_WRONLY | O_CLOEXEC);
    if (probe < 0)
        GTEST_SKIP() << "device nodes cannot be opened in " << folder.getFullPathName() << ": " << std::strerror (errno);
    ::close (probe);
    const auto link = folder.getChildFile ("state-link");
    ASSERT_EQ (::symlink ("null", pathOf (link).c_str()), 0);

    const auto result = render ({ "--out", device.getFullPathName(), "--save-state", link.getFullPathName() });
    EXPECT_EQ (result.exitCode, 0) << result.output;

    const auto status = statusOf (device);
    EXPECT_TRUE (S_ISCHR (status.st_mode));
    EXPECT_EQ (status.st_rdev, ::makedev (1, 3));
    EXPECT_EQ (linkTarget (link), "null");
    EXPECT_EQ (entriesBelow (folder), (std::set<std::string> { "null", "state-link" }));
}

TEST_F (OutputPaths, FailedWritesNameThePathAndLeaveEveryExistingFileAsItWas)
{
    struct Case
    {
        const char* name;
        std::vector<Entry> before;
        juce::StringArray options;    // "@" stands for the case folder
        const char* path;             // the one that cannot be written
        const char* reason;
        bool limitFileSize;           // a 512-byte file size limit makes a write fail part way through
    };

    // Every output is complete before any is renamed or copied over its file, so a failure on
    // the last leaves the first one's file as it was too. The state (592 bytes) fails the size
    // limit where a WAV of 0 s (104 bytes) does not.
    const Case cases[] = {
        { "--out in a missing folder", {}, { "--out", "@/missing/out.wav" }, "@/missing/out.wav", "/missing does not exist", false },
        { "--save-state in a missing folder", {}, { "--save-state", "@/missing/state.bin" }, "@/missing/state.bin",
          "/missing does not exist", false },
        { "--out naming a folder", { { Entry::folder, "dir.wav" } }, { "--out", "@/dir.wav" }, "@/dir.wav", "it is a folder", false },
        { "--out failing part way", { { Entry::file, "old.wav" } }, { "--out", "@/old.wav" }, "@/old.wav", std::strerror (EFBIG), true },
        { "the state failing on a full device after the WAV", { { Entry::file, "old.wav" } },
          { "--out", "@/old.wav", "--save-state", "/dev/full" }, "/dev/full", std::strerror (ENOSPC), false },
        { "the state failing part way after the WAV", { { Entry::file, "old.wav" }, { Entry::file, "old.bin" } },
          { "--seconds", "0", "--out", "@/old.wav", "--save-state", "@/old.bin" }, "@/old.bin", std::strerror (EFBIG), true },
        { "the state failing after a WAV for a file with a second hard link",
          { { Entry::file, "shared.wav" }, { Entry::hardLink, "other.wav", "shared.wav" } },
          { "--out", "@/shared.wav", "--save-state", "/dev/full" }, "/dev/full", std::strerror (ENOSPC), false },
    };

    int index = 0;
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto caseFolder = makeCaseFolder (index++, c.before);
        const auto entriesBefore = entriesBelow (caseFolder);
        const auto path = juce::String (c.path).replace ("@", caseFolder.getFullPathName());

        juce::StringArray command;
        if (c.limitFileSize)
            command.addArray ({ "/bin/sh", "-c", "ulimit -f 1 && trap '' XFSZ && exec \"$0\" \"$@\"" });
        command.add (hostProgram().getFullPathName());
        command.addArray ({ "render", bundleFile().getFullPathName(), "--seconds", "0.05" });
        for (const auto& option : c.options)
            command.add (option.replace ("@", caseFolder.getFullPathName()));
        const auto result = runProgram (command);

        EXPECT_EQ (result.exitCode, 1) << result.output;
        EXPECT_TRUE (result.output.contains ("cannot write " + path + ": ")) << result.output;
        EXPECT_TRUE (result.output.contains (c.reason)) << result.output;
        EXPECT_FALSE (result.output.contains ("written: ") || result.output.contains ("state saved: ")) << result.output;
        EXPECT_EQ (entriesBelow (caseFolder), entriesBefore) << "after:" << describe (entriesBelow (caseFolder));
        expectEntriesKept (caseFolder, c.before);
        for (const auto& entry : c.before)
        {
            if (entry.kind != Entry::folder)
            {
                EXPECT_EQ (caseFolder.getChildFile (entry.path).loadFileAsString(), juce::String (oldContents)) << entry.path;
            }
        }
    }
}

namespace
{
    bool hasTemporary (const juce::File& folder)
    {
        for (const auto& name : entriesBelow (folder))
            if (juce::String (name).endsWith (".tmp"))
                return true;
        return false;
    }
}

TEST_F (OutputPaths, ASignalDuringARenderRemovesItsTemporaryAndEndsTheRunAsTheSignalWould)
{
    for (const auto signalNumber : { SIGINT, SIGTERM, SIGHUP })
    {
        SCOPED_TRACE (strsignal (signalNumber));
        const std::vector<Entry> before { { Entry::file, "old.wav" }, { Entry::file, "old.bin" } };
        const auto caseFolder = makeCaseFolder (signalNumber, before);
        const auto entriesBefore = entriesBelow (caseFolder);

        // An hour of audio: the WAV streams into its temporary for far longer than this takes.
        const auto child = startHostProgram ({ "render", bundleFile().getFullPathName(), "--seconds", "3600", "--quiet",
                                               "--out", caseFolder.getChildFile ("old.wav").getFullPathName(),
                                               "--save-state", caseFolder.getChildFile ("old.bin").getFullPathName() });
        ASSERT_GT (child, 0);
        int status = 0;
        bool exited = false;
        const auto deadline = juce::Time::getMillisecondCounterHiRes() + 60000.0;
        while (! hasTemporary (caseFolder) && ! exited && juce::Time::getMillisecondCounterHiRes() < deadline)
        {
            exited = ::waitpid (child, &status, WNOHANG) == child;
            std::this_thread::sleep_for (std::chrono::milliseconds (5));
        }
        const bool streaming = hasTemporary (caseFolder);
        EXPECT_TRUE (streaming) << "no temporary while rendering";
        EXPECT_FALSE (exited);

        if (! exited)
        {
            ::kill (child, streaming ? signalNumber : SIGKILL);
            ASSERT_EQ (::waitpid (child, &status, 0), child);
        }
        EXPECT_TRUE (WIFSIGNALED (status) && WTERMSIG (status) == signalNumber)
            << (WIFEXITED (status) ? "exit code " + std::to_string (WEXITSTATUS (status))
                                   : std::string ("signal ") + strsignal (WTERMSIG (status)));
        EXPECT_EQ (entriesBelow (caseFolder), entriesBefore) << "after:" << describe (entriesBelow (caseFolder));
        for (const auto& entry : before)
            EXPECT_EQ (caseFolder.getChildFile (entry.path).loadFileAsString(), juce::String (oldContents)) << entry.path;
    }
}

TEST_F (OutputPaths, SaveStateWritesThroughALinkAndLoadsBack)
{
    const std::vector<Entry> entries { { Entry::file, "settings.bin" }, { Entry::link, "current.state", "settings.bin" } };
    for (const auto& entry : entries)
        make (folder, entry);
    const auto link = folder.getChildFile ("current.state");

    const auto saved = render ({ "--set", "drive=70", "--save-state", link.getFullPathName() });
    ASSERT_EQ (saved.exitCode, 0) << saved.output;
    expectEntriesKept (folder, entries);
    const auto target = folder.getChildFile ("settings.bin");
    EXPECT_TRUE (S_ISREG (statusOf (target).st_mode));
    EXPECT_EQ (statusOf (target).st_mode & 07777, existingMode);
    const auto size = target.getSize();
    EXPECT_GT (size, 16);
    EXPECT_TRUE (saved.output.contains ("state saved: " + juce::String (size) + " bytes")) << saved.output;

    const auto loaded = render ({ "--load-state", link.getFullPathName(), "--set", "mix=0.5n" });
    ASSERT_EQ (loaded.exitCode, 0) << loaded.output;
    EXPECT_TRUE (loaded.output.contains ("state handed to the plug-in: " + juce::String (size)
                                         + " bytes (the state it reports back has changed)")) << loaded.output;
    EXPECT_TRUE (loaded.output.contains ("param Drive = 70.0")) << loaded.output;
    EXPECT_EQ (entriesBelow (folder), (std::set<std::string> { "settings.bin", "current.state" }));
}

TEST_F (OutputPaths, EditorScreenshotWritesThroughALink)
{
    SKIP_WITHOUT_DISPLAY();
    const std::vector<Entry> entries { { Entry::file, "pictures/editor.png" }, { Entry::link, "shot.png", "pictures/editor.png" } };
    for (const auto& entry : entries)
        make (folder, entry);

    const auto result = runHostProgram ({ "editor", bundleFile().getFullPathName(), "--seconds", "0.3",
                                          "--screenshot", folder.getChildFile ("shot.png").getFullPathName() });
    ASSERT_EQ (result.exitCode, 0) << result.output;
    expectEntriesKept (folder, entries);

    const auto target = folder.getChildFile ("pictures/editor.png");
    EXPECT_TRUE (S_ISREG (statusOf (target).st_mode));
    EXPECT_EQ (statusOf (target).st_mode & 07777, existingMode);
    const auto image = juce::ImageFileFormat::loadFrom (target);
    ASSERT_TRUE (image.isValid());
    EXPECT_GE (image.getWidth(), 820);
    EXPECT_GE (image.getHeight(), 700);
    EXPECT_EQ (entriesBelow (folder), (std::set<std::string> { "pictures", "pictures/editor.png", "shot.png" }));
}

namespace
{
    /** Exactly one WAV: the RIFF size covers every byte, with nothing before or after it. */
    ::testing::AssertionResult isOneRenderedWav (const juce::MemoryBlock& bytes)
    {
        if (bytes.getSize() < 8)
            return ::testing::AssertionFailure() << "only " << bytes.getSize() << " bytes";
        const auto riffSize = (size_t) juce::ByteOrder::littleEndianInt (static_cast<const char*> (bytes.getData()) + 4);
        if (riffSize + 8 != bytes.getSize())
            return ::testing::AssertionFailure() << "the RIFF header covers " << riffSize + 8 << " of " << bytes.getSize() << " bytes";
        return isRenderedWav (bytes);
    }
}

TEST_F (OutputPaths, AnOutputOnStandardOutputIsAloneThereAndTheReportGoesToStderr)
{
    // The state a run with these settings saves, for comparison with the one sent to stdout.
    const auto stateFile = folder.getChildFile ("state.bin");
    ASSERT_EQ (render ({ "--set", "drive=70", "--save-state", stateFile.getFullPathName() }).exitCode, 0);
    const auto savedState = contentsOf (stateFile);
    const auto fifo = folder.getChildFile ("stdout.fifo");
    ASSERT_EQ (::mkfifo (pathOf (fifo).c_str(), 0600), 0) << std::strerror (errno);

    struct Case
    {
        const char* name;
        juce::StringArray options;
        bool stdoutIsTheFifo;                 // stdout is the FIFO itself rather than a pipe of its own
        bool isState;                         // stdout holds the state rather than a WAV
        std::vector<const char*> reportLines; // on stderr
    };

    const auto fifoPath = fifo.getFullPathName();
    const Case cases[] = {
        { "--out /dev/stdout", { "--out", "/dev/stdout" }, false, false, { "rendering: 0.050 s", "output finite: yes", "written: /dev/stdout" } },
        { "--out /dev/stdout --quiet", { "--quiet", "--out", "/dev/stdout" }, false, false, { "rendering: 0.050 s", "written: /dev/stdout" } },
        { "--out /proc/self/fd/1", { "--out", "/proc/self/fd/1" }, false, false, { "output channel 1: peak", "written: /proc/self/fd/1" } },
        { "--out /dev/fd/1 with --set", { "--set", "mix=50", "--out", "/dev/fd/1" }, false, false, { "param Mix = 50.0", "written: /dev/fd/1" } },
        { "--out naming the FIFO that stdout is", { "--out", fifoPath }, true, false, { "rendering: 0.050 s", "written: " } },
        { "--save-state /dev/stdout", { "--set", "drive=70", "--save-state", "/dev/stdout" }, false, true,
          { "param Drive = 70.0", "output finite: yes", "state saved: " } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        int readEnd = -1, writeEnd = -1;
        if (c.stdoutIsTheFifo)
        {
            readEnd = ::open (pathOf (fifo).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            writeEnd = ::open (pathOf (fifo).c_str(), O_WRONLY | O_CLOEXEC);
            ASSERT_GE (readEnd, 0);
            ASSERT_GE (writeEnd, 0);
            ASSERT_EQ (::fcntl (readEnd, F_SETFL, 0), 0);
        }

        juce::StringArray arguments { "render", bundleFile().getFullPathName(), "--seconds", "0.05" };
        arguments.addArray (c.options);
        const auto result = runHostProgramWithSeparateStreams (arguments, readEnd, writeEnd);

        EXPECT_EQ (result.exitCode, 0) << result.standardError;
        if (c.isState)
            EXPECT_EQ (result.standardOutput, savedState) << result.standardOutput.getSize() << " bytes on stdout";
        else
            EXPECT_TRUE (isOneRenderedWav (result.standardOutput));
        for (const auto* line : c.reportLines)
            EXPECT_TRUE (result.standardError.contains (line)) << line << "\nnot in:\n" << result.standardError;
    }
    EXPECT_EQ (entriesBelow (folder), (std::set<std::string> { "state.bin", "stdout.fifo" }));
}

TEST_F (OutputPaths, ACharacterDeviceNamedTwiceTakesBothOutputs)
{
    struct Case
    {
        const char* name;
        juce::StringArray options;
        bool stdoutIsDevNull;    // otherwise a pipe, which then carries the report
    };

    // The usual way to throw all output away; a pipe or file named twice stays refused (above).
    const Case cases[] = {
        { "--out /dev/null --save-state /dev/null > /dev/null", { "--out", "/dev/null", "--save-state", "/dev/null" }, true },
        { "--out /dev/stdout --save-state /dev/null > /dev/null", { "--out", "/dev/stdout", "--save-state", "/dev/null" }, true },
        { "--out /dev/null --save-state /dev/null into a pipe", { "--out", "/dev/null", "--save-state", "/dev/null" }, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto readEnd = c.stdoutIsDevNull ? ::open ("/dev/null", O_RDONLY | O_CLOEXEC) : -1;
        const auto writeEnd = c.stdoutIsDevNull ? ::open ("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
        juce::StringArray arguments { "render", bundleFile().getFullPathName(), "--seconds", "0.05" };
        arguments.addArray (c.options);
        const auto result = runHostProgramWithSeparateStreams (arguments, readEnd, writeEnd);

        EXPECT_EQ (result.exitCode, 0) << result.standardError;
        const auto report = c.stdoutIsDevNull ? result.standardError : result.standardOutput.toString();
        for (const auto* line : { "output finite: yes", "written: /dev/", "state saved: " })
            EXPECT_TRUE (report.contains (line)) << line << "\nnot in:\n" << report;
    }
    EXPECT_TRUE (entriesBelow (folder).empty());
}

TEST_F (OutputPaths, ARunThatCannotWriteOneOutputWritesNone)
{
    struct Case
    {
        const char* name;
        std::vector<Entry> before;
        juce::StringArray arguments;    // "@" stands for the case folder
        const char* message;
    };

    const auto bundle = bundleFile().getFullPathName();
    const Case cases[] = {
        { "the state's folder is missing", {}, { "render", bundle, "--out", "@/out.wav", "--save-state", "@/missing/state.bin" },
          "cannot write @/missing/state.bin: the folder @/missing does not exist" },
        { "the WAV's folder is missing", {}, { "render", bundle, "--save-state", "@/state.bin", "--out", "@/missing/out.wav" },
          "cannot write @/missing/out.wav: the folder @/missing does not exist" },
        { "the state path is a folder", { { Entry::folder, "state.bin" } },
          { "render", bundle, "--out", "@/out.wav", "--save-state", "@/state.bin" }, "cannot write @/state.bin: it is a folder" },
        { "the state path is a link to a missing folder", { { Entry::link, "state.bin", "/gone/state.bin" } },
          { "render", bundle, "--out", "@/out.wav", "--save-state", "@/state.bin" }, "/gone does not exist" },
        { "both outputs on standard output", {}, { "render", bundle, "--out", "/dev/stdout", "--save-state", "/proc/self/fd/1" },
          "--out and --save-state both name standard output" },
        { "both outputs naming one new file", {}, { "render", bundle, "--out", "@/same.x", "--save-state", "@/same.x" },
          "--out and --save-state both name @/same.x, which can hold only one of them" },
        { "both outputs naming one new file through folders spelt apart",
          { { Entry::folder, "data" }, { Entry::link, "alias", "/data" } },
          { "render", bundle, "--out", "@/data/same.x", "--save-state", "@/alias/same.x" },
          "--out and --save-state both name @/alias/same.x, which can hold only one of them" },
        { "both outputs naming one file, one through a link", { { Entry::file, "same.x" }, { Entry::link, "link.x", "same.x" } },
          { "render", bundle, "--out", "@/link.x", "--save-state", "@/same.x" },
          "--out and --save-state both name @/same.x, which can hold only one of them" },
        { "both outputs naming one file by two hard links", { { Entry::file, "a.x" }, { Entry::hardLink, "b.x", "a.x" } },
          { "render", bundle, "--out", "@/a.x", "--save-state", "@/b.x" },
          "--out and --save-state both name @/b.x, which can hold only one of them" },
        { "--out ending in a slash, no such folder", {}, { "render", bundle, "--out", "@/newname/" },
          "cannot write @/newname/: a path ending in \"/\" names a folder, and there is none" },
        { "--save-state ending in /., no such folder", {}, { "render", bundle, "--out", "@/out.wav", "--save-state", "@/newname/." },
          "cannot write @/newname/.: a path ending in \"/.\" names a folder, and there is none" },
        { "--out ending in a slash, a folder", { { Entry::folder, "folder" } }, { "render", bundle, "--out", "@/folder/" },
          "cannot write @/folder: it is a folder" },
        { "the screenshot's folder is missing", {}, { "editor", bundle, "--seconds", "0", "--screenshot", "@/missing/shot.png" },
          "cannot write @/missing/shot.png: the folder @/missing does not exist" },
        { "the screenshot ending in a slash", {}, { "editor", bundle, "--seconds", "0", "--screenshot", "@/shots/" },
          "cannot write @/shots/: a path ending in \"/\" names a folder, and there is none" },
    };

    int index = 0;
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto caseFolder = makeCaseFolder (index++, c.before);
        const auto entriesBefore = entriesBelow (caseFolder);
        juce::StringArray arguments;
        for (const auto& argument : c.arguments)
            arguments.add (argument.replace ("@", caseFolder.getFullPathName()));

        const auto result = runHostProgramWithSeparateStreams (arguments);
        EXPECT_EQ (result.exitCode, 1) << result.standardError;
        EXPECT_TRUE (result.standardError.contains (juce::String (c.message).replace ("@", caseFolder.getFullPathName())))
            << result.standardError;
        // Refused before the plug-in was even loaded: nothing was rendered, shown or written.
        EXPECT_FALSE (result.standardError.contains ("rendering:") || result.standardError.contains ("editor size:")) << result.standardError;
        EXPECT_EQ (result.standardOutput.getSize(), 0u) << result.standardOutput.toString();
        EXPECT_EQ (entriesBelow (caseFolder), entriesBefore) << "after:" << describe (entriesBelow (caseFolder));
    }
}

TEST_F (OutputPaths, EditorScreenshotOnStandardOutputIsThePngAlone)
{
    SKIP_WITHOUT_DISPLAY();
    const auto result = runHostProgramWithSeparateStreams ({ "editor", bundleFile().getFullPathName(), "--seconds", "0.3",
                                                             "--screenshot", "/dev/stdout" });
    ASSERT_EQ (result.exitCode, 0) << result.standardError;

    // A PNG runs from its signature to its IEND chunk, whose CRC is fixed.
    const auto& png = result.standardOutput;
    const unsigned char signature[] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n' };
    const unsigned char ending[] = { 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82 };
    ASSERT_GT (png.getSize(), sizeof (signature) + sizeof (ending));
    ASSERT_EQ (std::memcmp (png.getData(), signature, sizeof (signature)), 0) << png.toString().substring (0, 200);
    EXPECT_EQ (std::memcmp (static_cast<const char*> (png.getData()) + png.getSize() - sizeof (ending), ending, sizeof (ending)), 0);

    juce::MemoryInputStream stream (png, false);
    const auto image = juce::PNGImageFormat().decodeImage (stream);
    ASSERT_TRUE (image.isValid());
    EXPECT_GE (image.getWidth(), 820);
    EXPECT_GE (image.getHeight(), 700);
    for (const auto* line : { "editor size: 820 x 700", "screenshot: /dev/stdout", "output finite: yes" })
        EXPECT_TRUE (result.standardError.contains (line)) << line << "\nnot in:\n" << result.standardError;
}
