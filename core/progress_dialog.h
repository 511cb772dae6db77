// The progress of a long copy, move or delete, cancellable while the calling thread is busy with
// the link: the shell's own progress dialog when the system offers one, else a small window of
// ours that runs on a UI thread of its own so that it keeps painting and answering Cancel.
#pragma once

#include "core/live_objects.h"
#include "core/platform.h"

#include <shlobj.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace dm {

class ProgressDialog {
public:
    enum class Mode {
        PreferShell,  // the shell's dialog when it can be created, else our own window
        OwnWindow,    // always our own window
    };

    explicit ProgressDialog(Mode mode = Mode::PreferShell);
    ~ProgressDialog();
    ProgressDialog(const ProgressDialog&) = delete;
    ProgressDialog& operator=(const ProgressDialog&) = delete;

    // Shows a progress titled with string `titleId` and animated with AVI resource `animationId`
    // over `total` steps. False when nothing could be shown; the operation goes on regardless.
    bool Start(UINT titleId, UINT animationId, uint32_t total);
    // A new phase in the progress already shown: position 0 of `total`.
    void Restart(UINT titleId, UINT animationId, uint32_t total);
    void Step();
    void SetPosition(uint32_t position);
    uint32_t Position() const { return position_; }
    // One line of text, shortened like a path when it does not fit.
    void SetText(std::string_view text);
    // Survives Stop, so that the owner can still ask after closing the progress.
    bool IsCancelled() const;
    // Whether our own window's thread is alive; false with the shell's dialog.
    bool IsRunning() const;
    // Closes the progress; harmless when nothing is shown.
    void Stop();

    // Positions closer together than this show as one: each crosses to another thread, which
    // costs more than a packet on a fast link, and no one follows a bar faster.
    static constexpr std::chrono::milliseconds kPositionInterval {40};

    bool UsesShellDialog() const { return shellDialog_ != nullptr; }
    // Our own window and the thread it lives on, while shown (null and 0 otherwise).
    HWND Window() const { return dialog_.load(); }
    DWORD WindowThreadId() const { return thread_ ? threadId_ : 0; }

private:
    static DWORD WINAPI WindowThread(void* self);
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    bool StartShellDialog();
    bool StartOwnWindow();
    // At once when `now`, when the end is reached, or when the last one shown is old enough.
    void ShowPosition(bool now = false);
    void OpenAnimation() const;

    using PathSetter = void(WINAPI*)(HWND, int, LPCSTR);

    LiveObject live_;
    Mode mode_;
    HMODULE shlwapi_ = nullptr;
    PathSetter setPath_ = nullptr;

    std::atomic<HWND> dialog_ {nullptr};
    std::atomic<HWND> bar_ {nullptr};
    std::atomic<HWND> text_ {nullptr};
    std::atomic<bool> cancelled_ {false};
    uint32_t total_ = 0;
    uint32_t position_ = 0;
    double scale_ = 0.0;
    std::chrono::steady_clock::time_point positionShownAt_ {};
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    HANDLE started_ = nullptr;
    UINT animationId_ = 0;
    UINT titleId_ = 0;
    std::string title_;
    IProgressDialog* shellDialog_ = nullptr;
};

}  // namespace dm
