#include "EngineTestHelpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>

// Counting replacements of the global allocation functions, for this test binary only.
// They count only on a thread that has asked for it, between start and stop, so gtest and
// JUCE work on other threads are left out. JUCE's HeapBlock (behind AudioBuffer) calls malloc
// directly, so outside the sanitizer build malloc and its relatives are counted as well;
// under AddressSanitizer the sanitizer owns malloc and only operator new is counted.
namespace
{
thread_local bool countingOnThisThread = false;
std::atomic<long> allocationCount { 0 };

void noteAllocation() noexcept
{
    if (countingOnThisThread)
        allocationCount.fetch_add (1, std::memory_order_relaxed);
}

void* allocate (std::size_t size)
{
    noteAllocation();

    if (void* p = std::malloc (size == 0 ? 1 : size))
        return p;

    throw std::bad_alloc();
}

void* allocateAligned (std::size_t size, std::align_val_t alignment)
{
    noteAllocation();

    void* p = nullptr;
    const auto align = juce::jmax ((std::size_t) alignment, sizeof (void*));
    if (posix_memalign (&p, align, size == 0 ? 1 : size) == 0)
        return p;

    throw std::bad_alloc();
}

struct CountAllocations
{
    CountAllocations()  { allocationCount = 0; countingOnThisThread = true; }
    ~CountAllocations() { countingOnThisThread = false; }
    long count() const  { return allocationCount.load(); }
};
} // namespace

#if ! defined (__SANITIZE_ADDRESS__)
extern "C"
{
void* __libc_malloc (std::size_t);
void* __libc_calloc (std::size_t, std::size_t);
void* __libc_realloc (void*, std::size_t);
void* __libc_memalign (std::size_t, std::size_t);
void __libc_free (void*);

void* malloc (std::size_t size)                           { noteAllocation(); return __libc_malloc (size); }
void* calloc (std::size_t n, std::size_t size)            { noteAllocation(); return __libc_calloc (n, size); }
void* realloc (void* p, std::size_t size)                 { noteAllocation(); return __libc_realloc (p, size); }
void* memalign (std::size_t align, std::size_t size)      { noteAllocation(); return __libc_memalign (align, size); }
void* aligned_alloc (std::size_t align, std::size_t size) { noteAllocation(); return __libc_memalign (align, size); }
void free (void* p)                                       { __libc_free (p); }

int posix_memalign (void** out, std::size_t align, std::size_t size)
{
    noteAllocation();
    if (align < sizeof (void*) || (align & (align - 1)) != 0)
        return 22; // EINVAL
    void* p = __libc_memalign (align, size);
    if (p == nullptr)
        return 12; // ENOMEM
    *out = p;
    return 0;
}
}
#endif

void* operator new (std::size_t size)                                        { return allocate (size); }
void* operator new[] (std::size_t size)                                      { return allocate (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept        { try { return allocate (size); } catch (...) { return nullptr; } }
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept      { try { return allocate (size); } catch (...) { return nullptr; } }
void* operator new (std::size_t size, std::align_val_t a)                    { return allocateAligned (size, a); }
void* operator new[] (std::size_t size, std::align_val_t a)                  { return allocateAligned (size, a); }
void operator delete (void* p) noexcept                                      { std::free (p); }
void operator delete[] (void* p) noexcept                                    { std::free (p); }
void operator delete (void* p, std::size_t) noexcept                         { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept                       { std::free (p); }
void operator delete (void* p, const std::nothrow_t&) noexcept               { std::free (p); }
void operator delete[] (void* p, const std::nothrow_t&) noexcept             { std::free (p); }
void operator delete (void* p, std::align_val_t) noexcept                    { std::free (p); }
void operator delete[] (void* p, std::align_val_t) noexcept                  { std::free (p); }
void operator delete (void* p, std::size_t, std::align_val_t) noexcept       { std::free (p); }
void operator delete[] (void* p, std::size_t, std::align_val_t) noexcept     { std::free (p); }

namespace
{
struct PlayingPlayHead final : juce::AudioPlayHead
{
    juce::Optional<PositionInfo> getPosition() const override
    {
        PositionInfo info;
        info.setBpm (128.0);
        info.setIsPlaying (true);
        info.setPpqPosition (ppq);
        return info;
    }

    double ppq = 0.0;
};

void fillPattern (BrellDistortionProcessor& proc)
{
    // Every row holds blocks, so that all five effects start and sound during the run.
    for (int row = 0; row < GlitchPattern::numRows; ++row)
        for (int step = 0; step < GlitchPattern::numSteps; step += 4)
            proc.glitchPattern.set (row, step, 3);
}
} // namespace

TEST (NoAllocation, CountingSeesOrdinaryAllocations)
{
    {
        CountAllocations counter;
        auto* p = new int (3);
        delete p;
        EXPECT_GE (counter.count(), 1);
    }
   #if ! defined (__SANITIZE_ADDRESS__)
    {
        CountAllocations counter;
        juce::AudioBuffer<float> grown (2, 4096);
        EXPECT_GE (counter.count(), 1);
    }
   #endif
}

TEST (NoAllocation, PreparedBlocksAllocateNothing)
{
    constexpr int blockSize = 512;

    for (int numChannels : { 1, 2 })
        for (int mode = 0; mode < 4; ++mode)
            for (int filterType = 0; filterType < 3; ++filterType)
                for (bool glitch : { false, true })
                    for (bool pattern : { false, true })
                    {
                        if (pattern && ! glitch)
                            continue;

                        auto proc = std::make_unique<BrellDistortionProcessor>();
                        if (numChannels == 1)
                            enginetest::setMonoLayout (*proc);

                        enginetest::setParam (*proc, "mode", (float) mode);
                        enginetest::setParam (*proc, "filterType", (float) filterType);
                        enginetest::setParam (*proc, "glitchOn", glitch ? 1.0f : 0.0f);
                        enginetest::setParam (*proc, "glitchChaos", 80.0f);
                        if (pattern)
                            fillPattern (*proc);

                        proc->prepareToPlay (48000.0, blockSize);

                        PlayingPlayHead playHead;
                        auto buffer = enginetest::makeTestSignal (numChannels, blockSize);
                        juce::AudioBuffer<float> shortBlock (numChannels, 100);
                        juce::MidiBuffer midi;

                        long allocations = 0;
                        {
                            CountAllocations counter;

                            // Free-running steps first, then a playing transport, then shorter blocks.
                            for (int block = 0; block < 100; ++block)
                            {
                                if (block == 50)
                                    proc->setPlayHead (&playHead);

                                playHead.ppq = block * 0.25;

                                // Hostile samples take the path that clears them and restarts the chain.
                                if (block == 20)
                                    buffer.setSample (0, 7, std::numeric_limits<float>::quiet_NaN());
                                if (block == 30)
                                    for (int ch = 0; ch < numChannels; ++ch)
                                        juce::FloatVectorOperations::fill (buffer.getWritePointer (ch), 3.4e38f, blockSize);

                                proc->processBlock (block % 7 == 3 ? shortBlock : buffer, midi);
                            }

                            allocations = counter.count();
                        }

                        EXPECT_EQ (allocations, 0) << "channels " << numChannels << " mode " << mode
                                                   << " filter " << filterType << " glitch " << glitch
                                                   << " pattern " << pattern;
                        proc->setPlayHead (nullptr);
                    }
}

TEST (NoAllocation, OverLongAndUnpreparedBlocksAllocateNothing)
{
    BrellDistortionProcessor unprepared;
    auto prepared = std::make_unique<BrellDistortionProcessor>();
    prepared->prepareToPlay (44100.0, 64);

    auto longBlock = enginetest::makeTestSignal (2, 3000);
    juce::MidiBuffer midi;

    CountAllocations counter;
    for (int block = 0; block < 10; ++block)
    {
        unprepared.processBlock (longBlock, midi);
        prepared->processBlock (longBlock, midi);
    }
    EXPECT_EQ (counter.count(), 0);
}
