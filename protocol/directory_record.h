// The wire record of one remote object, in a directory listing and in a create request:
// big-endian integers, then the NUL-terminated name and comment, padded to the entry length.
#pragma once

#include "core/amiga_types.h"
#include "core/platform.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace dm {

constexpr uint32_t kRecordFixedSize = 29;  // the fields before the name

// The record of a create request: entry length 34 + name length, plus 1 when that is odd,
// zero-filled; the comment is always empty.
std::vector<uint8_t> EncodeCreateRecord(const DirectoryEntry& entry);

// One listing record as a server sends it: texts padded to an even entry length.
std::vector<uint8_t> EncodeListingRecord(const DirectoryEntry& entry);

// A whole listing: the count, then the records.
std::vector<uint8_t> EncodeListing(const std::vector<DirectoryEntry>& entries);

// One record at the start of `data`. False when it does not fit in `size` bytes: an entry length
// too short for its fields or past the end, an unknown kind, or a text without its terminator
// inside the entry.
bool DecodeRecord(const uint8_t* data, size_t size, DirectoryEntry& entry, uint32_t& entryLength);

// Walks a listing by entry lengths, handing each record to `sink`. E_FAIL on the first bad
// record (a name no Amiga can give included) or a count beyond the records present, or when
// the sink refuses one; the records
// before it have been handed over.
HRESULT ParseListing(const uint8_t* data, size_t size,
                     const std::function<bool(const DirectoryEntry&)>& sink);

}  // namespace dm
