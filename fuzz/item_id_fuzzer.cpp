// Identifiers come back from shortcuts and view state written by older or other programs:
// whatever their bytes, reading them never goes past what is there.
#include "shell/id_list.h"
#include "shell/item_id.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const dm::ItemIdView item(data, size);
    size_t touched = item.ByteSize() + item.Size() + item.UsedSpace() + item.Protection();
    for (int text = 0; text < 7; ++text)
        touched += item.Text(dm::ItemText(text)).size();
    touched += item.FolderPath().value_or("").size() + item.AmigaPath().value_or("").size();
    touched += item.ToRemoteItem().has_value();

    const auto* list = reinterpret_cast<const ITEMIDLIST*>(data);
    if (size > 0) {
        touched += dm::IdListSize(list, size);
        touched += dm::LastIdListItem(list, size) != nullptr;
    }
    return touched == 0xFFFFFFFF;  // keeps the reads from being optimised away
}
