// The view's list window: its rows and columns, sorting and the header arrow, the view modes,
// cut marks, the selection, in-place renaming, the list's notifications and its refill.
#include "view/amiga_view.h"

#include "core/messages.h"
#include "core/module.h"
#include "resources/string_ids.h"
#include "shell/folder_cache.h"
#include "shell/item_id.h"
#include "view/view_columns.h"

#include <algorithm>
#include <climits>

namespace dm {

namespace {

DWORD ListStyleOf(UINT mode)
{
    switch (mode) {
    case FVM_ICON: return LVS_ICON;
    case FVM_SMALLICON: return LVS_SMALLICON;
    case FVM_LIST: return LVS_LIST;
    default: return LVS_REPORT;
    }
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

}  // namespace dm
