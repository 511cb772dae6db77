// The Options page: packet size and retries, the diagnostic log and the desktop icon.
#include "core/messages.h"
#include "core/module.h"
#include "pages/context_help.h"
#include "pages/settings_sheet_extension.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"

#include <commdlg.h>

#include <cstdlib>
#include <string>

namespace dm {

namespace {

constexpr HelpMapEntry kHelp[] = {
    {IDC_OPT_PACKET_SIZE, IDS_WHATSTHIS_PACKET_SIZE},
    {IDC_OPT_MAX_RETRIES, IDS_WHATSTHIS_MAX_RETRIES},
    {IDC_OPT_LOG_PATH, IDS_WHATSTHIS_LOG_PATH},
    {IDC_OPT_LOG_BROWSE, IDS_WHATSTHIS_LOG_BROWSE},
    {IDC_OPT_LOG_ENABLE, IDS_WHATSTHIS_LOG_ENABLE},
    {IDC_OPT_DESKTOP_ICON, IDS_WHATSTHIS_DESKTOP_ICON},
};

constexpr int kPathLimit = 259;

// Text that is no number reads as 0; the number is cut to 32 bits as the box's owner reads it.
int32_t NumberIn(HWND page, int id)
{
    char text[32] = {};
    GetDlgItemTextA(page, id, text, sizeof text);
    return int32_t(std::strtoll(text, nullptr, 10));
}

void ShowNumber(HWND page, int id, uint32_t value)
{
    SetDlgItemTextA(page, id, std::to_string(value).c_str());
}

void EnableLogControls(HWND page, bool enabled)
{
    EnableWindow(GetDlgItem(page, IDC_OPT_LOG_PATH), enabled);
    EnableWindow(GetDlgItem(page, IDC_OPT_LOG_BROWSE), enabled);
}

void Initialise(HWND page, ConnectionSettings& settings)
{
    CheckDlgButton(page, IDC_OPT_LOG_ENABLE, settings.LoggingEnabled() ? BST_CHECKED : BST_UNCHECKED);
    SendDlgItemMessageA(page, IDC_OPT_LOG_PATH, EM_LIMITTEXT, kPathLimit + 1, 0);
    SetDlgItemTextA(page, IDC_OPT_LOG_PATH, settings.LogPath().c_str());
    EnableLogControls(page, settings.LoggingEnabled());
    EnableWindow(GetDlgItem(page, IDC_OPT_DESKTOP_ICON), IsWindowsXPOrLater());
    CheckDlgButton(page, IDC_OPT_DESKTOP_ICON,
                   settings.ShowDesktopIcon() ? BST_CHECKED : BST_UNCHECKED);
    ShowNumber(page, IDC_OPT_PACKET_SIZE, settings.PacketSize());
    ShowNumber(page, IDC_OPT_MAX_RETRIES, settings.MaxRetries());
}

// A box that loses the focus stores its value, or shows the stored one again when refused.
void StoreBox(HWND page, ConnectionSettings& settings, int id)
{
    if (id == IDC_OPT_PACKET_SIZE) {
        settings.SetPacketSize(NumberIn(page, id));
        ShowNumber(page, id, settings.PacketSize());
    } else if (id == IDC_OPT_MAX_RETRIES) {
        settings.SetMaxRetries(NumberIn(page, id));
        ShowNumber(page, id, settings.MaxRetries());
    } else if (id == IDC_OPT_LOG_PATH) {
        char path[kPathLimit + 1] = {};
        GetDlgItemTextA(page, id, path, sizeof path);
        if (path[0] && settings.SetLogPath(path))
            return;
        SetDlgItemTextA(page, id, settings.LogPath().c_str());
    }
}

void Browse(HWND page, ShellPropertySheetExtension& sheet)
{
    ConnectionSettings& settings = sheet.Settings();
    const std::string title = LoadStringById(IDS_LOG_BROWSE_TITLE, ThisModule()).value_or("");
    std::string filter = LoadStringById(IDS_LOG_FILTER_NAME, ThisModule()).value_or("");
    filter.push_back('\0');
    filter += "*.log";
    filter.push_back('\0');
    char file[MAX_PATH] = {};
    lstrcpynA(file, settings.LogPath().c_str(), sizeof file);
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = page;
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrTitle = title.c_str();
    dialog.lpstrDefExt = "log";
    dialog.Flags = OFN_HIDEREADONLY;
    if (GetSaveFileNameA(&dialog) && settings.LogPath() != file && settings.SetLogPath(file)) {
        SetDlgItemTextA(page, IDC_OPT_LOG_PATH, file);
        sheet.NoteChange(page);
    }
}

void OnCommand(HWND page, ShellPropertySheetExtension& sheet, int id, int code)
{
    ConnectionSettings& settings = sheet.Settings();
    switch (id) {
    case IDC_OPT_PACKET_SIZE:
    case IDC_OPT_MAX_RETRIES:
    case IDC_OPT_LOG_PATH:
        if (code == EN_KILLFOCUS)
            StoreBox(page, settings, id);
        else if (code == EN_CHANGE && GetFocus() == GetDlgItem(page, id))
            sheet.NoteChange(page);
        break;
    case IDC_OPT_LOG_BROWSE:
        if (code == BN_CLICKED)
            Browse(page, sheet);
        break;
    case IDC_OPT_LOG_ENABLE:
        if (code == BN_CLICKED) {
            const bool on = IsDlgButtonChecked(page, id) == BST_CHECKED;
            settings.SetLoggingEnabled(on);
            EnableLogControls(page, on);
            sheet.NoteChange(page);
        }
        break;
    case IDC_OPT_DESKTOP_ICON:
        if (code == BN_CLICKED) {
            settings.SetShowDesktopIcon(IsDlgButtonChecked(page, id) == BST_CHECKED);
            sheet.NoteChange(page);
        }
        break;
    default:
        break;
    }
}

}  // namespace

INT_PTR CALLBACK OptionsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        Initialise(page, TakeSheetAtInit(page, lParam)->Settings());
        return TRUE;
    }
    ShellPropertySheetExtension* sheet = SheetOf(page);
    if (!sheet)
        return FALSE;
    if (HandleContextHelp(page, message, wParam, lParam, kHelp))
        return TRUE;
    if (message == WM_COMMAND) {
        OnCommand(page, *sheet, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    }
    if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == PSN_APPLY) {
        // The box with the focus stores its value as it loses it.
        SetFocus(nullptr);
        SetWindowLongPtrA(page, DWLP_MSGRESULT,
                          sheet->Apply(page) ? PSNRET_NOERROR : PSNRET_INVALID);
        return TRUE;
    }
    return FALSE;
}

}  // namespace dm
