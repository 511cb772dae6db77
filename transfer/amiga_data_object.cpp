#include "transfer/amiga_data_object.h"

#include "core/amiga_names.h"
#include "core/amiga_paths.h"
#include "core/diag_log.h"
#include "core/messages.h"
#include "core/module.h"
#include "protocol/remote_session.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"
#include "shell/amiga_folder.h"
#include "shell/folder_cache.h"
#include "shell/id_list_array.h"
#include "shell/item_id.h"
#include "transfer/amiga_file_stream.h"
#include "transfer/clipboard_formats.h"
#include "transfer/cut_set.h"
#include "transfer/format_enumerator.h"

#include <cstring>

namespace dm {

namespace {

constexpr uint32_t kProgressUnit = 508;
constexpr uint32_t kFolderInfoSteps = 25;
constexpr std::chrono::milliseconds kNameInterval {100};

// Windows NT, or a 9x shell of version 4.50 or later, reports finished pastes itself.
bool ShellReportsPastes()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&version) || version.dwPlatformId == VER_PLATFORM_WIN32_NT)
        return true;
#pragma GCC diagnostic pop
    char path[MAX_PATH] = {};
    if (!GetModuleFileNameA(GetModuleHandleA("shell32.dll"), path, sizeof path))
        return false;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    std::vector<char> block(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoA(path, 0, size, block.data()) ||
        !VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length) || !info)
        return false;
    const WORD major = HIWORD(info->dwFileVersionMS), minor = LOWORD(info->dwFileVersionMS);
    return major > 4 || (major == 4 && minor >= 50);
}

uint32_t ProgressUnits(const ItemIdView& item)
{
    if (IsContainerKind(item.Kind()))
        return 0;
    return item.Size() >= kProgressUnit ? item.Size() / kProgressUnit : 1;
}

HRESULT GlobalOf(const void* bytes, size_t size, STGMEDIUM& medium)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!block)
        return E_OUTOFMEMORY;
    void* target = GlobalLock(block);
    if (!target) {
        GlobalFree(block);
        return E_OUTOFMEMORY;
    }
    std::memcpy(target, bytes, size);
    GlobalUnlock(block);
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = block;
    medium.pUnkForRelease = nullptr;
    return S_OK;
}

}  // namespace

AmigaDataObject* AmigaDataObject::New(AmigaFolder& folder, HWND owner, UINT count,
                                      const ITEMIDLIST* const* items, DWORD effect)
{
    auto* object = new (std::nothrow) AmigaDataObject(folder, owner, effect);
    if (!object)
        return nullptr;
    try {
        for (UINT i = 0; i < count && items && items[i]; ++i) {
            UniqueIdList copy = CloneUnique(items[i]);
            if (!copy)
                break;
            object->items_.push_back(std::move(copy));
        }
    } catch (const std::bad_alloc&) {
    }
    object->topLevelCount_ = object->items_.size();
    return object;
}

HRESULT AmigaDataObject::Create(AmigaFolder& folder, HWND owner, UINT count,
                                const ITEMIDLIST* const* items, REFIID riid, void** out)
{
    *out = nullptr;
    return QueryNewObject<AmigaDataObject, IDataObject>(New(folder, owner, count, items, 0), riid,
                                                        out);
}

AmigaDataObject::AmigaDataObject(AmigaFolder& folder, HWND owner, DWORD effect)
    : folder_(folder), owner_(owner), effect_(effect), modernShell_(ShellReportsPastes()),
      expandFolders_(modernShell_)
{
    folder_.AddRef();
}

AmigaDataObject::~AmigaDataObject()
{
    EndTransfer();
    if (effect_ == DROPEFFECT_MOVE)
        CutSet::ClearIfCurrent(cutGeneration_);
    folder_.Release();
}

void AmigaDataObject::SetCutGeneration(uint64_t generation)
{
    cutGeneration_ = generation;
}

STDMETHODIMP AmigaDataObject::QueryInterface(REFIID riid, void** out)
{
    return QueryInterfaceFrom({{IID_IUnknown, this}, {IID_IDataObject, this}}, riid, out);
}

HRESULT AmigaDataObject::CheckRequest(const FORMATETC& format) const
{
    const ClipboardFormats* formats = Formats();
    if (!formats)
        return E_FAIL;
    if (format.ptd || !(format.dwAspect & DVASPECT_CONTENT))
        return E_INVALIDARG;
    if (format.cfFormat == formats->fileContents)
        return (format.tymed & TYMED_ISTREAM) ? S_OK : E_INVALIDARG;
    const bool offered = format.cfFormat == formats->fileGroupDescriptor ||
                         format.cfFormat == formats->amigaIdListArray ||
                         format.cfFormat == formats->performedDropEffect ||
                         format.cfFormat == formats->logicalPerformedDropEffect ||
                         (format.cfFormat == formats->preferredDropEffect && IsClipboardObject());
    if (!offered || format.lindex != -1 || !(format.tymed & TYMED_HGLOBAL))
        return E_INVALIDARG;
    return S_OK;
}

STDMETHODIMP AmigaDataObject::QueryGetData(FORMATETC* format)
{
    return format ? CheckRequest(*format) : E_INVALIDARG;
}

STDMETHODIMP AmigaDataObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out)
{
    if (out)
        out->ptd = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP AmigaDataObject::GetData(FORMATETC* format, STGMEDIUM* medium)
{
    if (!format || !medium)
        return E_INVALIDARG;
    *medium = {};
    const ClipboardFormats* formats = Formats();
    if (!formats)
        return E_FAIL;
    if (!modernShell_ && !expandFolders_) {
        // An older shell asks for this only when something is really dropped on it.
        char name[81] = {};
        if (GetClipboardFormatNameA(format->cfFormat, name, 80) &&
            std::strcmp(name, "Shell IDList Array") == 0)
            expandFolders_ = true;
    }
    const HRESULT valid = CheckRequest(*format);
    if (FAILED(valid))
        return valid;

    const CLIPFORMAT cf = format->cfFormat;
    if (cf == formats->preferredDropEffect || cf == formats->performedDropEffect ||
        cf == formats->logicalPerformedDropEffect) {
        const DWORD value = cf == formats->preferredDropEffect
                                ? effect_
                                : (sourceDeleted_ ? DROPEFFECT_MOVE : DROPEFFECT_COPY);
        medium->hGlobal = MakeDwordBlock(value);
        if (!medium->hGlobal)
            return E_OUTOFMEMORY;
        medium->tymed = TYMED_HGLOBAL;
        return S_OK;
    }
    if (cf == formats->fileGroupDescriptor)
        return FileGroupDescriptor(*medium);
    if (cf == formats->amigaIdListArray)
        return IdListArray(*medium);
    if (cf == formats->fileContents)
        return FileContents(format->lindex, *medium);
    return E_INVALIDARG;
}

std::optional<FILEDESCRIPTORA> AmigaDataObject::Descriptor(size_t index) const
{
    const ItemIdView item(items_[index].get());
    const ItemIdView first(items_[0].get());
    if (!item.IsValid() || !first.IsValid())
        return std::nullopt;

    // The path below the folder that holds the first item, so that a drawer arrives with
    // everything inside it.
    std::string_view parent = item.ParentPath();
    const std::string_view base = first.ParentPath();
    if (!base.empty()) {
        const size_t drop = base.size() + (parent.size() != base.size() ? 1 : 0);
        parent.remove_prefix(std::min(drop, parent.size()));
    }
    std::string relative(parent);
    if (!relative.empty())
        relative += '/';
    relative += item.Name();
    const std::optional<std::string> name =
        MakeWindowsName(std::string_view(relative).substr(DisplayPrefixLength(relative, kFullPathKind)));
    if (!name || name->size() >= sizeof(FILEDESCRIPTORA::cFileName))
        return std::nullopt;

    FILEDESCRIPTORA descriptor = {};
    const bool container = IsContainerKind(item.Kind());
    descriptor.dwFlags = FD_ATTRIBUTES | FD_CREATETIME | FD_ACCESSTIME | FD_WRITESTIME;
    if (!container) {
        descriptor.dwFlags |= FD_FILESIZE;
        descriptor.nFileSizeLow = item.Size();
    }
    if (item.Protection() & protection::Archived)
        descriptor.dwFileAttributes |= FILE_ATTRIBUTE_ARCHIVE;
    if (item.Protection() & protection::WriteForbidden)
        descriptor.dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
    if (container)
        descriptor.dwFileAttributes |= FILE_ATTRIBUTE_DIRECTORY;
    descriptor.ftCreationTime = descriptor.ftLastAccessTime = descriptor.ftLastWriteTime =
        item.Modified();
    std::memcpy(descriptor.cFileName, name->c_str(), name->size() + 1);
    return descriptor;
}

HRESULT AmigaDataObject::FileGroupDescriptor(STGMEDIUM& medium)
{
    if (IsClipboardObject()) {
        // Every paste starts from the selection again.
        items_.resize(topLevelCount_);
        expanded_ = false;
        cancelled_ = false;
    }
    filesToDeliver_ = 0;
    delivered_.clear();
    if (expandFolders_) {
        const HRESULT expanded = ExpandFolders();
        if (FAILED(expanded)) {
            EndTransfer();
            return expanded;
        }
    }
    if (items_.empty())
        return E_FAIL;

    std::vector<uint8_t> block;
    try {
        block.resize(sizeof(UINT) + sizeof(FILEDESCRIPTORA) * items_.size());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    auto* group = reinterpret_cast<FILEGROUPDESCRIPTORA*>(block.data());
    group->cItems = UINT(items_.size());
    for (size_t i = 0; i < items_.size(); ++i) {
        const std::optional<FILEDESCRIPTORA> descriptor = Descriptor(i);
        if (!descriptor) {
            MessageBoxById(owner_, IDS_ERR_FILE_INFO, IDS_CAPTION_ERROR, MB_OK | MB_ICONERROR,
                           ThisModule());
            EndTransfer();
            return E_FAIL;
        }
        std::memcpy(&group->fgd[i], &*descriptor, sizeof *descriptor);
        if (!(descriptor->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            ++filesToDeliver_;
    }
    const HRESULT hr = GlobalOf(block.data(), block.size(), medium);
    if (SUCCEEDED(hr) && IsClipboardObject() && !modernShell_ && expanded_ && filesToDeliver_ == 0)
        DeleteSources(effect_);
    return hr;
}

HRESULT AmigaDataObject::IdListArray(STGMEDIUM& medium) const
{
    // The selection itself: a target that moves or copies these takes their contents along,
    // so the entries a paste on the PC expanded would arrive twice.
    std::vector<const ITEMIDLIST*> lists;
    for (size_t i = 0; i < topLevelCount_ && i < items_.size(); ++i)
        lists.push_back(items_[i].get());
    const std::vector<uint8_t> block = WriteIdListArray(lists);
    if (lists.empty() || block.empty())
        return E_FAIL;
    return GlobalOf(block.data(), block.size(), medium);
}

HRESULT AmigaDataObject::FileContents(LONG index, STGMEDIUM& medium)
{
    if (index < 0 || size_t(index) >= items_.size() ||
        IsContainerKind(ItemIdView(items_[size_t(index)].get()).Kind()))
        return E_INVALIDARG;
    if (cancelled_) {
        EndTransfer();
        return HRESULT_FROM_WIN32(ERROR_CANCELLED);
    }
    if (!modernShell_)
        expandFolders_ = false;

    const bool shown = progress_.UsesShellDialog() || progress_.IsRunning();
    if (!shown || folderInfoShown_) {
        uint32_t total = 0;
        for (const UniqueIdList& item : items_)
            total += ProgressUnits(ItemIdView(item.get()));
        if (folderInfoShown_ && shown)
            progress_.Restart(IDS_PROGRESS_COPYING, IDA_COPY_TO_PC, total);
        else
            progress_.Start(IDS_PROGRESS_COPYING, IDA_COPY_TO_PC, total);
        folderInfoShown_ = false;
        nameShownAt_ = {};
    } else if (progress_.IsCancelled()) {
        EndTransfer();
        return HRESULT_FROM_WIN32(ERROR_CANCELLED);
    }

    const ItemIdView item(items_[size_t(index)].get());
    const std::optional<FILEDESCRIPTORA> descriptor = Descriptor(size_t(index));
    if (!descriptor)
        return E_FAIL;
    // The name crosses to the progress window's thread and is fitted there, which costs more
    // than a small file's read: a few names a second is as many as anyone can follow.
    const auto now = std::chrono::steady_clock::now();
    if (now - nameShownAt_ >= kNameInterval) {
        progress_.SetText(descriptor->cFileName);
        nameShownAt_ = now;
    }
    if (LogEnabled())
        LogLine("Amiga to PC transfer: \"%s\" (\"%s\") to \"%s\" (%d bytes)\n",
                std::string(item.Name()).c_str(), std::string(item.ParentPath()).c_str(),
                descriptor->cFileName, int(item.Size()));
    if (item.Size() < kProgressUnit)
        progress_.Step();
    HoldSession();

    IStream* stream = nullptr;
    const HRESULT hr = AmigaFileStream::Create(*this, size_t(index), &stream);
    if (FAILED(hr)) {
        EndTransfer();
        return hr;
    }
    medium.tymed = TYMED_ISTREAM;
    medium.pstm = stream;
    medium.pUnkForRelease = nullptr;
    return S_OK;
}

void AmigaDataObject::HoldSession()
{
    if (sessionHeld_)
        return;
    RemoteSession::Process().AddRef();
    RemoteSession::Process().KeepOpen();
    sessionHeld_ = true;
}

HRESULT AmigaDataObject::ExpandFolders()
{
    if (expanded_)
        return S_OK;
    IShellFolder* source = nullptr;
    HRESULT hr = folder_.QueryInterface(IID_IShellFolder, reinterpret_cast<void**>(&source));
    if (FAILED(hr))
        return hr;
    HoldSession();
    for (size_t i = 0; i < topLevelCount_ && SUCCEEDED(hr); ++i) {
        if (!IsContainerKind(ItemIdView(items_[i].get()).Kind()))
            continue;
        if (!progress_.UsesShellDialog() && !progress_.IsRunning()) {
            progress_.Start(IDS_PROGRESS_FOLDER_INFO, IDA_COPY_TO_PC, kFolderInfoSteps);
            progress_.Step();
            folderInfoShown_ = true;
        }
        // Cloned: the list grows while the drawer is walked.
        const UniqueIdList drawer = CloneUnique(items_[i].get());
        hr = drawer ? ExpandInto(*source, drawer.get()) : E_OUTOFMEMORY;
    }
    source->Release();
    expanded_ = SUCCEEDED(hr);
    if (!expanded_) {
        items_.resize(topLevelCount_);
        if (IsClipboardObject())
            EndTransfer();
    }
    return hr;
}

HRESULT AmigaDataObject::ExpandInto(IShellFolder& parent, const ITEMIDLIST* item)
{
    if (progress_.IsCancelled())
        return HRESULT_FROM_WIN32(ERROR_CANCELLED);
    IShellFolder* drawer = nullptr;
    HRESULT hr = parent.BindToObject(item, nullptr, IID_IShellFolder,
                                     reinterpret_cast<void**>(&drawer));
    if (FAILED(hr))
        return hr;
    IEnumIDList* walk = nullptr;
    hr = drawer->EnumObjects(owner_, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &walk);
    if (SUCCEEDED(hr) && !walk)
        hr = E_FAIL;
    ITEMIDLIST* child = nullptr;
    while (SUCCEEDED(hr) && walk->Next(1, &child, nullptr) == S_OK && child) {
        UniqueIdList owned(child);
        const bool container = IsContainerKind(ItemIdView(owned.get()).Kind());
        UniqueIdList descend = container ? CloneUnique(owned.get()) : nullptr;
        try {
            items_.push_back(std::move(owned));
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
            break;
        }
        if (container)
            hr = descend ? ExpandInto(*drawer, descend.get()) : E_OUTOFMEMORY;
    }
    if (walk)
        walk->Release();
    drawer->Release();
    return hr;
}

STDMETHODIMP AmigaDataObject::SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release)
{
    if (!format || !medium)
        return E_INVALIDARG;
    const ClipboardFormats* formats = Formats();
    if (!formats)
        return E_FAIL;
    if (medium->tymed != TYMED_HGLOBAL || !(format->tymed & TYMED_HGLOBAL))
        return E_INVALIDARG;
    const std::optional<DWORD> value = ReadDwordBlock(medium->hGlobal);
    HRESULT hr = S_OK;
    if (format->cfFormat == formats->inShellDragLoop) {
        expandFolders_ = value.value_or(0) == 0;
    } else if (format->cfFormat == formats->performedDropEffect ||
               format->cfFormat == formats->pasteSucceeded) {
        hr = DeleteSources(DropEffectOf(value.value_or(0)));
    } else {
        hr = E_INVALIDARG;
    }
    if (release && SUCCEEDED(hr))
        ReleaseStgMedium(medium);
    return hr;
}

STDMETHODIMP AmigaDataObject::EnumFormatEtc(DWORD direction, IEnumFORMATETC** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    const ClipboardFormats* formats = Formats();
    if (!formats)
        return E_FAIL;
    std::vector<FORMATETC> list;
    if (direction == DATADIR_SET) {
        list = {MakeFormatEtc(formats->inShellDragLoop), MakeFormatEtc(formats->performedDropEffect),
                MakeFormatEtc(formats->pasteSucceeded)};
    } else if (direction == DATADIR_GET) {
        list = {MakeFormatEtc(formats->fileGroupDescriptor),
                MakeFormatEtc(formats->amigaIdListArray),
                MakeFormatEtc(formats->fileContents, TYMED_ISTREAM),
                MakeFormatEtc(formats->performedDropEffect),
                MakeFormatEtc(formats->logicalPerformedDropEffect)};
        if (IsClipboardObject())
            list.push_back(MakeFormatEtc(formats->preferredDropEffect));
    } else {
        return E_INVALIDARG;
    }
    return FormatEnumerator::Create(std::move(list), out);
}

void AmigaDataObject::FileDelivered(size_t index)
{
    delivered_.insert(index);
    if (delivered_.size() < filesToDeliver_)
        return;
    if (IsClipboardObject() && !modernShell_) {
        DeleteSources(effect_);
        return;
    }
    // Everything is on the PC: the progress closes and the line is free again, even when the
    // target never reports the end of its paste.
    EndTransfer();
}

HRESULT AmigaDataObject::DeleteSources(DWORD effect)
{
    // A move whose files were not all read never deletes anything.
    if (!(effect & DROPEFFECT_MOVE) || sourceDeleted_ || !expanded_ ||
        delivered_.size() != filesToDeliver_) {
        EndTransfer();
        return S_OK;
    }
    progress_.SetText("");
    HRESULT hr = S_OK;
    for (size_t i = 0; i < topLevelCount_; ++i) {
        // A failure has shown its message; the item stays where it is.
        RemoveItemEverywhere(items_[i].get(), true);
        if (progress_.IsCancelled()) {
            hr = HRESULT_FROM_WIN32(ERROR_CANCELLED);
            break;
        }
    }
    RefreshViewsByPath(folder_.Path());
    CutSet::ClearIfCurrent(cutGeneration_);
    if (SUCCEEDED(hr))
        sourceDeleted_ = true;
    EndTransfer();
    return hr;
}

void AmigaDataObject::EndTransfer()
{
    if (progress_.IsCancelled())
        cancelled_ = true;
    progress_.Stop();
    folderInfoShown_ = false;
    if (sessionHeld_) {
        sessionHeld_ = false;
        RemoteSession::Process().EndKeepOpen();
        RemoteSession::Process().Release();
    }
    if (!modernShell_)
        expandFolders_ = false;
}

}  // namespace dm
