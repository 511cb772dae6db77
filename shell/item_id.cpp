#include "shell/item_id.h"

#include "core/amiga_dates.h"
#include "core/amiga_paths.h"
#include "core/messages.h"
#include "core/module.h"
#include "core/size_text.h"

#include <cstring>

namespace dm {

using namespace item_id;

namespace {

constexpr std::string_view kUnknownText = "????";

void Put16(uint8_t* out, uint16_t value)
{
    out[0] = uint8_t(value);
    out[1] = uint8_t(value >> 8);
}

void Put32(uint8_t* out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = uint8_t(value >> (8 * i));
}

uint16_t Get16(const uint8_t* in)
{
    return uint16_t(in[0] | (in[1] << 8));
}

uint32_t Get32(const uint8_t* in)
{
    return uint32_t(in[0]) | (uint32_t(in[1]) << 8) | (uint32_t(in[2]) << 16) |
           (uint32_t(in[3]) << 24);
}

std::string_view UpToNul(std::string_view text)
{
    return text.substr(0, text.find('\0'));
}

std::string SizeTextOf(ItemKind kind, uint32_t size)
{
    if (IsContainerKind(kind))
        return {};
    char text[kDisplayTextMax + 1];
    if (FormatSizeText(size, text, sizeof text, false, 1024) == 0)
        return std::string(kUnknownText);
    return text;
}

std::string TypeTextOf(ItemKind kind)
{
    return LoadStringById(TypeTextId(kind), ThisModule(), kDisplayTextMax)
        .value_or(std::string(kUnknownText));
}

std::string DateTextOf(ItemKind kind, const FILETIME& modified)
{
    char text[kDisplayTextMax + 1];
    if (FormatDateText(modified, text, sizeof text, kind == ItemKind::RomFile) == 0)
        return std::string(kUnknownText);
    return text;
}

}  // namespace

ITEMIDLIST* MakeItemId(std::string_view parentPath, std::string_view name, ItemKind kind,
                       uint32_t size, uint32_t usedSpace, uint32_t protection,
                       const FILETIME& modified, std::string_view comment, IdAllocator& allocator)
{
    if (size_t(kind) >= kTextCount)
        return nullptr;
    const std::string sizeText = SizeTextOf(kind, size);
    const std::string typeText = TypeTextOf(kind);
    const std::string dateText = DateTextOf(kind, modified);
    const std::string attributeText = dm::AttributeText(protection);
    const std::array<std::string_view, kTextCount> texts = {
        UpToNul(parentPath), UpToNul(name), UpToNul(comment), sizeText, typeText, dateText,
        attributeText};

    size_t cb = kTextsAt + kSpareBytes;
    for (std::string_view text : texts)
        cb += text.size() + 1;
    cb += cb & 1;
    if (cb > 0xFFFE)
        return nullptr;

    uint8_t* item = static_cast<uint8_t*>(allocator.Allocate(cb + 2));
    if (!item)
        return nullptr;
    std::memset(item, 0, cb + 2);  // spare bytes and the list terminator
    Put16(item, uint16_t(cb));
    item[kVersionAt] = kVersion;
    item[kKindAt] = uint8_t(kind);
    Put32(item + kSizeAt, size);
    Put32(item + kUsedSpaceAt, usedSpace);
    Put32(item + kProtectionAt, protection);
    Put32(item + kModifiedAt, modified.dwLowDateTime);
    Put32(item + kModifiedAt + 4, modified.dwHighDateTime);
    size_t offset = 0;
    for (size_t i = 0; i < kTextCount; ++i) {
        Put16(item + kOffsetsAt + 2 * i, uint16_t(offset));
        if (!texts[i].empty())
            std::memcpy(item + kTextsAt + offset, texts[i].data(), texts[i].size());
        offset += texts[i].size() + 1;
    }
    return reinterpret_cast<ITEMIDLIST*>(item);
}

ItemIdView::ItemIdView(const void* data, size_t available)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (!bytes || available < 2)
        return;
    const size_t cb = Get16(bytes);
    if (cb < kMinimumSize || cb % 2 != 0 || cb > available)
        return;
    if (bytes[kVersionAt] > kVersion || bytes[kKindAt] >= kTextCount)
        return;
    std::array<std::string_view, kTextCount> texts;
    for (size_t i = 0; i < kTextCount; ++i) {
        const size_t start = kTextsAt + Get16(bytes + kOffsetsAt + 2 * i);
        if (start >= cb)
            return;
        const void* nul = std::memchr(bytes + start, 0, cb - start);
        if (!nul)
            return;
        texts[i] = std::string_view(reinterpret_cast<const char*>(bytes + start),
                                    size_t(static_cast<const uint8_t*>(nul) - (bytes + start)));
    }
    texts_ = texts;
    data_ = bytes;
}

ItemIdView::ItemIdView(const ITEMIDLIST* item) : ItemIdView(item, item ? ReadItemSize(item) : 0) {}

uint16_t ItemIdView::ByteSize() const
{
    return data_ ? Get16(data_) : 0;
}

ItemKind ItemIdView::Kind() const
{
    return data_ ? ItemKind(data_[kKindAt]) : ItemKind::File;
}

uint32_t ItemIdView::Size() const
{
    return data_ ? Get32(data_ + kSizeAt) : 0;
}

uint32_t ItemIdView::UsedSpace() const
{
    return data_ ? Get32(data_ + kUsedSpaceAt) : 0;
}

uint32_t ItemIdView::Protection() const
{
    return data_ ? Get32(data_ + kProtectionAt) : 0;
}

FILETIME ItemIdView::Modified() const
{
    FILETIME time {};
    if (data_) {
        time.dwLowDateTime = Get32(data_ + kModifiedAt);
        time.dwHighDateTime = Get32(data_ + kModifiedAt + 4);
    }
    return time;
}

std::optional<std::string> ItemIdView::FolderPath() const
{
    if (!IsValid())
        return std::nullopt;
    return dm::FolderPath(ParentPath(), Name());
}

std::optional<RemoteItem> ItemIdView::ToRemoteItem() const
{
    if (!IsValid())
        return std::nullopt;
    RemoteItem item;
    item.parentPath = ParentPath();
    item.name = Name();
    item.kind = Kind();
    item.size = Size();
    item.usedSpace = UsedSpace();
    return item;
}

std::optional<std::string> ItemIdView::AmigaPath() const
{
    if (!IsValid())
        return std::nullopt;
    return dm::AmigaPath(ParentPath(), Name());
}

bool SetCutMark(ITEMIDLIST* item, bool cut)
{
    if (!ItemIdView(item).IsValid())
        return false;
    uint8_t* protection = reinterpret_cast<uint8_t*>(item) + kProtectionAt;
    const uint32_t value = Get32(protection);
    Put32(protection, cut ? value | kCutMark : value & ~kCutMark);
    return true;
}

}  // namespace dm
