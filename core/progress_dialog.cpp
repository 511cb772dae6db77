#include "core/progress_dialog.h"

#include "core/messages.h"
#include "core/module.h"
#include "resources/resource_ids.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

namespace dm {

namespace {

// Spelled out here: not every SDK's import libraries carry them.
const CLSID kProgressDialogClass = {
    0xf8383852, 0xfcd3, 0x11d1, {0xa6, 0xb9, 0x00, 0x60, 0x97, 0xdf, 0x5b, 0xd4}};
const IID kProgressDialogInterface = {
    0xebbc7c04, 0x315e, 0x11d2, {0xb6, 0x2f, 0x00, 0x60, 0x97, 0xdf, 0x5b, 0xd4}};

// The bar always spans this range, whatever the number of steps.
constexpr double kBarRange = 32000.0;
constexpr size_t kTitleLength = 99;
constexpr DWORD kStartWait = 500;

std::wstring Widen(std::string_view text)
{
    if (text.empty())
        return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(std::max(length, 0)), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), length);
    return wide;
}

double ScaleFor(uint32_t total)
{
    return total ? kBarRange / double(total) : 0.0;
}

}  // namespace

ProgressDialog::ProgressDialog(Mode mode) : mode_(mode)
{
    shlwapi_ = LoadLibraryA("shlwapi.dll");
    if (shlwapi_)
        setPath_ = reinterpret_cast<PathSetter>(
            reinterpret_cast<void*>(GetProcAddress(shlwapi_, "PathSetDlgItemPathA")));
}

ProgressDialog::~ProgressDialog()
{
    Stop();
    if (shlwapi_)
        FreeLibrary(shlwapi_);
}

bool ProgressDialog::Start(UINT titleId, UINT animationId, uint32_t total)
{
    // A second Start would orphan the first window's thread.
    Stop();
    position_ = 0;
    cancelled_ = false;
    animationId_ = animationId;
    total_ = total;
    titleId_ = titleId;
    const std::optional<std::string> title = LoadStringById(titleId, ThisModule(), kTitleLength);
    if (!title)
        return false;
    title_ = *title;
    if (mode_ == Mode::PreferShell && StartShellDialog())
        return true;
    return StartOwnWindow();
}

bool ProgressDialog::StartShellDialog()
{
    void* created = nullptr;
    if (FAILED(CoCreateInstance(kProgressDialogClass, nullptr, CLSCTX_INPROC_SERVER,
                                kProgressDialogInterface, &created)) ||
        !created)
        return false;
    shellDialog_ = static_cast<IProgressDialog*>(created);
    shellDialog_->SetTitle(Widen(title_).c_str());
    shellDialog_->SetAnimation(ThisModule(), animationId_);
    shellDialog_->SetCancelMsg(L"", nullptr);
    if (FAILED(shellDialog_->StartProgressDialog(nullptr, nullptr, PROGDLG_AUTOTIME, nullptr))) {
        shellDialog_->Release();
        shellDialog_ = nullptr;
        return false;
    }
    ShowPosition(true);
    return true;
}

bool ProgressDialog::StartOwnWindow()
{
    scale_ = ScaleFor(total_);
    started_ = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    if (started_)
        thread_ = CreateThread(nullptr, 0, WindowThread, this, 0, &threadId_);
    if (!thread_) {
        Stop();
        return false;
    }
    // A thread that ends early (no window) need not be waited for the full time.
    const HANDLE waits[] = {started_, thread_};
    if (WaitForMultipleObjects(2, waits, FALSE, kStartWait) != WAIT_OBJECT_0) {
        Stop();
        return false;
    }
    return true;
}

DWORD WINAPI ProgressDialog::WindowThread(void* param)
{
    auto* self = static_cast<ProgressDialog*>(param);
    INITCOMMONCONTROLSEX controls {sizeof controls, ICC_ANIMATE_CLASS | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    HWND dialog = CreateDialogParamA(ThisModule(), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr,
                                     DialogProc, reinterpret_cast<LPARAM>(self));
    if (!dialog)
        return 1;
    // Only now is the window on the screen.
    ReleaseSemaphore(self->started_, 1, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageA(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    DestroyWindow(dialog);
    return 0;
}

INT_PTR CALLBACK ProgressDialog::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        auto* self = reinterpret_cast<ProgressDialog*>(lParam);
        self->bar_ = GetDlgItem(dialog, IDC_PROGRESS_BAR);
        self->text_ = GetDlgItem(dialog, IDC_PROGRESS_TEXT);
        self->dialog_ = dialog;
        SetWindowTextA(dialog, self->title_.c_str());
        SendMessageA(self->bar_, PBM_SETRANGE, 0, MAKELPARAM(0, int(kBarRange)));
        SendMessageA(self->bar_, PBM_SETSTEP, 1, 0);
        SetWindowTextA(self->text_, "");
        self->OpenAnimation();
        return TRUE;
    }
    auto* self = reinterpret_cast<ProgressDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (!self)
        return FALSE;
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        // The window stays until its owner has wound the operation down and stops it.
        self->cancelled_ = true;
        return TRUE;
    }
    if (message == WM_DESTROY) {
        self->dialog_ = nullptr;
        self->bar_ = nullptr;
        self->text_ = nullptr;
    }
    return FALSE;
}

void ProgressDialog::OpenAnimation() const
{
    if (HWND dialog = dialog_.load())
        SendDlgItemMessageA(dialog, IDC_PROGRESS_ANIMATION, ACM_OPENA,
                            reinterpret_cast<WPARAM>(ThisModule()),
                            reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(animationId_)));
}

void ProgressDialog::Restart(UINT titleId, UINT animationId, uint32_t total)
{
    total_ = total;
    position_ = 0;
    const bool newAnimation = animationId != animationId_;
    bool newTitle = titleId != titleId_;
    animationId_ = animationId;
    titleId_ = titleId;
    if (newTitle) {
        if (std::optional<std::string> title = LoadStringById(titleId, ThisModule(), kTitleLength))
            title_ = *title;
        else
            newTitle = false;
    }
    if (shellDialog_) {
        ShowPosition(true);
        shellDialog_->Timer(PDTIMER_RESET, nullptr);
        if (newAnimation)
            shellDialog_->SetAnimation(ThisModule(), animationId_);
        if (newTitle)
            shellDialog_->SetTitle(Widen(title_).c_str());
        return;
    }
    scale_ = ScaleFor(total_);
    ShowPosition(true);
    if (newAnimation)
        OpenAnimation();
    if (HWND dialog = dialog_.load(); dialog && newTitle)
        SetWindowTextA(dialog, title_.c_str());
}

void ProgressDialog::Step()
{
    if (position_ < UINT32_MAX)
        ++position_;
    ShowPosition();
}

void ProgressDialog::SetPosition(uint32_t position)
{
    position_ = position;
    ShowPosition();
}

void ProgressDialog::ShowPosition(bool now)
{
    // Not GetTickCount: under Wine it may lag behind by more than the interval.
    const auto tick = std::chrono::steady_clock::now();
    if (!now && position_ < total_ && tick - positionShownAt_ < kPositionInterval)
        return;
    positionShownAt_ = tick;
    const uint32_t shown = std::min(position_, total_);
    if (shellDialog_) {
        // The shell's time estimate divides by the total: an empty progress is 0 of 1.
        shellDialog_->SetProgress(shown, std::max<uint32_t>(total_, 1));
        return;
    }
    if (HWND bar = bar_.load())
        SendMessageA(bar, PBM_SETPOS, WPARAM(std::min(double(shown) * scale_, kBarRange)), 0);
}

void ProgressDialog::SetText(std::string_view text)
{
    const std::string line(text);
    if (shellDialog_) {
        shellDialog_->SetLine(2, Widen(line).c_str(), TRUE, nullptr);
        return;
    }
    HWND dialog = dialog_.load();
    if (!dialog)
        return;
    if (setPath_) {
        setPath_(dialog, IDC_PROGRESS_TEXT, line.c_str());
        return;
    }
    SetDlgItemTextA(dialog, IDC_PROGRESS_TEXT, line.c_str());
    SendDlgItemMessageA(dialog, IDC_PROGRESS_TEXT, EM_SETSEL, 0,
                        line.empty() ? 0 : LPARAM(line.size() - 1));
}

bool ProgressDialog::IsCancelled() const
{
    if (shellDialog_)
        return shellDialog_->HasUserCancelled() != FALSE;
    return cancelled_;
}

bool ProgressDialog::IsRunning() const
{
    DWORD code = 0;
    return thread_ && GetExitCodeThread(thread_, &code) && code == STILL_ACTIVE;
}

void ProgressDialog::Stop()
{
    if (shellDialog_) {
        cancelled_ = shellDialog_->HasUserCancelled() != FALSE;
        shellDialog_->StopProgressDialog();
        shellDialog_->Release();
        shellDialog_ = nullptr;
    }
    if (thread_) {
        // The thread may not have its message queue yet: post until it has one or has ended.
        while (!PostThreadMessageA(threadId_, WM_QUIT, 0, 0) &&
               WaitForSingleObject(thread_, 10) == WAIT_TIMEOUT) {
        }
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
        threadId_ = 0;
    }
    if (started_) {
        CloseHandle(started_);
        started_ = nullptr;
    }
    dialog_ = nullptr;
    bar_ = nullptr;
    text_ = nullptr;
}

}  // namespace dm
