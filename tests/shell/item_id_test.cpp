#include "shell/item_id.h"

#include "core/amiga_dates.h"
#include "shell/counting_allocator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace dm {
namespace {

using namespace item_id;

uint16_t Raw16(const uint8_t* at)
{
    return uint16_t(at[0] | (at[1] << 8));
}

uint32_t Raw32(const uint8_t* at)
{
    return uint32_t(at[0]) | (uint32_t(at[1]) << 8) | (uint32_t(at[2]) << 16) |
           (uint32_t(at[3]) << 24);
}

// An identifier made with its own allocator, freed at the end of the test.
struct Built {
    CountingAllocator allocator;
    ITEMIDLIST* item = nullptr;
    ~Built() { FreeIdList(item, allocator); }
    const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(item); }
    std::vector<uint8_t> Copy() const { return {Bytes(), Bytes() + Raw16(Bytes())}; }
};

const FILETIME kModified = MakeFileTime(133520507400000000ull);  // 2024-02-11

std::unique_ptr<Built> Make(std::string_view parent, std::string_view name, ItemKind kind,
                            uint32_t size = 0, uint32_t protection = 0,
                            std::string_view comment = {}, FILETIME modified = kModified)
{
    auto built = std::make_unique<Built>();
    built->item = MakeItemId(parent, name, kind, size, 0x1234, protection, modified, comment,
                             built->allocator);
    return built;
}

std::string DateText(FILETIME time, bool dateOnly)
{
    char text[80];
    return FormatDateText(time, text, sizeof text, dateOnly) ? text : "";
}

TEST(ItemIdLayout, HeaderTextsAndTerminatorSitAtTheirFixedOffsets)
{
    const uint32_t protection = kHasSubdrawers | kFormattable | protection::Archived |
                                protection::WriteForbidden | protection::DeleteForbidden;
    // "a" and "ab" give text totals of both parities, so both paddings are seen.
    for (std::string_view name : {"a", "ab"}) {
        SCOPED_TRACE(std::string(name));
        const auto built = Make("DH0:Work", name, ItemKind::File, 1234, protection, "hello");
        ASSERT_NE(built->item, nullptr);
        const uint8_t* id = built->Bytes();

        EXPECT_EQ(id[kVersionAt], 1);
        EXPECT_EQ(id[kKindAt], uint8_t(ItemKind::File));
        EXPECT_EQ(Raw32(id + kSizeAt), 1234u);
        EXPECT_EQ(Raw32(id + kUsedSpaceAt), 0x1234u);
        EXPECT_EQ(Raw32(id + kProtectionAt), protection);
        EXPECT_EQ(Raw32(id + kModifiedAt), kModified.dwLowDateTime);
        EXPECT_EQ(Raw32(id + kModifiedAt + 4), kModified.dwHighDateTime);

        const std::string expected[kTextCount] = {
            "DH0:Work", std::string(name),          "hello", "2KB",
            "File",     DateText(kModified, false), "ARE"};
        size_t offset = 0, total = 0;
        for (size_t i = 0; i < kTextCount; ++i) {
            EXPECT_EQ(Raw16(id + kOffsetsAt + 2 * i), offset) << "text " << i;
            EXPECT_STREQ(
                reinterpret_cast<const char*>(id + kTextsAt + Raw16(id + kOffsetsAt + 2 * i)),
                expected[i].c_str());
            offset += expected[i].size() + 1;
            total += expected[i].size();
        }
        const size_t cb = Raw16(id);
        EXPECT_EQ(cb % 2, 0u);
        EXPECT_EQ(cb, (47 + total + 1) / 2 * 2);
        for (size_t at = kTextsAt + offset; at < cb + 2; ++at)
            EXPECT_EQ(id[at], 0) << "spare or terminator byte " << at;
        EXPECT_EQ(IdListSize(built->item), cb + 2);
    }
}

// Sizes round up to whole kilobytes for file kinds only, a ROM's date has no time, and the
// type follows the kind table ("HDF File" is string 418; 514 would be a dialog caption).
TEST(ItemIdTexts, SizeDateAndTypeFollowTheKind)
{
    const std::string dateOnly = DateText(kModified, true), full = DateText(kModified, false);
    ASSERT_NE(dateOnly, full);
    const struct {
        ItemKind kind;
        uint32_t size;
        const char *sizeText, *typeText;
        bool dateOnly;
    } cases[] = {{ItemKind::Volume, 4096, "", "Volume", false},
                 {ItemKind::Floppy, 901120, "", "Floppy", false},
                 {ItemKind::Drawer, 4096, "", "Drawer", false},
                 {ItemKind::File, 0, "0KB", "File", false},
                 {ItemKind::RomFile, 1, "1KB", "ROM File", true},
                 {ItemKind::AdfFile, 901120, "880KB", "ADF File", false},
                 {ItemKind::HdfFile, 1048577, "1,025KB", "HDF File", false}};
    for (const auto& c : cases) {
        const auto built = Make("", "x", c.kind, c.size);
        const ItemIdView view(built->item);
        EXPECT_EQ(view.SizeText(), c.sizeText) << c.typeText;
        EXPECT_EQ(view.TypeText(), c.typeText);
        EXPECT_EQ(view.DateText(), c.dateOnly ? dateOnly : full) << c.typeText;
    }
    // A date the system cannot show.
    const FILETIME unformattable = MakeFileTime(~0ull);
    ASSERT_EQ(DateText(unformattable, false), "");
    EXPECT_EQ(ItemIdView(Make("", "f", ItemKind::File, 0, 0, {}, unformattable)->item).DateText(),
              "????");
}

TEST(ItemIdMaking, RefusesWhatCannotBeStoredAndFailedAllocations)
{
    EXPECT_EQ(Make("", "x", ItemKind(7))->item, nullptr);
    EXPECT_EQ(Make(std::string(70000, 'p'), "x", ItemKind::File)->item, nullptr);

    CountingAllocator failing(1);
    EXPECT_EQ(MakeItemId("", "x", ItemKind::File, 0, 0, 0, kModified, "", failing), nullptr);
    EXPECT_EQ(failing.Outstanding(), 0u);

    // A text ends at its first NUL, as on the wire.
    const auto built = Make("", "x", ItemKind::File, 0, 0, std::string_view("abc\0def", 7));
    EXPECT_EQ(ItemIdView(built->item).Comment(), "abc");
}

void SetCb(std::vector<uint8_t>& id, size_t cb)
{
    id[0] = uint8_t(cb);
    id[1] = uint8_t(cb >> 8);
}

void SetOffset(std::vector<uint8_t>& id, ItemText text, uint16_t offset)
{
    id[kOffsetsAt + 2 * size_t(text)] = uint8_t(offset);
    id[kOffsetsAt + 2 * size_t(text) + 1] = uint8_t(offset >> 8);
}

const char* const kDamages[] = {"cb below the header and empty texts",
                                "cb odd",
                                "cb beyond the bytes available",
                                "cb zero",
                                "header cut short",
                                "only one byte",
                                "nothing",
                                "version 2",
                                "kind 7",
                                "offset at cb",
                                "offset far outside",
                                "last text without terminator"};

void Damage(std::vector<uint8_t>& id, size_t which)
{
    switch (which) {
    case 0: id.resize(44), SetCb(id, 44); break;
    case 1: SetCb(id, id.size() - 1), id.resize(id.size() - 1); break;
    case 2: id.resize(id.size() - 2); break;
    case 3: SetCb(id, 0); break;
    case 4: id.resize(20); break;
    case 5: id.resize(1); break;
    case 6: id.clear(); break;
    case 7: id[kVersionAt] = 2; break;
    case 8: id[kKindAt] = 7; break;
    case 9: SetOffset(id, ItemText::DateText, uint16_t(id.size() - kTextsAt)); break;
    case 10: SetOffset(id, ItemText::Name, 0xFFFF); break;
    case 11: {
        const size_t start = kTextsAt + (id[36] | (id[37] << 8));
        std::memset(id.data() + start, 'x', id.size() - start);
    }
    }
}

// Each case damages a good identifier; the view gets exactly the bytes that remain, on the
// heap, so that a read past them is caught by AddressSanitizer.
TEST(ItemIdValidation, DamagedIdentifiersAreRefusedWithinTheirBytesAndForeignOnesToo)
{
    const auto built = Make("DH0:Work", "file", ItemKind::File, 100, 0, "comment");
    ASSERT_TRUE(ItemIdView(built->Copy().data(), built->Copy().size()).IsValid());
    for (size_t which = 0; which < std::size(kDamages); ++which) {
        SCOPED_TRACE(kDamages[which]);
        std::vector<uint8_t> id = built->Copy();
        Damage(id, which);
        const std::unique_ptr<uint8_t[]> exact(new uint8_t[id.size() + (id.empty() ? 1 : 0)]);
        std::memcpy(exact.get(), id.data(), id.size());

        const ItemIdView view(exact.get(), id.size());
        EXPECT_FALSE(view.IsValid());
        EXPECT_EQ(view.Name(), "");
        EXPECT_EQ(view.Size(), 0u);
        EXPECT_FALSE(view.FolderPath());
        EXPECT_FALSE(view.AmigaPath());
        EXPECT_FALSE(view.ToRemoteItem());
    }

    // An older version is read; an empty list or another namespace's item is not ours.
    std::vector<uint8_t> id = Make("", "DF0:", ItemKind::Floppy)->Copy();
    id[kVersionAt] = 0;
    EXPECT_TRUE(ItemIdView(id.data(), id.size()).IsValid());

    const uint8_t emptyList[2] = {0, 0};
    EXPECT_FALSE(ItemIdView(reinterpret_cast<const ITEMIDLIST*>(emptyList)).IsValid());
    EXPECT_FALSE(ItemIdView(static_cast<const ITEMIDLIST*>(nullptr)).IsValid());
    uint8_t foreign[22] = {20, 0, 0x1F, 0x50};  // another namespace's 20-byte item
    EXPECT_FALSE(ItemIdView(reinterpret_cast<const ITEMIDLIST*>(foreign)).IsValid());
    EXPECT_FALSE(SetCutMark(reinterpret_cast<ITEMIDLIST*>(foreign), true));
    EXPECT_EQ(foreign[15], 0);
}

}  // namespace
}  // namespace dm
