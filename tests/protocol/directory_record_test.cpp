#include "protocol/directory_record.h"
#include "protocol/byte_order.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

DirectoryEntry Entry(const std::string& name, const std::string& comment = "")
{
    DirectoryEntry e;
    e.size = 1234;
    e.inUse = 0xFFFFFFFF;
    e.protection = 0x105;
    e.date = {17000, 601, 2999};
    e.kind = ItemKind::Drawer;
    e.name = name;
    e.comment = comment;
    return e;
}

std::vector<DirectoryEntry> Parse(const std::vector<uint8_t>& listing, HRESULT& result)
{
    std::vector<DirectoryEntry> got;
    result = ParseListing(listing.data(), listing.size(), [&](const DirectoryEntry& e) {
        got.push_back(e);
        return true;
    });
    return got;
}

TEST(CreateRecord, IsZeroPaddedToAnEvenLength)
{
    const std::vector<uint8_t> even = EncodeCreateRecord(Entry("DH0:ab"));
    const std::vector<uint8_t> odd = EncodeCreateRecord(Entry("DH0:abc"));
    EXPECT_EQ(even.size(), 34u + 6);
    EXPECT_EQ(odd.size(), 34u + 7 + 1);
    EXPECT_EQ(GetBigEndian32(odd.data()), odd.size());
    EXPECT_EQ(GetBigEndian32(odd.data() + 8), 0u);  // in use is never sent
    EXPECT_EQ(odd[28], 2);
    EXPECT_EQ(std::string(odd.begin() + 29, odd.begin() + 36), "DH0:abc");
    for (size_t i = 36; i < odd.size(); ++i)
        EXPECT_EQ(odd[i], 0) << i;
}

TEST(Listing, RoundTripsWalkingByEntryLengthUntilAnEntryIsRefused)
{
    std::vector<DirectoryEntry> entries = {Entry("Devs", "system drawer"), Entry("a"),
                                           Entry("odd name", "x")};
    entries[1].kind = ItemKind::File;
    std::vector<uint8_t> listing = EncodeListing(entries);
    HRESULT result;
    std::vector<DirectoryEntry> got = Parse(listing, result);
    ASSERT_EQ(result, S_OK);
    ASSERT_EQ(got.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(got[i].name, entries[i].name);
        EXPECT_EQ(got[i].comment, entries[i].comment);
        EXPECT_EQ(got[i].kind, entries[i].kind);
        EXPECT_EQ(got[i].date, entries[i].date);
        EXPECT_EQ(got[i].protection, 0x105u);
        EXPECT_EQ(got[i].inUse, 0xFFFFFFFFu);
    }

    // Extra padding after a comment is skipped by the entry length.
    std::vector<uint8_t> padded(listing.begin(), listing.begin() + 4);
    std::vector<uint8_t> first = EncodeListingRecord(entries[0]);
    first.resize(first.size() + 10, 0xEE);
    PutBigEndian32(first.data(), uint32_t(first.size()));
    padded.insert(padded.end(), first.begin(), first.end());
    const std::vector<uint8_t> rest(listing.begin() + 4 + EncodeListingRecord(entries[0]).size(),
                                    listing.end());
    padded.insert(padded.end(), rest.begin(), rest.end());
    got = Parse(padded, result);
    EXPECT_EQ(result, S_OK);
    EXPECT_EQ(got.size(), 3u);

    got = Parse(EncodeListing({}), result);
    EXPECT_EQ(result, S_OK);
    EXPECT_TRUE(got.empty());

    // An entry the caller refuses stops the walk.
    int seen = 0;
    EXPECT_EQ(ParseListing(listing.data(), listing.size(),
                           [&](const DirectoryEntry&) { return ++seen < 2; }),
              E_FAIL);
    EXPECT_EQ(seen, 2);
}

TEST(Listing, BadRecordsEndTheWalkKeepingTheOnesBefore)
{
    const std::vector<uint8_t> good = EncodeListing({Entry("first"), Entry("second", "c")});
    const size_t second = 4 + EncodeListingRecord(Entry("first")).size();
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        size_t kept;
    };
    const Case cases[] = {
        {"entry length 0", [&](auto& l) { PutBigEndian32(&l[second], 0); }, 1},
        {"entry length past the end", [&](auto& l) { PutBigEndian32(&l[second], 4000); }, 1},
        {"entry length below the fields", [&](auto& l) { PutBigEndian32(&l[second], 30); }, 1},
        {"count beyond the records", [&](auto& l) { PutBigEndian32(&l[0], 3); }, 2},
        {"count in the billions", [&](auto& l) { PutBigEndian32(&l[0], 0xFFFFFFFF); }, 2},
        {"unknown kind", [&](auto& l) { l[second + 28] = 7; }, 1},
        {"name without terminator",
         [&](auto& l) {
             l.resize(second + 29 + 6);
             PutBigEndian32(&l[second], 35);
             std::fill(l.begin() + long(second) + 29, l.end(), 'n');
         },
         1},
        {"comment without terminator",
         [&](auto& l) {
             l.back() = 'x';
             l[l.size() - 2] = 'x';
         },
         1},
        {"truncated count", [&](auto& l) { l.resize(3); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> listing = good;
        c.damage(listing);
        HRESULT result;
        const std::vector<DirectoryEntry> got = Parse(listing, result);
        EXPECT_EQ(result, E_FAIL);
        EXPECT_EQ(got.size(), c.kept);
    }
}

}  // namespace
}  // namespace dm
