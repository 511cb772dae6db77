#include "pages/context_help.h"

#include "core/messages.h"
#include "core/module.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"
#include "ui/help_popup.h"

namespace dm {

namespace {

bool IsGroupBox(HWND control)
{
    char name[16] = {};
    return GetClassNameA(control, name, sizeof name) && lstrcmpiA(name, "Button") == 0 &&
           (GetWindowLongPtrA(control, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
}

// The control of `page` under a screen point. A group box frames other controls and lies above
// them in the z-order, so it is taken only when no other control is there.
HWND ControlAt(HWND page, POINT screen)
{
    HWND frame = nullptr;
    for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect;
        if (!IsWindowVisible(child) || !GetWindowRect(child, &rect) || !PtInRect(&rect, screen))
            continue;
        if (!IsGroupBox(child))
            return child;
        if (!frame)
            frame = child;
    }
    return frame;
}

}  // namespace

UINT HelpStringFor(std::span<const HelpMapEntry> map, int control)
{
    for (const HelpMapEntry& entry : map) {
        if (entry.control == control)
            return entry.helpString;
    }
    return 0;
}

bool HandleContextHelp(HWND page, UINT message, WPARAM wParam, LPARAM lParam,
                       std::span<const HelpMapEntry> map)
{
    if (message == WM_HELP) {
        const auto* info = reinterpret_cast<const HELPINFO*>(lParam);
        if (info && info->iContextType == HELPINFO_WINDOW) {
            if (const UINT help = HelpStringFor(map, info->iCtrlId))
                ShowControlHelp(page, info->iCtrlId, help, ThisModule());
        }
        return true;
    }
    if (message != WM_CONTEXTMENU)
        return false;
    POINT at = {short(LOWORD(lParam)), short(HIWORD(lParam))};
    HWND control = nullptr;
    if (lParam == -1) {
        // From the keyboard: the focused control, at its own corner.
        control = GetFocus();
        if (control && GetParent(control) != page)
            control = nullptr;
        if (control) {
            RECT rect;
            GetWindowRect(control, &rect);
            at = {rect.left, rect.top};
        }
    } else {
        // The window the click came from, when it is one of the page's controls; otherwise (a
        // label that lets clicks through to the page) the control under the pointer.
        control = HWND(wParam);
        if (!control || control == page || GetParent(control) != page || IsGroupBox(control))
            control = ControlAt(page, at);
    }
    if (!control)
        return true;
    const int id = GetDlgCtrlID(control);
    const UINT help = HelpStringFor(map, id);
    if (!help)
        return true;
    const std::string item = LoadStringById(IDS_WHATSTHIS_MENU, ThisModule()).value_or("");
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return true;
    AppendMenuA(menu, MF_STRING, IDM_WHATS_THIS, item.c_str());
    const UINT chosen = UINT(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                            at.x, at.y, 0, page, nullptr));
    DestroyMenu(menu);
    if (chosen == IDM_WHATS_THIS)
        ShowControlHelp(page, id, help, ThisModule());
    return true;
}

}  // namespace dm
