// What every COM object of the module shares: a reference count that starts at 0 (the creator's
// QueryInterface takes the first reference), deletion at zero, and the live-object count.
#pragma once

#include "core/live_objects.h"

#include <windows.h>

#include <initializer_list>
#include <new>

namespace dm {

class ComObject {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

    ULONG AddRefObject() { return ULONG(InterlockedIncrement(&refs_)); }
    // A reference only while the object is not already being destroyed, for walks over
    // registries that another thread's last Release may be leaving.
    bool TryAddRefObject()
    {
        for (LONG count = refs_; count != 0;) {
            const LONG seen = InterlockedCompareExchange(&refs_, count + 1, count);
            if (seen == count)
                return true;
            count = seen;
        }
        return false;
    }
    ULONG ReleaseObject()
    {
        const ULONG left = ULONG(InterlockedDecrement(&refs_));
        if (left == 0)
            delete this;
        return left;
    }

private:
    LiveObject live_;
    LONG refs_ = 0;
};

// One interface an object hands out, and the pointer that answers for it.
struct InterfaceEntry {
    const IID& iid;
    IUnknown* pointer;
};

// QueryInterface over an object's table; the out pointer is null when nothing matches.
inline HRESULT QueryInterfaceFrom(std::initializer_list<InterfaceEntry> entries, REFIID riid,
                                  void** out)
{
    if (!out)
        return E_POINTER;
    for (const InterfaceEntry& entry : entries) {
        if (IsEqualIID(riid, entry.iid)) {
            entry.pointer->AddRef();
            *out = entry.pointer;
            return S_OK;
        }
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

// The usual way to hand out a new object: one reference for the query, dropped again after it,
// so a failed query destroys the object.
template <typename Object, typename Interface>
HRESULT QueryNewObject(Object* object, REFIID riid, void** out)
{
    if (!object)
        return E_OUTOFMEMORY;
    Interface* unknown = object;
    unknown->AddRef();
    const HRESULT hr = unknown->QueryInterface(riid, out);
    unknown->Release();
    return hr;
}

// MinGW's headers declare these interfaces but lack their identifiers.
// {000214EB-0000-0000-C000-000000000046}
inline constexpr IID kIID_IExtractIconA = {0x000214EB, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {000214FA-0000-0000-C000-000000000046}
inline constexpr IID kIID_IExtractIconW = {0x000214FA, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// {6B2D9A41-5C7E-4F83-9D10-3A5E7C24B8F6}
inline constexpr CLSID kNamespaceClsid = {
    0x6B2D9A41, 0x5C7E, 0x4F83, {0x9D, 0x10, 0x3A, 0x5E, 0x7C, 0x24, 0xB8, 0xF6}};
inline constexpr char kNamespaceClsidText[] = "{6B2D9A41-5C7E-4F83-9D10-3A5E7C24B8F6}";

}  // namespace dm
