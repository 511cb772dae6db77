#include "view/view_columns.h"

#include "core/amiga_paths.h"
#include "resources/string_ids.h"

namespace dm {

const std::array<ViewColumn, kViewColumnCount> kViewColumns = {{
    {IDS_COLUMN_NAME, 122, LVCFMT_LEFT},
    {IDS_COLUMN_SIZE, 50, LVCFMT_RIGHT},
    {IDS_COLUMN_TYPE, 58, LVCFMT_LEFT},
    {IDS_COLUMN_MODIFIED, 108, LVCFMT_LEFT},
    {IDS_COLUMN_ATTRIBUTES, 62, LVCFMT_RIGHT},
    {IDS_COLUMN_COMMENT, 88, LVCFMT_LEFT},
}};

std::string_view ColumnText(const ItemIdView& item, size_t column)
{
    switch (column) {
    case 0: return DisplayName(item.Name(), item.Kind());
    case 1: return item.SizeText();
    case 2: return item.TypeText();
    case 3: return item.DateText();
    case 4: return item.AttributeText();
    case 5:
        // The empty text at the end of the identifier's texts, still terminated in place.
        return item.Kind() == ItemKind::HdfFile
                   ? item.AttributeText().substr(item.AttributeText().size())
                   : item.Comment();
    default: return {};
    }
}

}  // namespace dm
