#include "platform/shellns/FsFolder.h"

#include "platform/core/FileFacts.h"
#include "platform/core/PathCodec.h"
#include "platform/shellns/SysImageList.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <set>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

void MakeDirectory(const std::string& path)
{
    Check(mkdir(path.c_str(), 0755) == 0, "mkdir " + path);
}

void MakeFile(const std::string& path, const std::string& content = "x")
{
    Check(WriteFileBytes(path, content), "write " + path);
}

std::vector<std::string> ListNames(TFsFolder& folder, uint32_t flags)
{
    std::shared_ptr<IEnumIDList> children;
    EXPECT_EQ(folder.EnumObjects(nullptr, flags, children), S_OK);
    std::vector<std::string> names;
    if (!children)
        return names;
    TItemIdList item;
    while (children->Next(item) == S_OK) {
        std::optional<TNsItem> decoded = DecodeNsItem(item.Data());
        EXPECT_TRUE(decoded);
        if (decoded)
            names.push_back(decoded->Name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TItemIdList ItemOf(const std::string& path)
{
    std::optional<TNsItem> item = ReadNsEntryOfPath(path);
    Check(item.has_value(), "read " + path);
    return EncodeNsItem(*item);
}

TItemIdList Concat(TItemIdPosition first, TItemIdPosition second)
{
    auto bytesOf = [](TItemIdPosition list) {
        size_t size = 0;
        while (ItemIdCount(list + size) != 0)
            size += ItemIdCount(list + size);
        return std::string(reinterpret_cast<const char*>(list), size);
    };
    const std::string joined = bytesOf(first) + bytesOf(second) + std::string(2, '\0');
    return TItemIdList::FromUntrustedBytes(joined.data(), joined.size());
}

int Compare(TFsFolder& folder, int column, const TItemIdList& first, const TItemIdList& second)
{
    const HRESULT result = folder.CompareIDs(column, first.Data(), second.Data());
    EXPECT_TRUE(SUCCEEDED(result));
    return ResultCode(result);
}

uint32_t AttributesOf(TFsFolder& folder, const TItemIdList& item, uint32_t asked)
{
    TItemIdPosition position = item.Data();
    uint32_t attributes = asked;
    EXPECT_EQ(folder.GetAttributesOf({&position, 1}, attributes), S_OK);
    return attributes;
}

TNsItem File(const std::string& name, uint64_t size = 0, TFileTime written = 0)
{
    TNsItem item;
    item.Name = name;
    item.Size = size;
    item.LastWriteTime = written;
    return item;
}

TNsItem Folder(const std::string& name)
{
    TNsItem item = File(name);
    item.Flags = kNsFlagFolder;
    item.Attributes = FILE_ATTRIBUTE_DIRECTORY;
    return item;
}

// Makes a directory unwritable for one scope: by its mode, or for root by
// the immutable flag, which access(2) honours even for root.
class TDirectoryLock
{
public:
    TDirectoryLock(const std::string& path, bool immutable) : path_(path), immutable_(immutable)
    {
        if (!immutable_) {
            locked_ = chmod(path_.c_str(), 0555) == 0;
            return;
        }
        const int fd = open(path_.c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            locked_ = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (fd >= 0)
            close(fd);
    }
    ~TDirectoryLock()
    {
        if (!locked_)
            return;
        if (!immutable_) {
            chmod(path_.c_str(), 0755);
            return;
        }
        const int fd = open(path_.c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ioctl(fd, FS_IOC_SETFLAGS, &flags);
        }
        if (fd >= 0)
            close(fd);
    }
    TDirectoryLock(const TDirectoryLock&) = delete;
    TDirectoryLock& operator=(const TDirectoryLock&) = delete;
    bool Locked() const { return locked_; }

private:
    std::string path_;
    bool immutable_;
    bool locked_ = false;
};

class FsFolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        MakeDirectory(dir.File("sub"));
        MakeDirectory(dir.File(".hiddendir"));
        MakeFile(dir.File("a.txt"));
        MakeFile(dir.File(".hidden"));
    }

    TTestDir dir;
};

} // namespace

TEST_F(FsFolderTest, EnumerationSelectsKindsAndHiddenEntries)
{
    struct TCase
    {
        uint32_t flags;
        std::vector<std::string> names;
    };
    const TCase cases[] = {
        {SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, {"a.txt", "sub"}},
        {SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN,
         {".hidden", ".hiddendir", "a.txt", "sub"}},
        {SHCONTF_FOLDERS, {"sub"}},
        {SHCONTF_FOLDERS | SHCONTF_INCLUDEHIDDEN, {".hiddendir", "sub"}},
        {SHCONTF_NONFOLDERS, {"a.txt"}},
        {SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, {".hidden", "a.txt"}},
        {0, {}},
    };
    TFsFolder folder(dir.Path(), false);
    for (const TCase& test : cases)
        EXPECT_EQ(ListNames(folder, test.flags), test.names) << "flags " << test.flags;
}

TEST_F(FsFolderTest, LinkToFolderIsListedAsFolder)
{
    Check(symlink("sub", dir.File("linked").c_str()) == 0, "symlink");
    Check(symlink("missing", dir.File("dangling").c_str()) == 0, "symlink");
    TFsFolder folder(dir.Path(), false);
    EXPECT_EQ(ListNames(folder, SHCONTF_FOLDERS), (std::vector<std::string>{"linked", "sub"}));
    EXPECT_EQ(ListNames(folder, SHCONTF_NONFOLDERS),
              (std::vector<std::string>{"a.txt", "dangling"}));
}

TEST_F(FsFolderTest, EntriesThatVanishAreSkipped)
{
    TTestDir other;
    for (const char* name : {"one", "two", "three"})
        MakeFile(other.File(name));
    TFsFolder folder(other.Path(), false);
    std::shared_ptr<IEnumIDList> children;
    ASSERT_EQ(folder.EnumObjects(nullptr, SHCONTF_NONFOLDERS, children), S_OK);
    TItemIdList first;
    ASSERT_EQ(children->Next(first), S_OK);
    const std::string kept = DecodeNsItem(first.Data())->Name;
    for (const char* name : {"one", "two", "three"})
        if (kept != name)
            Check(unlink(other.File(name).c_str()) == 0, "unlink");
    TItemIdList next;
    EXPECT_EQ(children->Next(next), S_FALSE);
    EXPECT_EQ(children->Next(next), S_FALSE);
}

TEST_F(FsFolderTest, MissingDirectoryFailsToEnumerate)
{
    TFsFolder folder(dir.File("nowhere"), false);
    std::shared_ptr<IEnumIDList> children;
    EXPECT_TRUE(FAILED(folder.EnumObjects(nullptr, SHCONTF_FOLDERS, children)));
}

TEST_F(FsFolderTest, NamesKeepTheirBytes)
{
    const std::string japanese = "日本語の曲.mp3";
    const std::string invalid = "bad\xff\xfe.mp3";
    TTestDir other;
    MakeFile(other.File(japanese));
    MakeFile(other.File(invalid));
    TFsFolder folder(other.Path(), false);
    EXPECT_EQ(ListNames(folder, SHCONTF_NONFOLDERS), (std::vector<std::string>{invalid, japanese}));

    const TItemIdList item = ItemOf(other.File(invalid));
    std::string name;
    ASSERT_EQ(folder.GetDisplayNameOf(item.Data(), SHGDN_NORMAL, name), S_OK);
    EXPECT_EQ(name, "bad\uFFFD\uFFFD.mp3");
    ASSERT_EQ(folder.GetDisplayNameOf(item.Data(), SHGDN_INFOLDER, name), S_OK);
    EXPECT_EQ(name, "bad\uFFFD\uFFFD.mp3");
    ASSERT_EQ(folder.GetDisplayNameOf(item.Data(), SHGDN_INFOLDER | SHGDN_FORPARSING, name), S_OK);
    EXPECT_EQ(name, invalid);
    ASSERT_EQ(folder.GetDisplayNameOf(item.Data(), SHGDN_FORPARSING, name), S_OK);
    EXPECT_EQ(name, other.File(invalid));

    const TItemIdList shown = ItemOf(other.File(japanese));
    ASSERT_EQ(folder.GetDisplayNameOf(shown.Data(), SHGDN_NORMAL, name), S_OK);
    EXPECT_EQ(name, japanese);
}

TEST(FsFolderNames, DisplayNameReplacesEveryInvalidByte)
{
    struct TCase
    {
        std::string bytes;
        std::string shown;
    };
    const TCase cases[] = {
        {"plain", "plain"},
        {"曲", "曲"},
        {"\xe6\x9b", "\uFFFD\uFFFD"},           // a sequence cut short
        {"\xc0\xaf", "\uFFFD\uFFFD"},           // overlong "/"
        {"\xed\xa0\x80", "\uFFFD\uFFFD\uFFFD"}, // a surrogate
        {"a\x80"
         "b",
         "a\uFFFD"
         "b"},
        {"", ""},
    };
    for (const TCase& test : cases)
        EXPECT_EQ(DisplayNameOfBytes(test.bytes), test.shown) << test.bytes;
}

TEST(FsFolderNames, CollationIsNaturalAndCaseInsensitive)
{
    // The root collation and a user locale must both order numbers by value
    // and ignore case; byte order would say "10" < "2" and "B" < "a".
    TNsNameCollation root(QLocale(QLocale::English, QLocale::AnyTerritory));
    TNsNameCollation japanese(QLocale(QLocale::Japanese, QLocale::Japan));
    struct TCase
    {
        const char* first;
        const char* second;
    };
    const TCase ascending[] = {
        {"2", "10"}, {"file2.mp3", "file10.mp3"}, {"a", "B"}, {"b", "C"}, {"track 9", "Track 10"},
    };
    for (TNsNameCollation* collation : {&root, &japanese}) {
        for (const TCase& test : ascending) {
            EXPECT_LT(collation->Compare(test.first, test.second), 0)
                << test.first << " / " << test.second;
            EXPECT_GT(collation->Compare(test.second, test.first), 0)
                << test.second << " / " << test.first;
        }
        // Equal to the collation, still two names.
        const int upperFirst = collation->Compare("Music", "music");
        EXPECT_NE(upperFirst, 0);
        EXPECT_EQ(collation->Compare("music", "Music"), -upperFirst);
        EXPECT_EQ(collation->Compare("Music", "Music"), 0);
    }
}

TEST(FsFolderNames, CollationKeepsOneKeyPerName)
{
    TNsNameCollation collation(QLocale(QLocale::English, QLocale::AnyTerritory));
    for (int round = 0; round < 3; ++round) {
        EXPECT_LT(collation.Compare("a", "b"), 0);
        EXPECT_LT(collation.Compare("b", "c"), 0);
    }
    EXPECT_EQ(collation.KeptKeys(), 3u);
}

TEST(FsFolderNames, CLocaleCollatesWithTheRootCollation)
{
    const char* previous = getenv("LC_ALL");
    const std::string saved = previous ? previous : "";
    setenv("LC_ALL", "POSIX", 1);
    const QLocale chosen = NsCollationLocale();
    if (previous)
        setenv("LC_ALL", saved.c_str(), 1);
    else
        unsetenv("LC_ALL");
    // Qt's C locale collator would ignore numeric mode; the choice must not
    // be it.
    EXPECT_NE(chosen.language(), QLocale::C);
    TNsNameCollation collation(chosen);
    EXPECT_LT(collation.Compare("2", "10"), 0);
}

TEST(FsFolderEntries, ColumnsOrderFoldersFirstThenTheColumnThenTheName)
{
    struct TCase
    {
        const char* what;
        int column;
        TNsItem first;
        TNsItem second;
    };
    const TCase cases[] = {
        {"name", 0, File("a"), File("b")},
        {"natural name", 0, File("2.mp3"), File("10.mp3")},
        {"folder before file by name", 0, Folder("z"), File("a")},
        {"folder before file by size", 1, Folder("z"), File("a", 1)},
        {"folder before file by time", 3, Folder("z"), File("a", 0, 1)},
        {"size", 1, File("z", 1), File("a", 2)},
        {"size tie by name", 1, File("a", 5), File("b", 5)},
        {"time", 3, File("z", 0, 100), File("a", 0, 200)},
        {"time tie by name", 3, File("a", 0, 100), File("b", 0, 100)},
        {"folders have one type", 2, Folder("a"), Folder("b")},
        {"same type by name", 2, File("a.mp3"), File("b.mp3")},
        {"same name, file after folder", 1, Folder("a"), File("a")},
    };
    for (const TCase& test : cases) {
        EXPECT_LT(CompareNsEntries(test.column, test.first, test.second), 0) << test.what;
        EXPECT_GT(CompareNsEntries(test.column, test.second, test.first), 0) << test.what;
    }
    EXPECT_EQ(CompareNsEntries(0, File("a", 1, 2), File("a", 1, 2)), 0);

    TNsItem readOnly = File("z");
    readOnly.Attributes = FILE_ATTRIBUTE_READONLY;
    TNsItem hidden = File("a");
    hidden.Attributes = FILE_ATTRIBUTE_HIDDEN;
    EXPECT_LT(CompareNsEntries(4, readOnly, hidden), 0);
    EXPECT_GT(CompareNsEntries(4, hidden, readOnly), 0);
}

TEST(FsFolderEntries, TypeColumnOrdersByTypeName)
{
    const std::string audio = FileTypeName("z.mp3").toStdString();
    const std::string text = FileTypeName("a.txt").toStdString();
    if (audio == text)
        GTEST_SKIP() << "the MIME database gives both the same type name";
    const int typeOrder = CompareNsNames(audio, text);
    const int order = CompareNsEntries(2, File("z.mp3"), File("a.txt"));
    EXPECT_EQ(order < 0, typeOrder < 0);
    EXPECT_NE(order, 0);
}

TEST_F(FsFolderTest, CompareIdsTellsApartNamesThatDifferInCase)
{
    MakeDirectory(dir.File("Music"));
    MakeDirectory(dir.File("music"));
    TFsFolder folder(dir.Path(), false);
    const TItemIdList upper = ItemOf(dir.File("Music"));
    const TItemIdList lower = ItemOf(dir.File("music"));
    for (int column = 0; column <= 4; ++column) {
        const int order = Compare(folder, column, upper, lower);
        EXPECT_NE(order, 0) << column;
        EXPECT_EQ(Compare(folder, column, lower, upper), -order) << column;
        EXPECT_EQ(Compare(folder, column, upper, upper), 0) << column;
    }
    const TItemIdList file = ItemOf(dir.File("a.txt"));
    EXPECT_LT(Compare(folder, 0, lower, file), 0);
}

TEST_F(FsFolderTest, CompareIdsGoesDownMultiItemLists)
{
    MakeFile(dir.File("sub/x2"));
    MakeFile(dir.File("sub/x10"));
    TFsFolder folder(dir.Path(), false);
    const TItemIdList sub = ItemOf(dir.File("sub"));
    const TItemIdList low = Concat(sub.Data(), ItemOf(dir.File("sub/x2")).Data());
    const TItemIdList high = Concat(sub.Data(), ItemOf(dir.File("sub/x10")).Data());
    EXPECT_LT(Compare(folder, 0, low, high), 0);
    EXPECT_GT(Compare(folder, 0, high, low), 0);
    EXPECT_EQ(Compare(folder, 0, high, high), 0);
    EXPECT_LT(Compare(folder, 0, sub, low), 0);
    EXPECT_GT(Compare(folder, 0, low, sub), 0);
}

TEST_F(FsFolderTest, AttributesFollowTheEntry)
{
    MakeFile(dir.File("locked"));
    Check(chmod(dir.File("locked").c_str(), 0444) == 0, "chmod");
    Check(symlink("a.txt", dir.File("link").c_str()) == 0, "symlink");
    MakeDirectory(dir.File("sub/inner"));
    MakeDirectory(dir.File("flat"));
    MakeFile(dir.File("flat/file"));
    MakeDirectory(dir.File("viaLink"));
    Check(symlink("../sub", dir.File("viaLink/up").c_str()) == 0, "symlink");
    TFsFolder folder(dir.Path(), false);

    struct TCase
    {
        const char* name;
        uint32_t bit;
        bool expected;
    };
    const TCase cases[] = {
        {"link", SFGAO_LINK, true},
        {"a.txt", SFGAO_LINK, false},
        {".hidden", SFGAO_HIDDEN, true},
        {"a.txt", SFGAO_HIDDEN, false},
        {"locked", SFGAO_READONLY, true},
        {"a.txt", SFGAO_READONLY, false},
        {"sub", SFGAO_FOLDER, true},
        {"a.txt", SFGAO_FOLDER, false},
        {"sub", SFGAO_HASSUBFOLDER, true},
        {"flat", SFGAO_HASSUBFOLDER, false},
        {"viaLink", SFGAO_HASSUBFOLDER, true},
        {"a.txt", SFGAO_FILESYSTEM, true},
        {"sub", SFGAO_FILESYSANCESTOR, false},
        {"a.txt", SFGAO_CANRENAME | SFGAO_CANDELETE | SFGAO_CANMOVE, true},
        {"a.txt", SFGAO_CANCOPY, true},
        {"sub", SFGAO_DROPTARGET, true},
        {"a.txt", SFGAO_DROPTARGET, false},
    };
    for (const TCase& test : cases) {
        const uint32_t attributes = AttributesOf(folder, ItemOf(dir.File(test.name)), test.bit);
        EXPECT_EQ((attributes & test.bit) == test.bit, test.expected)
            << test.name << " 0x" << std::hex << test.bit;
    }
}

TEST_F(FsFolderTest, AttributesAreCommonToAllItems)
{
    TFsFolder folder(dir.Path(), false);
    const TItemIdList sub = ItemOf(dir.File("sub"));
    const TItemIdList file = ItemOf(dir.File("a.txt"));
    const TItemIdPosition both[] = {sub.Data(), file.Data()};
    uint32_t attributes = SFGAO_FOLDER | SFGAO_FILESYSTEM;
    ASSERT_EQ(folder.GetAttributesOf(both, attributes), S_OK);
    EXPECT_EQ(attributes & SFGAO_FOLDER, 0u);
    EXPECT_NE(attributes & SFGAO_FILESYSTEM, 0u);
}

TEST_F(FsFolderTest, StallingMountAssumesSubFolders)
{
    MakeDirectory(dir.File("empty"));
    TFsFolder stalling(dir.Path(), true);
    TFsFolder local(dir.Path(), false);
    const TItemIdList empty = ItemOf(dir.File("empty"));
    EXPECT_NE(AttributesOf(stalling, empty, SFGAO_HASSUBFOLDER) & SFGAO_HASSUBFOLDER, 0u);
    EXPECT_EQ(AttributesOf(local, empty, SFGAO_HASSUBFOLDER) & SFGAO_HASSUBFOLDER, 0u);
}

TEST_F(FsFolderTest, RenameNeedsAWritableParent)
{
    const std::string locked = dir.File("lockedParent");
    MakeDirectory(locked);
    MakeFile(locked + "/song");
    const TItemIdList song = ItemOf(locked + "/song");
    // Root writes any directory whatever its mode; an immutable directory is
    // the one it cannot write.
    const bool asRoot = geteuid() == 0;
    TDirectoryLock lock(locked, asRoot);
    if (!lock.Locked())
        GTEST_SKIP() << "cannot make a directory unwritable here";
    TFsFolder folder(locked, false);
    const uint32_t attributes =
        AttributesOf(folder, song, SFGAO_CANRENAME | SFGAO_CANDELETE | SFGAO_CANMOVE);
    EXPECT_EQ(attributes & (SFGAO_CANRENAME | SFGAO_CANDELETE | SFGAO_CANMOVE), 0u);
    EXPECT_EQ(folder.SetNameOf(nullptr, song.Data(), "new", 0, nullptr), E_ACCESSDENIED);
}

TEST_F(FsFolderTest, SetNameOfRenamesAndAnswersTheNewItem)
{
    MakeFile(dir.File("old.mp3"), "song");
    TFsFolder folder(dir.Path(), false);
    const TItemIdList item = ItemOf(dir.File("old.mp3"));
    TItemIdList renamed;
    ASSERT_EQ(folder.SetNameOf(nullptr, item.Data(), "新しい.mp3", SHGDN_INFOLDER, &renamed), S_OK);
    EXPECT_FALSE(FileExists(dir.File("old.mp3")));
    EXPECT_EQ(ReadFileBytes(dir.File("新しい.mp3")), "song");
    std::optional<TNsItem> decoded = DecodeNsItem(renamed.Data());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->Name, "新しい.mp3");
    EXPECT_EQ(decoded->Size, 4u);
}

TEST_F(FsFolderTest, SetNameOfNeverReplacesAnExistingEntry)
{
    MakeFile(dir.File("first"), "one");
    MakeFile(dir.File("second"), "two");
    TFsFolder folder(dir.Path(), false);
    const TItemIdList item = ItemOf(dir.File("first"));
    for (const char* taken : {"second", "sub"})
        EXPECT_EQ(folder.SetNameOf(nullptr, item.Data(), taken, 0, nullptr),
                  HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ReadFileBytes(dir.File("first")), "one");
    EXPECT_EQ(ReadFileBytes(dir.File("second")), "two");
}

TEST_F(FsFolderTest, SetNameOfAnswersWhyItRefusesAndKeepsNamesByteForByte)
{
    TFsFolder folder(dir.Path(), false);
    const TItemIdList item = ItemOf(dir.File("a.txt")), gone = ItemOf(dir.File(".hidden"));
    Check(unlink(dir.File(".hidden").c_str()) == 0, "unlink");
    for (const std::string& name : {std::string(), std::string("."), std::string(".."),
                                    std::string("x/y"), std::string("x\0y", 3)})
        EXPECT_EQ(folder.SetNameOf(nullptr, item.Data(), name, 0, nullptr),
                  HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
    const std::tuple<const TItemIdList&, std::string, HRESULT> cases[] = {
        {item, std::string(256, 'n'), HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)},
        {gone, "new", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {item, "\xff\xfe\x80.txt", S_OK}}; // not UTF-8
    for (const auto& [list, name, result] : cases)
        EXPECT_EQ(folder.SetNameOf(nullptr, list.Data(), name, 0, nullptr), result) << name;
    EXPECT_EQ(ReadFileBytes(dir.File("\xff\xfe\x80.txt")), "x");
}

TEST_F(FsFolderTest, ParseDisplayNameWalksComponents)
{
    MakeDirectory(dir.File("sub/deeper"));
    MakeFile(dir.File("sub/deeper/song.mp3"), "12345");
    TFsFolder folder(dir.Path(), false);
    TItemIdList list;
    ASSERT_EQ(folder.ParseDisplayName(nullptr, "sub/deeper/song.mp3", list), S_OK);
    std::optional<std::vector<TNsItem>> items = DecodeNsList(list.Data());
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 3u);
    EXPECT_EQ((*items)[0].Name, "sub");
    EXPECT_TRUE((*items)[1].IsFolder());
    EXPECT_EQ((*items)[2].Size, 5u);

    std::string path;
    ASSERT_EQ(folder.GetDisplayNameOf(list.Data(), SHGDN_FORPARSING, path), S_OK);
    EXPECT_EQ(path, dir.File("sub/deeper/song.mp3"));
    TWin32FindData data;
    ASSERT_EQ(folder.GetDataFromIDList(list.Data(), data), S_OK);
    EXPECT_EQ(data.FileName, "song.mp3");
    EXPECT_EQ(data.FileSize, 5u);

    for (const char* bad : {"sub/missing", "missing", "a.txt/x", "", "/abs", "sub/../a.txt"}) {
        TItemIdList none;
        EXPECT_TRUE(FAILED(folder.ParseDisplayName(nullptr, bad, none))) << bad;
    }
}

TEST_F(FsFolderTest, BindToObjectGivesTheFolderWithItsAbsoluteList)
{
    MakeDirectory(dir.File("sub/deeper"));
    MakeFile(dir.File("sub/deeper/song.mp3"));
    TFsFolder folder(dir.Path(), true);
    const TItemIdList root = ItemOf(dir.Path());
    folder.SetAbsoluteIdList(ItemOf(dir.Path()));

    TItemIdList list;
    ASSERT_EQ(folder.ParseDisplayName(nullptr, "sub/deeper", list), S_OK);
    std::shared_ptr<IShellFolder> bound;
    ASSERT_EQ(folder.BindToObject(list.Data(), bound), S_OK);
    auto* child = dynamic_cast<TFsFolder*>(bound.get());
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->Directory(), dir.File("sub/deeper"));
    EXPECT_TRUE(child->MayStall());
    const TItemIdList expected = Concat(root.Data(), list.Data());
    ASSERT_NE(child->AbsoluteIdList(), nullptr);
    EXPECT_EQ(std::memcmp(child->AbsoluteIdList(), expected.Data(), expected.BlockSize()), 0);
    EXPECT_EQ(ListNames(*child, SHCONTF_NONFOLDERS), std::vector<std::string>{"song.mp3"});

    std::shared_ptr<IShellFolder> none;
    EXPECT_TRUE(FAILED(folder.BindToObject(ItemOf(dir.File("a.txt")).Data(), none)));
    EXPECT_EQ(none, nullptr);
}

TEST_F(FsFolderTest, CorruptItemsAreRefused)
{
    TFsFolder folder(dir.Path(), false);
    TItemIdList good = ItemOf(dir.File("sub"));
    std::string badSignature(reinterpret_cast<const char*>(good.Data()), good.BlockSize());
    badSignature[2] = 0x12;
    const std::string truncated("\x06\x00\xA7\x07\x01\x00\x00\x00", 8);
    TNsItem volume;
    volume.Kind = TNsItemKind::Volume;
    volume.Name = "/";
    const TItemIdList foreign = EncodeNsItem(volume);
    const std::string foreignBytes(reinterpret_cast<const char*>(foreign.Data()),
                                   foreign.BlockSize());

    for (const std::string& bytes : {badSignature, truncated, foreignBytes}) {
        TItemIdList bad = TItemIdList::FromUntrustedBytes(bytes.data(), bytes.size());
        ASSERT_TRUE(bad);
        TItemIdPosition position = bad.Data();
        std::string name;
        uint32_t attributes = SFGAO_FOLDER;
        std::shared_ptr<IShellFolder> bound;
        TWin32FindData data;
        int index = 0;
        std::shared_ptr<IDataObject> object;
        EXPECT_TRUE(FAILED(folder.GetDisplayNameOf(position, SHGDN_NORMAL, name)));
        EXPECT_TRUE(FAILED(folder.GetAttributesOf({&position, 1}, attributes)));
        EXPECT_TRUE(FAILED(folder.BindToObject(position, bound)));
        EXPECT_TRUE(FAILED(folder.CompareIDs(0, position, good.Data())));
        EXPECT_TRUE(FAILED(folder.GetDataFromIDList(position, data)));
        EXPECT_TRUE(FAILED(folder.GetIconOf(position, 0, index)));
        EXPECT_TRUE(FAILED(folder.GetUIObjectOf(nullptr, {&position, 1}, object)));
        EXPECT_TRUE(FAILED(folder.SetNameOf(nullptr, position, "new", 0, nullptr)));
    }
}

TEST_F(FsFolderTest, DataObjectCarriesUrlsAndTheIdListArray)
{
    const std::string odd = "odd name\xff.mp3";
    MakeFile(dir.File(odd));
    auto folder = std::make_shared<TFsFolder>(dir.Path(), false);
    folder->SetAbsoluteIdList(ItemOf(dir.Path()));
    const TItemIdList first = ItemOf(dir.File(odd));
    const TItemIdList second = ItemOf(dir.File("sub"));
    const TItemIdPosition items[] = {first.Data(), second.Data()};

    std::shared_ptr<IDataObject> data;
    ASSERT_EQ(folder->GetUIObjectOf(nullptr, items, data), S_OK);
    QByteArray urls;
    ASSERT_EQ(data->GetData(kFileDropFormat, urls), S_OK);
    const QByteArray base = QByteArray::fromStdString(dir.Path()).toPercentEncoding("/");
    EXPECT_EQ(urls, "file://" + base + "/odd%20name%FF.mp3\r\nfile://" + base + "/sub\r\n");

    QByteArray array;
    ASSERT_EQ(data->GetData(kShellIdListFormat, array), S_OK);
    std::optional<TShellIdListArray> selection = DecodeShellIdListArray(array);
    ASSERT_TRUE(selection);
    EXPECT_EQ(DecodeNsItem(selection->Parent.Data())->Name, PathOwnName(dir.Path()));
    ASSERT_EQ(selection->Items.size(), 2u);
    EXPECT_EQ(DecodeNsItem(selection->Items[0].Data())->Name, odd);

    std::shared_ptr<IDropTarget> target;
    std::shared_ptr<IContextMenu> menu;
    EXPECT_EQ(folder->GetUIObjectOf(nullptr, items, target), E_NOINTERFACE);
    EXPECT_EQ(folder->GetUIObjectOf(nullptr, items, menu), E_NOINTERFACE);
    EXPECT_EQ(folder->QueryShellIcon().get(), static_cast<IShellIcon*>(folder.get()));
}

TEST_F(FsFolderTest, IconsByKind)
{
    TFsFolder folder(dir.Path(), false);
    const TItemIdList sub = ItemOf(dir.File("sub"));
    const TItemIdList file = ItemOf(dir.File("a.txt"));
    int index = -1;
    ASSERT_EQ(folder.GetIconOf(sub.Data(), 0, index), S_OK);
    EXPECT_EQ(index, SysIconIndex(TSysIcon::Folder));
    ASSERT_EQ(folder.GetIconOf(sub.Data(), GIL_OPENICON, index), S_OK);
    EXPECT_EQ(index, SysIconIndex(TSysIcon::FolderOpen));
    ASSERT_EQ(folder.GetIconOf(file.Data(), 0, index), S_OK);
    EXPECT_EQ(index, FileIconIndex("a.txt"));

    const TItemIdPosition items[] = {sub.Data()};
    std::shared_ptr<IExtractIcon> extractor;
    ASSERT_EQ(folder.GetUIObjectOf(nullptr, items, extractor), S_OK);
    uint32_t outFlags = 0;
    ASSERT_EQ(extractor->GetIconLocation(GIL_OPENICON, index, outFlags), S_OK);
    EXPECT_EQ(index, SysIconIndex(TSysIcon::FolderOpen));
    EXPECT_EQ(outFlags & GIL_PERCLASS, GIL_PERCLASS);
}
