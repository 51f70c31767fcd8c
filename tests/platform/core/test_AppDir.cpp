#include "platform/core/AppDir.h"

#include "platform/core/Posix.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TAppDirCase
{
    const char* Name;
    mode_t DataPage; // what "<prefix>/share/tunemill/help.htm" is: 0 none, S_IFREG, S_IFIFO
    bool ReadOnly;   // "<prefix>/bin" is not writable
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
    const std::string bin = dir.File("prefix/bin"), data = dir.File("prefix/share/tunemill");
    Check(
        MakeDirectories(bin, 0755) && MakeDirectories(data, 0755) &&
            (c.DataPage == 0 || ::mknod((data + "/help.htm").c_str(), c.DataPage | 0644, 0) == 0) &&
            (!c.ReadOnly || ::chmod(bin.c_str(), 0555) == 0),
        bin);
    TScopedVariable dataHome("XDG_DATA_HOME", dir.File("home"));
    std::string error = "stale";
    EXPECT_EQ(ApplicationDirectoryFor(bin + "/", error),
              c.ToDataHome ? dir.File("home/tunemill/") : bin + "/");
    EXPECT_EQ(error, "");
    ::chmod(bin.c_str(), 0755);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ApplicationDirectoryWhere,
    ::testing::Values(TAppDirCase{"BuildTree", 0, false, false},
                      TAppDirCase{"InstalledAndWritable", S_IFREG, false, true},
                      TAppDirCase{"DataPageIsAFifo", S_IFIFO, false, false},
                      TAppDirCase{"ReadOnlyBuildTree", 0, true, true}),
    [](const ::testing::TestParamInfo<TAppDirCase>& info) { return std::string(info.param.Name); });

} // namespace
