// The view's menus: the item and background menus, the entries merged into the browser's
// menu bar, their enabling and help texts, and the toolbar buttons that follow the same verbs.
#include "view/amiga_view.h"

#include "core/module.h"
#include "resources/resource_ids.h"
#include "shell/ui_object_factories.h"
#include "view/menu_merge.h"

#include <cstring>
#include <utility>

namespace dm {

namespace {

// Identifiers a context menu may give its entries.
constexpr UINT kLastMenuId = 32767;

}  // namespace

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

}  // namespace dm
