#include "InputAudio.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
    /** Reads an open file descriptor by position (pread), so that several readers of one file
        never disturb each other's offset. Bytes given to patch() replace what the file holds at
        that place, which lets a reader see a corrected header without the file being changed. */
    class DescriptorInputStream final : public juce::InputStream
    {
    public:
        DescriptorInputStream (int descriptorToOwn, juce::int64 startInFile, juce::int64 lengthInFile)
            : descriptor (descriptorToOwn), start (startInFile), length (lengthInFile) {}

        ~DescriptorInputStream() override    { ::close (descriptor); }

        juce::int64 getTotalLength() override    { return length; }
        bool isExhausted() override              { return position >= length; }
        juce::int64 getPosition() override       { return position; }

        bool setPosition (juce::int64 newPosition) override
        {
            position = juce::jlimit ((juce::int64) 0, length, newPosition);
            return true;
        }

        int read (void* destination, int maxBytes) override
        {
            const auto wanted = (int) juce::jmin ((juce::int64) juce::jmax (0, maxBytes), length - position);
            int done = 0;
            while (done < wanted)
            {
                const auto count = ::pread (descriptor, static_cast<char*> (destination) + done, (size_t) (wanted - done),
                                            (off_t) (start + position + done));
                if (count < 0 && errno == EINTR)
                    continue;
                if (count <= 0)
                    break;
                done += (int) count;
            }

            for (const auto& [offset, byte] : patches)
                if (offset >= position && offset < position + done)
                    static_cast<juce::uint8*> (destination)[offset - position] = byte;

            position += done;
            return done;
        }

        void patch (juce::int64 offset, juce::uint8 byte)    { patches.push_back ({ offset, byte }); }

    private:
        int descriptor;
        juce::int64 start, length, position = 0;
        std::vector<std::pair<juce::int64, juce::uint8>> patches;
    };

    juce::String describeErrno (int error)
    {
        return juce::String::fromUTF8 (std::strerror (error));
    }

    /** Whether the first bytes of an input start a container that one of the readers may take. */
    bool startsLikeReadableAudio (const char* bytes, size_t size)
    {
        if (size < 12)
            return false;
        const auto is = [bytes] (size_t offset, const char* text) { return std::memcmp (bytes + offset, text, std::strlen (text)) == 0; };
        return ((is (0, "RIFF") || is (0, "RF64") || is (0, "BW64")) && is (8, "WAVE"))
               || (is (0, "FORM") && (is (8, "AIFF") || is (8, "AIFC"))) || is (0, "fLaC") || is (0, "OggS");
    }

    /** Copies a stream that cannot seek into an unlinked temporary file and returns that file's
        descriptor, or -1 with the reason. A file rather than memory keeps the host's memory flat
        however long the input is; unlinked at once, it goes when the host exits, however it exits. */
    int spoolToTemporaryFile (int source, juce::String& error)
    {
        const char* folder = std::getenv ("TMPDIR");
        juce::String folderName (folder != nullptr && *folder != 0 ? folder : "/tmp");
        auto pattern = (folderName.trimCharactersAtEnd ("/") + "/zandor-host-input-XXXXXX").toStdString();
        const int spool = ::mkstemp (pattern.data());
        if (spool < 0)
        {
            error = "cannot make a temporary file in " + folderName + " to hold the input: " + describeErrno (errno);
            return -1;
        }
        ::unlink (pattern.c_str());
        ::fcntl (spool, F_SETFD, FD_CLOEXEC);

        std::vector<char> buffer (1 << 16);
        juce::int64 total = 0;
        bool headChecked = false;
        for (;;)
        {
            // What no reader can take is told by its first bytes: the rest (of /dev/zero, say)
            // need not fill the temporary folder first.
            if (total >= 12 && ! headChecked)
            {
                char head[12];
                if (::pread (spool, head, sizeof (head), 0) == (ssize_t) sizeof (head) && ! startsLikeReadableAudio (head, sizeof (head)))
                    return spool;
                headChecked = true;
            }

            const auto count = ::read (source, buffer.data(), buffer.size());
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0)
            {
                error = "cannot read the input: " + describeErrno (errno);
                ::close (spool);
                return -1;
            }
            if (count == 0)
                return spool;

            for (ssize_t written = 0; written < count;)
            {
                const auto put = ::write (spool, buffer.data() + written, (size_t) (count - written));
                if (put < 0 && errno == EINTR)
                    continue;
                if (put <= 0)
                {
                    error = "cannot hold the input in a temporary file in " + folderName + ": " + describeErrno (errno);
                    ::close (spool);
                    return -1;
                }
                written += put;
            }
            total += count;
        }
    }

    /** The input as a stream that can seek, or nullptr with the reason. */
    std::unique_ptr<DescriptorInputStream> openSource (const juce::String& argument, juce::String& name, juce::String& error)
    {
        int descriptor = -1;
        if (argument == "-")
        {
            name = "standard input";
            if (::isatty (STDIN_FILENO))
            {
                error = "--in - reads standard input, which is a terminal here: pipe or redirect a file into it";
                return nullptr;
            }
            descriptor = ::fcntl (STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
        }
        else
        {
            const auto file = juce::File::getCurrentWorkingDirectory().getChildFile (argument);
            name = file.getFullPathName();
            descriptor = ::open (name.toRawUTF8(), O_RDONLY | O_CLOEXEC);
        }

        struct stat status {};
        if (descriptor < 0 || ::fstat (descriptor, &status) != 0)
        {
            const auto reason = errno == ENOENT ? juce::String ("there is no such file") : describeErrno (errno);
            if (descriptor >= 0)
                ::close (descriptor);
            error = "cannot read audio from " + name + ": " + reason;
            return nullptr;
        }
        if (S_ISDIR (status.st_mode))
        {
            ::close (descriptor);
            error = "cannot read audio from " + name + ": it is a folder";
            return nullptr;
        }

        if (S_ISREG (status.st_mode))
        {
            // Standard input redirected from a file may already be part way into it.
            const auto start = argument == "-" ? juce::jmax ((off_t) 0, ::lseek (descriptor, 0, SEEK_CUR)) : (off_t) 0;
            return std::make_unique<DescriptorInputStream> (descriptor, (juce::int64) start,
                                                            juce::jmax ((juce::int64) 0, (juce::int64) status.st_size - start));
        }

        const auto spool = spoolToTemporaryFile (descriptor, error);
        ::close (descriptor);
        if (spool < 0)
        {
            error = "cannot read audio from " + name + ": " + error;
            return nullptr;
        }
        struct stat spooled {};
        ::fstat (spool, &spooled);
        return std::make_unique<DescriptorInputStream> (spool, 0, (juce::int64) spooled.st_size);
    }

    //==============================================================================
    /** What the first bytes and the header of an input say, read without any decoder. */
    struct HeaderFacts
    {
        enum class Kind { unknown, empty, wav, aiff, aifc, flac, ogg, mp3 };
        Kind kind = Kind::unknown;

        int formatTag = -1;              // WAV: the fmt chunk's tag; for WAVE_FORMAT_EXTENSIBLE the sub-format's
        bool extensible = false;
        juce::String compression;        // AIFC: the COMM chunk's compression type
        juce::String oggCodec;           // Ogg: the codec its first packet names
        int channels = 0, bits = 0, blockAlign = 0;
        double rate = -1.0;              // -1 when the header gives none
        juce::int64 bitsFieldOffset = -1;    // where the bits per sample field sits in the file
        juce::int64 dataStart = -1;          // where the sample data (WAV, AIFF) or the first frame (FLAC) starts
        juce::int64 fileLength = 0;

        // FLAC's STREAMINFO.
        int minBlock = 0, maxBlock = 0;
        juce::int64 totalSamples = 0;
    };

    bool readAt (juce::InputStream& in, juce::int64 position, void* destination, int size)
    {
        return in.setPosition (position) && in.read (destination, size) == size;
    }

    /** An IEEE 754 80-bit extended number, as AIFF gives its sample rate. */
    double fromExtended (const juce::uint8* bytes)
    {
        const int exponent = ((bytes[0] & 0x7f) << 8) | bytes[1];
        juce::uint64 mantissa = 0;
        for (int i = 2; i < 10; ++i)
            mantissa = (mantissa << 8) | bytes[i];
        if (exponent == 0 && mantissa == 0)
            return 0.0;
        const auto value = std::ldexp ((double) mantissa, exponent - 16383 - 63);
        return (bytes[0] & 0x80) != 0 ? -value : value;
    }

    void readWavHeader (juce::InputStream& in, HeaderFacts& facts)
    {
        for (juce::int64 position = 12; position + 8 <= facts.fileLength;)
        {
            juce::uint8 chunk[8];
            if (! readAt (in, position, chunk, 8))
                return;
            const auto size = (juce::int64) juce::ByteOrder::littleEndianInt (chunk + 4);

            if (std::memcmp (chunk, "fmt ", 4) == 0)
            {
                juce::uint8 format[40] {};
                const auto available = (int) juce::jmin ((juce::int64) sizeof (format), size);
                if (available < 16 || ! readAt (in, position + 8, format, available))
                    return;
                facts.formatTag = juce::ByteOrder::littleEndianShort (format);
                facts.channels = juce::ByteOrder::littleEndianShort (format + 2);
                facts.rate = (double) juce::ByteOrder::littleEndianInt (format + 4);
                facts.blockAlign = juce::ByteOrder::littleEndianShort (format + 12);
                facts.bits = juce::ByteOrder::littleEndianShort (format + 14);
                facts.bitsFieldOffset = position + 8 + 14;
                if (facts.formatTag == 0xfffe && available >= 26)
                {
                    // The sub-format GUID's first two bytes are the format tag it stands for.
                    facts.extensible = true;
                    facts.formatTag = juce::ByteOrder::littleEndianShort (format + 24);
                }
            }
            else if (std::memcmp (chunk, "data", 4) == 0)
            {
                facts.dataStart = position + 8;
                return;
            }
            position += 8 + size + (size & 1);
        }
    }

    void readAiffHeader (juce::InputStream& in, HeaderFacts& facts)
    {
        for (juce::int64 position = 12; position + 8 <= facts.fileLength;)
        {
            juce::uint8 chunk[8];
            if (! readAt (in, position, chunk, 8))
                return;
            const auto size = (juce::int64) juce::ByteOrder::bigEndianInt (chunk + 4);

            if (std::memcmp (chunk, "COMM", 4) == 0)
            {
                juce::uint8 common[22] {};
                const auto available = (int) juce::jmin ((juce::int64) sizeof (common), size);
                if (available < 18 || ! readAt (in, position + 8, common, available))
                    return;
                facts.channels = juce::ByteOrder::bigEndianShort (common);
                facts.bits = juce::ByteOrder::bigEndianShort (common + 6);
                facts.bitsFieldOffset = position + 8 + 6;
                facts.rate = fromExtended (common + 8);
                if (facts.kind == HeaderFacts::Kind::aifc && available >= 22)
                    for (int i = 18; i < 22; ++i)    // four characters, shown as text only where they are ASCII
                        facts.compression += juce::String::charToString (common[i] >= 0x20 && common[i] < 0x7f ? (juce::juce_wchar) common[i] : '?');
            }
            else if (std::memcmp (chunk, "SSND", 4) == 0)
            {
                juce::uint8 offset[4];
                if (readAt (in, position + 8, offset, 4))
                    facts.dataStart = position + 16 + (juce::int64) juce::ByteOrder::bigEndianInt (offset);
                return;
            }
            position += 8 + size + (size & 1);
        }
    }

    void readFlacHeader (juce::InputStream& in, HeaderFacts& facts)
    {
        for (juce::int64 position = 4; position + 4 <= facts.fileLength;)
        {
            juce::uint8 block[4];
            if (! readAt (in, position, block, 4))
                return;
            const auto size = (juce::int64) ((block[1] << 16) | (block[2] << 8) | block[3]);

            if ((block[0] & 0x7f) == 0)
            {
                juce::uint8 info[18];
                if (size < 18 || ! readAt (in, position + 4, info, 18))
                    return;
                facts.minBlock = juce::ByteOrder::bigEndianShort (info);
                facts.maxBlock = juce::ByteOrder::bigEndianShort (info + 2);
                facts.rate = (double) ((info[10] << 12) | (info[11] << 4) | (info[12] >> 4));
                facts.channels = ((info[12] >> 1) & 7) + 1;
                facts.bits = (((info[12] & 1) << 4) | (info[13] >> 4)) + 1;
                facts.totalSamples = ((juce::int64) (info[13] & 0x0f) << 32) | (juce::int64) juce::ByteOrder::bigEndianInt (info + 14);
            }

            position += 4 + size;
            if ((block[0] & 0x80) != 0)
            {
                facts.dataStart = position;
                return;
            }
        }
    }

    HeaderFacts readHeaderFacts (juce::InputStream& in)
    {
        HeaderFacts facts;
        facts.fileLength = in.getTotalLength();

        juce::uint8 head[64] {};
        const auto got = in.setPosition (0) ? in.read (head, (int) sizeof (head)) : 0;
        const auto startsWith = [&] (int offset, const char* text)
        {
            const auto size = (int) std::strlen (text);
            return got >= offset + size && std::memcmp (head + offset, text, (size_t) size) == 0;
        };

        if (got == 0)
        {
            facts.kind = HeaderFacts::Kind::empty;
        }
        else if ((startsWith (0, "RIFF") || startsWith (0, "RF64") || startsWith (0, "BW64")) && startsWith (8, "WAVE"))
        {
            facts.kind = HeaderFacts::Kind::wav;
            readWavHeader (in, facts);
        }
        else if (startsWith (0, "FORM") && (startsWith (8, "AIFF") || startsWith (8, "AIFC")))
        {
            facts.kind = startsWith (8, "AIFC") ? HeaderFacts::Kind::aifc : HeaderFacts::Kind::aiff;
            readAiffHeader (in, facts);
        }
        else if (startsWith (0, "fLaC"))
        {
            facts.kind = HeaderFacts::Kind::flac;
            readFlacHeader (in, facts);
        }
        else if (startsWith (0, "OggS"))
        {
            // The first page holds the codec's identification packet alone.
            facts.kind = HeaderFacts::Kind::ogg;
            if (startsWith (28, "\x01vorbis"))      facts.oggCodec = "Vorbis";
            else if (startsWith (28, "OpusHead"))   facts.oggCodec = "Opus";
            else if (startsWith (28, "\x7f" "FLAC")) facts.oggCodec = "FLAC";
            else if (startsWith (28, "Speex   "))   facts.oggCodec = "Speex";
        }
        else if (startsWith (0, "ID3")
                 || (got >= 2 && head[0] == 0xff && (head[1] & 0xe0) == 0xe0 && (head[1] & 0x06) != 0))
        {
            // An ID3 tag, or an MPEG audio frame's sync word with a layer given.
            facts.kind = HeaderFacts::Kind::mp3;
        }

        in.setPosition (0);
        return facts;
    }

    //==============================================================================
    /** The container size of a WAV or AIFF whose samples are narrower than the bytes they sit in
        (12 bits in 16, 20 in 24), or 0 when the header needs no correction. Such samples are
        left-justified, so reading the containers reads them exactly. */
    int findContainerBits (const HeaderFacts& facts)
    {
        if (facts.bits <= 0 || facts.bits >= 32 || facts.bits % 8 == 0 || facts.channels <= 0 || facts.bitsFieldOffset < 0)
            return 0;

        const auto containerBytes = (facts.bits + 7) / 8;
        if (facts.kind == HeaderFacts::Kind::wav)
            return facts.formatTag == 1 && facts.blockAlign == facts.channels * containerBytes ? containerBytes * 8 : 0;

        const bool plainAiff = facts.kind == HeaderFacts::Kind::aiff
                               || facts.compression == "NONE" || facts.compression == "twos" || facts.compression == "sowt";
        return plainAiff ? containerBytes * 8 : 0;
    }

    juce::String describeWavEncoding (int tag, int bits)
    {
        switch (tag)
        {
            case 1:      return juce::String (bits) + "-bit integer PCM";
            case 2:      return "Microsoft ADPCM";
            case 3:      return juce::String (bits) + "-bit float";
            case 6:      return "A-law";
            case 7:      return juce::String::fromUTF8 ("\xc2\xb5-law");
            case 0x11:   return "IMA ADPCM";
            case 0x31:   return "GSM 6.10";
            case 0x50:   return "MPEG audio";
            case 0x55:   return "MP3";
            case 0x2000: return "AC-3";
            case 0xf1ac: return "FLAC";
            case 0x674f: case 0x6750: case 0x6751: case 0x676f: case 0x6770: case 0x6771: return "Ogg Vorbis";
            default:     return "an encoding the host does not know";
        }
    }

    juce::String describeAifcCompression (const juce::String& type, int bits)
    {
        const auto lower = type.toLowerCase();
        if (lower == "ulaw")    return juce::String::fromUTF8 ("\xc2\xb5-law");
        if (lower == "alaw")    return "A-law";
        if (lower == "ima4")    return "IMA ADPCM";
        if (lower == "fl64")    return "64-bit float";
        if (lower == "fl32")    return "32-bit float";
        if (type == "NONE" || type == "twos" || type == "sowt")
            return juce::String (bits) + "-bit integer PCM";
        if (type == "MAC3" || type == "MAC6")    return "MACE";
        if (type == "GSM ")                      return "GSM";
        if (type == "QDM2" || type == "QDMC")    return "QDesign";
        return "an encoding the host does not know";
    }

    juce::String unsupported (const juce::String& what)
    {
        return what + ", which is not supported (the host reads 8- to 32-bit integer PCM and 32-bit float WAV or AIFF, "
                      "FLAC and Ogg Vorbis)";
    }

    /** Why no reader took the input, from what its header says. */
    juce::String describeUnreadable (const HeaderFacts& facts)
    {
        using Kind = HeaderFacts::Kind;

        switch (facts.kind)
        {
            case Kind::empty:
                return "it is empty";

            case Kind::wav:
                if (facts.formatTag < 0)
                    return "it is a WAV file without a readable format chunk";
                if (facts.dataStart < 0)
                    return "it is a WAV file without a data chunk";
                if ((facts.formatTag == 1 || facts.formatTag == 3) && facts.channels > 0 && facts.bits > 0
                    && ! (facts.bits > 32 || (facts.formatTag == 3 && facts.bits != 32) || facts.bits % 8 != 0))
                    return "it is a WAV file whose header is damaged (" + juce::String (facts.channels) + " channels of "
                         + juce::String (facts.bits) + " bits in blocks of " + juce::String (facts.blockAlign) + " bytes)";
                return unsupported ("it is a WAV file in " + describeWavEncoding (facts.formatTag, facts.bits)
                                    + (facts.extensible ? " (WAVE_FORMAT_EXTENSIBLE, sub-format " : " (format tag ")
                                    + (facts.formatTag > 9 ? "0x" + juce::String::toHexString (facts.formatTag) : juce::String (facts.formatTag)) + ")");

            case Kind::aiff:
            case Kind::aifc:
            {
                const auto kindName = juce::String (facts.kind == Kind::aifc ? "an AIFC" : "an AIFF");
                if (facts.channels <= 0)
                    return "it is " + kindName + " file without a readable COMM chunk";
                if (facts.dataStart < 0)
                    return "it is " + kindName + " file without a sound data chunk";
                const auto encoding = facts.compression.isEmpty() ? describeAifcCompression ("NONE", facts.bits)
                                                                  : describeAifcCompression (facts.compression, facts.bits);
                return unsupported ("it is " + kindName + " file in " + encoding
                                    + (facts.compression.isNotEmpty() ? " (compression type \"" + facts.compression + "\")" : juce::String()));
            }

            case Kind::flac:
                return "it is a FLAC file whose stream header cannot be decoded";

            case Kind::ogg:
                if (facts.oggCodec == "Vorbis")
                    return "it is an Ogg Vorbis file whose stream header cannot be decoded";
                return unsupported ("it is an Ogg file of " + (facts.oggCodec.isNotEmpty() ? facts.oggCodec : juce::String ("an unknown codec")));

            case Kind::mp3:
                return unsupported ("it is an MP3 file (MPEG audio)");

            case Kind::unknown:
                break;
        }
        return "it is not a WAV, AIFF, FLAC or Ogg Vorbis file, the formats the host reads";
    }

    //==============================================================================
    juce::uint8 crc8 (const juce::uint8* bytes, size_t size)
    {
        juce::uint8 crc = 0;
        for (size_t i = 0; i < size; ++i)
        {
            crc ^= bytes[i];
            for (int bit = 0; bit < 8; ++bit)
                crc = (juce::uint8) ((crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1);
        }
        return crc;
    }

    juce::uint16 crc16Step (juce::uint16 crc, juce::uint8 byte)
    {
        crc = (juce::uint16) (crc ^ (byte << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = (juce::uint16) ((crc & 0x8000) != 0 ? (crc << 1) ^ 0x8005 : crc << 1);
        return crc;
    }

    struct FlacFrame
    {
        juce::int64 position = 0;    // in the window
        juce::int64 firstSample = 0;
        int blockSize = 0;
    };

    /** A FLAC frame header at bytes[0], checked by its CRC-8 and against the STREAMINFO. */
    bool parseFlacFrameHeader (const juce::uint8* bytes, size_t available, const HeaderFacts& facts, FlacFrame& frame)
    {
        if (available < 6 || bytes[0] != 0xff || (bytes[1] & 0xfe) != 0xf8)
            return false;
        const bool variableBlocks = (bytes[1] & 1) != 0;
        const int blockCode = bytes[2] >> 4, rateCode = bytes[2] & 15, channelCode = bytes[3] >> 4, sizeCode = (bytes[3] >> 1) & 7;
        if (blockCode == 0 || rateCode == 15 || channelCode > 10 || sizeCode == 3 || (bytes[3] & 1) != 0)
            return false;
        if ((channelCode < 8 ? channelCode + 1 : 2) != facts.channels)
            return false;
        static constexpr int sizeBits[] = { 0, 8, 12, 0, 16, 20, 24, 32 };
        if (sizeCode != 0 && sizeBits[sizeCode] != facts.bits)
            return false;

        // The frame or sample number, coded as UTF-8 is (up to seven bytes, 36 bits).
        size_t at = 4;
        juce::uint64 number = bytes[at];
        int following = 0;
        if (number >= 0x80)
        {
            if ((number & 0xc0) == 0x80 || number == 0xff)
                return false;
            while ((number & (0x80u >> (following + 1))) != 0 && following < 6)
                ++following;
            number &= (0x3fu >> following);
        }
        ++at;
        for (int i = 0; i < following; ++i, ++at)
        {
            if (at >= available || (bytes[at] & 0xc0) != 0x80)
                return false;
            number = (number << 6) | (bytes[at] & 0x3f);
        }

        int blockSize = 0;
        if (blockCode == 1)                          blockSize = 192;
        else if (blockCode <= 5)                     blockSize = 576 << (blockCode - 2);
        else if (blockCode >= 8)                     blockSize = 256 << (blockCode - 8);
        if (blockCode == 6 || blockCode == 7)
        {
            const auto extra = (size_t) (blockCode == 6 ? 1 : 2);
            if (at + extra > available)
                return false;
            blockSize = 1 + (blockCode == 6 ? bytes[at] : (bytes[at] << 8) | bytes[at + 1]);
            at += extra;
        }
        at += rateCode == 12 ? 1 : (rateCode == 13 || rateCode == 14 ? 2 : 0);
        if (at >= available || crc8 (bytes, at) != bytes[at])
            return false;
        if (facts.maxBlock > 0 && blockSize > facts.maxBlock)
            return false;

        frame.firstSample = variableBlocks ? (juce::int64) number : (juce::int64) number * facts.minBlock;
        frame.blockSize = blockSize;
        return frame.firstSample < facts.totalSamples;
    }

    /** How many samples per channel a FLAC file holds when it is cut short of its STREAMINFO
        total, or -1 when it holds them all (or that cannot be told). The decoder pads a cut-off
        stream with silence that would pass for audio, so the frames at the end of the file are
        looked at instead: the last frame header that follows on from an earlier one, and
        whether the frame it starts is whole by its CRC-16. */
    juce::int64 countHeldFlacSamples (juce::InputStream& in, const HeaderFacts& facts)
    {
        if (facts.totalSamples <= 0 || facts.dataStart < 0 || facts.channels <= 0)
            return -1;

        // The last few frames are all that matter; even the largest frames fit many times over.
        const auto windowStart = juce::jmax (facts.dataStart, facts.fileLength - (juce::int64) (4 << 20));
        juce::MemoryBlock window ((size_t) juce::jmax ((juce::int64) 0, facts.fileLength - windowStart));
        if (window.getSize() > 0 && ! readAt (in, windowStart, window.getData(), (int) window.getSize()))
            return -1;
        const auto* bytes = static_cast<const juce::uint8*> (window.getData());
        const auto size = window.getSize();

        std::vector<FlacFrame> candidates;
        for (size_t i = 0; i + 6 <= size; ++i)
        {
            FlacFrame frame;
            frame.position = (juce::int64) i;
            if (bytes[i] == 0xff && parseFlacFrameHeader (bytes + i, size - i, facts, frame))
                candidates.push_back (frame);
        }

        // A header is taken as real when it starts the stream or follows on from an earlier one;
        // a stray sync pattern inside a frame's data would have to match both.
        const FlacFrame* last = nullptr;
        for (size_t k = candidates.size(); k-- > 0 && last == nullptr;)
        {
            const auto& frame = candidates[k];
            if (windowStart == facts.dataStart && frame.position == 0 && frame.firstSample == 0)
                last = &frame;
            for (size_t j = 0; j < k && last == nullptr; ++j)
                if (candidates[j].firstSample + candidates[j].blockSize == frame.firstSample)
                    last = &frame;
        }

        if (last == nullptr)
            return windowStart == facts.dataStart ? 0 : -1;
        // Whole when its CRC-16 closes at the end of the file, just before another header's sync,
        // or before an ID3v1 tag that some taggers append.
        auto held = last->firstSample;
        juce::uint16 crc = 0;
        for (auto i = (size_t) last->position; i + 2 <= size; ++i)
        {
            const auto stored = (juce::uint16) ((bytes[i] << 8) | bytes[i + 1]);
            const auto next = i + 2;
            if (i > (size_t) last->position + 4 && crc == stored
                && (next == size || (bytes[next] == 0xff && (next + 1 == size || (bytes[next + 1] & 0xfe) == 0xf8))
                    || (next + 128 == size && std::memcmp (bytes + next, "TAG", 3) == 0)))
            {
                held = last->firstSample + last->blockSize;
                break;
            }
            crc = crc16Step (crc, bytes[i]);
        }
        return held < facts.totalSamples ? held : -1;
    }

    juce::String describeRate (double rate)
    {
        return juce::exactlyEqual (rate, std::floor (rate)) && std::abs (rate) < 1.0e15 ? juce::String ((juce::int64) rate) : juce::String (rate, 3);
    }
}

bool openInputAudio (const juce::String& argument, InputAudio& input, juce::String& error)
{
    input = {};
    auto stream = openSource (argument, input.name, error);
    if (stream == nullptr)
        return false;

    const auto facts = readHeaderFacts (*stream);
    const auto cannotRead = "cannot read audio from " + input.name + ": ";

    const auto refuseRate = [&] (double rate)
    {
        error = "the sample rate of " + input.name + ", " + describeRate (rate) + " Hz, is outside what --rate takes: a number from "
              + juce::String (lowestRenderRate) + " to " + juce::String (highestRenderRate);
        return false;
    };
    if (facts.rate >= 0.0 && (facts.rate < lowestRenderRate || facts.rate > highestRenderRate))
        return refuseRate (facts.rate);

    // JUCE's readers know 8, 16, 24 and 32 bits only, and read anything else as silence.
    if (const auto containerBits = findContainerBits (facts); containerBits > 0)
    {
        const bool bigEndian = facts.kind != HeaderFacts::Kind::wav;
        stream->patch (facts.bitsFieldOffset + (bigEndian ? 1 : 0), (juce::uint8) containerBits);
        stream->patch (facts.bitsFieldOffset + (bigEndian ? 0 : 1), 0);
    }

    juce::int64 heldFlac = -1;
    if (facts.kind == HeaderFacts::Kind::flac)
        heldFlac = countHeldFlacSamples (*stream, facts);
    stream->setPosition (0);

    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    input.reader.reset (formats.createReaderFor (std::unique_ptr<juce::InputStream> (stream.release())));
    if (input.reader == nullptr)
    {
        error = cannotRead + describeUnreadable (facts);
        return false;
    }

    // Samples packed across byte boundaries: the reader would take them for silence.
    const auto bits = (int) input.reader->bitsPerSample;
    if (facts.kind != HeaderFacts::Kind::flac && facts.kind != HeaderFacts::Kind::ogg && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    {
        error = cannotRead + unsupported ("its samples are " + juce::String (facts.bits) + " bits each, packed in frames of "
                                          + juce::String (facts.blockAlign > 0 ? facts.blockAlign : (facts.channels * facts.bits + 7) / 8)
                                          + " bytes for " + juce::String (facts.channels) + " channel(s)");
        input.reader.reset();
        return false;
    }

    if (input.reader->sampleRate < lowestRenderRate || input.reader->sampleRate > highestRenderRate)
        return refuseRate (input.reader->sampleRate);

    input.announcedLength = input.reader->lengthInSamples;
    juce::int64 held = -1;
    if (facts.kind == HeaderFacts::Kind::flac)
    {
        held = heldFlac;
    }
    else if (facts.dataStart >= 0 && facts.kind != HeaderFacts::Kind::ogg)
    {
        // A cut-off download or copy: the reader would pad the missing part with silence.
        const auto bytesPerFrame = (juce::int64) input.reader->numChannels * (juce::int64) (input.reader->bitsPerSample / 8);
        if (bytesPerFrame > 0)
            held = juce::jmax ((juce::int64) 0, facts.fileLength - facts.dataStart) / bytesPerFrame;
    }
    if (held >= 0 && held < input.announcedLength)
        input.heldLength = held;
    return true;
}
