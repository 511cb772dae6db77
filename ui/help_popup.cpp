#include "ui/help_popup.h"

#include "core/messages.h"

#include <algorithm>
#include <vector>

namespace dm {

namespace {

constexpr char kClassName[] = "QuenzorTooltipWindowClass";
constexpr UINT_PTR kHideTimer = 1;
// The balloon's rounded corners and the tail below them.
constexpr int kBalloonRadius = 16;
constexpr int kBalloonTail = 16;
constexpr int kBalloonExtraHeight = 18;

struct Popup {
    HWND window = nullptr;
    HelpPopupRequest request;
    HFONT font = nullptr;
    std::vector<std::wstring> lines;
    int lineHeight = 0;
    int width = 0;
    int height = 0;
    int tail = 0;  // balloon: where the tip of the tail is, from the left edge
    WPARAM keyDown = 0;
    UINT buttonsDown = 0;
};

// A window belongs to the thread that made it, so each thread has its own popup.
thread_local Popup popup;

std::wstring Widen(const std::string& text)
{
    if (text.empty())
        return L" ";
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(std::max(length, 0)), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), length);
    return wide;
}

HFONT MakeFont(uint32_t selector)
{
    if (selector != 1) {
        NONCLIENTMETRICSA metrics = {};
        metrics.cbSize = sizeof metrics;
        if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
            return CreateFontIndirectA(&metrics.lfStatusFont);
    }
    LOGFONTA gui = {};
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof gui, &gui);
    return CreateFontIndirectA(&gui);
}

int TextWidth(HDC dc, const std::wstring& text)
{
    SIZE size = {};
    GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &size);
    return size.cx;
}

// Greedy word wrap; a break's blank or line feed ends the line.
bool Layout(Popup& p, const std::wstring& source)
{
    std::wstring text;
    for (size_t i = 0; i < source.size(); ++i) {
        if (source[i] == L'\r' && i + 1 < source.size() && source[i + 1] == L'\n')
            continue;
        text.push_back(source[i]);
    }
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc)
        return false;
    HGDIOBJ old = SelectObject(dc, p.font);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    p.lineHeight = metrics.tmHeight;
    const int wrap = p.request.wrapWidth >= 0
                         ? p.request.wrapWidth
                         : -p.request.wrapWidth - 2 * int(p.request.sideMargin);
    p.lines.clear();
    int widest = 0;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t lineEnd = std::min(text.find(L'\n', start), text.size());
        std::wstring line;
        size_t at = start;
        while (at < lineEnd) {
            size_t wordEnd = text.find(L' ', at);
            if (wordEnd == std::wstring::npos || wordEnd > lineEnd)
                wordEnd = lineEnd;
            const std::wstring word = text.substr(at, wordEnd - at);
            const std::wstring candidate = line.empty() ? word : line + L" " + word;
            if (!line.empty() && TextWidth(dc, candidate) > wrap) {
                widest = std::max(widest, TextWidth(dc, line));
                p.lines.push_back(line);
                line = word;
            } else {
                line = candidate;
            }
            at = wordEnd + 1;
        }
        widest = std::max(widest, TextWidth(dc, line));
        p.lines.push_back(line);
        if (lineEnd >= text.size())
            break;
        start = lineEnd + 1;
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    if (p.lines.empty() || p.lineHeight <= 0)
        return false;
    const int count = int(p.lines.size());
    p.width = p.request.wrapWidth < 0 ? -p.request.wrapWidth
                                      : widest + 2 * int(p.request.sideMargin);
    p.height = (count - 1) * int(p.request.lineGap) + count * p.lineHeight +
               2 * int(p.request.topMargin) + int(p.request.extraTop) +
               int(p.request.extraBottom);
    if (p.request.behaviour & HelpPopupRequest::Balloon) {
        p.height += kBalloonExtraHeight;
        if (p.request.position & HelpPopupRequest::CentreX)
            p.tail = p.width / 2;
        else if (p.request.position & HelpPopupRequest::RightX)
            p.tail = p.width - 17;
        else
            p.tail = 26;
    }
    return true;
}

// A rounded box with a tail down from its lower edge; null when not a balloon.
HRGN BalloonRegion(const Popup& p)
{
    if (!(p.request.behaviour & HelpPopupRequest::Balloon))
        return nullptr;
    const int h = p.height, t = p.tail;
    HRGN shape = CreateRoundRectRgn(0, 0, p.width - 1, h - kBalloonTail, kBalloonRadius,
                                    kBalloonRadius);
    const POINT corners[] = {{t, h - 17}, {t - 10, h - 17}, {t, h - 1}};
    HRGN tail = CreatePolygonRgn(corners, 3, WINDING);
    if (shape && tail)
        CombineRgn(shape, shape, tail, RGN_OR);
    if (tail)
        DeleteObject(tail);
    return shape;
}

uint32_t Place(Popup& p)
{
    const HelpPopupRequest& r = p.request;
    POINT at = {r.x, r.y};
    if ((r.position & HelpPopupRequest::OwnerClient) && r.owner)
        ClientToScreen(r.owner, &at);
    int left = at.x;
    if ((r.behaviour & HelpPopupRequest::Balloon) && (r.position & HelpPopupRequest::TailAtX))
        left -= p.tail;
    else if (r.position & HelpPopupRequest::CentreX)
        left -= p.width / 2;
    else if (r.position & HelpPopupRequest::RightX)
        left -= p.width;
    int top = at.y;
    if (r.position & HelpPopupRequest::CentreY)
        top -= p.height / 2;
    else if (r.position & HelpPopupRequest::BottomY)
        top -= p.height;

    uint32_t result = kPopupPlaced | kPopupFitsX | kPopupFitsY;
    RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (HMONITOR monitor = MonitorFromPoint(at, MONITOR_DEFAULTTONEAREST)) {
        MONITORINFO info = {};
        info.cbSize = sizeof info;
        if (GetMonitorInfoA(monitor, &info))
            screen = info.rcWork;
    }
    auto keepInside = [](int& start, int size, LONG low, LONG high) {
        const int before = start;
        start = std::max(int(low), std::min(start, int(high) - size));
        return start == before;
    };
    if ((r.position & HelpPopupRequest::KeepInsideX) &&
        !keepInside(left, p.width, screen.left, screen.right))
        result &= ~uint32_t(kPopupFitsX);
    if ((r.position & HelpPopupRequest::KeepInsideY) &&
        !keepInside(top, p.height, screen.top, screen.bottom))
        result &= ~uint32_t(kPopupFitsY);
    if (r.position & HelpPopupRequest::ComputeOnly)
        return result;
    if (!SetWindowPos(p.window, HWND_TOPMOST, left, top, p.width, p.height,
                      SWP_NOACTIVATE))
        return 0;
    ShowWindow(p.window, (r.behaviour & HelpPopupRequest::ShowActivated) ? SW_SHOW
                                                                          : SW_SHOWNOACTIVATE);
    return result;
}

void Paint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    const HelpPopupRequest& r = popup.request;
    RECT client;
    GetClientRect(window, &client);
    int background = r.background;
    if (background < 0)
        background = GetSysColor(COLOR_WINDOW) == RGB(255, 255, 255) ? COLOR_INFOBK : COLOR_WINDOW;
    FillRect(dc, &client, GetSysColorBrush(background));
    const HBRUSH outer = HBRUSH(GetStockObject(r.outerFrame));
    const HBRUSH inner = HBRUSH(GetStockObject(r.innerFrame));
    HRGN outline = CreateRectRgn(0, 0, 0, 0);
    if (outline && GetWindowRgn(window, outline) != ERROR) {
        // The inner frame is the outer two pixels of the shape, then its outermost pixel is
        // painted over with the outer frame.
        if (r.innerFrame != NULL_BRUSH)
            FrameRgn(dc, outline, inner, 2, 2);
        FrameRgn(dc, outline, outer, 1, 1);
    } else {
        FrameRect(dc, &client, outer);
        if (r.innerFrame != NULL_BRUSH) {
            RECT within = client;
            InflateRect(&within, -1, -1);
            FrameRect(dc, &within, inner);
        }
    }
    if (outline)
        DeleteObject(outline);
    HGDIOBJ old = SelectObject(dc, popup.font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(r.textColour));
    int y = int(r.topMargin + r.extraTop);
    for (const std::wstring& line : popup.lines) {
        TextOutW(dc, int(r.sideMargin), y, line.c_str(), int(line.size()));
        y += popup.lineHeight + int(r.lineGap);
    }
    SelectObject(dc, old);
    EndPaint(window, &paint);
}

UINT ButtonOf(UINT message)
{
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
        return MK_LBUTTON;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
        return MK_RBUTTON;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
        return MK_MBUTTON;
    default:
        return 0;
    }
}

void ForwardMouse(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    POINT at = {short(LOWORD(lParam)), short(HIWORD(lParam))};
    ClientToScreen(window, &at);
    HWND target = popup.request.owner ? popup.request.owner : WindowFromPoint(at);
    if (!target || target == window)
        return;
    ScreenToClient(target, &at);
    PostMessageA(target, message, wParam, MAKELPARAM(at.x, at.y));
}

LRESULT CALLBACK PopupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const uint32_t behaviour = popup.request.behaviour;
    switch (message) {
    case WM_PAINT:
        Paint(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        popup.keyDown = wParam;
        return 0;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        if ((behaviour & HelpPopupRequest::HideOnKeyRelease) && popup.keyDown == wParam)
            HideHelpPopup();
        return 0;
    case WM_TIMER:
        if (wParam == kHideTimer)
            HideHelpPopup();
        return 0;
    case WM_KILLFOCUS:
        if (behaviour & HelpPopupRequest::HideOnClick)
            HideHelpPopup();
        return 0;
    case WM_DESTROY:
        if (popup.window == window)
            popup.window = nullptr;
        return 0;
    default:
        break;
    }
    if (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) {
        if (behaviour & HelpPopupRequest::ForwardMouse)
            ForwardMouse(window, message, wParam, lParam);
        if (const UINT button = ButtonOf(message)) {
            const bool press = message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN ||
                               message == WM_MBUTTONDOWN;
            if (press) {
                popup.buttonsDown |= button;
            } else if ((popup.buttonsDown & button) &&
                       (behaviour & HelpPopupRequest::HideOnClick)) {
                // Only a release whose press happened here is a click on the popup.
                HideHelpPopup();
            }
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterPopupClass(HINSTANCE module)
{
    WNDCLASSA existing;
    if (GetClassInfoA(module, kClassName, &existing))
        return true;
    WNDCLASSA windowClass = {};
    windowClass.style = CS_SAVEBITS | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = PopupWindowProc;
    windowClass.cbWndExtra = sizeof(LONG_PTR);
    windowClass.hInstance = module;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    return RegisterClassA(&windowClass) != 0;
}

}  // namespace

uint32_t ShowHelpPopup(const HelpPopupRequest& request)
{
    if (popup.window && popup.request.owner != request.owner)
        HideHelpPopup();
    if (popup.font)
        DeleteObject(popup.font);
    popup.font = MakeFont(request.fontSelector);
    const HINSTANCE module = request.module ? request.module : GetModuleHandleA(nullptr);
    if (!popup.font || !RegisterPopupClass(module)) {
        HideHelpPopup();
        return 0;
    }
    const bool reused = popup.window != nullptr;
    if (!popup.window) {
        popup.window = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kClassName, "", WS_POPUP,
                                       0, 0, 1, 1, request.owner, nullptr, module, nullptr);
        if (!popup.window) {
            HideHelpPopup();
            return 0;
        }
    }
    popup.request = request;
    popup.keyDown = 0;
    popup.buttonsDown = 0;
    const std::wstring text = Widen(request.text);
    // The text is also the window's name, for screen readers and tests.
    SetWindowTextW(popup.window, text.c_str());
    if (!Layout(popup, text)) {
        HideHelpPopup();
        return 0;
    }
    // The window owns the region it is given.
    if (HRGN shape = BalloonRegion(popup); shape || reused)
        SetWindowRgn(popup.window, shape, reused);
    const uint32_t result = Place(popup);
    if (!(result & kPopupPlaced)) {
        HideHelpPopup();
        return 0;
    }
    if (!(request.position & HelpPopupRequest::ComputeOnly)) {
        if (reused)
            InvalidateRect(popup.window, nullptr, FALSE);
        if (request.autoHideMs)
            SetTimer(popup.window, kHideTimer, request.autoHideMs, nullptr);
    }
    return result;
}

void HideHelpPopup()
{
    if (popup.window) {
        KillTimer(popup.window, kHideTimer);
        HWND window = popup.window;
        popup.window = nullptr;
        DestroyWindow(window);
    }
    popup.lines.clear();
    if (popup.font) {
        DeleteObject(popup.font);
        popup.font = nullptr;
    }
}

bool ShowControlHelp(HWND dialog, int controlId, UINT helpId, HINSTANCE module)
{
    const std::optional<std::string> text = LoadStringById(helpId, module, 4000);
    HWND control = GetDlgItem(dialog, controlId);
    if (!text || !control)
        return false;
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    HelpPopupRequest request;
    request.module = module;
    request.owner = dialog;
    request.text = *text;
    request.x = rect.left;
    request.y = rect.top + 10;
    request.position = HelpPopupRequest::CentreX | HelpPopupRequest::OwnerClient |
                       HelpPopupRequest::KeepInsideX | HelpPopupRequest::KeepInsideY |
                       HelpPopupRequest::ComputeOnly;
    const uint32_t computed = ShowHelpPopup(request);
    if (!computed)
        return false;
    if (!(computed & kPopupFitsY)) {
        // No room below: above the control instead.
        request.y = rect.top - 1;
        request.position |= HelpPopupRequest::BottomY;
    }
    request.position &= ~uint32_t(HelpPopupRequest::ComputeOnly);
    return (ShowHelpPopup(request) & kPopupPlaced) != 0;
}

HWND HelpPopupWindow()
{
    return popup.window && IsWindowVisible(popup.window) ? popup.window : nullptr;
}

}  // namespace dm
