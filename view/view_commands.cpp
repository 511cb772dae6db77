// The view's commands: what the menus, the toolbar and the accelerators all end in.
#include "view/amiga_view.h"

#include "resources/resource_ids.h"

namespace dm {

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

}  // namespace dm
