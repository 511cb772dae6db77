// Drops and pastes hand us ID-list arrays made by other processes: whatever their bytes, reading
// them never goes past the block, and every list found is readable to its terminator.
#include "shell/id_list_array.h"
#include "shell/item_id.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size_t touched = 0;
    for (const dm::IdListArrayKind kind :
         {dm::IdListArrayKind::Items, dm::IdListArrayKind::ParentAndItems}) {
        const auto array = dm::ReadIdListArray(data, size, kind);
        if (!array)
            continue;
        const auto* end = data + size;
        for (const ITEMIDLIST* list : array->items) {
            const auto* start = reinterpret_cast<const uint8_t*>(list);
            const size_t listSize = dm::IdListSize(list, size_t(end - start));
            touched += listSize;
            // The first identifier of the list, read as ours, stays inside it.
            const dm::ItemIdView item(list, listSize);
            touched += item.Name().size() + item.ParentPath().size();
        }
        touched += array->parent != nullptr;
    }
    return touched == 0xFFFFFFFF;
}
