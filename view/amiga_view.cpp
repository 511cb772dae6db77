#include "view/amiga_view.h"

#include "core/messages.h"
#include "core/module.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"
#include "shell/folder_cache.h"
#include "shell/item_id.h"
#include "view/status_texts.h"
#include "view/view_columns.h"

#include <shlwapi.h>

#include <algorithm>
#include <climits>

namespace dm {

namespace {

constexpr int kStatusFirstPartWidth = 240;

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

const ITEMIDLIST* AmigaView::RowItem(HWND list, int row)
{
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
        return nullptr;
    return reinterpret_cast<const ITEMIDLIST*>(item.lParam);
}

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
    // One pass over the rows against the folder's cut items: a Select All and Cut in a big
    // drawer must not freeze the window.
    const std::vector<UniqueIdList> cutItems = folder_.Items().CloneCut();
    ItemIdSet cutSet;
    for (const UniqueIdList& item : cutItems)
        if (item && ItemIdView(item.get()).IsValid())
            cutSet.insert(item.get());
    const int rows = int(SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        auto* identifier = const_cast<ITEMIDLIST*>(RowItem(list_, row));
        if (!identifier)
            continue;
        const bool cut = ItemIdView(identifier).IsValid() && cutSet.count(identifier) != 0;
        LVITEMA state = {};
        state.stateMask = LVIS_CUT;
        state.state = cut ? LVIS_CUT : 0;
        SendMessageA(list_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
        SetCutMark(identifier, cut);
    }
}

bool AmigaView::BeginLabelEdit()
{
    const ITEMIDLIST* item = renameCandidate_;
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
        // Copies: the rows' identifiers go with the next refill, and a command's question pumps
        // messages (a refill posted from another thread) before it acts on them.
        std::vector<const ITEMIDLIST*> rows, items;
        SelectedItems(SVGIO_SELECTION, rows);
        std::vector<UniqueIdList> owned;
        try {
            for (const ITEMIDLIST* row : rows) {
                owned.push_back(CloneUnique(row));
                if (!owned.back())
                    return true;
                items.push_back(owned.back().get());
            }
        } catch (const std::bad_alloc&) {
            return true;
        }
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
        LVFINDINFOA find = {};
        find.flags = LVFI_PARAM;
        find.lParam = reinterpret_cast<LPARAM>(renameCandidate_);
        const int row = renameCandidate_ ? int(SendMessageA(list_, LVM_FINDITEMA, WPARAM(-1),
                                                            reinterpret_cast<LPARAM>(&find)))
                                         : -1;
        if (row != -1) {
            SetFocus(list_);
            SendMessageA(list_, LVM_EDITLABELA, row, 0);
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
            renameCandidate_ =
                (change.uNewState & LVIS_SELECTED) ? RowItem(list_, change.iItem) : nullptr;
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
    renameCandidate_ = nullptr;
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
