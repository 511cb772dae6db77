#include "module/ui_objects.h"

#include "shell/ui_object_factories.h"
#include "transfer/amiga_data_object.h"
#include "transfer/amiga_drop_target.h"
#include "transfer/clipboard.h"
#include "transfer/cut_set.h"
#include "transfer/format_dialog.h"
#include "transfer/open_with_pc_program.h"
#include "transfer/properties_thread.h"
#include "view/amiga_view.h"

namespace dm {

void RegisterUiObjects()
{
    UiObjectFactories& make = UiFactories();
    make.createView = &AmigaView::Create;
    make.createDataObject = &AmigaDataObject::Create;
    make.openWithPcProgram = &OpenWithPcProgram;
    make.createDropTarget = &AmigaDropTarget::Create;
    make.showProperties = &ShowItemProperties;
    make.showFormatDialog = &ShowFormatDialog;
    make.copyToClipboard = [](AmigaFolder& folder, UINT count, const ITEMIDLIST* const* items,
                              DWORD effect) { return CopyToClipboard(folder, count, items, effect); };
    make.pasteInto = &PasteInto;
    make.isCut = &CutSet::Contains;
    make.lastFolderGone = [] {
        if (CutSet::Count() > 0)
            CutSet::Clear();
    };
}

}  // namespace dm
