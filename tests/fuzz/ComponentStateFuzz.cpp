// libFuzzer target: hands whole component states (the processor's bytes and the private-data
// trailer JUCE's VST3 client appends) to the built module through IComponent::setState, as a DAW
// loading a project does, and tells the edit controller with setComponentState. Nothing may
// crash or trip a sanitizer; afterwards every parameter reads finite and within 0..1 through the
// controller, what was loaded saves, loads and saves to the same bytes, and the load and the next
// save finish in a bounded time.
//
// The module is opened with dlopen, so the code under test is the module as it ships, JUCE's
// wrapper included; only the raw VST3 interfaces are used here.
//
// Besides libFuzzer's own flags, --write-seeds=DIR saves a few states the module itself writes
// (several settings and patterns, with the bypass off and on, and one without the trailer) into
// DIR and exits: a corpus that tracks the state format as it is.

#include <pluginterfaces/base/ibstream.h>
#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivstmessage.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
    using namespace Steinberg;
    using Bytes = std::vector<uint8_t>;

    // An ordinary state loads and saves in about a millisecond here, under ASan. The bound sits
    // far above that so that a loaded CI machine never trips it, and far below the seconds a
    // load that grows with the square of its input takes.
    constexpr double maxLoadAndSaveSeconds = 2.0;

    [[noreturn]] void fail (const std::string& message)
    {
        std::fprintf (stderr, "component-state fuzz: %s\n", message.c_str());
        std::fflush (stderr);
        std::abort();   // libFuzzer keeps the input as a crash
    }

    double secondsSince (std::chrono::steady_clock::time_point start)
    {
        return std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count();
    }

    bool sameIid (const TUID a, const TUID b)   { return std::memcmp (a, b, sizeof (TUID)) == 0; }

    /** The host's side of a state: a growable block of memory, as a DAW hands its project data. */
    class MemoryStream final : public IBStream, public ISizeableStream
    {
    public:
        MemoryStream() = default;
        explicit MemoryStream (Bytes initial) : data (std::move (initial)) {}

        tresult PLUGIN_API queryInterface (const TUID iid, void** obj) override
        {
            if (sameIid (iid, FUnknown_iid) || sameIid (iid, IBStream_iid))
                *obj = static_cast<IBStream*> (this);
            else if (sameIid (iid, ISizeableStream_iid))
                *obj = static_cast<ISizeableStream*> (this);
            else
            {
                *obj = nullptr;
                return kNoInterface;
            }

            addRef();
            return kResultOk;
        }

        // The stream lives on the caller's stack; the count only has to stay balanced.
        uint32 PLUGIN_API addRef() override    { return ++refCount; }
        uint32 PLUGIN_API release() override   { return --refCount; }

        tresult PLUGIN_API read (void* buffer, int32 numBytes, int32* numBytesRead) override
        {
            if (numBytes < 0)
                return kInvalidArgument;

            const auto count = (size_t) numBytes < data.size() - position ? (size_t) numBytes : data.size() - position;
            if (count > 0)
                std::memcpy (buffer, data.data() + position, count);
            position += count;

            if (numBytesRead != nullptr)
                *numBytesRead = (int32) count;
            return kResultOk;
        }

        tresult PLUGIN_API write (void* buffer, int32 numBytes, int32* numBytesWritten) override
        {
            if (numBytes < 0)
                return kInvalidArgument;

            if (position + (size_t) numBytes > data.size())
                data.resize (position + (size_t) numBytes);
            std::memcpy (data.data() + position, buffer, (size_t) numBytes);
            position += (size_t) numBytes;

            if (numBytesWritten != nullptr)
                *numBytesWritten = numBytes;
            return kResultOk;
        }

        tresult PLUGIN_API seek (int64 pos, int32 mode, int64* result) override
        {
            const auto base = mode == kIBSeekSet ? 0 : (mode == kIBSeekCur ? (int64) position : (int64) data.size());
            const auto target = base + pos;

            if (mode < kIBSeekSet || mode > kIBSeekEnd || target < 0 || target > (int64) data.size())
                return kInvalidArgument;

            position = (size_t) target;
            if (result != nullptr)
                *result = target;
            return kResultOk;
        }

        tresult PLUGIN_API tell (int64* pos) override
        {
            if (pos == nullptr)
                return kInvalidArgument;
            *pos = (int64) position;
            return kResultOk;
        }

        tresult PLUGIN_API getStreamSize (int64& size) override
        {
            size = (int64) data.size();
            return kResultOk;
        }

        tresult PLUGIN_API setStreamSize (int64 size) override
        {
            if (size < 0)
                return kInvalidArgument;
            data.resize ((size_t) size);
            position = position < data.size() ? position : data.size();
            return kResultOk;
        }

        const Bytes& getData() const noexcept   { return data; }

    private:
        Bytes data;
        size_t position = 0;
        std::atomic<uint32> refCount { 1 };
    };

    template <typename Interface>
    Interface* query (FUnknown* object, const TUID iid)
    {
        void* result = nullptr;
        if (object != nullptr && object->queryInterface (iid, &result) == kResultOk)
            return static_cast<Interface*> (result);
        return nullptr;
    }

    std::string toAscii (const Vst::String128 text)
    {
        std::string result;
        for (size_t i = 0; i < 128 && text[i] != 0; ++i)
            result += text[i] < 128 ? (char) text[i] : '?';
        return result;
    }

    struct Parameter
    {
        Vst::ParamID id;
        std::string title;
    };

    /** The module, opened once, with one component and its controller connected as a DAW does. */
    struct Plugin
    {
        void open()
        {
            // ZANDOR_FUZZ_MODULE runs the same fuzzer on another build of the module.
            const char* path = std::getenv ("ZANDOR_FUZZ_MODULE");
            handle = dlopen (path != nullptr ? path : ZANDOR_FUZZ_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
            if (handle == nullptr)
                fail (std::string ("cannot open the module: ") + dlerror());

            using ModuleEntryProc = bool (*) (void*);
            auto entry = reinterpret_cast<ModuleEntryProc> (dlsym (handle, "ModuleEntry"));
            auto getFactory = reinterpret_cast<GetFactoryProc> (dlsym (handle, "GetPluginFactory"));
            if (entry == nullptr || getFactory == nullptr || ! entry (handle))
                fail ("the module's ModuleEntry or GetPluginFactory is missing or failed");

            factory = getFactory();
            if (factory == nullptr)
                fail ("GetPluginFactory returned no factory");

            for (int32 i = 0; i < factory->countClasses() && component == nullptr; ++i)
            {
                PClassInfo info {};
                if (factory->getClassInfo (i, &info) == kResultOk && std::strcmp (info.category, kVstAudioEffectClass) == 0)
                {
                    void* object = nullptr;
                    if (factory->createInstance (info.cid, Vst::IComponent_iid, &object) == kResultOk)
                        component = static_cast<Vst::IComponent*> (object);
                }
            }

            if (component == nullptr || component->initialize (nullptr) != kResultOk)
                fail ("the module made no audio component");

            TUID controllerId {};
            void* object = nullptr;
            if (component->getControllerClassId (controllerId) != kResultOk
                || factory->createInstance (controllerId, Vst::IEditController_iid, &object) != kResultOk)
                fail ("the module made no edit controller");

            controller = static_cast<Vst::IEditController*> (object);
            if (controller->initialize (nullptr) != kResultOk)
                fail ("the edit controller did not initialise");

            // In one process JUCE's controller reaches the processor through this connection.
            componentPoint = query<Vst::IConnectionPoint> (component, Vst::IConnectionPoint_iid);
            controllerPoint = query<Vst::IConnectionPoint> (controller, Vst::IConnectionPoint_iid);
            if (componentPoint == nullptr || controllerPoint == nullptr)
                fail ("the component or the controller is no connection point");
            componentPoint->connect (controllerPoint);
            controllerPoint->connect (componentPoint);

            for (int32 i = 0; i < controller->getParameterCount(); ++i)
            {
                Vst::ParameterInfo info {};
                if (controller->getParameterInfo (i, info) == kResultOk)
                    parameters.push_back ({ info.id, toAscii (info.title) });
            }

            if (parameters.empty())
                fail ("the controller lists no parameters");
        }

        // Torn down before the module's own statics go, while JUCE's message thread still runs.
        void close()
        {
            if (handle == nullptr)
                return;

            componentPoint->disconnect (controllerPoint);
            controllerPoint->disconnect (componentPoint);
            componentPoint->release();
            controllerPoint->release();
            controller->terminate();
            component->terminate();
            controller->release();
            component->release();
            factory->release();

            using ModuleExitProc = bool (*)();
            if (auto exitProc = reinterpret_cast<ModuleExitProc> (dlsym (handle, "ModuleExit")))
                exitProc();
            handle = nullptr;
        }

        void load (const Bytes& state)
        {
            MemoryStream stream (state);
            component->setState (&stream);
            stream.seek (0, IBStream::kIBSeekSet, nullptr);
            controller->setComponentState (&stream);
        }

        Bytes save()
        {
            MemoryStream stream;
            if (component->getState (&stream) != kResultOk)
                fail ("getState failed");
            return stream.getData();
        }

        const Parameter* find (const std::string& title) const
        {
            for (auto& p : parameters)
                if (p.title == title)
                    return &p;
            return nullptr;
        }

        void* handle = nullptr;
        IPluginFactory* factory = nullptr;
        Vst::IComponent* component = nullptr;
        Vst::IEditController* controller = nullptr;
        Vst::IConnectionPoint* componentPoint = nullptr;
        Vst::IConnectionPoint* controllerPoint = nullptr;
        std::vector<Parameter> parameters;
        Bytes defaultState;
    };

    Plugin plugin;

    // The trailer ends in its tree's size and the identifier; before the tree are 8 zero bytes.
    Bytes withoutTrailer (const Bytes& state)
    {
        static const std::string identifier = "JUCEPrivateData";
        const auto framing = identifier.size() + 16;

        if (state.size() < framing || std::memcmp (state.data() + state.size() - identifier.size(), identifier.data(), identifier.size()) != 0)
            fail ("--write-seeds: the module's state has no private-data trailer");

        uint64_t treeSize = 0;
        for (int i = 0; i < 8; ++i)
            treeSize |= (uint64_t) state[state.size() - identifier.size() - 8 + (size_t) i] << (8 * i);

        if (treeSize > state.size() - framing)
            fail ("--write-seeds: the module's trailer has a size that does not fit");

        return Bytes (state.begin(), state.end() - (std::ptrdiff_t) (framing + treeSize));
    }

    // The pattern exists only in the processor's bytes (no parameter holds it): a row's 16 hex
    // digits are replaced in place, so every length field stays right.
    Bytes withPattern (Bytes state, const char* const rows[5])
    {
        for (int row = 0; row < 5; ++row)
        {
            const auto key = "row" + std::to_string (row) + "=\"";
            const std::string text (state.begin(), state.end());
            const auto at = text.find (key);

            if (at == std::string::npos || std::strlen (rows[row]) != 16 || at + key.size() + 16 > state.size())
                fail ("--write-seeds: the saved state holds no " + key + " with 16 steps");

            std::memcpy (state.data() + at + key.size(), rows[row], 16);
        }

        return state;
    }

    struct SeedSetting
    {
        const char* name;
        std::vector<std::pair<const char*, double>> values;   // parameter title, normalised value
        const char* rows[5];                                  // null: the default, empty pattern
    };

    void writeSeeds (const std::string& folder)
    {
        const SeedSetting settings[] {
            { "default", {}, {} },
            { "default-bypassed", { { "Bypass", 1.0 } }, {} },
            { "drive66", { { "Drive", 0.66 } }, {} },
            { "soft-glitch-bypassed", { { "Drive", 0.8 }, { "Mode", 0.34 }, { "Glitch On", 1.0 }, { "Glitch Chaos", 0.9 }, { "Bypass", 1.0 } },
              { "1000200030004000", "0000000000000000", "4000000020000000", "1111111111111111", "0000000000000000" } },
            { "crush-bandpass", { { "Mode", 0.67 }, { "Filter Type", 1.0 }, { "Filter Cutoff", 0.3 }, { "Filter Resonance", 0.9 }, { "Mix", 0.4 } },
              { "0000000000000000", "2020202020202020", "0000000000000000", "0000000000000000", "f000000000000000" } },
            { "fold-extremes-glitch", { { "Mode", 1.0 }, { "Drive", 1.0 }, { "Output", 0.0 }, { "Mix", 0.0 }, { "Glitch On", 1.0 }, { "Glitch Chaos", 0.0 } },
              { "3003003003003000", "0400040004000400", "0000000010000001", "0000000000000000", "2000000000000020" } },
            { "minimum-bypassed", { { "Drive", 0.0 }, { "Output", 1.0 }, { "Filter Cutoff", 0.0 }, { "Filter Resonance", 0.0 }, { "Bypass", 1.0 } }, {} },
        };

        int written = 0;
        const auto writeFile = [&] (const std::string& name, const Bytes& bytes)
        {
            const auto path = folder + "/seed-" + name + ".bin";
            auto* file = std::fopen (path.c_str(), "wb");
            if (file == nullptr || std::fwrite (bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose (file) != 0)
                fail ("--write-seeds: cannot write " + path);
            ++written;
        };

        for (auto& setting : settings)
        {
            plugin.load (plugin.defaultState);

            for (auto& [title, value] : setting.values)
            {
                auto* parameter = plugin.find (title);
                if (parameter == nullptr)
                    fail (std::string ("--write-seeds: no parameter named ") + title);
                plugin.controller->setParamNormalized (parameter->id, value);
            }

            auto state = plugin.save();

            if (setting.rows[0] != nullptr)
            {
                plugin.load (withPattern (state, setting.rows));
                state = plugin.save();
            }

            writeFile (setting.name, state);

            // A state from before JUCE wrote the trailer: the processor's bytes alone.
            if (std::strcmp (setting.name, "drive66") == 0)
                writeFile ("drive66-no-trailer", withoutTrailer (state));
        }

        // What an ordinary state costs here, beside the bound the fuzz run holds every input to.
        constexpr int rounds = 200;
        double slowest = 0.0, total = 0.0;
        for (int i = 0; i < rounds; ++i)
        {
            const auto start = std::chrono::steady_clock::now();
            plugin.load (plugin.defaultState);
            plugin.save();
            const auto took = secondsSince (start);
            total += took;
            slowest = took > slowest ? took : slowest;
        }

        std::printf ("component-state fuzz: %d seed states written; an ordinary state loads and saves in %.2f ms"
                     " (slowest of %d: %.2f ms; the bound is %.0f s)\n",
                     written, 1000.0 * total / rounds, rounds, 1000.0 * slowest, maxLoadAndSaveSeconds);
    }

    void checkParameters (const char* when)
    {
        for (auto& p : plugin.parameters)
        {
            const auto value = plugin.controller->getParamNormalized (p.id);

            if (! std::isfinite (value) || value < 0.0 || value > 1.0)
                fail ("parameter \"" + p.title + "\" reads " + std::to_string (value) + " (normalised) " + when);
        }
    }
}

extern "C" int LLVMFuzzerInitialize (int* argc, char*** argv)
{
    plugin.open();
    std::atexit ([] { plugin.close(); });
    plugin.defaultState = plugin.save();

    static const std::string flag = "--write-seeds=";
    for (int i = 1; i < *argc; ++i)
    {
        const std::string arg ((*argv)[i]);
        if (arg.rfind (flag, 0) == 0)
        {
            writeSeeds (arg.substr (flag.size()));
            std::fflush (stdout);
            std::exit (0);
        }
    }

    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    // Each input starts from the default settings, so that it reproduces on its own.
    plugin.load (plugin.defaultState);

    const auto start = std::chrono::steady_clock::now();
    plugin.load (Bytes (data, data + size));
    const auto saved = plugin.save();
    const auto took = secondsSince (start);

    if (took > maxLoadAndSaveSeconds)
    {
        char message[160];
        std::snprintf (message, sizeof (message), "loading this %zu-byte state and saving the next one took %.2f s (the bound is %.0f s)",
                       size, took, maxLoadAndSaveSeconds);
        fail (message);
    }

    checkParameters ("after the load");

    // Whatever the input was, what it left saves, loads and saves again to the same bytes.
    plugin.load (saved);
    checkParameters ("after reloading the saved state");
    const auto again = plugin.save();

    if (again != saved)
    {
        size_t at = 0;
        while (at < saved.size() && at < again.size() && saved[at] == again[at])
            ++at;
        fail ("a save, load and save round trip changed the bytes (" + std::to_string (saved.size()) + " then "
              + std::to_string (again.size()) + " bytes, first difference at offset " + std::to_string (at) + ")");
    }

    return 0;
}
