#include "module/ui_objects.h"

#include "pages/format_dialog.h"
#include "pages/properties_thread.h"
#include "pages/settings_sheet_extension.h"
#include "shell/amiga_context_menu.h"
#include "shell/ui_object_factories.h"
#include "transfer/amiga_data_object.h"
#include "transfer/amiga_drop_source.h"
#include "transfer/amiga_drop_target.h"
#include "transfer/clipboard.h"
#include "transfer/cut_set.h"
#include "transfer/open_with_pc_program.h"
#include "view/amiga_view.h"

namespace dm {

namespace {

HRESULT NewDropSource(IDataObject& data, IDropSource** out)
{
    *out = AmigaDropSource::New(data);
    if (!*out)
        return E_OUTOFMEMORY;
    (*out)->AddRef();
    return S_OK;
}

}  // namespace

void RegisterUiObjects()
{
    UiObjectFactories& make = UiFactories();
    make.createView = &AmigaView::Create;
    make.createContextMenu = &AmigaContextMenu::Create;
    make.createDataObject = &AmigaDataObject::Create;
    make.createDropSource = &NewDropSource;
    make.openWithPcProgram = &OpenWithPcProgram;
    make.createDropTarget = &AmigaDropTarget::Create;
    make.showProperties = &ShowItemProperties;
    make.createSettingsExtension = &CreateSettingsExtension;
    make.showSettingsSheet = &ShowSettingsSheet;
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
