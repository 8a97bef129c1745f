#include "OutputFile.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
    juce::String describe (int errorNumber)
    {
        return juce::String::fromUTF8 (std::strerror (errorNumber));
    }

    std::string folderOf (const std::string& path)
    {
        const auto slash = path.rfind ('/');
        if (slash == std::string::npos)
            return ".";
        return slash == 0 ? std::string ("/") : path.substr (0, slash);
    }

    std::string nameOf (const std::string& path)
    {
        const auto slash = path.rfind ('/');
        return slash == std::string::npos ? path : path.substr (slash + 1);
    }

    std::string join (const std::string& folder, const std::string& name)
    {
        return (folder == "/" ? std::string() : folder) + "/" + name;
    }

    bool readLink (const std::string& path, std::string& target)
    {
        std::string buffer (256, '\0');
        for (;;)
        {
            const auto length = ::readlink (path.c_str(), buffer.data(), buffer.size());
            if (length < 0)
                return false;
            if ((size_t) length < buffer.size())
            {
                target.assign (buffer.data(), (size_t) length);
                return true;
            }
            buffer.resize (buffer.size() * 2);
        }
    }

    bool writeAll (int fd, const void* data, size_t size)
    {
        auto* bytes = static_cast<const char*> (data);
        while (size > 0)
        {
            const auto written = ::write (fd, bytes, std::min (size, (size_t) 1 << 30));
            if (written < 0)
            {
                if (errno == EINTR)
                    continue;
                return false;
            }
            bytes += written;
            size -= (size_t) written;
        }
        return true;
    }

    struct Target
    {
        bool inPlace = false;
        std::string path;           // what gets opened in place, or the file that gets replaced
        std::string folder;         // the replaced file's folder, its links resolved
        bool exists = false;
        struct stat status {};
    };

    /** Follows the path's symbolic links, its folders' too, to what actually gets written. */
    bool resolve (const std::string& original, Target& target, juce::String& reason)
    {
        auto current = original;
        for (int links = 0; links <= 40; ++links)
        {
            const auto givenFolder = folderOf (current);
            char* real = ::realpath (givenFolder.c_str(), nullptr);
            if (real == nullptr)
            {
                reason = errno == ENOENT ? "the folder " + juce::String::fromUTF8 (givenFolder.c_str()) + " does not exist"
                                         : describe (errno);
                return false;
            }
            const std::string folder (real);
            std::free (real);

            // /dev/stdout and its kind are links into /proc/self/fd: only opening the path as given
            // reaches the pipe or terminal they stand for.
            if (folder == "/proc" || folder.rfind ("/proc/", 0) == 0)
            {
                target.inPlace = true;
                target.path = original;
                return true;
            }

            const auto path = join (folder, nameOf (current));
            struct stat status {};
            if (::lstat (path.c_str(), &status) != 0)
            {
                if (errno != ENOENT)
                {
                    reason = describe (errno);
                    return false;
                }
                target.path = path;
                target.folder = folder;
                return true;
            }

            if (S_ISLNK (status.st_mode))
            {
                std::string link;
                if (! readLink (path, link))
                {
                    reason = describe (errno);
                    return false;
                }
                current = link.rfind ('/', 0) == 0 ? link : join (folder, link);
                continue;
            }

            if (S_ISDIR (status.st_mode))
            {
                reason = "it is a folder";
                return false;
            }

            target.path = path;
            target.folder = folder;
            target.status = status;
            target.exists = true;
            // Devices and FIFOs must stay the same inode (as must hard-linked files, see below).
            target.inPlace = ! S_ISREG (status.st_mode);
            return true;
        }

        reason = describe (ELOOP);
        return false;
    }

    //==============================================================================
    /** The temporaries that exist right now, where a signal handler can reach them: fixed
        buffers only, since a handler may not allocate. */
    namespace temporaries
    {
        constexpr int slotCount = 8;
        char paths[slotCount][PATH_MAX];
        std::atomic<bool> used[slotCount];

        // While the outputs are being committed, a signal waits for the renames to finish, so
        // that a run ends with all of its outputs in place or none of them.
        enum Phase { running, committing, ending };
        std::atomic<int> phase { running };
        std::atomic<int> deferredSignal { 0 };

        const int handledSignals[] = { SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ };

        void removeAll() noexcept
        {
            for (int slot = 0; slot < slotCount; ++slot)
                if (used[slot].load())
                    ::unlink (paths[slot]);
        }

        /** Ends the process as the signal itself would have (its exit status included). */
        void endBy (int signalNumber) noexcept
        {
            ::signal (signalNumber, SIG_DFL);
            ::raise (signalNumber);
        }

        extern "C" void onSignal (int signalNumber)
        {
            const auto savedErrno = errno;
            int expected = running;
            if (phase.compare_exchange_strong (expected, ending))
            {
                removeAll();
                endBy (signalNumber);    // delivered once this handler returns
            }
            else if (expected == committing)
            {
                deferredSignal.store (signalNumber);
                // The commit may have ended meanwhile without seeing the signal.
                expected = running;
                if (phase.compare_exchange_strong (expected, ending))
                {
                    removeAll();
                    endBy (signalNumber);
                }
            }
            errno = savedErrno;
        }

        void installHandlers()
        {
            static bool installed = false;
            if (installed)
                return;
            installed = true;
            for (const auto signalNumber : handledSignals)
            {
                // A signal the caller ignores (nohup, a background job) stays ignored.
                struct sigaction current {};
                if (::sigaction (signalNumber, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
                    continue;
                struct sigaction handler {};
                handler.sa_handler = onSignal;
                handler.sa_flags = SA_RESTART;
                sigemptyset (&handler.sa_mask);
                ::sigaction (signalNumber, &handler, nullptr);
            }
        }

        /** Records the path before the file is made, so that no moment exists when the file
            does and a handler would not know it. -1 when every slot is taken. */
        int add (const std::string& path)
        {
            if (path.size() >= PATH_MAX)
                return -1;
            installHandlers();
            for (int slot = 0; slot < slotCount; ++slot)
            {
                if (used[slot].load())
                    continue;
                std::memcpy (paths[slot], path.c_str(), path.size() + 1);
                used[slot].store (true);
                return slot;
            }
            return -1;
        }

        void forget (int slot)
        {
            if (slot >= 0)
                used[slot].store (false);
        }

        void beginCommit()
        {
            for (int expected = running; ! phase.compare_exchange_strong (expected, committing); expected = running)
                if (expected == ending)
                    for (;;)
                        ::pause();    // a handler is removing the temporaries and ending the process
        }

        void endCommit()
        {
            phase.store (running);
            if (const auto signalNumber = deferredSignal.exchange (0))
            {
                int expected = running;
                if (phase.compare_exchange_strong (expected, ending))
                {
                    removeAll();
                    endBy (signalNumber);
                }
                for (;;)
                    ::pause();
            }
        }
    }

    //==============================================================================
    /** A buffered stream over an output's descriptor. One that cannot seek (a pipe, a device)
        sends a given header first and drops whatever is written at positions already sent,
        which is the header a WAV writer rewrites once it knows the length. */
    class DescriptorStream final : public juce::OutputStream
    {
    public:
        DescriptorStream (int descriptor, bool canSeek, std::shared_ptr<int> errorOfFirstFailure, const juce::MemoryBlock& header)
            : fd (descriptor), seekable (canSeek), firstError (std::move (errorOfFirstFailure))
        {
            buffer.reserve (capacity);
            if (! seekable && ! header.isEmpty())
            {
                buffer.assign (static_cast<const char*> (header.getData()), static_cast<const char*> (header.getData()) + header.getSize());
                end = (juce::int64) header.getSize();
            }
        }

        ~DescriptorStream() override    { flushBuffer(); }

        void flush() override           { flushBuffer(); }
        juce::int64 getPosition() override    { return position; }

        bool setPosition (juce::int64 newPosition) override
        {
            if (! flushBuffer())
                return false;
            if (! seekable)
            {
                if (newPosition > end)
                    return false;
                position = newPosition;
                return true;
            }
            if (::lseek (fd, (off_t) newPosition, SEEK_SET) < 0)
            {
                fail (errno);
                return false;
            }
            position = newPosition;
            return true;
        }

        bool write (const void* data, size_t size) override
        {
            if (*firstError != 0)
                return false;
            auto* bytes = static_cast<const char*> (data);
            if (! seekable && position < end)
            {
                const auto dropped = (size_t) juce::jmin ((juce::int64) size, end - position);
                bytes += dropped;
                size -= dropped;
                position += (juce::int64) dropped;
            }
            if (size == 0)
                return true;

            if (buffer.size() + size > capacity && ! flushBuffer())
                return false;
            if (size >= capacity)
            {
                if (! sendAll (bytes, size))
                    return false;
            }
            else
            {
                buffer.insert (buffer.end(), bytes, bytes + size);
            }
            position += (juce::int64) size;
            end = juce::jmax (end, position);
            return true;
        }

    private:
        static constexpr size_t capacity = 1 << 20;

        void fail (int errorNumber)
        {
            if (*firstError == 0)
                *firstError = errorNumber != 0 ? errorNumber : EIO;
        }

        bool sendAll (const char* bytes, size_t size)
        {
            if (writeAll (fd, bytes, size))
                return true;
            fail (errno);
            return false;
        }

        bool flushBuffer()
        {
            if (buffer.empty())
                return *firstError == 0;
            const bool ok = *firstError == 0 && sendAll (buffer.data(), buffer.size());
            buffer.clear();
            return ok;
        }

        const int fd;
        const bool seekable;
        std::shared_ptr<int> firstError;
        std::vector<char> buffer;
        juce::int64 position = 0, end = 0;
    };

    bool syncFolder (const std::string& folder)
    {
        // The rename itself reaches the disk with the folder.
        const auto folderFd = ::open (folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folderFd < 0)
            return false;
        (void) ::fsync (folderFd);
        ::close (folderFd);
        return true;
    }

    /** Copies a finished temporary into a file that other hard links share, keeping its inode. */
    bool copyInto (const std::string& from, const std::string& to, int& errorNumber)
    {
        const auto source = ::open (from.c_str(), O_RDONLY | O_CLOEXEC);
        if (source < 0)
        {
            errorNumber = errno;
            return false;
        }
        const auto destination = ::open (to.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
        if (destination < 0)
        {
            errorNumber = errno;
            ::close (source);
            return false;
        }

        errorNumber = 0;
        std::vector<char> chunk (1 << 20);
        for (;;)
        {
            const auto count = ::read (source, chunk.data(), chunk.size());
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0 || (count > 0 && ! writeAll (destination, chunk.data(), (size_t) count)))
                errorNumber = errno;
            if (count <= 0 || errorNumber != 0)
                break;
        }
        if (errorNumber == 0 && ::fsync (destination) != 0)
            errorNumber = errno;
        if (::close (destination) != 0 && errorNumber == 0)
            errorNumber = errno;
        ::close (source);
        return errorNumber == 0;
    }
}

//==============================================================================
OutputFile::OutputFile (const juce::File& fileToWrite) : file (fileToWrite) {}

OutputFile::~OutputFile()
{
    if (fd >= 0)
        ::close (fd);
    removeTemporary();
}

void OutputFile::removeTemporary()
{
    if (temporaryPath.empty())
        return;
    ::unlink (temporaryPath.c_str());
    temporaries::forget (registrySlot);
    registrySlot = -1;
    temporaryPath.clear();
}

bool OutputFile::canSeek() const noexcept    { return seekable; }

bool OutputFile::open (juce::String& error)
{
    const auto path = file.getFullPathName();
    Target target;
    juce::String reason;
    auto fail = [&] (int errorNumber)
    {
        reason = describe (errorNumber);
        return false;
    };

    auto openInPlace = [&]
    {
        mode = Mode::inPlace;
        fd = ::open (target.path.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
        struct stat opened {};
        if (fd < 0 || ::fstat (fd, &opened) != 0)
            return fail (errno);
        seekable = S_ISREG (opened.st_mode);
        return true;
    };

    // 0 once made, or why not.
    auto openTemporary = [&]() -> int
    {
        // The name stays short enough for the folder and never matches anything fixed.
        const auto name = nameOf (target.path).substr (0, 200);
        std::random_device entropy;
        for (int attempt = 0; attempt < 100; ++attempt)
        {
            char suffix[32];
            std::snprintf (suffix, sizeof (suffix), ".%08x%08x.tmp", entropy(), entropy());
            const auto candidate = join (target.folder, "." + name + suffix);
            registrySlot = temporaries::add (candidate);
            if (registrySlot < 0)
                return candidate.size() >= PATH_MAX ? ENAMETOOLONG : EMFILE;
            // 0666 so the umask and any default ACL decide, as for any new file.
            fd = ::open (candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
            if (fd >= 0)
            {
                temporaryPath = candidate;
                return 0;
            }
            const auto errorNumber = errno;
            temporaries::forget (registrySlot);
            registrySlot = -1;
            if (errorNumber != EEXIST)
                return errorNumber;
        }
        return EEXIST;
    };

    bool ok = resolve (path.toStdString(), target, reason);
    if (ok)
    {
        targetPath = target.path;
        targetExists = target.exists;
        if (target.inPlace)
        {
            ok = openInPlace();
        }
        else if (target.exists && target.status.st_nlink > 1)
        {
            // Written beside it first, so a failed run leaves the shared file as it was; a
            // folder that takes no new file leaves only writing it in place.
            mode = Mode::copyIn;
            ok = ::faccessat (AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) == 0 ? true : fail (errno);
            if (ok)
            {
                const auto refused = openTemporary();
                if (refused == EACCES || refused == EPERM || refused == EROFS)
                    ok = openInPlace();
                else if (refused != 0)
                    ok = fail (refused);
            }
        }
        else
        {
            mode = Mode::replace;
            // What a plain open would refuse (a read-only file) is not replaced behind the user's back.
            ok = ! target.exists || ::faccessat (AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) == 0 ? true : fail (errno);
            if (ok)
                if (const auto refused = openTemporary())
                    ok = fail (refused);
            if (ok && target.exists)
            {
                // The owner first: changing it clears set-id bits that the mode then puts back.
                // Either may be refused (another owner without privilege, a file system without modes).
                if (::fchown (fd, target.status.st_uid, target.status.st_gid) != 0)
                    (void) ::fchown (fd, (uid_t) -1, target.status.st_gid);
                (void) ::fchmod (fd, target.status.st_mode & 07777);
            }
        }
    }

    if (! ok)
    {
        if (fd >= 0)
            ::close (fd);
        fd = -1;
        removeTemporary();
        error = "cannot write " + path + ": " + reason;
    }
    return ok;
}

std::unique_ptr<juce::OutputStream> OutputFile::createStream (const juce::MemoryBlock& headerIfUnseekable)
{
    jassert (fd >= 0);
    return std::make_unique<DescriptorStream> (fd, seekable, firstError, headerIfUnseekable);
}

bool OutputFile::finish (juce::String& error)
{
    int errorNumber = *firstError;
    if (fd >= 0)
    {
        if (errorNumber == 0 && seekable && ::fsync (fd) != 0)
            errorNumber = errno;
        if (::close (fd) != 0 && errorNumber == 0)
            errorNumber = errno;
        fd = -1;
    }
    if (errorNumber == 0)
        return true;

    removeTemporary();
    error = "cannot write " + file.getFullPathName() + ": " + describe (errorNumber);
    return false;
}

bool OutputFile::commit (juce::String& error)
{
    if (temporaryPath.empty())
        return true;

    int errorNumber = 0;
    if (mode == Mode::copyIn)
    {
        copyInto (temporaryPath, targetPath, errorNumber);
    }
    else if (::rename (temporaryPath.c_str(), targetPath.c_str()) == 0)
    {
        temporaries::forget (registrySlot);
        registrySlot = -1;
        temporaryPath.clear();
        syncFolder (folderOf (targetPath));
    }
    else
    {
        errorNumber = errno;
    }
    removeTemporary();
    if (errorNumber != 0)
        error = "cannot write " + file.getFullPathName() + ": " + describe (errorNumber);
    return errorNumber == 0;
}

bool commitOutputs (const std::vector<OutputFile*>& outputs, juce::String& error)
{
    temporaries::beginCommit();
    bool ok = true;
    // Copies into shared files can fail part way, renames hardly: the copies go first.
    for (auto* output : outputs)
        if (ok && output->mode == OutputFile::Mode::copyIn)
            ok = output->commit (error);
    for (auto* output : outputs)
        if (ok && output->mode != OutputFile::Mode::copyIn)
            ok = output->commit (error);
    temporaries::endCommit();
    return ok;
}

bool writeOutputFile (const juce::File& file, const void* data, size_t size, juce::String& error)
{
    OutputFile output (file);
    if (! output.open (error))
        return false;
    output.createStream()->write (data, size);
    return output.finish (error) && commitOutputs ({ &output }, error);
}

bool checkOutputFile (const juce::File& file, juce::String& error)
{
    const auto path = file.getFullPathName();
    Target target;
    juce::String reason;
    bool ok = resolve (path.toStdString(), target, reason);
    if (ok)
    {
        // In place the file itself is opened; otherwise a new file is made in its folder, and
        // an existing one must be writable for it to be replaced (as open insists). A file
        // shared by hard links is written in place when its folder takes no temporary.
        const bool writable = (target.inPlace || target.exists) ? ::faccessat (AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) == 0
                                                                : true;
        const bool inPlaceAtWorst = target.inPlace || (target.exists && target.status.st_nlink > 1);
        const bool folderWritable = inPlaceAtWorst || ::faccessat (AT_FDCWD, target.folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
        if (! writable || ! folderWritable)
        {
            reason = describe (errno);
            ok = false;
        }
    }
    if (! ok)
        error = "cannot write " + path + ": " + reason;
    return ok;
}

bool isStandardOutput (const juce::File& file)
{
    struct stat output {}, named {};
    return ::fstat (STDOUT_FILENO, &output) == 0
        && ::stat (file.getFullPathName().toRawUTF8(), &named) == 0
        && output.st_dev == named.st_dev && output.st_ino == named.st_ino;
}

bool nameTheSameOutput (const juce::File& first, const juce::File& second)
{
    struct Identity
    {
        bool known = false, exists = false;
        struct stat status {};
        std::string path;
    };

    auto identify = [] (const juce::File& file)
    {
        Identity identity;
        Target target;
        juce::String reason;
        if (! resolve (file.getFullPathName().toStdString(), target, reason))
            return identity;
        identity.known = true;
        identity.path = target.path;
        // A /proc link is only reached by opening it, so it is stat'ed through.
        identity.exists = target.exists || (target.inPlace && ::stat (target.path.c_str(), &target.status) == 0);
        identity.status = target.status;
        return identity;
    };

    const auto a = identify (first), b = identify (second);
    if (! a.known || ! b.known || a.exists != b.exists)
        return false;
    if (! a.exists)
        return a.path == b.path;
    // A character device (/dev/null, say) keeps nothing that one output could spoil for the other.
    return a.status.st_dev == b.status.st_dev && a.status.st_ino == b.status.st_ino && ! S_ISCHR (a.status.st_mode);
}
