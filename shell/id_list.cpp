#include "shell/id_list.h"

#include <cstring>

namespace dm {

namespace {

const uint8_t* Bytes(const ITEMIDLIST* list)
{
    return reinterpret_cast<const uint8_t*>(list);
}

}  // namespace

size_t IdListSize(const ITEMIDLIST* list, size_t maxBytes)
{
    if (!list)
        return 0;
    const uint8_t* bytes = Bytes(list);
    size_t offset = 0;
    while (offset + 2 <= maxBytes) {
        const uint16_t cb = ReadItemSize(bytes + offset);
        if (cb == 0)
            return offset + 2;
        if (cb < 2)
            return 0;
        offset += cb;
    }
    return 0;
}

ITEMIDLIST* CloneIdList(const ITEMIDLIST* list, IdAllocator& allocator)
{
    const size_t size = IdListSize(list);
    if (size == 0)
        return nullptr;
    void* copy = allocator.Allocate(size);
    if (copy)
        std::memcpy(copy, list, size);
    return static_cast<ITEMIDLIST*>(copy);
}

ITEMIDLIST* ConcatIdLists(std::span<const ITEMIDLIST* const> lists, IdAllocator& allocator)
{
    size_t total = 2;
    for (const ITEMIDLIST* list : lists) {
        if (!list)
            continue;
        const size_t size = IdListSize(list);
        if (size == 0)
            return nullptr;
        total += size - 2;
    }
    if (total > kMaxIdListBytes)
        return nullptr;

    uint8_t* result = static_cast<uint8_t*>(allocator.Allocate(total));
    if (!result)
        return nullptr;
    size_t offset = 0;
    for (const ITEMIDLIST* list : lists) {
        if (!list)
            continue;
        const size_t items = IdListSize(list) - 2;
        std::memcpy(result + offset, list, items);
        offset += items;
    }
    result[offset] = 0;
    result[offset + 1] = 0;
    return reinterpret_cast<ITEMIDLIST*>(result);
}

ITEMIDLIST* ConcatIdLists(std::initializer_list<const ITEMIDLIST*> lists, IdAllocator& allocator)
{
    return ConcatIdLists(std::span<const ITEMIDLIST* const>(lists.begin(), lists.size()),
                         allocator);
}

const ITEMIDLIST* LastIdListItem(const ITEMIDLIST* list, size_t maxBytes)
{
    if (!list)
        return nullptr;
    if (IdListSize(list, maxBytes) == 0)
        return nullptr;
    const uint8_t* bytes = Bytes(list);
    size_t last = 0;
    size_t offset = 0;
    for (uint16_t cb; (cb = ReadItemSize(bytes + offset)) != 0; offset += cb)
        last = offset;
    return reinterpret_cast<const ITEMIDLIST*>(bytes + last);
}

void FreeIdList(ITEMIDLIST* list, IdAllocator& allocator)
{
    if (list)
        allocator.Free(list);
}

ITEMIDLIST** CloneIdListArray(std::span<const ITEMIDLIST* const> lists, IdAllocator& allocator)
{
    // At least one slot, so that an empty array is not mistaken for a failed allocation.
    const size_t bytes = (lists.empty() ? 1 : lists.size()) * sizeof(ITEMIDLIST*);
    ITEMIDLIST** array = static_cast<ITEMIDLIST**>(allocator.Allocate(bytes));
    if (!array)
        return nullptr;
    std::memset(array, 0, bytes);
    for (size_t i = 0; i < lists.size(); ++i) {
        if (!lists[i])
            continue;
        array[i] = CloneIdList(lists[i], allocator);
        if (!array[i]) {
            FreeIdListArray(array, i, allocator);
            return nullptr;
        }
    }
    return array;
}

void FreeIdListArray(ITEMIDLIST** lists, size_t count, IdAllocator& allocator)
{
    if (!lists)
        return;
    for (size_t i = 0; i < count; ++i)
        FreeIdList(lists[i], allocator);
    allocator.Free(lists);
}

}  // namespace dm
