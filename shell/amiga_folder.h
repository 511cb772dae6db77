// The shell folder of the Amiga namespace: the root (volumes, floppy drives, image items), a
// volume or a drawer. It answers the shell from the cached item identifiers, hands out the
// per-item objects and carries the commands of the context menu and the view.
#pragma once

#include "shell/com_object.h"
#include "shell/folder_items.h"
#include "shell/item_id_list.h"
#include "shell/view_command.h"

#include <windows.h>

#include <shlobj.h>

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

// Sort columns of the view, also the lParam of CompareIDs.
enum class FolderColumn : int {
    Name = 0,
    Size = 1,
    Type = 2,
    Modified = 3,
    Attributes = 4,
    Comment = 5
};

// The shell attributes of one item.
SFGAOF ItemAttributes(const ITEMIDLIST* item);

class AmigaFolder final : public IPersistFolder, public IShellFolder, private ComObject {
public:
    // A new folder at the root, in the folder registry, without references; null when out of
    // memory.
    static AmigaFolder* New();
    // What the class factory does: a new folder asked for `riid`.
    static HRESULT Create(REFIID riid, void** out);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    bool TryAddRef() { return TryAddRefObject(); }

    // IPersistFolder
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE root) override;

    // IShellFolder
    STDMETHODIMP ParseDisplayName(HWND, IBindCtx*, LPWSTR, ULONG*, PIDLIST_RELATIVE*,
                                  ULONG*) override;
    STDMETHODIMP EnumObjects(HWND owner, SHCONTF flags, IEnumIDList** out) override;
    STDMETHODIMP BindToObject(PCUIDLIST_RELATIVE pidl, IBindCtx*, REFIID riid, void** out) override;
    STDMETHODIMP BindToStorage(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void**) override;
    STDMETHODIMP CompareIDs(LPARAM column, PCUIDLIST_RELATIVE a, PCUIDLIST_RELATIVE b) override;
    STDMETHODIMP CreateViewObject(HWND owner, REFIID riid, void** out) override;
    STDMETHODIMP GetAttributesOf(UINT count, PCUITEMID_CHILD_ARRAY items, SFGAOF* inOut) override;
    STDMETHODIMP GetUIObjectOf(HWND owner, UINT count, PCUITEMID_CHILD_ARRAY items, REFIID riid,
                               UINT* reserved, void** out) override;
    STDMETHODIMP GetDisplayNameOf(PCUITEMID_CHILD pidl, SHGDNF flags, STRRET* name) override;
    STDMETHODIMP SetNameOf(HWND owner, PCUITEMID_CHILD pidl, LPCWSTR newName, SHGDNF flags,
                           PITEMID_CHILD* out) override;

    // The commands of the item menu, the view and its toolbar; E_NOTIMPL for commands this
    // build lacks, E_INVALIDARG outside 151-160.
    HRESULT DoCommand(ViewCommand command, UINT count, const ITEMIDLIST* const* items, HWND owner);

    void AttachView(FolderView* view);
    // When the last view goes, so do the temporary copies of the files opened from it.
    void DetachView(FolderView* view);

    // A file opened in its PC program from this folder: its temporary copy, and the item's
    // modification time when it was fetched ("%x %x", low and high part).
    struct OpenedFile {
        std::string name;
        std::string copyPath;
        std::string modified;
    };
    std::optional<OpenedFile> FindOpenedFile(std::string_view name) const;
    void AddOpenedFile(OpenedFile file);
    // Forgets the entry and removes its copy.
    void DropOpenedFile(std::string_view name);

    // OLE for the clipboard, initialised once on the first thread that needs it.
    void EnsureOle();

    // A folder's path and lists are whole before it enters the folder registry; Initialize, the
    // one later change, rewrites them under the registry's lock (see folder_items.h), under
    // which AbsoluteList reads them.
    // Empty at the root, else the listing path (DH0:Work/Devs).
    const std::string& Path() const { return path_; }
    const ITEMIDLIST* RootList() const { return rootList_.get(); }
    const ITEMIDLIST* RelativeList() const { return relativeList_.get(); }
    const ITEMIDLIST* OwnItem() const { return ownItem_.get(); }
    // The folder that lists this one (the root for a volume), with a reference for the caller;
    // null at the root, when out of memory or when the binding fails.
    AmigaFolder* ParentFolder() const;
    // Root list + relative list + `item` (null: the folder itself); null when out of memory.
    UniqueIdList AbsoluteList(const ITEMIDLIST* item = nullptr) const;

    // The cached listing and the views (see folder_items.h for how threads share them).
    FolderItems& Items() { return items_; }
    const FolderItems& Items() const { return items_; }

private:
    // Not in the registry yet: for a folder whose path and lists are still to be written.
    static AmigaFolder* NewUnlisted();
    AmigaFolder();
    ~AmigaFolder() override;

    // The folder `pidl` below this one, made the way the shell's binding needs it.
    HRESULT InitializeChild(AmigaFolder& child, const ITEMIDLIST* pidl) const;
    HRESULT NewFolderCommand(HWND owner);
    HRESULT OpenCommand(const char* verb, UINT count, const ITEMIDLIST* const* items, HWND owner);
    HRESULT DeleteCommand(UINT count, const ITEMIDLIST* const* items, HWND owner);
    HRESULT PropertiesCommand(UINT count, const ITEMIDLIST* const* items, HWND owner);

    std::string path_;
    FolderItems items_;
    mutable std::mutex openedLock_;
    std::vector<OpenedFile> opened_;
    HRESULT oleState_ = CO_E_NOTINITIALIZED;
    DWORD oleThread_ = 0;
    UniqueIdList rootList_;
    UniqueIdList relativeList_;
    UniqueIdList ownItem_;
};

}  // namespace dm
