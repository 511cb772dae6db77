// The module's outer edge, apart from the exported symbols themselves: the class object, when
// the module may be unloaded, Winsock's start and end, and the removal of the installation.
#pragma once

#include <windows.h>

namespace dm {

HRESULT GetModuleClassObject(REFCLSID clsid, REFIID riid, void** out);

// Winsock for the module's own entry points that come without a class object (ShowProperties):
// without it the settings know no TCP/IP connection.
void StartModuleSockets();

// S_OK (and Winsock cleaned up) when no object lives and no lock is held, else S_FALSE.
HRESULT CanUnloadModule();

// -1 before the first class object and after unloading, 0 while started, else the last
// WSAStartup error.
int WinsockState();

// Asks, then runs the installation's uninstall section named by `infPath`. Nothing happens
// without a path or with one of 260 characters or more.
void RunUninstall(HWND owner, const char* infPath);

}  // namespace dm
