#include "shell/amiga_item_enum.h"

#include "shell/amiga_folder.h"

namespace dm {

HRESULT AmigaItemEnum::Create(AmigaFolder& folder, SHCONTF flags, REFIID riid, void** out)
{
    *out = nullptr;
    return QueryNewObject<AmigaItemEnum, IEnumIDList>(
        new (std::nothrow) AmigaItemEnum(folder, flags), riid, out);
}

AmigaItemEnum::AmigaItemEnum(AmigaFolder& folder, SHCONTF flags) : folder_(folder), flags_(flags)
{
    folder_.AddRef();
}

AmigaItemEnum::~AmigaItemEnum()
{
    folder_.Release();
}

STDMETHODIMP AmigaItemEnum::QueryInterface(REFIID riid, void** out)
{
    return QueryInterfaceFrom({{IID_IUnknown, this}, {IID_IEnumIDList, this}}, riid, out);
}

STDMETHODIMP_(ULONG) AmigaItemEnum::AddRef()
{
    return AddRefObject();
}

STDMETHODIMP_(ULONG) AmigaItemEnum::Release()
{
    return ReleaseObject();
}

bool AmigaItemEnum::Wanted(const ITEMIDLIST* item) const
{
    const bool folders = flags_ & SHCONTF_FOLDERS, others = flags_ & SHCONTF_NONFOLDERS;
    if (folders && others)
        return true;
    SFGAOF attributes = SFGAO_FOLDER;
    if (FAILED(folder_.GetAttributesOf(1, &item, &attributes)))
        return false;
    return (attributes & SFGAO_FOLDER) ? folders : others;
}

STDMETHODIMP AmigaItemEnum::Next(ULONG count, PITEMID_CHILD* items, ULONG* fetched)
{
    if (!items || count == 0)
        return E_INVALIDARG;
    items[0] = nullptr;
    if (fetched)
        *fetched = 0;
    bool outOfMemory = false;
    size_t next = next_;
    UniqueIdList taken = folder_.Items().CloneNext(
        next, [this](const ITEMIDLIST* item) { return Wanted(item); }, outOfMemory);
    next_ = next;
    if (outOfMemory)
        return E_OUTOFMEMORY;
    if (!taken)
        return S_FALSE;
    items[0] = taken.release();
    if (fetched)
        *fetched = 1;
    return S_OK;
}

STDMETHODIMP AmigaItemEnum::Skip(ULONG)
{
    return E_NOTIMPL;
}

STDMETHODIMP AmigaItemEnum::Reset()
{
    next_ = 0;
    return S_OK;
}

STDMETHODIMP AmigaItemEnum::Clone(IEnumIDList** out)
{
    if (out)
        *out = nullptr;
    return E_NOTIMPL;
}

}  // namespace dm
