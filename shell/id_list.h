// Shell ID lists: item identifiers one after another, each starting with its 16-bit size `cb`,
// ended by a 16-bit zero. Lists are read as bytes (other namespaces' items may have odd sizes,
// so `cb` fields are not necessarily aligned) and no walk goes further than a known bound.
#pragma once

#include "core/platform.h"
#include "shell/shell_allocator.h"

#include <cstdint>
#include <initializer_list>
#include <span>

#ifdef _WIN32
#  include <shtypes.h>
#else
struct ITEMIDLIST;  // only ever handled through pointers
#endif

namespace dm {

// A list longer than this is taken to have lost its terminator.
constexpr size_t kMaxIdListBytes = 0x10000;

inline uint16_t ReadItemSize(const void* item)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(item);
    return uint16_t(bytes[0] | (bytes[1] << 8));
}

// Bytes of the list including its terminator; 0 when null, or when no terminator lies within
// `maxBytes` bytes (or an item claims less than its own size field).
size_t IdListSize(const ITEMIDLIST* list, size_t maxBytes = kMaxIdListBytes);

// A copy in one allocation; null when allocation fails or the list has no terminator in bound.
ITEMIDLIST* CloneIdList(const ITEMIDLIST* list, IdAllocator& allocator = ShellAllocator());

// The lists one after the other with a single terminator; null inputs contribute nothing. Null
// when allocation fails, an input is unterminated, or the result would exceed the bound.
ITEMIDLIST* ConcatIdLists(std::span<const ITEMIDLIST* const> lists,
                          IdAllocator& allocator = ShellAllocator());
ITEMIDLIST* ConcatIdLists(std::initializer_list<const ITEMIDLIST*> lists,
                          IdAllocator& allocator = ShellAllocator());

// The last identifier; the list itself when it has one item or none, or is null. Null when the
// list has no terminator within `maxBytes`.
const ITEMIDLIST* LastIdListItem(const ITEMIDLIST* list, size_t maxBytes = kMaxIdListBytes);

void FreeIdList(ITEMIDLIST* list, IdAllocator& allocator = ShellAllocator());

// A new array of clones, all or nothing: when one clone fails the others and the array are
// freed and the result is null. Null entries stay null.
ITEMIDLIST** CloneIdListArray(std::span<const ITEMIDLIST* const> lists,
                              IdAllocator& allocator = ShellAllocator());

// Frees each non-null list, then the array.
void FreeIdListArray(ITEMIDLIST** lists, size_t count, IdAllocator& allocator = ShellAllocator());

}  // namespace dm
