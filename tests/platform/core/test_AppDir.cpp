#include "platform/core/AppDir.h"

#include "platform/core/Posix.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What stands at "<prefix>/share/tunemill/help.htm" beside the executable's
// "<prefix>/bin".
enum class TDataPage
{
    None,
    Page,
    Folder,
    Fifo
};

struct TAppDirCase
{
    const char* Name;
    TDataPage Page;
    bool ReadOnly;   // the executable's directory is not writable
    bool ToDataHome; // else beside the executable
};

void PrintTo(const TAppDirCase& c, std::ostream* out)
{
    *out << c.Name;
}

class ApplicationDirectoryWhere : public ::testing::TestWithParam<TAppDirCase>
{
protected:
    TTestDir dir;
};

TEST_P(ApplicationDirectoryWhere, InstalledOrReadOnlyProgramsWriteToTheDataHome)
{
    const TAppDirCase& c = GetParam();
    if (c.ReadOnly && ::geteuid() == 0)
        GTEST_SKIP() << "root writes into any directory";
    const std::string bin = dir.File("prefix/bin");
    const std::string data = dir.File("prefix/share/tunemill");
    const std::string page = data + "/help.htm";
    Check(MakeDirectories(bin, 0755) && MakeDirectories(data, 0755) &&
              (c.Page != TDataPage::Page || WriteFileBytes(page, "<html></html>")) &&
              (c.Page != TDataPage::Folder || ::mkdir(page.c_str(), 0755) == 0) &&
              (c.Page != TDataPage::Fifo || ::mkfifo(page.c_str(), 0644) == 0) &&
              (!c.ReadOnly || ::chmod(bin.c_str(), 0555) == 0),
          page);
    TScopedVariable dataHome("XDG_DATA_HOME", dir.File("home"));

    std::string error = "stale";
    const std::string answer = ApplicationDirectoryFor(bin + "/", error);
    EXPECT_EQ(answer, c.ToDataHome ? dir.File("home/tunemill/") : bin + "/");
    EXPECT_EQ(error, "");
    ::chmod(bin.c_str(), 0755);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ApplicationDirectoryWhere,
    ::testing::Values(TAppDirCase{"BuildTree", TDataPage::None, false, false},
                      TAppDirCase{"InstalledAndWritable", TDataPage::Page, false, true},
                      TAppDirCase{"DataPageIsAFolder", TDataPage::Folder, false, false},
                      TAppDirCase{"DataPageIsAFifo", TDataPage::Fifo, false, false},
                      TAppDirCase{"ReadOnlyBuildTree", TDataPage::None, true, true}),
    [](const ::testing::TestParamInfo<TAppDirCase>& info) { return std::string(info.param.Name); });

} // namespace
