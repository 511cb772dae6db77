#include "transfer/clipboard_formats.h"

#include <mutex>

namespace dm {

const ClipboardFormats* Formats()
{
    static ClipboardFormats formats;
    static bool registered = false;
    static std::once_flag once;
    std::call_once(once, [] {
        struct Entry {
            CLIPFORMAT* format;
            const char* name;
        } entries[] = {
            {&formats.fileGroupDescriptor, "FileGroupDescriptor"},
            {&formats.fileContents, "FileContents"},
            {&formats.amigaIdListArray, "Drovemark IDList Array"},
            {&formats.shellIdListArray, "Shell IDList Array"},
            {&formats.preferredDropEffect, "Preferred DropEffect"},
            {&formats.performedDropEffect, "Performed DropEffect"},
            {&formats.logicalPerformedDropEffect, "Logical Performed DropEffect"},
            {&formats.pasteSucceeded, "Paste Succeeded"},
            {&formats.inShellDragLoop, "InShellDragLoop"},
        };
        registered = true;
        for (const Entry& entry : entries) {
            *entry.format = CLIPFORMAT(RegisterClipboardFormatA(entry.name));
            registered = registered && *entry.format != 0;
        }
    });
    return registered ? &formats : nullptr;
}

FORMATETC MakeFormatEtc(CLIPFORMAT format, DWORD media, LONG index)
{
    FORMATETC etc = {};
    etc.cfFormat = format;
    etc.ptd = nullptr;
    etc.dwAspect = DVASPECT_CONTENT;
    etc.lindex = index;
    etc.tymed = media;
    return etc;
}

HGLOBAL MakeDwordBlock(DWORD value)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof value);
    if (!block)
        return nullptr;
    if (auto* bytes = static_cast<DWORD*>(GlobalLock(block))) {
        *bytes = value;
        GlobalUnlock(block);
        return block;
    }
    GlobalFree(block);
    return nullptr;
}

std::optional<DWORD> ReadDwordBlock(HGLOBAL block)
{
    if (!block || GlobalSize(block) < sizeof(DWORD))
        return std::nullopt;
    const auto* bytes = static_cast<const DWORD*>(GlobalLock(block));
    if (!bytes)
        return std::nullopt;
    const DWORD value = *bytes;
    GlobalUnlock(block);
    return value;
}

DWORD DropEffectOf(DWORD value)
{
    return value == 0xFFFFFFFFu ? 0 : (value & 0xFF);
}

std::optional<DWORD> GetDwordData(IDataObject& object, CLIPFORMAT format)
{
    FORMATETC etc = MakeFormatEtc(format);
    STGMEDIUM medium = {};
    if (FAILED(object.GetData(&etc, &medium)))
        return std::nullopt;
    std::optional<DWORD> value;
    if (medium.tymed == TYMED_HGLOBAL)
        value = ReadDwordBlock(medium.hGlobal);
    ReleaseStgMedium(&medium);
    return value;
}

HRESULT SetDwordData(IDataObject& object, CLIPFORMAT format, DWORD value)
{
    FORMATETC etc = MakeFormatEtc(format);
    STGMEDIUM medium = {};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = MakeDwordBlock(value);
    if (!medium.hGlobal)
        return E_OUTOFMEMORY;
    const HRESULT hr = object.SetData(&etc, &medium, FALSE);
    GlobalFree(medium.hGlobal);
    return hr;
}

}  // namespace dm
