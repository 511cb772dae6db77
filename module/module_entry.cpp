// The five exports of drovemark.dll.
#include "core/shared_settings_section.h"
#include "shell/module_server.h"
#include "module/ui_objects.h"
#include "shell/ui_object_factories.h"

#include <windows.h>

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        SetErrorMode(SEM_NOALIGNMENTFAULTEXCEPT);
        dm::ShareSectionAcrossProcesses();
        dm::RegisterUiObjects();
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out)
{
    return dm::GetModuleClassObject(clsid, riid, out);
}

STDAPI DllCanUnloadNow()
{
    return dm::CanUnloadModule();
}

void CALLBACK Uninstall(HWND window, HINSTANCE, LPSTR commandLine, int)
{
    dm::RunUninstall(window, commandLine);
}

void CALLBACK ShowProperties(HWND, HINSTANCE, LPSTR, int)
{
    dm::StartModuleSockets();
    if (const auto show = dm::UiFactories().showSettingsSheet)
        show(nullptr);
}

}  // extern "C"
