#include "shell/ShellDataItem.h"

#include "tests/support/FakeShell.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes BytesOf(TItemIdPosition list)
{
    return list ? Bytes(list, list + ShIdListSize(list)) : Bytes{};
}

// A tree node that records what the item asks of it.
class TRecordingNode : public IShellTreeNode
{
public:
    void SetHasChildren(bool value) override { HasChildren = value; }
    void SetOverlayIndex(int value) override { OverlayIndex = value; }
    void SetText(const std::string& value) override { Texts.push_back(value); }
    bool Expanded() const override { return IsExpanded; }
    void DeleteChildren() override { ++Deletions; }
    IShellTreeNode* Parent() const override { return ParentNode; }
    void SortChildren(const TCompare& compare) override { Sorts.push_back(compare); }
    void FillChildren() override { ++Fills; }
    void Expand(bool recursive) override { Expansions.push_back(recursive); }
    QWidget* TreeWindow() const override { return nullptr; }
    int AbsoluteIndex() const override { return Index; }
    TShellFolderItem* FolderItem() const override { return Item.get(); }

    std::unique_ptr<TShellFolderItem> Item;
    IShellTreeNode* ParentNode = nullptr;
    bool IsExpanded = false;
    bool HasChildren = false;
    int OverlayIndex = -7;
    int Index = 0;
    int Deletions = 0;
    int Fills = 0;
    std::vector<std::string> Texts;
    std::vector<TCompare> Sorts;
    std::vector<bool> Expansions;
};

constexpr uint32_t kFs = SFGAO_FILESYSTEM;

TFakeNodeOptions Options(uint32_t attributes, int csidl = -1, std::string path = {})
{
    TFakeNodeOptions options;
    options.Attributes = attributes;
    options.Csidl = csidl;
    options.Path = std::move(path);
    return options;
}

// Desktop: computer (volume C with Music/song.mp3 and a nested ancestor-
// flagged folder, printers), network, trash, home, a file and a virtual item.
class ShellDataItemTest : public ::testing::Test
{
protected:
    ShellDataItemTest()
    {
        TFakeNode& desktop = shell.Desktop();
        TFakeNode& computer = desktop.AddFolder("コンピューター", Options(0, 17));
        desktop.AddFolder("ネットワーク", Options(0, 18));
        desktop.AddFolder("ゴミ箱", Options(0, 10));
        desktop.AddFolder("ホーム", Options(kFs | SFGAO_CANRENAME, 5, "/home/u"));
        desktop.AddFile("memo.txt", Options(kFs));
        desktop.AddFolder("コントロール");
        TFakeNode& volume = computer.AddFolder(
            "C", Options(kFs | SFGAO_FILESYSANCESTOR | SFGAO_HASSUBFOLDER, -1, "/mnt/c"));
        computer.AddFolder("プリンター");
        TFakeNodeOptions musicOptions = Options(kFs | SFGAO_CANRENAME);
        musicOptions.IconIndex = 7;
        musicOptions.OpenIconIndex = 8;
        TFakeNode& music = volume.AddFolder("Music", musicOptions);
        TFakeNodeOptions songOptions = Options(kFs);
        songOptions.IconIndex = 9;
        music.AddFile("song.mp3", songOptions);
        music.AddFolder("odd", Options(kFs | SFGAO_FILESYSANCESTOR));
        volume.AddFolder("Video", Options(kFs));
        shell.Counters().Reset();
    }

    std::unique_ptr<TShellFolderItem> ItemOf(const std::string& path)
    {
        TFakeNode* node = path.empty() ? &shell.Desktop() : shell.Find(path);
        EXPECT_NE(node, nullptr) << path;
        return std::make_unique<TShellFolderItem>(nullptr, node->RelativeIdList(),
                                                  node->AbsoluteIdList());
    }
    TFakeNode& Node(const std::string& path) { return *shell.Find(path); }

    TFakeShell shell;
    TFakeShellScope scope{shell};
};

TEST_F(ShellDataItemTest, DisplayNameIsCachedOnlyOnceHad)
{
    auto music = ItemOf("コンピューター/C/Music");
    EXPECT_EQ(music->GetDisplayName(), "Music");
    EXPECT_EQ(music->GetDisplayName(), "Music");
    EXPECT_EQ(shell.Counters().GetDisplayNameOf, 1);

    Node("コンピューター/C/Video").Options.FailDisplayName = true;
    auto video = ItemOf("コンピューター/C/Video");
    shell.Counters().Reset();
    EXPECT_EQ(video->GetDisplayName(), "");
    EXPECT_EQ(video->GetDisplayName(), "");
    EXPECT_EQ(shell.Counters().GetDisplayNameOf, 2);
}

TEST_F(ShellDataItemTest, DesktopRootIsNamedAndPlacedByItsTwoLists)
{
    // The root's relative list is the desktop directory's absolute list.
    TShellFolderItem root(nullptr, Node("ホーム").AbsoluteIdList(),
                          shell.Desktop().AbsoluteIdList());
    EXPECT_EQ(root.GetLevel(), 0);
    EXPECT_EQ(root.GetDisplayName(), "デスクトップ");
    EXPECT_EQ(root.GetPath(), "/home/u");
    EXPECT_EQ(root.GetItemType(), itDeskTop);
    EXPECT_EQ(ItemOf("コンピューター/C/Music")->GetPath(), "/mnt/c/Music");
    EXPECT_EQ(ItemOf("コンピューター/プリンター")->GetPath(), "");
}

TEST_F(ShellDataItemTest, IconIndexesAreAskedOnce)
{
    auto music = ItemOf("コンピューター/C/Music");
    EXPECT_EQ(music->GetIconIndex(), 7);
    EXPECT_EQ(music->GetIconIndex(), 7);
    EXPECT_EQ(music->GetOpenIconIndex(), 8);
    EXPECT_EQ(music->GetOpenIconIndex(), 8);
    EXPECT_EQ(shell.Counters().GetFileInfo, 2);
}

TEST_F(ShellDataItemTest, IconIndexFollowsTheFolderOwnAnswers)
{
    using Location = TFakeNodeOptions::TIconLocation;
    const struct
    {
        const char* what;
        int shellIcon;
        std::optional<Location> extract;
        int expected;
    } cases[] = {
        {"folder's icon confirms, image list gives it", 3, std::nullopt, 9},
        {"extractor's own index", -1, Location{S_OK, 42, 0}, 42},
        {"per-class icon comes from the image list", -1, Location{S_OK, 42, GIL_PERCLASS}, 9},
        {"failing extractor falls back", -1, Location{E_FAIL, 42, 0}, 9},
        {"negative index falls back", -1, Location{S_OK, -5, 0}, 9},
        {"no extractor falls back", -1, std::nullopt, 9},
    };
    Node("コンピューター/C/Music").Options.OffersShellIcon = true;
    TFakeNode& song = Node("コンピューター/C/Music/song.mp3");
    for (const auto& c : cases) {
        song.Options.ShellIconIndex = c.shellIcon;
        song.Options.ExtractIcon = c.extract;
        EXPECT_EQ(ItemOf("コンピューター/C/Music/song.mp3")->GetIconIndex(), c.expected) << c.what;
    }
}

TEST_F(ShellDataItemTest, ItemTypes)
{
    const struct
    {
        const char* path;
        TShItemIDType type;
    } cases[] = {
        {"", itDeskTop},
        {"コンピューター", itMyComputer},
        {"ネットワーク", itNetWork},
        {"ゴミ箱", itBitBucket},
        {"ホーム", itFolder},
        {"memo.txt", itFile},
        {"コントロール", itVirtual},
        {"コンピューター/C", itRootDrive},
        {"コンピューター/プリンター", itVirtual},
        {"コンピューター/C/Music", itFolder},
        {"コンピューター/C/Music/song.mp3", itFile},
        {"コンピューター/C/Music/odd", itFolder}, // ancestor flag counts only at level 2
    };
    for (const auto& c : cases)
        EXPECT_EQ(ItemOf(c.path)->GetItemType(), c.type) << c.path;

    auto music = ItemOf("コンピューター/C/Music");
    shell.SetDesktopMissing(true);
    EXPECT_EQ(music->GetItemType(), itUnknown);
}

TEST_F(ShellDataItemTest, FolderThatCannotBeBoundAnswersEmptily)
{
    Node("コンピューター/C").Options.FailBind = true;
    auto music = ItemOf("コンピューター/C/Music");
    EXPECT_FALSE(music->GetParentFolder());
    EXPECT_EQ(music->GetDisplayName(), "");
    EXPECT_EQ(music->GetItemType(), itUnknown);
    EXPECT_EQ(music->GetOverlayIndex(), -1);
    EXPECT_FALSE(music->HasAttribute(iaFileSystem));
}

TEST_F(ShellDataItemTest, OverlayFromTheFolderOrFromAttributes)
{
    const struct
    {
        bool offersOverlay;
        int overlay;
        uint32_t attributes;
        int expected;
    } cases[] = {
        {true, 2, 0, 1},            // the folder's numbers start at 1
        {true, 0, SFGAO_SHARE, -1}, // the folder's "none" wins over attributes
        {false, 0, SFGAO_SHARE, 0},
        {false, 0, SFGAO_LINK, 1},
        {false, 0, SFGAO_SHARE | SFGAO_LINK, 0},
        {false, 5, 0, -1},
    };
    for (const auto& c : cases) {
        Node("コンピューター/C").Options.OffersIconOverlay = c.offersOverlay;
        TFakeNode& video = Node("コンピューター/C/Video");
        video.Options.OverlayIndex = c.overlay;
        video.Options.Attributes = kFs | SFGAO_FOLDER | c.attributes;
        EXPECT_EQ(ItemOf("コンピューター/C/Video")->GetOverlayIndex(), c.expected)
            << c.offersOverlay << " " << c.overlay << " " << c.attributes;
    }
}

TEST_F(ShellDataItemTest, AttachNodeSetsChildrenFlagAndOverlay)
{
    TRecordingNode node;
    node.Index = 4;
    auto volume = ItemOf("コンピューター/C");
    EXPECT_EQ(volume->GetAbsoluteIndex(), -1);
    volume->AttachNode(&node);
    EXPECT_TRUE(node.HasChildren);
    EXPECT_EQ(node.OverlayIndex, -1);
    EXPECT_EQ(volume->GetAbsoluteIndex(), 4);
}

TEST_F(ShellDataItemTest, ParentListIsTheDesktopAtLevelOneAndCached)
{
    auto home = ItemOf("ホーム");
    EXPECT_EQ(BytesOf(home->GetParentIdList()), BytesOf(shell.Desktop().AbsoluteIdList().Data()));
    auto song = ItemOf("コンピューター/C/Music/song.mp3");
    const TItemIdPosition parent = song->GetParentIdList();
    EXPECT_EQ(BytesOf(parent), BytesOf(Node("コンピューター/C/Music").AbsoluteIdList().Data()));
    EXPECT_EQ(song->GetParentIdList(), parent);
}

TEST_F(ShellDataItemTest, RenameAtLevelOneTakesTheNewItemAsAbsoluteList)
{
    TRecordingNode parent, node;
    node.ParentNode = &parent;
    node.IsExpanded = true;
    node.Item = ItemOf("ホーム");
    node.Item->AttachNode(&node);
    ASSERT_TRUE(node.Item->Rename("家"));

    TShellFolderItem& item = *node.Item;
    ASSERT_NE(shell.Find("家"), nullptr);
    EXPECT_EQ(BytesOf(item.AbsoluteIdList.Data()), BytesOf(item.RelativeIdList.Data()));
    EXPECT_EQ(BytesOf(item.AbsoluteIdList.Data()),
              BytesOf(shell.Find("家")->AbsoluteIdList().Data()));
    EXPECT_EQ(node.Texts, std::vector<std::string>{"家"});
    EXPECT_EQ(shell.Counters().FlushChangeNotices, 1);
    EXPECT_EQ(node.Deletions, 1);
    ASSERT_EQ(parent.Sorts.size(), 1u);
    TRecordingNode music, video; // the parent re-sorts by the items' order
    music.Item = ItemOf("コンピューター/C/Music");
    video.Item = ItemOf("コンピューター/C/Video");
    EXPECT_LT(parent.Sorts[0](&music, &video), 0);
    EXPECT_GT(parent.Sorts[0](&video, &music), 0);
    EXPECT_EQ(node.Fills, 1);
    EXPECT_EQ(node.Expansions, std::vector<bool>{false});
}

TEST_F(ShellDataItemTest, RenameDeeperJoinsTheParentListAndTheNewItem)
{
    TRecordingNode node;
    node.Item = ItemOf("コンピューター/C/Music");
    node.Item->AttachNode(&node);
    ASSERT_TRUE(node.Item->Rename("Songs"));

    TFakeNode* renamed = shell.Find("コンピューター/C/Songs");
    ASSERT_NE(renamed, nullptr);
    EXPECT_EQ(BytesOf(node.Item->AbsoluteIdList.Data()), BytesOf(renamed->AbsoluteIdList().Data()));
    EXPECT_EQ(BytesOf(node.Item->RelativeIdList.Data()), BytesOf(renamed->RelativeIdList().Data()));
    EXPECT_EQ(node.Texts, std::vector<std::string>{"Songs"});
    EXPECT_TRUE(node.Expansions.empty()); // it was not expanded
    EXPECT_EQ(node.Fills, 1);
}

TEST_F(ShellDataItemTest, FailedRenameKeepsListsAndStillSetsText)
{
    Node("コンピューター/C/Music").Options.FailRename = true;
    TRecordingNode node;
    node.Item = ItemOf("コンピューター/C/Music");
    node.Item->AttachNode(&node);
    const Bytes before = BytesOf(node.Item->AbsoluteIdList.Data());
    HRESULT result = S_OK;
    EXPECT_FALSE(node.Item->Rename("Songs", &result));
    EXPECT_EQ(result, E_FAIL);
    EXPECT_EQ(BytesOf(node.Item->AbsoluteIdList.Data()), before);
    EXPECT_EQ(node.Texts, std::vector<std::string>{"Music"});
    EXPECT_EQ(node.Deletions + node.Fills + shell.Counters().FlushChangeNotices, 0);

    // Without CANRENAME the namespace is not asked at all.
    TRecordingNode video;
    video.Item = ItemOf("コンピューター/C/Video");
    shell.Counters().Reset();
    EXPECT_FALSE(video.Item->Rename("x", &result));
    EXPECT_EQ(result, E_ACCESSDENIED);
    EXPECT_EQ(shell.Counters().SetNameOf, 0);
    Node("コンピューター/C/Music").Options.FailBind = true;
    Node("コンピューター/C/Music/odd").Options.Attributes |= SFGAO_CANRENAME;
    EXPECT_FALSE(ItemOf("コンピューター/C/Music/odd")->Rename("x", &result));
    EXPECT_EQ(result, E_FAIL);
}

TEST_F(ShellDataItemTest, CompareFolderNodes)
{
    TRecordingNode music, video, empty;
    music.Item = ItemOf("コンピューター/C/Music");
    video.Item = ItemOf("コンピューター/C/Video");
    EXPECT_LT(TShellFolderItem::CompareFolderNodes(&music, &video), 0);
    EXPECT_GT(TShellFolderItem::CompareFolderNodes(&video, &music), 0);
    EXPECT_EQ(TShellFolderItem::CompareFolderNodes(&music, &music), 0);
    EXPECT_EQ(TShellFolderItem::CompareFolderNodes(&music, &empty), 0);
    EXPECT_EQ(TShellFolderItem::CompareFolderNodes(&empty, &video), 0);
    Node("コンピューター/C").Options.FailCompare = true;
    EXPECT_EQ(TShellFolderItem::CompareFolderNodes(&music, &video), 0);
}

TEST(ShellDragObject, NeedsData)
{
    try {
        TShellDragObject drag(nullptr);
        FAIL() << "no exception";
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "パラメータが不正です。");
    }
    auto data = std::make_shared<TMemoryDataObject>();
    TShellDragObject drag(data);
    EXPECT_EQ(drag.DataObject, data);
    EXPECT_TRUE(drag.FileNames.empty());
    EXPECT_EQ(drag.IdLists.Count(), 0);
}

TEST(ShVirtuaItems, OnlyVirtualKindsAreMembers)
{
    TShVirtuaItems items{itBitBucket, itFolder};
    EXPECT_TRUE(items.Contains(itBitBucket));
    EXPECT_FALSE(items.Contains(itFolder));
    EXPECT_FALSE(items.Contains(itNetWork));
    items.Include(itVirtual);
    items.Exclude(itBitBucket);
    EXPECT_EQ(items, (TShVirtuaItems{itVirtual}));
}

} // namespace
