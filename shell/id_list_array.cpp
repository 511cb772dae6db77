#include "shell/id_list_array.h"

#include <cstring>
#include <limits>

namespace dm {

namespace {

uint32_t ReadLittle32(const uint8_t* bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

void PutLittle32(uint8_t* bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = uint8_t(value >> (8 * i));
}

}  // namespace

std::optional<IdListArray> ReadIdListArray(const void* block, size_t size, IdListArrayKind kind)
{
    const auto* bytes = static_cast<const uint8_t*>(block);
    if (!bytes || size < 4)
        return std::nullopt;
    const uint64_t count = ReadLittle32(bytes);
    const uint64_t offsets = count + (kind == IdListArrayKind::ParentAndItems ? 1 : 0);
    if (4 + offsets * 4 > size)
        return std::nullopt;
    IdListArray result;
    try {
        result.items.reserve(size_t(count));
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    for (uint64_t i = 0; i < offsets; ++i) {
        const uint32_t offset = ReadLittle32(bytes + 4 + i * 4);
        // A list needs at least its terminator inside the block.
        if (offset > size - 2)
            return std::nullopt;
        const auto* list = reinterpret_cast<const ITEMIDLIST*>(bytes + offset);
        if (IdListSize(list, size - offset) == 0)
            return std::nullopt;
        if (kind == IdListArrayKind::ParentAndItems && i == 0)
            result.parent = list;
        else
            result.items.push_back(list);
    }
    return result;
}

std::vector<uint8_t> WriteIdListArray(const std::vector<const ITEMIDLIST*>& lists)
{
    uint64_t total = 4 + uint64_t(lists.size()) * 4;
    for (const ITEMIDLIST* list : lists) {
        const size_t listSize = IdListSize(list);
        if (listSize == 0)
            return {};
        total += listSize;
    }
    if (total > std::numeric_limits<uint32_t>::max())
        return {};
    std::vector<uint8_t> block(size_t(total), 0);
    PutLittle32(block.data(), uint32_t(lists.size()));
    uint32_t at = uint32_t(4 + lists.size() * 4);
    for (size_t i = 0; i < lists.size(); ++i) {
        const size_t listSize = IdListSize(lists[i]);
        PutLittle32(block.data() + 4 + i * 4, at);
        std::memcpy(block.data() + at, lists[i], listSize);
        at += uint32_t(listSize);
    }
    return block;
}

}  // namespace dm
