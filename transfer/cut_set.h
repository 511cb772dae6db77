// The items most recently cut to the clipboard. Their identifiers carry the cut mark in every
// folder that lists them and their rows are dimmed, until the cut is pasted or replaced.
#pragma once

#include <shtypes.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dm {

class CutSet {
public:
    static bool Contains(const ITEMIDLIST* item);
    // Clears the marks of the old set, then stores and marks clones of `items` (none stored when
    // out of memory). Returns the new set's generation.
    static uint64_t Replace(const std::vector<const ITEMIDLIST*>& items);
    static void Clear();
    // Clears the set only while it is still the one of `generation`: a cut that a later one
    // replaced has nothing left to clear.
    static void ClearIfCurrent(uint64_t generation);
    static size_t Count();
};

}  // namespace dm
