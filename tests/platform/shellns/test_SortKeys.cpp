#include "platform/shellns/FsFolder.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Columns by number; the name generator names them.
using SortKeys = ::testing::TestWithParam<int>;

// Names that collation, bytes and facts order differently: case only, numbers
// by value, Japanese, bytes that are not UTF-8 (two the collation cannot tell
// apart), sizes and times that little-endian bytes would misorder, with ties,
// a read-only file, folders and links.
TEST_P(SortKeys, OrderEveryPairAsCompareIds)
{
    TTestDir dir;
    const char* files[] = {"a.txt",       "B.txt",      "2.mp3",     "10.mp3",    "曲 2.mp3",
                           "曲 10.flac",  "きょく.MP3", "Track.mp3", "track.mp3", "caf\xE9.ogg",
                           "caf\xE8.ogg", ".hidden",    "ro.txt",    "noext"};
    const size_t sizes[] = {0, 1, 255, 256, 256, 257, 65'536, 1};
    const time_t seconds[] = {1'000'000, 1'000'000, 1'000'001, 1'000'256, 2'000'000, 1'000'001};
    for (size_t i = 0; i < std::size(files); ++i) {
        const timespec times[2] = {{seconds[i % 6], 0}, {seconds[i % 6], 0}};
        Check(WriteFileBytes(dir.File(files[i]), std::string(sizes[i % 8], 'x')) &&
                  utimensat(AT_FDCWD, dir.File(files[i]).c_str(), times, 0) == 0,
              files[i]);
    }
    for (const char* name : {"Music", "music", "sub", "アルバム"})
        Check(mkdir(dir.File(name).c_str(), 0755) == 0, name);
    Check(symlink("a.txt", dir.File("link.mp3").c_str()) == 0 &&
              symlink("sub", dir.File("linkdir").c_str()) == 0 &&
              chmod(dir.File("ro.txt").c_str(), 0444) == 0,
          "links and a read-only file");

    const int column = GetParam();
    auto folder = std::make_shared<TFsFolder>(dir.Path(), false);
    std::shared_ptr<IEnumIDList> children;
    ASSERT_EQ(folder->EnumObjects(
                  nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, children),
              S_OK);
    std::vector<TItemIdList> lists;
    std::vector<TItemIdPosition> items;
    for (TItemIdList item; children->Next(item) == S_OK; lists.push_back(std::move(item)))
        items.push_back(item.Data());
    ASSERT_EQ(items.size(), 20u);
    std::vector<TSortKey> keys;
    ASSERT_EQ(folder->GetSortKeys(column, items, keys), S_OK);
    ASSERT_EQ(keys.size(), items.size());
    for (size_t i = 0; i < items.size(); ++i)
        for (size_t j = 0; j < items.size(); ++j) {
            const int order = ResultCode(folder->CompareIDs(column, items[i], items[j]));
            EXPECT_EQ((keys[i] <=> keys[j]) < 0, order < 0) << DecodeNsItem(items[i])->Name;
            EXPECT_EQ((keys[i] <=> keys[j]) == 0, order == 0);
        }
}

const char* const kColumnNames[] = {"name", "size", "type", "modified", "attributes"};

INSTANTIATE_TEST_SUITE_P(Columns, SortKeys, ::testing::Range(0, 5),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(kColumnNames[info.param]);
                         });

} // namespace
