// The shell's walk over a folder's cached listing, one identifier per Next.
#pragma once

#include "shell/com_object.h"

#include <shlobj.h>

namespace dm {

class AmigaFolder;

class AmigaItemEnum final : public IEnumIDList, private ComObject {
public:
    static HRESULT Create(AmigaFolder& folder, SHCONTF flags, REFIID riid, void** out);

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // At most one identifier per call, whatever is asked for.
    STDMETHODIMP Next(ULONG count, PITEMID_CHILD* items, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumIDList** out) override;

private:
    AmigaItemEnum(AmigaFolder& folder, SHCONTF flags);
    ~AmigaItemEnum() override;

    bool Wanted(const ITEMIDLIST* item) const;

    AmigaFolder& folder_;
    size_t next_ = 0;
    SHCONTF flags_;
};

}  // namespace dm
