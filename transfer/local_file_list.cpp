#include "transfer/local_file_list.h"

#include "shell/id_list_array.h"
#include "shell/item_id_list.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <memory>

namespace dm {

namespace {

constexpr size_t kMaxLocalPath = 260;

struct ComRelease {
    void operator()(IUnknown* object) const { object->Release(); }
};
template <typename T>
using ComHold = std::unique_ptr<T, ComRelease>;

std::string NarrowText(const wchar_t* text)
{
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string narrow(size_t(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), size, nullptr, nullptr);
    narrow.resize(size_t(size - 1));
    return narrow;
}

// The parsing name of `child` in `parent`: its file-system path for items of real folders.
std::string ParsingName(IShellFolder& parent, const ITEMIDLIST* child)
{
    STRRET name = {};
    if (FAILED(parent.GetDisplayNameOf(child, SHGDN_FORPARSING, &name)))
        return {};
    wchar_t* wide = nullptr;
    if (FAILED(StrRetToStrW(&name, child, &wide)) || !wide)
        return {};
    std::string narrow = NarrowText(wide);
    CoTaskMemFree(wide);
    return narrow;
}

// Where the shortcut at `path` points; empty when it cannot be read.
std::string ShortcutTarget(const std::string& path)
{
    IShellLinkA* rawLink = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&rawLink))))
        return {};
    ComHold<IShellLinkA> link(rawLink);
    IPersistFile* rawFile = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&rawFile))))
        return {};
    ComHold<IPersistFile> file(rawFile);
    wchar_t wide[kMaxLocalPath] = {};
    if (!MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, int(kMaxLocalPath)) ||
        FAILED(file->Load(wide, STGM_READ)))
        return {};
    char target[kMaxLocalPath] = {};
    if (FAILED(link->GetPath(target, sizeof target, nullptr, 0)))
        return {};
    target[sizeof target - 1] = '\0';
    return target;
}

}  // namespace

HRESULT LocalFileList::AddFound(const std::string& directory, const WIN32_FIND_DATAA& found,
                                bool throughLink)
{
    PcFileDescriptor entry;
    entry.attributes = found.dwFileAttributes;
    entry.lastWriteTime = found.ftLastWriteTime;
    entry.sizeHigh = found.nFileSizeHigh;
    entry.sizeLow = found.nFileSizeLow;
    const size_t nameLength = strnlen(found.cFileName, sizeof found.cFileName);
    entry.name = directory;
    if (!entry.name.empty() && entry.name.back() != '\\')
        entry.name += '\\';
    entry.name.append(found.cFileName, nameLength);
    if (entry.name.size() >= kMaxLocalPath)
        return E_FAIL;
    entries_.push_back(std::move(entry));
    throughLink_.push_back(throughLink);
    return S_OK;
}

HRESULT LocalFileList::AddPath(const std::string& path)
{
    // A wildcard would let the lookup find some other file.
    if (path.empty() || path.size() >= kMaxLocalPath ||
        path.find_first_of("*?") != std::string::npos)
        return E_FAIL;
    WIN32_FIND_DATAA found = {};
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return E_FAIL;
    FindClose(search);
    const size_t cut = path.find_last_of("\\:");
    const std::string directory = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    return AddFound(directory, found, false);
}

HRESULT LocalFileList::AddContents(const std::string& folder, bool throughLink)
{
    const std::string pattern = folder + "\\*.*";
    if (pattern.size() >= kMaxLocalPath)
        return E_FAIL;
    WIN32_FIND_DATAA found = {};
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? S_OK : E_FAIL;
    HRESULT hr = S_OK;
    do {
        if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0)
            continue;
        hr = AddFound(folder, found, throughLink);
        // Every level lengthens the path, so the length limit also bounds the depth (a link to
        // a folder above included). A copy of the path: the list grows while the folder is
        // walked.
        if (SUCCEEDED(hr) && IsDirectory(entries_.back())) {
            const std::string inner = entries_.back().name;
            hr = AddContents(inner, throughLink || IsLink(entries_.back()));
        }
    } while (SUCCEEDED(hr) && FindNextFileA(search, &found));
    FindClose(search);
    return hr;
}

HRESULT LocalFileList::BuildFromPaths(const std::vector<std::string>& paths)
{
    Clear();
    HRESULT hr = paths.empty() ? E_FAIL : S_OK;
    for (size_t i = 0; SUCCEEDED(hr) && i < paths.size(); ++i)
        hr = AddPath(paths[i]);
    const size_t dropped = entries_.size();
    for (size_t i = 0; SUCCEEDED(hr) && i < dropped; ++i) {
        if (IsDirectory(entries_[i])) {
            const std::string folder = entries_[i].name;
            hr = AddContents(folder, IsLink(entries_[i]));
        }
    }
    if (FAILED(hr))
        Clear();
    return hr;
}

HRESULT LocalFileList::BuildFromShellIdList(const void* block, size_t size)
{
    Clear();
    const std::optional<IdListArray> array =
        ReadIdListArray(block, size, IdListArrayKind::ParentAndItems);
    if (!array || array->items.empty())
        return E_FAIL;
    std::vector<std::string> paths;
    for (const ITEMIDLIST* item : array->items) {
        // Bound through the whole list, so that items of several levels resolve as well.
        UniqueIdList absolute(ConcatIdLists({array->parent, item}));
        if (!absolute)
            return E_OUTOFMEMORY;
        IShellFolder* rawParent = nullptr;
        PCUITEMID_CHILD child = nullptr;
        if (FAILED(SHBindToParent(absolute.get(), IID_IShellFolder,
                                  reinterpret_cast<void**>(&rawParent), &child)) ||
            !rawParent)
            return E_FAIL;
        ComHold<IShellFolder> parent(rawParent);
        std::string path = ParsingName(*parent, child);
        SFGAOF attributes = SFGAO_LINK;
        if (SUCCEEDED(parent->GetAttributesOf(1, &child, &attributes)) &&
            (attributes & SFGAO_LINK))
            path = ShortcutTarget(path);
        if (path.empty())
            return E_FAIL;
        paths.push_back(std::move(path));
    }
    return BuildFromPaths(paths);
}

}  // namespace dm
