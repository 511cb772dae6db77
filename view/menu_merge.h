// Copying the view's menu entries into the browser's menus so that they sit between the
// browser's own entries with exactly one separator on each side.
#pragma once

#include <windows.h>

namespace dm {

// Inserts the entries of `source` into `target` at `position` (at the end when beyond it),
// keeping their order; submenus are copied. Identifiers grow by `offset`; entries whose
// identifier would pass `limit` are left out. With `separate`, the block is kept apart from
// the entries around it by single separators. Returns the number of entries inserted.
UINT MergeMenuInto(HMENU target, UINT position, HMENU source, UINT offset, UINT limit,
                   bool separate);

// The position of the entry with identifier `id`, searched from the last one; -1 when absent.
int FindMenuEntry(HMENU menu, UINT id);

// The submenu carrying identifier `id` in a menu bar, or null.
HMENU SubmenuWithId(HMENU bar, UINT id);

}  // namespace dm
