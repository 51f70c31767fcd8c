#include "search/SearchFile.h"

#include "tests/support/TestFiles.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Paths = std::vector<std::string>;
using PathSet = std::set<std::string>;
using ::testing::Contains;
using ::testing::Each;
using ::testing::HasSubstr;
using ::testing::Not;

void MakeDir(const std::string& path, mode_t mode = 0755)
{
    Check(mkdir(path.c_str(), mode) == 0, "mkdir " + path);
}

void MakeFile(const std::string& path, const std::string& bytes = "x")
{
    Check(WriteFileBytes(path, bytes), "write " + path);
}

void MakeLink(const std::string& target, const std::string& path)
{
    Check(symlink(target.c_str(), path.c_str()) == 0, "symlink " + path);
}

std::string Parent(const std::string& path)
{
    return path.substr(0, path.rfind('/'));
}

std::pair<dev_t, ino_t> Identity(const std::string& path)
{
    struct stat info;
    Check(stat(path.c_str(), &info) == 0, "stat " + path);
    return {info.st_dev, info.st_ino};
}

size_t OpenDescriptorCount()
{
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

// Days from 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t year, int month, int day)
{
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

TDateTime DateTimeOf(int year, int month, int day, int hour, int minute, int second)
{
    return static_cast<TDateTime>(DaysFromCivil(year, month, day) - DaysFromCivil(1899, 12, 30)) +
           (hour * 3600 + minute * 60 + second) / 86400.0;
}

// Changes the current directory for one test and goes back afterwards.
class CurrentDirectory
{
public:
    explicit CurrentDirectory(const std::string& path)
    {
        char buffer[4096];
        Check(getcwd(buffer, sizeof(buffer)) != nullptr, "getcwd");
        previous_ = buffer;
        Check(chdir(path.c_str()) == 0, "chdir " + path);
        Check(getcwd(buffer, sizeof(buffer)) != nullptr, "getcwd");
        now_ = buffer;
    }
    ~CurrentDirectory() { [[maybe_unused]] const int ignored = chdir(previous_.c_str()); }
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

    /// The directory as the kernel names it.
    const std::string& Path() const { return now_; }

private:
    std::string previous_;
    std::string now_;
};

struct Report
{
    std::string path;
    TSearchFileData data;
};

// Records the events of a search in call order; the hooks add behaviour.
struct Recorder
{
    std::vector<Report> files;
    std::vector<Report> dirs;
    std::string order; // 'D' for each OnFindDir, 'F' for each OnFind
    std::vector<QObject*> senders;
    std::function<void(const std::string&, bool&)> onFile;
    std::function<void(const std::string&, bool&, bool&)> onDir;

    void Attach(TSearchFile& search)
    {
        search.OnFind = [this](QObject* sender, const std::string& name, TSearchFileData data,
                               bool& continueSearch) {
            files.push_back({name, std::move(data)});
            order += 'F';
            senders.push_back(sender);
            if (onFile)
                onFile(name, continueSearch);
        };
        search.OnFindDir = [this](QObject* sender, const std::string& name, TSearchFileData data,
                                  bool& skip, bool& ignoreSubDir) {
            dirs.push_back({name, std::move(data)});
            order += 'D';
            senders.push_back(sender);
            if (onDir)
                onDir(name, skip, ignoreSubDir);
        };
    }
    void Clear()
    {
        files.clear();
        dirs.clear();
        order.clear();
        senders.clear();
    }
    Paths FilePaths() const
    {
        Paths paths;
        for (const Report& report : files)
            paths.push_back(report.path);
        return paths;
    }
    PathSet FileSet() const
    {
        const Paths paths = FilePaths();
        return PathSet(paths.begin(), paths.end());
    }
    Paths DirPaths() const
    {
        Paths paths;
        for (const Report& report : dirs)
            paths.push_back(report.path);
        return paths;
    }
    const TSearchFileData* File(const std::string& path) const
    {
        for (const Report& report : files)
            if (report.path == path)
                return &report.data;
        return nullptr;
    }
};

// A tree under dir/base. The walk tree has two levels below the base with
// two directories on each, so that a depth-first walk is told apart from a
// breadth-first one whatever order the file system enumerates in:
//   base/{fb, x/{fx, z/{fz}}, y/{fy, w/{fw}}}
class SearchTree : public ::testing::Test
{
protected:
    SearchTree() : base(dir.File("base")) { MakeDir(base); }

    std::string At(const std::string& relative) const
    {
        return relative.empty() ? base : base + "/" + relative;
    }
    PathSet AtAll(const std::vector<const char*>& relatives) const
    {
        PathSet paths;
        for (const char* relative : relatives)
            paths.insert(At(relative));
        return paths;
    }
    Paths AtAllInOrder(const std::vector<const char*>& relatives) const
    {
        Paths paths;
        for (const char* relative : relatives)
            paths.push_back(At(relative));
        return paths;
    }
    void BuildWalkTree()
    {
        MakeFile(At("fb"));
        for (const char* name : {"x", "x/z", "y", "y/w"})
            MakeDir(At(name));
        for (const char* name : {"x/fx", "x/z/fz", "y/fy", "y/w/fw"})
            MakeFile(At(name));
    }
    PathSet AllWalkEntries() const
    {
        return AtAll({"fb", "x", "y", "x/fx", "x/z", "x/z/fz", "y/fy", "y/w", "y/w/fw"});
    }
    // Base first, then x and y in either order, then their subdirectories in
    // the order of their parents.
    void ExpectBreadthFirst(const Paths& dirs) const
    {
        ASSERT_EQ(dirs.size(), 5u) << testing::PrintToString(dirs);
        EXPECT_EQ(dirs[0], base);
        EXPECT_EQ(PathSet(dirs.begin() + 1, dirs.begin() + 3), AtAll({"x", "y"}));
        EXPECT_EQ(PathSet(dirs.begin() + 3, dirs.end()), AtAll({"x/z", "y/w"}));
        EXPECT_EQ(Parent(dirs[3]), dirs[1]);
        EXPECT_EQ(Parent(dirs[4]), dirs[2]);
    }
    // OnFind reports the entries of one directory after another, in DirList
    // order, never coming back to a directory it has left.
    void ExpectEntriesGroupedInDirListOrder() const
    {
        Paths groups;
        for (const Report& report : recorder.files)
            if (groups.empty() || groups.back() != Parent(report.path))
                groups.push_back(Parent(report.path));
        EXPECT_EQ(groups, search.DirList());
    }
    void Search(const std::string& directory, bool recursive)
    {
        search.SetDirectory(directory);
        search.SetRecursive(recursive);
        recorder.Attach(search);
    }

    TTestDir dir;
    std::string base;
    TSearchFile search;
    Recorder recorder;
};

using SearchFileList = SearchTree;

TEST_F(SearchFileList, ReportsEachEntryOfOneDirectoryOnce)
{
    MakeFile(At("a.mp3"));
    MakeFile(At("b.txt"));
    MakeDir(At("sub"));
    MakeFile(At("sub/inner.mp3"));
    Search(base, false);

    EXPECT_TRUE(search.Execute());
    EXPECT_EQ(recorder.files.size(), 3u) << testing::PrintToString(recorder.FilePaths());
    EXPECT_EQ(recorder.FileSet(), AtAll({"a.mp3", "b.txt", "sub"}));
    EXPECT_TRUE(recorder.dirs.empty()); // OnFindDir belongs to the recursive mode
    EXPECT_EQ(search.DirList(), Paths{base});
    EXPECT_THAT(recorder.senders, Each(&search));
    EXPECT_FALSE(search.Running());
}

TEST_F(SearchFileList, TrailingSeparatorGivesTheSamePaths)
{
    BuildWalkTree();
    for (bool recursive : {false, true}) {
        SCOPED_TRACE(recursive ? "recursive" : "one directory");
        recorder.Clear();
        Search(base, recursive);
        ASSERT_TRUE(search.Execute());
        const PathSet plain = recorder.FileSet();
        const Paths plainDirs = recorder.DirPaths();

        recorder.Clear();
        Search(base + "/", recursive);
        ASSERT_TRUE(search.Execute());
        EXPECT_EQ(recorder.FileSet(), plain);
        EXPECT_EQ(recorder.files.size(), plain.size());
        EXPECT_THAT(recorder.FilePaths(), Each(Not(HasSubstr("//"))));
        // Below the base the walk must name directories the same way.
        if (recursive) {
            ASSERT_EQ(recorder.dirs.size(), plainDirs.size());
            const Paths dirs = recorder.DirPaths();
            EXPECT_EQ(PathSet(dirs.begin() + 1, dirs.end()),
                      PathSet(plainDirs.begin() + 1, plainDirs.end()));
        }
    }
}

TEST_F(SearchFileList, RootDirectoryEntriesHaveOneSeparator)
{
    Search("/", false);
    ASSERT_TRUE(search.Execute());
    EXPECT_THAT(recorder.FilePaths(), Contains("/etc"));
    EXPECT_THAT(recorder.FilePaths(), Contains("/tmp"));
    EXPECT_THAT(recorder.FilePaths(), Each(Not(HasSubstr("//"))));
}

TEST_F(SearchFileList, RelativeDirectoryIsTakenAgainstTheCurrentDirectory)
{
    BuildWalkTree();
    CurrentDirectory current(dir.Path());
    const std::string absolute = current.Path() + "/base";
    for (bool recursive : {false, true}) {
        SCOPED_TRACE(recursive ? "recursive" : "one directory");
        recorder.Clear();
        Search("base", recursive);
        ASSERT_TRUE(search.Execute());
        ASSERT_FALSE(search.DirList().empty());
        EXPECT_EQ(search.DirList().front(), absolute);
        EXPECT_THAT(recorder.FilePaths(), Contains(absolute + "/x"));
        EXPECT_THAT(recorder.FilePaths(), Each(testing::StartsWith(absolute + "/")));
        EXPECT_EQ(recorder.FileSet().count(absolute + "/x/z/fz"), recursive ? 1u : 0u);
    }
}

TEST(SearchPath, RelativePathsAreMadeAbsolute)
{
    TTestDir dir;
    CurrentDirectory current(dir.Path());
    struct Case
    {
        std::string path;
        std::string expected;
    };
    const Case cases[] = {
        {"", ""},
        {"/", "/"},
        {"/music/a", "/music/a"},
        {"/music/a/", "/music/a/"},
        {"music", current.Path() + "/music"},
        {"music/rock/", current.Path() + "/music/rock/"},
        {"音楽", current.Path() + "/音楽"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AbsoluteSearchPath(c.path), c.expected) << '"' << c.path << '"';
}

TEST_F(SearchFileList, MissingDirectoryReportsNothing)
{
    struct Case
    {
        std::string directory;
        bool recursive;
    };
    const Case cases[] = {
        {dir.File("missing"), false},
        {dir.File("missing"), true},
        {dir.File("missing/deeper/"), true},
        {"", false},
        {"", true},
    };
    MakeFile(At("a.mp3"));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.directory << "\" recursive " << c.recursive);
        recorder.Clear();
        Search(c.directory, c.recursive);
        EXPECT_TRUE(search.Execute());
        EXPECT_TRUE(recorder.order.empty()) << recorder.order;
        if (c.recursive) {
            EXPECT_TRUE(search.DirList().empty()) << testing::PrintToString(search.DirList());
        }
    }
}

TEST_F(SearchFileList, WithoutOnFindNothingRuns)
{
    BuildWalkTree();
    for (bool recursive : {false, true}) {
        recorder.Clear();
        Search(base, recursive);
        search.OnFind = nullptr;
        EXPECT_FALSE(search.Execute());
        EXPECT_TRUE(recorder.dirs.empty());
        EXPECT_FALSE(search.Running());
    }
}

TEST_F(SearchFileList, EachRunStartsAFreshDirList)
{
    BuildWalkTree();
    Search(base, true);
    ASSERT_TRUE(search.Execute());
    ASSERT_EQ(search.DirList().size(), 5u);
    search.SetDirectory(At("y"));
    ASSERT_TRUE(search.Execute());
    EXPECT_EQ(search.DirList(), AtAllInOrder({"y", "y/w"}));
    search.SetRecursive(false);
    search.SetDirectory(At("x"));
    ASSERT_TRUE(search.Execute());
    EXPECT_EQ(search.DirList(), Paths{At("x")});
}

using SearchFileWalk = SearchTree;

TEST_F(SearchFileWalk, DirectoriesComeLevelByLevelBeforeAnyEntry)
{
    BuildWalkTree();
    Search(base, true);

    EXPECT_TRUE(search.Execute());
    ExpectBreadthFirst(recorder.DirPaths());
    EXPECT_EQ(search.DirList(), recorder.DirPaths());
    EXPECT_EQ(recorder.order, std::string(5, 'D') + std::string(9, 'F'));
    EXPECT_EQ(recorder.FileSet(), AllWalkEntries());
    for (const Report& report : recorder.dirs) {
        SCOPED_TRACE(report.path);
        EXPECT_EQ(report.data.Name, report.path.substr(report.path.rfind('/') + 1));
        EXPECT_TRUE(report.data.IsDirectory);
    }
    EXPECT_THAT(recorder.senders, Each(&search));
}

TEST_F(SearchFileWalk, EntriesComeDirectoryByDirectoryInDirListOrder)
{
    BuildWalkTree();
    Search(base, true);
    ASSERT_TRUE(search.Execute());
    ExpectEntriesGroupedInDirListOrder();
}

TEST_F(SearchFileWalk, WithoutOnFindDirEveryEntryIsReported)
{
    BuildWalkTree();
    Search(base, true);
    search.OnFindDir = nullptr;
    EXPECT_TRUE(search.Execute());
    EXPECT_EQ(recorder.FileSet(), AllWalkEntries());
    EXPECT_EQ(recorder.files.size(), 9u);
    ExpectBreadthFirst(search.DirList());
}

TEST_F(SearchFileWalk, SkipAndIgnoreSubDirLeaveOutTheirOwnParts)
{
    BuildWalkTree();
    struct Case
    {
        const char* target;
        bool skip;
        bool ignoreSubDir;
        std::vector<const char*> dirs;    // reported to OnFindDir
        std::vector<const char*> dirList; // whose entries are reported
        std::vector<const char*> files;
    };
    const Case cases[] = {
        {"x",
         false,
         false,
         {"", "x", "y", "x/z", "y/w"},
         {"", "x", "y", "x/z", "y/w"},
         {"fb", "x", "y", "x/fx", "x/z", "x/z/fz", "y/fy", "y/w", "y/w/fw"}},
        {"x",
         true,
         false,
         {"", "x", "y", "x/z", "y/w"},
         {"", "y", "x/z", "y/w"},
         {"fb", "x", "y", "x/z/fz", "y/fy", "y/w", "y/w/fw"}},
        {"x",
         false,
         true,
         {"", "x", "y", "y/w"},
         {"", "x", "y", "y/w"},
         {"fb", "x", "y", "x/fx", "x/z", "y/fy", "y/w", "y/w/fw"}},
        {"x",
         true,
         true,
         {"", "x", "y", "y/w"},
         {"", "y", "y/w"},
         {"fb", "x", "y", "y/fy", "y/w", "y/w/fw"}},
        {"",
         true,
         false,
         {"", "x", "y", "x/z", "y/w"},
         {"x", "y", "x/z", "y/w"},
         {"x/fx", "x/z", "x/z/fz", "y/fy", "y/w", "y/w/fw"}},
        {"", false, true, {""}, {""}, {"fb", "x", "y"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "at \"" << c.target << "\" skip " << c.skip << " ignore "
                                        << c.ignoreSubDir);
        recorder.Clear();
        Search(base, true);
        const std::string target = At(c.target);
        recorder.onDir = [&](const std::string& name, bool& skip, bool& ignoreSubDir) {
            EXPECT_TRUE(skip == false && ignoreSubDir == false) << "flags must start cleared";
            if (name == target) {
                skip = c.skip;
                ignoreSubDir = c.ignoreSubDir;
            }
        };
        EXPECT_TRUE(search.Execute());
        const Paths dirs = recorder.DirPaths();
        EXPECT_EQ(PathSet(dirs.begin(), dirs.end()), AtAll(c.dirs));
        EXPECT_EQ(dirs.size(), c.dirs.size());
        const Paths& dirList = search.DirList();
        EXPECT_EQ(PathSet(dirList.begin(), dirList.end()), AtAll(c.dirList));
        EXPECT_EQ(dirList.size(), c.dirList.size());
        EXPECT_EQ(recorder.FileSet(), AtAll(c.files));
        EXPECT_EQ(recorder.files.size(), c.files.size());
        ExpectEntriesGroupedInDirListOrder();
        recorder.onDir = nullptr;
    }
}

using SearchFileControl = SearchTree;

TEST_F(SearchFileControl, ExecuteInsideAHandlerIsRefusedAndChangesNothing)
{
    BuildWalkTree();
    Search(base, true);
    std::vector<bool> nestedResults;
    std::vector<bool> running;
    recorder.onDir = [&](const std::string&, bool&, bool&) {
        running.push_back(search.Running());
        nestedResults.push_back(search.Execute());
    };
    recorder.onFile = [&](const std::string&, bool&) {
        running.push_back(search.Running());
        nestedResults.push_back(search.Execute());
    };

    EXPECT_TRUE(search.Execute());
    EXPECT_FALSE(search.Running());
    EXPECT_EQ(nestedResults, std::vector<bool>(14, false));
    EXPECT_EQ(running, std::vector<bool>(14, true));
    EXPECT_EQ(recorder.order, std::string(5, 'D') + std::string(9, 'F'));
    EXPECT_EQ(recorder.FileSet(), AllWalkEntries());
    ExpectBreadthFirst(search.DirList());
}

TEST_F(SearchFileControl, ClearingContinueStopsAfterThatEntry)
{
    BuildWalkTree();
    struct Case
    {
        bool recursive;
        size_t stopAt; // the call that clears Continue, from 1
    };
    for (const Case& c :
         {Case{false, 1}, Case{false, 3}, Case{true, 1}, Case{true, 4}, Case{true, 9}}) {
        SCOPED_TRACE(testing::Message() << "recursive " << c.recursive << " stop at " << c.stopAt);
        recorder.Clear();
        Search(base, c.recursive);
        recorder.onFile = [&](const std::string&, bool& continueSearch) {
            EXPECT_TRUE(continueSearch) << "Continue must start set";
            if (recorder.files.size() == c.stopAt)
                continueSearch = false;
        };
        EXPECT_FALSE(search.Execute());
        EXPECT_EQ(recorder.files.size(), c.stopAt);
        EXPECT_FALSE(search.Running());
        recorder.onFile = nullptr;
    }
}

TEST_F(SearchFileControl, HandlerExceptionLeavesExecuteAndTheNextRunWorks)
{
    BuildWalkTree();
    struct Case
    {
        const char* where;
        bool recursive;
        const char* at; // relative path whose event throws
    };
    const Case cases[] = {
        {"OnFind", false, "fb"},
        {"OnFind", true, "x/z/fz"},
        {"OnFindDir", true, "x"},
        {"OnFindDir", true, "y/w"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.where << " at " << c.at);
        recorder.Clear();
        Search(base, c.recursive);
        const std::string at = At(c.at);
        bool armed = true;
        auto thrower = [&](const std::string& name) {
            if (armed && name == at)
                throw std::runtime_error("handler failed");
        };
        if (std::string(c.where) == "OnFind")
            recorder.onFile = [&](const std::string& name, bool&) { thrower(name); };
        else
            recorder.onDir = [&](const std::string& name, bool&, bool&) { thrower(name); };

        const size_t descriptors = OpenDescriptorCount();
        EXPECT_THROW(search.Execute(), std::runtime_error);
        EXPECT_FALSE(search.Running());
        EXPECT_EQ(OpenDescriptorCount(), descriptors);

        armed = false;
        recorder.Clear();
        EXPECT_TRUE(search.Execute());
        EXPECT_EQ(recorder.FileSet().size(), c.recursive ? 9u : 3u);
        recorder.onFile = nullptr;
        recorder.onDir = nullptr;
    }
}

using SearchFileData = SearchTree;

TEST_F(SearchFileData, FlagsAndSizeOfEachKindOfEntry)
{
    MakeFile(At("file"), "12345");
    MakeFile(At("readonly"), "abc");
    Check(chmod(At("readonly").c_str(), 0444) == 0, "chmod");
    MakeFile(At(".hidden"), "");
    MakeDir(At("dir"));
    MakeFile(At("dir/inside"), "0123456789");
    MakeLink("dir", At("linkdir"));
    MakeLink("file", At("linkfile"));
    Check(mkfifo(At("fifo").c_str(), 0644) == 0, "mkfifo");
    MakeSocket(At("socket"));
    MakeLink("missing", At("dangling"));
    MakeLink("loop2", At("loop1"));
    MakeLink("loop1", At("loop2"));

    struct Case
    {
        const char* name;
        int64_t size;
        bool directory;
        bool readOnly;
        bool hidden;
        bool system;
    };
    const Case cases[] = {
        {"file", 5, false, false, false, false},    {"readonly", 3, false, true, false, false},
        {".hidden", 0, false, false, true, false},  {"dir", 0, true, false, false, false},
        {"linkdir", 0, true, false, false, false},  {"linkfile", 5, false, false, false, false},
        {"fifo", 0, false, false, false, true},     {"socket", 0, false, false, false, true},
        {"dangling", 0, false, false, false, true}, {"loop1", 0, false, false, false, true},
        {"loop2", 0, false, false, false, true},
    };
    Search(base, false);
    ASSERT_TRUE(search.Execute());
    EXPECT_EQ(recorder.files.size(), std::size(cases));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TSearchFileData* data = recorder.File(At(c.name));
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(data->Name, c.name);
        EXPECT_EQ(data->ShortName, c.name);
        EXPECT_EQ(data->Size, c.size);
        EXPECT_EQ(data->IsDirectory, c.directory);
        EXPECT_EQ(data->ReadOnly, c.readOnly);
        EXPECT_EQ(data->Hidden, c.hidden);
        EXPECT_EQ(data->SystemFile, c.system);
        EXPECT_FALSE(data->SpareFlag);
        EXPECT_FALSE(data->Archive);
        EXPECT_TRUE(data->LastWriteTime.Valid);
    }
}

TEST_F(SearchFileData, TimesAreLocalAtTheTwoSecondStepFrom1980To2107)
{
    TLocalZone zone("JST-9");
    struct Case
    {
        const char* name;
        int year, month, day, hour, minute, second; // local time
        long nanoseconds;
        bool valid;
        TDateTime expected;
    };
    const Case cases[] = {
        {"mid", 2010, 6, 15, 12, 34, 57, 500000000, true, DateTimeOf(2010, 6, 15, 12, 34, 56)},
        {"even", 2001, 2, 3, 4, 5, 6, 0, true, DateTimeOf(2001, 2, 3, 4, 5, 6)},
        {"first", 1980, 1, 1, 0, 0, 0, 0, true, DateTimeOf(1980, 1, 1, 0, 0, 0)},
        // Still 1979 in UTC: the range applies to the local time.
        {"localnewyear", 1980, 1, 1, 5, 0, 1, 0, true, DateTimeOf(1980, 1, 1, 5, 0, 0)},
        {"before", 1979, 12, 31, 23, 59, 59, 0, false, 0},
        {"last", 2107, 12, 31, 23, 59, 59, 999999999, true, DateTimeOf(2107, 12, 31, 23, 59, 58)},
        {"after", 2110, 3, 1, 0, 0, 0, 0, false, 0},
    };
    const time_t access = 981173106 - 9 * 3600; // 2001-02-03 04:05:06 local
    for (const Case& c : cases) {
        MakeFile(At(c.name));
        std::tm fields{};
        fields.tm_year = c.year - 1900;
        fields.tm_mon = c.month - 1;
        fields.tm_mday = c.day;
        fields.tm_hour = c.hour;
        fields.tm_min = c.minute;
        fields.tm_sec = c.second;
        const timespec times[2] = {{access, 0}, {timegm(&fields) - 9 * 3600, c.nanoseconds}};
        Check(utimensat(AT_FDCWD, At(c.name).c_str(), times, 0) == 0, "utimensat");
    }
    Search(base, false);
    ASSERT_TRUE(search.Execute());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TSearchFileData* data = recorder.File(At(c.name));
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(data->LastWriteTime.Valid, c.valid);
        if (c.valid) {
            EXPECT_NEAR(data->LastWriteTime.Value, c.expected, 1e-9);
        }
        EXPECT_TRUE(data->LastAccessTime.Valid);
        EXPECT_NEAR(data->LastAccessTime.Value, DateTimeOf(2001, 2, 3, 4, 5, 6), 1e-9);
    }
}

TEST_F(SearchFileData, CreationTimeIsTheBirthTimeWhereRecorded)
{
    TLocalZone zone("JST-9");
    const time_t before = time(nullptr);
    MakeFile(At("new"));
    const time_t after = time(nullptr);
    struct statx birth;
    Check(statx(AT_FDCWD, At("new").c_str(), 0, STATX_BTIME, &birth) == 0, "statx");
    const bool recorded = (birth.stx_mask & STATX_BTIME) != 0;

    Search(base, false);
    ASSERT_TRUE(search.Execute());
    const TSearchFileData* data = recorder.File(At("new"));
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(data->CreationTime.Valid, recorded);
    if (recorded) {
        const auto local = [](time_t t) {
            std::tm fields{};
            gmtime_r(&t, &fields);
            return DateTimeOf(fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
                              fields.tm_hour, fields.tm_min, fields.tm_sec) +
                   9.0 / 24;
        };
        EXPECT_GE(data->CreationTime.Value, local(before) - 2.0 / 86400 - 1e-9);
        EXPECT_LE(data->CreationTime.Value, local(after) + 1e-9);
    }
}

TEST(SearchName, MatchesWildcardsAndLettersInEitherCase)
{
    struct Case
    {
        const char* pattern;
        const char* name;
        bool expected;
    };
    const Case cases[] = {
        {"*", "a", true},
        {"*", "a.b", true},
        {"*", ".hidden", true},
        {"*", "noext", true},
        {"*.*", "a", true},
        {"*.*", "a.b", true},
        {"*.*", ".hidden", true},
        {"*.*", "noext", true},
        {"*.mp3", "X.MP3", true},
        {"*.mp3", "a.mp3", true},
        {"*.MP3", "a.mp3", true},
        {"*.mp3", ".mp3", true},
        {"*.mp3", "a.mp3.txt", false},
        {"*.mp3", "a.mp", false},
        {"*.mp3", "amp3", false},
        {"?.txt", "a.txt", true},
        {"?.txt", "あ.txt", true},
        {"?.txt", "ab.txt", false},
        {"?.txt", ".txt", false},
        {"???", "音", false}, // one character, three bytes
        {"?", "音", true},
        {"音?.mp3", "音楽.mp3", true},
        {"*楽.mp3", "音楽.mp3", true},
        {"*.", "README", true},
        {"*.", "a.txt", false},
        {"a*.*", "abc", true},
        {"a*.*", "abc.def", true},
        {"a*.*", "bcd", false},
        {"abc.*", "abc", true},
        {"abc.*", "abc.def", true},
        {"abc.*", "abcd", false},
        {"x*.mp3", "x.mp3", true},
        {"*a*b", "xaxb", true},
        {"*a*b", "xab", true},
        {"*a*b", "xba", false},
        {"A?C", "abc", true},
        {"*.m?3", "a.mp3", true},
        {"Ä.txt", "ä.txt", false}, // only ASCII letters fold
        {"?\xfe.mp3", "\xff\xfe.mp3", true},
        {"??.mp3", "\xff\xfe.mp3", true},
        {"?.mp3", "\xff\xfe.mp3", false},
        {"*.mp3", "\xff\xfe.mp3", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesSearchName(c.pattern, c.name), c.expected)
            << "pattern \"" << c.pattern << "\" name \"" << c.name << '"';
}

using SearchFileSearchName = SearchTree;

TEST_F(SearchFileSearchName, OnlyMatchingEntriesAreReported)
{
    for (const char* name : {"a.mp3", "B.MP3", "c.txt", "d.mp3.txt", "sub/f.mp3", "sub/g.wav"}) {
        if (std::string(name) == "sub/f.mp3")
            MakeDir(At("sub"));
        MakeFile(At(name));
    }
    MakeDir(At("e.mp3"));
    search.SetSearchName("*.mp3");

    Search(base, false);
    EXPECT_TRUE(search.Execute());
    EXPECT_EQ(recorder.FileSet(), AtAll({"a.mp3", "B.MP3", "e.mp3"}));

    // The walk still goes through directories whose names do not match.
    recorder.Clear();
    Search(base, true);
    EXPECT_TRUE(search.Execute());
    const Paths dirs = recorder.DirPaths();
    EXPECT_EQ(PathSet(dirs.begin(), dirs.end()), AtAll({"", "sub", "e.mp3"}));
    EXPECT_EQ(recorder.FileSet(), AtAll({"a.mp3", "B.MP3", "e.mp3", "sub/f.mp3"}));
}

using SearchFileNames = SearchTree;

TEST_F(SearchFileNames, NamesKeepTheirExactBytes)
{
    const std::string names[] = {"\xff\xfe.mp3", "音楽.mp3", "a\nb.mp3", "\xff"};
    for (const std::string& name : names)
        MakeFile(At(name));
    MakeDir(At("\x81\x40"));
    MakeFile(At("\x81\x40/\x82\xa0.mp3"));

    Search(base, true);
    ASSERT_TRUE(search.Execute());
    PathSet expected;
    for (const std::string& name : names)
        expected.insert(At(name));
    expected.insert(At("\x81\x40"));
    expected.insert(At("\x81\x40/\x82\xa0.mp3"));
    EXPECT_EQ(recorder.FileSet(), expected);
    for (const Report& report : recorder.files)
        EXPECT_EQ(report.data.Name, report.path.substr(report.path.rfind('/') + 1));
    EXPECT_EQ(recorder.DirPaths(), AtAllInOrder({"", "\x81\x40"}));
}

using SearchFileLinks = SearchTree;

TEST_F(SearchFileLinks, LinkToAnAncestorIsReportedButNotWalked)
{
    MakeDir(At("x"));
    MakeFile(At("x/fx"));
    MakeLink(base, At("x/up"));
    MakeLink("..", At("x/parent"));
    Search(base, true);

    EXPECT_TRUE(search.Execute());
    EXPECT_EQ(recorder.DirPaths(), AtAllInOrder({"", "x"}));
    EXPECT_EQ(recorder.FileSet(), AtAll({"x", "x/fx", "x/up", "x/parent"}));
    for (const char* link : {"x/up", "x/parent"}) {
        const TSearchFileData* data = recorder.File(At(link));
        ASSERT_NE(data, nullptr);
        EXPECT_TRUE(data->IsDirectory) << link;
    }
}

TEST_F(SearchFileLinks, LinksBetweenSiblingsWalkEachDirectoryOnce)
{
    MakeDir(At("p"));
    MakeDir(At("q"));
    MakeFile(At("p/fp"));
    MakeFile(At("q/fq"));
    MakeLink(At("q"), At("p/toq"));
    MakeLink(At("p"), At("q/top"));
    // Reached through a link before (or after) the real one, depending on order.
    MakeDir(At("q/r"));
    MakeLink(At("q/r"), At("p/tor"));
    Search(base, true);

    EXPECT_TRUE(search.Execute());
    std::set<std::pair<dev_t, ino_t>> seen;
    for (const std::string& path : recorder.DirPaths())
        EXPECT_TRUE(seen.insert(Identity(path)).second) << path << " walked twice";
    EXPECT_EQ(seen, (std::set{Identity(base), Identity(At("p")), Identity(At("q")),
                              Identity(At("q/r"))}));
    for (const char* link : {"p/toq", "q/top", "p/tor"}) {
        EXPECT_EQ(recorder.FileSet().count(At(link)), 1u) << link;
    }
    EXPECT_EQ(recorder.FileSet().count(At("p/fp")), 1u);
    EXPECT_EQ(recorder.FileSet().count(At("q/fq")), 1u);
    // No file is reported through a second way into its directory.
    EXPECT_EQ(recorder.files.size(), recorder.FileSet().size());
    EXPECT_EQ(recorder.FileSet().size(), 8u) << testing::PrintToString(recorder.FilePaths());
}

TEST_F(SearchFileLinks, LinkLoopIsASystemEntry)
{
    MakeLink("b", At("a"));
    MakeLink("a", At("b"));
    Search(base, true);
    EXPECT_TRUE(search.Execute());
    EXPECT_EQ(recorder.DirPaths(), Paths{base});
    for (const char* name : {"a", "b"}) {
        const TSearchFileData* data = recorder.File(At(name));
        ASSERT_NE(data, nullptr) << name;
        EXPECT_TRUE(data->SystemFile) << name;
        EXPECT_FALSE(data->IsDirectory) << name;
    }
}

// An unprivileged user, so that a directory without permissions cannot be read.
constexpr uid_t kNobody = 65534;

std::map<std::string, Paths> ParseChildOutput(const std::string& output)
{
    std::map<std::string, Paths> lines;
    size_t start = 0;
    while (start < output.size()) {
        const size_t end = output.find('\n', start);
        const std::string line = output.substr(start, end - start);
        const size_t tab = line.find('\t');
        lines[line.substr(0, tab)].push_back(tab == std::string::npos ? "" : line.substr(tab + 1));
        start = end == std::string::npos ? output.size() : end + 1;
    }
    return lines;
}

using SearchFilePermissions = SearchTree;

TEST_F(SearchFilePermissions, UnreadableDirectoryIsPassedOver)
{
    Check(chmod(dir.Path().c_str(), 0755) == 0, "chmod");
    MakeFile(At("fb"));
    MakeDir(At("open"));
    MakeFile(At("open/f1"));
    MakeDir(At("closed"));
    MakeDir(At("closed/inner"));
    MakeFile(At("closed/f2"));
    MakeFile(At("closed/inner/f3"));
    Check(chmod(At("closed").c_str(), 0000) == 0, "chmod");
    // Without this an ordinary user could not remove the tree afterwards.
    struct TReopen
    {
        std::string path;
        ~TReopen() { chmod(path.c_str(), 0755); }
    } reopen{At("closed")};

    TSearchFile recursive;
    recursive.SetDirectory(base);
    recursive.SetRecursive(true);
    Recorder recursiveRecorder;
    recursiveRecorder.Attach(recursive);
    TSearchFile single;
    single.SetDirectory(At("closed"));
    Recorder singleRecorder;
    singleRecorder.Attach(single);
    TSearchDir walker;
    walker.SetBaseDir(base);
    Paths walked;
    walker.OnFind = [&](QObject*, const std::string& name, TSearchFileData, bool&, bool&) {
        walked.push_back(name);
    };

    int channel[2];
    Check(pipe(channel) == 0, "pipe");
    const pid_t child = fork();
    Check(child >= 0, "fork");
    if (child == 0) {
        // No test assertions here: the child only reports what it saw.
        close(channel[0]);
        int code = 0;
        std::string out;
        // Root reads anything, so it becomes nobody; any other user already
        // cannot read a directory without permissions, its own included.
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
            code = 10;
        } else if (access(At("closed").c_str(), R_OK) == 0) {
            code = 11;
        } else {
            try {
                out += std::string("recursive\t") + (recursive.Execute() ? "true" : "false") + '\n';
                for (const std::string& path : recursiveRecorder.DirPaths())
                    out += "dir\t" + path + '\n';
                for (const std::string& path : recursiveRecorder.FilePaths())
                    out += "file\t" + path + '\n';
                out += std::string("single\t") + (single.Execute() ? "true" : "false") + '\n';
                for (const std::string& path : singleRecorder.FilePaths())
                    out += "single-file\t" + path + '\n';
                out += std::string("walker\t") + (walker.Execute() ? "true" : "false") + '\n';
                for (const std::string& path : walked)
                    out += "walked\t" + path + '\n';
            } catch (...) {
                code = 12;
            }
        }
        for (size_t written = 0; written < out.size();) {
            const ssize_t n = write(channel[1], out.data() + written, out.size() - written);
            if (n <= 0)
                _exit(13);
            written += static_cast<size_t>(n);
        }
        _exit(code);
    }
    close(channel[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof(buffer))) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        Check(n > 0, "read");
        output.append(buffer, static_cast<size_t>(n));
    }
    close(channel[0]);
    int status = 0;
    Check(waitpid(child, &status, 0) == child, "waitpid");
    ASSERT_TRUE(WIFEXITED(status));
    // 10: could not drop privileges, 11: still able to read, 12: exception.
    ASSERT_EQ(WEXITSTATUS(status), 0);

    std::map<std::string, Paths> seen = ParseChildOutput(output);
    EXPECT_EQ(seen["recursive"], Paths{"true"});
    EXPECT_EQ(PathSet(seen["dir"].begin(), seen["dir"].end()), AtAll({"", "open", "closed"}));
    EXPECT_EQ(PathSet(seen["file"].begin(), seen["file"].end()),
              AtAll({"fb", "open", "closed", "open/f1"}));
    EXPECT_EQ(seen["single"], Paths{"true"});
    EXPECT_TRUE(seen["single-file"].empty()) << testing::PrintToString(seen["single-file"]);
    EXPECT_EQ(seen["walker"], Paths{"true"});
    EXPECT_EQ(PathSet(seen["walked"].begin(), seen["walked"].end()), AtAll({"", "open", "closed"}));
}

class SearchDir : public SearchTree
{
protected:
    void Walk(const std::string& baseDir)
    {
        walker.SetBaseDir(baseDir);
        walker.OnFind = [this](QObject* sender, const std::string& name, TSearchFileData data,
                               bool& ignoreSubDir, bool& continueSearch) {
            walked.push_back({name, std::move(data)});
            senders.push_back(sender);
            if (onFind)
                onFind(name, ignoreSubDir, continueSearch);
        };
    }
    Paths WalkedPaths() const
    {
        Paths paths;
        for (const Report& report : walked)
            paths.push_back(report.path);
        return paths;
    }

    TSearchDir walker;
    std::vector<Report> walked;
    std::vector<QObject*> senders;
    std::function<void(const std::string&, bool&, bool&)> onFind;
};

TEST_F(SearchDir, ReportsEveryDirectoryBreadthFirstFromTheBase)
{
    BuildWalkTree();
    Walk(base);

    EXPECT_TRUE(walker.Execute());
    ExpectBreadthFirst(WalkedPaths());
    ASSERT_FALSE(walked.empty());
    EXPECT_EQ(walked.front().data.Name, "base");
    for (const Report& report : walked) {
        SCOPED_TRACE(report.path);
        EXPECT_TRUE(report.data.IsDirectory);
        EXPECT_EQ(report.data.Name, report.path.substr(report.path.rfind('/') + 1));
    }
    EXPECT_THAT(senders, Each(&walker));
    EXPECT_TRUE(walker.DirQueue().empty());
    EXPECT_FALSE(walker.Running());
}

TEST_F(SearchDir, IgnoreSubDirAndContinueSteerTheWalk)
{
    BuildWalkTree();
    struct Case
    {
        const char* target;
        bool ignoreSubDir;
        bool stop;
        bool result;
        std::vector<const char*> walked;
    };
    const Case cases[] = {
        {"x", true, false, true, {"", "x", "y", "y/w"}},
        {"", true, false, true, {""}},
        {"", false, true, false, {""}},
        {"y/w", false, true, false, {"", "x", "y", "x/z", "y/w"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "at \"" << c.target << "\" ignore " << c.ignoreSubDir
                                        << " stop " << c.stop);
        walked.clear();
        Walk(base);
        const std::string target = At(c.target);
        onFind = [&](const std::string& name, bool& ignoreSubDir, bool& continueSearch) {
            EXPECT_FALSE(ignoreSubDir);
            EXPECT_TRUE(continueSearch);
            if (name == target) {
                ignoreSubDir = c.ignoreSubDir;
                continueSearch = !c.stop;
            }
        };
        EXPECT_EQ(walker.Execute(), c.result);
        const Paths paths = WalkedPaths();
        EXPECT_EQ(PathSet(paths.begin(), paths.end()), AtAll(c.walked));
        EXPECT_EQ(paths.size(), c.walked.size());
        EXPECT_FALSE(walker.Running());
    }
}

TEST_F(SearchDir, StoppingAtTheSecondDirectoryEndsTheWalkThere)
{
    BuildWalkTree();
    Walk(base);
    onFind = [&](const std::string&, bool&, bool& continueSearch) {
        continueSearch = walked.size() < 2;
    };
    EXPECT_FALSE(walker.Execute());
    EXPECT_EQ(walked.size(), 2u);
}

TEST_F(SearchDir, RefusesToStartWithoutHandlerBaseOrWhileRunning)
{
    BuildWalkTree();
    Walk(dir.File("missing"));
    EXPECT_FALSE(walker.Execute());
    EXPECT_TRUE(walked.empty());

    walker.SetBaseDir(base);
    walker.OnFind = nullptr;
    EXPECT_FALSE(walker.Execute());
    EXPECT_FALSE(walker.Running());

    Walk(base);
    std::vector<bool> nested;
    std::vector<bool> running;
    onFind = [&](const std::string&, bool&, bool&) {
        running.push_back(walker.Running());
        nested.push_back(walker.Execute());
    };
    EXPECT_TRUE(walker.Execute());
    EXPECT_EQ(nested, std::vector<bool>(5, false));
    EXPECT_EQ(running, std::vector<bool>(5, true));
    ExpectBreadthFirst(WalkedPaths());
}

TEST_F(SearchDir, RelativeBaseIsTakenAgainstTheCurrentDirectory)
{
    BuildWalkTree();
    CurrentDirectory current(dir.Path());
    Walk("base");
    EXPECT_TRUE(walker.Execute());
    ASSERT_EQ(walked.size(), 5u);
    EXPECT_EQ(walked.front().path, current.Path() + "/base");
    EXPECT_EQ(walked.front().data.Name, "base");
    EXPECT_THAT(WalkedPaths(), Each(testing::StartsWith(current.Path() + "/base")));
}

TEST_F(SearchDir, HandlerExceptionLeavesExecuteAndTheNextWalkWorks)
{
    BuildWalkTree();
    Walk(base);
    bool armed = true;
    onFind = [&](const std::string& name, bool&, bool&) {
        if (armed && name == At("x"))
            throw std::runtime_error("handler failed");
    };
    const size_t descriptors = OpenDescriptorCount();
    EXPECT_THROW(walker.Execute(), std::runtime_error);
    EXPECT_FALSE(walker.Running());
    EXPECT_EQ(OpenDescriptorCount(), descriptors);

    armed = false;
    walked.clear();
    EXPECT_TRUE(walker.Execute());
    ExpectBreadthFirst(WalkedPaths());
}

TEST_F(SearchDir, LinkLoopsEndAndEachDirectoryComesOnce)
{
    MakeDir(At("p"));
    MakeDir(At("q"));
    MakeDir(At("p/s"));
    MakeLink(base, At("p/s/up"));
    MakeLink(At("q"), At("p/toq"));
    MakeLink(At("p"), At("q/top"));
    Walk(base);

    EXPECT_TRUE(walker.Execute());
    std::set<std::pair<dev_t, ino_t>> seen;
    for (const std::string& path : WalkedPaths())
        EXPECT_TRUE(seen.insert(Identity(path)).second) << path << " walked twice";
    EXPECT_EQ(seen, (std::set{Identity(base), Identity(At("p")), Identity(At("q")),
                              Identity(At("p/s"))}));
}

} // namespace

// The directory reads and entry examinations of a search, counted in front of
// the C library's own functions.
struct TSystemCalls
{
    bool Counting = false;
    std::map<std::string, int> Reads; // by the directory's real path
    int Examined = 0;
} systemCalls;

void CountRead(const std::string& path)
{
    std::error_code error;
    if (systemCalls.Counting)
        ++systemCalls.Reads[std::filesystem::canonical(path, error).string()];
}

extern "C" DIR* fdopendir(int fd)
{
    static const auto real = reinterpret_cast<DIR* (*)(int)>(dlsym(RTLD_NEXT, "fdopendir"));
    CountRead("/proc/self/fd/" + std::to_string(fd));
    return real(fd);
}

extern "C" DIR* opendir(const char* path)
{
    static const auto real = reinterpret_cast<DIR* (*)(const char*)>(dlsym(RTLD_NEXT, "opendir"));
    CountRead(path);
    return real(path);
}

extern "C" int statx(int directoryFd, const char* name, int flags, unsigned mask,
                     struct statx* status) noexcept
{
    static const auto real =
        reinterpret_cast<int (*)(int, const char*, int, unsigned, struct statx*)>(
            dlsym(RTLD_NEXT, "statx"));
    systemCalls.Examined += systemCalls.Counting;
    return real(directoryFd, name, flags, mask, status);
}

namespace {

using SearchFileCost = SearchTree;

TEST_F(SearchFileCost, EachDirectoryIsReadOnceAndEntriesExaminedOnlyWhenNeeded)
{
    BuildWalkTree();
    const std::string outside = dir.File("outside");
    MakeDir(outside);
    MakeFile(outside + "/fo");
    MakeLink(outside, At("l"));
    std::map<std::string, int> once;
    for (const char* name : {"", "x", "y", "x/z", "y/w", "l"})
        once[std::filesystem::canonical(At(name)).string()] = 1;

    for (const bool wantsData : {true, false}) {
        SCOPED_TRACE(wantsData ? "reading data" : "reading names");
        recorder.Clear();
        Search(base, true);
        search.SetWantsData(wantsData);
        systemCalls = {true, {}, 0};
        EXPECT_TRUE(search.Execute());
        systemCalls.Counting = false;

        EXPECT_EQ(recorder.FileSet().size(), AllWalkEntries().size() + 2);
        for (const Report& report : recorder.files)
            EXPECT_EQ(report.data.Name, report.path.substr(report.path.rfind('/') + 1));
        EXPECT_EQ(systemCalls.Reads, once);
        // With data, each reported entry once and each walked directory once
        // more; without, only the base and the link.
        EXPECT_EQ(systemCalls.Examined,
                  wantsData ? recorder.files.size() + recorder.dirs.size() : 2u);
    }
}

} // namespace
