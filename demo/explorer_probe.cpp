// explorer-probe: what Explorer shows, read from its windows from outside, for the demonstration
// and its check. The list view lives in Explorer's process: its texts and rectangles are fetched
// through memory allocated there.
// Windows of Wine's virtual desktop NAME are only seen from that desktop: --desktop NAME first.
//   explorer-probe title            the Explorer window's title
//   explorer-probe list             the items of its list view, one line each, columns by tabs
//   explorer-probe locate NAME      screen position of the item named NAME ("x y")
//   explorer-probe windows          class and title of every visible top-level window
//   explorer-probe drop FOLDER VOLUME
//                                   drops the PC folder FOLDER on the Amiga volume VOLUME through
//                                   the shell: the file system's data object, the namespace's
//                                   drop target
//   explorer-probe command ID       sends command ID to the view for its selection (156
//                                   Properties, 157 Format)
//   explorer-probe press TITLE ID   presses button ID of the window titled TITLE
//   explorer-probe setup            runs Setup here, with the machine's settings
#include "link/tcp_link.h"
#include "setup/serial_setup.h"

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

constexpr UINT kTimeoutMs = 3000;

std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TitleOf(HWND window)
{
    char title[512] = {};
    GetWindowTextA(window, title, sizeof title);
    return title;
}

struct Search {
    HWND explorer = nullptr;
    HWND list = nullptr;
};

BOOL CALLBACK FindList(HWND child, LPARAM param)
{
    auto* search = reinterpret_cast<Search*>(param);
    if (IsWindowVisible(child) && ClassOf(child) == WC_LISTVIEWA) {
        search->list = child;
        return FALSE;
    }
    return TRUE;
}

// The first visible top-level window of Explorer's class with a visible list view in it.
BOOL CALLBACK FindExplorer(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<Search*>(param);
    const std::string name = ClassOf(window);
    if (!IsWindowVisible(window) || (name != "ExplorerWClass" && name != "CabinetWClass"))
        return TRUE;
    search->explorer = window;
    EnumChildWindows(window, FindList, param);
    return search->list ? FALSE : TRUE;
}

// A block of memory in the list view's process.
class RemoteBlock {
public:
    RemoteBlock(HWND window, size_t size) : size_(size)
    {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        process_ =
            OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (process_)
            at_ = static_cast<char*>(
                VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    }
    ~RemoteBlock()
    {
        if (at_)
            VirtualFreeEx(process_, at_, 0, MEM_RELEASE);
        if (process_)
            CloseHandle(process_);
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;

    bool Valid() const { return at_ != nullptr; }
    char* At(size_t offset) const { return at_ + offset; }
    bool Write(size_t offset, const void* data, size_t size) const
    {
        return offset + size <= size_ &&
               WriteProcessMemory(process_, at_ + offset, data, size, nullptr);
    }
    bool Read(size_t offset, void* data, size_t size) const
    {
        return offset + size <= size_ &&
               ReadProcessMemory(process_, at_ + offset, data, size, nullptr);
    }

private:
    HANDLE process_ = nullptr;
    char* at_ = nullptr;
    size_t size_;
};

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kTimeoutMs,
                             &result))
        return -1;
    return LRESULT(result);
}

constexpr size_t kTextOffset = 256;
constexpr size_t kTextSize = 1024;

std::string ItemText(HWND list, const RemoteBlock& block, int item, int column)
{
    LVITEMA request = {};
    request.iSubItem = column;
    request.pszText = block.At(kTextOffset);
    request.cchTextMax = int(kTextSize);
    char text[kTextSize] = {};
    if (!block.Write(0, &request, sizeof request) ||
        Send(list, LVM_GETITEMTEXTA, WPARAM(item), LPARAM(block.At(0))) < 0 ||
        !block.Read(kTextOffset, text, sizeof text - 1))
        return {};
    return text;
}

int Columns(HWND list)
{
    const HWND header = HWND(Send(list, LVM_GETHEADER, 0, 0));
    const LRESULT count = header && header != HWND(-1) ? Send(header, HDM_GETITEMCOUNT, 0, 0) : 1;
    return count < 1 ? 1 : int(count);
}

int Usage()
{
    std::fputs("usage: explorer-probe [--desktop NAME] title | list | locate NAME | windows |"
               " drop FOLDER VOLUME | command ID | press TITLE ID | setup\n",
               stderr);
    return 2;
}

std::wstring Wide(const char* text)
{
    std::wstring wide(MAX_PATH, L'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), MAX_PATH);
    wide.resize(length > 0 ? size_t(length - 1) : 0);
    return wide;
}

// The Amiga folder as the shell makes it: parsed from the desktop where the shell knows it,
// else from its registered class.
bool AmigaFolder(IShellFolder& desktop, LPITEMIDLIST& list, IShellFolder*& folder)
{
    std::wstring name = L"::{6B2D9A41-5C7E-4F83-9D10-3A5E7C24B8F6}";
    if (SUCCEEDED(desktop.ParseDisplayName(nullptr, nullptr, name.data(), nullptr, &list,
                                           nullptr)) &&
        SUCCEEDED(desktop.BindToObject(list, nullptr, IID_IShellFolder,
                                       reinterpret_cast<void**>(&folder))))
        return true;
    constexpr CLSID kAmigaFolder = {
        0x6B2D9A41, 0x5C7E, 0x4F83, {0x9D, 0x10, 0x3A, 0x5E, 0x7C, 0x24, 0xB8, 0xF6}};
    IPersistFolder* persist = nullptr;
    if (FAILED(CoCreateInstance(kAmigaFolder, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistFolder,
                                reinterpret_cast<void**>(&persist))))
        return false;
    const bool made = SUCCEEDED(persist->Initialize(list)) &&
                      SUCCEEDED(persist->QueryInterface(IID_IShellFolder,
                                                        reinterpret_cast<void**>(&folder)));
    persist->Release();
    return made;
}

// What Explorer does when a folder is dragged onto a volume of the Amiga folder.
int DropFolder(const char* folder, const char* volume)
{
    if (FAILED(OleInitialize(nullptr)))
        return 1;
    IShellFolder* desktop = nullptr;
    SHGetDesktopFolder(&desktop);
    int result = 1;
    std::wstring path = Wide(folder);
    LPITEMIDLIST source = nullptr, amiga = nullptr;
    IShellFolder* sourceParent = nullptr;
    IShellFolder* amigaFolder = nullptr;
    IDataObject* data = nullptr;
    IDropTarget* target = nullptr;
    PCUITEMID_CHILD child = nullptr;
    if (desktop &&
        SUCCEEDED(desktop->ParseDisplayName(nullptr, nullptr, path.data(), nullptr, &source,
                                            nullptr)) &&
        SUCCEEDED(SHBindToParent(source, IID_IShellFolder,
                                 reinterpret_cast<void**>(&sourceParent), &child)) &&
        SUCCEEDED(sourceParent->GetUIObjectOf(nullptr, 1, &child, IID_IDataObject, nullptr,
                                              reinterpret_cast<void**>(&data))) &&
        AmigaFolder(*desktop, amiga, amigaFolder)) {
        IEnumIDList* walk = nullptr;
        LPITEMIDLIST item = nullptr;
        if (SUCCEEDED(amigaFolder->EnumObjects(nullptr, SHCONTF_FOLDERS, &walk)) && walk) {
            while (!target && walk->Next(1, &item, nullptr) == S_OK) {
                STRRET name = {};
                char shown[MAX_PATH] = {};
                if (SUCCEEDED(amigaFolder->GetDisplayNameOf(item, SHGDN_INFOLDER, &name)) &&
                    SUCCEEDED(StrRetToBufA(&name, item, shown, sizeof shown)) &&
                    std::strcmp(shown, volume) == 0) {
                    PCUITEMID_CHILD items[] = {item};
                    amigaFolder->GetUIObjectOf(nullptr, 1, items, IID_IDropTarget, nullptr,
                                               reinterpret_cast<void**>(&target));
                }
                CoTaskMemFree(item);
            }
            walk->Release();
        }
    }
    if (target) {
        DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        const POINTL point = {0, 0};
        if (SUCCEEDED(target->DragEnter(data, 0, point, &effect)) && effect != 0) {
            const HRESULT hr = target->Drop(data, 0, point, &effect);
            std::printf("dropped: 0x%08lX, effect %lu\n", static_cast<unsigned long>(hr),
                        static_cast<unsigned long>(effect));
            result = SUCCEEDED(hr) && effect == DROPEFFECT_COPY ? 0 : 1;
        } else {
            target->DragLeave();
            std::fputs("explorer-probe: the volume refused the drop\n", stderr);
        }
        target->Release();
    } else {
        std::fprintf(stderr, "explorer-probe: no drop target for %s or no data for %s\n", volume,
                     folder);
    }
    for (IUnknown* object : std::initializer_list<IUnknown*> {data, amigaFolder, sourceParent,
                                                              desktop})
        if (object)
            object->Release();
    CoTaskMemFree(source);
    CoTaskMemFree(amiga);
    OleUninitialize();
    return result;
}

BOOL CALLBACK PrintVisibleWindow(HWND window, LPARAM)
{
    if (IsWindowVisible(window))
        std::printf("%s\t%s\n", ClassOf(window).c_str(), TitleOf(window).c_str());
    return TRUE;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--desktop") == 0) {
        HDESK desktop = OpenDesktopA(argv[2], 0, FALSE, GENERIC_ALL);
        if (!desktop || !SetThreadDesktop(desktop)) {
            std::fprintf(stderr, "explorer-probe: no desktop %s\n", argv[2]);
            return 1;
        }
        argc -= 2;
        argv += 2;
    }
    if (argc < 2)
        return Usage();
    const std::string command = argv[1];
    if (command == "drop")
        return argc == 4 ? DropFolder(argv[2], argv[3]) : Usage();
    // A command button of a top-level window, such as the Cancel of a dialog.
    if (command == "press" && argc == 4) {
        HWND window = FindWindowA(nullptr, argv[2]);
        if (!window) {
            std::fprintf(stderr, "explorer-probe: no window %s\n", argv[2]);
            return 1;
        }
        PostMessageA(window, WM_COMMAND, WPARAM(std::atoi(argv[3])), 0);
        return 0;
    }
    // Setup as its menu command starts it, on this desktop, with the machine's settings.
    if (command == "setup" && argc == 2) {
        // The module starts sockets before the shell gets anything: only then is TCP/IP a
        // connection to choose.
        if (!dm::StartSockets())
            return 1;
        dm::RunSerialSetup();
        dm::StopSockets();
        return 0;
    }
    Search search;
    EnumWindows(FindExplorer, LPARAM(&search));
    if (command == "windows") {
        EnumWindows(PrintVisibleWindow, 0);
        return 0;
    }
    if (!search.explorer) {
        std::fputs("explorer-probe: no Explorer window\n", stderr);
        return 1;
    }
    // What the view's menus and keys send for its selection (156 Properties, 157 Format).
    if (command == "command" && argc == 3 && search.list) {
        HWND view = GetParent(search.list);
        return view && PostMessageA(view, WM_COMMAND, WPARAM(std::atoi(argv[2])), 0) ? 0 : 1;
    }
    if (command == "title") {
        std::printf("%s\n", TitleOf(search.explorer).c_str());
        return 0;
    }
    if (!search.list) {
        std::fputs("explorer-probe: no list in the Explorer window\n", stderr);
        return 1;
    }
    RemoteBlock block(search.list, kTextOffset + kTextSize);
    if (!block.Valid()) {
        std::fputs("explorer-probe: cannot reach Explorer's memory\n", stderr);
        return 1;
    }
    const LRESULT count = Send(search.list, LVM_GETITEMCOUNT, 0, 0);
    if (command == "list" && argc == 2) {
        const int columns = Columns(search.list);
        for (int item = 0; item < count; ++item) {
            std::string line;
            for (int column = 0; column < columns; ++column)
                line += (column ? "\t" : "") + ItemText(search.list, block, item, column);
            std::printf("%s\n", line.c_str());
        }
        return 0;
    }
    if (command == "locate" && argc == 3) {
        for (int item = 0; item < count; ++item) {
            if (ItemText(search.list, block, item, 0) != argv[2])
                continue;
            Send(search.list, LVM_ENSUREVISIBLE, WPARAM(item), FALSE);
            RECT rect = {};
            rect.left = LVIR_LABEL;
            if (!block.Write(0, &rect, sizeof rect) ||
                Send(search.list, LVM_GETITEMRECT, WPARAM(item), LPARAM(block.At(0))) <= 0 ||
                !block.Read(0, &rect, sizeof rect))
                break;
            POINT centre = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
            MapWindowPoints(search.list, nullptr, &centre, 1);
            std::printf("%ld %ld\n", long(centre.x), long(centre.y));
            return 0;
        }
        std::fprintf(stderr, "explorer-probe: no item %s\n", argv[2]);
        return 1;
    }
    return Usage();
}
