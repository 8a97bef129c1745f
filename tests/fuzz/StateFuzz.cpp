// Feeds random byte strings and mutations of a valid state to the state loader, then processes a
// block: nothing may crash, the output must stay finite, every parameter finite and in range (as
// the host sees it, normalised, too), and what was loaded must save and reload to the same bytes.
// Bounded by an iteration count and, optionally, a time limit; the seed is printed so that a
// failing run can be repeated. A failing input is written next to the working directory.

#include "BrellDistortionProcessor.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace
{
    using Bytes = std::vector<uint8_t>;

    struct Options
    {
        juce::int64 iterations = 1000;
        double seconds = 0.0;
        juce::int64 seed = 0;
        bool seedGiven = false;
    };

    Options parseOptions (int argc, char** argv)
    {
        Options o;
        for (int i = 1; i + 1 < argc; i += 2)
        {
            const juce::String key (argv[i]), value (argv[i + 1]);
            if (key == "--iterations")   o.iterations = value.getLargeIntValue();
            else if (key == "--seconds") o.seconds = value.getDoubleValue();
            else if (key == "--seed")    { o.seed = value.getLargeIntValue(); o.seedGiven = true; }
        }
        return o;
    }

    const char* const tokens[] {
        "<", ">", "/>", "</", "\"", "'", "=", " ", "&", "&amp;", "&#0;", "&#xffffff;", "<![CDATA[", "]]>", "<!--", "-->",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "Parameters", "parameters", "PARAM", "GlitchGrid", "id", "value",
        "row0", "row1", "row2", "row3", "row4", "drive", "mix", "output", "mode", "filterCutoff", "filterReso",
        "filterType", "glitchOn", "glitchChaos", "nan", "-nan", "inf", "-inf", "1e39", "-1e39", "1e308", "1e-320",
        "-0", "99999999999999999999", "0x7fffffff", "ffffffffffffffff", "FFFF", "zz", "\xc3", "\xe2\x82", "\xf0\x9f\x98",
        "\xff", "\xc0\x80", "\0",
        // Children of other types that name a parameter, which the parameter tree would bind too.
        "param", "Param", "<param id=\"output\" value=\"nan\"/>", "<GlitchGrid id=\"mix\" value=\"70\"/>",
        "<PARAM id=\"drive\" value=\"20\"/>", " id=\"drive\"", " id=\"mix\" value=\"inf\"",
    };

    void appendLE32 (Bytes& b, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            b.push_back ((uint8_t) (v >> (8 * i)));
    }

    void setLengthField (Bytes& b, uint32_t length)
    {
        if (b.size() >= 8)
            for (int i = 0; i < 4; ++i)
                b[4 + (size_t) i] = (uint8_t) (length >> (8 * i));
    }

    void insertToken (Bytes& b, juce::Random& r)
    {
        std::string t = tokens[r.nextInt ((int) std::size (tokens))];
        if (t.empty())
            t.assign (1, '\0');
        const auto at = b.empty() ? 0 : (size_t) r.nextInt ((int) b.size() + 1);
        b.insert (b.begin() + (std::ptrdiff_t) at, t.begin(), t.end());
    }

    void mutate (Bytes& b, juce::Random& r)
    {
        const int rounds = 1 + r.nextInt (8);

        for (int n = 0; n < rounds; ++n)
        {
            const auto size = (int) b.size();

            switch (r.nextInt (8))
            {
                case 0: if (size > 0) b[(size_t) r.nextInt (size)] ^= (uint8_t) (1 << r.nextInt (8)); break;
                case 1: if (size > 0) b[(size_t) r.nextInt (size)] = (uint8_t) r.nextInt (256); break;
                case 2: insertToken (b, r); break;
                case 3:
                    if (size > 0)
                    {
                        const auto at = r.nextInt (size);
                        const auto count = 1 + r.nextInt (juce::jmin (16, size - at));
                        b.erase (b.begin() + at, b.begin() + at + count);
                    }
                    break;
                case 4: if (size > 0) b.resize ((size_t) r.nextInt (size)); break;
                case 5:
                    if (size > 0)
                    {
                        const auto at = r.nextInt (size);
                        const auto count = 1 + r.nextInt (juce::jmin (64, size - at));
                        const Bytes chunk (b.begin() + at, b.begin() + at + count);
                        b.insert (b.begin() + r.nextInt ((int) b.size() + 1), chunk.begin(), chunk.end());
                    }
                    break;
                case 6: setLengthField (b, (uint32_t) r.nextInt()); break;
                default: setLengthField (b, (uint32_t) juce::jmax (0, (int) b.size() - 9)); break;
            }
        }
    }

    Bytes randomBytes (juce::Random& r)
    {
        Bytes b ((size_t) r.nextInt (600));
        for (auto& x : b)
            x = (uint8_t) r.nextInt (256);
        if (b.size() >= 4 && r.nextBool())
            std::memcpy (b.data(), "VC2!", 4);
        return b;
    }

    Bytes tokenSoup (juce::Random& r)
    {
        Bytes b;
        appendLE32 (b, 0x21324356);
        appendLE32 (b, 0);
        const int count = r.nextInt (80);
        for (int i = 0; i < count; ++i)
            insertToken (b, r);
        b.push_back (0);
        setLengthField (b, (uint32_t) (b.size() - 9));
        return b;
    }

    Bytes saved (BrellDistortionProcessor& p)
    {
        juce::MemoryBlock block;
        p.getStateInformation (block);
        const auto* d = static_cast<const uint8_t*> (block.getData());
        return Bytes (d, d + block.getSize());
    }

    juce::String checkProcessor (BrellDistortionProcessor& p, juce::AudioBuffer<float>& buffer, juce::Random& r)
    {
        for (auto* param : p.getParameters())
        {
            auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (param);
            if (ranged == nullptr)
                continue;

            const auto raw = p.apvts.getRawParameterValue (ranged->paramID)->load();
            const auto& range = ranged->getNormalisableRange();

            if (! std::isfinite (raw) || raw < range.start || raw > range.end)
                return "parameter " + ranged->paramID + " holds " + juce::String (raw);

            if (! std::isfinite (param->getValue()) || param->getValue() < 0.0f || param->getValue() > 1.0f)
                return "parameter " + ranged->paramID + " normalised to " + juce::String (param->getValue());
        }

        for (int row = 0; row < GlitchPattern::numRows; ++row)
            for (int step = 0; step < GlitchPattern::numSteps; ++step)
                if (p.glitchPattern.get (row, step) < 0 || p.glitchPattern.get (row, step) > 16)
                    return "pattern cell out of range";

        const auto numSamples = 1 + r.nextInt (buffer.getNumSamples());
        for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
            for (int i = 0; i < numSamples; ++i)
                buffer.setSample (ch, i, std::sin ((float) i * 0.05f + (float) ch) * 0.8f + (r.nextFloat() - 0.5f) * 0.2f);

        juce::AudioBuffer<float> block (buffer.getArrayOfWritePointers(), buffer.getNumChannels(), numSamples);
        juce::MidiBuffer midi;
        p.processBlock (block, midi);

        for (int ch = 0; ch < block.getNumChannels(); ++ch)
            for (int i = 0; i < numSamples; ++i)
                if (! std::isfinite (block.getSample (ch, i)))
                    return "non-finite output at channel " + juce::String (ch) + ", sample " + juce::String (i);

        // What was loaded must save as a well-formed block that loads again.
        const auto again = saved (p);
        if (again.size() < 10 || std::memcmp (again.data(), "VC2!", 4) != 0 || again.back() != 0)
            return "saved block malformed";

        const auto length = (uint32_t) again[4] | ((uint32_t) again[5] << 8) | ((uint32_t) again[6] << 16) | ((uint32_t) again[7] << 24);
        if (length != again.size() - 9)
            return "saved length field wrong";

        // Whatever the hostile input was, what it left saves, loads and saves again to the same bytes.
        p.setStateInformation (again.data(), (int) again.size());
        if (saved (p) != again)
            return "a save, load and save round trip changed the bytes";

        return {};
    }

    void writeFailure (const Bytes& input, juce::int64 seed, juce::int64 iteration)
    {
        const auto file = juce::File::getCurrentWorkingDirectory()
                              .getChildFile ("state-fuzz-failure-" + juce::String (seed) + "-" + juce::String (iteration) + ".bin");
        file.replaceWithData (input.data(), input.size());
        std::printf ("failing input written to %s\n", file.getFullPathName().toRawUTF8());
        std::fflush (stdout);
    }

    // A load that never returns is a failure too: a watchdog reports the input and stops the run.
    struct HangWatchdog
    {
        HangWatchdog (juce::int64 seedToReport, double limitSeconds)
            : seed (seedToReport), limitMs (limitSeconds * 1000.0),
              thread ([this] { run(); })
        {
        }

        ~HangWatchdog()
        {
            stop = true;
            thread.join();
        }

        void begin (const Bytes& input, juce::int64 iteration)
        {
            const std::lock_guard<std::mutex> lock (mutex);
            current = input;
            currentIteration = iteration;
            startedMs = juce::Time::getMillisecondCounterHiRes();
        }

        void end()   { startedMs = -1.0; }

    private:
        void run()
        {
            while (! stop)
            {
                std::this_thread::sleep_for (std::chrono::milliseconds (100));
                const double started = startedMs;

                if (started >= 0.0 && juce::Time::getMillisecondCounterHiRes() - started > limitMs)
                {
                    const std::lock_guard<std::mutex> lock (mutex);
                    std::printf ("FAILED at iteration %lld (seed %lld): a load or block took over %.0f ms\n",
                                 (long long) currentIteration, (long long) seed, limitMs);
                    writeFailure (current, seed, currentIteration);
                    std::_Exit (2);
                }
            }
        }

        const juce::int64 seed;
        const double limitMs;
        std::mutex mutex;
        Bytes current;
        juce::int64 currentIteration = 0;
        std::atomic<double> startedMs { -1.0 };
        std::atomic<bool> stop { false };
        std::thread thread;
    };

    // Hostile XML is meant to trip JUCE's debug assertions in the XML reader and the value tree:
    // those are counted, not printed one by one. An assertion anywhere else is not explained by
    // the inputs and fails the run. (Debug builds route assertions through the logger.)
    class AssertionTally final : public juce::Logger
    {
    public:
        AssertionTally()    { juce::Logger::setCurrentLogger (this); }
        ~AssertionTally() override   { juce::Logger::setCurrentLogger (nullptr); }

        void logMessage (const juce::String& message) override
        {
            static const juce::String prefix ("JUCE Assertion failure in ");

            if (message.startsWith (prefix))
            {
                const auto place = message.substring (prefix.length());
                const auto file = place.upToFirstOccurrenceOf (":", false, false);

                if (file == "juce_XmlElement.cpp")
                {
                    ++xmlElement;
                    return;
                }

                if (file == "juce_ValueTree.cpp")
                {
                    ++valueTree;
                    return;
                }

                ++unexplained;
            }

            const std::lock_guard<std::mutex> lock (mutex);
            std::fprintf (stderr, "%s\n", message.toRawUTF8());
        }

        juce::int64 getUnexplained() const noexcept   { return unexplained; }

        void printSummary() const
        {
            std::printf ("state fuzz: %lld JUCE assertions from the hostile inputs (juce_XmlElement.cpp %lld, juce_ValueTree.cpp %lld)",
                         (long long) (xmlElement + valueTree), (long long) xmlElement.load(), (long long) valueTree.load());
            std::printf (", %lld elsewhere\n", (long long) unexplained.load());
        }

    private:
        std::atomic<juce::int64> xmlElement { 0 }, valueTree { 0 }, unexplained { 0 };
        std::mutex mutex;
    };
}

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juceInit;
    AssertionTally assertions;

    auto options = parseOptions (argc, argv);
    if (! options.seedGiven)
        options.seed = juce::Time::currentTimeMillis();

    if (options.seconds > 0.0)
        std::printf ("state fuzz: seed %lld, up to %lld inputs or %.1f s, whichever ends first\n",
                     (long long) options.seed, (long long) options.iterations, options.seconds);
    else
        std::printf ("state fuzz: seed %lld, up to %lld inputs\n", (long long) options.seed, (long long) options.iterations);
    std::fflush (stdout);

    juce::Random random (options.seed);

    auto processor = std::make_unique<BrellDistortionProcessor>();
    processor->prepareToPlay (44100.0, 512);
    processor->apvts.getParameter ("glitchOn")->setValueNotifyingHost (1.0f);
    processor->randomise();
    const auto seedState = saved (*processor);

    juce::AudioBuffer<float> buffer (2, 512);
    juce::AudioBuffer<float> monoBuffer (1, 512);

    HangWatchdog watchdog (options.seed, 10.0);
    const auto start = juce::Time::getMillisecondCounterHiRes();
    juce::int64 done = 0;

    for (; done < options.iterations; ++done)
    {
        if (options.seconds > 0.0 && juce::Time::getMillisecondCounterHiRes() - start > options.seconds * 1000.0)
            break;

        Bytes input;
        switch (random.nextInt (4))
        {
            case 0:  input = randomBytes (random); break;
            case 1:  input = tokenSoup (random); mutate (input, random); break;
            default: input = seedState; mutate (input, random); break;
        }

        // Unpredictable sizes from the host too: shorter than the data, or exactly the data.
        const auto size = random.nextInt (10) == 0 && ! input.empty() ? random.nextInt ((int) input.size()) : (int) input.size();

        // A heap copy of exactly the given size, so the sanitizer sees any read past it.
        auto heap = std::make_unique<uint8_t[]> ((size_t) juce::jmax (1, size));
        if (size > 0)
            std::memcpy (heap.get(), input.data(), (size_t) size);

        watchdog.begin (Bytes (input.begin(), input.begin() + size), done);
        processor->setStateInformation (heap.get(), size);

        auto& target = random.nextInt (8) == 0 ? monoBuffer : buffer;
        const auto problem = checkProcessor (*processor, target, random);
        watchdog.end();

        if (problem.isNotEmpty())
        {
            std::printf ("FAILED at iteration %lld (seed %lld): %s\n", (long long) done, (long long) options.seed, problem.toRawUTF8());
            writeFailure (Bytes (input.begin(), input.begin() + size), options.seed, done);
            return 1;
        }

        // Now and then a fresh processor, so that state left by one load doesn't shape all others.
        if (random.nextInt (200) == 0)
        {
            processor = std::make_unique<BrellDistortionProcessor>();
            processor->prepareToPlay (44100.0, 512);
            processor->setStateInformation (seedState.data(), (int) seedState.size());
        }
    }

    assertions.printSummary();

    if (assertions.getUnexplained() > 0)
    {
        std::printf ("FAILED: %lld JUCE assertions outside the XML reader and the value tree (printed above)\n",
                     (long long) assertions.getUnexplained());
        return 1;
    }

    std::printf ("state fuzz: %lld inputs ran in %.1f s%s, no failure\n", (long long) done,
                 (juce::Time::getMillisecondCounterHiRes() - start) / 1000.0,
                 done < options.iterations ? " (stopped at the time limit)" : "");
    return 0;
}
