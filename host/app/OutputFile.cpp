#include "OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

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
            // Devices, FIFOs and files that other hard links share must stay the same inode.
            target.inPlace = ! S_ISREG (status.st_mode) || status.st_nlink > 1;
            return true;
        }

        reason = describe (ELOOP);
        return false;
    }

    bool writeInPlace (const Target& target, const void* data, size_t size, juce::String& reason)
    {
        const auto fd = ::open (target.path.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
        {
            reason = describe (errno);
            return false;
        }

        struct stat status {};
        int errorNumber = 0;
        if (::fstat (fd, &status) != 0 || ! writeAll (fd, data, size) || (S_ISREG (status.st_mode) && ::fsync (fd) != 0))
            errorNumber = errno;
        if (::close (fd) != 0 && errorNumber == 0)
            errorNumber = errno;
        if (errorNumber != 0)
        {
            reason = describe (errorNumber);
            return false;
        }
        return true;
    }

    /** Writes a temporary file beside the target and renames it over the target once complete. */
    bool replaceFile (const Target& target, const void* data, size_t size, juce::String& reason)
    {
        // What a plain open would refuse (a read-only file) is not replaced behind the user's back.
        if (target.exists && ::faccessat (AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) != 0)
        {
            reason = describe (errno);
            return false;
        }

        // The name stays short enough for the folder and never matches anything fixed.
        const auto name = nameOf (target.path).substr (0, 200);
        std::random_device entropy;
        std::string temporary;
        int fd = -1;
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt)
        {
            char suffix[32];
            std::snprintf (suffix, sizeof (suffix), ".%08x%08x.tmp", entropy(), entropy());
            temporary = join (target.folder, "." + name + suffix);
            // 0666 so the umask and any default ACL decide, as for any new file.
            fd = ::open (temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST)
                break;
        }
        if (fd < 0)
        {
            reason = describe (errno);
            return false;
        }

        int errorNumber = 0;
        if (! writeAll (fd, data, size))
            errorNumber = errno;
        if (errorNumber == 0 && target.exists)
        {
            // The owner first: changing it clears set-id bits that the mode then puts back. Either
            // may be refused (another owner without privilege, a file system without modes).
            if (::fchown (fd, target.status.st_uid, target.status.st_gid) != 0)
                (void) ::fchown (fd, (uid_t) -1, target.status.st_gid);
            (void) ::fchmod (fd, target.status.st_mode & 07777);
        }
        if (errorNumber == 0 && ::fsync (fd) != 0)
            errorNumber = errno;
        if (::close (fd) != 0 && errorNumber == 0)
            errorNumber = errno;
        if (errorNumber == 0 && ::rename (temporary.c_str(), target.path.c_str()) != 0)
            errorNumber = errno;
        if (errorNumber != 0)
        {
            ::unlink (temporary.c_str());
            reason = describe (errorNumber);
            return false;
        }

        // The rename itself reaches the disk with the folder.
        const auto folderFd = ::open (target.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folderFd >= 0)
        {
            (void) ::fsync (folderFd);
            ::close (folderFd);
        }
        return true;
    }
}

bool writeOutputFile (const juce::File& file, const void* data, size_t size, juce::String& error)
{
    const auto path = file.getFullPathName();
    Target target;
    juce::String reason;
    const bool ok = resolve (path.toStdString(), target, reason)
                 && (target.inPlace ? writeInPlace (target, data, size, reason) : replaceFile (target, data, size, reason));
    if (! ok)
        error = "cannot write " + path + ": " + reason;
    return ok;
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
        // an existing one must be writable for it to be replaced (as replaceFile insists).
        const bool writable = (target.inPlace || target.exists) ? ::faccessat (AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) == 0
                                                                : true;
        const bool folderWritable = target.inPlace || ::faccessat (AT_FDCWD, target.folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
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
