#include "pages/item_property_page.h"

#include "core/amiga_paths.h"
#include "core/messages.h"
#include "core/module.h"
#include "core/size_text.h"
#include "protocol/hdf_geometry.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"
#include "shell/amiga_folder.h"
#include "shell/com_object.h"
#include "shell/folder_cache.h"
#include "shell/item_id.h"

#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>

#include <array>
#include <string>

namespace dm {

namespace {

constexpr int kCommentLimit = 79;

// The attribute boxes with the bit each one stands for and whether a set bit means "checked"
// (the upper four) or "not allowed" (the lower four, which the Amiga stores inverted).
struct AttributeBox {
    int control;
    uint32_t bit;
    bool setMeansChecked;
};
constexpr AttributeBox kBoxes[] = {
    {IDC_ITEM_READABLE, 1u << 3, false}, {IDC_ITEM_WRITABLE, 1u << 2, false},
    {IDC_ITEM_EXECUTABLE, 1u << 1, false}, {IDC_ITEM_DELETABLE, 1u << 0, false},
    {IDC_ITEM_SCRIPT, 1u << 6, true},      {IDC_ITEM_ARCHIVED, 1u << 4, true},
    {IDC_ITEM_PURE, 1u << 5, true},        {IDC_ITEM_HOLD, 1u << 7, true},
};

PropertiesRequest* RequestOf(HWND page)
{
    return reinterpret_cast<PropertiesRequest*>(GetWindowLongPtrA(page, DWLP_USER));
}

std::string SizeText(uint32_t value)
{
    char text[100] = {};
    FormatSizeText(value, text, sizeof text, true, 0);
    std::string result = text;
    if (value >= 1000) {
        char bytes[80] = {};
        FormatSizeText(value, bytes, sizeof bytes, true, 1);
        result += " (";
        result += bytes;
        result += ")";
    }
    return result.substr(0, 99);
}

std::string CountsText(const PropertiesRequest& request)
{
    return FormatStringById(IDS_PROP_FILES_FOLDERS, ThisModule(),
                            {int(request.files), int(request.drawers)})
        .value_or("");
}

void SetText(HWND page, int id, const std::string& text)
{
    SetDlgItemTextA(page, id, text.c_str());
}

// Where an item lies: the name the address bar gives the folder that lists it (the namespace's
// name and the folder's Windows-style path, "Amiga\Work\Docs"); empty when it does not come as
// text. Made from the item's parent path, so that a folder's own page names its parent.
std::string LocationOf(AmigaFolder& folder, const ItemIdView& item)
{
    const std::string_view parent = item.ParentPath();
    UniqueIdList lister;
    if (!parent.empty()) {
        const size_t slash = parent.rfind('/');
        const bool volume = slash == std::string_view::npos;
        lister.reset(MakeItemId(volume ? std::string_view() : parent.substr(0, slash),
                                volume ? parent : parent.substr(slash + 1),
                                volume ? ItemKind::Volume : ItemKind::Drawer, 0, 0, 0, FILETIME {},
                                {}));
        if (!lister)
            return {};
    }
    STRRET name = {};
    if (FAILED(folder.GetDisplayNameOf(lister.get(), SHGDN_FORADDRESSBAR, &name)))
        return {};
    return name.uType == STRRET_CSTR ? std::string(name.cStr) : std::string();
}

void ShowIcon(HWND page, PropertiesRequest& request, const ITEMIDLIST* item)
{
    IExtractIconA* provider = nullptr;
    PCUITEMID_CHILD items[] = {item};
    if (FAILED(request.folder->GetUIObjectOf(page, 1, items, kIID_IExtractIconA, nullptr,
                                             reinterpret_cast<void**>(&provider))) ||
        !provider)
        return;
    char file[MAX_PATH] = {};
    int index = 0;
    UINT flags = 0;
    HICON large = nullptr;
    HICON small = nullptr;
    if (SUCCEEDED(provider->GetIconLocation(0, file, sizeof file, &index, &flags)) &&
        provider->Extract(file, UINT(index), &large, &small,
                          MAKELONG(GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CXSMICON))) ==
            S_OK) {
        SendDlgItemMessageA(page, IDC_ITEM_ICON, STM_SETICON, WPARAM(large), 0);
        request.icon = large;
        if (small)
            DestroyIcon(small);
    }
    provider->Release();
}

std::string RomComment(std::string_view comment)
{
    std::string text;
    for (size_t i = 0; i < comment.size(); ++i) {
        if (uint8_t(comment[i]) == 0xA0 && i + 1 < comment.size() && uint8_t(comment[i + 1]) == 0xA0) {
            text += "\r\n";
            ++i;
        } else {
            text.push_back(comment[i]);
        }
    }
    return text;
}

// The device part of a name: up to its first colon, from `from` on.
std::string DeviceOf(std::string_view name, size_t from)
{
    if (name.size() <= from)
        return {};
    name = name.substr(from, kCommentLimit);
    return std::string(name.substr(0, name.find(':')));
}

void FillMountInformation(HWND page, const PropertiesRequest& request)
{
    const HdfGeometry geometry = ParseHdfGeometry(ItemIdView(request.items[0].get()).Comment());
    SetText(page, IDC_ITEM_MOUNT_TEXT,
            request.mountInfoMode == 1 ? UaeMountText(geometry) : MountlistText(geometry));
}

void ShowAttributes(HWND page, const PropertiesRequest& request)
{
    SetText(page, IDC_ITEM_SIZE, SizeText(request.totalSize));
    for (const AttributeBox& box : kBoxes) {
        if (!GetDlgItem(page, box.control))
            continue;
        UINT state = BST_UNCHECKED;
        if (request.mixedBits & box.bit)
            state = BST_INDETERMINATE;
        else if (((request.protection & box.bit) != 0) == box.setMeansChecked)
            state = BST_CHECKED;
        CheckDlgButton(page, box.control, state);
    }
}

void InitialiseOne(HWND page, PropertiesRequest& request)
{
    const ITEMIDLIST* item = request.items[0].get();
    const ItemIdView view(item);
    const ItemKind kind = view.Kind();
    const bool container = kind == ItemKind::Volume || kind == ItemKind::Floppy ||
                           kind == ItemKind::Drawer;
    request.totalSize = container ? 0 : view.Size();
    request.protection = view.Protection();
    ShowIcon(page, request, item);
    SetText(page, IDC_ITEM_NAME, std::string(DisplayName(view.Name(), kind)));
    SetText(page, IDC_ITEM_TYPE, std::string(view.TypeText()));
    SetText(page, IDC_ITEM_LOCATION, LocationOf(*request.folder, view));
    SetText(page, IDC_ITEM_MODIFIED, std::string(view.DateText()));
    if (kind == ItemKind::RomFile) {
        SetText(page, IDC_ITEM_COMMENT, RomComment(view.Comment()));
    } else {
        SetText(page, IDC_ITEM_COMMENT, std::string(view.Comment()));
        SendDlgItemMessageA(page, IDC_ITEM_COMMENT, EM_LIMITTEXT, kCommentLimit, 0);
    }
    SetText(page, IDC_ITEM_CONTAINS, CountsText(request));
    if (request.dialog == IDD_ITEM_VOLUME) {
        SetText(page, IDC_ITEM_DEVICE, DeviceOf(view.Name(), 0));
        SetText(page, IDC_ITEM_CAPACITY, SizeText(view.Size()));
        if (view.UsedSpace() != 0xFFFFFFFFu) {
            SetText(page, IDC_ITEM_USED, SizeText(view.UsedSpace()));
            SetText(page, IDC_ITEM_FREE,
                    SizeText(view.Size() >= view.UsedSpace() ? view.Size() - view.UsedSpace() : 0));
            // A capacity of 0 (or in use beyond it) says nothing about how full the disk is.
            if (view.Size() != 0 && view.UsedSpace() <= view.Size())
                SetText(page, IDC_ITEM_FULL,
                        std::to_string(int(double(view.UsedSpace()) * 100.0 / double(view.Size()))) +
                            "%");
        }
    }
    if (request.dialog == IDD_ITEM_ADF || request.dialog == IDD_ITEM_HDF)
        SetText(page, IDC_ITEM_DEVICE, DeviceOf(view.Name(), 1));
    if (request.dialog == IDD_ITEM_HDF) {
        CheckRadioButton(page, IDC_ITEM_MOUNT_UAE, IDC_ITEM_MOUNT_MOUNTLIST, IDC_ITEM_MOUNT_UAE);
        request.mountInfoMode = 1;
        FillMountInformation(page, request);
    }
}

void InitialiseSeveral(HWND page, PropertiesRequest& request)
{
    const ItemIdView first(request.items[0].get());
    request.totalSize = 0;
    request.protection = first.Protection();
    request.mixedBits = 0;
    bool commonType = true;
    for (const UniqueIdList& item : request.items) {
        const ItemIdView view(item.get());
        const ItemKind kind = view.Kind();
        if (kind == ItemKind::Volume || kind == ItemKind::Floppy || kind == ItemKind::Drawer) {
            ++request.drawers;
            if (kind != ItemKind::Drawer)
                request.totalSize += view.Size();
        } else {
            ++request.files;
            request.totalSize += view.Size();
        }
        request.mixedBits |= (view.Protection() ^ first.Protection()) & 0xFFu;
        if (view.TypeText() != first.TypeText())
            commonType = false;
    }
    SetText(page, IDC_ITEM_NAME, CountsText(request));
    const std::string type(first.TypeText());
    SetText(page, IDC_ITEM_TYPE,
            commonType ? FormatStringById(IDS_PROP_ALL_OF_TYPE, ThisModule(), {type}).value_or("")
                       : LoadStringById(IDS_PROP_MULTIPLE_TYPES, ThisModule()).value_or(""));
    const std::string folder = LocationOf(*request.folder, first);
    SetText(page, IDC_ITEM_LOCATION,
            FormatStringById(IDS_PROP_ALL_IN, ThisModule(), {folder}).value_or(""));
    for (const AttributeBox& box : kBoxes) {
        if (HWND control = GetDlgItem(page, box.control)) {
            const LONG_PTR style = GetWindowLongPtrA(control, GWL_STYLE) & ~LONG_PTR(BS_TYPEMASK);
            SendMessageA(control, BM_SETSTYLE,
                         style | ((request.mixedBits & box.bit) ? BS_AUTO3STATE : BS_AUTOCHECKBOX),
                         TRUE);
        }
    }
}

uint32_t NewBits(HWND page)
{
    uint32_t bits = 0;
    for (const AttributeBox& box : kBoxes) {
        const bool checked = IsDlgButtonChecked(page, box.control) == BST_CHECKED;
        if (checked == box.setMeansChecked)
            bits |= box.bit;
    }
    return bits;
}

void DisableControls(HWND page)
{
    for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        EnableWindow(child, FALSE);
}

void Apply(HWND page, PropertiesRequest& request)
{
    if (request.dialog != IDD_ITEM_FILE && request.dialog != IDD_ITEM_DRAWER &&
        request.dialog != IDD_ITEM_SEVERAL)
        return;
    const uint32_t bits = NewBits(page);
    if (request.dialog == IDD_ITEM_SEVERAL) {
        uint32_t mask = 0xFFFFFFFFu;
        for (const AttributeBox& box : kBoxes) {
            if (IsDlgButtonChecked(page, box.control) == BST_INDETERMINATE)
                mask &= ~box.bit;
        }
        DisableControls(page);
        // Every item gets the change; each one that fails has its message shown by the remote
        // call, and the others still change.
        for (const UniqueIdList& item : request.items)
            ApplyAttributes(request, item.get(), bits | kKeepCommentFlag, mask, "");
        return;
    }
    char comment[kCommentLimit + 1] = {};
    // EM_GETLINE takes the buffer size in its first word.
    *reinterpret_cast<WORD*>(comment) = kCommentLimit;
    const LRESULT length = SendDlgItemMessageA(page, IDC_ITEM_COMMENT, EM_GETLINE, 0,
                                               reinterpret_cast<LPARAM>(comment));
    comment[std::min<LRESULT>(std::max<LRESULT>(length, 0), kCommentLimit)] = '\0';
    DisableControls(page);
    ApplyAttributes(request, request.items[0].get(), bits, 0xFFFFFFFFu, comment);
}

void OnCounts(HWND page, PropertiesRequest& request, const CountStep& step)
{
    request.totalSize += step.bytes;
    request.drawers += int32_t(step.drawers);
    request.files += int32_t(step.files);
    if (request.dialog == IDD_ITEM_SEVERAL)
        SetText(page, IDC_ITEM_NAME, CountsText(request));
    if (request.dialog == IDD_ITEM_DRAWER || request.dialog == IDD_ITEM_VOLUME)
        SetText(page, IDC_ITEM_CONTAINS, CountsText(request));
    SetText(page, IDC_ITEM_SIZE, SizeText(request.totalSize));
}

}  // namespace

UINT ItemPageFor(const std::vector<UniqueIdList>& items)
{
    if (items.empty())
        return 0;
    const ItemIdView first(items[0].get());
    if (items.size() > 1)
        return first.ParentPath().empty() ? IDD_ITEM_SEVERAL_ROOT : IDD_ITEM_SEVERAL;
    switch (first.Kind()) {
    case ItemKind::Volume:
    case ItemKind::Floppy:
        return IDD_ITEM_VOLUME;
    case ItemKind::Drawer:
        return IDD_ITEM_DRAWER;
    case ItemKind::RomFile:
        return IDD_ITEM_ROM;
    case ItemKind::AdfFile:
        return IDD_ITEM_ADF;
    case ItemKind::HdfFile:
        return IDD_ITEM_HDF;
    default:
        return IDD_ITEM_FILE;
    }
}

HRESULT ApplyAttributes(PropertiesRequest& request, const ITEMIDLIST* item, uint32_t value,
                        uint32_t mask, const std::string& comment)
{
    const ItemIdView view(item);
    const uint32_t oldLow = view.Protection() & 0xFFu;
    const uint32_t newLow = ((oldLow & ~mask) | (value & mask)) & 0xFFu;
    const uint32_t sent = (value & 0xFFFFFF00u) | newLow;
    const bool commentChanged = !(value & kKeepCommentFlag) && comment != view.Comment();
    if (!commentChanged && newLow == oldLow)
        return S_OK;
    // The worker and this change must not share the link.
    request.counter.Stop(kMsgQuitCount);
    return UpdateItemEverywhere(item, sent, comment);
}

INT_PTR CALLBACK ItemPropertyPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* request = reinterpret_cast<PropertiesRequest*>(
            reinterpret_cast<const PROPSHEETPAGEA*>(lParam)->lParam);
        SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(request));
        request->icon = nullptr;
        request->files = 0;
        request->drawers = 0;
        request->mixedBits = 0;
        if (request->items.size() == 1)
            InitialiseOne(page, *request);
        else
            InitialiseSeveral(page, *request);
        ShowAttributes(page, *request);
        return TRUE;
    }
    PropertiesRequest* request = RequestOf(page);
    if (!request)
        return FALSE;
    switch (message) {
    case kMsgCounts:
        if (const auto* step = reinterpret_cast<const CountStep*>(lParam))
            OnCounts(page, *request, *step);
        return TRUE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (request->dialog == IDD_ITEM_HDF && HIWORD(wParam) == BN_CLICKED &&
            (id == IDC_ITEM_MOUNT_UAE || id == IDC_ITEM_MOUNT_MOUNTLIST)) {
            const int mode = id == IDC_ITEM_MOUNT_UAE ? 1 : 0;
            if (mode != request->mountInfoMode) {
                request->mountInfoMode = mode;
                FillMountInformation(page, *request);
            }
        }
        return TRUE;
    }
    case WM_NOTIFY:
        if (reinterpret_cast<const NMHDR*>(lParam)->code == PSN_APPLY) {
            Apply(page, *request);
            SetWindowLongPtrA(page, DWLP_MSGRESULT, PSNRET_NOERROR);
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        if (request->icon) {
            DestroyIcon(request->icon);
            request->icon = nullptr;
        }
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace dm
