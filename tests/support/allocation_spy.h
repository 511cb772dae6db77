// Counts task-allocator blocks, which is where every item identifier lives. Allocations come
// from any thread, so the count is atomic. Revoking waits for the blocks it saw, so a spy is
// registered once and outlives its test.
#pragma once

#include <objbase.h>

#include <atomic>

namespace dm::test {

class AllocationSpy final : public IMallocSpy {
public:
    // The process's spy, registered on first use.
    static AllocationSpy& Installed()
    {
        static AllocationSpy spy;
        static const bool registered = SUCCEEDED(CoRegisterMallocSpy(&spy));
        (void)registered;
        return spy;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        *out =
            (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMallocSpy)) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T size) override { return size; }
    STDMETHODIMP_(void*) PostAlloc(void* block) override
    {
        if (block)
            ++outstanding;
        return block;
    }
    STDMETHODIMP_(void*) PreFree(void* block, BOOL) override
    {
        if (block)
            --outstanding;
        // An identifier used after it was freed then reads as an empty list, not as the item.
        if (block && poisonFreed)
            *static_cast<USHORT*>(block) = 0;
        return block;
    }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* block, SIZE_T size, void** out, BOOL) override
    {
        *out = block;
        return size;
    }
    STDMETHODIMP_(void*) PostRealloc(void* block, BOOL) override { return block; }
    STDMETHODIMP_(void*) PreGetSize(void* block, BOOL) override { return block; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T size, BOOL) override { return size; }
    STDMETHODIMP_(void*) PreDidAlloc(void* block, BOOL) override { return block; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}

    std::atomic<long> outstanding {0};
    std::atomic<bool> poisonFreed {false};
};

}  // namespace dm::test
