#include "shell/class_factory.h"

#include "shell/amiga_folder.h"
#include "shell/ui_object_factories.h"

#include <shlobj.h>

namespace dm {

HRESULT ClassFactory::Create(REFIID riid, void** out)
{
    *out = nullptr;
    return QueryNewObject<ClassFactory, IClassFactory>(new (std::nothrow) ClassFactory(), riid,
                                                       out);
}

STDMETHODIMP ClassFactory::QueryInterface(REFIID riid, void** out)
{
    return QueryInterfaceFrom({{IID_IUnknown, this}, {IID_IClassFactory, this}}, riid, out);
}

STDMETHODIMP_(ULONG) ClassFactory::AddRef()
{
    return AddRefObject();
}

STDMETHODIMP_(ULONG) ClassFactory::Release()
{
    return ReleaseObject();
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPersistFolder) ||
        IsEqualIID(riid, IID_IShellFolder)) {
        AmigaFolder* folder = AmigaFolder::New();
        // IUnknown comes through IPersistFolder, the folder's primary interface.
        return IsEqualIID(riid, IID_IShellFolder)
                   ? QueryNewObject<AmigaFolder, IShellFolder>(folder, riid, out)
                   : QueryNewObject<AmigaFolder, IPersistFolder>(folder, riid, out);
    }
    if (IsEqualIID(riid, IID_IShellExtInit) || IsEqualIID(riid, IID_IShellPropSheetExt)) {
        const auto create = UiFactories().createSettingsExtension;
        return create ? create(riid, out) : E_NOINTERFACE;
    }
    return E_NOINTERFACE;
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock)
{
    if (lock)
        ModuleCounts::Lock();
    else
        ModuleCounts::Unlock();
    return S_OK;
}

}  // namespace dm
