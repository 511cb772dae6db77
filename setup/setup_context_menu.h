// The Setup and Troubleshooting commands of the settings extension's context menu: the menu
// entries, their verbs and help texts, and what invoking them does.
#pragma once

#include <windows.h>

#include <shlobj.h>

namespace dm {

class SetupContextMenu {
public:
    // What the two commands do; tests put their own in.
    struct Actions {
        void (*runSetup)() = nullptr;
        void (*openTroubleshooting)() = nullptr;
    };
    SetupContextMenu();
    explicit SetupContextMenu(Actions actions) : actions_(actions) {}

    HRESULT QueryContextMenu(HMENU menu, UINT index, UINT firstId, UINT lastId, UINT flags);
    HRESULT GetCommandString(UINT_PTR offset, UINT kind, UINT* reserved, LPSTR buffer, UINT size);
    HRESULT InvokeCommand(const CMINVOKECOMMANDINFO* info);

private:
    Actions actions_;
};

// Opens the troubleshooting web page in the user's browser.
void OpenTroubleshootingPage();

}  // namespace dm
