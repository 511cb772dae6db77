// The Connection page: serial port and speed, or TCP/IP address and password.
#include "core/crc32.h"
#include "core/messages.h"
#include "core/module.h"
#include "link/serial_link.h"
#include "link/tcp_link.h"
#include "pages/context_help.h"
#include "pages/settings_sheet_extension.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"

#include <commctrl.h>

#include <array>
#include <string>

namespace dm {

namespace {

constexpr char kPasswordPlaceholder[] = "++++++++++++++";
constexpr char kConfirmPlaceholder[] = "--------------";
constexpr int kPasswordLimit = 99;
constexpr int kMaxVisiblePorts = 14;

constexpr HelpMapEntry kHelp[] = {
    {IDC_CONN_TYPE, IDS_WHATSTHIS_CONNECTION_TYPE}, {IDC_CONN_ADDRESS, IDS_WHATSTHIS_ADDRESS},
    {IDC_CONN_PASSWORD, IDS_WHATSTHIS_PASSWORD},    {IDC_CONN_CONFIRM, IDS_WHATSTHIS_PASSWORD},
    {IDC_CONN_PORT, IDS_WHATSTHIS_PORT},            {IDC_CONN_SPEED, IDS_WHATSTHIS_SPEED},
};

struct Speed {
    DWORD rate;
    DWORD bit;
};

constexpr Speed kSpeeds[] = {
    {110, BAUD_110},       {300, BAUD_300},       {600, BAUD_600},     {1200, BAUD_1200},
    {2400, BAUD_2400},     {4800, BAUD_4800},     {9600, BAUD_9600},   {14400, BAUD_14400},
    {19200, BAUD_19200},   {38400, BAUD_38400},   {56000, BAUD_56K},   {57600, BAUD_57600},
    {115200, BAUD_115200}, {128000, BAUD_128K},
};

constexpr int kSerialControls[] = {IDC_CONN_PORT_LABEL, IDC_CONN_PORT, IDC_CONN_SPEED_LABEL,
                                   IDC_CONN_SPEED};
constexpr int kTcpControls[] = {IDC_CONN_ADDRESS_LABEL, IDC_CONN_ADDRESS, IDC_CONN_PASSWORD_LABEL,
                                IDC_CONN_PASSWORD,      IDC_CONN_CONFIRM_LABEL, IDC_CONN_CONFIRM};

std::string ControlText(HWND page, int id, int limit)
{
    std::string text(size_t(limit) + 1, '\0');
    text.resize(size_t(GetDlgItemTextA(page, id, text.data(), limit + 1)));
    return text;
}

// Only the first line of a box counts.
std::string FirstLine(HWND page, int id, int limit)
{
    std::string text = ControlText(page, id, limit);
    return text.substr(0, text.find_first_of("\r\n"));
}

std::string SelectedText(HWND combo)
{
    const LRESULT index = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return {};
    const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, WPARAM(index), 0);
    if (length == CB_ERR || length > 259)
        return {};
    std::string text(size_t(length) + 1, '\0');
    SendMessageA(combo, CB_GETLBTEXT, WPARAM(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(size_t(length));
    return text;
}

LinkKind SelectedKind(HWND page)
{
    HWND combo = GetDlgItem(page, IDC_CONN_TYPE);
    const LRESULT index = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return LinkKind::None;
    return LinkKind(SendMessageA(combo, CB_GETITEMDATA, WPARAM(index), 0));
}

void ShowControlsOf(HWND page, LinkKind kind)
{
    for (int id : kSerialControls)
        ShowWindow(GetDlgItem(page, id), kind == LinkKind::Serial ? SW_SHOW : SW_HIDE);
    for (int id : kTcpControls)
        ShowWindow(GetDlgItem(page, id), kind == LinkKind::Tcp ? SW_SHOW : SW_HIDE);
}

SerialLink* SerialEntry(ConnectionSettings& settings, const std::string& name)
{
    PacketChannel* entry = settings.FindConnection(name);
    return entry ? dynamic_cast<SerialLink*>(&entry->GetLink()) : nullptr;
}

TcpLink* TcpEntry(ConnectionSettings& settings)
{
    PacketChannel* entry = settings.FindConnection(ConnectionSettings::kTcpName);
    return entry ? dynamic_cast<TcpLink*>(&entry->GetLink()) : nullptr;
}

// The speeds the port says it can be set to; a port that cannot be asked gets the usual ones.
DWORD OfferedSpeeds(const std::string& port)
{
    DWORD fallback = 0;
    for (const Speed& speed : kSpeeds) {
        if (speed.rate != 128000)
            fallback |= speed.bit;
    }
    const std::string device = "\\\\.\\" + port;
    HANDLE handle = CreateFileA(device.c_str(), 0, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return fallback;
    COMMPROP properties = {};
    const bool asked = GetCommProperties(handle, &properties) != FALSE;
    CloseHandle(handle);
    if (!asked)
        return fallback;
    return (properties.dwSettableParams & SP_BAUD) ? properties.dwSettableBaud : 0;
}

void FillSpeeds(HWND page, ConnectionSettings& settings)
{
    const std::string port = SelectedText(GetDlgItem(page, IDC_CONN_PORT));
    const DWORD offered = OfferedSpeeds(port);
    SerialLink* entry = SerialEntry(settings, port);
    if (!entry || !entry->HasConfiguration())
        return;
    HWND combo = GetDlgItem(page, IDC_CONN_SPEED);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    LRESULT select = CB_ERR;
    for (const Speed& speed : kSpeeds) {
        if (!(offered & speed.bit))
            continue;
        const std::string text = std::to_string(speed.rate);
        const LRESULT index = SendMessageA(combo, CB_ADDSTRING, 0,
                                           reinterpret_cast<LPARAM>(text.c_str()));
        SendMessageA(combo, CB_SETITEMDATA, WPARAM(index), speed.rate);
        if (speed.rate == entry->BaudRate())
            select = index;
    }
    if (SendMessageA(combo, CB_GETCOUNT, 0, 0) > 0)
        SendMessageA(combo, CB_SETCURSEL, select == CB_ERR ? 0 : WPARAM(select), 0);
}

void AddType(HWND combo, UINT textId, LinkKind kind)
{
    const std::string text = LoadStringById(textId, ThisModule()).value_or("");
    const LRESULT index = SendMessageA(combo, CB_ADDSTRING, 0,
                                       reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageA(combo, CB_SETITEMDATA, WPARAM(index), LPARAM(kind));
}

void SelectType(HWND combo, LinkKind kind)
{
    const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        if (LinkKind(SendMessageA(combo, CB_GETITEMDATA, WPARAM(i), 0)) == kind) {
            SendMessageA(combo, CB_SETCURSEL, WPARAM(i), 0);
            return;
        }
    }
    SendMessageA(combo, CB_SETCURSEL, 0, 0);
}

void Initialise(HWND page, ShellPropertySheetExtension& sheet)
{
    ConnectionSettings& settings = sheet.Settings();
    HWND ports = GetDlgItem(page, IDC_CONN_PORT);
    HWND types = GetDlgItem(page, IDC_CONN_TYPE);
    bool anySerial = false;
    bool anyTcp = false;
    for (size_t i = 0; i < settings.ConnectionCount(); ++i) {
        const Link& link = settings.Connection(i).GetLink();
        if (link.Kind() == LinkKind::Serial) {
            anySerial = true;
            SendMessageA(ports, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(link.Name().c_str()));
        } else if (const auto* tcp = dynamic_cast<const TcpLink*>(&link)) {
            anyTcp = true;
            SetDlgItemTextA(page, IDC_CONN_ADDRESS, tcp->Address().c_str());
        }
    }
    const LRESULT portCount = SendMessageA(ports, CB_GETCOUNT, 0, 0);
    SendMessageA(ports, CB_SETMINVISIBLE, WPARAM(std::min<LRESULT>(kMaxVisiblePorts,
                                                                  std::max<LRESULT>(portCount, 1))),
                 0);
    if (anySerial)
        AddType(types, IDS_CONNTYPE_SERIAL, LinkKind::Serial);
    if (anyTcp)
        AddType(types, IDS_CONNTYPE_TCPIP, LinkKind::Tcp);
    const PacketChannel* current = settings.CurrentConnection();
    const LinkKind kind = current ? current->GetLink().Kind() : LinkKind::None;
    LRESULT port = kind == LinkKind::Serial
                       ? SendMessageA(ports, CB_FINDSTRINGEXACT, WPARAM(-1),
                                      reinterpret_cast<LPARAM>(settings.ConnectionName().c_str()))
                       : CB_ERR;
    SendMessageA(ports, CB_SETCURSEL, port == CB_ERR ? 0 : WPARAM(port), 0);
    SelectType(types, kind);

    if (IsWindowsXPOrLater()) {
        HFONT font = sheet.PasswordFont(GetDlgItem(page, IDC_CONN_PASSWORD));
        SendDlgItemMessageA(page, IDC_CONN_PASSWORD, WM_SETFONT, WPARAM(font), FALSE);
        SendDlgItemMessageA(page, IDC_CONN_CONFIRM, WM_SETFONT, WPARAM(font), FALSE);
    }
    SetDlgItemTextA(page, IDC_CONN_PASSWORD, kPasswordPlaceholder);
    SetDlgItemTextA(page, IDC_CONN_CONFIRM, kConfirmPlaceholder);
    SendDlgItemMessageA(page, IDC_CONN_PASSWORD, EM_LIMITTEXT, kPasswordLimit, 0);
    SendDlgItemMessageA(page, IDC_CONN_CONFIRM, EM_LIMITTEXT, kPasswordLimit, 0);
    if (anySerial)
        FillSpeeds(page, settings);
    ShowControlsOf(page, SelectedKind(page));
}

// False (nothing stored) when the two passwords differ.
bool Store(HWND page, ConnectionSettings& settings)
{
    switch (SelectedKind(page)) {
    case LinkKind::Serial: {
        const std::string port = SelectedText(GetDlgItem(page, IDC_CONN_PORT));
        SerialLink* entry = SerialEntry(settings, port);
        if (entry && entry->HasConfiguration()) {
            HWND speeds = GetDlgItem(page, IDC_CONN_SPEED);
            const LRESULT index = SendMessageA(speeds, CB_GETCURSEL, 0, 0);
            if (index != CB_ERR)
                entry->SetBaudRate(DWORD(SendMessageA(speeds, CB_GETITEMDATA, WPARAM(index), 0)));
            entry->NormalizeConfiguration();
        }
        settings.SetConnectionName(port);
        return true;
    }
    case LinkKind::Tcp: {
        if (TcpLink* entry = TcpEntry(settings)) {
            const std::string password = FirstLine(page, IDC_CONN_PASSWORD, kPasswordLimit);
            const std::string confirm = FirstLine(page, IDC_CONN_CONFIRM, kPasswordLimit);
            const bool untouched = password == kPasswordPlaceholder &&
                                   confirm == kConfirmPlaceholder;
            if (!untouched && password != confirm) {
                MessageBoxById(page, IDS_PASSWORD_MISMATCH, IDS_APP_NAME, MB_OK | MB_ICONSTOP,
                               ThisModule());
                return false;
            }
            entry->SetAddress(FirstLine(page, IDC_CONN_ADDRESS, int(TcpLink::kMaxAddressLength)));
            if (!untouched)
                entry->SetHandshakeKey(ComputeCrc32(password));
        }
        settings.SetConnectionName(ConnectionSettings::kTcpName);
        return true;
    }
    default:
        settings.SetConnectionName("");
        return true;
    }
}

void OnCommand(HWND page, ShellPropertySheetExtension& sheet, int id, int code)
{
    HWND control = GetDlgItem(page, id);
    // Text set while filling the page is no change of the user's.
    const bool byUser = control && GetFocus() == control;
    if (id == IDC_CONN_PORT && code == CBN_SELCHANGE) {
        FillSpeeds(page, sheet.Settings());
        sheet.NoteChange(page);
    } else if (id == IDC_CONN_TYPE && code == CBN_SELCHANGE) {
        ShowControlsOf(page, SelectedKind(page));
        sheet.NoteChange(page);
    } else if (id == IDC_CONN_SPEED && code == CBN_SELCHANGE && byUser) {
        sheet.NoteChange(page);
    } else if ((id == IDC_CONN_ADDRESS || id == IDC_CONN_PASSWORD || id == IDC_CONN_CONFIRM) &&
               code == EN_CHANGE && byUser) {
        sheet.NoteChange(page);
    }
}

}  // namespace

INT_PTR CALLBACK ConnectionPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        Initialise(page, *TakeSheetAtInit(page, lParam));
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
        SetFocus(nullptr);
        const bool stored = Store(page, sheet->Settings());
        const bool saved = stored && sheet->Apply(page);
        SetWindowLongPtrA(page, DWLP_MSGRESULT, saved ? PSNRET_NOERROR : PSNRET_INVALID);
        return TRUE;
    }
    return FALSE;
}

}  // namespace dm
