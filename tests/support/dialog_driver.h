// Drives a modal window of the calling thread from a helper thread, as a user would, so that
// tests of modal questions never hang: if the action does not close the window, it is closed.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dm::test {

class DialogDriver {
public:
    // Waits (on its own thread) for a dialog of `uiThread` to appear, then runs `action` on it.
    DialogDriver(std::function<void(HWND)> action, DWORD uiThread = GetCurrentThreadId(),
                 DWORD waitMilliseconds = 10000);
    ~DialogDriver();
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    // Whether a dialog was found and the action ran.
    bool Found() const { return found_; }
    // Whether the action left the window open and the driver had to close it.
    bool ForcedClose() const { return forcedClose_; }

private:
    std::thread thread_;
    std::atomic<bool> found_ {false};
    std::atomic<bool> forcedClose_ {false};
};

// Answers the dialogs of one operation in order, from a helper thread, each with the next of
// `buttons`; a dialog beyond them is closed with `beyond` and counted as unexpected.
class ButtonScript {
public:
    struct Asked {
        std::string text;          // its static and edit texts, each followed by a line break
        std::vector<int> buttons;  // the buttons it shows
        bool Shows(int id) const;
    };
    explicit ButtonScript(std::vector<int> buttons, std::vector<int> beyond = {IDCANCEL, IDOK},
                          DWORD uiThread = GetCurrentThreadId());
    ~ButtonScript() { Finish(); }
    std::vector<Asked> Finish();
    std::atomic<int> unexpected {0};

private:
    std::thread thread_;
    std::atomic<bool> stop_ {false};
    std::mutex lock_;
    std::vector<Asked> asked_;
};

// Reads this thread's messages until `done` says so or `limit` passed.
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(20));

// Whether `condition` came true within `limit`, checked every 20 ms.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds limit = std::chrono::seconds(15));

// The first visible dialog of `thread` other than `except`, as a user would find it on the
// screen; null if none.
HWND FindDialog(DWORD thread, HWND except = nullptr);
// A visible dialog owned by `owner`, whichever thread shows it; null if none.
HWND FindOwnedDialog(HWND owner);
// A visible top-level window of this process with the class `className` (a menu, a help popup):
// tests in other processes share the desktop and show the same kinds of windows.
HWND FindOwnWindow(const char* className);

// What a user sees and does, from another thread.
std::string WindowText(HWND window);
std::vector<std::string> StaticTexts(HWND dialog);
void PressButton(HWND dialog, int id);
void PressEscape(HWND dialog);
RECT ControlRect(HWND dialog, int id);  // in dialog client coordinates
// Right-clicks the control and picks the first command of the menu that comes up ("What's
// This?") through the menu's window, until `took` says the command did its work; false when no
// menu came or three tries did not take.
bool RightClickFirstCommand(HWND control, const std::function<bool()>& took);
// A visible dialog of `thread` other than `except` (a message box over a property sheet), waited
// for up to `waitMilliseconds`; null if none came.
HWND WaitForOtherDialog(DWORD thread, HWND except, DWORD waitMilliseconds = 10000);

}  // namespace dm::test
