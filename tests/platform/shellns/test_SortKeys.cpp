#include "platform/shellns/FsFolder.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct TColumnCase
{
    const char* name;
    int column;
};

void PrintTo(const TColumnCase& test, std::ostream* out)
{
    *out << test.name;
}

int Sign(int value)
{
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

int Sign(std::strong_ordering order)
{
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

// Names that collation, bytes and facts order differently: case only,
// numbers by value, Japanese, bytes that are not UTF-8 (two of which the
// collation cannot tell apart), equal sizes and times, a read-only file,
// folders and links.
class SortKeys : public ::testing::TestWithParam<TColumnCase>
{
protected:
    void SetUp() override
    {
        const char* files[] = {"a.txt",       "B.txt",      "2.mp3",     "10.mp3",    "曲 2.mp3",
                               "曲 10.flac",  "きょく.MP3", "Track.mp3", "track.mp3", "caf\xE9.ogg",
                               "caf\xE8.ogg", ".hidden",    "ro.txt",    "noext"};
        // Sizes and times that byte order of little-endian numbers would
        // get wrong (1 before 256), with ties.
        const size_t sizes[] = {0, 1, 255, 256, 256, 257, 65'536, 1};
        const time_t seconds[] = {1'000'000, 1'000'000, 1'000'001, 1'000'256, 2'000'000, 1'000'001};
        size_t index = 0;
        for (const char* name : files) {
            Check(WriteFileBytes(dir.File(name), std::string(sizes[index % 8], 'x')), name);
            ++index;
        }
        for (const char* name : {"Music", "music", "sub", "アルバム"})
            Check(mkdir(dir.File(name).c_str(), 0755) == 0, name);
        Check(symlink("a.txt", dir.File("link.mp3").c_str()) == 0, "link to a file");
        Check(symlink("sub", dir.File("linkdir").c_str()) == 0, "link to a folder");
        Check(chmod(dir.File("ro.txt").c_str(), 0444) == 0, "read-only");
        index = 0;
        for (const char* name : files) {
            const timespec times[2] = {{seconds[index % 6], 0}, {seconds[index % 6], 0}};
            Check(utimensat(AT_FDCWD, dir.File(name).c_str(), times, AT_SYMLINK_NOFOLLOW) == 0,
                  name);
            ++index;
        }
    }

    TTestDir dir;
};

TEST_P(SortKeys, OrderEveryPairAsCompareIds)
{
    const int column = GetParam().column;
    auto folder = std::make_shared<TFsFolder>(dir.Path(), false);
    std::shared_ptr<IEnumIDList> children;
    ASSERT_EQ(folder->EnumObjects(
                  nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, children),
              S_OK);
    std::vector<TItemIdList> items;
    for (TItemIdList item; children->Next(item) == S_OK;)
        items.push_back(std::move(item));
    ASSERT_EQ(items.size(), 20u);
    std::vector<TItemIdPosition> positions;
    for (const TItemIdList& item : items)
        positions.push_back(item.Data());

    std::vector<TSortKey> keys;
    ASSERT_EQ(folder->GetSortKeys(column, positions, keys), S_OK);
    ASSERT_EQ(keys.size(), items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        for (size_t j = 0; j < items.size(); ++j) {
            const HRESULT compared = folder->CompareIDs(column, positions[i], positions[j]);
            ASSERT_TRUE(SUCCEEDED(compared));
            EXPECT_EQ(Sign(keys[i] <=> keys[j]), Sign(ResultCode(compared)))
                << DecodeNsItem(positions[i])->Name << " / " << DecodeNsItem(positions[j])->Name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Columns, SortKeys,
                         ::testing::Values(TColumnCase{"name", 0}, TColumnCase{"size", 1},
                                           TColumnCase{"type", 2}, TColumnCase{"modified", 3},
                                           TColumnCase{"attributes", 4}),
                         [](const ::testing::TestParamInfo<TColumnCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(SortKeysRefused, ListsThatNameNoChildLeaveTheKeysAlone)
{
    TTestDir dir;
    Check(mkdir(dir.File("sub").c_str(), 0755) == 0, "sub");
    Check(WriteFileBytes(dir.File("sub/x"), "x"), "x");
    TFsFolder folder(dir.Path(), false);
    TNsItem sub = *ReadNsEntryOfPath(dir.File("sub"));
    const TItemIdList deep = EncodeNsItems({sub, *ReadNsEntryOfPath(dir.File("sub/x"))});
    sub.Kind = TNsItemKind::TrashEntry;
    const TItemIdList foreign = EncodeNsItem(sub);
    const TItemIdList end = TItemIdList::Allocate(2);
    for (TItemIdPosition position : {deep.Data(), foreign.Data(), end.Data()}) {
        std::vector<TSortKey> keys(1);
        keys[0].Bytes = "kept";
        EXPECT_EQ(folder.GetSortKeys(0, {&position, 1}, keys), E_INVALIDARG);
        ASSERT_EQ(keys.size(), 1u);
        EXPECT_EQ(keys[0].Bytes, "kept");
    }
}

} // namespace
