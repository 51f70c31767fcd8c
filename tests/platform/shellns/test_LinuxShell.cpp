#include "platform/shellns/LinuxShell.h"

#include "platform/shellns/FsFolder.h"
#include "platform/shellns/Ole.h"
#include "platform/shellns/ShellNsItems.h"
#include "platform/shellns/SysImageList.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

void MakeDirectory(const std::string& path)
{
    Check(mkdir(path.c_str(), 0755) == 0, path);
}

std::vector<TNsItem> Items(TItemIdPosition list)
{
    std::optional<std::vector<TNsItem>> items = DecodeNsList(list);
    return items ? *items : std::vector<TNsItem>();
}

std::vector<TNsItem> Enumerate(IShellFolder& folder, uint32_t flags,
                               std::vector<TItemIdList>* lists = nullptr)
{
    std::shared_ptr<IEnumIDList> children;
    EXPECT_EQ(folder.EnumObjects(nullptr, flags, children), S_OK);
    std::vector<TNsItem> items;
    TItemIdList item;
    while (children && children->Next(item) == S_OK) {
        items.push_back(*DecodeNsItem(item.Data()));
        if (lists)
            lists->push_back(std::move(item));
    }
    return items;
}

TItemIdList ListOf(const std::vector<TNsItem>& items)
{
    std::string bytes;
    for (const TNsItem& item : items) {
        TItemIdList one = EncodeNsItem(item);
        bytes.append(reinterpret_cast<const char*>(one.Data()), ItemIdCount(one.Data()));
    }
    bytes.append(2, '\0');
    return TItemIdList::FromUntrustedBytes(bytes.data(), bytes.size());
}

TNsItem Special(TNsItemKind kind)
{
    TNsItem item;
    item.Kind = kind;
    return item;
}

constexpr uint32_t kAll = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN;

// A user of their own: home, configuration and data directories, a desktop
// directory, and a mount table with the root, a labelled disk mounted inside
// the test tree, a network share and a removable stick.
class LinuxShell : public ::testing::Test
{
protected:
    LinuxShell()
        : home(dir.File("home")), config(dir.File("config")), data(dir.File("data")),
          desktop(home + "/Desktop"), volume(dir.File("mnt")), share(dir.File("share")),
          homeVariable("HOME", home), configVariable("XDG_CONFIG_HOME", config),
          dataVariable("XDG_DATA_HOME", data), savedSources(MountSources())
    {
        for (const std::string& path :
             {home, config, data, desktop, volume, share, dir.File("dev"), dir.File("by-label"),
              dir.File("block"), data + "/Trash", data + "/Trash/files", data + "/Trash/info"})
            MakeDirectory(path);
        Check(WriteFileBytes(dir.File("dev/sdz1"), ""), "device");
        Check(symlink("../dev/sdz1", dir.File("by-label/MUSIC").c_str()) == 0, "label");
        WriteTable({"/ / rw - ext4 /dev/vda1 rw",
                    "/ " + volume + " rw - ext4 " + dir.File("dev/sdz1") + " rw",
                    "/ " + share + " rw - nfs4 server:/export rw",
                    "/ /media/u/STICK rw - vfat /dev/sdy1 rw"});
        TMountSources sources;
        sources.MountTable = dir.File("mountinfo");
        sources.LabelDirectory = dir.File("by-label");
        sources.BlockDirectory = dir.File("block");
        SetMountSources(sources);
    }
    ~LinuxShell() override
    {
        SetMountSources(savedSources);
        SetShellNamespace(nullptr);
    }

    void WriteTable(const std::vector<std::string>& lines)
    {
        std::string text;
        int id = 20;
        for (const std::string& line : lines) {
            text += std::to_string(id) + " 1 0:" + std::to_string(id) + " " + line + "\n";
            ++id;
        }
        Check(WriteFileBytes(dir.File("mountinfo"), text), "mountinfo");
    }

    // A namespace over the environment as the test left it.
    std::shared_ptr<IShellFolder> Desktop()
    {
        shell = std::make_shared<TLinuxShellNamespace>();
        std::shared_ptr<IShellFolder> folder;
        EXPECT_EQ(shell->GetDesktopFolder(folder), S_OK);
        return folder;
    }

    std::shared_ptr<IShellFolder> Bind(IShellFolder& parent, const std::vector<TNsItem>& items)
    {
        TItemIdList list = ListOf(items);
        std::shared_ptr<IShellFolder> folder;
        EXPECT_EQ(parent.BindToObject(list.Data(), folder), S_OK);
        return folder;
    }

    std::string NameOf(IShellFolder& folder, TItemIdPosition list, uint32_t flags = SHGDN_NORMAL)
    {
        std::string name;
        EXPECT_EQ(folder.GetDisplayNameOf(list, flags, name), S_OK);
        return name;
    }

    uint32_t AttributesOf(IShellFolder& folder, TItemIdPosition list)
    {
        uint32_t attributes = ~0u;
        EXPECT_EQ(folder.GetAttributesOf({&list, 1}, attributes), S_OK);
        return attributes;
    }

    TTestDir dir;
    std::string home, config, data, desktop, volume, share;
    TScopedVariable homeVariable, configVariable, dataVariable;
    TMountSources savedSources;
    std::shared_ptr<TLinuxShellNamespace> shell;
};

TEST_F(LinuxShell, DesktopDirectoryComesFromUserDirsThenDesktopThenHome)
{
    struct Case
    {
        const char* userDirs; // null: no file
        bool desktopExists;
        std::string expected;
    };
    const Case cases[] = {
        {"# written by a tool\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n", true,
         home + "/Schreibtisch"},
        {"XDG_MUSIC_DIR=\"$HOME/Music\"\n  XDG_DESKTOP_DIR = \"/srv/desk/\"\n", true, "/srv/desk"},
        {"XDG_DESKTOP_DIR=\"$HOME/\"\n", true, home},
        {"#XDG_DESKTOP_DIR=\"$HOME/Nope\"\n", true, home + "/Desktop"},
        {"XDG_DESKTOP_DIR=\"relative\"\n", true, home + "/Desktop"},
        {nullptr, true, home + "/Desktop"},
        {nullptr, false, home},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.userDirs ? c.userDirs : "(none)");
        unlink((config + "/user-dirs.dirs").c_str());
        rmdir(desktop.c_str());
        if (c.userDirs)
            Check(WriteFileBytes(config + "/user-dirs.dirs", c.userDirs), "user-dirs");
        if (c.desktopExists)
            MakeDirectory(desktop);
        EXPECT_EQ(DesktopDirectoryOf(home, config), c.expected);
        EXPECT_EQ(TNsEnvironment::FromProcess().DesktopDirectory, c.expected);
    }
}

TEST_F(LinuxShell, EnvironmentDefaultsFollowHome)
{
    unsetenv("XDG_CONFIG_HOME");
    setenv("XDG_DATA_HOME", "not/absolute", 1);
    const TNsEnvironment environment = TNsEnvironment::FromProcess();
    EXPECT_EQ(environment.Home, home);
    EXPECT_EQ(environment.ConfigHome, home + "/.config");
    EXPECT_EQ(environment.DataHome, home + "/.local/share");
    EXPECT_EQ(environment.TrashFiles(), home + "/.local/share/Trash/files");
}

TEST_F(LinuxShell, DesktopListsSpecialsThenItsDirectory)
{
    Check(WriteFileBytes(desktop + "/note.txt", "x"), "file");
    MakeDirectory(desktop + "/Albums");
    std::shared_ptr<IShellFolder> root = Desktop();

    std::vector<TItemIdList> lists;
    const std::vector<TNsItem> items = Enumerate(*root, kAll, &lists);
    ASSERT_EQ(items.size(), 6u);
    const char* const names[] = {"コンピューター", "ホーム", "ネットワーク", "ゴミ箱"};
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(NameOf(*root, lists[i].Data()), names[i]);
    std::vector<std::string> entries = {items[4].Name, items[5].Name};
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"Albums", "note.txt"}));

    // Folders only: the specials and the folder, not the file.
    EXPECT_EQ(Enumerate(*root, SHCONTF_FOLDERS).size(), 5u);

    const TItemIdList empty = ListOf({});
    EXPECT_EQ(NameOf(*root, empty.Data()), "デスクトップ");
    EXPECT_EQ(NameOf(*root, empty.Data(), SHGDN_FORPARSING), desktop);
    EXPECT_EQ(NameOf(*root, lists[1].Data(), SHGDN_FORPARSING), home);
    EXPECT_EQ(NameOf(*root, lists[1].Data(), SHGDN_INFOLDER | SHGDN_FORPARSING), home);
}

TEST_F(LinuxShell, DesktopWithoutItsDirectoryHoldsTheFourSpecials)
{
    Check(WriteFileBytes(config + "/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Gone\"\n"), "dirs");
    std::shared_ptr<IShellFolder> root = Desktop();
    const std::vector<TNsItem> items = Enumerate(*root, kAll);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[3].Kind, TNsItemKind::Trash);
}

TEST_F(LinuxShell, SpecialsSortFirstInTableOrderAndOnlyIdenticalBytesAreEqual)
{
    MakeDirectory(desktop + "/Music");
    MakeDirectory(desktop + "/music");
    Check(WriteFileBytes(desktop + "/a.txt", "x"), "file");
    std::shared_ptr<IShellFolder> root = Desktop();
    std::vector<TItemIdList> lists;
    Enumerate(*root, kAll, &lists);
    ASSERT_EQ(lists.size(), 7u);

    std::vector<TItemIdPosition> sorted;
    for (const TItemIdList& list : lists)
        sorted.push_back(list.Data());
    std::reverse(sorted.begin(), sorted.end());
    std::sort(sorted.begin(), sorted.end(), [&](TItemIdPosition a, TItemIdPosition b) {
        return ResultCode(root->CompareIDs(0, a, b)) < 0;
    });
    std::vector<std::string> names;
    for (TItemIdPosition position : sorted)
        names.push_back(NameOf(*root, position, SHGDN_INFOLDER | SHGDN_FORPARSING));
    EXPECT_EQ(names[0], NameOf(*root, ListOf({Special(TNsItemKind::Computer)}).Data()));
    EXPECT_EQ(names[1], home);
    EXPECT_EQ(names[2], "ネットワーク");
    EXPECT_EQ(names[3], "ゴミ箱");
    // Folders before files; the two spellings are two folders.
    EXPECT_EQ(names[6], "a.txt");
    EXPECT_NE(ResultCode(root->CompareIDs(0, sorted[4], sorted[5])), 0);

    for (const TItemIdList& list : lists) {
        const TItemIdList copy = TItemIdList::FromUntrustedBytes(list.Data(), list.BlockSize());
        EXPECT_EQ(root->CompareIDs(0, list.Data(), copy.Data()), CompareResult(0));
    }
    // A list that goes further comes after the folder it starts with; the
    // first items decide before that.
    TItemIdList home = ListOf({Special(TNsItemKind::Home)});
    std::string deeperPath = this->home + "/x";
    MakeDirectory(deeperPath);
    TItemIdList deeper;
    ASSERT_EQ(root->ParseDisplayName(nullptr, deeperPath, deeper), S_OK);
    EXPECT_LT(ResultCode(root->CompareIDs(0, ListOf({Special(TNsItemKind::Computer)}).Data(),
                                          deeper.Data())),
              0);
    EXPECT_GT(ResultCode(root->CompareIDs(0, home.Data(), deeper.Data())), 0);
}

TEST_F(LinuxShell, PathsRoundTripThroughListsOnTheLongestMountPrefix)
{
    MakeDirectory(home + "/曲フォルダ");
    Check(WriteFileBytes(home + "/曲フォルダ/歌.flac", "x"), "file");
    Check(WriteFileBytes(home + "/caf\xE9.mp3", "x"), "file");
    MakeDirectory(volume + "/Albums");
    Check(WriteFileBytes(volume + "/Albums/one.ogg", "x"), "file");
    std::shared_ptr<IShellFolder> root = Desktop();

    struct Case
    {
        std::string path;
        std::string mountPoint;
        size_t entries;
    };
    const Case cases[] = {
        {"/", "/", 0},
        {home, "/", 0}, // entries vary with the temporary directory; checked below
        {desktop, "/", 0},
        {home + "/曲フォルダ", "/", 0},
        {home + "/曲フォルダ/歌.flac", "/", 0},
        {home + "/caf\xE9.mp3", "/", 0},
        {volume, volume, 0},
        {volume + "/Albums", volume, 1},
        {volume + "/Albums/one.ogg", volume, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        TItemIdList list;
        ASSERT_EQ(root->ParseDisplayName(nullptr, c.path, list), S_OK);
        const std::vector<TNsItem> items = Items(list.Data());
        ASSERT_GE(items.size(), 2u);
        EXPECT_EQ(items[0].Kind, TNsItemKind::Computer);
        EXPECT_EQ(items[1].Kind, TNsItemKind::Volume);
        EXPECT_EQ(items[1].Name, c.mountPoint);
        if (c.mountPoint != "/") {
            EXPECT_EQ(items.size(), 2 + c.entries);
        }
        std::string path;
        ASSERT_TRUE(shell->GetPathFromIDList(list.Data(), path));
        EXPECT_EQ(path, c.path);
        EXPECT_EQ(NameOf(*root, list.Data(), SHGDN_FORPARSING), c.path);
    }

    // The facts travel with the item.
    TItemIdList file;
    ASSERT_EQ(root->ParseDisplayName(nullptr, home + "/caf\xE9.mp3/", file), S_OK);
    const std::vector<TNsItem> items = Items(file.Data());
    EXPECT_EQ(items.back().Name, "caf\xE9.mp3");
    EXPECT_EQ(items.back().Size, 1u);
    EXPECT_FALSE(items.back().IsFolder());
    EXPECT_EQ(NameOf(*root, file.Data()), "caf\xEF\xBF\xBD.mp3");
}

TEST_F(LinuxShell, UnparsableNamesFail)
{
    std::shared_ptr<IShellFolder> root = Desktop();
    Check(WriteFileBytes(home + "/file", "x"), "file");
    for (const std::string& name : {std::string(), std::string("relative/path"), home + "/missing",
                                    home + "/file/below", std::string("ホーム")}) {
        SCOPED_TRACE(name);
        TItemIdList list;
        EXPECT_TRUE(FAILED(root->ParseDisplayName(nullptr, name, list)));
        EXPECT_FALSE(list);
    }
}

TEST_F(LinuxShell, ComputerShowsEveryMountAsAVolume)
{
    std::shared_ptr<IShellFolder> root = Desktop();
    std::shared_ptr<IShellFolder> computer = Bind(*root, {Special(TNsItemKind::Computer)});
    ASSERT_TRUE(computer);
    std::vector<TItemIdList> lists;
    const std::vector<TNsItem> items = Enumerate(*computer, kAll, &lists);
    ASSERT_EQ(items.size(), 4u);

    struct Expected
    {
        std::string name;
        uint8_t flags;
        bool removable;
    };
    const Expected expected[] = {
        {"ローカル ディスク (/)", 0, false},
        {"Music (" + volume + ")", 0, false},
        {"ネットワーク ドライブ (" + share + ")", kNsFlagNetwork, false},
        {"リムーバブル ディスク (/media/u/STICK)", kNsFlagRemovable, true},
    };
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(NameOf(*computer, lists[i].Data()), expected[i].name);
        EXPECT_EQ(NameOf(*computer, lists[i].Data(), SHGDN_FORPARSING), items[i].Name);
        EXPECT_EQ(items[i].Flags, expected[i].flags);
        const uint32_t attributes = AttributesOf(*computer, lists[i].Data());
        for (uint32_t bit : {SFGAO_FILESYSTEM, SFGAO_FILESYSANCESTOR, SFGAO_FOLDER,
                             SFGAO_HASSUBFOLDER, SFGAO_CANLINK})
            EXPECT_EQ(attributes & bit, bit);
        EXPECT_EQ((attributes & SFGAO_REMOVABLE) != 0, expected[i].removable);
    }
    EXPECT_NE(AttributesOf(*computer, lists[1].Data()) & SFGAO_DROPTARGET, 0u);

    // A parsed volume is the enumerated one, byte for byte.
    TItemIdList parsed;
    ASSERT_EQ(root->ParseDisplayName(nullptr, volume, parsed), S_OK);
    const TItemIdList enumerated = ListOf({Special(TNsItemKind::Computer), items[1]});
    EXPECT_EQ(root->CompareIDs(0, parsed.Data(), enumerated.Data()), CompareResult(0));

    // "/" first, then by display name.
    EXPECT_LT(ResultCode(computer->CompareIDs(0, lists[0].Data(), lists[1].Data())), 0);
    EXPECT_GT(ResultCode(computer->CompareIDs(0, lists[1].Data(), lists[0].Data())), 0);
    EXPECT_LT(ResultCode(computer->CompareIDs(0, lists[1].Data(), lists[2].Data())), 0);
    EXPECT_EQ(shell->GetVolumeLabel(volume + "/"), "MUSIC");
    EXPECT_EQ(shell->GetVolumeLabel(volume + "/Albums"), "");
    EXPECT_EQ(shell->GetVolumeLabel("/"), "");
}

TEST_F(LinuxShell, NetworkHoldsOnlyNetworkMounts)
{
    Check(WriteFileBytes(share + "/remote.mp3", "x"), "file");
    std::shared_ptr<IShellFolder> root = Desktop();
    const TItemIdList networkItem = ListOf({Special(TNsItemKind::Network)});
    EXPECT_NE(AttributesOf(*root, networkItem.Data()) & SFGAO_HASSUBFOLDER, 0u);
    std::shared_ptr<IShellFolder> network = Bind(*root, {Special(TNsItemKind::Network)});
    ASSERT_TRUE(network);
    std::vector<TItemIdList> lists;
    const std::vector<TNsItem> items = Enumerate(*network, kAll, &lists);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].Kind, TNsItemKind::NetworkMount);
    EXPECT_EQ(items[0].Name, share);
    EXPECT_EQ(AttributesOf(*network, lists[0].Data()) & SFGAO_FILESYSANCESTOR, 0u);

    std::shared_ptr<IShellFolder> mount = Bind(*network, {items[0]});
    ASSERT_TRUE(mount);
    const std::vector<TNsItem> files = Enumerate(*mount, kAll);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].Name, "remote.mp3");

    std::string path;
    const TItemIdList absolute = ListOf({Special(TNsItemKind::Network), items[0], files[0]});
    ASSERT_TRUE(shell->GetPathFromIDList(absolute.Data(), path));
    EXPECT_EQ(path, share + "/remote.mp3");

    WriteTable({"/ / rw - ext4 /dev/vda1 rw"});
    root = Desktop();
    EXPECT_EQ(AttributesOf(*root, networkItem.Data()) & SFGAO_HASSUBFOLDER, 0u);
}

TEST_F(LinuxShell, DeepListsBindStepByStep)
{
    MakeDirectory(volume + "/Albums");
    MakeDirectory(volume + "/Albums/Live");
    Check(WriteFileBytes(volume + "/Albums/Live/track.ogg", "x"), "file");
    std::shared_ptr<IShellFolder> root = Desktop();
    TItemIdList live;
    ASSERT_EQ(root->ParseDisplayName(nullptr, volume + "/Albums/Live", live), S_OK);
    std::shared_ptr<IShellFolder> folder;
    ASSERT_EQ(root->BindToObject(live.Data(), folder), S_OK);
    const std::vector<TNsItem> items = Enumerate(*folder, kAll);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].Name, "track.ogg");
    EXPECT_NE(AttributesOf(*root, live.Data()) & SFGAO_FOLDER, 0u);

    TItemIdList track;
    ASSERT_EQ(root->ParseDisplayName(nullptr, volume + "/Albums/Live/track.ogg", track), S_OK);
    EXPECT_TRUE(FAILED(root->BindToObject(track.Data(), folder)));
    EXPECT_LT(ResultCode(root->CompareIDs(0, live.Data(), track.Data())), 0);
    TWin32FindData data;
    ASSERT_EQ(root->GetDataFromIDList(track.Data(), data), S_OK);
    EXPECT_EQ(data.FileName, "track.ogg");
    EXPECT_EQ(data.FileSize, 1u);

    // Home binds to the home directory, desktop entries to theirs.
    MakeDirectory(desktop + "/Sub");
    Check(WriteFileBytes(desktop + "/Sub/inner", ""), "file");
    std::shared_ptr<IShellFolder> homeFolder = Bind(*root, {Special(TNsItemKind::Home)});
    ASSERT_TRUE(homeFolder);
    const std::vector<TNsItem> homeItems = Enumerate(*homeFolder, kAll);
    ASSERT_EQ(homeItems.size(), 1u);
    EXPECT_EQ(homeItems[0].Name, "Desktop");
    std::shared_ptr<IShellFolder> sub = Bind(*root, {*ReadNsEntryOfPath(desktop + "/Sub")});
    ASSERT_TRUE(sub);
    EXPECT_EQ(Enumerate(*sub, kAll).size(), 1u);
}

TEST_F(LinuxShell, TrashShowsOriginalNames)
{
    Check(WriteFileBytes(data + "/Trash/files/song.mp3", "abc"), "trashed");
    Check(WriteFileBytes(data + "/Trash/info/song.mp3.trashinfo",
                         "[Trash Info]\nPath=/home/u/%E6%9B%B2%20one.mp3\n"
                         "DeletionDate=2026-01-02T03:04:05\n"),
          "info");
    Check(WriteFileBytes(data + "/Trash/files/plain.txt", "x"), "trashed");
    std::shared_ptr<IShellFolder> root = Desktop();
    std::shared_ptr<IShellFolder> trash = Bind(*root, {Special(TNsItemKind::Trash)});
    ASSERT_TRUE(trash);
    std::vector<TItemIdList> lists;
    const std::vector<TNsItem> items = Enumerate(*trash, kAll, &lists);
    ASSERT_EQ(items.size(), 2u);
    std::vector<std::string> names;
    for (const TItemIdList& list : lists) {
        names.push_back(NameOf(*trash, list.Data()));
        const uint32_t attributes = AttributesOf(*trash, list.Data());
        EXPECT_EQ(attributes & (SFGAO_FILESYSTEM | SFGAO_CANDELETE), SFGAO_CANDELETE);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"plain.txt", "曲 one.mp3"}));

    const size_t song = items[0].Name == "song.mp3" ? 0 : 1;
    EXPECT_GT(ResultCode(trash->CompareIDs(0, lists[song].Data(), lists[1 - song].Data())), 0);
    TWin32FindData data;
    ASSERT_EQ(trash->GetDataFromIDList(lists[song].Data(), data), S_OK);
    EXPECT_EQ(data.FileName, "曲 one.mp3");
    EXPECT_EQ(data.FileSize, 3u);

    const TItemIdList absolute = ListOf({Special(TNsItemKind::Trash), items[song]});
    std::string path;
    EXPECT_FALSE(shell->GetPathFromIDList(absolute.Data(), path));
    TShFileInfo info;
    ASSERT_TRUE(shell->GetFileInfo(absolute.Data(), SHGFI_TYPENAME, info));
    EXPECT_EQ(info.TypeName, FileTypeName("曲 one.mp3").toStdString());

    std::shared_ptr<IDropTarget> target;
    const TItemIdList trashItem = ListOf({Special(TNsItemKind::Trash)});
    TItemIdPosition trashPosition = trashItem.Data();
    EXPECT_EQ(root->GetUIObjectOf(nullptr, {&trashPosition, 1}, target), E_NOINTERFACE);
    EXPECT_NE(AttributesOf(*root, trashItem.Data()) & SFGAO_DROPTARGET, 0u);
}

TEST_F(LinuxShell, VirtualFoldersGiveSortKeysInTheirCompareIdsOrder)
{
    MakeDirectory(desktop + "/Zeta");
    // Two trashed files of one original name, told apart by identity alone.
    for (const char* name : {"a.txt", "B.mp3", "10.mp3", "2.mp3", "x.ogg", "x.1.ogg"})
        Check(WriteFileBytes(desktop + "/" + name, name) &&
                  WriteFileBytes(data + "/Trash/files/" + name, "x") &&
                  WriteFileBytes(data + "/Trash/info/" + name + ".trashinfo",
                                 "[Trash Info]\nPath=/home/u/Song.ogg\n"),
              name);
    std::shared_ptr<IShellFolder> root = Desktop();
    for (TNsItemKind kind :
         {TNsItemKind::Entry, TNsItemKind::Trash, TNsItemKind::Computer, TNsItemKind::Network}) {
        std::shared_ptr<IShellFolder> folder =
            kind == TNsItemKind::Entry ? root : Bind(*root, {Special(kind)});
        ASSERT_TRUE(folder);
        std::vector<TItemIdList> lists;
        Enumerate(*folder, kAll, &lists);
        std::vector<TItemIdPosition> items;
        for (const TItemIdList& list : lists)
            items.push_back(list.Data());
        for (int column = 0; column <= 4; ++column) {
            std::vector<TSortKey> keys;
            ASSERT_EQ(folder->GetSortKeys(column, items, keys), S_OK);
            for (size_t i = 0; i < items.size(); ++i)
                for (size_t j = 0; j < items.size(); ++j) {
                    const int order = ResultCode(folder->CompareIDs(column, items[i], items[j]));
                    EXPECT_EQ((keys[i] <=> keys[j]) < 0, order < 0) << NameOf(*folder, items[i]);
                    EXPECT_EQ((keys[i] <=> keys[j]) == 0, order == 0) << column;
                }
        }
    }
}

TEST_F(LinuxShell, TrashRecordsThatDoNotHelpFallBackToTheFileName)
{
    const std::string trash = data + "/Trash";
    struct Case
    {
        const char* record; // null: none
        const char* expected;
    };
    const Case cases[] = {
        {nullptr, "x.ogg"},
        {"[Trash Info]\nPath=sub/dir/y.ogg\n", "y.ogg"},
        {"[Trash Info]\r\nPath=/a/b%2\r\n", "b%2"},
        {"[Other]\nPath=/a/z.ogg\n", "x.ogg"},
        {"[Trash Info]\nPath=/\n", "x.ogg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.record ? c.record : "(none)");
        unlink((trash + "/info/x.ogg.trashinfo").c_str());
        if (c.record)
            Check(WriteFileBytes(trash + "/info/x.ogg.trashinfo", c.record), "info");
        EXPECT_EQ(TrashOriginalName(trash, "x.ogg"), c.expected);
    }
}

TEST_F(LinuxShell, FifosInPlaceOfTheDesktopAndTrashRecordsAreNotOpened)
{
    const std::string trash = data + "/Trash";
    Check(mkfifo((config + "/user-dirs.dirs").c_str(), 0600) == 0, "fifo");
    Check(mkfifo((trash + "/info/x.ogg.trashinfo").c_str(), 0600) == 0, "fifo");
    // In a child, so that an open() stuck on a FIFO ends with the alarm.
    const int code = RunInChild([&] {
        ::alarm(5);
        return (DesktopDirectoryOf(home, config) == desktop ? 0 : 2) +
               (TrashOriginalName(trash, "x.ogg") == "x.ogg" ? 0 : 4);
    });
    EXPECT_EQ(code, 0) << "-1: stuck on a FIFO";
}

TEST_F(LinuxShell, SpecialFolderLocations)
{
    Desktop();
    struct Case
    {
        int csidl;
        std::vector<TNsItemKind> kinds;
    };
    const Case cases[] = {
        {0, {}},
        {5, {TNsItemKind::Home}},
        {10, {TNsItemKind::Trash}},
        {17, {TNsItemKind::Computer}},
        {18, {TNsItemKind::Network}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.csidl);
        TItemIdList list;
        ASSERT_EQ(shell->GetSpecialFolderLocation(nullptr, c.csidl, list), S_OK);
        std::vector<TNsItemKind> kinds;
        for (const TNsItem& item : Items(list.Data()))
            kinds.push_back(item.Kind);
        EXPECT_EQ(kinds, c.kinds);
    }
    TItemIdList desktopList;
    ASSERT_EQ(shell->GetSpecialFolderLocation(nullptr, 16, desktopList), S_OK);
    EXPECT_EQ(Items(desktopList.Data()).front().Kind, TNsItemKind::Computer);
    std::string path;
    ASSERT_TRUE(shell->GetPathFromIDList(desktopList.Data(), path));
    EXPECT_EQ(path, desktop);

    for (int csidl : {1, 2, 6, 11, 19, 35, -1}) {
        TItemIdList list;
        EXPECT_EQ(shell->GetSpecialFolderLocation(nullptr, csidl, list), E_INVALIDARG);
        EXPECT_FALSE(list);
    }
}

TEST_F(LinuxShell, PathsOfListsOutsideTheFileSystemAreRefused)
{
    Desktop();
    TNsItem entry;
    entry.Name = "x";
    TNsItem volumeItem;
    volumeItem.Kind = TNsItemKind::Volume;
    volumeItem.Name = volume;
    struct Case
    {
        std::vector<TNsItem> items;
        std::optional<std::string> path;
    };
    const Case cases[] = {
        {{}, desktop},
        {{Special(TNsItemKind::Home), entry}, home + "/x"},
        {{entry, entry}, desktop + "/x/x"},
        {{Special(TNsItemKind::Computer), volumeItem, entry}, volume + "/x"},
        {{Special(TNsItemKind::Computer)}, std::nullopt},
        {{Special(TNsItemKind::Network)}, std::nullopt},
        {{Special(TNsItemKind::Trash)}, std::nullopt},
        {{Special(TNsItemKind::Computer), entry}, std::nullopt},
        {{Special(TNsItemKind::Home), Special(TNsItemKind::Home)}, std::nullopt},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const TItemIdList list = ListOf(cases[i].items);
        std::string path;
        EXPECT_EQ(shell->GetPathFromIDList(list.Data(), path), cases[i].path.has_value());
        if (cases[i].path) {
            EXPECT_EQ(path, *cases[i].path);
        }
    }
}

TEST_F(LinuxShell, FileInfoGivesIconsAndTypeNames)
{
    MakeDirectory(home + "/Folder");
    std::shared_ptr<IShellFolder> root = Desktop();
    TItemIdList folder;
    ASSERT_EQ(root->ParseDisplayName(nullptr, home + "/Folder", folder), S_OK);
    TItemIdList volumeList;
    ASSERT_EQ(root->ParseDisplayName(nullptr, volume, volumeList), S_OK);

    struct Case
    {
        TItemIdList list;
        uint32_t flags;
        int icon;
        std::string typeName;
    };
    Case cases[] = {
        {ListOf({}), 0, SysIconIndex(TSysIcon::Desktop), "システム フォルダー"},
        {ListOf({Special(TNsItemKind::Computer)}), 0, SysIconIndex(TSysIcon::Computer),
         "システム フォルダー"},
        {ListOf({Special(TNsItemKind::Home)}), 0, SysIconIndex(TSysIcon::Home),
         "システム フォルダー"},
        {ListOf({Special(TNsItemKind::Trash)}), 0, SysIconIndex(TSysIcon::TrashEmpty),
         "システム フォルダー"},
        {std::move(folder), 0, SysIconIndex(TSysIcon::Folder), "ファイル フォルダー"},
        {std::move(volumeList), 0, SysIconIndex(TSysIcon::DriveFixed), "ローカル ディスク"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.typeName);
        TShFileInfo info;
        ASSERT_TRUE(shell->GetFileInfo(
            c.list.Data(), SHGFI_SYSICONINDEX | SHGFI_TYPENAME | SHGFI_SMALLICON, info));
        EXPECT_EQ(info.IconIndex, c.icon);
        EXPECT_EQ(info.TypeName, c.typeName);
        EXPECT_EQ(info.ImageList, &SysImageList(false));
    }
    TShFileInfo open;
    ASSERT_TRUE(
        shell->GetFileInfo(cases[4].list.Data(), SHGFI_SYSICONINDEX | SHGFI_OPENICON, open));
    EXPECT_EQ(open.IconIndex, SysIconIndex(TSysIcon::FolderOpen));
    EXPECT_EQ(open.ImageList, &SysImageList(true));

    Check(WriteFileBytes(data + "/Trash/files/gone", ""), "trashed");
    TShFileInfo full;
    ASSERT_TRUE(shell->GetFileInfo(cases[3].list.Data(), SHGFI_SYSICONINDEX, full));
    EXPECT_EQ(full.IconIndex, SysIconIndex(TSysIcon::TrashFull));

    std::shared_ptr<IExtractIcon> extractor;
    TItemIdPosition computer = cases[1].list.Data();
    ASSERT_EQ(root->GetUIObjectOf(nullptr, {&computer, 1}, extractor), S_OK);
    int index = -1;
    uint32_t outFlags = 0;
    ASSERT_EQ(extractor->GetIconLocation(0, index, outFlags), S_OK);
    EXPECT_EQ(index, SysIconIndex(TSysIcon::Computer));
    std::shared_ptr<IShellIcon> icons = root->QueryShellIcon();
    ASSERT_TRUE(icons);
    ASSERT_EQ(icons->GetIconOf(computer, 0, index), S_OK);
    EXPECT_EQ(index, SysIconIndex(TSysIcon::Computer));
    std::shared_ptr<IDataObject> dataObject;
    EXPECT_EQ(root->GetUIObjectOf(nullptr, {&computer, 1}, dataObject), E_NOINTERFACE);
}

TEST_F(LinuxShell, SpecialsCannotBeRenamedAndEntriesCan)
{
    Check(WriteFileBytes(desktop + "/old.txt", "x"), "file");
    std::shared_ptr<IShellFolder> root = Desktop();
    const TItemIdList home = ListOf({Special(TNsItemKind::Home)});
    EXPECT_EQ(root->SetNameOf(nullptr, home.Data(), "x", SHGDN_NORMAL, nullptr), E_FAIL);
    TWin32FindData data;
    EXPECT_TRUE(FAILED(root->GetDataFromIDList(home.Data(), data)));

    const TItemIdList entry = ListOf({*ReadNsEntryOfPath(desktop + "/old.txt")});
    TItemIdList renamed;
    ASSERT_EQ(root->SetNameOf(nullptr, entry.Data(), "new.txt", SHGDN_NORMAL, &renamed), S_OK);
    EXPECT_TRUE(FileExists(desktop + "/new.txt"));
    EXPECT_FALSE(FileExists(desktop + "/old.txt"));
    EXPECT_EQ(NameOf(*root, renamed.Data()), "new.txt");
}

TEST_F(LinuxShell, CorruptOrForeignListsFailWithoutCrashing)
{
    std::shared_ptr<IShellFolder> root = Desktop();
    TItemIdList computer = ListOf({Special(TNsItemKind::Computer)});
    std::vector<std::string> corrupt;
    // Wrong signature, unknown kind, a special with a name, too short a count.
    std::string bytes(reinterpret_cast<const char*>(computer.Data()), computer.BlockSize());
    corrupt.push_back(bytes);
    corrupt.back()[2] = 0x11;
    corrupt.push_back(bytes);
    corrupt.back()[3] = 0x40;
    corrupt.push_back(std::string("\x05\x00\xA7\x01\x00\x00\x00", 7));
    {
        TNsItem entry;
        entry.Name = "ab";
        TItemIdList list = ListOf({entry});
        std::string withSlash(reinterpret_cast<const char*>(list.Data()), list.BlockSize());
        withSlash[kNsItemHeaderSize + 1] = '/';
        corrupt.push_back(withSlash);
        // A good computer item followed by a foreign one.
        corrupt.push_back(bytes.substr(0, bytes.size() - 2) + corrupt[0]);
    }
    for (size_t i = 0; i < corrupt.size(); ++i) {
        SCOPED_TRACE(i);
        const TItemIdList list =
            TItemIdList::FromUntrustedBytes(corrupt[i].data(), corrupt[i].size());
        ASSERT_TRUE(list);
        TItemIdPosition position = list.Data();
        std::shared_ptr<IShellFolder> folder;
        EXPECT_TRUE(FAILED(root->BindToObject(position, folder)));
        EXPECT_TRUE(FAILED(root->CompareIDs(0, position, computer.Data())));
        EXPECT_TRUE(FAILED(root->CompareIDs(0, ListOf({}).Data(), position)));
        uint32_t attributes = SFGAO_FOLDER;
        EXPECT_TRUE(FAILED(root->GetAttributesOf({&position, 1}, attributes)));
        std::string name;
        EXPECT_TRUE(FAILED(root->GetDisplayNameOf(position, SHGDN_NORMAL, name)));
        std::shared_ptr<IExtractIcon> extractor;
        EXPECT_TRUE(FAILED(root->GetUIObjectOf(nullptr, {&position, 1}, extractor)));
        std::string path;
        EXPECT_FALSE(shell->GetPathFromIDList(position, path));
        TShFileInfo info;
        EXPECT_FALSE(shell->GetFileInfo(position, SHGFI_TYPENAME, info));
    }
    // The computer and trash folders refuse items of other folders.
    std::shared_ptr<IShellFolder> computerFolder = Bind(*root, {Special(TNsItemKind::Computer)});
    std::string name;
    EXPECT_EQ(computerFolder->GetDisplayNameOf(computer.Data(), SHGDN_NORMAL, name), E_INVALIDARG);
    std::shared_ptr<IShellFolder> trash = Bind(*root, {Special(TNsItemKind::Trash)});
    EXPECT_EQ(trash->GetDisplayNameOf(computer.Data(), SHGDN_NORMAL, name), E_INVALIDARG);
}

TEST_F(LinuxShell, VolumeLabelsAreShownInTitleCase)
{
    struct Case
    {
        const char* label;
        const char* shown;
    };
    const Case cases[] = {
        {"MUSIC", "Music"},
        {"my disk", "My disk"},
        {"ÄPFEL", "äpfel"},
        {"123ABC", "123abc"},
        {"", ""},
        {"\xFF"
         "AB",
         "\xFF"
         "ab"},
    };
    for (const Case& c : cases) {
        TMount mount;
        mount.Label = c.label;
        EXPECT_EQ(VolumeLabelOfMount(mount), c.shown) << c.label;
    }
}

TEST_F(LinuxShell, MountTableIsReadAgainWhenChangeNoticesAreFlushedOrItChanges)
{
    Desktop();
    ASSERT_EQ(shell->GetVolumeLabel(volume), "MUSIC");
    // A new label leaves the table as it was; the device notice flushes.
    Check(rename(dir.File("by-label/MUSIC").c_str(), dir.File("by-label/TUNES").c_str()) == 0,
          "rename");
    shell->FlushChangeNotices();
    EXPECT_EQ(shell->GetVolumeLabel(volume), "TUNES");
    WriteTable({"/ / rw - ext4 /dev/vda1 rw"});
    EXPECT_EQ(shell->GetVolumeLabel(volume), "");
}

// Without the fixture: the death test's child would leave its folders behind.
TEST(NamespaceThread, TheNamespaceIsForTheUiThread)
{
#ifdef QT_NO_DEBUG
    GTEST_SKIP() << "asserted in debug builds only";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(std::thread([] { ShellNamespace(); }).join(), "UI thread");
}

TEST_F(LinuxShell, ReadingsOfOneItemCompareEqualInEveryColumn)
{
    MakeDirectory(desktop + "/Album");
    std::shared_ptr<IShellFolder> root = Desktop();
    const auto album = [&] {
        for (const TNsItem& item : Enumerate(*root, kAll))
            if (item.Name == "Album")
                return ListOf({item});
        return TItemIdList();
    };
    const TItemIdList before = album();
    Check(WriteFileBytes(desktop + "/Album/new.mp3", "x"), "file");
    const timespec times[2] = {{1000, 0}, {2000, 0}};
    Check(utimensat(AT_FDCWD, (desktop + "/Album").c_str(), times, 0) == 0, "utimensat");
    const TItemIdList after = album();
    for (int column = 0; column <= 4; ++column)
        EXPECT_EQ(root->CompareIDs(column, before.Data(), after.Data()), CompareResult(0));
}

TEST_F(LinuxShell, FoldersThatMayStallAreNotLookedInto)
{
    for (const char* path : {"share/music", "home/nas", "home/local"})
        MakeDirectory(dir.File(path));
    // Links into a network mount; the dangling one shows what a stat that
    // followed it would have made of it.
    Check(symlink((share + "/music").c_str(), (home + "/Music").c_str()) == 0, "symlink");
    Check(symlink((share + "/gone").c_str(), (home + "/Gone").c_str()) == 0, "symlink");
    WriteTable({"/ / rw - ext4 /dev/vda1 rw", "/ " + share + " rw - nfs4 server:/export rw",
                "/ " + home + "/nas rw - nfs4 server:/nas rw"});
    std::shared_ptr<IShellFolder> folder = Bind(*Desktop(), {Special(TNsItemKind::Home)});
    std::vector<std::string> folders;
    for (const TNsItem& item : Enumerate(*folder, SHCONTF_FOLDERS))
        folders.push_back(item.Name);
    std::sort(folders.begin(), folders.end());
    EXPECT_EQ(folders, (std::vector<std::string>{"Desktop", "Gone", "Music", "local", "nas"}));
    // All empty: a sub-folder is assumed only where looking could stall.
    for (const auto& [name, mayStall] :
         {std::pair<std::string, bool>{"Music", true}, {"nas", true}, {"local", false}}) {
        TItemIdList list;
        ASSERT_EQ(folder->ParseDisplayName(nullptr, name, list), S_OK) << name;
        std::shared_ptr<IShellFolder> bound;
        ASSERT_EQ(folder->BindToObject(list.Data(), bound), S_OK) << name;
        EXPECT_EQ(dynamic_cast<TFsFolder&>(*bound).MayStall(), mayStall) << name;
        EXPECT_EQ((AttributesOf(*folder, list.Data()) & SFGAO_HASSUBFOLDER) != 0, mayStall) << name;
    }
    // Bound from the desktop through many folders at once: past a link onto
    // the mount, or not.
    MakeDirectory(dir.File("home/local/deep"));
    MakeDirectory(dir.File("share/music/album"));
    std::shared_ptr<IShellFolder> desktop = Desktop();
    for (const auto& [path, mayStall] : {std::pair<std::string, bool>{home + "/local/deep", false},
                                         {home + "/Music/album", true}}) {
        TItemIdList list;
        ASSERT_EQ(desktop->ParseDisplayName(nullptr, path, list), S_OK) << path;
        std::shared_ptr<IShellFolder> bound;
        ASSERT_EQ(desktop->BindToObject(list.Data(), bound), S_OK) << path;
        EXPECT_EQ(dynamic_cast<TFsFolder&>(*bound).MayStall(), mayStall) << path;
    }
}

TEST_F(LinuxShell, SelectionsNameTheirFolderInTheIdListFormat)
{
    Check(WriteFileBytes(desktop + "/note.txt", "x"), "file");
    Check(WriteFileBytes(home + "/song.mp3", "x"), "file");
    std::shared_ptr<IShellFolder> root = Desktop();
    struct Case
    {
        std::shared_ptr<IShellFolder> folder;
        TNsItem child;
        std::vector<TNsItem> parent;
        std::string path;
    };
    const Case cases[] = {
        {root, *ReadNsEntryOfPath(desktop + "/note.txt"), {}, desktop + "/note.txt"},
        {Bind(*root, {Special(TNsItemKind::Home)}),
         *ReadNsEntryOfPath(home + "/song.mp3"),
         {Special(TNsItemKind::Home)},
         home + "/song.mp3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const TItemIdList child = ListOf({c.child});
        TItemIdPosition position = child.Data();
        std::shared_ptr<IDataObject> data;
        ASSERT_EQ(c.folder->GetUIObjectOf(nullptr, {&position, 1}, data), S_OK);
        QByteArray bytes;
        ASSERT_EQ(data->GetData(kFileDropFormat, bytes), S_OK);
        EXPECT_EQ(bytes.toStdString(), "file://" + c.path + "\r\n");
        ASSERT_EQ(data->GetData(kShellIdListFormat, bytes), S_OK);
        const std::optional<TShellIdListArray> array = DecodeShellIdListArray(bytes);
        ASSERT_TRUE(array);
        const TItemIdList expectedParent = ListOf(c.parent);
        EXPECT_EQ(root->CompareIDs(0, array->Parent.Data(), expectedParent.Data()),
                  CompareResult(0));
        ASSERT_EQ(array->Items.size(), 1u);
    }
}

TEST_F(LinuxShell, NullPutsAFreshLinuxNamespaceInPlace)
{
    SetShellNamespace(nullptr);
    auto* first = dynamic_cast<TLinuxShellNamespace*>(ShellNamespace().get());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Environment().Home, home);
    EXPECT_EQ(ShellNamespace().get(), first);

    TScopedVariable otherHome("HOME", dir.File("elsewhere"));
    SetShellNamespace(nullptr);
    auto* second = dynamic_cast<TLinuxShellNamespace*>(ShellNamespace().get());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->Environment().Home, dir.File("elsewhere"));
}

} // namespace
