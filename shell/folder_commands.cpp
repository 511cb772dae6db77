// The folder's commands, as the view, its menus and its toolbar ask for them: new drawer, open and
// explore, properties, delete, format and the clipboard.
#include "shell/amiga_folder.h"

#include "core/messages.h"
#include "core/progress_dialog.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"
#include "shell/folder_cache.h"
#include "shell/item_id.h"
#include "shell/remote_operation.h"
#include "shell/ui_object_factories.h"

#include <cstring>

namespace dm {

HRESULT AmigaFolder::DoCommand(ViewCommand command, UINT count, const ITEMIDLIST* const* items,
                               HWND owner)
{
    if (count > 0 && !items)
        return E_INVALIDARG;
    switch (command) {
    case ViewCommand::NewFolder: return NewFolderCommand(owner);
    case ViewCommand::Open: return OpenCommand("open", count, items, owner);
    case ViewCommand::Explore: return OpenCommand("explore", count, items, owner);
    case ViewCommand::Delete: return count > 0 ? DeleteCommand(count, items, owner) : S_OK;
    case ViewCommand::Rename: return S_OK;
    case ViewCommand::Properties: return PropertiesCommand(count, items, owner);
    case ViewCommand::Format: {
        if (count != 1)
            return E_INVALIDARG;
        const auto format = UiFactories().showFormatDialog;
        return format ? format(items[0], owner) : E_NOTIMPL;
    }
    case ViewCommand::Cut:
    case ViewCommand::Copy: {
        const auto copy = UiFactories().copyToClipboard;
        if (!copy)
            return E_NOTIMPL;
        return copy(*this, count, items,
                    command == ViewCommand::Cut ? DROPEFFECT_MOVE : DROPEFFECT_COPY);
    }
    case ViewCommand::Paste: {
        const auto paste = UiFactories().pasteInto;
        return paste ? paste(*this, count > 0 ? items[0] : nullptr, false) : E_NOTIMPL;
    }
    default: break;
    }
    return E_INVALIDARG;
}

HRESULT AmigaFolder::NewFolderCommand(HWND owner)
{
    RemoteItem parent;
    if (ownItem_) {
        const std::optional<RemoteItem> own = ItemIdView(ownItem_.get()).ToRemoteItem();
        if (!own)
            return E_FAIL;
        parent = *own;
    }
    const HRESULT hr =
        RunRemote(owner, [&](PacketChannel& channel) { return channel.NewDrawer(parent); });
    if (SUCCEEDED(hr))
        ReReadByPath(path_, false);
    return hr;
}

HRESULT AmigaFolder::OpenCommand(const char* verb, UINT count, const ITEMIDLIST* const* items,
                                 HWND owner)
{
    if (count == 1 && std::strcmp(verb, "open") == 0 &&
        ItemIdView(items[0]).Kind() == ItemKind::File) {
        const auto open = UiFactories().openWithPcProgram;
        return open ? open(*this, items[0], owner) : E_NOTIMPL;
    }
    HRESULT result = S_OK;
    for (UINT i = 0; i < count; ++i) {
        UniqueIdList absolute = AbsoluteList(items[i]);
        if (!absolute)
            return E_OUTOFMEMORY;
        SHELLEXECUTEINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_IDLIST | SEE_MASK_CLASSNAME;
        info.hwnd = owner;
        info.lpVerb = verb;
        info.lpClass = "folder";
        info.lpIDList = absolute.get();
        info.nShow = SW_SHOWNORMAL;
        if (!ShellExecuteExA(&info))
            result = HRESULT_FROM_WIN32(GetLastError());
    }
    return result;
}

HRESULT AmigaFolder::PropertiesCommand(UINT count, const ITEMIDLIST* const* items, HWND owner)
{
    const UiObjectFactories& make = UiFactories();
    if (count == 0 && path_.empty()) {
        if (make.showSettingsSheet)
            make.showSettingsSheet(owner);
        return S_OK;
    }
    const ITEMIDLIST* own = ownItem_.get();
    if (count == 0) {
        count = 1;
        items = &own;
    }
    // The window shows whatever it can; failing to show it is not the command's failure.
    if (make.showProperties)
        make.showProperties(*this, count, items);
    return S_OK;
}

HRESULT AmigaFolder::DeleteCommand(UINT count, const ITEMIDLIST* const* items, HWND owner)
{
    SFGAOF attributes = SFGAO_CANDELETE;
    if (FAILED(GetAttributesOf(count, const_cast<PCUITEMID_CHILD_ARRAY>(items), &attributes)) ||
        !(attributes & SFGAO_CANDELETE))
        return E_UNEXPECTED;

    const ItemIdView first(items[0]);
    const std::string firstName(first.Name());
    bool confirmed;
    if (count > 1)
        confirmed = ConfirmById(owner, IDS_CAPTION_CONFIRM_MULTI_DELETE, IDS_CONFIRM_DELETE_ITEMS,
                                {int(count)});
    else if (IsContainerKind(first.Kind()))
        confirmed = ConfirmById(owner, IDS_CAPTION_CONFIRM_FOLDER_DELETE, IDS_CONFIRM_DELETE_FOLDER,
                                {firstName});
    else
        confirmed = ConfirmById(owner, IDS_CAPTION_CONFIRM_FILE_DELETE, IDS_CONFIRM_DELETE_ITEM,
                                {firstName});
    if (!confirmed)
        return HRESULT_FROM_WIN32(ERROR_CANCELLED);

    // The items may be identifiers of this folder's own list, which deleting changes.
    std::vector<UniqueIdList> victims;
    for (UINT i = 0; i < count; ++i) {
        victims.push_back(CloneUnique(items[i]));
        if (!victims.back())
            return E_OUTOFMEMORY;
    }
    // Held, so that a view released meanwhile cannot take the folder with it.
    AddRef();
    ProgressDialog progress;
    progress.Start(IDS_PROGRESS_DELETING, IDA_DELETE, count);
    for (const UniqueIdList& victim : victims) {
        progress.SetText(ItemIdView(victim.get()).AmigaPath().value_or(std::string()));
        // A failure has shown its message; the next item follows.
        RemoveItemEverywhere(victim.get(), true);
        if (progress.IsCancelled())
            break;
        progress.Step();
    }
    progress.Stop();
    RefreshViewsByPath(path_);
    Release();
    return S_OK;
}

}  // namespace dm
