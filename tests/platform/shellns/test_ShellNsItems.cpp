#include "platform/shellns/Ole.h"
#include "platform/shellns/ShellNsItems.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

TNsItem Entry(const std::string& name)
{
    TNsItem item;
    item.Kind = TNsItemKind::Entry;
    item.Flags = kNsFlagFolder | kNsFlagLink;
    item.Attributes = 0x11;
    item.Size = 0x0102030405060708ULL;
    item.CreationTime = 1;
    item.LastAccessTime = 0xFFFFFFFFFFFFFFFFULL;
    item.LastWriteTime = 133'000'000'000'000'000ULL;
    item.Name = name;
    return item;
}

std::string Bytes(const TItemIdList& list)
{
    return {reinterpret_cast<const char*>(list.Data()), list.BlockSize()};
}

// Two items and a terminator in one block, as a list from outside would be.
std::string TwoItemList()
{
    TNsItem volume;
    volume.Kind = TNsItemKind::Volume;
    volume.Flags = kNsFlagRemovable;
    volume.Name = "/media/u/USB STICK";
    std::string first = Bytes(EncodeNsItem(volume));
    first.resize(first.size() - 2);
    return first + Bytes(EncodeNsItem(Entry("曲 1.mp3")));
}

// The fuzz target starts from these; they are written where the fuzz run
// asks for them.
void WriteSeed(const std::string& name, const std::string& bytes)
{
    if (const char* corpus = std::getenv("TUNEMILL_FUZZ_CORPUS"))
        WriteFileBytes(std::string(corpus) + "/" + name, bytes);
}

} // namespace

TEST(ShellNsItems, RoundTripKeepsEveryFieldAndNameByteForByte)
{
    const std::vector<std::string> names = {"a", "曲 1.mp3", "bad\xff\xfe", std::string(200, 'x')};
    for (const std::string& name : names) {
        const TItemIdList list = EncodeNsItem(Entry(name));
        ASSERT_TRUE(list);
        EXPECT_EQ(list.BlockSize(), kNsItemHeaderSize + name.size() + 2);
        const std::optional<TNsItem> item = DecodeNsItem(list.Data());
        ASSERT_TRUE(item);
        const TNsItem expected = Entry(name);
        EXPECT_EQ(item->Name, name);
        EXPECT_EQ(item->Flags, expected.Flags);
        EXPECT_EQ(item->Attributes, expected.Attributes);
        EXPECT_EQ(item->Size, expected.Size);
        EXPECT_EQ(item->CreationTime, expected.CreationTime);
        EXPECT_EQ(item->LastAccessTime, expected.LastAccessTime);
        EXPECT_EQ(item->LastWriteTime, expected.LastWriteTime);
    }
    const std::string list = TwoItemList();
    WriteSeed("two-items", list);
    const auto items = DecodeNsList(reinterpret_cast<const uint8_t*>(list.data()));
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 2u);
    EXPECT_EQ((*items)[0].Kind, TNsItemKind::Volume);
    EXPECT_EQ((*items)[0].Name, "/media/u/USB STICK");
    EXPECT_EQ((*items)[1].Name, "曲 1.mp3");
}

TEST(ShellNsItems, NamesThatCannotStandForTheirKindAreRefused)
{
    struct Case
    {
        TNsItemKind kind;
        std::string name;
        bool valid;
    };
    const std::vector<Case> cases = {
        {TNsItemKind::Entry, "", false},
        {TNsItemKind::Entry, ".", false},
        {TNsItemKind::Entry, "..", false},
        {TNsItemKind::Entry, "a/b", false},
        {TNsItemKind::Entry, std::string("a\0b", 3), false},
        {TNsItemKind::Entry, "...", true},
        {TNsItemKind::TrashEntry, "x.1", true},
        {TNsItemKind::Volume, "", false},
        {TNsItemKind::Volume, "media", false},
        {TNsItemKind::Volume, "/", true},
        {TNsItemKind::NetworkMount, "/net/a b", true},
        {TNsItemKind::Computer, "", true},
        {TNsItemKind::Trash, "x", false},
    };
    for (const Case& test : cases) {
        TNsItem item;
        item.Kind = test.kind;
        item.Name = test.name;
        EXPECT_EQ(IsValidNsItemName(test.kind, test.name), test.valid) << test.name;
        EXPECT_EQ(static_cast<bool>(EncodeNsItem(item)), test.valid) << test.name;
    }
    // A name one byte too long for a 16-bit list size.
    EXPECT_TRUE(EncodeNsItem(Entry(std::string(UINT16_MAX - 2 - kNsItemHeaderSize, 'n'))));
    EXPECT_FALSE(EncodeNsItem(Entry(std::string(UINT16_MAX - 1 - kNsItemHeaderSize, 'n'))));
}

TEST(ShellNsItems, ForeignOrDamagedItemsDoNotDecode)
{
    const std::string good = Bytes(EncodeNsItem(Entry("song.mp3")));
    auto decodes = [](std::string bytes) {
        const TItemIdList list = TItemIdList::FromUntrustedBytes(bytes.data(), bytes.size());
        return list && DecodeNsList(list.Data()).has_value();
    };
    EXPECT_TRUE(decodes(good));

    std::string signature = good;
    signature[2] = 0x14;
    EXPECT_FALSE(decodes(signature));
    for (const uint8_t kind : {0, 9, 255}) {
        std::string bytes = good;
        bytes[3] = static_cast<char>(kind);
        EXPECT_FALSE(decodes(bytes)) << int(kind);
    }
    // A count too short for the header, over otherwise sound list bytes.
    std::string shortItem(12, '\0');
    shortItem[0] = 10;
    shortItem[2] = static_cast<char>(kNsItemSignature);
    shortItem[3] = 7;
    EXPECT_FALSE(decodes(shortItem));
    // A name with a slash smuggled into the bytes.
    std::string slash = good;
    slash[kNsItemHeaderSize] = '/';
    EXPECT_FALSE(decodes(slash));
    // A special item carrying facts it cannot have.
    TNsItem computer;
    computer.Kind = TNsItemKind::Computer;
    std::string facts = Bytes(EncodeNsItem(computer));
    facts[4] = kNsFlagFolder;
    EXPECT_FALSE(decodes(facts));
    WriteSeed("entry", good);
    WriteSeed("desktop", std::string(2, '\0'));
}

TEST(ItemIdList, WalkersAgreeWithTheItemsTheListWasMadeOf)
{
    // Items of different lengths, so that a walker that steps by the wrong
    // count lands off an item boundary.
    const std::vector<TNsItem> all = {Entry("a"), Entry("longer name"), Entry("曲")};
    for (size_t count = 0; count <= all.size(); ++count) {
        const std::vector<TNsItem> items(all.begin(), all.begin() + count);
        const TItemIdList list = EncodeNsItems(items);
        ASSERT_TRUE(list) << count;
        const TItemIdPosition data = list.Data();
        EXPECT_EQ(ItemIdItemCount(data), count);
        EXPECT_EQ(ItemIdBytesSize(data), list.BlockSize() - 2) << count;
        EXPECT_EQ(HasSeveralItemIds(data), count > 1) << count;
        TItemIdPosition last = nullptr;
        const TItemIdList parent = CopyAllButLastItemId(data, last);
        const std::vector<TNsItem> parentItems(items.begin(),
                                               items.begin() + (count == 0 ? 0 : count - 1));
        EXPECT_EQ(Bytes(parent), Bytes(EncodeNsItems(parentItems))) << count;
        EXPECT_EQ(last, data + ItemIdBytesSize(data, count == 0 ? 0 : count - 1)) << count;
        const TItemIdList first = CopyFirstItemId(data);
        EXPECT_EQ(static_cast<bool>(first), count > 0);
        if (count > 0) {
            EXPECT_EQ(Bytes(first), Bytes(EncodeNsItem(items[0])));
        }
    }
    // A joined list must still fit its 16-bit sizes.
    const std::vector<uint8_t> bytes(UINT16_MAX - 2, 0);
    EXPECT_TRUE(JoinItemIdBytes(bytes.data(), bytes.size() - 1, bytes.data(), 1));
    EXPECT_FALSE(JoinItemIdBytes(bytes.data(), bytes.size(), bytes.data(), 1));
}

TEST(ShellIdListArray, RoundTripAndOutOfRangeOffsets)
{
    const std::string parent = TwoItemList();
    const std::string child = Bytes(EncodeNsItem(Entry("a.mp3")));
    const std::string other = Bytes(EncodeNsItem(Entry("b.mp3")));
    const QByteArray bytes =
        EncodeShellIdListArray(reinterpret_cast<const uint8_t*>(parent.data()),
                               {reinterpret_cast<const uint8_t*>(child.data()),
                                reinterpret_cast<const uint8_t*>(other.data())});
    WriteSeed("idlist-array", bytes.toStdString());

    const auto selection = DecodeShellIdListArray(bytes);
    ASSERT_TRUE(selection);
    EXPECT_EQ(Bytes(selection->Parent), parent);
    ASSERT_EQ(selection->Items.size(), 2u);
    EXPECT_EQ(Bytes(selection->Items[0]), child);
    EXPECT_EQ(Bytes(selection->Items[1]), other);

    // Every truncation of the bytes is refused, none read past the end.
    for (qsizetype size = 0; size < bytes.size(); ++size)
        EXPECT_FALSE(DecodeShellIdListArray(bytes.left(size))) << size;

    QByteArray pastEnd = bytes;
    pastEnd[8] = static_cast<char>(0xF0); // the first child's offset
    EXPECT_FALSE(DecodeShellIdListArray(pastEnd));
    QByteArray hugeCount = bytes;
    hugeCount[3] = static_cast<char>(0x7F);
    EXPECT_FALSE(DecodeShellIdListArray(hugeCount));
    EXPECT_TRUE(EncodeShellIdListArray(nullptr, {}).isEmpty());
}

TEST(MemoryDataObject, AnswersOnlyTheFormatsItHolds)
{
    TMemoryDataObject data;
    data.SetData(kFileDropFormat, "file:///a\r\n");
    QByteArray out;
    EXPECT_EQ(data.QueryGetData(kFileDropFormat), S_OK);
    EXPECT_EQ(data.GetData(kFileDropFormat, out), S_OK);
    EXPECT_EQ(out, "file:///a\r\n");
    EXPECT_EQ(data.QueryGetData(kShellIdListFormat), DV_E_FORMATETC);
    EXPECT_EQ(data.GetData(kShellIdListFormat, out), DV_E_FORMATETC);
}
