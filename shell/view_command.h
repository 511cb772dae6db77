// The commands of the view's menus, toolbar and accelerators and of the item menu, as the
// folder's DoCommand and the view's command dispatch take them.
#pragma once

#include "resources/resource_ids.h"

#include <windows.h>

namespace dm {

enum class ViewCommand : UINT {
    Refresh = IDM_REFRESH,
    NewFolder = IDM_NEW_FOLDER,
    Open = IDM_OPEN,
    Explore = IDM_EXPLORE,
    Delete = IDM_DELETE,
    Rename = IDM_RENAME,
    Properties = IDM_PROPERTIES,
    Format = IDM_FORMAT,
    Cut = IDM_CUT,
    Copy = IDM_COPY,
    Paste = IDM_PASTE,
    SelectAll = IDM_SELECT_ALL,
    InvertSelection = IDM_INVERT_SELECTION,
    LargeIcons = IDM_LARGE_ICONS,
    SmallIcons = IDM_SMALL_ICONS,
    List = IDM_LIST,
    Details = IDM_DETAILS,
    ArrangeByName = IDM_ARRANGE_BY_NAME,
    ArrangeByComment = IDM_ARRANGE_BY_COMMENT,
};

}  // namespace dm
