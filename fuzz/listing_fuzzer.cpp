// Whatever a server sends as a directory listing is walked without reading out of bounds.
#include "protocol/directory_record.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size_t names = 0;
    dm::ParseListing(data, size, [&](const dm::DirectoryEntry& entry) {
        names += entry.name.size() + entry.comment.size();
        return names < (1u << 20);
    });
    dm::DirectoryEntry entry;
    uint32_t length = 0;
    dm::DecodeRecord(data, size, entry, length);
    return 0;
}
