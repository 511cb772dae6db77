#include "view/menu_merge.h"

namespace dm {

namespace {

bool IsSeparator(HMENU menu, int position)
{
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE;
    return GetMenuItemInfoA(menu, UINT(position), TRUE, &info) && (info.fType & MFT_SEPARATOR);
}

void InsertSeparatorAt(HMENU menu, UINT position)
{
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE;
    info.fType = MFT_SEPARATOR;
    InsertMenuItemA(menu, position, TRUE, &info);
}

// Copies entry `from` of `source` to `position` of `target`; false when it is left out.
bool CopyEntry(HMENU target, UINT position, HMENU source, int from, UINT offset, UINT limit)
{
    char text[256] = {};
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = sizeof text - 1;
    if (!GetMenuItemInfoA(source, UINT(from), TRUE, &info))
        return false;
    if (info.hSubMenu) {
        HMENU copy = CreatePopupMenu();
        if (!copy)
            return false;
        MergeMenuInto(copy, 0, info.hSubMenu, offset, limit, false);
        info.hSubMenu = copy;
    } else if (info.wID + offset > limit) {
        return false;
    }
    info.wID += offset;
    info.dwTypeData = text;
    if (!InsertMenuItemA(target, position, TRUE, &info)) {
        if (info.hSubMenu)
            DestroyMenu(info.hSubMenu);
        return false;
    }
    return true;
}

}  // namespace

UINT MergeMenuInto(HMENU target, UINT position, HMENU source, UINT offset, UINT limit,
                   bool separate)
{
    const int count = GetMenuItemCount(target);
    const int entries = GetMenuItemCount(source);
    if (count < 0 || entries <= 0)
        return 0;
    if (position > UINT(count))
        position = UINT(count);
    // What follows the block: the browser's next entry, or the end, which counts as a separator.
    if (separate && position < UINT(count) && !IsSeparator(target, int(position)))
        InsertSeparatorAt(target, position);
    UINT inserted = 0;
    for (int from = entries - 1; from >= 0; --from) {
        if (IsSeparator(source, from)) {
            const bool nextIsSeparator =
                position >= UINT(GetMenuItemCount(target))
                    ? (separate || inserted == 0)
                    : IsSeparator(target, int(position));
            if (nextIsSeparator)
                continue;
        }
        if (CopyEntry(target, position, source, from, offset, limit))
            ++inserted;
    }
    if (!separate || inserted == 0)
        return inserted;
    if (position > 0) {
        const bool before = IsSeparator(target, int(position) - 1);
        const bool first = IsSeparator(target, int(position));
        if (before && first) {
            DeleteMenu(target, position, MF_BYPOSITION);
            --inserted;
        } else if (!before && !first) {
            InsertSeparatorAt(target, position);
        }
    } else if (IsSeparator(target, 0)) {
        DeleteMenu(target, 0, MF_BYPOSITION);
        --inserted;
    }
    return inserted;
}

int FindMenuEntry(HMENU menu, UINT id)
{
    for (int position = GetMenuItemCount(menu) - 1; position >= 0; --position)
        if (GetMenuItemID(menu, position) == id)
            return position;
    return -1;
}

HMENU SubmenuWithId(HMENU bar, UINT id)
{
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_SUBMENU;
    return GetMenuItemInfoA(bar, id, FALSE, &info) ? info.hSubMenu : nullptr;
}

}  // namespace dm
