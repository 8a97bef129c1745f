#include "ModuleFactory.h"

#include "Vst3Sdk.h"

#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <limits>

namespace
{
    using ModuleEntryProc = bool (*) (void*);
    using ModuleExitProc = bool (*)();

    juce::String fromChars (const Steinberg::char8* text, size_t capacity)
    {
        return juce::String (juce::CharPointer_UTF8 (text), juce::CharPointer_UTF8 (text + strnlen (text, capacity)));
    }

    juce::String fromWide (const Steinberg::char16* text, size_t capacity)
    {
        size_t length = 0;
        while (length < capacity && text[length] != 0)
            ++length;

        juce::String result;
        for (size_t i = 0; i < length; ++i)
            result += juce::String::charToString ((juce::juce_wchar) (juce::uint16) text[i]);
        return result;
    }

    juce::String classIdToString (const Steinberg::TUID cid)
    {
        return juce::String::toHexString (cid, (int) sizeof (Steinberg::TUID), 0).toUpperCase();
    }

    /** Keeps dlopen/ModuleEntry paired with ModuleExit/dlclose on every path. */
    struct OpenedModule
    {
        explicit OpenedModule (const juce::File& binary)
        {
            handle = dlopen (binary.getFullPathName().toRawUTF8(), RTLD_NOW | RTLD_LOCAL);
            if (handle == nullptr)
            {
                const char* message = dlerror();
                error = "cannot open " + binary.getFullPathName() + ": " + (message != nullptr ? message : "unknown error");
                return;
            }

            auto entry = reinterpret_cast<ModuleEntryProc> (dlsym (handle, "ModuleEntry"));
            if (entry == nullptr)
            {
                error = "the module exports no ModuleEntry";
                return;
            }

            if (! entry (handle))
            {
                error = "ModuleEntry reported failure";
                return;
            }

            entered = true;
        }

        ~OpenedModule()
        {
            if (entered)
                if (auto exitProc = reinterpret_cast<ModuleExitProc> (dlsym (handle, "ModuleExit")))
                    exitProc();

            if (handle != nullptr)
                dlclose (handle);
        }

        void* handle = nullptr;
        bool entered = false;
        juce::String error;
    };

    template <typename Interface>
    Interface* queryFactory (Steinberg::IPluginFactory* factory)
    {
        void* result = nullptr;
        if (factory->queryInterface (Interface::iid, &result) == Steinberg::kResultOk && result != nullptr)
            return static_cast<Interface*> (result);
        return nullptr;
    }
}

juce::File findModuleBinary (const juce::File& bundleOrBinary)
{
    if (bundleOrBinary.existsAsFile())
        return bundleOrBinary;

    const auto folder = bundleOrBinary.getChildFile ("Contents").getChildFile ("x86_64-linux");
    const auto preferred = folder.getChildFile (bundleOrBinary.getFileNameWithoutExtension() + ".so");
    if (preferred.existsAsFile())
        return preferred;

    const auto found = folder.findChildFiles (juce::File::findFiles, false, "*.so");
    return found.isEmpty() ? juce::File() : found.getFirst();
}

namespace
{
    /** The end of a region of the file, saturated rather than wrapped for a garbage header. */
    juce::uint64 endOf (juce::uint64 offset, juce::uint64 length)
    {
        return offset > std::numeric_limits<juce::uint64>::max() - length ? std::numeric_limits<juce::uint64>::max() : offset + length;
    }

    /** How far into the file its ELF headers say it reaches, or 0 with what is wrong ("is
        damaged: ...") when the file is not a 64-bit x86-64 shared object at all. */
    juce::uint64 findElfExtent (juce::InputStream& in, juce::String& reason)
    {
        Elf64_Ehdr header {};
        if (in.read (&header, (int) sizeof (header)) != (int) sizeof (header))
        {
            reason = "is damaged: it is too short to hold an ELF header";
            return 0;
        }
        if (std::memcmp (header.e_ident, ELFMAG, SELFMAG) != 0)
        {
            reason = "is damaged: it is not an ELF shared object";
            return 0;
        }
        if (header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB || header.e_machine != EM_X86_64)
        {
            reason = "cannot be loaded: it is built for another kind of machine than 64-bit x86 Linux";
            return 0;
        }

        const auto fileSize = (juce::uint64) in.getTotalLength();
        const auto programHeadersEnd = endOf (header.e_phoff, (juce::uint64) header.e_phnum * header.e_phentsize);
        auto extent = juce::jmax ((juce::uint64) sizeof (header), programHeadersEnd,
                                  endOf (header.e_shoff, (juce::uint64) header.e_shnum * header.e_shentsize));
        if (header.e_phentsize < sizeof (Elf64_Phdr) || programHeadersEnd > fileSize)
            return extent;

        // The segments dlopen maps: a page of one beyond the end of the file faults on first touch.
        for (juce::uint64 i = 0; i < header.e_phnum; ++i)
        {
            Elf64_Phdr segment {};
            if (! in.setPosition ((juce::int64) (header.e_phoff + i * header.e_phentsize))
                || in.read (&segment, (int) sizeof (segment)) != (int) sizeof (segment))
                return programHeadersEnd;
            if (segment.p_type == PT_LOAD)
                extent = juce::jmax (extent, endOf (segment.p_offset, segment.p_filesz));
        }
        return extent;
    }
}

bool checkModuleBinary (const juce::File& bundleOrBinary, juce::File& binary, juce::String& error)
{
    binary = findModuleBinary (bundleOrBinary);
    if (binary == juce::File())
    {
        error = "no module binary in " + bundleOrBinary.getFullPathName();
        return false;
    }

    // A VST3 host looks for the binary by the bundle's name alone, so a renamed one is never found.
    if (bundleOrBinary.isDirectory() && binary.getFileNameWithoutExtension() != bundleOrBinary.getFileNameWithoutExtension())
    {
        error = "the module binary in " + bundleOrBinary.getFullPathName() + " is named \"" + binary.getFileName()
              + "\", but hosts look for it under the bundle's name: rename it to \"Contents/x86_64-linux/"
              + bundleOrBinary.getFileNameWithoutExtension() + ".so\"";
        return false;
    }

    juce::FileInputStream in (binary);
    if (! in.openedOk())
    {
        error = "cannot read " + binary.getFullPathName() + ": " + in.getStatus().getErrorMessage();
        return false;
    }

    juce::String reason;
    const auto extent = findElfExtent (in, reason);
    if (reason.isNotEmpty() || extent > (juce::uint64) in.getTotalLength())
    {
        if (reason.isEmpty())
            reason = "is damaged: it is " + juce::String (in.getTotalLength()) + " bytes long, but its ELF headers describe "
                   + juce::String (extent) + " (cut short, as by an interrupted copy or download)";
        error = "the module file " + binary.getFullPathName() + " " + reason + "; build or install the bundle again";
        return false;
    }
    return true;
}

bool readFactoryInfo (const juce::File& bundle, FactoryInfo& info, juce::String& error)
{
    using namespace Steinberg;

    info = {};
    juce::File binary;
    if (! checkModuleBinary (bundle, binary, error))
        return false;

    OpenedModule module (binary);
    if (module.error.isNotEmpty())
    {
        error = module.error;
        return false;
    }

    auto getFactory = reinterpret_cast<GetFactoryProc> (dlsym (module.handle, "GetPluginFactory"));
    if (getFactory == nullptr)
    {
        error = "the module exports no GetPluginFactory";
        return false;
    }

    IPluginFactory* factory = getFactory();
    if (factory == nullptr)
    {
        error = "GetPluginFactory returned no factory";
        return false;
    }

    PFactoryInfo factoryInfo {};
    if (factory->getFactoryInfo (&factoryInfo) == kResultOk)
    {
        info.vendor = fromChars (factoryInfo.vendor, PFactoryInfo::kNameSize);
        info.url = fromChars (factoryInfo.url, PFactoryInfo::kURLSize);
        info.email = fromChars (factoryInfo.email, PFactoryInfo::kEmailSize);
        info.flags = factoryInfo.flags;
    }

    auto* factory2 = queryFactory<IPluginFactory2> (factory);
    auto* factory3 = queryFactory<IPluginFactory3> (factory);
    info.factoryVersion = factory3 != nullptr ? 3 : (factory2 != nullptr ? 2 : 1);

    const auto numClasses = factory->countClasses();
    for (int32 i = 0; i < numClasses; ++i)
    {
        FactoryClassInfo entry;
        PClassInfoW wide {};
        PClassInfo2 info2 {};
        PClassInfo plain {};

        if (factory3 != nullptr && factory3->getClassInfoUnicode (i, &wide) == kResultOk)
        {
            entry.classId = classIdToString (wide.cid);
            entry.category = fromChars (wide.category, PClassInfo::kCategorySize);
            entry.name = fromWide (wide.name, PClassInfo::kNameSize);
            entry.cardinality = wide.cardinality;
            entry.classFlags = wide.classFlags;
            entry.subCategories = fromChars (wide.subCategories, PClassInfo2::kSubCategoriesSize);
            entry.vendor = fromWide (wide.vendor, PClassInfo2::kVendorSize);
            entry.version = fromWide (wide.version, PClassInfo2::kVersionSize);
            entry.sdkVersion = fromWide (wide.sdkVersion, PClassInfo2::kVersionSize);
        }
        else if (factory2 != nullptr && factory2->getClassInfo2 (i, &info2) == kResultOk)
        {
            entry.classId = classIdToString (info2.cid);
            entry.category = fromChars (info2.category, PClassInfo::kCategorySize);
            entry.name = fromChars (info2.name, PClassInfo::kNameSize);
            entry.cardinality = info2.cardinality;
            entry.classFlags = info2.classFlags;
            entry.subCategories = fromChars (info2.subCategories, PClassInfo2::kSubCategoriesSize);
            entry.vendor = fromChars (info2.vendor, PClassInfo2::kVendorSize);
            entry.version = fromChars (info2.version, PClassInfo2::kVersionSize);
            entry.sdkVersion = fromChars (info2.sdkVersion, PClassInfo2::kVersionSize);
        }
        else if (factory->getClassInfo (i, &plain) == kResultOk)
        {
            entry.classId = classIdToString (plain.cid);
            entry.category = fromChars (plain.category, PClassInfo::kCategorySize);
            entry.name = fromChars (plain.name, PClassInfo::kNameSize);
            entry.cardinality = plain.cardinality;
        }
        else
        {
            continue;
        }

        info.classes.push_back (entry);
    }

    if (factory3 != nullptr) factory3->release();
    if (factory2 != nullptr) factory2->release();
    factory->release();
    return true;
}
