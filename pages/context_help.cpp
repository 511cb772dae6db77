#include "pages/context_help.h"

#include "core/messages.h"
#include "core/module.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"
#include "ui/help_popup.h"

namespace dm {

namespace {

// The visible child of `page` under a screen point.
HWND ControlAt(HWND page, POINT screen)
{
    POINT client = screen;
    ScreenToClient(page, &client);
    HWND child = ChildWindowFromPointEx(page, client, CWP_SKIPINVISIBLE);
    return child == page ? nullptr : child;
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
        control = ControlAt(page, at);
        if (!control && wParam && HWND(wParam) != page)
            control = HWND(wParam);
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
