#include "pages/format_dialog.h"

#include "core/messages.h"
#include "core/module.h"
#include "core/size_text.h"
#include "pages/context_help.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"
#include "shell/folder_cache.h"
#include "shell/item_id.h"
#include "transfer/operation_worker.h"

#include <commctrl.h>

#include <optional>

namespace dm {

namespace {

constexpr size_t kVolumeNameMax = 30;
constexpr uint32_t kNoMedium = 0xFFFFFFFF;

enum class Pending { None, Start, Cancel };

struct FormatRequest {
    RemoteItem device;
    bool fileSystemChoice = false;  // the server lets the PC pick the file system
    bool internationalBeforeCache = false;
    Pending pending = Pending::None;
    bool formatting = false;
};

// Everything the user can change; Cancel stays enabled throughout.
constexpr int kOptionControls[] = {IDC_FORMAT_NEW_NAME, IDC_FORMAT_FFS, IDC_FORMAT_INTERNATIONAL,
                                   IDC_FORMAT_DIR_CACHE, IDC_FORMAT_QUICK, IDC_FORMAT_BOOTABLE,
                                   IDC_FORMAT_START};

bool IsFileSystemControl(int id)
{
    return id == IDC_FORMAT_FFS || id == IDC_FORMAT_INTERNATIONAL || id == IDC_FORMAT_DIR_CACHE ||
           id == IDC_FORMAT_BOOTABLE;
}

bool Checked(HWND dialog, int id)
{
    return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void EnableOptions(HWND dialog, const FormatRequest& request, bool enable)
{
    for (int id : kOptionControls) {
        bool on = enable;
        // Without the server's consent only the old file system and a quick format remain.
        if (IsFileSystemControl(id) && !request.fileSystemChoice)
            on = false;
        if (id == IDC_FORMAT_INTERNATIONAL && Checked(dialog, IDC_FORMAT_DIR_CACHE))
            on = false;
        EnableWindow(GetDlgItem(dialog, id), on);
    }
}

void CoupleDirectoryCache(HWND dialog, FormatRequest& request)
{
    HWND international = GetDlgItem(dialog, IDC_FORMAT_INTERNATIONAL);
    if (Checked(dialog, IDC_FORMAT_DIR_CACHE)) {
        request.internationalBeforeCache = Checked(dialog, IDC_FORMAT_INTERNATIONAL);
        CheckDlgButton(dialog, IDC_FORMAT_INTERNATIONAL, BST_CHECKED);
        EnableWindow(international, FALSE);
    } else {
        CheckDlgButton(dialog, IDC_FORMAT_INTERNATIONAL,
                       request.internationalBeforeCache ? BST_CHECKED : BST_UNCHECKED);
        EnableWindow(international, request.fileSystemChoice);
    }
}

void InitDialog(HWND dialog, FormatRequest& request)
{
    const std::string& name = request.device.name;
    const size_t colon = name.find(':');
    const std::string device = name.substr(0, colon);
    const std::string volume = colon == std::string::npos ? std::string() : name.substr(colon + 1);

    if (const std::optional<std::string> title =
            FormatStringById(IDS_FORMAT_TITLE, ThisModule(), {device}))
        SetWindowTextA(dialog, title->c_str());
    SetDlgItemTextA(dialog, IDC_FORMAT_DEVICE, device.c_str());
    if (request.device.usedSpace != kNoMedium) {
        SetDlgItemTextA(dialog, IDC_FORMAT_VOLUME, volume.c_str());
        SetDlgItemTextA(dialog, IDC_FORMAT_CAPACITY,
                        SizeText(request.device.size, true, 0).c_str());
    }
    SendDlgItemMessageA(dialog, IDC_FORMAT_NEW_NAME, EM_LIMITTEXT, kVolumeNameMax, 0);
    SetDlgItemTextA(dialog, IDC_FORMAT_NEW_NAME, "Empty");
    EnableOptions(dialog, request, true);
}

// The loop acts on a pending command after the message that set it; one sent from another
// thread arrives inside GetMessage, so a posted message makes the loop look.
void SetPending(HWND dialog, FormatRequest& request, Pending pending)
{
    request.pending = pending;
    PostMessageA(dialog, WM_NULL, 0, 0);
}

// "What's This?" texts of the controls.
constexpr HelpMapEntry kHelp[] = {
    {IDC_FORMAT_NEW_NAME, IDS_WHATSTHIS_VOLUME_NAME}, {IDC_FORMAT_FFS, IDS_WHATSTHIS_FFS},
    {IDC_FORMAT_INTERNATIONAL, IDS_WHATSTHIS_INTL_MODE}, {IDC_FORMAT_DIR_CACHE, IDS_WHATSTHIS_DIR_CACHE},
    {IDC_FORMAT_BOOTABLE, IDS_WHATSTHIS_BOOTABLE},   {IDC_FORMAT_QUICK, IDS_WHATSTHIS_QUICK_FORMAT},
};

INT_PTR CALLBACK FormatDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* request = reinterpret_cast<FormatRequest*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (HandleContextHelp(dialog, message, wParam, lParam, kHelp))
        return TRUE;
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        InitDialog(dialog, *reinterpret_cast<FormatRequest*>(lParam));
        return TRUE;
    case WM_COMMAND:
        if (!request)
            return FALSE;
        switch (LOWORD(wParam)) {
        case IDC_FORMAT_DIR_CACHE:
            if (HIWORD(wParam) == BN_CLICKED)
                CoupleDirectoryCache(dialog, *request);
            return TRUE;
        case IDC_FORMAT_START:
            if (!request->formatting)
                SetPending(dialog, *request, Pending::Start);
            return TRUE;
        case IDCANCEL: SetPending(dialog, *request, Pending::Cancel); return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        if (request)
            SetPending(dialog, *request, Pending::Cancel);
        return TRUE;
    }
    return FALSE;
}

// Lets a worker that is still running end, answering what it sends meanwhile (its progress
// bar and questions belong to this thread's dialog).
void FinishWorker(FormatWorker& worker)
{
    worker.RequestStop();
    while (worker.Running()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(int(message.wParam));
                break;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    worker.Wait();
}

}  // namespace

uint32_t DosTypeFor(bool fastFileSystem, bool international, bool directoryCache)
{
    uint32_t variant = 0;
    if (directoryCache)
        variant = 4;
    else if (international)
        variant = 2;
    return 0x444F5300u | variant | (fastFileSystem ? 1u : 0u);
}

FormatChoice ReadFormatChoice(HWND dialog)
{
    FormatChoice choice;
    choice.dosType = DosTypeFor(Checked(dialog, IDC_FORMAT_FFS),
                                Checked(dialog, IDC_FORMAT_INTERNATIONAL),
                                Checked(dialog, IDC_FORMAT_DIR_CACHE));
    choice.quick = Checked(dialog, IDC_FORMAT_QUICK);
    choice.bootable = Checked(dialog, IDC_FORMAT_BOOTABLE);
    char name[kVolumeNameMax + 1] = {};
    GetDlgItemTextA(dialog, IDC_FORMAT_NEW_NAME, name, int(sizeof name));
    choice.volumeName = name;
    return choice;
}

HRESULT ShowFormatDialog(const ITEMIDLIST* device, HWND owner)
{
    const ItemIdView view(device);
    const std::optional<RemoteItem> item = view.ToRemoteItem();
    if (!item || (item->kind != ItemKind::Volume && item->kind != ItemKind::Floppy))
        return E_INVALIDARG;

    FormatRequest request;
    request.device = *item;
    request.fileSystemChoice = (view.Protection() & item_id::kFileSystemChoice) != 0;
    HWND dialog = CreateDialogParamA(ThisModule(), MAKEINTRESOURCEA(IDD_FORMAT), owner,
                                     &FormatDialogProc, reinterpret_cast<LPARAM>(&request));
    if (!dialog)
        return HRESULT_FROM_WIN32(GetLastError());

    FormatWorker worker;
    HRESULT result = kCancelled;
    bool quit = false;
    MSG message;
    while (!quit) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got <= 0) {
            // The thread is ending: let it end once the format is settled.
            if (got == 0)
                PostQuitMessage(int(message.wParam));
            break;
        }
        if (!message.hwnd && message.message == kMsgFormatDone && request.formatting) {
            worker.Wait();
            request.formatting = false;
            request.pending = Pending::None;
            if (SUCCEEDED(HRESULT(message.lParam))) {
                result = S_OK;
                break;
            }
            // Failed or stopped: the dialog is the user's again, for another try.
            SendDlgItemMessageA(dialog, IDC_FORMAT_PROGRESS, PBM_SETPOS, 0, 0);
            EnableOptions(dialog, request, true);
            continue;
        }
        if (!IsDialogMessageA(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }

        const Pending pending = request.pending;
        request.pending = Pending::None;
        if (pending == Pending::Cancel) {
            if (!request.formatting)
                break;
            worker.RequestStop();
        } else if (pending == Pending::Start && !request.formatting) {
            const FormatChoice choice = ReadFormatChoice(dialog);
            FormatJob job;
            job.device = request.device;
            job.volumeName = choice.volumeName;
            job.dosType = choice.dosType;
            job.quick = choice.quick;
            job.bootable = choice.bootable;
            job.owner = dialog;
            job.progressBar = GetDlgItem(dialog, IDC_FORMAT_PROGRESS);
            job.dialogThread = GetCurrentThreadId();
            EnableOptions(dialog, request, false);
            if (!worker.Start(std::move(job))) {
                result = HRESULT_FROM_WIN32(GetLastError());
                quit = true;
            } else {
                request.formatting = true;
            }
        }
    }

    if (request.formatting)
        FinishWorker(worker);
    DestroyWindow(dialog);
    // The disk was touched even by a stopped format: the root shows its drives' new state.
    if (worker.Formatted())
        ReReadByPath("", false);
    return result;
}

}  // namespace dm
