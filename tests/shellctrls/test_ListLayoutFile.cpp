#include "shellctrls/ListLayoutFile.h"

#include "tests/support/TestFiles.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using TColumns = std::optional<std::vector<int>>;
const std::string kSection = "ShellFileSetting";
const std::vector<int> kOrder = {4, 0, 1, 2, 3}, kWidths = {100, 80, 120, 140, 60};
const std::vector<int> kNaturalOrder = {0, 1, 2, 3, 4}, kDefaultWidths = {30, 30, 30, 30, 30};
const std::map<std::string, std::string> kValidKeys = {
    {"ColumnsCount", "5"},    {"Columns0", "4"},       {"Columns1", "0"},
    {"Columns2", "1"},        {"Columns3", "2"},       {"Columns4", "3"},
    {"ColumnsWidth0", "100"}, {"ColumnsWidth1", "80"}, {"ColumnsWidth2", "120"},
    {"ColumnsWidth3", "140"}, {"ColumnsWidth4", "60"}, {"ViewStyle", "3"},
    {"SortOrder1", "-1"},     {"SortType", "1"}};

// The valid section with the given keys in place of its own.
std::string SectionText(std::map<std::string, std::string> keys)
{
    keys.insert(kValidKeys.begin(), kValidKeys.end());
    std::string text = "[" + kSection + "]\n";
    for (const auto& [key, value] : keys)
        text += key + "=" + value + "\n";
    return text;
}

void ExpectLayout(const TListLayout& layout, const TColumns& order, const TColumns& widths,
                  int viewStyle, int sortOrder1, int sortType)
{
    EXPECT_EQ(layout.ColumnOrder, order);
    EXPECT_EQ(layout.ColumnWidths, widths);
    EXPECT_EQ(layout.ViewStyle, viewStyle);
    EXPECT_EQ(layout.SortOrders, (std::array<int, 5>{1, sortOrder1, 1, 1, 1}));
    EXPECT_EQ(layout.SortType, sortType);
}

struct TLoadCase
{
    const char* Name;
    std::pair<std::string, std::string> Change;
    bool ColumnsKept;
    int ViewStyle, SortOrder1, SortType;
};

void PrintTo(const TLoadCase& loadCase, std::ostream* out)
{
    *out << loadCase.Name;
}

using LoadListLayoutCase = testing::TestWithParam<TLoadCase>;

TEST_P(LoadListLayoutCase, ReadsTheValidKeysOnly)
{
    const TLoadCase& c = GetParam();
    TTestDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File("tunemill.ini"), SectionText({c.Change})));
    ExpectLayout(LoadListLayout(dir.File("tunemill.ini"), kSection, 5),
                 c.ColumnsKept ? TColumns(kOrder) : std::nullopt,
                 c.ColumnsKept ? TColumns(kWidths) : std::nullopt, c.ViewStyle, c.SortOrder1,
                 c.SortType);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, LoadListLayoutCase,
    testing::Values(TLoadCase{"Valid", {"Extra", "1"}, true, 3, -1, 1},
                    TLoadCase{"CountZeroReadsNothing", {"ColumnsCount", "0"}, false, 0, 1, 0},
                    TLoadCase{"CountMismatch", {"ColumnsCount", "4"}, false, 3, -1, 1},
                    TLoadCase{"NotAPermutation", {"Columns1", "4"}, false, 3, -1, 1},
                    TLoadCase{"WidthBelowZero", {"ColumnsWidth2", "-1"}, false, 3, -1, 1},
                    TLoadCase{"WidthAbove10000", {"ColumnsWidth2", "10001"}, false, 3, -1, 1},
                    TLoadCase{"NonInteger", {"ViewStyle", "2 x"}, true, 0, -1, 1},
                    TLoadCase{"Beyond32Bits", {"SortType", "4294967297"}, true, 3, -1, 0},
                    TLoadCase{"ViewStyle4", {"ViewStyle", "4"}, true, 0, -1, 1},
                    TLoadCase{"SortType5", {"SortType", "5"}, true, 3, -1, 0},
                    TLoadCase{"SortOrder2", {"SortOrder1", "2"}, true, 3, 1, 1}),
    [](const testing::TestParamInfo<TLoadCase>& info) { return std::string(info.param.Name); });

TEST(ListLayoutFile, NoFileOrARefusedOneGivesTheDefaultsAndARefusedOneIsMovedAsideWhenSaved)
{
    TTestDir dir;
    const std::string file = dir.File("tunemill.ini"), bytes = "ViewStyle=3\n[no group above]\n";
    ExpectLayout(LoadListLayout(file, kSection, 5), kNaturalOrder, kDefaultWidths, 0, 1, 0);
    ASSERT_TRUE(WriteFileBytes(file, bytes));
    TLoadReport report;
    ExpectLayout(LoadListLayout(file, kSection, 5, &report), kNaturalOrder, kDefaultWidths, 0, 1,
                 0);
    EXPECT_TRUE(report.Malformed);
    ASSERT_TRUE(SaveListLayout(file, kSection, {kOrder, kWidths, 2, {1, -1, 1, 1, 1}, 4}));
    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        if (entry.path().filename().string().starts_with("tunemill.ini.malformed-"))
            kept.push_back(ReadFileBytes(entry.path()));
    EXPECT_EQ(kept, std::vector<std::string>{bytes});
    ExpectLayout(LoadListLayout(file, kSection, 5), kOrder, kWidths, 2, -1, 4);
}

TEST(ListLayoutFile, AFifoAtThePathIsNeverOpened)
{
    TTestDir dir;
    const std::string file = dir.File("tunemill.ini");
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    const int code = RunInChild([&] {
        ::alarm(5);
        ExpectLayout(LoadListLayout(file, kSection, 5), kNaturalOrder, kDefaultWidths, 0, 1, 0);
        const bool saved = SaveListLayout(file, kSection, {kOrder, kWidths, 3, {1, 1, 1, 1, 1}, 0});
        return testing::Test::HasFailure() || saved ? 1 : 0;
    });
    EXPECT_EQ(code, 0);
}

TEST(ListLayoutFile, ASaveWithOneColumnThroughALinkKeepsTheLinkAndTheRestOfTheFile)
{
    TTestDir dir;
    const std::string target = dir.File("layout.ini"), link = dir.File("tunemill.ini");
    ASSERT_TRUE(
        WriteFileBytes(target, "# mine\n[Other]\nName=x\n" + SectionText({{"Extra", "1"}})));
    ASSERT_EQ(::symlink("layout.ini", link.c_str()), 0);
    ASSERT_TRUE(SaveListLayout(link, kSection, {{0}, {300}, 1, {1, -1, 1, 1, 1}, 0}));
    struct stat facts;
    EXPECT_TRUE(::lstat(link.c_str(), &facts) == 0 && S_ISLNK(facts.st_mode));
    ExpectLayout(LoadListLayout(target, kSection, 5), kOrder, kWidths, 1, -1, 0);
    const std::string text = ReadFileBytes(target);
    for (const char* part : {"# mine\n", "[Other]\nName=x\n", "Extra=1\n"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
}

} // namespace
