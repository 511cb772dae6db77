// The clipboard formats of transfers, registered by name once per process, and the small blocks
// several of them carry. Each format is read and written here only.
#pragma once

#include <windows.h>

#include <objidl.h>

#include <optional>

namespace dm {

struct ClipboardFormats {
    CLIPFORMAT fileGroupDescriptor = 0;
    CLIPFORMAT fileContents = 0;
    CLIPFORMAT amigaIdListArray = 0;  // "Drovemark IDList Array"
    CLIPFORMAT shellIdListArray = 0;  // "Shell IDList Array"
    CLIPFORMAT preferredDropEffect = 0;
    CLIPFORMAT performedDropEffect = 0;
    CLIPFORMAT logicalPerformedDropEffect = 0;
    CLIPFORMAT pasteSucceeded = 0;
    CLIPFORMAT inShellDragLoop = 0;
};

// Null when any name could not be registered.
const ClipboardFormats* Formats();

// The format record of a global-memory (or, for "FileContents", stream) request: no target
// device, content aspect.
FORMATETC MakeFormatEtc(CLIPFORMAT format, DWORD media = TYMED_HGLOBAL, LONG index = -1);

// A new movable 4-byte block holding `value`; null when out of memory.
HGLOBAL MakeDwordBlock(DWORD value);
// The first 4 bytes of a block; none when it is smaller or cannot be locked.
std::optional<DWORD> ReadDwordBlock(HGLOBAL block);

// A drop effect as a target or a source reports it: the low byte, all ones counting as none.
DWORD DropEffectOf(DWORD value);

// A global-memory request answered by `object`, read as a 32-bit value.
std::optional<DWORD> GetDwordData(IDataObject& object, CLIPFORMAT format);
// Hands a 32-bit value to `object` as global memory (the block is freed here afterwards).
HRESULT SetDwordData(IDataObject& object, CLIPFORMAT format, DWORD value);

}  // namespace dm
