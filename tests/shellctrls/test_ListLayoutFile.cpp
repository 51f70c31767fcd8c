#include "shellctrls/ListLayoutFile.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kSection = "ShellFileSetting";
const std::vector<int> kOrder = {4, 0, 1, 2, 3};
const std::vector<int> kWidths = {100, 80, 120, 140, 60};

// A valid section, with the case's keys replaced.
std::string SectionText(const std::map<std::string, std::string>& changes)
{
    std::map<std::string, std::string> keys = {
        {"ViewStyle", "3"}, {"SortOrder1", "-1"}, {"SortType", "1"}, {"ColumnsCount", "5"}};
    for (int i = 0; i < 5; ++i) {
        keys["Columns" + std::to_string(i)] = std::to_string(kOrder[i]);
        keys["ColumnsWidth" + std::to_string(i)] = std::to_string(kWidths[i]);
    }
    for (const auto& [key, value] : changes)
        keys[key] = value;
    std::string text = "[" + kSection + "]\n";
    for (const auto& [key, value] : keys)
        text += key + "=" + value + "\n";
    return text;
}

struct TLoadCase
{
    const char* Name;
    std::map<std::string, std::string> Changes;
    bool ColumnsKept;
    int ViewStyle;
    int SortOrder1;
    int SortType;
};

void PrintTo(const TLoadCase& loadCase, std::ostream* out)
{
    *out << loadCase.Name;
}

class LoadListLayoutCase : public testing::TestWithParam<TLoadCase>
{
};

TEST_P(LoadListLayoutCase, ReadsTheValidKeysOnly)
{
    const TLoadCase& loadCase = GetParam();
    TTestDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File("tunemill.ini"), SectionText(loadCase.Changes)));
    const TListLayout layout = LoadListLayout(dir.File("tunemill.ini"), kSection, 5);
    EXPECT_EQ(layout.ColumnOrder.has_value(), loadCase.ColumnsKept);
    EXPECT_EQ(layout.ColumnWidths.has_value(), loadCase.ColumnsKept);
    if (loadCase.ColumnsKept) {
        EXPECT_EQ(*layout.ColumnOrder, kOrder);
        EXPECT_EQ(*layout.ColumnWidths, kWidths);
    }
    EXPECT_EQ(layout.ViewStyle, loadCase.ViewStyle);
    EXPECT_EQ(layout.SortOrders, (std::array<int, 5>{1, loadCase.SortOrder1, 1, 1, 1}));
    EXPECT_EQ(layout.SortType, loadCase.SortType);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, LoadListLayoutCase,
    testing::Values(TLoadCase{"Valid", {}, true, 3, -1, 1},
                    TLoadCase{"CountZeroReadsNothing", {{"ColumnsCount", "0"}}, false, 0, 1, 0},
                    TLoadCase{"CountMismatch", {{"ColumnsCount", "4"}}, false, 3, -1, 1},
                    TLoadCase{"NotAPermutation", {{"Columns1", "4"}}, false, 3, -1, 1},
                    TLoadCase{"WidthBelowZero", {{"ColumnsWidth2", "-1"}}, false, 3, -1, 1},
                    TLoadCase{"WidthAbove10000", {{"ColumnsWidth2", "10001"}}, false, 3, -1, 1},
                    TLoadCase{"NonInteger", {{"ViewStyle", "2 x"}}, true, 0, -1, 1},
                    TLoadCase{"Beyond32Bits", {{"SortType", "4294967297"}}, true, 3, -1, 0},
                    TLoadCase{"ViewStyle4", {{"ViewStyle", "4"}}, true, 0, -1, 1},
                    TLoadCase{"SortType5", {{"SortType", "5"}}, true, 3, -1, 0},
                    TLoadCase{"SortOrder2", {{"SortOrder1", "2"}}, true, 3, 1, 1}),
    [](const testing::TestParamInfo<TLoadCase>& info) { return std::string(info.param.Name); });

void ExpectDefaults(const TListLayout& layout)
{
    EXPECT_EQ(layout.ColumnOrder, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(layout.ColumnWidths, (std::vector<int>(5, 30)));
    EXPECT_EQ(layout.ViewStyle, 0);
    EXPECT_EQ(layout.SortOrders, (std::array<int, 5>{1, 1, 1, 1, 1}));
    EXPECT_EQ(layout.SortType, 0);
}

TEST(ListLayoutFile, NoFileGivesTheDefaults)
{
    TTestDir dir;
    ExpectDefaults(LoadListLayout(dir.File("tunemill.ini"), kSection, 5));
}

TEST(ListLayoutFile, ARefusedFileIsReadAsAbsentAndMovedAsideAtTheNextSave)
{
    TTestDir dir;
    const std::string file = dir.File("tunemill.ini"), bytes = "ViewStyle=3\n[no group above]\n";
    ASSERT_TRUE(WriteFileBytes(file, bytes));
    TLoadReport report;
    ExpectDefaults(LoadListLayout(file, kSection, 5, &report));
    EXPECT_TRUE(report.Malformed);
    ASSERT_TRUE(SaveListLayout(file, kSection, {kOrder, kWidths, 2, {1, 1, 1, 1, -1}, 4}));
    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        if (entry.path().filename().string().starts_with("tunemill.ini.malformed-"))
            kept.push_back(ReadFileBytes(entry.path().string()));
    }
    EXPECT_EQ(kept, std::vector<std::string>{bytes});
    const TListLayout layout = LoadListLayout(file, kSection, 5);
    EXPECT_EQ(layout.ColumnOrder, kOrder);
    EXPECT_EQ(layout.SortOrders[4], -1);
    EXPECT_EQ(layout.SortType, 4);
}

TEST(ListLayoutFile, ASaveWithOneColumnKeepsTheColumnKeysAndTheRestOfTheFile)
{
    TTestDir dir;
    const std::string file = dir.File("tunemill.ini");
    ASSERT_TRUE(WriteFileBytes(file, "# mine\n[Other]\nName=x\n" + SectionText({{"Extra", "1"}})));
    ASSERT_TRUE(SaveListLayout(file, kSection, {{0}, {300}, 1, {}, 0}));
    const TListLayout layout = LoadListLayout(file, kSection, 5);
    EXPECT_EQ(layout.ColumnOrder, kOrder);
    EXPECT_EQ(layout.ColumnWidths, kWidths);
    EXPECT_EQ(layout.ViewStyle, 1);
    const std::string text = ReadFileBytes(file);
    for (const char* part : {"# mine\n", "[Other]\nName=x\n", "Extra=1\n"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
}

TEST(ListLayoutFile, AFifoAtThePathIsNeitherReadNorReplaced)
{
    TTestDir dir;
    const std::string file = dir.File("tunemill.ini");
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    const int code = RunInChild([&] {
        ::alarm(5);
        TLoadReport report;
        ExpectDefaults(LoadListLayout(file, kSection, 5, &report));
        const bool saved = SaveListLayout(file, kSection, {kOrder, kWidths, 3, {}, 0});
        return testing::Test::HasFailure() || report.Problems.empty() || saved ? 1 : 0;
    });
    EXPECT_EQ(code, 0);
    struct stat facts;
    ASSERT_EQ(::lstat(file.c_str(), &facts), 0);
    EXPECT_TRUE(S_ISFIFO(facts.st_mode));
}

TEST(ListLayoutFile, ASaveThroughALinkWritesItsTargetAndKeepsItsMode)
{
    TTestDir dir;
    const std::string target = dir.File("layout.ini"), link = dir.File("tunemill.ini");
    ASSERT_TRUE(WriteFileBytes(target, "[Other]\nName=x\n"));
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(::symlink("layout.ini", link.c_str()), 0);
    ASSERT_TRUE(SaveListLayout(link, kSection, {kOrder, kWidths, 3, {1, -1, 1, 1, 1}, 1}));
    struct stat facts;
    ASSERT_EQ(::lstat(link.c_str(), &facts), 0);
    EXPECT_TRUE(S_ISLNK(facts.st_mode));
    ASSERT_EQ(::stat(target.c_str(), &facts), 0);
    EXPECT_EQ(facts.st_mode & 07777, 0640u);
    const TListLayout layout = LoadListLayout(target, kSection, 5);
    EXPECT_EQ(layout.ColumnWidths, kWidths);
    EXPECT_EQ(layout.SortOrders[1], -1);
}

} // namespace
