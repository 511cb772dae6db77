// What Explorer gives a view: a frame window with a menu bar of File, Edit and View popups, a
// status bar, a toolbar and a view-state stream. Header-only, for the Wine tests that host a view.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dm::test {

class TestBrowser final : public IShellBrowser {
public:
    // A command of the browser's own in its File popup.
    static constexpr UINT kCloseCommand = FCIDM_BROWSERFIRST + 1;

    TestBrowser()
    {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        frame = CreateWindowExA(0, "STATIC", "Browser", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800,
                                600, nullptr, nullptr, nullptr, nullptr);
        status = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, frame,
                                 nullptr, nullptr, nullptr);
        toolbar = CreateWindowExA(0, TOOLBARCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                                  frame, nullptr, nullptr, nullptr);
        SendMessageA(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    }
    ~TestBrowser() { DestroyWindow(frame); }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        *out = (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleWindow) ||
                IsEqualIID(riid, IID_IShellBrowser))
                   ? this
                   : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetWindow(HWND* window) override
    {
        *window = frame;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InsertMenusSB(HMENU bar, LPOLEMENUGROUPWIDTHS) override
    {
        AddPopup(bar, "&File", FCIDM_MENU_FILE, {{"&Close", kCloseCommand}});
        AddPopup(bar, "&Edit", FCIDM_MENU_EDIT, {{"&Undo", FCIDM_BROWSERFIRST + 2}});
        AddPopup(bar, "&View", FCIDM_MENU_VIEW,
                 {{"&Toolbar", FCIDM_BROWSERFIRST + 3}, {nullptr, FCIDM_MENU_VIEW_SEP_OPTIONS},
                  {"&Options...", FCIDM_BROWSERFIRST + 4}});
        return S_OK;
    }
    STDMETHODIMP SetMenuSB(HMENU bar, HOLEMENU, HWND) override
    {
        menu = bar;
        return S_OK;
    }
    STDMETHODIMP RemoveMenusSB(HMENU bar) override
    {
        while (GetMenuItemCount(bar) > 0)
            DeleteMenu(bar, 0, MF_BYPOSITION);
        return S_OK;
    }
    STDMETHODIMP SetStatusTextSB(LPCWSTR text) override
    {
        char narrow[256] = {};
        WideCharToMultiByte(CP_ACP, 0, text ? text : L"", -1, narrow, sizeof narrow, nullptr,
                            nullptr);
        statusText = narrow;
        return S_OK;
    }
    STDMETHODIMP EnableModelessSB(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAcceleratorSB(MSG*, WORD) override { return S_FALSE; }
    STDMETHODIMP BrowseObject(PCUIDLIST_RELATIVE, UINT) override { return S_OK; }
    STDMETHODIMP GetViewStateStream(DWORD mode, IStream** out) override
    {
        *out = nullptr;
        if ((mode & 3) == STGM_READ) {
            if (saved.empty())
                return E_FAIL;
            *out = SHCreateMemStream(saved.data(), UINT(saved.size()));
            return *out ? S_OK : E_OUTOFMEMORY;
        }
        writing = SHCreateMemStream(nullptr, 0);
        writing->AddRef();
        *out = writing;
        return S_OK;
    }
    STDMETHODIMP GetControlWindow(UINT id, HWND* window) override
    {
        *window = id == FCW_STATUS ? status : (id == FCW_TOOLBAR ? toolbar : nullptr);
        return *window ? S_OK : E_FAIL;
    }
    STDMETHODIMP SendControlMsg(UINT id, UINT message, WPARAM wParam, LPARAM lParam,
                                LRESULT* result) override
    {
        HWND window = nullptr;
        GetControlWindow(id, &window);
        const LRESULT answer = window ? SendMessageA(window, message, wParam, lParam) : 0;
        if (result)
            *result = answer;
        return window ? S_OK : E_FAIL;
    }
    STDMETHODIMP QueryActiveShellView(IShellView**) override { return E_NOTIMPL; }
    STDMETHODIMP OnViewWindowActive(IShellView*) override { return S_OK; }
    STDMETHODIMP SetToolbarItems(LPTBBUTTONSB buttons, UINT count, UINT) override
    {
        return SendMessageA(toolbar, TB_ADDBUTTONSA, count, reinterpret_cast<LPARAM>(buttons))
                   ? S_OK
                   : E_FAIL;
    }

    // Keeps what the view wrote, as a browser keeps a folder's view state.
    void KeepWritten()
    {
        STATSTG stat = {};
        writing->Stat(&stat, STATFLAG_NONAME);
        saved.resize(size_t(stat.cbSize.QuadPart));
        LARGE_INTEGER start = {};
        writing->Seek(start, STREAM_SEEK_SET, nullptr);
        ULONG read = 0;
        writing->Read(saved.data(), ULONG(saved.size()), &read);
        writing->Release();
        writing = nullptr;
    }

    std::string StatusText(int part) const
    {
        char text[256] = {};
        SendMessageA(status, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(text));
        return text;
    }

    // The entries of a popup of the bar the view handed over, as "Text|Text|-|Text" without
    // their "&" and shortcut keys, with "*" after a greyed entry, "!" after a checked one and
    // "^" after the default one; "" when there is no such popup.
    std::string Entries(UINT popupId) const
    {
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_SUBMENU;
        if (!menu || !GetMenuItemInfoA(menu, popupId, FALSE, &info) || !info.hSubMenu)
            return "";
        return Describe(info.hSubMenu);
    }

    static std::string Describe(HMENU popup)
    {
        std::string entries;
        for (int i = 0; i < GetMenuItemCount(popup); ++i) {
            char text[128] = {};
            GetMenuStringA(popup, UINT(i), text, sizeof text, MF_BYPOSITION);
            const UINT state = GetMenuState(popup, UINT(i), MF_BYPOSITION);
            std::string entry;
            for (const char* c = text; *c && *c != '\t'; ++c)
                if (*c != '&')
                    entry += *c;
            if (state & MF_SEPARATOR)
                entry = "-";
            if (!(state & MF_SEPARATOR) && (state & MF_GRAYED))
                entry += "*";
            if (state & MF_CHECKED)
                entry += "!";
            if (state & MF_DEFAULT)
                entry += "^";
            entries += (i ? "|" : "") + entry;
        }
        return entries;
    }

    HWND frame = nullptr, status = nullptr, toolbar = nullptr;
    HMENU menu = nullptr;
    std::string statusText;
    IStream* writing = nullptr;
    std::vector<uint8_t> saved;

private:
    struct Entry {
        const char* text;  // null: a separator
        UINT id;
    };
    static void AddPopup(HMENU bar, const char* title, UINT id, std::initializer_list<Entry> entries)
    {
        HMENU popup = CreatePopupMenu();
        for (const Entry& entry : entries)
            AppendMenuA(popup, entry.text ? MF_STRING : MF_SEPARATOR, entry.id, entry.text);
        MENUITEMINFOA item = {sizeof item, MIIM_STRING | MIIM_ID | MIIM_SUBMENU};
        item.wID = id;
        item.hSubMenu = popup;
        item.dwTypeData = const_cast<char*>(title);
        InsertMenuItemA(bar, UINT(GetMenuItemCount(bar)), TRUE, &item);
    }
};

// The row of `list` showing `name`, -1 when there is none.
inline int RowOf(HWND list, const char* name)
{
    LVFINDINFOA find = {LVFI_STRING, name};
    return int(SendMessageA(list, LVM_FINDITEMA, WPARAM(-1), reinterpret_cast<LPARAM>(&find)));
}

// Selects exactly the rows of `list` showing `names`, the first one focused.
inline void SelectNames(HWND list, std::initializer_list<const char*> names)
{
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, WPARAM(-1), reinterpret_cast<LPARAM>(&state));
    for (const char* name : names) {
        const int row = RowOf(list, name);
        if (row < 0)
            ADD_FAILURE() << "no row " << name;
        state.state = LVIS_SELECTED | (name == *names.begin() ? LVIS_FOCUSED : 0);
        SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
    }
}

}  // namespace dm::test
