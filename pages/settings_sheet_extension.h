// The settings sheet ("Drovemark Properties"): the Connection, Options and About pages over one
// settings record, reached from ShowProperties, from the folder's Properties at the root and from
// the shell as a property-sheet extension. Nothing reaches the registry before OK or Apply.
#pragma once

#include "core/settings_registry.h"
#include "protocol/connection_settings.h"
#include "setup/setup_context_menu.h"
#include "shell/com_object.h"
#include "ui/link_label.h"

#include <windows.h>

#include <prsht.h>
#include <shlobj.h>

namespace dm {

class ShellPropertySheetExtension final : public IShellExtInit,
                                          public IShellPropSheetExt,
                                          public IContextMenu,
                                          private ComObject {
public:
    static constexpr UINT kMaxPages = 3;

    static HRESULT Create(REFIID riid, void** out);
    // Settings from `store` (tests point it elsewhere); one reference, the caller's.
    static ShellPropertySheetExtension* New(SettingsStore store = {});

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE, IDataObject*, HKEY) override;
    // IShellPropSheetExt
    STDMETHODIMP AddPages(LPFNSVADDPROPSHEETPAGE addPage, LPARAM parameter) override;
    STDMETHODIMP ReplacePage(EXPPS, LPFNSVADDPROPSHEETPAGE, LPARAM) override;
    // IContextMenu: the Setup and Troubleshooting commands
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT firstId, UINT lastId,
                                  UINT flags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
    STDMETHODIMP GetCommandString(UINT_PTR offset, UINT kind, UINT* reserved, CHAR* buffer,
                                  UINT size) override;

    // Collects the pages and runs the sheet modally.
    HRESULT ShowSettingsSheet(HWND owner);

    // What the pages share.
    ConnectionSettings& Settings() { return settings_; }
    LinkLabel& Link() { return link_; }
    HFONT PasswordFont(HWND passwordBox);
    // The first change a user makes enables Apply.
    void NoteChange(HWND page);
    // Saves everything; tells the user what was not saved. False keeps the page open.
    bool Apply(HWND page);
    bool Changed() const { return changed_; }

private:
    explicit ShellPropertySheetExtension(SettingsStore store);
    ~ShellPropertySheetExtension() override;
    static BOOL CALLBACK CollectPage(HPROPSHEETPAGE page, LPARAM self);

    ConnectionSettings settings_;
    LinkLabel link_;
    SetupContextMenu setupMenu_;
    HFONT passwordFont_ = nullptr;
    HMODULE richEdit_ = nullptr;
    bool changed_ = false;
    HPROPSHEETPAGE pages_[kMaxPages] = {};
    UINT pageCount_ = 0;
};

// For the folder's Properties at the root and for ShowProperties.
void ShowSettingsSheet(HWND owner);
HRESULT CreateSettingsExtension(REFIID riid, void** out);

// The page procedures (one file each).
INT_PTR CALLBACK ConnectionPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK OptionsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// The sheet object of a page, kept in the page's user data from WM_INITDIALOG on.
ShellPropertySheetExtension* SheetOf(HWND page);
ShellPropertySheetExtension* TakeSheetAtInit(HWND page, LPARAM lParam);

}  // namespace dm
