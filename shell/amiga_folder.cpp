// The folder as the shell binds to it: its lifetime, parsing and binding, comparing items, their
// attributes and display names, the objects it hands out, its views and the files opened from it.
#include "shell/amiga_folder.h"

#include "core/amiga_names.h"
#include "core/amiga_paths.h"
#include "core/module.h"
#include "core/registry.h"
#include "core/temp_folder.h"
#include "shell/amiga_icon_provider.h"
#include "shell/amiga_item_enum.h"
#include "shell/folder_cache.h"
#include "shell/item_id.h"
#include "shell/remote_operation.h"
#include "shell/ui_object_factories.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace dm {

namespace {

constexpr size_t kMaxShellPath = 260;

// The identifier a folder or item list ends with, or an invalid view when the list is null,
// unterminated or its last item is not one of ours.
ItemIdView LastItem(const ITEMIDLIST* list)
{
    const ITEMIDLIST* last = list ? LastIdListItem(list) : nullptr;
    if (!last || ReadItemSize(last) == 0)
        return {};
    return ItemIdView(last);
}

bool LacksMedium(const ItemIdView& item)
{
    return (item.Kind() == ItemKind::Volume || item.Kind() == ItemKind::Floppy) &&
           item.UsedSpace() == 0xFFFFFFFFu;
}

int Sign(int64_t difference)
{
    return difference < 0 ? -1 : (difference > 0 ? 1 : 0);
}

int CompareTexts(std::string_view a, std::string_view b)
{
    // lstrcmpA needs terminated texts; every view text is terminated inside its identifier.
    return lstrcmpA(std::string(a).c_str(), std::string(b).c_str());
}

std::string NamespaceName(HRESULT& result)
{
    char name[kMaxShellPath] = {};
    LONG size = sizeof name;
    const std::string key = std::string("CLSID\\") + kNamespaceClsidText;
    result = RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), name, &size) == ERROR_SUCCESS ? S_OK
                                                                                          : E_FAIL;
    if (FAILED(result))
        name[0] = '\0';
    name[sizeof name - 1] = '\0';
    return name;
}

void PutCString(STRRET* out, std::string_view text)
{
    out->uType = STRRET_CSTR;
    const size_t length = std::min(text.size(), sizeof out->cStr - 1);
    std::memcpy(out->cStr, text.data(), length);
    out->cStr[length] = '\0';
}

}  // namespace

int CompareItemIds(int column, const ITEMIDLIST* first, const ITEMIDLIST* second)
{
    if (!first || !second)
        return (!first && !second) ? 0 : 1;
    const ItemIdView a = LastItem(first);
    const ItemIdView b = LastItem(second);
    if (!a.IsValid() || !b.IsValid())
        return 1;

    // Items of different kinds sort by kind whatever column is asked for, so drawers always
    // come before files.
    const FolderColumn by = a.Kind() == b.Kind() ? FolderColumn(column) : FolderColumn::Type;
    int result = 0;
    switch (by) {
    case FolderColumn::Size: result = Sign(int64_t(a.Size()) - int64_t(b.Size())); break;
    case FolderColumn::Type: result = Sign(int(a.Kind()) - int(b.Kind())); break;
    case FolderColumn::Modified: {
        const FILETIME ta = a.Modified(), tb = b.Modified();
        result = CompareFileTime(&ta, &tb);
        break;
    }
    case FolderColumn::Attributes:
        result = CompareTexts(a.AttributeText(), b.AttributeText());
        break;
    case FolderColumn::Comment: result = CompareTexts(a.Comment(), b.Comment()); break;
    default: break;
    }
    if (result == 0)
        result = CompareTexts(a.ParentPath(), b.ParentPath());
    if (result == 0)
        result = CompareTexts(DisplayName(a.Name(), a.Kind()), DisplayName(b.Name(), b.Kind()));
    if (result == 0)
        result = CompareTexts(a.Name(), b.Name());
    return result;
}

SFGAOF ItemAttributes(const ITEMIDLIST* item)
{
    const ItemIdView view(item);
    if (!view.IsValid())
        return 0;
    const ItemKind kind = view.Kind();
    const bool noMedium = LacksMedium(view);
    SFGAOF attributes = 0;
    if (!noMedium)
        attributes |= SFGAO_CANCOPY;
    if (IsContainerKind(kind) && !noMedium)
        attributes |= SFGAO_FOLDER | SFGAO_DROPTARGET | SFGAO_CANRENAME;
    if (kind == ItemKind::AdfFile || kind == ItemKind::HdfFile)
        attributes |= SFGAO_DROPTARGET;
    if (view.HasSubdrawers())
        attributes |= SFGAO_HASSUBFOLDER;
    if (kind == ItemKind::Drawer || kind == ItemKind::File)
        attributes |= SFGAO_CANMOVE | SFGAO_CANDELETE;
    if (kind == ItemKind::File)
        attributes |= SFGAO_CANRENAME;
    return attributes;
}

AmigaFolder* AmigaFolder::New()
{
    AmigaFolder* folder = NewUnlisted();
    if (folder)
        FolderRegistry::Add(folder);
    return folder;
}

AmigaFolder* AmigaFolder::NewUnlisted()
{
    return new (std::nothrow) AmigaFolder();
}

HRESULT AmigaFolder::Create(REFIID riid, void** out)
{
    *out = nullptr;
    return QueryNewObject<AmigaFolder, IShellFolder>(New(), riid, out);
}

AmigaFolder::AmigaFolder()
{
    RemoteSession::Process().AddRef();
}

AmigaFolder::~AmigaFolder()
{
    FolderRegistry::Remove(this);
    if (FolderRegistry::Count() == 0 && UiFactories().lastFolderGone)
        UiFactories().lastFolderGone();
    RemoteSession::Process().Release();
    // OLE is initialised per thread: another thread's count is not ours to lower.
    if (SUCCEEDED(oleState_) && oleThread_ == GetCurrentThreadId())
        OleUninitialize();
}

void AmigaFolder::EnsureOle()
{
    if (oleThread_ != 0)
        return;
    oleState_ = OleInitialize(nullptr);
    oleThread_ = GetCurrentThreadId();
}

STDMETHODIMP AmigaFolder::QueryInterface(REFIID riid, void** out)
{
    IShellFolder* folder = this;
    return QueryInterfaceFrom({{IID_IUnknown, folder},
                               {IID_IShellFolder, folder},
                               {IID_IPersistFolder, static_cast<IPersistFolder*>(this)}},
                              riid, out);
}

STDMETHODIMP_(ULONG) AmigaFolder::AddRef()
{
    return AddRefObject();
}

STDMETHODIMP_(ULONG) AmigaFolder::Release()
{
    return ReleaseObject();
}

STDMETHODIMP AmigaFolder::GetClassID(CLSID* clsid)
{
    if (!clsid)
        return E_POINTER;
    *clsid = kNamespaceClsid;
    return S_OK;
}

STDMETHODIMP AmigaFolder::Initialize(PCIDLIST_ABSOLUTE root)
{
    UniqueIdList clone;
    if (root) {
        clone = CloneUnique(root);
        if (!clone)
            return E_OUTOFMEMORY;
    }
    // Workers may be walking the registry with this folder in it: they see it whole, before or
    // after.
    UniqueIdList oldRoot, oldRelative, oldOwn;
    FolderRegistry::Locked([&] {
        oldRoot = std::exchange(rootList_, std::move(clone));
        oldRelative = std::move(relativeList_);
        oldOwn = std::move(ownItem_);
        path_.clear();
    });
    items_.Reset();
    return S_OK;
}

STDMETHODIMP AmigaFolder::ParseDisplayName(HWND, IBindCtx*, LPWSTR name, ULONG* eaten,
                                           PIDLIST_RELATIVE* out, ULONG* attributes)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    char converted[kMaxShellPath] = {};
    if (!name ||
        !WideCharToMultiByte(CP_ACP, 0, name, -1, converted, sizeof converted, nullptr, nullptr))
        return E_INVALIDARG;
    std::vector<std::string> components;
    for (std::string_view rest = converted; !rest.empty();) {
        const size_t separator = rest.find('\\');
        if (separator != 0)
            components.emplace_back(rest.substr(0, separator));
        rest = separator == std::string_view::npos ? std::string_view() : rest.substr(separator + 1);
    }
    // A name that starts with the namespace's own, as the shell's names of our items do.
    HRESULT nameResult = S_OK;
    if (path_.empty() && !components.empty() && components.front() == NamespaceName(nameResult) &&
        !items_.CloneByShownName(components.front()))
        components.erase(components.begin());
    if (components.empty())
        return E_INVALIDARG;

    AmigaFolder* folder = this;
    AddRef();
    UniqueIdList relative;
    HRESULT hr = S_OK;
    for (size_t i = 0; i < components.size() && SUCCEEDED(hr); ++i) {
        hr = EnsureLoaded(*folder);
        UniqueIdList item = SUCCEEDED(hr) ? folder->items_.CloneByShownName(components[i]) : nullptr;
        if (SUCCEEDED(hr) && !item)
            hr = HRESULT_FROM_WIN32(i + 1 < components.size() ? ERROR_PATH_NOT_FOUND
                                                               : ERROR_FILE_NOT_FOUND);
        if (FAILED(hr))
            break;
        relative.reset(ConcatIdLists({relative.get(), item.get()}));
        if (!relative) {
            hr = E_OUTOFMEMORY;
        } else if (i + 1 < components.size()) {
            IShellFolder* child = nullptr;
            hr = IsContainerKind(ItemIdView(item.get()).Kind())
                     ? folder->BindToObject(item.get(), nullptr, IID_IShellFolder,
                                            reinterpret_cast<void**>(&child))
                     : HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
            folder->Release();
            folder = SUCCEEDED(hr) ? static_cast<AmigaFolder*>(child) : nullptr;
        } else if (attributes) {
            const ITEMIDLIST* last = item.get();
            hr = folder->GetAttributesOf(1, &last, attributes);
        }
    }
    if (folder)
        folder->Release();
    if (FAILED(hr))
        return hr;
    if (eaten)
        *eaten = ULONG(wcslen(name));
    *out = relative.release();
    return S_OK;
}

STDMETHODIMP AmigaFolder::EnumObjects(HWND, SHCONTF flags, IEnumIDList** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    const HRESULT loaded = EnsureLoaded(*this);
    if (FAILED(loaded))
        return loaded;
    return AmigaItemEnum::Create(*this, flags, IID_IEnumIDList, reinterpret_cast<void**>(out));
}

HRESULT AmigaFolder::InitializeChild(AmigaFolder& child, const ITEMIDLIST* pidl) const
{
    UniqueIdList root;
    if (rootList_) {
        root = CloneUnique(rootList_.get());
        if (!root)
            return E_OUTOFMEMORY;
    }
    // Notifications and Open build root + relative + item, so the relative list must run from
    // the root even when this folder is not the root.
    UniqueIdList relative(ConcatIdLists({relativeList_.get(), pidl}));
    const ItemIdView last = LastItem(relative.get());
    if (!relative)
        return E_OUTOFMEMORY;
    std::optional<std::string> path = last.FolderPath();
    if (!path)
        return E_INVALIDARG;
    UniqueIdList own = CloneUnique(LastIdListItem(relative.get()));
    if (!own)
        return E_OUTOFMEMORY;
    // Not yet in the registry: nobody else can see the child before it is whole.
    child.rootList_ = std::move(root);
    child.relativeList_ = std::move(relative);
    child.ownItem_ = std::move(own);
    child.path_ = std::move(*path);
    return S_OK;
}

STDMETHODIMP AmigaFolder::BindToObject(PCUIDLIST_RELATIVE pidl, IBindCtx*, REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IShellFolder))
        return E_NOINTERFACE;
    if (!pidl || IdListSize(pidl) <= 2)
        return E_INVALIDARG;
    AmigaFolder* child = NewUnlisted();
    if (!child)
        return E_OUTOFMEMORY;
    child->AddRef();
    HRESULT hr = InitializeChild(*child, pidl);
    if (SUCCEEDED(hr)) {
        FolderRegistry::Add(child);
        hr = child->QueryInterface(riid, out);
    }
    child->Release();
    return hr;
}

STDMETHODIMP AmigaFolder::BindToStorage(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void** out)
{
    if (out)
        *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP AmigaFolder::CompareIDs(LPARAM column, PCUIDLIST_RELATIVE a, PCUIDLIST_RELATIVE b)
{
    return HRESULT(CompareItemIds(int(column), a, b));
}

STDMETHODIMP AmigaFolder::CreateViewObject(HWND owner, REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!UiFactories().createView)
        return E_NOINTERFACE;
    return UiFactories().createView(*this, owner, riid, out);
}

STDMETHODIMP AmigaFolder::GetAttributesOf(UINT count, PCUITEMID_CHILD_ARRAY items, SFGAOF* inOut)
{
    if (!inOut || (count > 0 && !items))
        return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) {
        if (!items[i])
            return E_INVALIDARG;
        *inOut &= ItemAttributes(items[i]);
    }
    return S_OK;
}

STDMETHODIMP AmigaFolder::GetUIObjectOf(HWND owner, UINT count, PCUITEMID_CHILD_ARRAY items,
                                        REFIID riid, UINT*, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (count > 0 && !items)
        return E_INVALIDARG;
    const UiObjectFactories& make = UiFactories();
    if (IsEqualIID(riid, kIID_IExtractIconA)) {
        if (count != 1)
            return E_INVALIDARG;
        const ItemIdView item(items[0]);
        if (!item.IsValid())
            return E_INVALIDARG;
        return AmigaIconProvider::Create(item.Name(), item.Kind(), riid, out);
    }
    if (IsEqualIID(riid, IID_IContextMenu) || IsEqualIID(riid, IID_IDataObject)) {
        if (count < 1)
            return E_INVALIDARG;
        const auto create =
            IsEqualIID(riid, IID_IContextMenu) ? make.createContextMenu : make.createDataObject;
        return create ? create(*this, owner, count, items, riid, out) : E_NOINTERFACE;
    }
    if (IsEqualIID(riid, IID_IDropTarget)) {
        if (count != 1)
            return E_INVALIDARG;
        SFGAOF attributes = SFGAO_DROPTARGET;
        const HRESULT hr = GetAttributesOf(1, items, &attributes);
        if (FAILED(hr))
            return hr;
        if (!(attributes & SFGAO_DROPTARGET) || !make.createDropTarget)
            return E_NOINTERFACE;
        return make.createDropTarget(*this, owner, items[0], riid, out);
    }
    return E_NOINTERFACE;
}

STDMETHODIMP AmigaFolder::GetDisplayNameOf(PCUITEMID_CHILD pidl, SHGDNF flags, STRRET* out)
{
    if (!out)
        return E_POINTER;
    HRESULT nameResult = S_OK;
    const std::string name = NamespaceName(nameResult);
    PutCString(out, name);
    if (!pidl || IdListSize(pidl) <= 2)
        return nameResult;

    const ItemIdView item = LastItem(pidl);
    if (!item.IsValid())
        return E_INVALIDARG;
    if (flags & SHGDN_INFOLDER) {
        // Counted from the list the shell passed, which may hold more than this item.
        const auto* start = reinterpret_cast<const uint8_t*>(pidl);
        const auto* shown = reinterpret_cast<const uint8_t*>(item.Name().data()) +
                            DisplayPrefixLength(item.Name(), int(item.Kind()));
        out->uType = STRRET_OFFSET;
        out->uOffset = UINT(shown - start);
        return S_OK;
    }
    // An image item's path would show the device part its name hides: it goes by its shown
    // name, which ParseDisplayName takes back.
    const bool image = item.Kind() == ItemKind::RomFile || item.Kind() == ItemKind::AdfFile ||
                       item.Kind() == ItemKind::HdfFile;
    const std::optional<std::string> path =
        image ? std::optional<std::string>(DisplayName(item.Name(), item.Kind())) : item.AmigaPath();
    if (!path || name.size() + path->size() + 1 >= kMaxShellPath)
        return E_FAIL;
    std::string windowsPath;
    for (size_t i = 0; i < path->size(); ++i) {
        const char c = (*path)[i];
        if (c == ':' && i + 1 == path->size())
            break;
        windowsPath += (c == '/' || c == ':') ? '\\' : c;
    }
    PutCString(out, name + "\\" + windowsPath);
    return S_OK;
}

STDMETHODIMP AmigaFolder::SetNameOf(HWND, PCUITEMID_CHILD pidl, LPCWSTR newName, SHGDNF,
                                    PITEMID_CHILD* out)
{
    if (out)
        *out = nullptr;
    if (!pidl || !newName)
        return E_INVALIDARG;
    char converted[kMaxShellPath] = {};
    if (!WideCharToMultiByte(CP_ACP, 0, newName, -1, converted, sizeof converted, nullptr, nullptr))
        return E_INVALIDARG;
    const std::string name = converted;
    const HRESULT hr = RenameItemEverywhere(pidl, name);
    if (FAILED(hr) || !out)
        return hr;
    *out = items_.CloneByShownName(name).release();
    return hr;
}

AmigaFolder* AmigaFolder::ParentFolder() const
{
    if (!ownItem_)
        return nullptr;
    AmigaFolder* root = New();
    if (!root)
        return nullptr;
    root->AddRef();
    if (FAILED(root->Initialize(rootList_.get()))) {
        root->Release();
        return nullptr;
    }
    const size_t slash = path_.rfind('/');
    if (slash == std::string::npos)
        return root;  // a volume or floppy: the root lists it
    // The parent described by its path alone, which is all a binding reads of it.
    const std::string above = path_.substr(0, slash);
    const size_t cut = above.rfind('/');
    const std::string parentPath = cut == std::string::npos ? std::string() : above.substr(0, cut);
    const std::string name = cut == std::string::npos ? above : above.substr(cut + 1);
    const ItemKind kind = cut == std::string::npos ? ItemKind::Volume : ItemKind::Drawer;
    UniqueIdList parent(MakeItemId(parentPath, name, kind, 0, 0, 0, FILETIME {}, {}));
    IShellFolder* bound = nullptr;
    if (parent)
        root->BindToObject(parent.get(), nullptr, IID_IShellFolder, reinterpret_cast<void**>(&bound));
    root->Release();
    return bound ? static_cast<AmigaFolder*>(bound) : nullptr;
}

UniqueIdList AmigaFolder::AbsoluteList(const ITEMIDLIST* item) const
{
    UniqueIdList absolute;
    FolderRegistry::Locked([&] {
        absolute.reset(ConcatIdLists({rootList_.get(), relativeList_.get(), item}));
    });
    return absolute;
}

void AmigaFolder::AttachView(FolderView* view)
{
    items_.Attach(view);
}

void AmigaFolder::DetachView(FolderView* view)
{
    items_.Detach(view);
    if (items_.ViewCount() > 0)
        return;
    std::vector<OpenedFile> opened;
    {
        std::lock_guard<std::mutex> guard(openedLock_);
        opened.swap(opened_);
    }
    for (const OpenedFile& file : opened)
        RemoveTempFolderOf(file.copyPath);
}

std::optional<AmigaFolder::OpenedFile> AmigaFolder::FindOpenedFile(std::string_view name) const
{
    std::lock_guard<std::mutex> guard(openedLock_);
    for (const OpenedFile& file : opened_)
        if (file.name == name)
            return file;
    return std::nullopt;
}

void AmigaFolder::AddOpenedFile(OpenedFile file)
{
    std::lock_guard<std::mutex> guard(openedLock_);
    opened_.push_back(std::move(file));
}

void AmigaFolder::DropOpenedFile(std::string_view name)
{
    std::string copy;
    {
        std::lock_guard<std::mutex> guard(openedLock_);
        const auto found = std::find_if(opened_.begin(), opened_.end(),
                                        [name](const OpenedFile& file) { return file.name == name; });
        if (found == opened_.end())
            return;
        copy = found->copyPath;
        opened_.erase(found);
    }
    RemoveTempFolderOf(copy);
}

}  // namespace dm
