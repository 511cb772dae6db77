// The view as the browser sees it: its creation and lifetime, the IShellView methods, its
// activation, the updates other threads post, and the window holding the list.
#include "view/amiga_view.h"

#include "core/module.h"
#include "resources/resource_ids.h"
#include "shell/folder_cache.h"
#include "view/view_columns.h"

#include <shlwapi.h>

namespace dm {

namespace {

bool CommonControlsAtLeast6()
{
    HMODULE module = GetModuleHandleA("comctl32.dll");
    const auto getVersion = module ? reinterpret_cast<DLLGETVERSIONPROC>(reinterpret_cast<void*>(
                                         GetProcAddress(module, "DllGetVersion")))
                                   : nullptr;
    DLLVERSIONINFO info = {};
    info.cbSize = sizeof info;
    return getVersion && SUCCEEDED(getVersion(&info)) && info.dwMajorVersion >= 6;
}

}  // namespace

HRESULT AmigaView::Create(AmigaFolder& folder, HWND, REFIID riid, void** out)
{
    *out = nullptr;
    return QueryNewObject<AmigaView, IShellView>(new (std::nothrow) AmigaView(folder), riid, out);
}

AmigaView::AmigaView(AmigaFolder& folder) : folder_(folder)
{
    folder_.AddRef();
    folder_.AttachView(this);
    rootView_ = folder_.Path().empty();
    oleResult_ = OleInitialize(nullptr);
    scrollInset_ = int(GetProfileIntA("windows", "DragScrollInset", 11));
    scrollDelay_ = DWORD(GetProfileIntA("windows", "DragScrollDelay", 50));
    scrollInterval_ = DWORD(GetProfileIntA("windows", "DragScrollInterval", 50));
    accelerators_ = LoadAcceleratorsA(ThisModule(), MAKEINTRESOURCEA(IDR_VIEW_ACCELERATORS));
    commonControls6_ = CommonControlsAtLeast6();
    if (!commonControls6_) {
        // Mapped so that the arrows take the system's 3D colours.
        arrowUp_ = static_cast<HBITMAP>(LoadImageA(ThisModule(), MAKEINTRESOURCEA(IDB_SORT_UP),
                                                   IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
        arrowDown_ = static_cast<HBITMAP>(LoadImageA(ThisModule(), MAKEINTRESOURCEA(IDB_SORT_DOWN),
                                                     IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
    }
}

AmigaView::~AmigaView()
{
    if (delegate_)
        delegate_->Release();
    RemoveMenus();
    EndItemMenu();
    folder_.DetachView(this);
    if (list_)
        DestroyList();
    if (window_) {
        SetWindowLongPtrA(window_, 0, 0);
        DestroyWindow(window_);
    }
    folder_.Release();
    if (classAtom_)
        UnregisterClassA(kClassName, ThisModule());
    if (SUCCEEDED(oleResult_))
        OleUninitialize();
    if (browser_)
        browser_->Release();
    if (arrowUp_)
        DeleteObject(arrowUp_);
    if (arrowDown_)
        DeleteObject(arrowDown_);
    if (accelerators_)
        DestroyAcceleratorTable(accelerators_);
}

STDMETHODIMP AmigaView::QueryInterface(REFIID riid, void** out)
{
    IShellView* view = this;
    return QueryInterfaceFrom({{IID_IUnknown, view},
                               {IID_IShellView, view},
                               {IID_IDropTarget, static_cast<IDropTarget*>(this)}},
                              riid, out);
}

STDMETHODIMP_(ULONG) AmigaView::AddRef()
{
    return AddRefObject();
}

STDMETHODIMP_(ULONG) AmigaView::Release()
{
    return ReleaseObject();
}

STDMETHODIMP AmigaView::GetWindow(HWND* window)
{
    if (!window)
        return E_POINTER;
    *window = window_;
    return S_OK;
}

STDMETHODIMP AmigaView::ContextSensitiveHelp(BOOL)
{
    return E_NOTIMPL;
}

STDMETHODIMP AmigaView::TranslateAccelerator(MSG* message)
{
    if (!message || !window_)
        return S_FALSE;
    if (editingLabel_ && message->message >= WM_KEYFIRST && message->message <= WM_KEYLAST) {
        // Delete, Ctrl+C and Enter mean the edit box, never the selected item.
        TranslateMessage(message);
        DispatchMessageA(message);
        return S_OK;
    }
    if (!accelerators_)
        return S_FALSE;
    return ::TranslateAcceleratorA(window_, accelerators_, message) ? S_OK : S_FALSE;
}

STDMETHODIMP AmigaView::EnableModeless(BOOL)
{
    return E_NOTIMPL;
}

STDMETHODIMP AmigaView::UIActivate(UINT state)
{
    if (state == SVUIA_DEACTIVATE) {
        if (activation_ != SVUIA_DEACTIVATE)
            RemoveMenus();
        activation_ = SVUIA_DEACTIVATE;
        return S_OK;
    }
    if (state == activation_)
        MergeMenus();
    else
        SetActivation(state);
    return S_OK;
}

void AmigaView::SetActivation(UINT state)
{
    if (state == activation_)
        return;
    activation_ = state;
    MergeMenus();
    SetStatusLayout(false);
    UpdateStatus();
}

STDMETHODIMP AmigaView::Refresh()
{
    ReReadByPath(folder_.Path(), false);
    return S_OK;
}

STDMETHODIMP AmigaView::CreateViewWindow(IShellView*, LPCFOLDERSETTINGS settings,
                                         IShellBrowser* browser, RECT* rect, HWND* window)
{
    if (!window)
        return E_POINTER;
    *window = nullptr;
    if (!settings || !browser || !rect)
        return E_INVALIDARG;

    WNDCLASSEXA known = {};
    known.cbSize = sizeof known;
    if (!GetClassInfoExA(ThisModule(), kClassName, &known)) {
        WNDCLASSEXA windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_DBLCLKS | CS_PARENTDC;
        windowClass.lpfnWndProc = WindowProc;
        windowClass.cbWndExtra = sizeof(AmigaView*);
        windowClass.hInstance = ThisModule();
        windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = kClassName;
        classAtom_ = RegisterClassExA(&windowClass);
        if (!classAtom_)
            return E_FAIL;
    }

    if (browser_)
        browser_->Release();
    browser_ = browser;
    browser_->AddRef();
    viewMode_ = settings->ViewMode;
    folderFlags_ = settings->fFlags;
    if (FAILED(browser_->GetWindow(&browserWindow_)))
        browserWindow_ = nullptr;

    CreateWindowExA(0, kClassName, "Nothing", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, rect->left,
                    rect->top, rect->right - rect->left, rect->bottom - rect->top, browserWindow_,
                    nullptr, ThisModule(), this);
    if (!window_)
        return E_FAIL;
    *window = window_;
    Fill();
    UpdateWindow(window_);
    SetUpToolbar();
    return S_OK;
}

STDMETHODIMP AmigaView::DestroyViewWindow()
{
    if (list_)
        DestroyList();
    if (window_) {
        HWND window = window_;
        window_ = nullptr;
        postTarget_ = nullptr;
        SetWindowLongPtrA(window, 0, 0);
        DestroyWindow(window);
    }
    return S_OK;
}

STDMETHODIMP AmigaView::GetCurrentInfo(LPFOLDERSETTINGS settings)
{
    if (!settings)
        return E_POINTER;
    settings->ViewMode = viewMode_;
    settings->fFlags = folderFlags_;
    return S_OK;
}

STDMETHODIMP AmigaView::AddPropertySheetPages(DWORD, LPFNSVADDPROPSHEETPAGE, LPARAM)
{
    return E_NOTIMPL;
}

STDMETHODIMP AmigaView::SaveViewState()
{
    if (!list_ || !browser_)
        return S_OK;
    IStream* stream = nullptr;
    HRESULT hr = browser_->GetViewStateStream(STGM_WRITE, &stream);
    if (FAILED(hr) || !stream)
        return FAILED(hr) ? hr : E_FAIL;
    ViewState state;
    state.sortColumn = sortColumn_;
    state.descending = descending_;
    for (size_t i = 0; i < kViewColumnCount; ++i) {
        const int width = int(SendMessageA(list_, LVM_GETCOLUMNWIDTH, i, 0));
        // A hidden column would come back hidden for good.
        state.widths[i] = uint16_t(width > 0 ? width : kViewColumns[i].defaultWidth);
    }
    hr = WriteViewState(*stream, state);
    stream->Release();
    return hr;
}

STDMETHODIMP AmigaView::SelectItem(PCUITEMID_CHILD, UINT)
{
    return E_NOTIMPL;
}

STDMETHODIMP AmigaView::GetItemObject(UINT, REFIID, void** out)
{
    if (out)
        *out = nullptr;
    return E_NOTIMPL;
}

void AmigaView::Update(ViewUpdate update)
{
    if (update == ViewUpdate::CutMarks) {
        SyncCutMarks();
        return;
    }
    Fill();
    if (window_)
        UpdateWindow(window_);
}

void AmigaView::PostUpdate(ViewUpdate update)
{
    if (HWND target = postTarget_.load())
        PostMessageA(target, kUpdateMessage, WPARAM(update), 0);
}

LRESULT CALLBACK AmigaView::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CREATE) {
        auto* view =
            static_cast<AmigaView*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(view));
        view->window_ = window;
        view->postTarget_ = window;
        if (!view->CreateList()) {
            view->window_ = nullptr;
            view->postTarget_ = nullptr;
            SetWindowLongPtrA(window, 0, 0);
            return -1;
        }
        return 0;
    }
    auto* view = reinterpret_cast<AmigaView*>(GetWindowLongPtrA(window, 0));
    if (!view)
        return DefWindowProcA(window, message, wParam, lParam);
    return view->OnMessage(message, wParam, lParam);
}

LRESULT AmigaView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        if (list_)
            MoveWindow(list_, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 1;
    case WM_SETFOCUS:
        if (list_)
            SetFocus(list_);
        return 0;
    case WM_KILLFOCUS: return 0;
    case WM_PAINT:
        if (!list_) {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window_, &paint);
            FillRect(dc, &paint.rcPaint, GetSysColorBrush(COLOR_BTNFACE));
            EndPaint(window_, &paint);
            return 0;
        }
        break;
    case WM_ERASEBKGND: return list_ ? 1 : 0;
    case WM_MOUSEACTIVATE: return MA_NOACTIVATE;
    case WM_NOTIFYFORMAT: return NFR_ANSI;
    case WM_COMMAND:
        if (LOWORD(wParam) >= FCIDM_BROWSERFIRST && LOWORD(wParam) <= FCIDM_BROWSERLAST) {
            // The browser's own commands, from a menu of ours.
            if (browserWindow_)
                PostMessageA(browserWindow_, WM_COMMAND, wParam, lParam);
            return 0;
        }
        return Command(LOWORD(wParam)) ? 1 : 0;
    case WM_MENUSELECT:
        if (HIWORD(wParam) != 0xFFFF || lParam)
            MenuHelp((HIWORD(wParam) & MF_POPUP) ? 0 : LOWORD(wParam));
        return 1;
    case kUpdateMessage: Update(ViewUpdate(wParam)); return 0;
    case kRenameMessage: RenamePending(); return 0;
    case WM_ENTERMENULOOP: SetStatusLayout(true); return 1;
    case WM_EXITMENULOOP:
        SetStatusLayout(false);
        UpdateStatus();
        return 1;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header && list_ && header->hwndFrom == list_)
            return OnNotify(*header);
        break;
    }
    default: break;
    }
    return DefWindowProcA(window_, message, wParam, lParam);
}

}  // namespace dm
