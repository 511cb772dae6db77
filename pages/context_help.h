// "What's This?" help on the settings pages: F1 (WM_HELP) and the right-click menu show the help
// text of a control from the page's help map in a popup next to it.
#pragma once

#include <windows.h>

#include <span>

namespace dm {

struct HelpMapEntry {
    int control;
    UINT helpString;
};

UINT HelpStringFor(std::span<const HelpMapEntry> map, int control);

// Handles WM_HELP and WM_CONTEXTMENU for a page; false for other messages.
bool HandleContextHelp(HWND page, UINT message, WPARAM wParam, LPARAM lParam,
                       std::span<const HelpMapEntry> map);

}  // namespace dm
