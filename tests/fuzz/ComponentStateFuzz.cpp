// libFuzzer target: whole component states, JUCE's private-data trailer included, handed to the
// built module through its VST3 interfaces as a host restores a project (IComponent::setState,
// then IEditController::setComponentState). Nothing may crash or trip a sanitizer; every parameter
// must come back finite and within 0..1 as the host sees it; what loaded must save, load and save
// again to the same bytes; and no load with the save after it may take far longer than an ordinary
// state's. The module is built with coverage, so the engine steers into JUCE's code too.

#define INIT_CLASS_IID
#include <pluginterfaces/base/funknown.h>
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

using namespace Steinberg;

namespace
{
    using Bytes = std::vector<uint8_t>;

    // An ordinary state loads and saves in well under a millisecond here, and in a few under
    // the sanitizers; the states that froze the host took seconds to minutes.
    constexpr double slowSeconds = 2.0;

    [[noreturn]] void fail (const std::string& why)
    {
        std::fprintf (stderr, "component state fuzz: %s\n", why.c_str());
        std::fflush (stderr);
        std::abort();
    }

    // A host's memory stream: what setState reads and getState writes.
    class MemoryStream final : public IBStream, public ISizeableStream
    {
    public:
        MemoryStream() = default;
        MemoryStream (const uint8_t* data, size_t size) : bytes (data, data + size) {}

        tresult PLUGIN_API queryInterface (const TUID iid, void** obj) override
        {
            if (FUnknownPrivate::iidEqual (iid, IBStream::iid) || FUnknownPrivate::iidEqual (iid, FUnknown::iid))
            {
                *obj = static_cast<IBStream*> (this);
                return kResultOk;
            }
            if (FUnknownPrivate::iidEqual (iid, ISizeableStream::iid))
            {
                *obj = static_cast<ISizeableStream*> (this);
                return kResultOk;
            }
            *obj = nullptr;
            return kNoInterface;
        }

        // Lives on the stack of its one user.
        uint32 PLUGIN_API addRef() override  { return 1; }
        uint32 PLUGIN_API release() override { return 1; }

        tresult PLUGIN_API read (void* buffer, int32 numBytes, int32* numBytesRead) override
        {
            const auto available = bytes.size() - std::min (position, bytes.size());
            const auto count = numBytes > 0 ? std::min ((size_t) numBytes, available) : 0;
            if (count > 0)
                std::memcpy (buffer, bytes.data() + position, count);
            position += count;
            if (numBytesRead != nullptr)
                *numBytesRead = (int32) count;
            return kResultOk;
        }

        tresult PLUGIN_API write (void* buffer, int32 numBytes, int32* numBytesWritten) override
        {
            if (numBytes < 0)
                return kInvalidArgument;
            if (bytes.size() < position + (size_t) numBytes)
                bytes.resize (position + (size_t) numBytes);
            std::memcpy (bytes.data() + position, buffer, (size_t) numBytes);
            position += (size_t) numBytes;
            if (numBytesWritten != nullptr)
                *numBytesWritten = numBytes;
            return kResultOk;
        }

        tresult PLUGIN_API seek (int64 pos, int32 mode, int64* result) override
        {
            const auto base = mode == kIBSeekSet ? 0 : mode == kIBSeekCur ? (int64) position : (int64) bytes.size();
            if (base + pos < 0)
                return kResultFalse;
            position = (size_t) (base + pos);
            if (result != nullptr)
                *result = (int64) position;
            return kResultTrue;
        }

        tresult PLUGIN_API tell (int64* pos) override
        {
            if (pos != nullptr)
                *pos = (int64) position;
            return kResultOk;
        }

        tresult PLUGIN_API getStreamSize (int64& size) override { size = (int64) bytes.size(); return kResultOk; }
        tresult PLUGIN_API setStreamSize (int64 size) override  { bytes.resize ((size_t) size); return kResultOk; }

        Bytes bytes;

    private:
        size_t position = 0;
    };

    struct Plugin
    {
        Vst::IComponent* component = nullptr;
        Vst::IEditController* controller = nullptr;
    };

    template <typename Interface>
    Interface* create (IPluginFactory& factory, const char* category)
    {
        for (int32 i = 0; i < factory.countClasses(); ++i)
        {
            PClassInfo info {};
            void* object = nullptr;
            if (factory.getClassInfo (i, &info) == kResultOk && std::strcmp (info.category, category) == 0
                && factory.createInstance (info.cid, Interface::iid, &object) == kResultOk)
                return static_cast<Interface*> (object);
        }
        return nullptr;
    }

    Plugin& plugin()
    {
        static Plugin loaded = []
        {
            const char* path = std::getenv ("ZANDOR_FUZZ_MODULE");
            void* handle = ::dlopen (path != nullptr ? path : ZANDOR_FUZZ_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
            if (handle == nullptr)
                fail (std::string ("cannot load the module: ") + ::dlerror());

            using EntryFunction = bool (*) (void*);
            using FactoryFunction = IPluginFactory* (*)();
            auto entry = reinterpret_cast<EntryFunction> (::dlsym (handle, "ModuleEntry"));
            auto getFactory = reinterpret_cast<FactoryFunction> (::dlsym (handle, "GetPluginFactory"));
            if (entry == nullptr || getFactory == nullptr || ! entry (handle))
                fail ("the module has no working ModuleEntry or GetPluginFactory");

            auto* factory = getFactory();
            if (factory == nullptr)
                fail ("the module gives no factory");

            Plugin p;
            p.component = create<Vst::IComponent> (*factory, kVstAudioEffectClass);
            p.controller = create<Vst::IEditController> (*factory, kVstComponentControllerClass);
            if (p.component == nullptr || p.controller == nullptr
                || p.component->initialize (nullptr) != kResultOk || p.controller->initialize (nullptr) != kResultOk)
                fail ("cannot create and initialise the component and its controller");

            // Connected as a host connects them, so that the controller reports the processor's values.
            Vst::IConnectionPoint *componentPoint = nullptr, *controllerPoint = nullptr;
            p.component->queryInterface (Vst::IConnectionPoint::iid, reinterpret_cast<void**> (&componentPoint));
            p.controller->queryInterface (Vst::IConnectionPoint::iid, reinterpret_cast<void**> (&controllerPoint));
            if (componentPoint == nullptr || controllerPoint == nullptr)
                fail ("the component and controller offer no connection points");
            controllerPoint->connect (componentPoint);
            componentPoint->connect (controllerPoint);
            return p;
        }();
        return loaded;
    }

    Bytes save (Plugin& p)
    {
        MemoryStream out;
        if (p.component->getState (&out) != kResultOk)
            fail ("getState failed");
        return out.bytes;
    }

    void load (Plugin& p, const Bytes& bytes)
    {
        MemoryStream in (bytes.data(), bytes.size());
        p.component->setState (&in);
        MemoryStream again (bytes.data(), bytes.size());
        p.controller->setComponentState (&again);
    }

    void checkParameters (Plugin& p)
    {
        for (int32 i = 0; i < p.controller->getParameterCount(); ++i)
        {
            Vst::ParameterInfo info {};
            if (p.controller->getParameterInfo (i, info) != kResultOk)
                fail ("no information for parameter " + std::to_string (i));

            const auto value = p.controller->getParamNormalized (info.id);
            if (! std::isfinite (value) || value < 0.0 || value > 1.0)
                fail ("parameter " + std::to_string (info.id) + " is " + std::to_string (value) + " after the load");
        }
    }

    Bytes ordinaryState;
}

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    // The state every input starts from: what a fresh instance saves.
    ordinaryState = save (plugin());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    auto& p = plugin();

    // Each input starts from the same settings, so that a failure repeats from its input alone.
    load (p, ordinaryState);

    const auto start = std::chrono::steady_clock::now();
    load (p, Bytes (data, data + size));
    const auto saved = save (p);
    const auto seconds = std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count();

    if (seconds > slowSeconds)
        fail ("a load and the save after it took " + std::to_string (seconds) + " s, an ordinary state's a few ms");

    checkParameters (p);

    load (p, saved);
    checkParameters (p);
    if (save (p) != saved)
        fail ("a saved state does not load and save back to the same bytes");

    return 0;
}
