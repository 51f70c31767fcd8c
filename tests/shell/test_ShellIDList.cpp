#include "shell/ShellIDList.h"
#include "tests/support/FakeShell.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <type_traits>
#include <vector>

namespace {

constexpr uint32_t kCanAll = SFGAO_CANCOPY | SFGAO_CANMOVE | SFGAO_CANLINK;

// Desktop > コンピューター > C: > Music > {a.flac, b.flac, cover (virtual)}.
struct TTree
{
    TFakeShell shell;
    TFakeNode& computer = shell.Desktop().AddFolder(
        "コンピューター", {.Csidl = 17, .Attributes = SFGAO_HASSUBFOLDER});
    TFakeNode& drive = computer.AddFolder(
        "C:", {.Attributes = SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR, .Path = "/mnt/c"});
    TFakeNode& music = drive.AddFolder("Music", {.Attributes = SFGAO_FILESYSTEM | kCanAll});
    TFakeNode& first = music.AddFile("a.flac", {.Attributes = SFGAO_FILESYSTEM | SFGAO_CANCOPY |
                                                              SFGAO_CANMOVE | SFGAO_CANRENAME});
    TFakeNode& second =
        music.AddFile("b.flac", {.Attributes = SFGAO_FILESYSTEM | SFGAO_CANCOPY | SFGAO_CANLINK});
    TFakeNode& cover = music.AddFile("cover", {.Attributes = kCanAll});
    TFakeShellScope scope{shell};
};

// The two kinds filled the same way: the non-owning one over lists that the
// fixture keeps, the owning one with copies it takes over.
template <typename TList> class ShellIDListOperations : public ::testing::Test
{
protected:
    void SetParent(const TFakeNode& node)
    {
        if constexpr (std::is_same_v<TList, TShellIDList2>) {
            list.SetParentIdList(node.AbsoluteIdList());
        } else {
            kept.push_back(node.AbsoluteIdList());
            list.SetParentIdList(kept.back().Data());
        }
    }
    void Add(const TFakeNode& node)
    {
        if constexpr (std::is_same_v<TList, TShellIDList2>) {
            list.Add(node.RelativeIdList());
        } else {
            kept.push_back(node.RelativeIdList());
            list.Add(kept.back().Data());
        }
    }
    std::string NameOf(int index)
    {
        std::shared_ptr<IShellFolder> folder;
        std::string name;
        if (list.GetFolder(folder))
            folder->GetDisplayNameOf(list.Item(index), SHGDN_INFOLDER, name);
        return name;
    }

    TTree tree;
    std::deque<TItemIdList> kept; // a deque: positions must not move
    TList list;
};

using ListKinds = ::testing::Types<TShellIDList, TShellIDList2>;
TYPED_TEST_SUITE(ShellIDListOperations, ListKinds);

TYPED_TEST(ShellIDListOperations, ItemsByIndexWithinBoundsOnly)
{
    EXPECT_EQ(this->list.Count(), 0);
    EXPECT_EQ(this->list.List(), nullptr);
    EXPECT_EQ(this->list.Item(0), nullptr);

    this->SetParent(this->tree.music);
    this->Add(this->tree.first);
    this->Add(this->tree.second);
    this->Add(this->tree.cover);
    ASSERT_EQ(this->list.Count(), 3);
    for (int index : {-1, 3, 100})
        EXPECT_EQ(this->list.Item(index), nullptr) << index;
    ASSERT_NE(this->list.List(), nullptr);
    for (int index = 0; index < 3; ++index)
        EXPECT_EQ(this->list.List()[index], this->list[index]);
    EXPECT_EQ(this->NameOf(2), "cover");

    this->list.Delete(1);
    this->list.Delete(5);
    this->list.Delete(-1);
    ASSERT_EQ(this->list.Count(), 2);
    EXPECT_EQ(this->NameOf(0), "a.flac");
    EXPECT_EQ(this->NameOf(1), "cover");

    this->list.Clear();
    EXPECT_EQ(this->list.Count(), 0);
    EXPECT_EQ(this->list.List(), nullptr);
}

TYPED_TEST(ShellIDListOperations, RootLevelAndFolderFollowTheParent)
{
    EXPECT_EQ(this->list.GetRootLevel(), -1);
    std::shared_ptr<IShellFolder> folder;
    EXPECT_FALSE(this->list.GetFolder(folder));

    // At the desktop the items are children of the desktop folder itself.
    this->SetParent(this->tree.shell.Desktop());
    this->Add(this->tree.computer);
    EXPECT_EQ(this->list.GetRootLevel(), 0);
    EXPECT_EQ(this->NameOf(0), "コンピューター");

    this->list.Clear();
    this->SetParent(this->tree.drive);
    this->Add(this->tree.music);
    EXPECT_EQ(this->list.GetRootLevel(), 2);
    EXPECT_EQ(this->NameOf(0), "Music");

    this->tree.drive.Options.FailBind = true;
    EXPECT_FALSE(this->list.GetFolder(folder));
    this->tree.drive.Options.FailBind = false;
    this->tree.shell.SetDesktopMissing(true);
    EXPECT_FALSE(this->list.GetFolder(folder));
    EXPECT_EQ(this->list.GetRootLevel(), -1);
}

TYPED_TEST(ShellIDListOperations, AttributesAreThoseEveryItemHas)
{
    EXPECT_EQ(this->list.GetCommonAttributes(), 0u);
    this->SetParent(this->tree.music);
    EXPECT_EQ(this->list.GetCommonAttributes(), 0u);
    EXPECT_FALSE(this->list.HasAttribute(iaCanCopy));

    this->Add(this->tree.first);
    this->Add(this->tree.second);
    this->tree.shell.Counters().Reset();
    // Only the capability bits are asked for: FILESYSTEM, which both have,
    // stays out.
    EXPECT_EQ(this->list.GetCommonAttributes(), SFGAO_CANCOPY);
    EXPECT_EQ(this->tree.shell.Counters().GetAttributesOf, 1);

    const struct
    {
        TShItemAttribute attribute;
        bool expected;
    } cases[] = {
        {iaCanCopy, true},    {iaCanMove, false},        {iaCanLink, false},
        {iaFileSystem, true}, {iaCapabilityMask, false}, {iaFolder, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(this->list.HasAttribute(c.attribute), c.expected) << c.attribute;

    this->list.Delete(1);
    EXPECT_TRUE(this->list.HasAttribute(iaCanMove));

    this->tree.first.Options.FailAttributes = true;
    EXPECT_EQ(this->list.GetCommonAttributes(), 0u);
    EXPECT_FALSE(this->list.HasAttribute(iaCanCopy));
}

TYPED_TEST(ShellIDListOperations, ItemPathJoinsParentAndItem)
{
    this->Add(this->tree.first);
    EXPECT_EQ(this->list.GetItemPath(0), "");

    this->SetParent(this->tree.music);
    this->Add(this->tree.cover);
    EXPECT_EQ(this->list.GetItemPath(0), "/mnt/c/Music/a.flac");
    EXPECT_EQ(this->list.GetItemPath(1), "");
    EXPECT_EQ(this->list.GetItemPath(2), "");
    EXPECT_EQ(this->list.GetItemPath(-1), "");
}

TEST(ShellIDList, ClearForgetsItemsButKeepsTheParent)
{
    TTree tree;
    const TItemIdList parent = tree.music.AbsoluteIdList();
    const TItemIdList item = tree.first.RelativeIdList();
    TShellIDList list;
    list.SetParentIdList(parent.Data());
    EXPECT_EQ(list.Add(item.Data()), 0);
    EXPECT_EQ(list.Add(item.Data()), 1);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.ParentIdList(), parent.Data());
    // The lists were only borrowed: they are still whole.
    EXPECT_EQ(tree.shell.Resolve(parent.Data()), &tree.music);
}

TEST(ShellIDList2, OwnsItsListsAndParent)
{
    TTree tree;
    TShellIDList2 list;
    list.SetParentIdList(tree.drive.AbsoluteIdList());
    EXPECT_EQ(list.GetRootLevel(), 2);
    // Taking a new parent over frees the old one; the level follows.
    list.SetParentIdList(tree.music.AbsoluteIdList());
    EXPECT_EQ(list.GetRootLevel(), 3);

    // Enough items that the array grows several times: the positions must
    // still point into the lists taken over (ASan checks the reads).
    const TFakeNode* nodes[] = {&tree.first, &tree.second, &tree.cover};
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(list.Add(nodes[i % 3]->RelativeIdList()), i);
    std::shared_ptr<IShellFolder> folder;
    ASSERT_TRUE(list.GetFolder(folder));
    for (int i = 0; i < 40; i += 7) {
        std::string name;
        ASSERT_EQ(folder->GetDisplayNameOf(list.Item(i), SHGDN_INFOLDER, name), S_OK) << i;
        EXPECT_EQ(name, nodes[i % 3]->Name()) << i;
    }

    list.Delete(0);
    EXPECT_EQ(list.Count(), 39);
    EXPECT_EQ(list.GetItemPath(0), "/mnt/c/Music/b.flac");

    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.ParentIdList(), nullptr);
    EXPECT_EQ(list.GetRootLevel(), -1);

    // Filled again after clearing, then left to the destructor.
    list.SetParentIdList(tree.music.AbsoluteIdList());
    list.Add(tree.first.RelativeIdList());
    EXPECT_EQ(list.GetItemPath(0), "/mnt/c/Music/a.flac");
}

} // namespace
