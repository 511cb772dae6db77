// What Explorer hands over for PC files: the shell's own data object for files in a folder, and
// the same with the preferred effect of a Cut added.
#pragma once

#include "transfer/clipboard_formats.h"

#include <shlobj.h>
#include <wrl/client.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

namespace dm::test {

// The shell's own data object for `names` in the PC folder `folder`.
inline Microsoft::WRL::ComPtr<IDataObject> PcItems(const std::filesystem::path& folder,
                                                  const std::vector<std::string>& names)
{
    Microsoft::WRL::ComPtr<IShellFolder> desktop, pcFolder;
    ITEMIDLIST* absolute = nullptr;
    std::wstring path = folder.wstring();
    SHGetDesktopFolder(&desktop);
    desktop->ParseDisplayName(nullptr, nullptr, path.data(), nullptr, &absolute, nullptr);
    desktop->BindToObject(absolute, nullptr, IID_PPV_ARGS(&pcFolder));
    CoTaskMemFree(absolute);
    std::vector<ITEMIDLIST*> children(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        std::wstring wide = std::filesystem::path(names[i]).wstring();
        pcFolder->ParseDisplayName(nullptr, nullptr, wide.data(), nullptr, &children[i], nullptr);
    }
    Microsoft::WRL::ComPtr<IDataObject> data;
    pcFolder->GetUIObjectOf(nullptr, UINT(children.size()),
                            const_cast<PCUITEMID_CHILD_ARRAY>(children.data()), IID_IDataObject,
                            nullptr, reinterpret_cast<void**>(data.GetAddressOf()));
    for (ITEMIDLIST* child : children)
        CoTaskMemFree(child);
    return data;
}

// What Explorer puts on the clipboard for a Cut: the shell's data object with the preferred
// effect added.
class PreferringDataObject final : public IDataObject {
public:
    PreferringDataObject(IDataObject* inner, DWORD effect) : inner_(inner), effect_(effect) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        const bool ours = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject);
        *out = ours ? static_cast<IDataObject*>(this) : nullptr;
        return ours ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override
    {
        if (format->cfFormat != Formats()->preferredDropEffect)
            return inner_->GetData(format, medium);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = MakeDwordBlock(effect_);
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    STDMETHODIMP QueryGetData(FORMATETC* format) override
    {
        return format->cfFormat == Formats()->preferredDropEffect ? S_OK
                                                                   : inner_->QueryGetData(format);
    }
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override
    {
        return inner_->EnumFormatEtc(direction, out);
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

private:
    Microsoft::WRL::ComPtr<IDataObject> inner_;
    DWORD effect_;
    std::atomic<ULONG> refs_ {0};
};

}  // namespace dm::test
