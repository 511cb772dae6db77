#include "protocol/directory_record.h"

#include "core/amiga_names.h"
#include "protocol/byte_order.h"

#include <cstring>

namespace dm {

namespace {

void PutFixedFields(uint8_t* out, uint32_t entryLength, const DirectoryEntry& entry)
{
    PutBigEndian32(out + 0, entryLength);
    PutBigEndian32(out + 4, entry.size);
    PutBigEndian32(out + 8, entry.inUse);
    PutBigEndian32(out + 12, entry.protection);
    PutBigEndian32(out + 16, uint32_t(entry.date.days));
    PutBigEndian32(out + 20, uint32_t(entry.date.minutes));
    PutBigEndian32(out + 24, uint32_t(entry.date.ticks));
    out[28] = uint8_t(entry.kind);
}

}  // namespace

std::vector<uint8_t> EncodeCreateRecord(const DirectoryEntry& entry)
{
    const uint32_t nameLength = uint32_t(entry.name.size());
    const uint32_t entryLength = 34 + nameLength + (nameLength & 1);
    std::vector<uint8_t> record(entryLength, 0);
    DirectoryEntry sent = entry;
    sent.inUse = 0;
    PutFixedFields(record.data(), entryLength, sent);
    std::memcpy(&record[kRecordFixedSize], entry.name.data(), nameLength);
    return record;  // the name's terminator, the empty comment and the padding are the zeros
}

std::vector<uint8_t> EncodeListingRecord(const DirectoryEntry& entry)
{
    const uint32_t texts = uint32_t(entry.name.size() + 1 + entry.comment.size() + 1);
    uint32_t entryLength = kRecordFixedSize + texts;
    entryLength += entryLength & 1;
    std::vector<uint8_t> record(entryLength, 0);
    PutFixedFields(record.data(), entryLength, entry);
    std::memcpy(&record[kRecordFixedSize], entry.name.data(), entry.name.size());
    std::memcpy(&record[kRecordFixedSize + entry.name.size() + 1], entry.comment.data(),
                entry.comment.size());
    return record;
}

std::vector<uint8_t> EncodeListing(const std::vector<DirectoryEntry>& entries)
{
    std::vector<uint8_t> listing(4);
    PutBigEndian32(listing.data(), uint32_t(entries.size()));
    for (const DirectoryEntry& entry : entries) {
        const std::vector<uint8_t> record = EncodeListingRecord(entry);
        listing.insert(listing.end(), record.begin(), record.end());
    }
    return listing;
}

bool DecodeRecord(const uint8_t* data, size_t size, DirectoryEntry& entry, uint32_t& entryLength)
{
    if (size < kRecordFixedSize + 2)
        return false;
    entryLength = GetBigEndian32(data);
    if (entryLength < kRecordFixedSize + 2 || entryLength > size)
        return false;
    if (data[28] > uint8_t(ItemKind::HdfFile))
        return false;
    const char* texts = reinterpret_cast<const char*>(data + kRecordFixedSize);
    const size_t room = entryLength - kRecordFixedSize;
    const void* nameEnd = std::memchr(texts, 0, room);
    if (!nameEnd)
        return false;
    const size_t nameLength = size_t(static_cast<const char*>(nameEnd) - texts);
    const char* comment = texts + nameLength + 1;
    const size_t commentRoom = room - nameLength - 1;
    const void* commentEnd = commentRoom > 0 ? std::memchr(comment, 0, commentRoom) : nullptr;
    if (!commentEnd)
        return false;

    entry.size = GetBigEndian32(data + 4);
    entry.inUse = GetBigEndian32(data + 8);
    entry.protection = GetBigEndian32(data + 12);
    entry.date.days = int32_t(GetBigEndian32(data + 16));
    entry.date.minutes = int32_t(GetBigEndian32(data + 20));
    entry.date.ticks = int32_t(GetBigEndian32(data + 24));
    entry.kind = ItemKind(data[28]);
    entry.name.assign(texts, nameLength);
    entry.comment.assign(comment, static_cast<const char*>(commentEnd) - comment);
    return true;
}

HRESULT ParseListing(const uint8_t* data, size_t size,
                     const std::function<bool(const DirectoryEntry&)>& sink)
{
    if (size < 4)
        return E_FAIL;
    const uint32_t count = GetBigEndian32(data);
    size_t at = 4;
    for (uint32_t i = 0; i < count; ++i) {
        DirectoryEntry entry;
        uint32_t entryLength = 0;
        if (!DecodeRecord(data + at, size - at, entry, entryLength) ||
            !IsPossibleAmigaName(entry.name))
            return E_FAIL;
        if (!sink(entry))
            return E_FAIL;
        at += entryLength;
    }
    return S_OK;
}

}  // namespace dm
