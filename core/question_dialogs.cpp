#include "core/question_dialogs.h"

#include "core/messages.h"
#include "core/module.h"
#include "resources/resource_ids.h"

namespace dm {

namespace {

struct YesNoRequest {
    const std::string* caption;
    const std::string* message;
    UINT iconId;
    int answer;
};

void ShowModuleIcon(HWND dialog, int control, UINT iconId)
{
    HICON icon = LoadIconA(ThisModule(), MAKEINTRESOURCEA(iconId));
    if (icon)
        SendDlgItemMessageA(dialog, control, STM_SETICON, WPARAM(icon), 0);
}

INT_PTR CALLBACK YesNoProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        auto* request = reinterpret_cast<YesNoRequest*>(lParam);
        SetWindowTextA(dialog, request->caption->c_str());
        SetDlgItemTextA(dialog, IDC_YES_NO_MESSAGE, request->message->c_str());
        ShowModuleIcon(dialog, IDC_YES_NO_ICON, request->iconId);
        return TRUE;
    }
    if (message == WM_COMMAND) {
        auto* request = reinterpret_cast<YesNoRequest*>(GetWindowLongPtrA(dialog, DWLP_USER));
        switch (LOWORD(wParam)) {
        case IDC_YES_NO_YES:
            request->answer = IDYES;
            EndDialog(dialog, IDYES);
            return TRUE;
        case IDC_YES_NO_NO:
        case IDCANCEL:  // Escape
            request->answer = IDNO;
            EndDialog(dialog, IDNO);
            return TRUE;
        }
    }
    return FALSE;
}

void MoveControlTo(HWND dialog, int control, int placeOf)
{
    RECT place;
    GetWindowRect(GetDlgItem(dialog, placeOf), &place);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
    SetWindowPos(GetDlgItem(dialog, control), nullptr, place.left, place.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK ConfirmProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        auto* request = reinterpret_cast<ConfirmRequest*>(lParam);
        SetWindowTextA(dialog,
                       LoadStringById(request->captionId, ThisModule(), 500).value_or("").c_str());
        SetDlgItemTextA(dialog, IDC_CONFIRM_MESSAGE,
                        LoadStringById(request->messageId, ThisModule()).value_or("").c_str());
        ShowModuleIcon(dialog, IDC_CONFIRM_ICON, request->iconId);
        SetDlgItemTextA(dialog, IDC_CONFIRM_NAME, request->nameText.c_str());
        SendDlgItemMessageA(dialog, IDC_CONFIRM_NAME, EM_SETSEL, 0, -1);
        if (request->singleItem) {
            MoveControlTo(dialog, IDC_CONFIRM_YES, IDC_CONFIRM_NO);
            MoveControlTo(dialog, IDC_CONFIRM_NO, IDC_CONFIRM_CANCEL);
            ShowWindow(GetDlgItem(dialog, IDC_CONFIRM_YES_TO_ALL), SW_HIDE);
            ShowWindow(GetDlgItem(dialog, IDC_CONFIRM_CANCEL), SW_HIDE);
        }
        return TRUE;
    }
    if (message == WM_COMMAND) {
        auto* request = reinterpret_cast<ConfirmRequest*>(GetWindowLongPtrA(dialog, DWLP_USER));
        OverwriteAnswer answer;
        switch (LOWORD(wParam)) {
        case IDC_CONFIRM_YES: answer = OverwriteAnswer::Yes; break;
        case IDC_CONFIRM_YES_TO_ALL: answer = OverwriteAnswer::YesToAll; break;
        case IDC_CONFIRM_NO: answer = OverwriteAnswer::No; break;
        case IDC_CONFIRM_CANCEL:
        case IDCANCEL: answer = OverwriteAnswer::Cancel; break;
        default: return FALSE;
        }
        request->answer = answer;
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int YesNoDialog(const std::string& caption, const std::string& message, UINT iconId, HWND owner)
{
    YesNoRequest request {&caption, &message, iconId, IDNO};
    DialogBoxParamA(ThisModule(), MAKEINTRESOURCEA(IDD_YES_NO), owner, YesNoProc,
                    reinterpret_cast<LPARAM>(&request));
    return request.answer;
}

OverwriteAnswer ConfirmDialog(ConfirmRequest& request, HWND owner)
{
    request.answer = OverwriteAnswer::Cancel;
    DialogBoxParamA(ThisModule(), MAKEINTRESOURCEA(IDD_CONFIRM_OVERWRITE), owner, ConfirmProc,
                    reinterpret_cast<LPARAM>(&request));
    return request.answer;
}

}  // namespace dm
