// The right-hand pane of Explorer for an Amiga folder: a window of our own holding one list
// control whose rows are the folder's item identifiers, with six columns, icons, sorting, four
// view modes, the status bar and the view's toolbar buttons.
#pragma once

#include "shell/amiga_folder.h"
#include "shell/com_object.h"
#include "shell/folder_view.h"
#include "shell/item_image_lists.h"
#include "view/view_state.h"

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <atomic>
#include <string>
#include <vector>

namespace dm {

class AmigaView final : public IShellView,
                        public IDropTarget,
                        public FolderView,
                        private ComObject {
public:
    static constexpr UINT kListId = 2;
    static constexpr char kClassName[] = "Drovemark_View";
    // Posted to the view window by other threads: wParam is the ViewUpdate.
    static constexpr UINT kUpdateMessage = WM_APP + 1;
    // Posted to itself at the end of an in-place edit: the rename runs once the list is done.
    static constexpr UINT kRenameMessage = WM_APP + 2;

    // A new view of `folder` asked for `riid`; what the folder's CreateViewObject does.
    static HRESULT Create(AmigaFolder& folder, HWND owner, REFIID riid, void** out);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IOleWindow, IShellView
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override;
    STDMETHODIMP TranslateAccelerator(MSG* message) override;
    STDMETHODIMP EnableModeless(BOOL) override;
    STDMETHODIMP UIActivate(UINT state) override;
    STDMETHODIMP Refresh() override;
    STDMETHODIMP CreateViewWindow(IShellView* previous, LPCFOLDERSETTINGS settings,
                                  IShellBrowser* browser, RECT* rect, HWND* window) override;
    STDMETHODIMP DestroyViewWindow() override;
    STDMETHODIMP GetCurrentInfo(LPFOLDERSETTINGS settings) override;
    STDMETHODIMP AddPropertySheetPages(DWORD, LPFNSVADDPROPSHEETPAGE, LPARAM) override;
    STDMETHODIMP SaveViewState() override;
    STDMETHODIMP SelectItem(PCUITEMID_CHILD, UINT) override;
    STDMETHODIMP GetItemObject(UINT, REFIID, void** out) override;

    // IDropTarget: hands the drag to the drop target of the row under the cursor, or of the
    // folder shown when no row takes it.
    STDMETHODIMP DragEnter(IDataObject*, DWORD, POINTL, DWORD* effect) override;
    STDMETHODIMP DragOver(DWORD, POINTL, DWORD* effect) override;
    STDMETHODIMP DragLeave() override;
    STDMETHODIMP Drop(IDataObject*, DWORD, POINTL, DWORD* effect) override;

    // FolderView
    DWORD OwnerThreadId() const override { return ownerThread_; }
    void Update(ViewUpdate update) override;
    void PostUpdate(ViewUpdate update) override;

    // The selected rows' identifiers (the focused one first), or every row; owned by the rows.
    HRESULT SelectedItems(UINT which, std::vector<const ITEMIDLIST*>& items) const;
    // Sorts by `column` (0-5), descending or not, and moves the header arrow.
    void SetSort(UINT column, bool descending);
    UINT SortColumn() const { return sortColumn_; }
    bool SortDescending() const { return descending_; }
    // 1 large icons, 2 small icons, 3 list, 4 details.
    void SetViewMode(UINT mode);
    HWND ListWindow() const { return list_; }
    // Handles a command as the view window's WM_COMMAND does; true when it was handled. The
    // menus, the toolbar and the accelerators all end here.
    bool Command(UINT id);
    // The menu bar handed to the browser while the view is active; null otherwise.
    HMENU MergedMenu() const { return mergedMenu_; }
    // Fills `popup` with the selection's item menu as the right click shows it (first
    // identifier 1) and keeps that menu active until EndItemMenu; false without a selection.
    bool BuildItemMenu(HMENU popup, bool defaultOnly);
    // Carries out the entry `id` of the item menu built last (its rename opens the edit box).
    void RunItemMenuEntry(UINT id);
    void EndItemMenu();
    // Loads the background menu with its entries enabled and marked for this view.
    HMENU BuildBackgroundMenu();
    // Puts the help text of menu entry `id` into the browser's status bar.
    void MenuHelp(UINT id);
    // The File entries of the merged bar carry the selection's menu positions from here on.
    static constexpr UINT kFileMenuFirst = 0x7000;
    static constexpr UINT kFileMenuLast = kFileMenuFirst + 0xFF;
    // The identifier a row of `list` holds, owned by the row.
    static const ITEMIDLIST* RowItem(HWND list, int row);

private:
    AmigaView(AmigaFolder& folder);
    ~AmigaView() override;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnNotify(NMHDR& header);

    bool CreateList();
    void DestroyList();
    void ClearRows();
    void Fill();
    void RestoreState();
    void MoveSortArrow(int column);
    void SetUpToolbar();
    void SetStatusLayout(bool menu);
    void UpdateStatus();
    // Cut, Copy, Paste, Delete and Properties follow the verbs of the selection's menu.
    void EnableToolbarButtons(IContextMenu* selection, HMENU entries);
    void SyncCutMarks();
    bool BeginLabelEdit();
    void EndLabelEdit(const NMLVDISPINFOA& info);
    void RenamePending();
    void SetActivation(UINT state);
    void MergeMenus();
    void RemoveMenus();
    // The selection's item menu (null when there is none), and with a scratch menu, its entries.
    IContextMenu* SelectionMenu(HWND owner);
    void FillFileEntries(HMENU file);
    void EnableEditEntries(HMENU edit);
    void MarkViewMode(HMENU menu);
    bool CanPasteInto(const ITEMIDLIST* item);
    void ShowItemMenu(bool defaultOnly);
    void ShowBackgroundMenu();
    void BeginDrag();
    // Scrolls the list while a drag rests near its edges; true while a scroll is pending.
    bool DragScroll(const LVHITTESTINFO& hit);
    bool ShowsTree();
    // The row under the drag changed: a new delegate for it (see DragOver).
    void HoverDrag(DWORD keys, int row, bool nothing, POINTL point);
    void EndDrag();
    LRESULT SendToolbar(UINT message, WPARAM wParam, LPARAM lParam);

    AmigaFolder& folder_;
    ItemImageLists images_;
    HBITMAP arrowUp_ = nullptr;
    HBITMAP arrowDown_ = nullptr;
    int arrowColumn_ = -1;
    bool commonControls6_ = false;
    HWND window_ = nullptr;
    // The view window as other threads see it, to post updates to.
    std::atomic<HWND> postTarget_ {nullptr};
    DWORD ownerThread_ = GetCurrentThreadId();
    HWND list_ = nullptr;
    HWND browserWindow_ = nullptr;
    // The item Rename would edit: the row's identifier, not its index, so that a sort between
    // choosing Rename and the edit box keeps to the item. Cleared with the rows.
    const ITEMIDLIST* renameCandidate_ = nullptr;
    // From the start of an in-place edit to its end: keys belong to the edit box, not to the
    // view's commands.
    bool editingLabel_ = false;
    UniqueIdList renameItem_;
    std::string renameTo_;
    UINT sortColumn_ = 0;
    bool descending_ = false;
    IShellBrowser* browser_ = nullptr;
    UINT viewMode_ = FVM_DETAILS;
    UINT folderFlags_ = 0;
    UINT activation_ = SVUIA_DEACTIVATE;
    HACCEL accelerators_ = nullptr;
    HRESULT toolbarResult_ = E_FAIL;
    HRESULT oleResult_ = E_FAIL;
    HRESULT dropRegistration_ = DRAGDROP_E_INVALIDHWND;
    bool rootView_ = false;
    ATOM classAtom_ = 0;
    // The drag over the list: its data (no reference held), the row under the cursor, the row
    // highlighted as accepting, and the target the drag is handed to.
    IDataObject* dragData_ = nullptr;
    int hoverRow_ = -1;
    bool hoverNothing_ = false;
    int highlightRow_ = -1;
    IDropTarget* delegate_ = nullptr;
    // Drag scrolling: the pending steps, when the cursor reached an edge and when the list last
    // scrolled (0: not yet), and the user's settings.
    int scrollX_ = 0;
    int scrollY_ = 0;
    DWORD edgeSince_ = 0;
    DWORD lastScroll_ = 0;
    int scrollInset_ = 11;
    DWORD scrollDelay_ = 50;
    DWORD scrollInterval_ = 50;
    // The item menu shown or being carried out, and its first identifier.
    IContextMenu* activeMenu_ = nullptr;
    UINT activeMenuFirst_ = 0;
    HMENU mergedMenu_ = nullptr;
    // The selection's menu behind the File entries of the merged bar.
    IContextMenu* fileMenu_ = nullptr;
};

}  // namespace dm
