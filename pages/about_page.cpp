// The About page: product, version and a link to the support page.
#include "core/messages.h"
#include "core/module.h"
#include "pages/settings_sheet_extension.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"
#include "resources/version.h"

#include <richedit.h>

namespace dm {

INT_PTR CALLBACK AboutPageProc(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        ShellPropertySheetExtension* sheet = TakeSheetAtInit(page, lParam);
        SetDlgItemTextA(page, IDC_ABOUT_PRODUCT,
                        LoadStringById(IDS_ABOUT_PRODUCT, ThisModule()).value_or("").c_str());
        SetDlgItemTextA(page, IDC_ABOUT_VERSION,
                        FormatStringById(IDS_ABOUT_VERSION, ThisModule(), {DROVEMARK_VERSION_TEXT})
                            .value_or("")
                            .c_str());
        sheet->Link().SetText(page, IDC_ABOUT_LINK, IDS_ABOUT_LINK, ThisModule());
        return TRUE;
    }
    ShellPropertySheetExtension* sheet = SheetOf(page);
    if (!sheet)
        return FALSE;
    if (message == WM_NOTIFY) {
        const auto* filter = reinterpret_cast<const MSGFILTER*>(lParam);
        if (filter->nmhdr.idFrom != IDC_ABOUT_LINK || filter->nmhdr.code != EN_MSGFILTER)
            return FALSE;
        if (filter->msg == WM_MOUSEMOVE)
            sheet->Link().TrackMouse();
        else if (filter->msg == WM_LBUTTONUP && sheet->Link().TrackMouse())
            sheet->Link().OpenHotLink();
        return TRUE;
    }
    if (message == WM_MOUSEMOVE) {
        sheet->Link().TrackMouse();
        return TRUE;
    }
    if (message == WM_SETCURSOR) {
        if (sheet->Link().TrackMouse()) {
            SetWindowLongPtrA(page, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    }
    if (message == WM_LBUTTONUP) {
        if (sheet->Link().TrackMouse())
            sheet->Link().OpenHotLink();
        return TRUE;
    }
    return FALSE;
}

}  // namespace dm
