// Blocks that carry several ID lists at once through the clipboard and drag and drop: the
// shell's own array (a parent folder's list, then the items relative to it) and ours (items
// only, each of our identifiers being self-contained). Both come from other processes, so every
// count and offset is checked against the block's size before anything is read.
//
//   0          count N (32-bit, little-endian)
//   4          N offsets (N + 1 in the shell's array, the parent first), from the block's start
//   after      the lists, each ended by its 16-bit zero
#pragma once

#include "shell/id_list.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace dm {

enum class IdListArrayKind {
    Items,           // every offset names an item
    ParentAndItems,  // the first offset names the parent folder of the items
};

struct IdListArray {
    const ITEMIDLIST* parent = nullptr;  // ParentAndItems only
    std::vector<const ITEMIDLIST*> items;
};

// Views into `block`: none when a count, an offset or a list's terminator lies outside it.
std::optional<IdListArray> ReadIdListArray(const void* block, size_t size, IdListArrayKind kind);

// The bytes of an Items array holding `lists` in order; empty when a list is unterminated or
// the block would not fit 32-bit offsets.
std::vector<uint8_t> WriteIdListArray(const std::vector<const ITEMIDLIST*>& lists);

}  // namespace dm
