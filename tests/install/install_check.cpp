// Helper of the installer test, run inside the test's Wine prefix.
//   install_check activate DLL          creates the folder from the registration alone, checks
//                                       that the registered DLL at that path served it and that
//                                       the shell reaches it on the desktop and in My Computer
//   install_check uninstall CAPTION S   runs the registered UninstallString and answers Yes to
//                                       its question (a message box with that caption), waiting
//                                       at most S seconds for each step
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

const CLSID kDrovemarkClsid = {
    0x6B2D9A41, 0x5C7E, 0x4F83, {0x9D, 0x10, 0x3A, 0x5E, 0x7C, 0x24, 0xB8, 0xF6}};

bool ReportsOurClass(IUnknown* object)
{
    IPersistFolder* persist = nullptr;
    CLSID reported = {};
    const bool ours =
        SUCCEEDED(object->QueryInterface(IID_IPersistFolder, reinterpret_cast<void**>(&persist))) &&
        SUCCEEDED(persist->GetClassID(&reported)) && IsEqualCLSID(reported, kDrovemarkClsid);
    if (persist)
        persist->Release();
    return ours;
}

// The shell itself, not our exports, finds the folder by its parsing name on the desktop and
// below My Computer, and binds to it.
bool ShellReachesFolder(const wchar_t* parsingName)
{
    IShellFolder* desktop = nullptr;
    if (FAILED(SHGetDesktopFolder(&desktop)))
        return false;
    bool reached = false;
    ITEMIDLIST* pidl = nullptr;
    wchar_t name[MAX_PATH];
    lstrcpynW(name, parsingName, MAX_PATH);
    IShellFolder* folder = nullptr;
    if (SUCCEEDED(desktop->ParseDisplayName(nullptr, nullptr, name, nullptr, &pidl, nullptr)) &&
        SUCCEEDED(desktop->BindToObject(pidl, nullptr, IID_IShellFolder,
                                        reinterpret_cast<void**>(&folder)))) {
        reached = ReportsOurClass(folder);
        folder->Release();
    }
    CoTaskMemFree(pidl);
    desktop->Release();
    if (!reached)
        std::wprintf(L"the shell does not reach the folder as %ls\n", parsingName);
    return reached;
}

int Activate(const char* expectedPath)
{
    if (FAILED(CoInitialize(nullptr)))
        return 1;
    int result = 1;
    IShellFolder* folder = nullptr;
    const HRESULT hr = CoCreateInstance(kDrovemarkClsid, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IShellFolder, reinterpret_cast<void**>(&folder));
    if (FAILED(hr)) {
        std::printf("CoCreateInstance failed: 0x%08lX\n", static_cast<unsigned long>(hr));
    } else {
        char loaded[MAX_PATH] = "";
        const HMODULE module = GetModuleHandleA("drovemark.dll");
        if (!module || !GetModuleFileNameA(module, loaded, MAX_PATH)) {
            std::printf("drovemark.dll is not loaded\n");
        } else if (lstrcmpiA(loaded, expectedPath) != 0) {
            std::printf("served by %s, expected %s\n", loaded, expectedPath);
        } else {
            if (!ReportsOurClass(folder)) {
                std::printf("the folder does not report its class\n");
            } else if (ShellReachesFolder(L"::{6B2D9A41-5C7E-4F83-9D10-3A5E7C24B8F6}") &&
                       ShellReachesFolder(L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\"
                                          L"::{6B2D9A41-5C7E-4F83-9D10-3A5E7C24B8F6}")) {
                std::printf("OK %s\n", loaded);
                result = 0;
            }
        }
        folder->Release();
    }
    CoUninitialize();
    return result;
}

// Runs the uninstall command that the installation registered, as the system's program list
// would, and answers Yes to its question.
int RunUninstallString(const char* caption, int seconds)
{
    char command[1024] = "";
    DWORD size = sizeof command;
    if (RegGetValueA(HKEY_LOCAL_MACHINE,
                     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Drovemark",
                     "UninstallString", RRF_RT_REG_SZ, nullptr, command, &size) != ERROR_SUCCESS) {
        std::printf("no UninstallString\n");
        return 1;
    }
    std::printf("running %s\n", command);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::printf("CreateProcess failed: %lu\n", GetLastError());
        return 1;
    }
    CloseHandle(process.hThread);
    int result = 1;
    HWND box = nullptr;
    for (int waited = 0; !box && waited < seconds * 20; ++waited) {
        if (!(box = FindWindowA("#32770", caption)))
            Sleep(50);
    }
    if (!box) {
        std::printf("no message box \"%s\" within %d s\n", caption, seconds);
        TerminateProcess(process.hProcess, 1);
    } else {
        // 0xFFFF is the message box's static text.
        char text[512] = "";
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        std::printf("asked: %s\n", text);
        if (const HWND yes = GetDlgItem(box, IDYES)) {
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
                         reinterpret_cast<LPARAM>(yes));
            result = 0;
        } else {
            std::printf("the box has no Yes button\n");
            PostMessageA(box, WM_CLOSE, 0, 0);
        }
        if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(seconds) * 1000) !=
            WAIT_OBJECT_0) {
            std::printf("rundll32 did not end\n");
            TerminateProcess(process.hProcess, 1);
            result = 1;
        }
    }
    CloseHandle(process.hProcess);
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 3 && std::strcmp(argv[1], "activate") == 0)
        return Activate(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "uninstall") == 0)
        return RunUninstallString(argv[2], std::atoi(argv[3]));
    std::printf("usage: install_check activate DLL | uninstall CAPTION SECONDS\n");
    return 2;
}
