#include "pages/properties_thread.h"

#include "core/amiga_paths.h"
#include "core/messages.h"
#include "core/module.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"
#include "shell/amiga_folder.h"
#include "shell/item_id.h"
#include "pages/item_property_page.h"
#include "transfer/operation_worker.h"

#include <commctrl.h>
#include <prsht.h>

#include <algorithm>
#include <atomic>
#include <memory>

namespace dm {

namespace {

constexpr DWORD kTakeOverWait = 500;

std::atomic<long> openWindows {0};

std::string Title(const PropertiesRequest& request)
{
    const ItemIdView first(request.items[0].get());
    const std::string name(DisplayName(first.Name(), first.Kind()));
    return FormatStringById(request.items.size() == 1 ? IDS_PROPERTIES_TITLE_ONE
                                                      : IDS_PROPERTIES_TITLE_MANY,
                            ThisModule(), {name})
        .value_or(name);
}

void RunWindow(PropertiesRequest& request)
{
    std::vector<const ITEMIDLIST*> items;
    for (const UniqueIdList& item : request.items)
        items.push_back(item.get());
    const bool anyDrawer = std::any_of(items.begin(), items.end(), [](const ITEMIDLIST* item) {
        return IsContainerKind(ItemIdView(item).Kind());
    });
    MSG message;
    if (anyDrawer) {
        // The counter posts its counts to this thread: without a queue the first ones are lost,
        // and a drawer counted within a moment would show nothing at all.
        PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        request.counter.Start(items, GetCurrentThreadId());
    }

    request.dialog = ItemPageFor(request.items);
    const std::string title = Title(request);
    PROPSHEETPAGEA page = {};
    page.dwSize = sizeof page;
    page.hInstance = ThisModule();
    page.pszTemplate = MAKEINTRESOURCEA(request.dialog);
    page.pfnDlgProc = ItemPropertyPageProc;
    page.lParam = reinterpret_cast<LPARAM>(&request);
    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_MODELESS | PSH_NOAPPLYNOW;
    header.hInstance = ThisModule();
    header.pszCaption = title.c_str();
    header.nPages = 1;
    header.ppsp = &page;
    HWND sheet = reinterpret_cast<HWND>(PropertySheetA(&header));

    while (sheet && PropSheet_GetCurrentPageHwnd(sheet) && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == kMsgCounts) {
            std::unique_ptr<CountStep> step = TakeCountStep(message);
            if (HWND current = PropSheet_GetCurrentPageHwnd(sheet))
                SendMessageA(current, kMsgCounts, 0, reinterpret_cast<LPARAM>(step.get()));
            continue;
        }
        if (!PropSheet_IsDialogMessage(sheet, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    if (sheet)
        DestroyWindow(sheet);
    request.counter.Stop(kMsgQuitCount);
    // Counts posted before the worker ended are this thread's to free.
    while (PeekMessageA(&message, reinterpret_cast<HWND>(-1), kMsgCounts, kMsgCounts, PM_REMOVE))
        TakeCountStep(message);
}

void RunRequest(PropertiesRequest* handedOver)
{
    // The request is this thread's from the start, so a caller that stopped waiting for it
    // leaves nothing behind that the thread still reads.
    std::unique_ptr<PropertiesRequest> request(handedOver);
    ++openWindows;
    ReleaseSemaphore(request->takenOver, 1, nullptr);
    RunWindow(*request);
    request->folder->Release();
    CloseHandle(request->takenOver);
    request.reset();
    --openWindows;
}

DWORD WINAPI Run(void* context)
{
    auto* request = static_cast<PropertiesRequest*>(context);
    const HMODULE pinned = request->pinnedModule;
    RunRequest(request);
    // Once the folder is released nothing else keeps the module loaded: it may go the moment
    // this thread stops running its code, and not before.
    FreeLibraryAndExitThread(pinned, 0);
}

}  // namespace

HRESULT ShowItemProperties(AmigaFolder& folder, UINT count, const ITEMIDLIST* const* items)
{
    if (count == 0 || !items)
        return E_INVALIDARG;
    auto request = std::make_unique<PropertiesRequest>();
    for (UINT i = 0; i < count; ++i) {
        UniqueIdList clone = CloneUnique(items[i]);
        if (!clone)
            return E_OUTOFMEMORY;
        request->items.push_back(std::move(clone));
    }
    HANDLE takenOver = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    HANDLE mine = nullptr;
    if (!takenOver || !DuplicateHandle(GetCurrentProcess(), takenOver, GetCurrentProcess(), &mine,
                                       0, FALSE, DUPLICATE_SAME_ACCESS)) {
        if (takenOver)
            CloseHandle(takenOver);
        return E_FAIL;
    }
    // The thread's own reference to the module, given back as the thread ends.
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&Run), &request->pinnedModule)) {
        CloseHandle(takenOver);
        CloseHandle(mine);
        return E_FAIL;
    }
    request->takenOver = takenOver;
    request->folder = &folder;
    folder.AddRef();
    PropertiesRequest* handedOver = request.release();
    HANDLE thread = CreateThread(nullptr, 0, Run, handedOver, 0, nullptr);
    HRESULT hr = E_FAIL;
    if (!thread) {
        FreeLibrary(handedOver->pinnedModule);
        folder.Release();
        CloseHandle(handedOver->takenOver);
        delete handedOver;
    } else {
        const HANDLE waits[] = {mine, thread};
        if (WaitForMultipleObjects(2, waits, FALSE, kTakeOverWait) == WAIT_OBJECT_0)
            hr = S_OK;
        CloseHandle(thread);
    }
    CloseHandle(mine);
    return hr;
}

long OpenPropertiesWindows()
{
    return openWindows.load();
}

}  // namespace dm
