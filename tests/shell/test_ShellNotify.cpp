#include "shell/ShellNotify.h"

#include "tests/support/TestFiles.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

// These tests wait in real time for the watchers' quiet intervals; the
// bounds are wide so that a loaded machine does not fail them.

namespace {

using Clock = std::chrono::steady_clock;

int MsBetween(Clock::time_point from, Clock::time_point to)
{
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count());
}

int MsSince(Clock::time_point start)
{
    return MsBetween(start, Clock::now());
}

/// Pumps the UI event loop until `done` or `timeoutMs` pass; answers done().
bool PumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done() && Clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

/// Pumps the UI event loop for `ms` (so that late reports can arrive).
void PumpFor(int ms)
{
    PumpUntil([] { return false; }, ms);
}

bool OnUiThread()
{
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

void MakeDirectory(const std::string& path)
{
    Check(mkdir(path.c_str(), 0755) == 0, "mkdir " + path);
}

/// What a change handler saw.
struct TReports
{
    int count = 0;
    bool allOnUiThread = true;
    std::vector<std::string> directories;
    Clock::time_point last;

    void Add(const std::string& directory = {})
    {
        ++count;
        allOnUiThread = allOnUiThread && OnUiThread();
        directories.push_back(directory);
        last = Clock::now();
    }
};

TShDirWatcher* MakeDirWatcher(const std::vector<std::string>& directories, TReports& changes,
                              uint32_t filter = FILE_NOTIFY_CHANGE_DIR_NAME)
{
    return new TShDirWatcher(
        directories, filter, [](TShDirWatcher*, std::unique_ptr<TDeviceChangeData>) {},
        [&changes](TShDirWatcher*) { changes.Add(); });
}

TShFilesWatcher* MakeFilesWatcher(const std::string& directory, uint32_t filter, TReports& changes)
{
    return new TShFilesWatcher(
        directory, filter,
        [&changes](TShFilesWatcher*, const std::string& reported) { changes.Add(reported); });
}

TEST(ShDirWatcher, KeepsExistingDirectoriesSortedWithoutRegardToCase)
{
    TTestDir dir;
    for (const char* name : {"b", "Music", "music", "A1", "a2"})
        MakeDirectory(dir.File(name));
    Check(WriteFileBytes(dir.File("plain"), "x"), "plain file");
    const std::string root = dir.Path() + "/";

    TReports changes;
    TShDirWatcher* watcher =
        MakeDirWatcher({dir.File("music"), dir.File("b"), dir.File("missing"), dir.File("plain"),
                        dir.File("a2"), dir.File("Music"), dir.File("b") + "/", dir.File("A1")},
                       changes);
    const std::vector<std::string> expected = {root + "A1/", root + "a2/", root + "b/",
                                               root + "Music/", root + "music/"};
    EXPECT_EQ(watcher->Directories(), expected);
    // Every one of them can be watched, so the first build keeps them all.
    ASSERT_TRUE(PumpUntil([&] { return watcher->RebuildCount() >= 1; }, 2000));
    EXPECT_EQ(watcher->Directories(), expected);
    watcher->ShutDown();
}

TEST(ShDirWatcher, SignalsOnlyForADifferentListAndAlwaysForNone)
{
    TTestDir dir;
    for (const char* name : {"x", "y"})
        MakeDirectory(dir.File(name));
    const std::vector<std::string> list = {dir.File("x"), dir.File("y")};
    TReports changes;
    TShDirWatcher* watcher = MakeDirWatcher(list, changes);
    ASSERT_TRUE(PumpUntil([&] { return watcher->RebuildCount() >= 1; }, 2000));

    // The same directories in another order, with separators and a missing
    // name make the same list.
    const std::vector<std::string> same = {dir.File("y") + "/", dir.File("x"), dir.File("gone"),
                                           dir.File("x")};
    watcher->SetDirectories(&list);
    watcher->SetDirectories(&same);
    EXPECT_EQ(watcher->ListChangedCount(), 0);

    const std::vector<std::string> onlyX = {dir.File("x")};
    watcher->SetDirectories(&onlyX);
    EXPECT_EQ(watcher->ListChangedCount(), 1);
    EXPECT_EQ(watcher->Directories(), std::vector<std::string>{dir.File("x") + "/"});
    ASSERT_TRUE(PumpUntil([&] { return watcher->RebuildCount() >= 2; }, 2000));

    watcher->SetDirectories(nullptr);
    EXPECT_EQ(watcher->ListChangedCount(), 2);
    EXPECT_TRUE(watcher->Directories().empty());
    watcher->SetDirectories(nullptr);
    EXPECT_EQ(watcher->ListChangedCount(), 3);
    // An empty list is a list: equal to the empty one, so no signal.
    const std::vector<std::string> empty;
    watcher->SetDirectories(&empty);
    EXPECT_EQ(watcher->ListChangedCount(), 3);
    EXPECT_TRUE(PumpUntil([&] { return watcher->RebuildCount() >= 3; }, 2000));
    watcher->ShutDown();
}

TEST(ShDirWatcher, BurstOfChangesGivesOneReportAfterTheQuietTime)
{
    TTestDir dir;
    TReports changes;
    TShDirWatcher* watcher = MakeDirWatcher({dir.Path()}, changes);
    ASSERT_TRUE(PumpUntil([&] { return watcher->RebuildCount() >= 1; }, 2000));

    Clock::time_point lastChange;
    for (int i = 0; i < 5; ++i) {
        if (i > 0)
            PumpFor(150);
        MakeDirectory(dir.File("sub" + std::to_string(i)));
        lastChange = Clock::now();
    }
    ASSERT_TRUE(PumpUntil([&] { return changes.count > 0; }, 4000));
    const int delay = MsBetween(lastChange, changes.last);
    RecordProperty("reportAfterLastChangeMs", delay);
    EXPECT_GE(delay, 1400);
    EXPECT_LE(delay, 2500);
    PumpFor(500);
    EXPECT_EQ(changes.count, 1);
    EXPECT_TRUE(changes.allOnUiThread);
    watcher->ShutDown();
}

TEST(ShDirWatcher, DeletedDirectoryCountsAsChangeAndWatchingGoesOn)
{
    TTestDir dir;
    MakeDirectory(dir.File("doomed"));
    MakeDirectory(dir.File("kept"));
    TReports changes;
    TShDirWatcher* watcher = MakeDirWatcher({dir.File("doomed"), dir.File("kept")}, changes);
    ASSERT_TRUE(PumpUntil([&] { return watcher->RebuildCount() >= 1; }, 2000));

    Check(rmdir(dir.File("doomed").c_str()) == 0, "rmdir");
    ASSERT_TRUE(PumpUntil([&] { return changes.count == 1; }, 4000));
    MakeDirectory(dir.File("kept/sub"));
    EXPECT_TRUE(PumpUntil([&] { return changes.count == 2; }, 4000));
    watcher->ShutDown();
}

TEST(ShDirWatcher, ChangeAmongThreeHundredDirectoriesIsReported)
{
    // More slots than the number a time-out is answered with.
    TTestDir dir;
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) {
        names.push_back(dir.File("artist" + std::to_string(i)));
        MakeDirectory(names.back());
    }
    TReports changes;
    TShDirWatcher* watcher = MakeDirWatcher(names, changes);
    ASSERT_TRUE(PumpUntil([&] { return watcher->RebuildCount() >= 1; }, 2000));
    ASSERT_EQ(watcher->Directories().size(), names.size());
    MakeDirectory(names[150] + "/album");
    EXPECT_TRUE(PumpUntil([&] { return changes.count == 1; }, 4000));
    watcher->ShutDown();
}

TEST(ShDirWatcher, ChangeInItsQuietTimeSurvivesADeviceNoticeOrANewList)
{
    for (const bool device : {true, false}) {
        SCOPED_TRACE(device ? "device notice" : "new list");
        TTestDir dir;
        MakeDirectory(dir.File("other"));
        TReports changes;
        TShDirWatcher* watcher = MakeDirWatcher({dir.Path()}, changes);
        ASSERT_TRUE(PumpUntil([&] { return watcher->RebuildCount() >= 1; }, 2000));
        MakeDirectory(dir.File("new"));
        PumpFor(300);
        const std::vector<std::string> list = {dir.Path(), dir.File("other")};
        if (device)
            watcher->PostDeviceChange(std::make_unique<TDeviceChangeData>(
                "", nullptr, kDeviceKindNetwork, DBT_DEVICEARRIVAL));
        else
            watcher->SetDirectories(&list);
        EXPECT_TRUE(PumpUntil([&] { return changes.count == 1; }, 5000));
        watcher->ShutDown();
    }
}

TEST(ShDirWatcher, DeviceNoticesSettleIntoOneReportWithTheLastData)
{
    int reports = 0;
    bool onUiThread = false;
    std::string caption;
    Clock::time_point reported;
    auto* watcher = new TShDirWatcher(
        {}, FILE_NOTIFY_CHANGE_DIR_NAME,
        [&](TShDirWatcher*, std::unique_ptr<TDeviceChangeData> data) {
            ++reports;
            onUiThread = OnUiThread();
            caption = data ? data->Caption : "(none)";
            reported = Clock::now();
        },
        [](TShDirWatcher*) {});

    watcher->PostDeviceChange(std::make_unique<TDeviceChangeData>(
        "FIRST (/media/a)", nullptr, kDeviceKindRemovable, DBT_DEVICEARRIVAL));
    PumpFor(500);
    watcher->PostDeviceChange(std::make_unique<TDeviceChangeData>(
        " (/media/a)", nullptr, kDeviceKindRemovable, DBT_DEVICEREMOVECOMPLETE));
    const auto second = Clock::now();
    ASSERT_TRUE(PumpUntil([&] { return reports > 0; }, 3000));
    const int delay = MsBetween(second, reported);
    RecordProperty("reportAfterSecondNoticeMs", delay);
    EXPECT_GE(delay, 900);
    EXPECT_LE(delay, 2000);
    EXPECT_EQ(caption, " (/media/a)");
    EXPECT_TRUE(onUiThread);
    PumpFor(300);
    EXPECT_EQ(reports, 1);
    watcher->ShutDown();
}

TEST(ShFilesWatcher, ReportsWhatItsFilterAsksFor)
{
    constexpr uint32_t kNames = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME;
    constexpr uint32_t kContents =
        FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;
    struct TCase
    {
        const char* what;
        uint32_t filter;
        std::function<void(const TTestDir&)> change;
        bool reported;
    };
    const auto chmodFile = [](const TTestDir& d) {
        Check(chmod(d.File("f").c_str(), 0600) == 0, "chmod");
    };
    const auto writeFile = [](const TTestDir& d) {
        FILE* file = fopen(d.File("f").c_str(), "ab");
        Check(file != nullptr, "open");
        fputs("more", file);
        fclose(file);
    };
    const TCase cases[] = {
        {"chmod, contents filter", kContents, chmodFile, true},
        {"write, contents filter", kContents, writeFile, true},
        {"create, names filter", kNames,
         [](const TTestDir& d) { Check(WriteFileBytes(d.File("new"), ""), "create"); }, true},
        {"rename, names filter", kNames,
         [](const TTestDir& d) {
             Check(rename(d.File("f").c_str(), d.File("g").c_str()) == 0, "rename");
         },
         true},
        {"mkdir, names filter", kNames, [](const TTestDir& d) { MakeDirectory(d.File("sub")); },
         true},
        {"write, names filter", kNames, writeFile, false},
        {"chmod, names filter", kNames, chmodFile, false},
        {"rename, contents filter", kContents,
         [](const TTestDir& d) {
             Check(rename(d.File("f").c_str(), d.File("g").c_str()) == 0, "rename");
         },
         false},
    };
    constexpr size_t kCases = std::size(cases);
    std::vector<std::unique_ptr<TTestDir>> dirs;
    std::vector<TReports> reports(kCases);
    std::vector<TShFilesWatcher*> watchers;
    for (size_t i = 0; i < kCases; ++i) {
        dirs.push_back(std::make_unique<TTestDir>());
        Check(WriteFileBytes(dirs[i]->File("f"), "data"), "file");
        watchers.push_back(MakeFilesWatcher(dirs[i]->Path(), cases[i].filter, reports[i]));
    }
    ASSERT_TRUE(PumpUntil(
        [&] {
            return std::all_of(watchers.begin(), watchers.end(),
                               [](TShFilesWatcher* w) { return w->WatchCount() >= 1; });
        },
        2000));

    for (size_t i = 0; i < kCases; ++i)
        cases[i].change(*dirs[i]);
    const auto changed = Clock::now();
    const auto expectedDone = [&] {
        for (size_t i = 0; i < kCases; ++i)
            if (cases[i].reported && reports[i].count == 0)
                return false;
        return true;
    };
    EXPECT_TRUE(PumpUntil(expectedDone, 4500));
    // Long enough for a wrong report to have come too.
    PumpFor(std::max(0, 2600 - MsSince(changed)));

    for (size_t i = 0; i < kCases; ++i) {
        SCOPED_TRACE(cases[i].what);
        EXPECT_EQ(reports[i].count, cases[i].reported ? 1 : 0);
        if (reports[i].count > 0) {
            EXPECT_EQ(reports[i].directories[0], dirs[i]->Path());
            const int delay = MsBetween(changed, reports[i].last);
            RecordProperty("reportAfterChangeMs" + std::to_string(i), delay);
            EXPECT_GE(delay, 1900);
            EXPECT_LE(delay, 3500);
        }
        EXPECT_TRUE(reports[i].allOnUiThread);
    }
    for (TShFilesWatcher* watcher : watchers)
        watcher->ShutDown();
}

TEST(ShFilesWatcher, MissingDirectoryIdlesUntilAnExistingOneIsSet)
{
    TTestDir dir;
    TReports changes;
    TShFilesWatcher* watcher =
        MakeFilesWatcher(dir.File("missing"), FILE_NOTIFY_CHANGE_FILE_NAME, changes);
    MakeDirectory(dir.File("real"));
    PumpFor(300);
    EXPECT_EQ(watcher->WatchCount(), 0);

    watcher->SetDirectory(dir.File("real"));
    EXPECT_EQ(watcher->Directory(), dir.File("real"));
    ASSERT_TRUE(PumpUntil([&] { return watcher->WatchCount() == 1; }, 2000));
    // Setting the same path again changes nothing.
    watcher->SetDirectory(dir.File("real"));
    Check(WriteFileBytes(dir.File("real/b"), ""), "file");
    ASSERT_TRUE(PumpUntil([&] { return changes.count > 0; }, 4000));
    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(changes.directories, std::vector<std::string>{dir.File("real")});

    // A path that does not exist leaves no directory.
    watcher->SetDirectory(dir.File("nowhere"));
    EXPECT_EQ(watcher->Directory(), "");
    watcher->ShutDown();
}

TEST(ShFilesWatcher, DirectoryThatWentAndCameBackIsWatchedAgain)
{
    for (const bool renamed : {false, true}) {
        SCOPED_TRACE(renamed ? "renamed away and back, then set again" : "removed and made again");
        TTestDir dir;
        const std::string watched = dir.File("album");
        const std::string aside = dir.File("aside");
        MakeDirectory(watched);
        TReports changes;
        TShFilesWatcher* watcher = MakeFilesWatcher(watched, FILE_NOTIFY_CHANGE_FILE_NAME, changes);
        ASSERT_TRUE(PumpUntil([&] { return watcher->WatchCount() == 1; }, 2000));
        Check(renamed ? rename(watched.c_str(), aside.c_str()) == 0 : rmdir(watched.c_str()) == 0,
              "go");
        PumpFor(300);
        if (renamed) {
            Check(rename(aside.c_str(), watched.c_str()) == 0, "rename back");
            watcher->SetDirectory(watched);
        } else {
            MakeDirectory(watched);
        }
        // Whatever the going and coming reported has come by then.
        PumpFor(2500);
        const int before = changes.count;
        Check(WriteFileBytes(watched + "/track.mp3", ""), "file");
        EXPECT_TRUE(PumpUntil([&] { return changes.count > before; }, 4500));
        watcher->ShutDown();
    }
}

TEST(ShWatchers, ShutDownDuringTheQuietTimeCallsNoHandler)
{
    TTestDir dir;
    TReports dirChanges, fileChanges;
    int deviceReports = 0;
    auto* dirWatcher = new TShDirWatcher(
        {dir.Path()}, FILE_NOTIFY_CHANGE_DIR_NAME,
        [&](TShDirWatcher*, std::unique_ptr<TDeviceChangeData>) { ++deviceReports; },
        [&](TShDirWatcher*) { dirChanges.Add(); });
    TShFilesWatcher* filesWatcher =
        MakeFilesWatcher(dir.Path(), FILE_NOTIFY_CHANGE_DIR_NAME, fileChanges);
    ASSERT_TRUE(PumpUntil(
        [&] { return dirWatcher->RebuildCount() >= 1 && filesWatcher->WatchCount() >= 1; }, 2000));

    MakeDirectory(dir.File("sub"));
    dirWatcher->PostDeviceChange(
        std::make_unique<TDeviceChangeData>("", nullptr, kDeviceKindNetwork, DBT_DEVICEARRIVAL));
    PumpFor(300);
    dirWatcher->ShutDown();
    filesWatcher->ShutDown();
    PumpFor(2500);
    EXPECT_EQ(dirChanges.count, 0);
    EXPECT_EQ(fileChanges.count, 0);
    EXPECT_EQ(deviceReports, 0);
}

// Last in this file: StopAll stops every watcher of the process.
TEST(ShWatchers, StopAllEndsRunningWatchersWithinASecond)
{
    TTestDir dir;
    MakeDirectory(dir.File("a"));
    TReports dirChanges, fileChanges;
    int deviceReports = 0;
    auto* dirWatcher = new TShDirWatcher(
        {dir.Path(), dir.File("a")}, FILE_NOTIFY_CHANGE_DIR_NAME,
        [&](TShDirWatcher*, std::unique_ptr<TDeviceChangeData>) { ++deviceReports; },
        [&](TShDirWatcher*) { dirChanges.Add(); });
    TShFilesWatcher* names =
        MakeFilesWatcher(dir.Path(), FILE_NOTIFY_CHANGE_FILE_NAME, fileChanges);
    TShFilesWatcher* contents =
        MakeFilesWatcher(dir.File("a"), FILE_NOTIFY_CHANGE_SIZE, fileChanges);
    ASSERT_TRUE(PumpUntil(
        [&] {
            return dirWatcher->RebuildCount() >= 1 && names->WatchCount() >= 1 &&
                   contents->WatchCount() >= 1;
        },
        2000));

    // One idle and the others inside their quiet times.
    MakeDirectory(dir.File("sub"));
    Check(WriteFileBytes(dir.File("file"), ""), "file");
    dirWatcher->PostDeviceChange(
        std::make_unique<TDeviceChangeData>("", nullptr, kDeviceKindNetwork, DBT_DEVICEARRIVAL));
    PumpFor(200);
    const auto start = Clock::now();
    EXPECT_TRUE(TThread::StopAll(1000));
    const int stopMs = MsSince(start);
    RecordProperty("stopAllMs", stopMs);
    EXPECT_LT(stopMs, 1000);
    PumpFor(2500);
    EXPECT_EQ(dirChanges.count, 0);
    EXPECT_EQ(fileChanges.count, 0);
    EXPECT_EQ(deviceReports, 0);
}

} // namespace
