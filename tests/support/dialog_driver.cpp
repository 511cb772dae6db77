#include "support/dialog_driver.h"

#include <algorithm>
#include <chrono>

namespace dm::test {

namespace {

// Named callbacks: a lambda does not convert to the stdcall functions 32-bit Windows calls.
struct DialogSearch {
    HWND except, owner, found;
};

BOOL CALLBACK RememberDialog(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<DialogSearch*>(context);
    char className[32];
    if (window != search->except && IsWindowVisible(window) &&
        (!search->owner || GetWindow(window, GW_OWNER) == search->owner) &&
        GetClassNameA(window, className, sizeof className) && std::string(className) == "#32770") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM context)
{
    char className[32];
    if (GetClassNameA(child, className, sizeof className) && lstrcmpiA(className, "Static") == 0)
        reinterpret_cast<std::vector<std::string>*>(context)->push_back(WindowText(child));
    return TRUE;
}

}  // namespace

HWND FindDialog(DWORD thread, HWND except)
{
    DialogSearch search {except, nullptr, nullptr};
    EnumThreadWindows(thread, RememberDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindOwnedDialog(HWND owner)
{
    DialogSearch search {nullptr, owner, nullptr};
    EnumWindows(RememberDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        Sleep(20);
    }
    return true;
}

DialogDriver::DialogDriver(std::function<void(HWND)> action, DWORD uiThread, DWORD waitMilliseconds)
{
    thread_ = std::thread([this, action, uiThread, waitMilliseconds] {
        HWND dialog = nullptr;
        if (!WaitFor([&] { return (dialog = FindDialog(uiThread)) != nullptr; },
                     std::chrono::milliseconds(waitMilliseconds)))
            return;
        found_ = true;
        action(dialog);
        if (!WaitFor([&] { return !IsWindow(dialog); }, std::chrono::seconds(5))) {
            forcedClose_ = true;
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        }
    });
}

DialogDriver::~DialogDriver()
{
    thread_.join();
}

std::string WindowText(HWND window)
{
    char text[4096] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::vector<std::string> StaticTexts(HWND dialog)
{
    std::vector<std::string> texts;
    EnumChildWindows(
        dialog,
        CollectStaticText,
        reinterpret_cast<LPARAM>(&texts));
    return texts;
}

void PressButton(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PressEscape(HWND dialog)
{
    // The key goes to the focused control, where the dialog's own loop turns it into Cancel.
    // A dialog that has just appeared may not have its focus yet: wait for it.
    const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
    HWND target = dialog;
    WaitFor(
        [&] {
            GUITHREADINFO info {};
            info.cbSize = sizeof info;
            if (GetGUIThreadInfo(thread, &info) && info.hwndFocus &&
                (info.hwndFocus == dialog || IsChild(dialog, info.hwndFocus))) {
                target = info.hwndFocus;
                return true;
            }
            return false;
        },
        std::chrono::seconds(2));
    PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

RECT ControlRect(HWND dialog, int id)
{
    RECT rect {};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

HWND FindOwnWindow(const char* className)
{
    for (HWND window = FindWindowExA(nullptr, nullptr, className, nullptr); window;
         window = FindWindowExA(nullptr, window, className, nullptr)) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId() && IsWindowVisible(window))
            return window;
    }
    return nullptr;
}

bool RightClickFirstCommand(HWND control, const std::function<bool()>& took)
{
    // A window of another test process that comes to the front closes a menu unchosen: try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        PostMessageA(control, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(4, 4));
        PostMessageA(control, WM_RBUTTONUP, 0, MAKELPARAM(4, 4));
        // The visible one: a menu window of an earlier menu may linger, hidden, and take the keys.
        HWND menu = nullptr;
        if (!WaitFor([&] { return (menu = FindOwnWindow("#32768")) != nullptr; },
                     std::chrono::seconds(10)))
            return false;
        PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
        if (WaitFor([&] { return (!IsWindow(menu) || !IsWindowVisible(menu)) && took(); },
                    std::chrono::seconds(5)))
            return true;
        // Still open: put it away before the next right click.
        if (IsWindow(menu) && IsWindowVisible(menu))
            PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
        WaitFor([&] { return !IsWindow(menu) || !IsWindowVisible(menu); }, std::chrono::seconds(5));
    }
    return false;
}

HWND WaitForOtherDialog(DWORD thread, HWND except, DWORD waitMilliseconds)
{
    HWND found = nullptr;
    WaitFor([&] { return (found = FindDialog(thread, except)) != nullptr; },
            std::chrono::milliseconds(waitMilliseconds));
    return found;
}

namespace {

BOOL CALLBACK NoteControl(HWND child, LPARAM context)
{
    auto* asked = reinterpret_cast<ButtonScript::Asked*>(context);
    char className[32] = {};
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Static") == 0 || lstrcmpiA(className, "Edit") == 0)
        asked->text += WindowText(child) + "\n";
    else if (lstrcmpiA(className, "Button") == 0 && IsWindowVisible(child))
        asked->buttons.push_back(GetDlgCtrlID(child));
    return TRUE;
}

}  // namespace

bool ButtonScript::Asked::Shows(int id) const
{
    return std::find(buttons.begin(), buttons.end(), id) != buttons.end();
}

ButtonScript::ButtonScript(std::vector<int> buttons, std::vector<int> beyond, DWORD uiThread)
{
    thread_ = std::thread([this, buttons, beyond, uiThread] {
        size_t next = 0;
        while (!stop_) {
            HWND dialog = FindDialog(uiThread);
            if (!dialog) {
                Sleep(20);
                continue;
            }
            Sleep(50);
            Asked asked;
            EnumChildWindows(dialog, NoteControl, reinterpret_cast<LPARAM>(&asked));
            if (next < buttons.size()) {
                PressButton(dialog, buttons[next++]);
            } else {
                ++unexpected;
                for (int id : beyond)
                    PressButton(dialog, id);
            }
            {
                std::lock_guard<std::mutex> guard(lock_);
                asked_.push_back(asked);
            }
            WaitFor([&] { return !IsWindow(dialog); }, std::chrono::seconds(5));
        }
    });
}

std::vector<ButtonScript::Asked> ButtonScript::Finish()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    return asked_;
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return true;
}

}  // namespace dm::test
