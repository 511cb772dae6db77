#include "view/status_texts.h"

#include "core/messages.h"
#include "core/module.h"
#include "core/size_text.h"
#include "resources/string_ids.h"
#include "shell/item_id.h"

namespace dm {

StatusTexts MakeStatusTexts(const std::vector<const ITEMIDLIST*>& items, bool selected)
{
    StatusTexts texts;
    texts.count = FormatStringById(selected ? IDS_STATUS_OBJECTS_SELECTED : IDS_STATUS_OBJECTS,
                                   ThisModule(), {int(items.size())})
                      .value_or(std::string());
    uint32_t total = 0;
    for (const ITEMIDLIST* item : items) {
        const ItemIdView view(item);
        if (view.IsValid() && !IsContainerKind(view.Kind()))
            total += view.Size();
    }
    if (items.size() == 1) {
        const ItemIdView drive(items[0]);
        if (drive.IsValid() &&
            (drive.Kind() == ItemKind::Volume || drive.Kind() == ItemKind::Floppy)) {
            // A drive without a medium has nothing in use and nothing free; a server that
            // reports more in use than there is must not make the free space wrap around.
            const uint32_t used = drive.UsedSpace();
            const std::string free =
                used == 0xFFFFFFFFu
                    ? std::string("-")
                    : SizeText(used > drive.Size() ? 0 : drive.Size() - used, true, 0);
            const std::string capacity = SizeText(drive.Size(), true, 0);
            texts.size = FormatStringById(IDS_STATUS_FREE_SPACE, ThisModule(), {free, capacity})
                             .value_or(std::string());
            return texts;
        }
    }
    if (total != 0)
        texts.size = SizeText(total, true, 0);
    return texts;
}

}  // namespace dm
