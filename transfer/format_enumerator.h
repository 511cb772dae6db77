// The list of formats a data object offers or accepts, handed out as IEnumFORMATETC.
#pragma once

#include "shell/com_object.h"

#include <objidl.h>

#include <vector>

namespace dm {

class FormatEnumerator final : public IEnumFORMATETC, private ComObject {
public:
    static HRESULT Create(std::vector<FORMATETC> formats, IEnumFORMATETC** out);

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefObject(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseObject(); }

    STDMETHODIMP Next(ULONG count, FORMATETC* formats, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumFORMATETC** out) override;

private:
    explicit FormatEnumerator(std::vector<FORMATETC> formats) : formats_(std::move(formats)) {}

    std::vector<FORMATETC> formats_;
    size_t position_ = 0;
};

}  // namespace dm
