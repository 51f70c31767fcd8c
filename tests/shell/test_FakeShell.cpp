// The scripted namespace stands in for the desktop in the shell tests; these
// check the behaviour that those tests take for granted.
#include "tests/support/FakeShell.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Enumerate(const std::shared_ptr<IShellFolder>& folder, uint32_t flags)
{
    std::vector<std::string> names;
    std::shared_ptr<IEnumIDList> children;
    if (FAILED(folder->EnumObjects(nullptr, flags, children)))
        return {"(failed)"};
    TItemIdList item;
    while (children->Next(item) == S_OK) {
        std::string name;
        folder->GetDisplayNameOf(item.Data(), SHGDN_INFOLDER, name);
        names.push_back(name);
    }
    return names;
}

int Order(HRESULT result)
{
    return SUCCEEDED(result) ? ResultCode(result) : 99;
}

class FakeShell : public ::testing::Test
{
protected:
    TFakeShell shell;
    TFakeNode& computer = shell.Desktop().AddFolder("コンピューター", {.Csidl = 17});
    TFakeNode& drive = computer.AddFolder("C:", {.Attributes = SFGAO_FILESYSTEM, .Path = "/"});
    TFakeNode& zeta = drive.AddFolder("zeta", {.Attributes = SFGAO_FILESYSTEM});
    TFakeNode& big = drive.AddFile("b.mp3", {.Attributes = SFGAO_FILESYSTEM, .FileSize = 900});
    TFakeNode& small = drive.AddFile("c.mp3", {.Attributes = SFGAO_FILESYSTEM, .FileSize = 10});
    TFakeNode& hidden = drive.AddFile(".hidden", {.Attributes = SFGAO_FILESYSTEM | SFGAO_HIDDEN});
    TFakeNode& home =
        shell.Desktop().AddFolder("ホーム", {.Attributes = SFGAO_FILESYSTEM, .Path = "/zeta"});
};

TEST_F(FakeShell, EnumeratesWhatIsAskedFor)
{
    const auto folder = shell.FolderOf(drive);
    const struct
    {
        uint32_t flags;
        std::vector<std::string> names;
    } cases[] = {
        {SHCONTF_FOLDERS, {"zeta"}},
        {SHCONTF_NONFOLDERS, {"b.mp3", "c.mp3"}},
        {SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, {"zeta", "b.mp3", "c.mp3"}},
        {SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, {"b.mp3", "c.mp3", ".hidden"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Enumerate(folder, c.flags), c.names) << c.flags;
    drive.Options.FailEnum = true;
    EXPECT_EQ(Enumerate(folder, SHCONTF_FOLDERS), std::vector<std::string>{"(failed)"});
}

TEST_F(FakeShell, PathsParseToTheFirstNodeInTreeOrder)
{
    // "/zeta" is both C:/zeta and the home folder; the computer comes first.
    const auto desktop = shell.FolderOf(shell.Desktop());
    TItemIdList list;
    ASSERT_EQ(desktop->ParseDisplayName(nullptr, "/zeta/", list), S_OK);
    EXPECT_EQ(shell.Resolve(list.Data()), &zeta);
    EXPECT_EQ(zeta.Options.Path, "/zeta");
    EXPECT_NE(desktop->ParseDisplayName(nullptr, "/nowhere", list), S_OK);

    // Other folders take a child's name and answer its relative list.
    TItemIdList item;
    ASSERT_EQ(shell.FolderOf(drive)->ParseDisplayName(nullptr, "c.mp3", item), S_OK);
    EXPECT_EQ(
        Order(shell.FolderOf(drive)->CompareIDs(0, item.Data(), small.RelativeIdList().Data())), 0);
}

TEST_F(FakeShell, ComparesFoldersFirstThenTheColumnThenTheName)
{
    const auto folder = shell.FolderOf(drive);
    const TItemIdList z = zeta.RelativeIdList();
    const TItemIdList b = big.RelativeIdList();
    const TItemIdList c = small.RelativeIdList();
    EXPECT_LT(Order(folder->CompareIDs(0, z.Data(), b.Data())), 0);
    EXPECT_LT(Order(folder->CompareIDs(0, b.Data(), c.Data())), 0);
    EXPECT_GT(Order(folder->CompareIDs(1, b.Data(), c.Data())), 0);
    EXPECT_EQ(Order(folder->CompareIDs(1, b.Data(), b.Data())), 0);

    // Deeper lists: equal first items go on; the one that ends first comes first.
    const auto desktop = shell.FolderOf(shell.Desktop());
    const TItemIdList toDrive = drive.AbsoluteIdList();
    const TItemIdList toBig = big.AbsoluteIdList();
    const TItemIdList toSmall = small.AbsoluteIdList();
    EXPECT_LT(Order(desktop->CompareIDs(0, toDrive.Data(), toBig.Data())), 0);
    EXPECT_LT(Order(desktop->CompareIDs(0, toBig.Data(), toSmall.Data())), 0);
    drive.Options.FailCompare = true;
    EXPECT_EQ(Order(desktop->CompareIDs(0, toBig.Data(), toSmall.Data())), 99);
}

TEST_F(FakeShell, ForeignAndStaleBytesAreRefused)
{
    const auto folder = shell.FolderOf(drive);
    const uint8_t foreign[] = {8, 0, 'X', 'y', 1, 0, 0, 0, 0, 0};
    std::string name;
    EXPECT_EQ(folder->GetDisplayNameOf(foreign, SHGDN_INFOLDER, name), E_INVALIDARG);
    // A child of another folder is not this folder's item.
    const TItemIdList driveItem = drive.RelativeIdList();
    EXPECT_EQ(folder->GetDisplayNameOf(driveItem.Data(), SHGDN_INFOLDER, name), E_INVALIDARG);

    const TItemIdList item = big.RelativeIdList();
    drive.Remove(big);
    EXPECT_EQ(folder->GetDisplayNameOf(item.Data(), SHGDN_INFOLDER, name), E_INVALIDARG);
    EXPECT_EQ(shell.Find("コンピューター/C:/b.mp3"), nullptr);
}

TEST_F(FakeShell, DataObjectCarriesTheSelection)
{
    const auto folder = shell.FolderOf(drive);
    const TItemIdList b = big.RelativeIdList();
    const TItemIdList c = small.RelativeIdList();
    const TItemIdPosition items[] = {b.Data(), c.Data()};
    std::shared_ptr<IDataObject> data;
    ASSERT_EQ(folder->GetUIObjectOf(nullptr, items, data), S_OK);

    QByteArray uris;
    ASSERT_EQ(data->GetData(kFileDropFormat, uris), S_OK);
    EXPECT_EQ(uris, QByteArray("file:///b.mp3\r\nfile:///c.mp3\r\n"));
    QByteArray idLists;
    ASSERT_EQ(data->GetData(kShellIdListFormat, idLists), S_OK);
    const auto selection = DecodeShellIdListArray(idLists);
    ASSERT_TRUE(selection);
    EXPECT_EQ(shell.Resolve(selection->Parent.Data()), &drive);
    ASSERT_EQ(selection->Items.size(), 2u);
    EXPECT_EQ(shell.FolderOf(drive)->CompareIDs(0, selection->Items[1].Data(), c.Data()),
              CompareResult(0));

    // Items outside the file system give no file drop.
    const TItemIdList computerItem = computer.RelativeIdList();
    const TItemIdPosition virtualItem[] = {computerItem.Data()};
    ASSERT_EQ(shell.FolderOf(shell.Desktop())->GetUIObjectOf(nullptr, virtualItem, data), S_OK);
    EXPECT_EQ(data->QueryGetData(kFileDropFormat), DV_E_FORMATETC);
    EXPECT_EQ(data->QueryGetData(kShellIdListFormat), S_OK);
}

TEST_F(FakeShell, IconInterfacesAreOfferedWhenSwitchedOn)
{
    EXPECT_EQ(shell.FolderOf(drive)->QueryShellIcon(), nullptr);
    EXPECT_EQ(shell.FolderOf(drive)->QueryIconOverlay(), nullptr);
    drive.Options.OffersShellIcon = true;
    drive.Options.OffersIconOverlay = true;
    big.Options.ShellIconIndex = 5;
    big.Options.OverlayIndex = 2;

    const auto icons = shell.FolderOf(drive)->QueryShellIcon();
    const auto overlays = shell.FolderOf(drive)->QueryIconOverlay();
    ASSERT_NE(icons, nullptr);
    ASSERT_NE(overlays, nullptr);
    const TItemIdList b = big.RelativeIdList();
    const TItemIdList c = small.RelativeIdList();
    int index = -1;
    EXPECT_EQ(icons->GetIconOf(b.Data(), GIL_FORSHELL, index), S_OK);
    EXPECT_EQ(index, 5);
    EXPECT_EQ(icons->GetIconOf(c.Data(), GIL_FORSHELL, index), S_FALSE);
    EXPECT_EQ(overlays->GetOverlayIndex(b.Data(), index), S_OK);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(overlays->GetOverlayIndex(c.Data(), index), S_FALSE);
    EXPECT_EQ(shell.Counters().GetIconOf, 2);
    EXPECT_EQ(shell.Counters().GetOverlayIndex, 2);
}

TEST_F(FakeShell, FindDataOfFileSystemItems)
{
    const auto folder = shell.FolderOf(drive);
    TWin32FindData data;
    const TItemIdList b = big.RelativeIdList();
    ASSERT_EQ(folder->GetDataFromIDList(b.Data(), data), S_OK);
    EXPECT_EQ(data.FileName, "b.mp3");
    EXPECT_EQ(data.FileSize, 900u);
    const TItemIdList z = zeta.RelativeIdList();
    ASSERT_EQ(folder->GetDataFromIDList(z.Data(), data), S_OK);
    EXPECT_NE(data.FileAttributes & 0x10u, 0u); // a directory
    const TItemIdList computerItem = computer.RelativeIdList();
    EXPECT_NE(shell.FolderOf(shell.Desktop())->GetDataFromIDList(computerItem.Data(), data), S_OK);
}

} // namespace
