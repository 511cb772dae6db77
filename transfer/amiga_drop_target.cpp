#include "transfer/amiga_drop_target.h"

#include "core/amiga_names.h"
#include "core/messages.h"
#include "core/module.h"
#include "protocol/remote_errors.h"
#include "protocol/remote_questions.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"
#include "shell/amiga_folder.h"
#include "shell/folder_cache.h"
#include "shell/id_list_array.h"
#include "shell/item_id.h"
#include "transfer/batch_session.h"
#include "transfer/clipboard_formats.h"
#include "transfer/pc_to_amiga.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace dm {

namespace {

// More than any real array of items; a larger block is refused rather than copied.
constexpr SIZE_T kMaxBlockBytes = 16u << 20;

// A copy of the global-memory data of `format`: the block belongs to another process.
std::optional<std::vector<uint8_t>> ReadBlock(IDataObject& data, CLIPFORMAT format)
{
    FORMATETC etc = MakeFormatEtc(format);
    STGMEDIUM medium = {};
    if (FAILED(data.GetData(&etc, &medium)))
        return std::nullopt;
    std::optional<std::vector<uint8_t>> copy;
    if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal) {
        const SIZE_T size = GlobalSize(medium.hGlobal);
        if (size <= kMaxBlockBytes) {
            if (const void* bytes = GlobalLock(medium.hGlobal)) {
                copy.emplace(static_cast<const uint8_t*>(bytes),
                             static_cast<const uint8_t*>(bytes) + size);
                GlobalUnlock(medium.hGlobal);
            }
        }
    }
    ReleaseStgMedium(&medium);
    return copy;
}

bool Offers(IDataObject& data, CLIPFORMAT format)
{
    FORMATETC etc = MakeFormatEtc(format);
    return data.QueryGetData(&etc) == S_OK;
}

// Our items of a "Drovemark IDList Array": the last identifier of each list, all valid or none.
std::optional<std::vector<const ITEMIDLIST*>> AmigaItems(const std::vector<uint8_t>& block)
{
    const std::optional<IdListArray> array =
        ReadIdListArray(block.data(), block.size(), IdListArrayKind::Items);
    if (!array || array->items.empty())
        return std::nullopt;
    std::vector<const ITEMIDLIST*> items;
    for (const ITEMIDLIST* list : array->items) {
        const ITEMIDLIST* last = LastIdListItem(list, block.size());
        if (!last || ReadItemSize(last) == 0 || !ItemIdView(last).IsValid())
            return std::nullopt;
        items.push_back(last);
    }
    return items;
}

// Copy or move, whatever other bits come with it; copy when a source allows either.
DWORD Normalised(DWORD effect)
{
    if (effect & DROPEFFECT_COPY)
        return DROPEFFECT_COPY;
    return (effect & DROPEFFECT_MOVE) ? DROPEFFECT_MOVE : 0;
}

bool IsMove(DWORD effect)
{
    return effect == DROPEFFECT_MOVE;
}

// Volumes, drives and image items stay where they are: they can only be copied.
bool AllMovable(const std::vector<const ITEMIDLIST*>& items)
{
    return std::all_of(items.begin(), items.end(),
                       [](const ITEMIDLIST* item) { return ItemAttributes(item) & SFGAO_CANMOVE; });
}

// `path` lies in or is `folder`: equal up to the folder's length, and there ends or goes on
// with "/".
bool IsWithin(std::string_view path, std::string_view folder)
{
    return path.size() >= folder.size() && EqualsNoCase(path.substr(0, folder.size()), folder) &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}

}  // namespace

AmigaDropTarget* AmigaDropTarget::New(AmigaFolder& folder, HWND owner, const ITEMIDLIST* item)
{
    UniqueIdList target = CloneUnique(item);
    if (!target || !ItemIdView(target.get()).IsValid())
        return nullptr;
    AmigaDropTarget* object = new (std::nothrow) AmigaDropTarget(folder, owner);
    if (object)
        object->target_ = std::move(target);
    return object;
}

HRESULT AmigaDropTarget::Create(AmigaFolder& folder, HWND owner, const ITEMIDLIST* item,
                                REFIID riid, void** out)
{
    *out = nullptr;
    if (!item || !ItemIdView(item).IsValid())
        return E_INVALIDARG;
    return QueryNewObject<AmigaDropTarget, IDropTarget>(New(folder, owner, item), riid, out);
}

AmigaDropTarget::AmigaDropTarget(AmigaFolder& folder, HWND owner) : folder_(folder), owner_(owner)
{
    folder_.AddRef();
}

AmigaDropTarget::~AmigaDropTarget()
{
    Reset();
    progress_.Stop();
    folder_.Release();
}

STDMETHODIMP AmigaDropTarget::QueryInterface(REFIID riid, void** out)
{
    IDropTarget* target = this;
    return QueryInterfaceFrom({{IID_IUnknown, target}, {IID_IDropTarget, target}}, riid, out);
}

void AmigaDropTarget::Reset()
{
    if (data_) {
        data_->Release();
        data_ = nullptr;
    }
    effect_ = 0;
}

STDMETHODIMP AmigaDropTarget::DragEnter(IDataObject* data, DWORD keys, POINTL, DWORD* effect)
{
    // What the source allows; a paste passes none, which restricts nothing.
    const DWORD allowed = effect ? *effect : 0;
    if (effect)
        *effect = 0;
    Reset();
    const ClipboardFormats* formats = Formats();
    if (!formats)
        return E_FAIL;
    if (!data)
        return E_INVALIDARG;

    const ItemIdView target(target_.get());
    if (Offers(*data, formats->shellIdListArray))
        accepted_ = formats->shellIdListArray;
    else if (IsContainerKind(target.Kind()) && Offers(*data, formats->amigaIdListArray))
        accepted_ = formats->amigaIdListArray;
    else
        return S_OK;
    keys_ = keys;
    data_ = data;
    data_->AddRef();

    DWORD chosen = (keys & MK_SHIFT) ? DROPEFFECT_MOVE : DROPEFFECT_COPY;
    if (!(keys & (MK_SHIFT | MK_CONTROL)) && accepted_ == formats->amigaIdListArray) {
        const std::optional<std::vector<uint8_t>> block = ReadBlock(*data, accepted_);
        const auto items = block ? AmigaItems(*block) : std::nullopt;
        if (items) {
            const ItemIdView first(items->front());
            if (SameVolume({first.ParentPath(), first.Name()}, {target.ParentPath(), target.Name()}))
                chosen = DROPEFFECT_MOVE;
        }
    }
    if (const std::optional<DWORD> preferred = GetDwordData(*data, formats->preferredDropEffect)) {
        if (const DWORD value = Normalised(DropEffectOf(*preferred)))
            chosen = value;
    }
    // A source that forbids moving (a read-only medium) gets a copy.
    if (allowed != 0 && !(allowed & chosen))
        chosen = Normalised(allowed);
    if (IsMove(chosen) && accepted_ == formats->amigaIdListArray) {
        const std::optional<std::vector<uint8_t>> block = ReadBlock(*data, accepted_);
        const auto items = block ? AmigaItems(*block) : std::nullopt;
        if (items && !AllMovable(*items))
            chosen = DROPEFFECT_COPY;
    }
    effect_ = chosen;
    if (effect)
        *effect = effect_;
    return S_OK;
}

STDMETHODIMP AmigaDropTarget::DragOver(DWORD, POINTL, DWORD* effect)
{
    if (effect)
        *effect = effect_;
    return S_OK;
}

STDMETHODIMP AmigaDropTarget::DragLeave()
{
    Reset();
    return S_OK;
}

STDMETHODIMP AmigaDropTarget::Drop(IDataObject*, DWORD, POINTL, DWORD* effectOut)
{
    if (effectOut)
        *effectOut = 0;
    HRESULT result = S_OK;
    drawerTransferred_ = false;
    const ClipboardFormats* formats = Formats();
    if (data_ && formats) {
        if (const std::optional<std::vector<uint8_t>> block = ReadBlock(*data_, accepted_)) {
            DWORD effect = effect_;
            if (keys_ & MK_RBUTTON)
                effect = DropMenu(effect);
            if (effect != 0) {
                result = accepted_ == formats->amigaIdListArray ? DropAmigaItems(*block, effect)
                                                                : DropPcItems(*block, effect);
            }
            if (effectOut)
                *effectOut = effect;
        }
    }
    Reset();
    return result;
}

DWORD AmigaDropTarget::DropMenu(DWORD effect) const
{
    HMENU menu = LoadMenuA(ThisModule(), MAKEINTRESOURCEA(IDR_DROP_MENU));
    if (!menu)
        return effect;
    HMENU popup = GetSubMenu(menu, 0);
    UINT chosen = 0;
    if (popup) {
        SetMenuDefaultItem(popup, IsMove(effect) ? IDM_DROP_MOVE_HERE : IDM_DROP_COPY_HERE, FALSE);
        POINT at = {};
        GetCursorPos(&at);
        chosen = UINT(TrackPopupMenuEx(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                       at.x, at.y, owner_, nullptr));
    }
    DestroyMenu(menu);
    switch (chosen) {
    case IDM_DROP_COPY_HERE: return DROPEFFECT_COPY;
    case IDM_DROP_MOVE_HERE: return DROPEFFECT_MOVE;
    case IDM_DROP_CANCEL: return 0;
    default: return effect;  // closed without a choice: the default goes ahead
    }
}

bool AmigaDropTarget::PassesSameFolderTest(const std::vector<const ITEMIDLIST*>& items,
                                           DWORD effect) const
{
    const std::string targetPath = ItemIdView(target_.get()).FolderPath().value_or(std::string());
    for (const ITEMIDLIST* item : items) {
        const ItemIdView view(item);
        const std::optional<std::string> itemPath = view.FolderPath();
        const bool intoItself = IsContainerKind(view.Kind()) && itemPath &&
                                IsWithin(targetPath, *itemPath);
        if (CompareItemIds(int(FolderColumn::Name), item, target_.get()) == 0 ||
            EqualsNoCase(view.ParentPath(), targetPath) || intoItself) {
            const std::string name(view.Name());
            const bool copy = (effect & DROPEFFECT_COPY) != 0;
            MessageBoxById(owner_, copy ? IDS_COPY_SAME_FOLDER : IDS_MOVE_SAME_FOLDER,
                           copy ? IDS_CAPTION_ERROR_COPYING : IDS_CAPTION_ERROR_MOVING,
                           MB_OK | MB_ICONERROR, ThisModule(), {name});
            return false;
        }
    }
    return true;
}

HRESULT AmigaDropTarget::DropAmigaItems(const std::vector<uint8_t>& block, DWORD& effect)
{
    const std::optional<std::vector<const ITEMIDLIST*>> items = AmigaItems(block);
    if (!items) {
        effect = 0;
        return E_FAIL;
    }
    if (IsMove(effect) && !AllMovable(*items))
        effect = DROPEFFECT_COPY;
    if (!PassesSameFolderTest(*items, effect)) {
        effect = 0;
        return S_OK;
    }
    const HRESULT hr = IsMove(effect) ? MoveAmigaItems(*items) : CopyAmigaItems(*items);
    // A cut pasted whole is used up: pasting it again would move what is no longer there.
    if (SUCCEEDED(hr) && IsMove(effect) && pasting_)
        OleSetClipboard(nullptr);
    RefreshTarget(target_.get());
    return hr;
}

HRESULT AmigaDropTarget::MoveAmigaItems(const std::vector<const ITEMIDLIST*>& items)
{
    const std::optional<RemoteItem> destination = ItemIdView(target_.get()).ToRemoteItem();
    BatchSession session;
    PacketChannel* channel = session.Channel();
    if (!channel || !destination)
        return E_FAIL;
    progress_.Start(IDS_PROGRESS_MOVING, IDA_COPY_ON_AMIGA, uint32_t(items.size()));
    HRESULT result = S_OK;
    for (const ITEMIDLIST* item : items) {
        const ItemIdView view(item);
        progress_.SetText(view.AmigaPath().value_or(std::string()));
        HRESULT hr = channel->Move(*view.ToRemoteItem(), *destination);
        const HRESULT reported = ReportRemoteError(*channel, owner_, hr);
        if (SUCCEEDED(hr) && FAILED(reported))
            hr = reported;
        if (FAILED(hr)) {
            result = hr;
            break;
        }
        RemoveItemEverywhere(item, false);
        // Open folders inside a moved drawer now live below the target.
        if (IsContainerKind(view.Kind()))
            drawerTransferred_ = true;
        if (progress_.IsCancelled()) {
            result = kCancelled;
            break;
        }
        progress_.Step();
    }
    progress_.Stop();
    RefreshViewsByPath(ItemIdView(items.front()).ParentPath());
    return result;
}

HRESULT AmigaDropTarget::CopyAmigaItems(const std::vector<const ITEMIDLIST*>& items)
{
    drawerTransferred_ = false;
    const std::optional<RemoteItem> destination = ItemIdView(target_.get()).ToRemoteItem();
    BatchSession session;
    PacketChannel* channel = session.Channel();
    if (!channel || !destination)
        return E_FAIL;
    DialogQuestions questions(owner_);
    OverwriteAnswer answer = OverwriteAnswer::Yes;
    progress_.Start(IDS_PROGRESS_COPYING, IDA_COPY_ON_AMIGA, uint32_t(items.size()));
    HRESULT result = S_OK;
    for (const ITEMIDLIST* item : items) {
        const ItemIdView view(item);
        progress_.SetText(view.AmigaPath().value_or(std::string()));
        bool declined = false;
        HRESULT hr = channel->Copy(*view.ToRemoteItem(), *destination, answer,
                                   uint32_t(items.size()), questions, &declined);
        if (SUCCEEDED(hr) && declined && answer == OverwriteAnswer::Cancel)
            hr = kCancelled;
        const HRESULT reported = ReportRemoteError(*channel, owner_, hr);
        if (SUCCEEDED(hr) && FAILED(reported))
            hr = reported;
        if (FAILED(hr)) {
            result = hr;
            break;
        }
        if (!declined && IsContainerKind(view.Kind()))
            drawerTransferred_ = true;
        if (progress_.IsCancelled()) {
            result = kCancelled;
            break;
        }
        progress_.Step();
    }
    progress_.Stop();
    RefreshViewsByPath(ItemIdView(items.front()).ParentPath());
    return result;
}

HRESULT AmigaDropTarget::DropPcItems(const std::vector<uint8_t>& block, DWORD& effect)
{
    HRESULT hr = files_.BuildFromShellIdList(block.data(), block.size());
    if (FAILED(hr)) {
        MessageBoxById(owner_, IDS_ERR_FILE_INFO, IDS_CAPTION_ERROR, MB_OK | MB_ICONERROR,
                       ThisModule());
        effect = 0;
        return hr;
    }
    UniqueIdList image = DiskImageTarget(folder_, target_.get(), files_);
    const ITEMIDLIST* target = image ? image.get() : target_.get();
    DialogQuestions questions(owner_);
    PcTransferOutcome outcome;
    hr = SendLocalFiles(files_, target, owner_, progress_, questions, outcome);
    drawerTransferred_ = outcome.drawerTransferred;

    const bool anyDelivered =
        std::find(outcome.delivered.begin(), outcome.delivered.end(), true) !=
        outcome.delivered.end();
    if (IsMove(effect)) {
        // Only what arrived whole goes from the PC; a file the user kept, and its folders, stay.
        const bool allMoved =
            SUCCEEDED(hr) && DeleteDeliveredSources(files_, outcome) && outcome.AllDelivered();
        if (allMoved) {
            if (pasting_)
                OleSetClipboard(nullptr);
        } else {
            // Not a move as far as the source can tell: it must not delete anything either.
            effect = anyDelivered ? DROPEFFECT_COPY : 0;
        }
    } else if (!anyDelivered && FAILED(hr)) {
        effect = 0;
    }
    RefreshTarget(target);
    return hr;
}

void AmigaDropTarget::RefreshTarget(const ITEMIDLIST* target) const
{
    const ItemIdView view(target);
    const std::string path = IsContainerKind(view.Kind())
                                 ? view.FolderPath().value_or(std::string())
                                 : std::string();
    ReReadByPath(path, drawerTransferred_);
}

}  // namespace dm
