#include "transfer/format_enumerator.h"

#include <algorithm>

namespace dm {

HRESULT FormatEnumerator::Create(std::vector<FORMATETC> formats, IEnumFORMATETC** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return QueryNewObject<FormatEnumerator, IEnumFORMATETC>(
        new (std::nothrow) FormatEnumerator(std::move(formats)), IID_IEnumFORMATETC,
        reinterpret_cast<void**>(out));
}

STDMETHODIMP FormatEnumerator::QueryInterface(REFIID riid, void** out)
{
    return QueryInterfaceFrom({{IID_IUnknown, this}, {IID_IEnumFORMATETC, this}}, riid, out);
}

STDMETHODIMP FormatEnumerator::Next(ULONG count, FORMATETC* formats, ULONG* fetched)
{
    if (!formats && count > 0)
        return E_POINTER;
    const size_t copied = std::min<size_t>(count, formats_.size() - position_);
    std::copy_n(formats_.begin() + std::ptrdiff_t(position_), copied, formats);
    position_ += copied;
    if (fetched)
        *fetched = ULONG(copied);
    return copied == count ? S_OK : S_FALSE;
}

STDMETHODIMP FormatEnumerator::Skip(ULONG count)
{
    const size_t left = formats_.size() - position_;
    position_ += std::min<size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
}

STDMETHODIMP FormatEnumerator::Reset()
{
    position_ = 0;
    return S_OK;
}

STDMETHODIMP FormatEnumerator::Clone(IEnumFORMATETC** out)
{
    if (out)
        *out = nullptr;
    return E_NOTIMPL;
}

}  // namespace dm
