#include "view/amiga_view.h"

#include "core/messages.h"
#include "core/module.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"
#include "shell/folder_cache.h"
#include "shell/item_id.h"
#include "shell/ui_object_factories.h"
#include "view/menu_merge.h"
#include "view/status_texts.h"
#include "view/view_columns.h"

#include <shlwapi.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace dm {

namespace {

constexpr int kStatusFirstPartWidth = 240;
// Identifiers a context menu may give its entries.
constexpr UINT kLastMenuId = 32767;
constexpr UINT kFileMenuLast = AmigaView::kFileMenuFirst + 0xFF;

// The data object learns how the drag ended; a move makes it delete what it delivered.
void SetPerformedEffect(IDataObject& data, DWORD effect)
{
    const UINT format = RegisterClipboardFormatA("Performed DropEffect");
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof(DWORD));
    if (!format || !memory)
        return;
    if (auto* value = static_cast<DWORD*>(GlobalLock(memory))) {
        *value = effect;
        GlobalUnlock(memory);
    }
    FORMATETC kind = {CLIPFORMAT(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = memory;
    if (FAILED(data.SetData(&kind, &medium, TRUE)))
        GlobalFree(memory);
}

DWORD ListStyleOf(UINT mode)
{
    switch (mode) {
    case FVM_ICON: return LVS_ICON;
    case FVM_SMALLICON: return LVS_SMALLICON;
    case FVM_LIST: return LVS_LIST;
    default: return LVS_REPORT;
    }
}

bool CommonControlsAtLeast6()
{
    HMODULE module = GetModuleHandleA("comctl32.dll");
    const auto getVersion = module ? reinterpret_cast<DLLGETVERSIONPROC>(reinterpret_cast<void*>(
                                         GetProcAddress(module, "DllGetVersion")))
                                   : nullptr;
    DLLVERSIONINFO info = {};
    info.cbSize = sizeof info;
    return getVersion && SUCCEEDED(getVersion(&info)) && info.dwMajorVersion >= 6;
}

const ITEMIDLIST* RowItem(HWND list, int row)
{
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
        return nullptr;
    return reinterpret_cast<const ITEMIDLIST*>(item.lParam);
}

int CALLBACK CompareRows(LPARAM first, LPARAM second, LPARAM context)
{
    auto* view = reinterpret_cast<AmigaView*>(context);
    int result = CompareItemIds(int(view->SortColumn()), reinterpret_cast<ITEMIDLIST*>(first),
                                reinterpret_cast<ITEMIDLIST*>(second));
    if (view->SortDescending())
        result = result == INT_MIN ? INT_MAX : -result;
    return result;
}

}  // namespace

HRESULT AmigaView::Create(AmigaFolder& folder, HWND, REFIID riid, void** out)
{
    *out = nullptr;
    return QueryNewObject<AmigaView, IShellView>(new (std::nothrow) AmigaView(folder), riid, out);
}

AmigaView::AmigaView(AmigaFolder& folder) : folder_(folder)
{
    folder_.AddRef();
    folder_.AttachView(this);
    rootView_ = folder_.Path().empty();
    oleResult_ = OleInitialize(nullptr);
    scrollInset_ = int(GetProfileIntA("windows", "DragScrollInset", 11));
    scrollDelay_ = DWORD(GetProfileIntA("windows", "DragScrollDelay", 50));
    scrollInterval_ = DWORD(GetProfileIntA("windows", "DragScrollInterval", 50));
    accelerators_ = LoadAcceleratorsA(ThisModule(), MAKEINTRESOURCEA(IDR_VIEW_ACCELERATORS));
    commonControls6_ = CommonControlsAtLeast6();
    if (!commonControls6_) {
        // Mapped so that the arrows take the system's 3D colours.
        arrowUp_ = static_cast<HBITMAP>(LoadImageA(ThisModule(), MAKEINTRESOURCEA(IDB_SORT_UP),
                                                   IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
        arrowDown_ = static_cast<HBITMAP>(LoadImageA(ThisModule(), MAKEINTRESOURCEA(IDB_SORT_DOWN),
                                                     IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
    }
}

AmigaView::~AmigaView()
{
    if (delegate_)
        delegate_->Release();
    RemoveMenus();
    EndItemMenu();
    folder_.DetachView(this);
    if (list_)
        DestroyList();
    if (window_) {
        SetWindowLongPtrA(window_, 0, 0);
        DestroyWindow(window_);
    }
    folder_.Release();
    if (classAtom_)
        UnregisterClassA(kClassName, ThisModule());
    if (SUCCEEDED(oleResult_))
        OleUninitialize();
    if (browser_)
        browser_->Release();
    if (arrowUp_)
        DeleteObject(arrowUp_);
    if (arrowDown_)
        DeleteObject(arrowDown_);
    if (accelerators_)
        DestroyAcceleratorTable(accelerators_);
}

STDMETHODIMP AmigaView::QueryInterface(REFIID riid, void** out)
{
    IShellView* view = this;
    return QueryInterfaceFrom({{IID_IUnknown, view},
                               {IID_IShellView, view},
                               {IID_IDropTarget, static_cast<IDropTarget*>(this)}},
                              riid, out);
}

STDMETHODIMP_(ULONG) AmigaView::AddRef()
{
    return AddRefObject();
}

STDMETHODIMP_(ULONG) AmigaView::Release()
{
    return ReleaseObject();
}

STDMETHODIMP AmigaView::GetWindow(HWND* window)
{
    if (!window)
        return E_POINTER;
    *window = window_;
    return S_OK;
}

STDMETHODIMP AmigaView::ContextSensitiveHelp(BOOL)
{
    return E_NOTIMPL;
}

STDMETHODIMP AmigaView::TranslateAccelerator(MSG* message)
{
    if (!message || !window_)
        return S_FALSE;
    if (editingLabel_ && message->message >= WM_KEYFIRST && message->message <= WM_KEYLAST) {
        // Delete, Ctrl+C and Enter mean the edit box, never the selected item.
        TranslateMessage(message);
        DispatchMessageA(message);
        return S_OK;
    }
    if (!accelerators_)
        return S_FALSE;
    return ::TranslateAcceleratorA(window_, accelerators_, message) ? S_OK : S_FALSE;
}

STDMETHODIMP AmigaView::EnableModeless(BOOL)
{
    return E_NOTIMPL;
}

STDMETHODIMP AmigaView::UIActivate(UINT state)
{
    if (state == SVUIA_DEACTIVATE) {
        if (activation_ != SVUIA_DEACTIVATE)
            RemoveMenus();
        activation_ = SVUIA_DEACTIVATE;
        return S_OK;
    }
    if (state == activation_)
        MergeMenus();
    else
        SetActivation(state);
    return S_OK;
}

void AmigaView::SetActivation(UINT state)
{
    if (state == activation_)
        return;
    activation_ = state;
    MergeMenus();
    SetStatusLayout(false);
    UpdateStatus();
}

STDMETHODIMP AmigaView::Refresh()
{
    ReReadByPath(folder_.Path(), false);
    return S_OK;
}

STDMETHODIMP AmigaView::CreateViewWindow(IShellView*, LPCFOLDERSETTINGS settings,
                                         IShellBrowser* browser, RECT* rect, HWND* window)
{
    if (!window)
        return E_POINTER;
    *window = nullptr;
    if (!settings || !browser || !rect)
        return E_INVALIDARG;

    WNDCLASSEXA known = {};
    known.cbSize = sizeof known;
    if (!GetClassInfoExA(ThisModule(), kClassName, &known)) {
        WNDCLASSEXA windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_DBLCLKS | CS_PARENTDC;
        windowClass.lpfnWndProc = WindowProc;
        windowClass.cbWndExtra = sizeof(AmigaView*);
        windowClass.hInstance = ThisModule();
        windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = kClassName;
        classAtom_ = RegisterClassExA(&windowClass);
        if (!classAtom_)
            return E_FAIL;
    }

    if (browser_)
        browser_->Release();
    browser_ = browser;
    browser_->AddRef();
    viewMode_ = settings->ViewMode;
    folderFlags_ = settings->fFlags;
    if (FAILED(browser_->GetWindow(&browserWindow_)))
        browserWindow_ = nullptr;

    CreateWindowExA(0, kClassName, "Nothing", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, rect->left,
                    rect->top, rect->right - rect->left, rect->bottom - rect->top, browserWindow_,
                    nullptr, ThisModule(), this);
    if (!window_)
        return E_FAIL;
    *window = window_;
    Fill();
    UpdateWindow(window_);
    SetUpToolbar();
    return S_OK;
}

STDMETHODIMP AmigaView::DestroyViewWindow()
{
    if (list_)
        DestroyList();
    if (window_) {
        HWND window = window_;
        window_ = nullptr;
        postTarget_ = nullptr;
        SetWindowLongPtrA(window, 0, 0);
        DestroyWindow(window);
    }
    return S_OK;
}

STDMETHODIMP AmigaView::GetCurrentInfo(LPFOLDERSETTINGS settings)
{
    if (!settings)
        return E_POINTER;
    settings->ViewMode = viewMode_;
    settings->fFlags = folderFlags_;
    return S_OK;
}

STDMETHODIMP AmigaView::AddPropertySheetPages(DWORD, LPFNSVADDPROPSHEETPAGE, LPARAM)
{
    return E_NOTIMPL;
}

STDMETHODIMP AmigaView::SaveViewState()
{
    if (!list_ || !browser_)
        return S_OK;
    IStream* stream = nullptr;
    HRESULT hr = browser_->GetViewStateStream(STGM_WRITE, &stream);
    if (FAILED(hr) || !stream)
        return FAILED(hr) ? hr : E_FAIL;
    ViewState state;
    state.sortColumn = sortColumn_;
    state.descending = descending_;
    for (size_t i = 0; i < kViewColumnCount; ++i) {
        const int width = int(SendMessageA(list_, LVM_GETCOLUMNWIDTH, i, 0));
        // A hidden column would come back hidden for good.
        state.widths[i] = uint16_t(width > 0 ? width : kViewColumns[i].defaultWidth);
    }
    hr = WriteViewState(*stream, state);
    stream->Release();
    return hr;
}

STDMETHODIMP AmigaView::SelectItem(PCUITEMID_CHILD, UINT)
{
    return E_NOTIMPL;
}

STDMETHODIMP AmigaView::GetItemObject(UINT, REFIID, void** out)
{
    if (out)
        *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP AmigaView::DragEnter(IDataObject* data, DWORD keys, POINTL point, DWORD* effect)
{
    dragData_ = data;
    hoverRow_ = -1;
    hoverNothing_ = false;
    return DragOver(keys, point, effect);
}

STDMETHODIMP AmigaView::DragOver(DWORD keys, POINTL point, DWORD* effect)
{
    if (effect)
        *effect = DROPEFFECT_NONE;
    if (!dragData_)
        return S_OK;
    LVHITTESTINFO hit = {};
    hit.iItem = -1;
    if (list_) {
        hit.pt = {point.x, point.y};
        ScreenToClient(list_, &hit.pt);
        SendMessageA(list_, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    }
    const bool scrolling = DragScroll(hit);
    const bool nothing = (hit.flags & LVHT_NOWHERE) != 0;
    HoverDrag(keys, nothing ? -1 : hit.iItem, nothing, point);
    if (!delegate_)
        return S_OK;
    const HRESULT hr = delegate_->DragOver(keys, point, effect);
    if (SUCCEEDED(hr) && scrolling && effect)
        *effect |= DROPEFFECT_SCROLL;
    return hr;
}

bool AmigaView::DragScroll(const LVHITTESTINFO& hit)
{
    const auto stop = [this] {
        scrollX_ = scrollY_ = 0;
        edgeSince_ = lastScroll_ = 0;
        return false;
    };
    const UINT inside = LVHT_NOWHERE | LVHT_ONITEMICON | LVHT_ONITEMLABEL | LVHT_ONITEMSTATEICON;
    if (!list_ || !(hit.flags & inside))
        return stop();
    RECT client = {};
    GetClientRect(list_, &client);
    const int step = viewMode_ == FVM_LIST ? 1 : scrollInset_;
    int dx = 0, dy = 0;
    if (hit.pt.x <= client.left + scrollInset_)
        dx = -step;
    if (hit.pt.x >= client.right - scrollInset_)
        dx = step;
    if (hit.pt.y <= client.top + scrollInset_)
        dy = -scrollInset_;
    if (hit.pt.y >= client.bottom - scrollInset_)
        dy = scrollInset_;
    if (dx == 0 && dy == 0)
        return stop();
    // 0 means "not yet", so a tick count of 0 is taken as 1.
    const DWORD now = std::max<DWORD>(GetTickCount(), 1);
    if (scrollX_ || scrollY_) {
        scrollX_ = dx;
        scrollY_ = dy;
    } else {
        if (!edgeSince_)
            edgeSince_ = now;
        if (now - edgeSince_ >= scrollDelay_) {
            scrollX_ = dx;
            scrollY_ = dy;
        }
    }
    if (!scrollX_ && !scrollY_)
        return false;
    if (!lastScroll_) {
        SendMessageA(list_, LVM_SCROLL, WPARAM(scrollX_), LPARAM(scrollY_));
        lastScroll_ = now;
    } else if (now - lastScroll_ >= scrollInterval_) {
        lastScroll_ = 0;
    }
    return true;
}

void AmigaView::HoverDrag(DWORD keys, int row, bool nothing, POINTL point)
{
    if (row == hoverRow_ && nothing == hoverNothing_)
        return;
    hoverRow_ = row;
    hoverNothing_ = nothing;
    if (delegate_) {
        delegate_->DragLeave();
        delegate_->Release();
        delegate_ = nullptr;
    }
    if (highlightRow_ >= 0 && list_) {
        LVITEMA state = {};
        state.stateMask = LVIS_DROPHILITED;
        SendMessageA(list_, LVM_SETITEMSTATE, highlightRow_, reinterpret_cast<LPARAM>(&state));
    }
    highlightRow_ = -1;
    if (!dragData_)
        return;

    // Takes `target` as the delegate when it accepts the drag.
    const auto offer = [&](IDropTarget* target) {
        DWORD effect = DROPEFFECT_NONE;
        if (SUCCEEDED(target->DragEnter(dragData_, keys, point, &effect)) && effect != 0) {
            delegate_ = target;
            return true;
        }
        target->DragLeave();
        target->Release();
        return false;
    };
    const ITEMIDLIST* item = row >= 0 && list_ ? RowItem(list_, row) : nullptr;
    if (item && (ItemAttributes(item) & SFGAO_DROPTARGET)) {
        IDropTarget* target = nullptr;
        if (SUCCEEDED(folder_.GetUIObjectOf(browserWindow_, 1, &item, IID_IDropTarget, nullptr,
                                            reinterpret_cast<void**>(&target))) &&
            target && offer(target)) {
            LVITEMA state = {};
            state.stateMask = LVIS_DROPHILITED;
            state.state = LVIS_DROPHILITED;
            SendMessageA(list_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
            highlightRow_ = row;
            return;
        }
    }
    if ((row < 0 && !nothing) || !folder_.OwnItem())
        return;
    // Empty space, or a row that refused: the folder shown takes the drop itself.
    if (AmigaFolder* parent = folder_.ParentFolder()) {
        const ITEMIDLIST* own = folder_.OwnItem();
        IDropTarget* target = nullptr;
        if ((ItemAttributes(own) & SFGAO_DROPTARGET) &&
            SUCCEEDED(parent->GetUIObjectOf(browserWindow_, 1, &own, IID_IDropTarget, nullptr,
                                            reinterpret_cast<void**>(&target))) &&
            target)
            offer(target);
        parent->Release();
    }
}

void AmigaView::EndDrag()
{
    DragScroll(LVHITTESTINFO {});
    HoverDrag(0, -1, false, POINTL {0, 0});
    dragData_ = nullptr;
    hoverRow_ = -1;
    hoverNothing_ = false;
}

STDMETHODIMP AmigaView::DragLeave()
{
    dragData_ = nullptr;
    EndDrag();
    return S_OK;
}

STDMETHODIMP AmigaView::Drop(IDataObject* data, DWORD keys, POINTL point, DWORD* effect)
{
    if (effect)
        *effect = DROPEFFECT_NONE;
    if (IDropTarget* target = delegate_) {
        delegate_ = nullptr;
        target->Drop(data, keys, point, effect);
        target->DragLeave();
        target->Release();
    }
    EndDrag();
    return S_OK;
}

void AmigaView::Update(ViewUpdate update)
{
    if (update == ViewUpdate::CutMarks) {
        SyncCutMarks();
        return;
    }
    Fill();
    if (window_)
        UpdateWindow(window_);
}

void AmigaView::PostUpdate(ViewUpdate update)
{
    if (HWND target = postTarget_.load())
        PostMessageA(target, kUpdateMessage, WPARAM(update), 0);
}

void AmigaView::SyncCutMarks()
{
    if (!list_)
        return;
    const int rows = int(SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        auto* identifier = const_cast<ITEMIDLIST*>(RowItem(list_, row));
        if (!identifier)
            continue;
        const UniqueIdList listed = folder_.Items().CloneEqual(identifier);
        const bool cut = listed && ItemIdView(listed.get()).IsCut();
        LVITEMA state = {};
        state.stateMask = LVIS_CUT;
        state.state = cut ? LVIS_CUT : 0;
        SendMessageA(list_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
        SetCutMark(identifier, cut);
    }
}

bool AmigaView::BeginLabelEdit()
{
    const ITEMIDLIST* item = renameCandidate_ == -1 ? nullptr : RowItem(list_, renameCandidate_);
    SFGAOF attributes = SFGAO_CANRENAME;
    if (!item || FAILED(folder_.GetAttributesOf(1, &item, &attributes)) ||
        !(attributes & SFGAO_CANRENAME))
        return false;
    editingLabel_ = true;
    return true;
}

void AmigaView::EndLabelEdit(const NMLVDISPINFOA& info)
{
    editingLabel_ = false;
    if (!info.item.pszText)
        return;  // cancelled
    const std::string name = info.item.pszText;
    // On the Amiga "/" and ":" would move the item elsewhere instead of renaming it.
    if (name.empty() || name.find_first_of("/:") != std::string::npos) {
        MessageBoxById(window_, IDS_BAD_AMIGA_NAME, IDS_CAPTION_ERROR, MB_OK | MB_ICONERROR,
                       ThisModule());
        return;
    }
    renameItem_ = CloneUnique(RowItem(list_, info.item.iItem));
    renameTo_ = name;
    // The rename refills the list, which must not happen inside the list's own notification.
    if (renameItem_)
        PostMessageA(window_, kRenameMessage, 0, 0);
}

void AmigaView::RenamePending()
{
    const UniqueIdList item = std::move(renameItem_);
    if (item)
        RenameItemEverywhere(item.get(), renameTo_);
}

void AmigaView::EnableToolbarButtons(IContextMenu* selection, HMENU entries)
{
    if (!browser_)
        return;
    // Without a selection only Paste, into the folder shown.
    const auto offers = [&](const char* wanted) {
        if (!selection || !entries)
            return std::strcmp(wanted, "paste") == 0;
        const int count = GetMenuItemCount(entries);
        for (int position = 0; position < count; ++position) {
            char verb[100] = {};
            if (SUCCEEDED(selection->GetCommandString(UINT_PTR(position), GCS_VERBA, nullptr,
                                                      verb, sizeof verb)) &&
                lstrcmpiA(verb, wanted) == 0)
                return true;
        }
        return false;
    };
    const std::pair<UINT, const char*> buttons[] = {
        {IDM_CUT, "cut"},       {IDM_COPY, "copy"},
        {IDM_PASTE, "paste"},   {IDM_DELETE, "delete"},
        {IDM_PROPERTIES, "properties"},
    };
    for (const auto& [command, verb] : buttons)
        SendToolbar(TB_ENABLEBUTTON, command, MAKELONG(offers(verb) ? TRUE : FALSE, 0));
}

bool AmigaView::ShowsTree()
{
    HWND tree = nullptr;
    return browser_ && SUCCEEDED(browser_->GetControlWindow(FCW_TREE, &tree)) && tree;
}

IContextMenu* AmigaView::SelectionMenu(HWND owner)
{
    std::vector<const ITEMIDLIST*> items;
    if (FAILED(SelectedItems(SVGIO_SELECTION, items)) || items.empty())
        return nullptr;
    IContextMenu* menu = nullptr;
    if (FAILED(folder_.GetUIObjectOf(owner, UINT(items.size()), items.data(), IID_IContextMenu,
                                     nullptr, reinterpret_cast<void**>(&menu))))
        return nullptr;
    return menu;
}

bool AmigaView::CanPasteInto(const ITEMIDLIST* item)
{
    const auto paste = UiFactories().pasteInto;
    return paste && paste(folder_, item, true) == S_OK;
}

void AmigaView::RemoveMenus()
{
    if (mergedMenu_) {
        if (browser_) {
            browser_->SetMenuSB(nullptr, nullptr, nullptr);
            browser_->RemoveMenusSB(mergedMenu_);
        }
        DestroyMenu(mergedMenu_);
        mergedMenu_ = nullptr;
    }
    if (fileMenu_) {
        fileMenu_->Release();
        fileMenu_ = nullptr;
    }
}

void AmigaView::FillFileEntries(HMENU file)
{
    HMENU scratch = CreatePopupMenu();
    if (!scratch)
        return;
    fileMenu_ = SelectionMenu(window_);
    if (fileMenu_) {
        const UINT flags = CMF_NODEFAULT | (ShowsTree() ? CMF_EXPLORE : 0);
        if (FAILED(fileMenu_->QueryContextMenu(scratch, 0, kFileMenuFirst, kFileMenuLast, flags))) {
            fileMenu_->Release();
            fileMenu_ = nullptr;
        }
    } else if (HMENU entries = LoadMenuA(ThisModule(), MAKEINTRESOURCEA(IDR_FILE_MENU))) {
        if (rootView_) {
            // Nothing can be made at the computer level: Properties alone.
            DeleteMenu(entries, IDM_NEW_FOLDER, MF_BYCOMMAND);
            DeleteMenu(entries, 0, MF_BYPOSITION);
        }
        MergeMenuInto(scratch, 0, entries, 0, kLastMenuId, false);
        DestroyMenu(entries);
    }
    EnableToolbarButtons(fileMenu_, scratch);
    if (file)
        MergeMenuInto(file, 0, scratch, 0, kLastMenuId, true);
    DestroyMenu(scratch);
}

void AmigaView::MergeMenus()
{
    if (!browser_)
        return;
    RemoveMenus();
    HMENU bar = CreateMenu();
    if (!bar)
        return;
    OLEMENUGROUPWIDTHS widths = {};
    browser_->InsertMenusSB(bar, &widths);
    if (activation_ == SVUIA_ACTIVATE_FOCUS)
        FillFileEntries(SubmenuWithId(bar, FCIDM_MENU_FILE));
    HMENU edit = SubmenuWithId(bar, FCIDM_MENU_EDIT);
    if (HMENU ours = LoadMenuA(ThisModule(), MAKEINTRESOURCEA(IDR_VIEW_MENUS))) {
        HMENU ourEdit = GetSubMenu(ours, 0);
        if (activation_ != SVUIA_ACTIVATE_FOCUS) {
            // Without the focus the clipboard commands have nothing to act on.
            for (UINT command : {IDM_CUT, IDM_COPY, IDM_PASTE})
                DeleteMenu(ourEdit, command, MF_BYCOMMAND);
            if (GetMenuState(ourEdit, 0, MF_BYPOSITION) & MF_SEPARATOR)
                DeleteMenu(ourEdit, 0, MF_BYPOSITION);
        }
        if (edit)
            MergeMenuInto(edit, UINT(GetMenuItemCount(edit)), ourEdit, 0, kLastMenuId, true);
        if (HMENU view = SubmenuWithId(bar, FCIDM_MENU_VIEW)) {
            const int options = FindMenuEntry(view, FCIDM_MENU_VIEW_SEP_OPTIONS);
            MergeMenuInto(view, options < 0 ? UINT(GetMenuItemCount(view)) : UINT(options),
                          GetSubMenu(ours, 1), 0, kLastMenuId, true);
        }
        DestroyMenu(ours);
    }
    mergedMenu_ = bar;
    browser_->SetMenuSB(bar, nullptr, window_);
    MarkViewMode(bar);
    if (edit)
        EnableEditEntries(edit);
}

void AmigaView::EnableEditEntries(HMENU edit)
{
    std::vector<const ITEMIDLIST*> items;
    SelectedItems(SVGIO_SELECTION, items);
    if (!items.empty()) {
        SFGAOF attributes = SFGAO_CANCOPY | SFGAO_CANMOVE;
        if (SUCCEEDED(folder_.GetAttributesOf(UINT(items.size()), items.data(), &attributes))) {
            EnableMenuItem(edit, IDM_CUT,
                           MF_BYCOMMAND | ((attributes & SFGAO_CANMOVE) ? MF_ENABLED : MF_GRAYED));
            EnableMenuItem(edit, IDM_COPY,
                           MF_BYCOMMAND | ((attributes & SFGAO_CANCOPY) ? MF_ENABLED : MF_GRAYED));
        }
    }
    const bool paste = items.size() <= 1 && CanPasteInto(items.empty() ? nullptr : items[0]);
    EnableMenuItem(edit, IDM_PASTE, MF_BYCOMMAND | (paste ? MF_ENABLED : MF_GRAYED));
}

void AmigaView::MarkViewMode(HMENU menu)
{
    if (menu && viewMode_ >= FVM_ICON && viewMode_ <= FVM_DETAILS)
        CheckMenuRadioItem(menu, IDM_LARGE_ICONS, IDM_DETAILS, IDM_LARGE_ICONS + viewMode_ - 1,
                           MF_BYCOMMAND);
}

bool AmigaView::BuildItemMenu(HMENU popup, bool defaultOnly)
{
    EndItemMenu();
    if (!list_ || !popup)
        return false;
    activeMenu_ = SelectionMenu(browserWindow_);
    if (!activeMenu_)
        return false;
    activeMenuFirst_ = 1;
    const UINT flags = (defaultOnly ? CMF_DEFAULTONLY : 0) | (ShowsTree() ? CMF_EXPLORE : 0);
    if (FAILED(activeMenu_->QueryContextMenu(popup, 0, activeMenuFirst_, kLastMenuId, flags))) {
        EndItemMenu();
        return false;
    }
    return true;
}

void AmigaView::RunItemMenuEntry(UINT id)
{
    IContextMenu* menu = activeMenu_;
    if (!menu || id < activeMenuFirst_)
        return;
    // The command may refill the list and with it the menus; the entry's menu stays meanwhile.
    menu->AddRef();
    const UINT position = id - activeMenuFirst_;
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof info;
    info.hwnd = list_;
    info.lpVerb = MAKEINTRESOURCEA(position);
    info.nShow = SW_SHOWNORMAL;
    menu->InvokeCommand(&info);
    char verb[100] = {};
    const bool rename =
        SUCCEEDED(menu->GetCommandString(position, GCS_VERBA, nullptr, verb, sizeof verb)) &&
        lstrcmpiA(verb, "rename") == 0;
    menu->Release();
    if (rename)
        Command(IDM_RENAME);
}

void AmigaView::EndItemMenu()
{
    if (activeMenu_)
        activeMenu_->Release();
    activeMenu_ = nullptr;
    activeMenuFirst_ = 0;
}

void AmigaView::ShowItemMenu(bool defaultOnly)
{
    HMENU popup = CreatePopupMenu();
    if (popup && BuildItemMenu(popup, defaultOnly)) {
        UINT chosen = 0;
        if (defaultOnly) {
            chosen = GetMenuDefaultItem(popup, FALSE, 0);
        } else {
            POINT at = {};
            GetCursorPos(&at);
            chosen = UINT(TrackPopupMenuEx(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD,
                                           at.x, at.y, window_, nullptr));
        }
        if (chosen != UINT(-1) && chosen > 0)
            RunItemMenuEntry(chosen);
    }
    if (popup)
        DestroyMenu(popup);
    EndItemMenu();
}

HMENU AmigaView::BuildBackgroundMenu()
{
    HMENU menu = LoadMenuA(ThisModule(), MAKEINTRESOURCEA(IDR_BACKGROUND_MENU));
    HMENU popup = menu ? GetSubMenu(menu, 0) : nullptr;
    if (!popup) {
        if (menu)
            DestroyMenu(menu);
        return nullptr;
    }
    EnableMenuItem(popup, IDM_NEW_FOLDER, MF_BYCOMMAND | (rootView_ ? MF_GRAYED : MF_ENABLED));
    // Only a clipboard known to hold nothing for us greys Paste; a failing test leaves it.
    const auto paste = UiFactories().pasteInto;
    if (paste && paste(folder_, nullptr, true) == S_FALSE)
        EnableMenuItem(popup, IDM_PASTE, MF_BYCOMMAND | MF_GRAYED);
    MarkViewMode(popup);
    return menu;
}

void AmigaView::ShowBackgroundMenu()
{
    HMENU menu = BuildBackgroundMenu();
    if (!menu)
        return;
    POINT at = {};
    GetCursorPos(&at);
    const UINT chosen = UINT(TrackPopupMenuEx(GetSubMenu(menu, 0), TPM_RIGHTBUTTON | TPM_RETURNCMD,
                                              at.x, at.y, window_, nullptr));
    DestroyMenu(menu);
    if (chosen > 0)
        Command(chosen);
}

void AmigaView::MenuHelp(UINT id)
{
    if (!browser_)
        return;
    char text[128] = {};
    if (activeMenu_) {
        if (id >= activeMenuFirst_)
            activeMenu_->GetCommandString(id - activeMenuFirst_, GCS_HELPTEXTA, nullptr, text,
                                          sizeof text);
    } else if (fileMenu_ && id >= kFileMenuFirst && id <= kFileMenuLast) {
        fileMenu_->GetCommandString(id - kFileMenuFirst, GCS_HELPTEXTA, nullptr, text, sizeof text);
    } else if (!LoadStringA(ThisModule(), id, text, sizeof text)) {
        text[0] = '\0';
    }
    text[sizeof text - 1] = '\0';
    wchar_t wide[sizeof text] = {};
    if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, wide, int(sizeof text)) > 0)
        browser_->SetStatusTextSB(wide);
}

void AmigaView::BeginDrag()
{
    const auto makeSource = UiFactories().createDropSource;
    if (FAILED(oleResult_) || !list_ || !makeSource)
        return;
    std::vector<const ITEMIDLIST*> items;
    if (FAILED(SelectedItems(SVGIO_SELECTION, items)) || items.empty())
        return;
    // A move refills the list during the drag: the rows' identifiers may go.
    std::vector<UniqueIdList> owned;
    for (const ITEMIDLIST* item : items) {
        owned.push_back(CloneUnique(item));
        if (!owned.back())
            return;
        items[owned.size() - 1] = owned.back().get();
    }
    SFGAOF attributes = SFGAO_CANCOPY | SFGAO_CANMOVE;
    if (FAILED(folder_.GetAttributesOf(UINT(items.size()), items.data(), &attributes)))
        return;
    const DWORD allowed = ((attributes & SFGAO_CANCOPY) ? DROPEFFECT_COPY : 0) |
                          ((attributes & SFGAO_CANMOVE) ? DROPEFFECT_MOVE : 0);
    if (!allowed)
        return;
    IDataObject* data = nullptr;
    if (FAILED(folder_.GetUIObjectOf(browserWindow_, UINT(items.size()), items.data(),
                                     IID_IDataObject, nullptr, reinterpret_cast<void**>(&data))) ||
        !data)
        return;
    IDropSource* source = nullptr;
    if (SUCCEEDED(makeSource(*data, &source)) && source) {
        DWORD effect = DROPEFFECT_NONE;
        const HRESULT hr = DoDragDrop(data, source, allowed, &effect);
        SetPerformedEffect(*data, hr == DRAGDROP_S_DROP ? effect : DROPEFFECT_NONE);
        source->Release();
    }
    data->Release();
}

HRESULT AmigaView::SelectedItems(UINT which, std::vector<const ITEMIDLIST*>& items) const
{
    items.clear();
    if (!list_)
        return E_FAIL;
    if (which != SVGIO_SELECTION && which != SVGIO_ALLVIEW)
        return E_INVALIDARG;
    try {
        const UINT flags = which == SVGIO_SELECTION ? LVNI_SELECTED : LVNI_ALL;
        const int focused = int(SendMessageA(list_, LVM_GETNEXTITEM, WPARAM(-1), LVNI_FOCUSED));
        int row = -1;
        while ((row = int(SendMessageA(list_, LVM_GETNEXTITEM, WPARAM(row), flags))) != -1) {
            if (const ITEMIDLIST* item = RowItem(list_, row)) {
                items.push_back(item);
                // The focused row leads; the one it displaces takes its place.
                if (which == SVGIO_SELECTION && row == focused && items.size() > 1)
                    std::swap(items.front(), items.back());
            }
        }
    } catch (const std::bad_alloc&) {
        items.clear();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void AmigaView::SetSort(UINT column, bool descending)
{
    sortColumn_ = column;
    descending_ = descending;
    MoveSortArrow(column < kViewColumnCount ? int(column) : -1);
    if (list_)
        SendMessageA(list_, LVM_SORTITEMS, reinterpret_cast<WPARAM>(this),
                     reinterpret_cast<LPARAM>(CompareRows));
}

void AmigaView::MoveSortArrow(int column)
{
    HWND header =
        list_ ? reinterpret_cast<HWND>(SendMessageA(list_, LVM_GETHEADER, 0, 0)) : nullptr;
    if (!header || (!commonControls6_ && (!arrowUp_ || !arrowDown_))) {
        arrowColumn_ = column;
        return;
    }
    const int arrowFlags =
        commonControls6_ ? (HDF_SORTUP | HDF_SORTDOWN) : (HDF_BITMAP | HDF_BITMAP_ON_RIGHT);
    HDITEMA item = {};
    item.mask = HDI_FORMAT;
    if (arrowColumn_ >= 0 &&
        SendMessageA(header, HDM_GETITEMA, arrowColumn_, reinterpret_cast<LPARAM>(&item))) {
        item.fmt &= ~arrowFlags;
        SendMessageA(header, HDM_SETITEMA, arrowColumn_, reinterpret_cast<LPARAM>(&item));
    }
    arrowColumn_ = column;
    item = {};
    item.mask = HDI_FORMAT;
    if (column < 0 || !SendMessageA(header, HDM_GETITEMA, column, reinterpret_cast<LPARAM>(&item)))
        return;
    if (commonControls6_) {
        item.fmt |= descending_ ? HDF_SORTDOWN : HDF_SORTUP;
    } else {
        item.mask |= HDI_BITMAP;
        item.fmt |= HDF_BITMAP | HDF_BITMAP_ON_RIGHT;
        item.hbm = descending_ ? arrowDown_ : arrowUp_;
    }
    SendMessageA(header, HDM_SETITEMA, column, reinterpret_cast<LPARAM>(&item));
}

void AmigaView::SetViewMode(UINT mode)
{
    viewMode_ = mode;
    if (list_) {
        const LONG_PTR style = GetWindowLongPtrA(list_, GWL_STYLE);
        SetWindowLongPtrA(list_, GWL_STYLE, (style & ~LONG_PTR(LVS_TYPEMASK)) | ListStyleOf(mode));
    }
    if (SUCCEEDED(toolbarResult_)) {
        for (UINT command = IDM_LARGE_ICONS; command <= IDM_DETAILS; ++command)
            SendToolbar(TB_CHECKBUTTON, command, command - IDM_LARGE_ICONS + 1 == mode);
    }
    MarkViewMode(mergedMenu_);
}

bool AmigaView::Command(UINT id)
{
    if (!list_) {
        if (id == UINT(ViewCommand::Properties) && rootView_) {
            folder_.DoCommand(ViewCommand::Properties, 0, nullptr, nullptr);
            return true;
        }
        return false;
    }
    if (id == IDM_REFRESH) {
        Refresh();
        return true;
    }
    if (id >= UINT(ViewCommand::NewFolder) && id <= UINT(ViewCommand::Paste) &&
        id != UINT(ViewCommand::Rename)) {
        std::vector<const ITEMIDLIST*> items;
        SelectedItems(SVGIO_SELECTION, items);
        const bool browserOwns = id == UINT(ViewCommand::Open) || id == UINT(ViewCommand::Explore);
        folder_.DoCommand(ViewCommand(id), UINT(items.size()), items.data(),
                          browserOwns ? browserWindow_ : window_);
        return true;
    }
    if (id >= kFileMenuFirst && id <= kFileMenuLast) {
        // A File entry of the merged bar: the position in the selection's menu.
        if (IContextMenu* menu = fileMenu_) {
            menu->AddRef();
            EndItemMenu();
            activeMenu_ = menu;
            activeMenuFirst_ = kFileMenuFirst;
            RunItemMenuEntry(id);
            EndItemMenu();
        }
        return true;
    }
    if (id == UINT(ViewCommand::Rename)) {
        if (renameCandidate_ != -1) {
            SetFocus(list_);
            SendMessageA(list_, LVM_EDITLABELA, renameCandidate_, 0);
        }
        return true;
    }
    if (id == IDM_SELECT_ALL || id == IDM_INVERT_SELECTION) {
        const int rows = int(SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0));
        for (int row = rows - 1; row >= 0; --row) {
            const UINT selected =
                UINT(SendMessageA(list_, LVM_GETITEMSTATE, row, LVIS_SELECTED)) & LVIS_SELECTED;
            LVITEMA state = {};
            state.stateMask = LVIS_SELECTED;
            state.state = id == IDM_SELECT_ALL ? LVIS_SELECTED : (selected ^ LVIS_SELECTED);
            SendMessageA(list_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
        }
        return true;
    }
    if (id >= IDM_LARGE_ICONS && id <= IDM_DETAILS) {
        SetViewMode(id - IDM_LARGE_ICONS + 1);
        return true;
    }
    if (id >= IDM_ARRANGE_BY_NAME && id <= IDM_ARRANGE_BY_COMMENT) {
        SetSort(id - IDM_ARRANGE_BY_NAME, false);
        return true;
    }
    return false;
}

LRESULT CALLBACK AmigaView::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CREATE) {
        auto* view =
            static_cast<AmigaView*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(view));
        view->window_ = window;
        view->postTarget_ = window;
        if (!view->CreateList()) {
            view->window_ = nullptr;
            view->postTarget_ = nullptr;
            SetWindowLongPtrA(window, 0, 0);
            return -1;
        }
        return 0;
    }
    auto* view = reinterpret_cast<AmigaView*>(GetWindowLongPtrA(window, 0));
    if (!view)
        return DefWindowProcA(window, message, wParam, lParam);
    return view->OnMessage(message, wParam, lParam);
}

LRESULT AmigaView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        if (list_)
            MoveWindow(list_, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 1;
    case WM_SETFOCUS:
        if (list_)
            SetFocus(list_);
        return 0;
    case WM_KILLFOCUS: return 0;
    case WM_PAINT:
        if (!list_) {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window_, &paint);
            FillRect(dc, &paint.rcPaint, GetSysColorBrush(COLOR_BTNFACE));
            EndPaint(window_, &paint);
            return 0;
        }
        break;
    case WM_ERASEBKGND: return list_ ? 1 : 0;
    case WM_MOUSEACTIVATE: return MA_NOACTIVATE;
    case WM_NOTIFYFORMAT: return NFR_ANSI;
    case WM_COMMAND:
        if (LOWORD(wParam) >= FCIDM_BROWSERFIRST && LOWORD(wParam) <= FCIDM_BROWSERLAST) {
            // The browser's own commands, from a menu of ours.
            if (browserWindow_)
                PostMessageA(browserWindow_, WM_COMMAND, wParam, lParam);
            return 0;
        }
        return Command(LOWORD(wParam)) ? 1 : 0;
    case WM_MENUSELECT:
        if (HIWORD(wParam) != 0xFFFF || lParam)
            MenuHelp((HIWORD(wParam) & MF_POPUP) ? 0 : LOWORD(wParam));
        return 1;
    case kUpdateMessage: Update(ViewUpdate(wParam)); return 0;
    case kRenameMessage: RenamePending(); return 0;
    case WM_ENTERMENULOOP: SetStatusLayout(true); return 1;
    case WM_EXITMENULOOP:
        SetStatusLayout(false);
        UpdateStatus();
        return 1;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header && list_ && header->hwndFrom == list_)
            return OnNotify(*header);
        break;
    }
    default: break;
    }
    return DefWindowProcA(window_, message, wParam, lParam);
}

LRESULT AmigaView::OnNotify(NMHDR& header)
{
    switch (header.code) {
    case LVN_GETDISPINFOA: {
        auto& info = reinterpret_cast<NMLVDISPINFOA&>(header);
        const auto* identifier = reinterpret_cast<const ITEMIDLIST*>(info.item.lParam);
        const ItemIdView item(identifier);
        if (info.item.mask & LVIF_TEXT) {
            static char empty[] = "";
            const std::string_view text =
                item.IsValid() ? ColumnText(item, size_t(info.item.iSubItem)) : std::string_view();
            // The texts end inside the identifier, so the list can read them in place.
            info.item.pszText = text.data() ? const_cast<char*>(text.data()) : empty;
        }
        if ((info.item.mask & LVIF_IMAGE) && info.item.iSubItem == 0)
            info.item.iImage =
                identifier ? images_.IndexForItem(static_cast<IShellFolder*>(&folder_), identifier)
                           : -1;
        return 0;
    }
    case LVN_ITEMCHANGED: {
        const auto& change = reinterpret_cast<NMLISTVIEW&>(header);
        if ((change.uChanged & LVIF_STATE) &&
            ((change.uNewState ^ change.uOldState) & LVIS_SELECTED)) {
            renameCandidate_ = (change.uNewState & LVIS_SELECTED) ? change.iItem : -1;
            UpdateStatus();
            // The File entries and the toolbar follow the selection.
            if (activation_ != SVUIA_DEACTIVATE)
                MergeMenus();
        }
        return 0;
    }
    case LVN_COLUMNCLICK: {
        const auto& click = reinterpret_cast<NMLISTVIEW&>(header);
        const UINT column = UINT(click.iSubItem);
        SetSort(column, column == sortColumn_ ? !descending_ : false);
        return 0;
    }
    case LVN_ITEMACTIVATE: {
        // A container opens in this window, as Explorer's own folders do; anything else runs
        // the default entry of its menu.
        std::vector<const ITEMIDLIST*> items;
        if (SUCCEEDED(SelectedItems(SVGIO_SELECTION, items)) && items.size() == 1 &&
            (ItemAttributes(items[0]) & SFGAO_FOLDER) && browser_)
            browser_->BrowseObject(items[0], SBSP_RELATIVE | SBSP_SAMEBROWSER);
        else
            ShowItemMenu(true);
        return 0;
    }
    case NM_RCLICK:
        if (SendMessageA(list_, LVM_GETSELECTEDCOUNT, 0, 0) > 0)
            ShowItemMenu(false);
        else
            ShowBackgroundMenu();
        return 0;
    case LVN_BEGINDRAG:
    case LVN_BEGINRDRAG: BeginDrag(); return 0;
    case LVN_BEGINLABELEDITA: return BeginLabelEdit() ? FALSE : TRUE;
    case LVN_ENDLABELEDITA:
        EndLabelEdit(reinterpret_cast<NMLVDISPINFOA&>(header));
        return FALSE;
    case LVN_KEYDOWN: {
        // A browser that does not hand its keys to the view first leaves them to the list:
        // they are the same commands either way.
        const auto& key = reinterpret_cast<NMLVKEYDOWN&>(header);
        MSG message = {};
        message.hwnd = window_;
        message.message = WM_KEYDOWN;
        message.wParam = key.wVKey;
        if (accelerators_)
            ::TranslateAcceleratorA(window_, accelerators_, &message);
        return 0;
    }
    case NM_SETFOCUS:
        if (browser_)
            browser_->OnViewWindowActive(this);
        SetActivation(SVUIA_ACTIVATE_FOCUS);
        return 0;
    case NM_KILLFOCUS: SetActivation(SVUIA_ACTIVATE_NOFOCUS); return 0;
    default:
        return DefWindowProcA(window_, WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
    }
}

bool AmigaView::CreateList()
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    RECT client = {};
    GetClientRect(window_, &client);
    // The view owns the image lists: the list must not destroy them.
    list_ = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                            WS_CHILD | WS_VISIBLE | LVS_EDITLABELS | LVS_AUTOARRANGE |
                                LVS_SHAREIMAGELISTS | ListStyleOf(viewMode_),
                            0, 0, client.right, client.bottom, window_,
                            reinterpret_cast<HMENU>(UINT_PTR(kListId)), ThisModule(), nullptr);
    if (!list_)
        return false;
    if (SUCCEEDED(oleResult_))
        dropRegistration_ = RegisterDragDrop(list_, static_cast<IDropTarget*>(this));
    if (FAILED(images_.Create())) {
        DestroyList();
        return false;
    }
    SendMessageA(list_, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(images_.Large()));
    SendMessageA(list_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images_.Small()));

    size_t inserted = 0;
    for (; inserted < kViewColumnCount; ++inserted) {
        const ViewColumn& column = kViewColumns[inserted];
        std::optional<std::string> title = LoadStringById(column.titleId, ThisModule(), 79);
        if (!title)
            break;
        LVCOLUMNA format = {};
        format.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        format.fmt = column.format;
        format.cx = column.defaultWidth;
        format.pszText = title->data();
        format.iSubItem = int(inserted);
        if (SendMessageA(list_, LVM_INSERTCOLUMNA, inserted, reinterpret_cast<LPARAM>(&format)) ==
            -1)
            break;
    }
    if (inserted < kViewColumnCount) {
        DestroyList();
        return false;
    }
    RestoreState();
    return true;
}

void AmigaView::ClearRows()
{
    const int rows = int(SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0));
    for (int row = rows - 1; row >= 0; --row)
        FreeIdList(const_cast<ITEMIDLIST*>(RowItem(list_, row)));
    SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0);
    renameCandidate_ = -1;
}

void AmigaView::DestroyList()
{
    SendMessageA(list_, WM_SETREDRAW, FALSE, 0);
    ClearRows();
    images_.Destroy();
    if (dropRegistration_ == S_OK) {
        RevokeDragDrop(list_);
        dropRegistration_ = DRAGDROP_E_INVALIDHWND;
    }
    HWND list = list_;
    list_ = nullptr;
    DestroyWindow(list);
}

void AmigaView::Fill()
{
    if (!list_ && (!window_ || !CreateList()))
        return;
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
    IEnumIDList* walk = nullptr;
    const SHCONTF flags = (folderFlags_ & FWF_NOSUBFOLDERS)
                              ? SHCONTF(SHCONTF_NONFOLDERS)
                              : SHCONTF(SHCONTF_FOLDERS | SHCONTF_NONFOLDERS);
    if (FAILED(folder_.EnumObjects(nullptr, flags, &walk)) || !walk) {
        DestroyList();
        InvalidateRect(window_, nullptr, TRUE);
        SetCursor(previous);
        return;
    }
    SendMessageA(list_, WM_SETREDRAW, FALSE, 0);
    ClearRows();
    ITEMIDLIST* identifier = nullptr;
    while (walk->Next(1, &identifier, nullptr) == S_OK && identifier) {
        LVITEMA row = {};
        row.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM | LVIF_STATE;
        row.pszText = LPSTR_TEXTCALLBACKA;
        row.iImage = I_IMAGECALLBACK;
        row.lParam = reinterpret_cast<LPARAM>(identifier);
        row.stateMask = LVIS_CUT;
        row.state = ItemIdView(identifier).IsCut() ? LVIS_CUT : 0;
        const int index =
            int(SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&row)));
        if (index == -1) {
            FreeIdList(identifier);
            continue;
        }
        for (int column = 1; column < int(kViewColumnCount); ++column) {
            LVITEMA text = {};
            text.iSubItem = column;
            text.pszText = LPSTR_TEXTCALLBACKA;
            SendMessageA(list_, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&text));
        }
    }
    walk->Release();
    SetSort(sortColumn_, descending_);
    SendMessageA(list_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_, nullptr, TRUE);
    UpdateStatus();
    SetCursor(previous);
}

void AmigaView::RestoreState()
{
    IStream* stream = nullptr;
    if (!browser_ || FAILED(browser_->GetViewStateStream(STGM_READ, &stream)) || !stream)
        return;
    ViewState state;
    if (ReadViewState(*stream, state)) {
        sortColumn_ = state.sortColumn;
        descending_ = state.descending;
        for (size_t i = 0; i < state.widthsRead; ++i)
            SendMessageA(list_, LVM_SETCOLUMNWIDTH, i, state.widths[i]);
    }
    stream->Release();
}

LRESULT AmigaView::SendToolbar(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (browser_)
        browser_->SendControlMsg(FCW_TOOLBAR, message, wParam, lParam, &result);
    return result;
}

void AmigaView::SetUpToolbar()
{
    if (!browser_)
        return;
    TBADDBITMAP standard = {HINST_COMMCTRL, IDB_STD_SMALL_COLOR};
    TBADDBITMAP views = {HINST_COMMCTRL, IDB_VIEW_SMALL_COLOR};
    LRESULT standardFirst = -1, viewFirst = -1;
    HRESULT hr = browser_->SendControlMsg(FCW_TOOLBAR, TB_ADDBITMAP, 8,
                                          reinterpret_cast<LPARAM>(&standard), &standardFirst);
    if (SUCCEEDED(hr))
        hr = browser_->SendControlMsg(FCW_TOOLBAR, TB_ADDBITMAP, 8,
                                      reinterpret_cast<LPARAM>(&views), &viewFirst);
    if (FAILED(hr) || standardFirst < 0 || viewFirst < 0)
        return;
    const int s = int(standardFirst), v = int(viewFirst);
    auto button = [](int image, UINT command, BYTE state) {
        TBBUTTON b = {};
        b.iBitmap = image;
        b.idCommand = int(command);
        b.fsState = state;
        b.fsStyle = BTNS_BUTTON;
        return b;
    };
    TBBUTTON separator = {};
    separator.fsStyle = BTNS_SEP;
    TBBUTTON buttons[] = {
        button(s + STD_CUT, UINT(ViewCommand::Cut), 0),
        button(s + STD_COPY, UINT(ViewCommand::Copy), 0),
        button(s + STD_PASTE, UINT(ViewCommand::Paste), 0),
        separator,
        button(s + STD_DELETE, UINT(ViewCommand::Delete), 0),
        button(s + STD_PROPERTIES, UINT(ViewCommand::Properties), 0),
        separator,
        button(v + VIEW_LARGEICONS, IDM_LARGE_ICONS, TBSTATE_ENABLED),
        button(v + VIEW_SMALLICONS, IDM_SMALL_ICONS, TBSTATE_ENABLED),
        button(v + VIEW_LIST, IDM_LIST, TBSTATE_ENABLED),
        button(v + VIEW_DETAILS, IDM_DETAILS, TBSTATE_ENABLED),
    };
    toolbarResult_ = browser_->SetToolbarItems(buttons, ARRAYSIZE(buttons), FCT_MERGE);
    if (SUCCEEDED(toolbarResult_))
        SetViewMode(viewMode_);
    EnableToolbarButtons(nullptr, nullptr);
}

void AmigaView::SetStatusLayout(bool menu)
{
    if (!browser_)
        return;
    LRESULT ignored = 0;
    if (menu) {
        int whole[] = {-1};
        browser_->SendControlMsg(FCW_STATUS, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(whole),
                                 &ignored);
        browser_->SendControlMsg(FCW_STATUS, SB_SETTEXTA, SBT_NOBORDERS,
                                 reinterpret_cast<LPARAM>(""), &ignored);
        return;
    }
    int parts[] = {kStatusFirstPartWidth, -1};
    browser_->SendControlMsg(FCW_STATUS, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts), &ignored);
    for (WPARAM part = 0; part < 2; ++part)
        browser_->SendControlMsg(FCW_STATUS, SB_SETTEXTA, part, reinterpret_cast<LPARAM>(""),
                                 &ignored);
}

void AmigaView::UpdateStatus()
{
    if (!browser_ || !list_)
        return;
    const bool selected = SendMessageA(list_, LVM_GETSELECTEDCOUNT, 0, 0) > 0;
    std::vector<const ITEMIDLIST*> items;
    if (FAILED(SelectedItems(selected ? SVGIO_SELECTION : SVGIO_ALLVIEW, items)))
        return;
    const StatusTexts texts = MakeStatusTexts(items, selected);
    LRESULT ignored = 0;
    browser_->SendControlMsg(FCW_STATUS, SB_SETTEXTA, 0,
                             reinterpret_cast<LPARAM>(texts.count.c_str()), &ignored);
    browser_->SendControlMsg(FCW_STATUS, SB_SETTEXTA, 1,
                             reinterpret_cast<LPARAM>(texts.size.c_str()), &ignored);
}

}  // namespace dm
