// The six columns of the item list: titles, default widths, alignment, and the text each shows
// of an item identifier.
#pragma once

#include "shell/item_id.h"

#include <windows.h>

#include <commctrl.h>

#include <array>
#include <string_view>

namespace dm {

struct ViewColumn {
    UINT titleId;
    int defaultWidth;  // pixels
    int format;        // LVCFMT_LEFT or LVCFMT_RIGHT
};

constexpr size_t kViewColumnCount = 6;
extern const std::array<ViewColumn, kViewColumnCount> kViewColumns;

// The column's text inside the identifier itself (terminated there), so the list needs no
// copies: the name without its device part, and no comment for a partition image, whose
// comment holds the geometry.
std::string_view ColumnText(const ItemIdView& item, size_t column);

}  // namespace dm
