#include "ui/link_label.h"

#include "core/messages.h"

#include <richedit.h>
#include <shellapi.h>

namespace dm {

namespace {

constexpr char kRichEdit20Class[] = "RichEdit20A";

}  // namespace

LinkLabel::LinkLabel()
    : richEdit10_(LoadLibraryA("RICHED32")), richEdit20_(LoadLibraryA("RICHED20"))
{
}

LinkLabel::~LinkLabel()
{
    if (ownsWindow_ && richText_ && IsWindow(richText_))
        DestroyWindow(richText_);
    if (richEdit20_)
        FreeLibrary(richEdit20_);
    if (richEdit10_)
        FreeLibrary(richEdit10_);
}

HRESULT LinkLabel::SetText(HWND dialog, int controlId, UINT textId, HINSTANCE module)
{
    const std::optional<std::string> text = LoadStringById(textId, module);
    if (!text)
        return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
    return SetText(dialog, controlId, *text);
}

HRESULT LinkLabel::SetLink(HWND dialog, int controlId, const std::string& text,
                           const std::string& target)
{
    return SetText(dialog, controlId, SingleLinkMarkup(text, target));
}

HRESULT LinkLabel::SetText(HWND dialog, int controlId, const std::string& text)
{
    parsed_ = {};
    hot_ = -1;
    dialog_ = dialog;
    HWND control = GetDlgItem(dialog, controlId);
    if (!control)
        return E_INVALIDARG;
    char className[32] = {};
    GetClassNameA(control, className, sizeof className);
    if (HasRichText20() && lstrcmpiA(className, kRichEdit20Class) != 0) {
        RECT rect;
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        HWND rich = CreateWindowExA(WS_EX_TRANSPARENT, kRichEdit20Class, "",
                                    WS_CHILD | WS_VISIBLE | ES_READONLY | ES_MULTILINE,
                                    rect.left, rect.top, rect.right - rect.left,
                                    rect.bottom - rect.top, dialog, nullptr,
                                    GetModuleHandleA(nullptr), nullptr);
        if (!rich)
            return HRESULT_FROM_WIN32(GetLastError());
        ShowWindow(control, SW_HIDE);
        SetWindowLongPtrA(control, GWLP_ID, 0);
        SetWindowLongPtrA(rich, GWLP_ID, controlId);
        SendMessageA(rich, WM_SETFONT, SendMessageA(dialog, WM_GETFONT, 0, 0), FALSE);
        SetWindowPos(rich, control, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        richText_ = rich;
        ownsWindow_ = true;
    } else if (!(ownsWindow_ && control == richText_)) {
        richText_ = control;
        ownsWindow_ = false;
        SendMessageA(control, EM_SETBKGNDCOLOR, 0, GetSysColor(COLOR_3DFACE));
    }
    SendMessageA(richText_, EM_SETEVENTMASK, 0, ENM_MOUSEEVENTS);

    hand_ = LoadCursorA(nullptr, IDC_HAND);
    if (!hand_)
        hand_ = LoadCursorA(nullptr, IDC_ARROW);
    HBRUSH hotLight = GetSysColorBrush(COLOR_HOTLIGHT);
    linkColour_ = hotLight ? GetSysColor(COLOR_HOTLIGHT) : RGB(0, 0, 255);

    // Some rich-text versions count CR LF as one character; positions must match theirs.
    SetWindowTextA(richText_, "\r\n.");
    FINDTEXTA find = {};
    find.chrg.cpMin = 0;
    find.chrg.cpMax = -1;
    find.lpstrText = const_cast<char*>(".");
    const LRESULT dot = SendMessageA(richText_, EM_FINDTEXT, FR_DOWN, reinterpret_cast<LPARAM>(&find));
    parsed_ = ParseLinkMarkup(text, dot == 1);

    SetWindowTextA(richText_, parsed_.display.c_str());
    if (ownsWindow_) {
        CHARFORMATA plain = {};
        plain.cbSize = sizeof plain;
        plain.dwMask = CFM_COLOR | CFM_UNDERLINE;
        plain.crTextColor = GetSysColor(COLOR_WINDOWTEXT);
        SendMessageA(richText_, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&plain));
    }
    for (size_t i = 0; i < parsed_.links.size(); ++i)
        PaintLink(int(i), false);
    return S_OK;
}

void LinkLabel::PaintLink(int index, bool hot)
{
    if (index < 0 || size_t(index) >= parsed_.links.size() || !richText_)
        return;
    const MarkupLink& link = parsed_.links[size_t(index)];
    CHARRANGE saved = {};
    SendMessageA(richText_, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&saved));
    SendMessageA(richText_, EM_HIDESELECTION, TRUE, 0);
    CHARRANGE range = {LONG(link.first), LONG(link.last + 1)};
    SendMessageA(richText_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    CHARFORMATA format = {};
    format.cbSize = sizeof format;
    format.dwMask = CFM_COLOR | CFM_UNDERLINE;
    format.dwEffects = hot ? CFE_UNDERLINE : 0;
    format.crTextColor = linkColour_;
    SendMessageA(richText_, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    SendMessageA(richText_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&saved));
    SendMessageA(richText_, EM_HIDESELECTION, FALSE, 0);
    if (ownsWindow_ && dialog_) {
        RECT rect;
        GetWindowRect(richText_, &rect);
        MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&rect), 2);
        InvalidateRect(dialog_, &rect, TRUE);
    }
}

bool LinkLabel::TrackMouse()
{
    if (!richText_)
        return false;
    int hot = -1;
    POINT at;
    GetCursorPos(&at);
    ScreenToClient(richText_, &at);
    RECT client;
    GetClientRect(richText_, &client);
    if (PtInRect(&client, at)) {
        POINTL where = {at.x, at.y};
        const LRESULT position =
            SendMessageA(richText_, EM_CHARFROMPOS, 0, reinterpret_cast<LPARAM>(&where));
        for (size_t i = 0; i < parsed_.links.size(); ++i) {
            if (position >= LRESULT(parsed_.links[i].first) &&
                position <= LRESULT(parsed_.links[i].last))
                hot = int(i);
        }
    }
    if (hot != hot_) {
        PaintLink(hot_, false);
        hot_ = hot;
        PaintLink(hot_, true);
    }
    if (hot >= 0 && hand_)
        SetCursor(hand_);
    return hot >= 0;
}

bool LinkLabel::OpenHotLink()
{
    if (hot_ < 0 || size_t(hot_) >= parsed_.links.size())
        return false;
    const std::string& target = parsed_.links[size_t(hot_)].target;
    if (target.empty())
        return false;
    if (open_)
        return open_(target, openContext_);
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.hwnd = dialog_;
    info.lpVerb = "open";
    info.lpFile = target.c_str();
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExA(&info) != FALSE;
}

}  // namespace dm
