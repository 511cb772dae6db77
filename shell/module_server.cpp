#include "shell/module_server.h"

#include "core/live_objects.h"
#include "core/messages.h"
#include "core/module.h"
#include "link/tcp_link.h"
#include "resources/string_ids.h"
#include "shell/class_factory.h"
#include "shell/com_object.h"

#include <atomic>
#include <cstring>
#include <string>

namespace dm {

namespace {

// WSANOTINITIALISED: what a failed start leaves.
constexpr int kWinsockNotStarted = 10093;
std::atomic<int> winsockState {-1};

}  // namespace

int WinsockState()
{
    return winsockState.load();
}

void StartModuleSockets()
{
    // The links see the same start through SocketsStarted().
    if (winsockState.load() != 0)
        winsockState = StartSockets() ? 0 : kWinsockNotStarted;
}

HRESULT GetModuleClassObject(REFCLSID clsid, REFIID riid, void** out)
{
    StartModuleSockets();
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, kNamespaceClsid))
        return E_FAIL;
    return ClassFactory::Create(riid, out);
}

HRESULT CanUnloadModule()
{
    if (ModuleCounts::Objects() != 0 || ModuleCounts::Locks() != 0)
        return S_FALSE;
    if (winsockState.exchange(-1) == 0)
        StopSockets();
    return S_OK;
}

void RunUninstall(HWND owner, const char* infPath)
{
    if (!infPath || std::strlen(infPath) >= MAX_PATH)
        return;
    const std::optional<std::string> text = LoadStringById(IDS_UNINSTALL_CONFIRM, ThisModule(), 99);
    const std::optional<std::string> caption =
        LoadStringById(IDS_CAPTION_CONFIRM_FILE_DELETION, ThisModule(), 99);
    if (!text || !caption ||
        MessageBoxA(owner, text->c_str(), caption->c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;

    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    const bool nt = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    const std::string parameters =
        nt ? std::string("setupapi.dll,InstallHinfSection DefaultUninstall 132 ") + infPath
           : std::string("rundll.exe setupx.dll,InstallHinfSection DefaultUninstall 132 ") +
                 infPath;
    ShellExecuteA(nullptr, nullptr, nt ? "rundll32.exe" : "start.exe", parameters.c_str(), nullptr,
                  SW_SHOWMINIMIZED);
}

}  // namespace dm
