#include "pages/settings_sheet_extension.h"

#include "core/diag_log.h"
#include "core/messages.h"
#include "core/module.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"

#include <commctrl.h>

namespace dm {

namespace {

constexpr UINT kTopmostStop = MB_OK | MB_ICONSTOP | MB_TOPMOST;

struct PageTemplate {
    UINT dialog;
    DLGPROC procedure;
};

constexpr PageTemplate kPages[] = {
    {IDD_SETTINGS_CONNECTION, ConnectionPageProc},
    {IDD_SETTINGS_OPTIONS, OptionsPageProc},
    {IDD_SETTINGS_ABOUT, AboutPageProc},
};

// Each page holds the sheet object until the sheet lets the page go.
UINT CALLBACK PageLifetime(HWND, UINT message, PROPSHEETPAGEA* page)
{
    auto* sheet = reinterpret_cast<ShellPropertySheetExtension*>(page->lParam);
    if (message == PSPCB_ADDREF)
        sheet->AddRef();
    else if (message == PSPCB_RELEASE)
        sheet->Release();
    return 1;
}

}  // namespace

ShellPropertySheetExtension* SheetOf(HWND page)
{
    return reinterpret_cast<ShellPropertySheetExtension*>(GetWindowLongPtrA(page, DWLP_USER));
}

ShellPropertySheetExtension* TakeSheetAtInit(HWND page, LPARAM lParam)
{
    auto* sheet = reinterpret_cast<ShellPropertySheetExtension*>(
        reinterpret_cast<const PROPSHEETPAGEA*>(lParam)->lParam);
    SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(sheet));
    return sheet;
}

ShellPropertySheetExtension::ShellPropertySheetExtension(SettingsStore store)
    : settings_(std::move(store)), richEdit_(LoadLibraryA("RICHED32"))
{
    settings_.Load();
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
}

ShellPropertySheetExtension::~ShellPropertySheetExtension()
{
    if (passwordFont_)
        DeleteObject(passwordFont_);
    if (richEdit_)
        FreeLibrary(richEdit_);
}

ShellPropertySheetExtension* ShellPropertySheetExtension::New(SettingsStore store)
{
    auto* sheet = new (std::nothrow) ShellPropertySheetExtension(std::move(store));
    if (sheet)
        sheet->AddRef();
    return sheet;
}

HRESULT ShellPropertySheetExtension::Create(REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return QueryNewObject<ShellPropertySheetExtension, IShellExtInit>(
        new (std::nothrow) ShellPropertySheetExtension(SettingsStore {}), riid, out);
}

STDMETHODIMP ShellPropertySheetExtension::QueryInterface(REFIID riid, void** out)
{
    return QueryInterfaceFrom({{IID_IUnknown, static_cast<IShellExtInit*>(this)},
                               {IID_IShellExtInit, static_cast<IShellExtInit*>(this)},
                               {IID_IShellPropSheetExt, static_cast<IShellPropSheetExt*>(this)},
                               {IID_IContextMenu, static_cast<IContextMenu*>(this)}},
                              riid, out);
}

STDMETHODIMP ShellPropertySheetExtension::QueryContextMenu(HMENU menu, UINT index, UINT firstId,
                                                           UINT lastId, UINT flags)
{
    return setupMenu_.QueryContextMenu(menu, index, firstId, lastId, flags);
}

STDMETHODIMP ShellPropertySheetExtension::InvokeCommand(CMINVOKECOMMANDINFO* info)
{
    return setupMenu_.InvokeCommand(info);
}

STDMETHODIMP ShellPropertySheetExtension::GetCommandString(UINT_PTR offset, UINT kind,
                                                           UINT* reserved, CHAR* buffer, UINT size)
{
    return setupMenu_.GetCommandString(offset, kind, reserved, buffer, size);
}

STDMETHODIMP_(ULONG) ShellPropertySheetExtension::AddRef()
{
    return AddRefObject();
}

STDMETHODIMP_(ULONG) ShellPropertySheetExtension::Release()
{
    return ReleaseObject();
}

STDMETHODIMP ShellPropertySheetExtension::Initialize(PCIDLIST_ABSOLUTE, IDataObject*, HKEY)
{
    return S_OK;
}

STDMETHODIMP ShellPropertySheetExtension::ReplacePage(EXPPS, LPFNSVADDPROPSHEETPAGE,
                                                      LPARAM)
{
    return E_FAIL;
}

STDMETHODIMP ShellPropertySheetExtension::AddPages(LPFNSVADDPROPSHEETPAGE addPage,
                                                   LPARAM parameter)
{
    if (!addPage)
        return E_INVALIDARG;
    if (!richEdit_) {
        LogLine("ShellPropertySheetExtension - riched32.dll not found\n");
        MessageBoxById(nullptr, IDS_RICHED32_MISSING, IDS_APP_NAME, kTopmostStop, ThisModule());
        return E_FAIL;
    }
    if (!CanWriteSettings(settings_.Store()) &&
        MessageBoxById(nullptr, IDS_SETTINGS_ADMIN_ONLY, IDS_APP_NAME,
                       MB_OKCANCEL | MB_ICONEXCLAMATION | MB_TOPMOST, ThisModule()) != IDOK)
        return HRESULT_FROM_WIN32(ERROR_CANCELLED);

    for (int index = 0; index < int(std::size(kPages)); ++index) {
        PROPSHEETPAGEA page = {};
        page.dwSize = sizeof page;
        page.dwFlags = PSP_USECALLBACK;
        page.hInstance = ThisModule();
        page.pszTemplate = MAKEINTRESOURCEA(kPages[index].dialog);
        page.pfnDlgProc = kPages[index].procedure;
        page.pfnCallback = PageLifetime;
        page.lParam = reinterpret_cast<LPARAM>(this);
        // The page's reference is taken by PSPCB_ADDREF as the page is made.
        HPROPSHEETPAGE handle = CreatePropertySheetPageA(&page);
        if (!handle) {
            LogLine("ShellPropertySheetExtension - page %d cannot be created\n", index);
            return E_FAIL;
        }
        if (!addPage(handle, parameter)) {
            LogLine("ShellPropertySheetExtension - page %d cannot be added\n", index);
            DestroyPropertySheetPage(handle);
            return E_FAIL;
        }
    }
    return S_OK;
}

BOOL CALLBACK ShellPropertySheetExtension::CollectPage(HPROPSHEETPAGE page, LPARAM self)
{
    auto* sheet = reinterpret_cast<ShellPropertySheetExtension*>(self);
    if (sheet->pageCount_ >= kMaxPages) {
        LogLine("ShellPropertySheetExtension - wrong page number: %d\n", int(sheet->pageCount_));
        return FALSE;
    }
    sheet->pages_[sheet->pageCount_++] = page;
    return TRUE;
}

HRESULT ShellPropertySheetExtension::ShowSettingsSheet(HWND owner)
{
    pageCount_ = 0;
    const HRESULT collected = AddPages(CollectPage, reinterpret_cast<LPARAM>(this));
    if (FAILED(collected)) {
        for (UINT i = 0; i < pageCount_; ++i)
            DestroyPropertySheetPage(pages_[i]);
        pageCount_ = 0;
        return collected;
    }
    const std::string title = LoadStringById(IDS_SETTINGS_TITLE, ThisModule()).value_or("");
    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof header;
    header.hwndParent = owner;
    header.hInstance = ThisModule();
    header.pszCaption = title.c_str();
    header.nPages = pageCount_;
    header.nStartPage = 0;
    header.phpage = pages_;
    const INT_PTR shown = PropertySheetA(&header);
    pageCount_ = 0;
    return shown < 0 ? E_FAIL : collected;
}

HFONT ShellPropertySheetExtension::PasswordFont(HWND passwordBox)
{
    if (!passwordFont_) {
        LOGFONTA font = {};
        HFONT current = reinterpret_cast<HFONT>(SendMessageA(passwordBox, WM_GETFONT, 0, 0));
        if (!current || !GetObjectA(current, sizeof font, &font))
            GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
        lstrcpynA(font.lfFaceName, "MS Shell Dlg", LF_FACESIZE);
        passwordFont_ = CreateFontIndirectA(&font);
    }
    return passwordFont_;
}

void ShellPropertySheetExtension::NoteChange(HWND page)
{
    if (!changed_) {
        changed_ = true;
        PropSheet_Changed(GetParent(page), page);
    }
}

bool ShellPropertySheetExtension::Apply(HWND page)
{
    if (!settings_.Save()) {
        // Without access the store has said so itself; a save that broke off half way has not.
        if (CanWriteSettings(settings_.Store()))
            MessageBoxById(page, IDS_SETTINGS_NOT_SAVED, IDS_APP_NAME, kTopmostStop,
                           ThisModule());
        return false;
    }
    changed_ = false;
    PropSheet_UnChanged(GetParent(page), page);
    return true;
}

void ShowSettingsSheet(HWND owner)
{
    ShellPropertySheetExtension* sheet = ShellPropertySheetExtension::New();
    if (!sheet)
        return;
    sheet->ShowSettingsSheet(owner);
    sheet->Release();
}

HRESULT CreateSettingsExtension(REFIID riid, void** out)
{
    return ShellPropertySheetExtension::Create(riid, out);
}

}  // namespace dm
