// AmigaItemId: the self-contained identifier of one Amiga object. The shell stores it in
// shortcuts and view state, so this byte layout is fixed. All numbers are little-endian:
//
//   0  cb (2)          size without the list terminator that follows; always even
//   2  version (1)     1
//   3  kind (1)        ItemKind 0-6
//   4  size (4)        bytes, or a drive's capacity
//   8  usedSpace (4)   the record's "in use" field; 0xFFFFFFFF on a drive without a medium
//  12  protection (4)  AmigaDOS bits 0-7, cut mark 27, formattable 29, has subdrawers 31
//  16  modified (8)    FILETIME, UTC
//  24  text offsets    seven 16-bit offsets counted from byte 38, in the order of ItemText
//  38  texts           seven NUL-terminated ANSI texts, then two spare bytes (three when
//                      needed to make cb even)
#pragma once

#include "core/amiga_types.h"
#include "core/platform.h"
#include "protocol/remote_item.h"
#include "shell/id_list.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dm {

namespace item_id {
constexpr size_t kVersionAt = 2;
constexpr size_t kKindAt = 3;
constexpr size_t kSizeAt = 4;
constexpr size_t kUsedSpaceAt = 8;
constexpr size_t kProtectionAt = 12;
constexpr size_t kModifiedAt = 16;
constexpr size_t kOffsetsAt = 24;
constexpr size_t kTextsAt = 38;
constexpr size_t kTextCount = 7;
constexpr size_t kSpareBytes = 2;
// The header and seven empty texts: nothing shorter can be read.
constexpr size_t kMinimumSize = kTextsAt + kTextCount;
constexpr uint8_t kVersion = 1;

constexpr uint32_t kCutMark = 0x08000000;
// A drive whose server lets the PC choose the file system it is formatted with.
constexpr uint32_t kFileSystemChoice = 0x10000000;
constexpr uint32_t kFormattable = 0x20000000;
constexpr uint32_t kHasSubdrawers = 0x80000000;

// Display texts are cut to this many characters.
constexpr size_t kDisplayTextMax = 79;
}  // namespace item_id

enum class ItemText { ParentPath, Name, Comment, SizeText, TypeText, DateText, AttributeText };

// A new identifier followed by a list terminator, so that it is also a one-item ID list; null
// when allocation fails, the kind is out of range or the texts do not fit a 16-bit size. Texts
// end at their first NUL.
ITEMIDLIST* MakeItemId(std::string_view parentPath, std::string_view name, ItemKind kind,
                       uint32_t size, uint32_t usedSpace, uint32_t protection,
                       const FILETIME& modified, std::string_view comment,
                       IdAllocator& allocator = ShellAllocator());

// Reads an identifier that may be truncated or corrupt. Everything is checked on construction;
// an invalid view answers zeros, empty texts and no paths, and never reads past the bytes it
// was given.
class ItemIdView {
public:
    ItemIdView() = default;
    // `available` is how many bytes are known to be readable at `data`.
    ItemIdView(const void* data, size_t available);
    // The first item of a list from the shell, which vouches for its `cb` bytes.
    explicit ItemIdView(const ITEMIDLIST* item);

    bool IsValid() const { return data_ != nullptr; }

    uint16_t ByteSize() const;
    ItemKind Kind() const;
    uint32_t Size() const;
    uint32_t UsedSpace() const;
    uint32_t Protection() const;
    FILETIME Modified() const;

    bool IsCut() const { return (Protection() & item_id::kCutMark) != 0; }
    bool IsFormattable() const { return (Protection() & item_id::kFormattable) != 0; }
    bool HasSubdrawers() const { return (Protection() & item_id::kHasSubdrawers) != 0; }

    std::string_view Text(ItemText which) const { return texts_[size_t(which)]; }
    std::string_view ParentPath() const { return Text(ItemText::ParentPath); }
    std::string_view Name() const { return Text(ItemText::Name); }
    std::string_view Comment() const { return Text(ItemText::Comment); }
    std::string_view SizeText() const { return Text(ItemText::SizeText); }
    std::string_view TypeText() const { return Text(ItemText::TypeText); }
    std::string_view DateText() const { return Text(ItemText::DateText); }
    std::string_view AttributeText() const { return Text(ItemText::AttributeText); }

    // parentPath "/" name: the path a listing of this item as a folder asks for.
    std::optional<std::string> FolderPath() const;
    std::optional<RemoteItem> ToRemoteItem() const;
    // Work:Devs/file, as the user sees it; none when invalid or 260 characters or longer.
    std::optional<std::string> AmigaPath() const;

private:
    const uint8_t* data_ = nullptr;
    std::array<std::string_view, item_id::kTextCount> texts_ {};
};

// Sets or clears the cut mark of a valid identifier; false when it is not one.
bool SetCutMark(ITEMIDLIST* item, bool cut);

}  // namespace dm
