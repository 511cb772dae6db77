#include "shell/id_list.h"

#include "shell/counting_allocator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace dm {
namespace {

// A list of items with the given sizes (odd ones too, as other namespaces make), each filled
// with a byte of its own, and the terminator unless told otherwise.
std::vector<uint8_t> ListBytes(std::vector<uint16_t> sizes, bool terminated = true)
{
    std::vector<uint8_t> bytes;
    uint8_t fill = 0x41;
    for (uint16_t cb : sizes) {
        bytes.push_back(uint8_t(cb));
        bytes.push_back(uint8_t(cb >> 8));
        bytes.insert(bytes.end(), cb - 2u, fill++);
    }
    if (terminated)
        bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

// The bytes on the heap with nothing after them, so that a walk past them is caught.
struct HeapList {
    explicit HeapList(const std::vector<uint8_t>& bytes)
        : size(bytes.size()), data(new uint8_t[bytes.size()])
    {
        std::memcpy(data.get(), bytes.data(), size);
    }
    const ITEMIDLIST* get() const { return reinterpret_cast<const ITEMIDLIST*>(data.get()); }
    size_t size;
    std::unique_ptr<uint8_t[]> data;
};

std::vector<uint8_t> BytesOf(const ITEMIDLIST* list)
{
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(list);
    return {bytes, bytes + IdListSize(list)};
}

TEST(IdListWalk, SizesLastItemsAndCopiesStayInsideTheirBound)
{
    const HeapList three(ListBytes({6, 5, 8}));
    EXPECT_EQ(IdListSize(three.get(), three.size), three.size);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(LastIdListItem(three.get(), three.size)),
              three.data.get() + 11);

    const HeapList one(ListBytes({4}));
    EXPECT_EQ(LastIdListItem(one.get()), one.get());
    const HeapList empty(ListBytes({}));
    EXPECT_EQ(IdListSize(empty.get()), 2u);
    EXPECT_EQ(LastIdListItem(empty.get()), empty.get());
    EXPECT_EQ(IdListSize(nullptr), 0u);
    EXPECT_EQ(LastIdListItem(nullptr), nullptr);

    const HeapList unterminated(ListBytes({6, 6}, false));
    EXPECT_EQ(IdListSize(unterminated.get(), unterminated.size), 0u);
    EXPECT_EQ(LastIdListItem(unterminated.get(), unterminated.size), nullptr);
    const HeapList selfLooping(ListBytes({6, 6}));
    selfLooping.data[6] = 1;  // an item claiming one byte, less than its own size field
    EXPECT_EQ(IdListSize(selfLooping.get(), selfLooping.size), 0u);

    // Exactly the default bound, filled with 256-byte items and no terminator.
    const HeapList endless(ListBytes(std::vector<uint16_t>(kMaxIdListBytes / 256, 256), false));
    ASSERT_EQ(endless.size, kMaxIdListBytes);
    CountingAllocator allocator;
    EXPECT_EQ(CloneIdList(endless.get(), allocator), nullptr);
    EXPECT_EQ(ConcatIdLists({endless.get()}, allocator), nullptr);
    EXPECT_EQ(LastIdListItem(endless.get()), nullptr);
    EXPECT_EQ(allocator.Outstanding(), 0u);
}

TEST(IdListCopies, CloneAndConcatenateKeepOneTerminator)
{
    CountingAllocator allocator;
    const HeapList a(ListBytes({6, 5})), b(ListBytes({4}));

    ITEMIDLIST* clone = CloneIdList(a.get(), allocator);
    ASSERT_NE(clone, nullptr);
    EXPECT_NE(clone, a.get());
    EXPECT_EQ(BytesOf(clone), ListBytes({6, 5}));

    const ITEMIDLIST* lists[] = {a.get(), nullptr, b.get(), a.get()};
    ITEMIDLIST* joined = ConcatIdLists(lists, allocator);
    ASSERT_NE(joined, nullptr);
    std::vector<uint8_t> expected;
    for (const HeapList* part : {&a, &b, &a})
        expected.insert(expected.end(), part->data.get(), part->data.get() + part->size - 2);
    expected.insert(expected.end(), {0, 0});
    EXPECT_EQ(BytesOf(joined), expected);

    ITEMIDLIST* nothing = ConcatIdLists({nullptr, nullptr}, allocator);
    EXPECT_EQ(BytesOf(nothing), ListBytes({}));

    CountingAllocator failClone(1), failConcat(1);
    EXPECT_EQ(CloneIdList(a.get(), failClone), nullptr);
    EXPECT_EQ(ConcatIdLists({a.get(), b.get()}, failConcat), nullptr);

    for (ITEMIDLIST* list : {clone, joined, nothing})
        FreeIdList(list, allocator);
    FreeIdList(nullptr, allocator);
    EXPECT_EQ(allocator.Outstanding(), 0u);
    EXPECT_EQ(allocator.StrayFrees(), 0);
}

TEST(IdListArrays, CloneIsAllOrNothing)
{
    const HeapList a(ListBytes({6})), b(ListBytes({8, 4})), c(ListBytes({10}));
    const ITEMIDLIST* lists[] = {a.get(), b.get(), c.get()};

    // Allocation 1 is the array, 2 to 4 the clones: the last case is the third clone failing.
    for (int failAt = 1; failAt <= 4; ++failAt) {
        SCOPED_TRACE(failAt);
        CountingAllocator allocator(failAt);
        EXPECT_EQ(CloneIdListArray(lists, allocator), nullptr);
        EXPECT_EQ(allocator.Outstanding(), 0u);
        EXPECT_EQ(allocator.StrayFrees(), 0);
    }

    CountingAllocator allocator;
    ITEMIDLIST** array = CloneIdListArray(lists, allocator);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(BytesOf(array[1]), ListBytes({8, 4}));
    EXPECT_EQ(allocator.Outstanding(), 4u);
    FreeIdListArray(array, 3, allocator);
    EXPECT_EQ(allocator.Outstanding(), 0u);
    EXPECT_EQ(allocator.StrayFrees(), 0);

    const ITEMIDLIST* withNull[] = {a.get(), nullptr};
    array = CloneIdListArray(withNull, allocator);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(array[1], nullptr);
    FreeIdListArray(array, 2, allocator);
    EXPECT_EQ(allocator.Outstanding(), 0u);
}

}  // namespace
}  // namespace dm
