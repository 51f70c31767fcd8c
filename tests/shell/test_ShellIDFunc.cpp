#include "shell/ShellIDFunc.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// The bytes of a list whose items hold the given private texts.
Bytes ListBytes(const std::vector<std::string>& items)
{
    Bytes bytes;
    for (const std::string& item : items) {
        const size_t count = item.size() + 2;
        bytes.push_back(static_cast<uint8_t>(count & 0xFF));
        bytes.push_back(static_cast<uint8_t>(count >> 8));
        bytes.insert(bytes.end(), item.begin(), item.end());
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

TItemIdList MakeList(const std::vector<std::string>& items)
{
    const Bytes bytes = ListBytes(items);
    return TItemIdList::FromUntrustedBytes(bytes.data(), bytes.size());
}

// The whole block of a list, as bytes.
Bytes BlockOf(const TItemIdList& list)
{
    return list ? Bytes(list.Data(), list.Data() + list.BlockSize()) : Bytes{};
}

TEST(ItemIdList, UntrustedBytesMustWalkToATerminator)
{
    const Bytes good = ListBytes({"computer", "volume", "Music"});
    EXPECT_EQ(BlockOf(TItemIdList::FromUntrustedBytes(good.data(), good.size())), good);

    Bytes trailing = good;
    trailing.insert(trailing.end(), {0xAA, 0xBB});
    EXPECT_EQ(BlockOf(TItemIdList::FromUntrustedBytes(trailing.data(), trailing.size())), good);

    const struct
    {
        const char* what;
        Bytes bytes;
    } bad[] = {
        {"nothing", {}},
        {"one byte", {0}},
        {"no terminator", {4, 0, 'a', 'b'}},
        {"count past the end", {9, 0, 'a', 'b', 0, 0}},
        {"count of one", {1, 0, 0, 0}},
        {"terminator cut short", {4, 0, 'a', 'b', 0}},
    };
    for (const auto& c : bad)
        EXPECT_FALSE(TItemIdList::FromUntrustedBytes(c.bytes.data(), c.bytes.size())) << c.what;
    EXPECT_FALSE(TItemIdList::FromUntrustedBytes(nullptr, 10));
}

TEST(ItemIdList, MovesHandOverTheOneBlock)
{
    TItemIdList first = MakeList({"a"});
    const TItemIdPosition block = first.Data();
    TItemIdList second = std::move(first);
    EXPECT_FALSE(first);
    EXPECT_EQ(second.Data(), block);
    ShFreeIdList(second);
    EXPECT_FALSE(second);
    ShFreeIdList(second); // an empty holder is fine
    EXPECT_EQ(BlockOf(ShAllocIdList(6)), Bytes(6, 0));
}

TEST(ShellIDFunc, SizesAndSteps)
{
    const TItemIdList desktop = MakeList({});
    EXPECT_EQ(ShIdListSize(desktop.Data()), 2);
    EXPECT_EQ(ShFirstItemSize(desktop.Data()), 0);
    EXPECT_FALSE(ShCopyFirstItem(desktop.Data()));
    EXPECT_EQ(ShNextItemOrNil(desktop.Data()), nullptr);

    const TItemIdList list = MakeList({"ab", "cdef", "g"});
    EXPECT_EQ(ShIdListSize(list.Data()), 4 + 6 + 3 + 2);
    EXPECT_EQ(ShFirstItemSize(list.Data()), 4 + 2);
    EXPECT_EQ(ShNextItem(list.Data()), list.Data() + 4);
    EXPECT_EQ(ShNextItemOrNil(list.Data()), list.Data() + 4);
    EXPECT_EQ(ShNextItemOrNil(list.Data() + 10), nullptr); // "g" is the last item

    EXPECT_EQ(ShIdListSize(nullptr), 0);
    EXPECT_EQ(ShFirstItemSize(nullptr), 0);
    EXPECT_EQ(ShNextItem(nullptr), nullptr);
    EXPECT_EQ(ShNextItemOrNil(nullptr), nullptr);
}

TEST(ShellIDFunc, CopiesOfItemsAndLists)
{
    const TItemIdList list = MakeList({"ab", "cdef", "g"});
    EXPECT_EQ(BlockOf(ShCopyFirstItem(list.Data())), ListBytes({"ab"}));
    EXPECT_EQ(BlockOf(ShCopyIdList(list.Data())), ListBytes({"ab", "cdef", "g"}));
    EXPECT_EQ(BlockOf(ShLastItem(list.Data())), ListBytes({"g"}));
    EXPECT_EQ(BlockOf(ShLastItem(MakeList({"only"}).Data())), ListBytes({"only"}));
    EXPECT_FALSE(ShLastItem(MakeList({}).Data()));

    EXPECT_EQ(BlockOf(ShParentIdList(list.Data())), ListBytes({"ab", "cdef"}));
    EXPECT_FALSE(ShParentIdList(MakeList({"only"}).Data()));
    EXPECT_FALSE(ShParentIdList(MakeList({}).Data()));

    for (auto copy : {ShCopyFirstItem, ShCopyIdList, ShParentIdList, ShLastItem})
        EXPECT_FALSE(copy(nullptr));
}

TEST(ShellIDFunc, ConcatenationEndsInOneTerminator)
{
    const TItemIdList first = MakeList({"ab", "c"});
    const TItemIdList second = MakeList({"de"});
    const TItemIdList joined = ShConcatIdLists(first.Data(), second.Data());
    EXPECT_EQ(joined.BlockSize(), first.BlockSize() + second.BlockSize() - 2);
    EXPECT_EQ(BlockOf(joined), ListBytes({"ab", "c", "de"}));
    EXPECT_EQ(BlockOf(ShConcatIdLists(MakeList({}).Data(), second.Data())), ListBytes({"de"}));
    EXPECT_EQ(BlockOf(first), ListBytes({"ab", "c"})); // inputs untouched
    EXPECT_FALSE(ShConcatIdLists(first.Data(), nullptr));
    EXPECT_FALSE(ShConcatIdLists(nullptr, second.Data()));

    // Two lists whose sizes add up past 16 bits.
    const TItemIdList big = MakeList({std::string(40'000, 'x')});
    ASSERT_TRUE(big);
    EXPECT_FALSE(ShConcatIdLists(big.Data(), big.Data()));
}

// Bytes from elsewhere can count past 16 bits; a wrapped size would copy a
// truncated list, or overrun a block too small for its item.
TEST(ShellIDFunc, SizesPast16BitsAreRefused)
{
    const struct
    {
        std::vector<size_t> counts;
        uint16_t firstItemSize, listSize;
    } cases[] = {{{65'535}, 0, 0}, {{40'000, 40'000}, 40'002, 0}, {{65'531, 2}, 65'533, 65'535}};
    for (const auto& c : cases) {
        Bytes bytes;
        for (const size_t count : c.counts) {
            bytes.insert(bytes.end(),
                         {static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8)});
            bytes.insert(bytes.end(), count - 2, 'x');
        }
        bytes.insert(bytes.end(), {0, 0});
        ASSERT_EQ(ShFirstItemSize(bytes.data()), c.firstItemSize) << c.counts.size();
        ASSERT_EQ(ShIdListSize(bytes.data()), c.listSize) << c.counts.size();
        EXPECT_EQ(ShCopyFirstItem(bytes.data()).BlockSize(), c.firstItemSize);
        EXPECT_EQ(BlockOf(ShConcatIdLists(bytes.data(), MakeList({}).Data())),
                  c.listSize == 0 ? Bytes{} : bytes);
    }
}

TEST(ShellIDFunc, AppendFreesBothInputs)
{
    const struct
    {
        std::vector<std::string> accumulated;
        std::vector<std::string> added;
        bool hasAccumulated;
        bool hasAdded;
        Bytes expected;
    } cases[] = {
        {{"a"}, {"b"}, true, true, ListBytes({"a", "b"})},
        {{"a"}, {}, true, false, ListBytes({"a"})},
        {{}, {"b"}, false, true, ListBytes({"b"})},
        {{}, {}, false, false, Bytes{}},
    };
    for (const auto& c : cases) {
        TItemIdList accumulated = c.hasAccumulated ? MakeList(c.accumulated) : TItemIdList();
        TItemIdList added = c.hasAdded ? MakeList(c.added) : TItemIdList();
        const TItemIdList result = ShAppendIdList(accumulated, added);
        EXPECT_EQ(BlockOf(result), c.expected);
        EXPECT_FALSE(accumulated);
        EXPECT_FALSE(added);
    }
}

} // namespace
