#include "transfer/open_with_pc_program.h"

#include "core/messages.h"
#include "core/module.h"
#include "core/temp_folder.h"
#include "resources/string_ids.h"
#include "shell/amiga_folder.h"
#include "shell/item_id.h"
#include "transfer/clipboard_formats.h"

#include <shlobj.h>

#include <atomic>
#include <cstdio>

namespace dm {

namespace {

constexpr ULONG kPiece = 1024;

INT_PTR ShellOpen(HWND owner, const std::string& path)
{
    return reinterpret_cast<INT_PTR>(
        ShellExecuteA(owner, nullptr, path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
}

std::atomic<PcProgramLauncher> launcher {&ShellOpen};

std::string ModifiedText(const FILETIME& time)
{
    char text[32];
    std::snprintf(text, sizeof text, "%lx %lx", static_cast<unsigned long>(time.dwLowDateTime),
                  static_cast<unsigned long>(time.dwHighDateTime));
    return text;
}

// The descriptor of the one file the data object describes.
HRESULT ReadDescriptor(IDataObject& data, FILEDESCRIPTORA& descriptor)
{
    FORMATETC format = MakeFormatEtc(Formats()->fileGroupDescriptor);
    STGMEDIUM medium = {};
    HRESULT hr = data.GetData(&format, &medium);
    if (FAILED(hr))
        return hr;
    hr = E_FAIL;
    if (medium.tymed == TYMED_HGLOBAL && GlobalSize(medium.hGlobal) >= sizeof(FILEGROUPDESCRIPTORA)) {
        if (const auto* group = static_cast<const FILEGROUPDESCRIPTORA*>(GlobalLock(medium.hGlobal))) {
            if (group->cItems >= 1) {
                descriptor = group->fgd[0];
                descriptor.cFileName[sizeof descriptor.cFileName - 1] = '\0';
                hr = S_OK;
            }
            GlobalUnlock(medium.hGlobal);
        }
    }
    ReleaseStgMedium(&medium);
    return hr;
}

// Copies the whole stream into `file`; the byte count written.
HRESULT CopyStream(IStream& stream, HANDLE file, uint64_t& written)
{
    char piece[kPiece];
    written = 0;
    while (true) {
        ULONG got = 0;
        const HRESULT hr = stream.Read(piece, kPiece, &got);
        if (FAILED(hr))
            return hr;
        if (got == 0)
            return S_OK;
        DWORD put = 0;
        if (!WriteFile(file, piece, got, &put, nullptr) || put != got)
            return HRESULT_FROM_WIN32(GetLastError());
        written += put;
    }
}

// Fetches the item into a new temporary folder; the copy's path.
HRESULT FetchCopy(AmigaFolder& folder, const ITEMIDLIST* item, HWND owner, std::string& copyPath)
{
    if (!Formats())
        return E_FAIL;
    IDataObject* data = nullptr;
    HRESULT hr = folder.GetUIObjectOf(owner, 1, &item, IID_IDataObject, nullptr,
                                      reinterpret_cast<void**>(&data));
    if (FAILED(hr))
        return hr;
    FILEDESCRIPTORA descriptor = {};
    hr = ReadDescriptor(*data, descriptor);
    std::string directory;
    if (SUCCEEDED(hr) && !CreateTempFolder(directory))
        hr = E_FAIL;
    if (SUCCEEDED(hr)) {
        copyPath = directory + "\\" + descriptor.cFileName;
        if (copyPath.size() >= MAX_PATH)
            hr = E_FAIL;
    }
    HANDLE file = INVALID_HANDLE_VALUE;
    if (SUCCEEDED(hr)) {
        file = CreateFileA(copyPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            hr = HRESULT_FROM_WIN32(GetLastError());
    }
    bool shortCopy = false;
    if (SUCCEEDED(hr)) {
        FORMATETC format = MakeFormatEtc(Formats()->fileContents, TYMED_ISTREAM, 0);
        STGMEDIUM medium = {};
        hr = data->GetData(&format, &medium);
        if (SUCCEEDED(hr) && (medium.tymed != TYMED_ISTREAM || !medium.pstm)) {
            ReleaseStgMedium(&medium);
            hr = E_FAIL;
        }
        if (SUCCEEDED(hr)) {
            uint64_t written = 0;
            hr = CopyStream(*medium.pstm, file, written);
            // A copy of another length than the Amiga announced is not the file: the user
            // would edit a truncated copy believing it whole.
            if (SUCCEEDED(hr) && written != descriptor.nFileSizeLow) {
                hr = E_FAIL;
                shortCopy = true;
            }
            // The stream reports the Amiga's error, if any, as it goes.
            ReleaseStgMedium(&medium);
        }
    }
    if (file != INVALID_HANDLE_VALUE) {
        if (SUCCEEDED(hr)) {
            const FILETIME modified = ItemIdView(item).Modified();
            SetFileTime(file, &modified, &modified, &modified);
        }
        CloseHandle(file);
    }
    data->Release();
    if (FAILED(hr) && !directory.empty())
        RemoveTempFolderOf(directory + "\\x");
    if (shortCopy)
        MessageBoxById(owner, IDS_ERR_COPY_FILE, IDS_APP_NAME, MB_OK | MB_ICONEXCLAMATION,
                       ThisModule());
    return hr;
}

}  // namespace

void SetPcProgramLauncher(PcProgramLauncher replacement)
{
    launcher = replacement ? replacement : &ShellOpen;
}

HRESULT OpenWithPcProgram(AmigaFolder& folder, const ITEMIDLIST* item, HWND owner)
{
    const ItemIdView view(item);
    if (!view.IsValid())
        return E_INVALIDARG;
    const std::string name(view.Name());
    const std::string modified = ModifiedText(view.Modified());
    if (const auto opened = folder.FindOpenedFile(name)) {
        if (opened->modified == modified) {
            const INT_PTR result = launcher.load()(owner, opened->copyPath);
            if (result != ERROR_FILE_NOT_FOUND && result != ERROR_PATH_NOT_FOUND)
                return S_OK;
        }
        folder.DropOpenedFile(name);
    }
    std::string copyPath;
    const HRESULT hr = FetchCopy(folder, item, owner, copyPath);
    if (FAILED(hr))
        return hr;
    folder.AddOpenedFile({name, copyPath, modified});
    launcher.load()(owner, copyPath);
    return S_OK;
}

}  // namespace dm
