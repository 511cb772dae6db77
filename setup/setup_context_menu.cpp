#include "setup/setup_context_menu.h"

#include "core/messages.h"
#include "core/module.h"
#include "resources/string_ids.h"
#include "setup/serial_setup.h"

#include <cstring>
#include <optional>
#include <string>

namespace dm {

namespace {

constexpr char kTroubleshootingPage[] = "https://drovemark.example.org/troubleshooting.html";

struct Command {
    const char* verb;
    const wchar_t* wideVerb;
    UINT menuText;
    UINT helpText;
};

constexpr Command kCommands[] = {
    {"setup", L"setup", IDS_SETUP_MENU, IDS_SETUP_HELP},
    {"troubleshooting", L"troubleshooting", IDS_TROUBLESHOOT_MENU, IDS_TROUBLESHOOT_HELP},
};
constexpr UINT_PTR kCommandCount = sizeof kCommands / sizeof kCommands[0];

}  // namespace

void OpenTroubleshootingPage()
{
    ShellExecuteA(nullptr, nullptr, kTroubleshootingPage, nullptr, nullptr, SW_SHOWNORMAL);
}

SetupContextMenu::SetupContextMenu() : actions_ {&RunSerialSetup, &OpenTroubleshootingPage} {}

HRESULT SetupContextMenu::QueryContextMenu(HMENU menu, UINT index, UINT firstId, UINT lastId,
                                           UINT flags)
{
    if (flags & CMF_DEFAULTONLY)
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    if (!menu || lastId < firstId + kCommandCount - 1)
        return E_INVALIDARG;
    UINT inserted = 0;
    if (InsertMenuA(menu, index, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr))
        ++inserted;
    for (UINT_PTR offset = 0; offset < kCommandCount; ++offset) {
        const std::optional<std::string> text =
            LoadStringById(kCommands[offset].menuText, ThisModule(), 255);
        if (!text)
            continue;
        if (InsertMenuA(menu, index + inserted, MF_BYPOSITION | MF_STRING,
                        firstId + UINT(offset), text->c_str()))
            ++inserted;
    }
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, USHORT(inserted));
}

HRESULT SetupContextMenu::GetCommandString(UINT_PTR offset, UINT kind, UINT*, LPSTR buffer,
                                           UINT size)
{
    if (offset >= kCommandCount || kind > GCS_HELPTEXTW)
        return E_INVALIDARG;
    const Command& command = kCommands[offset];
    switch (kind) {
    case GCS_VALIDATEA: return S_OK;
    case GCS_VERBA: {
        const size_t length = std::strlen(command.verb);
        if (!buffer || size <= length)
            return E_UNEXPECTED;
        std::memcpy(buffer, command.verb, length + 1);
        return S_OK;
    }
    case GCS_VERBW: {
        const size_t length = std::wcslen(command.wideVerb);
        if (!buffer || size <= length)
            return E_UNEXPECTED;
        std::memcpy(buffer, command.wideVerb, (length + 1) * sizeof(wchar_t));
        return S_OK;
    }
    case GCS_HELPTEXTA:
        // LoadString with no room would hand out a pointer instead of a copy.
        if (!buffer || size == 0)
            return E_INVALIDARG;
        if (LoadStringA(ThisModule(), command.helpText, buffer, int(size)) == 0) {
            const DWORD error = GetLastError();
            return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
        }
        return S_OK;
    case GCS_HELPTEXTW:
        if (!buffer || size == 0)
            return E_INVALIDARG;
        reinterpret_cast<wchar_t*>(buffer)[0] = L'\0';
        return S_OK;
    }
    return E_INVALIDARG;
}

HRESULT SetupContextMenu::InvokeCommand(const CMINVOKECOMMANDINFO* info)
{
    if (!info)
        return E_INVALIDARG;
    UINT_PTR offset = kCommandCount;
    if (HIWORD(reinterpret_cast<UINT_PTR>(info->lpVerb)) != 0) {
        for (UINT_PTR i = 0; i < kCommandCount; ++i) {
            if (lstrcmpiA(info->lpVerb, kCommands[i].verb) == 0)
                offset = i;
        }
    } else {
        offset = LOWORD(reinterpret_cast<UINT_PTR>(info->lpVerb));
    }
    if (offset == 0 && actions_.runSetup) {
        actions_.runSetup();
        return S_OK;
    }
    if (offset == 1 && actions_.openTroubleshooting) {
        actions_.openTroubleshooting();
        return S_OK;
    }
    return E_INVALIDARG;
}

}  // namespace dm
