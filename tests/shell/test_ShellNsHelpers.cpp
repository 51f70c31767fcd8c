#include "shell/ShellCst.h"
#include "shell/ShellIDFunc.h"
#include "tests/support/FakeShell.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<uint8_t> BytesOf(const TItemIdList& list)
{
    return list ? std::vector<uint8_t>(list.Data(), list.Data() + ShIdListSize(list.Data()))
                : std::vector<uint8_t>{};
}

// A folder whose CompareIDs answers a scripted code; nothing else is used.
class TCompareOnlyFolder : public IShellFolder
{
public:
    explicit TCompareOnlyFolder(HRESULT answer) : answer_(answer) {}
    HRESULT CompareIDs(int column, TItemIdPosition, TItemIdPosition) override
    {
        lastColumn = column;
        return answer_;
    }
    HRESULT ParseDisplayName(QWidget*, const std::string&, TItemIdList&) override
    {
        return E_NOTIMPL;
    }
    HRESULT EnumObjects(QWidget*, uint32_t, std::shared_ptr<IEnumIDList>&) override
    {
        return E_NOTIMPL;
    }
    HRESULT BindToObject(TItemIdPosition, std::shared_ptr<IShellFolder>&) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetAttributesOf(std::span<const TItemIdPosition>, uint32_t&) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetUIObjectOf(QWidget*, std::span<const TItemIdPosition>,
                          std::shared_ptr<IDropTarget>&) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetUIObjectOf(QWidget*, std::span<const TItemIdPosition>,
                          std::shared_ptr<IDataObject>&) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetUIObjectOf(QWidget*, std::span<const TItemIdPosition>,
                          std::shared_ptr<IExtractIcon>&) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetUIObjectOf(QWidget*, std::span<const TItemIdPosition>,
                          std::shared_ptr<IContextMenu>&) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetDisplayNameOf(TItemIdPosition, uint32_t, std::string&) override { return E_NOTIMPL; }
    HRESULT SetNameOf(QWidget*, TItemIdPosition, const std::string&, uint32_t,
                      TItemIdList*) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetDataFromIDList(TItemIdPosition, TWin32FindData&) override { return E_NOTIMPL; }

    int lastColumn = -1;

private:
    HRESULT answer_;
};

// Desktop > コンピューター > C: > Music > a.flac, plus a virtual printers
// folder under the computer and the network and trash on the desktop.
class ShellNsHelpers : public ::testing::Test
{
protected:
    ShellNsHelpers()
        : computer(shell.Desktop().AddFolder(
              "コンピューター", {.Csidl = 17, .Attributes = SFGAO_HASSUBFOLDER, .IconIndex = 4})),
          drive(computer.AddFolder("C:", {.Attributes = SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR,
                                          .Path = "/mnt/c",
                                          .IconIndex = 9,
                                          .OpenIconIndex = 10,
                                          .LargeIconIndex = 11,
                                          .LargeOpenIconIndex = 12})),
          printers(computer.AddFolder("プリンター")),
          music(drive.AddFolder("Music", {.Attributes = SFGAO_FILESYSTEM, .IconIndex = 1})),
          song(music.AddFile("a.flac", {.Attributes = SFGAO_FILESYSTEM})),
          network(shell.Desktop().AddFolder("ネットワーク", {.Csidl = 18})),
          trash(shell.Desktop().AddFolder("ゴミ箱", {.Csidl = 10}))
    {
    }

    std::shared_ptr<IShellFolder> DesktopFolder() { return shell.FolderOf(shell.Desktop()); }

    TFakeShell shell;
    TFakeNode& computer;
    TFakeNode& drive;
    TFakeNode& printers;
    TFakeNode& music;
    TFakeNode& song;
    TFakeNode& network;
    TFakeNode& trash;
    TFakeShellScope scope{shell};
};

TEST_F(ShellNsHelpers, CompareIdListsAnswersOrderOrThree)
{
    const auto desktop = DesktopFolder();
    const TItemIdList computerList = computer.AbsoluteIdList();
    const TItemIdList computerAgain = computer.AbsoluteIdList();
    const TItemIdList networkList = network.AbsoluteIdList();
    const TItemIdList driveList = drive.AbsoluteIdList();
    const TItemIdList musicList = music.AbsoluteIdList();

    // Names compare byte-wise in the fake: コ sorts before ネ.
    const struct
    {
        const char* what;
        TItemIdPosition first;
        TItemIdPosition second;
        int expected;
    } cases[] = {
        {"same item, two lists", computerList.Data(), computerAgain.Data(), 0},
        {"first after second", networkList.Data(), computerList.Data(), 1},
        {"first before second", computerList.Data(), networkList.Data(), 2},
        {"parent before child", driveList.Data(), musicList.Data(), 2},
        {"child after parent", musicList.Data(), driveList.Data(), 1},
        {"no first", nullptr, computerList.Data(), 3},
        {"no second", computerList.Data(), nullptr, 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShCompareIdLists(desktop, c.first, c.second), c.expected) << c.what;

    EXPECT_EQ(ShCompareIdLists(nullptr, computerList.Data(), computerAgain.Data()), 3);

    shell.Desktop().Options.FailCompare = true;
    EXPECT_EQ(ShCompareIdLists(desktop, computerList.Data(), computerAgain.Data()), 3);
}

TEST(ShCompareIdLists, ReadsTheLowSixteenBitsSigned)
{
    const uint8_t list[] = {0, 0};
    const struct
    {
        HRESULT answer;
        int expected;
    } cases[] = {
        {CompareResult(0), 0},
        {CompareResult(1), 1},
        {CompareResult(-1), 2},
        {CompareResult(1000), 1},
        {CompareResult(-1000), 2},
        {0x00010000, 0}, // high half set, answer 0
        {0x0001FFFF, 2}, // high half set, answer -1
        {S_FALSE, 1},
        {E_FAIL, 3},
        {E_INVALIDARG, 3},
    };
    for (const auto& c : cases) {
        auto folder = std::make_shared<TCompareOnlyFolder>(c.answer);
        EXPECT_EQ(ShCompareIdLists(folder, list, list), c.expected) << std::hex << c.answer;
        EXPECT_EQ(folder->lastColumn, 0);
    }
}

TEST_F(ShellNsHelpers, ItemCountCountsFromTheDesktop)
{
    const struct
    {
        const char* what;
        TItemIdList list;
        int expected;
    } cases[] = {
        {"desktop", shell.Desktop().AbsoluteIdList(), 0},
        {"computer", computer.AbsoluteIdList(), 1},
        {"drive under the computer", drive.AbsoluteIdList(), 2},
        {"file on the drive", song.AbsoluteIdList(), 4},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShItemCount(c.list.Data()), c.expected) << c.what;
    EXPECT_EQ(ShItemCount(nullptr), -1);

    shell.SetDesktopMissing(true);
    const TItemIdList driveList = drive.AbsoluteIdList();
    EXPECT_EQ(ShItemCount(driveList.Data()), -1);
}

TEST_F(ShellNsHelpers, IsDesktopComparesWithTheDesktopsOwnList)
{
    const auto desktop = DesktopFolder();
    const TItemIdList desktopList = shell.Desktop().AbsoluteIdList();
    const TItemIdList computerList = computer.AbsoluteIdList();
    EXPECT_TRUE(ShIsDesktop(desktop, desktopList.Data()));
    EXPECT_FALSE(ShIsDesktop(desktop, computerList.Data()));
    EXPECT_FALSE(ShIsDesktop(nullptr, desktopList.Data()));

    // Without the desktop's list there is nothing to compare with.
    shell.Desktop().Options.Csidl = -1;
    EXPECT_FALSE(ShIsDesktop(desktop, desktopList.Data()));
}

TEST_F(ShellNsHelpers, PathAndListConvertBothWays)
{
    std::string path = "stale";
    const TItemIdList musicList = music.AbsoluteIdList();
    ASSERT_TRUE(ShPathFromIdList(musicList.Data(), path));
    EXPECT_EQ(path, "/mnt/c/Music");

    const TItemIdList printersList = printers.AbsoluteIdList();
    path = "stale";
    EXPECT_FALSE(ShPathFromIdList(printersList.Data(), path));
    EXPECT_EQ(path, "");
    path = "stale";
    EXPECT_FALSE(ShPathFromIdList(nullptr, path));
    EXPECT_EQ(path, "");

    for (const char* text : {"/mnt/c/Music", "/mnt/c/Music/"}) {
        TItemIdList parsed;
        ASSERT_TRUE(ShIdListFromPath(text, parsed)) << text;
        EXPECT_EQ(BytesOf(parsed), BytesOf(musicList)) << text;
    }

    TItemIdList parsed = drive.AbsoluteIdList();
    EXPECT_FALSE(ShIdListFromPath("/mnt/d", parsed));
    EXPECT_FALSE(parsed);

    shell.SetDesktopMissing(true);
    EXPECT_FALSE(ShIdListFromPath("/mnt/c/Music", parsed));
}

TEST_F(ShellNsHelpers, SpecialFolderListsGoByTheMembersCsidl)
{
    // The desktop directory (CSIDL 16) is member 12: a lookup by member index
    // would ask for CSIDL 12 and find nothing.
    shell.SetSpecialFolder(16, music);
    const struct
    {
        TShSpecialFolder folder;
        TFakeNode* node;
    } cases[] = {
        {sfDesktop, &shell.Desktop()}, {sfDrives, &computer},        {sfNetwork, &network},
        {sfBitBucket, &trash},         {sfDesktopDirectory, &music},
    };
    for (const auto& c : cases) {
        TItemIdList list;
        ASSERT_TRUE(ShSpecialFolderIdList(c.folder, list)) << c.folder;
        EXPECT_EQ(BytesOf(list), BytesOf(c.node->AbsoluteIdList())) << c.folder;
    }

    TItemIdList list = drive.AbsoluteIdList();
    EXPECT_FALSE(ShSpecialFolderIdList(sfPrinters, list));
    EXPECT_FALSE(list);
}

TEST_F(ShellNsHelpers, StrRetToStringGivesTheDisplayNameOrFalse)
{
    const auto computerFolder = shell.FolderOf(computer);
    const TItemIdList driveItem = drive.RelativeIdList();
    std::string name;
    ASSERT_TRUE(ShStrRetToString(computerFolder, driveItem.Data(), SHGDN_INFOLDER, name));
    EXPECT_EQ(name, "C:");
    ASSERT_TRUE(ShStrRetToString(computerFolder, driveItem.Data(), SHGDN_FORPARSING, name));
    EXPECT_EQ(name, "/mnt/c");

    EXPECT_FALSE(ShStrRetToString(nullptr, driveItem.Data(), SHGDN_INFOLDER, name));
    EXPECT_EQ(name, "");
    name = "stale";
    EXPECT_FALSE(ShStrRetToString(computerFolder, nullptr, SHGDN_INFOLDER, name));
    EXPECT_EQ(name, "");

    drive.Options.FailDisplayName = true;
    name = "stale";
    EXPECT_FALSE(ShStrRetToString(computerFolder, driveItem.Data(), SHGDN_INFOLDER, name));
    EXPECT_EQ(name, "");
}

TEST_F(ShellNsHelpers, SysIconIndexAsksForTheSizeAndState)
{
    const TItemIdList driveList = drive.AbsoluteIdList();
    EXPECT_EQ(ShSysIconIndex(driveList.Data(), false, false), 9);
    EXPECT_EQ(ShSysIconIndex(driveList.Data(), false, true), 10);
    EXPECT_EQ(ShSysIconIndex(driveList.Data(), true, false), 11);
    EXPECT_EQ(ShSysIconIndex(driveList.Data(), true, true), 12);

    // Nothing to ask about, or no answer: index 0.
    const TItemIdList songList = song.AbsoluteIdList();
    EXPECT_EQ(ShSysIconIndex(songList.Data(), false, false), 0);
    EXPECT_EQ(ShSysIconIndex(nullptr, false, false), 0);
    const TItemIdList gone = music.AbsoluteIdList();
    drive.Remove(music);
    EXPECT_EQ(ShSysIconIndex(gone.Data(), false, false), 0);
}

TEST_F(ShellNsHelpers, SysImageListIsTheNamespacesListOfThatSize)
{
    EXPECT_EQ(ShSysImageList(false), shell.SmallImageList());
    EXPECT_EQ(ShSysImageList(true), shell.LargeImageList());
    ASSERT_NE(ShSysImageList(true), nullptr);
    EXPECT_EQ(ShSysImageList(true)->Size(), 32);

    shell.SetFileInfoFailing(true);
    EXPECT_EQ(ShSysImageList(false), nullptr);
    shell.SetFileInfoFailing(false);
    shell.Desktop().Options.Csidl = -1;
    EXPECT_EQ(ShSysImageList(false), nullptr);
}

TEST_F(ShellNsHelpers, ARenamedNodeGetsNewBytesAndPaths)
{
    // The fake stands in for the namespace in other tests; renaming must
    // behave like the desktop's: old lists go stale, paths follow.
    const auto driveFolder = shell.FolderOf(drive);
    const TItemIdList oldItem = music.RelativeIdList();
    TItemIdList newItem;
    ASSERT_EQ(driveFolder->SetNameOf(nullptr, oldItem.Data(), "Audio", 0, &newItem), S_OK);
    EXPECT_NE(BytesOf(newItem), BytesOf(oldItem));

    std::string name;
    EXPECT_FALSE(ShStrRetToString(driveFolder, oldItem.Data(), SHGDN_INFOLDER, name));
    ASSERT_TRUE(ShStrRetToString(driveFolder, newItem.Data(), SHGDN_INFOLDER, name));
    EXPECT_EQ(name, "Audio");

    std::string path;
    const TItemIdList songList = song.AbsoluteIdList();
    ASSERT_TRUE(ShPathFromIdList(songList.Data(), path));
    EXPECT_EQ(path, "/mnt/c/Audio/a.flac");

    // Never over an existing name.
    drive.AddFolder("Video", {.Attributes = SFGAO_FILESYSTEM});
    EXPECT_TRUE(FAILED(driveFolder->SetNameOf(nullptr, newItem.Data(), "Video", 0, nullptr)));
}

TEST(ShellCst, SixFormatsInOrderWithTheirFields)
{
    const std::vector<std::pair<const TFormatEtc*, QString>> expected = {
        {&ShellCst::HDropFormat(), QStringLiteral("text/uri-list")},
        {&ShellCst::IdListFormat(), kShellIdListFormat},
        {&ShellCst::FileNameMapFormat(), kFileNameMapFormat},
        {&ShellCst::FileNameMapWFormat(), kFileNameMapWFormat},
        {&ShellCst::ShellObjectOffsetsFormat(), kShellObjectOffsetsFormat},
        {&ShellCst::PerformedDropEffectFormat(), kPerformedDropEffectFormat},
    };
    const auto& formats = ShellCst::Formats();
    ASSERT_EQ(formats.size(), expected.size());
    for (size_t i = 0; i < formats.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(&formats[i], expected[i].first);
        EXPECT_EQ(formats[i].Format, expected[i].second);
        EXPECT_EQ(formats[i].TargetDevice, nullptr);
        EXPECT_EQ(formats[i].Aspect, 1u);
        EXPECT_EQ(formats[i].Index, -1);
        EXPECT_EQ(formats[i].Tymed, 1u);
    }
    // Six distinct names, so a data object can tell them apart.
    for (size_t i = 0; i < formats.size(); ++i)
        for (size_t j = i + 1; j < formats.size(); ++j)
            EXPECT_NE(formats[i].Format, formats[j].Format) << i << " " << j;
}

// The same helpers over the process's own namespace: the file system's root
// lies on a volume under the computer.
TEST(ShellNsHelpersOnTheDesktop, RootPathIsTwoItemsDown)
{
    TItemIdList root;
    ASSERT_TRUE(ShIdListFromPath("/", root));
    EXPECT_EQ(ShItemCount(root.Data()), 2);
    std::string path;
    ASSERT_TRUE(ShPathFromIdList(root.Data(), path));
    EXPECT_EQ(path, "/");

    TItemIdList computer;
    ASSERT_TRUE(ShSpecialFolderIdList(sfDrives, computer));
    EXPECT_EQ(ShItemCount(computer.Data()), 1);
    EXPECT_FALSE(ShPathFromIdList(computer.Data(), path));

    TItemIdList desktopList;
    ASSERT_TRUE(ShSpecialFolderIdList(sfDesktop, desktopList));
    std::shared_ptr<IShellFolder> desktop;
    ASSERT_EQ(ShellNamespace()->GetDesktopFolder(desktop), S_OK);
    EXPECT_TRUE(ShIsDesktop(desktop, desktopList.Data()));
    EXPECT_FALSE(ShIsDesktop(desktop, root.Data()));
    EXPECT_EQ(ShItemCount(desktopList.Data()), 0);
    EXPECT_NE(ShSysImageList(false), nullptr);
}

} // namespace
