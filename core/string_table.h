// The string table compiled into native programs, generated from the resource script so that
// native and Windows builds show the same texts.
#pragma once

#include "core/platform.h"

namespace dm {

struct StringTableEntry {
    UINT id;
    const char* text;
};

// The text of string `id`, or null when the table has none.
const char* FindStringTableText(UINT id);

}  // namespace dm
