#include "platform/kernel/Kernel.h"

#include "platform/core/ExceptionHandler.h"
#include "tests/support/TestFiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <array>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <ostream>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

void PrintTo(const TWaitResult& result, std::ostream* out)
{
    *out << (result.IsSlot()          ? "slot " + std::to_string(result.Index)
             : result == WAIT_TIMEOUT ? "time-out"
                                      : "failed");
}

namespace {

// Pumps the UI event loop until `done` or the deadline.
template <typename Predicate> bool PumpUntil(Predicate done, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

TWaitResult WaitOne(TWaitable& waitable, int timeoutMs)
{
    TWaitable* slots[] = {&waitable};
    return WaitForMultiple(slots, timeoutMs);
}

// --- Events and waits --------------------------------------------------------

TEST(KernelEvent, ManualResetStaysSetUntilReset)
{
    TEvent event(true, true);
    ASSERT_TRUE(event.IsValid());
    EXPECT_EQ(WaitOne(event, 0), WaitSlot(0));
    EXPECT_EQ(WaitOne(event, 0), WaitSlot(0));
    event.Reset();
    EXPECT_EQ(WaitOne(event, 0), WAIT_TIMEOUT);
    event.Set();
    event.Set();
    EXPECT_EQ(WaitOne(event, 0), WaitSlot(0));
    EXPECT_TRUE(event.IsSignalled());
}

TEST(KernelEvent, AutoResetClearsInTheWaitItEnds)
{
    TEvent event(false, true);
    EXPECT_EQ(WaitOne(event, 0), WaitSlot(0));
    EXPECT_FALSE(event.IsSignalled());
    EXPECT_EQ(WaitOne(event, 0), WAIT_TIMEOUT);
    // Two Sets before a wait are one: there is no count.
    event.Set();
    event.Set();
    EXPECT_EQ(WaitOne(event, 0), WaitSlot(0));
    EXPECT_EQ(WaitOne(event, 0), WAIT_TIMEOUT);
}

TEST(KernelEvent, ResetBeforeTheWaitWins)
{
    TEvent event(false, false);
    event.Set();
    event.Reset();
    EXPECT_EQ(WaitOne(event, 0), WAIT_TIMEOUT);
}

TEST(KernelWait, LowestSignalledSlotWinsAndOnlyItIsAcquired)
{
    TEvent first(false, false), second(false, false), third(false, false);
    TWaitable* slots[] = {&first, nullptr, &second, &third};
    third.Set();
    second.Set();
    EXPECT_EQ(WaitForMultiple(slots, 0), WaitSlot(2));
    EXPECT_FALSE(second.IsSignalled());
    EXPECT_TRUE(third.IsSignalled()) << "a slot that did not end the wait was cleared";
    EXPECT_EQ(WaitForMultiple(slots, 0), WaitSlot(3));
    EXPECT_EQ(WaitForMultiple(slots, 0), WAIT_TIMEOUT);
    first.Set();
    third.Set();
    EXPECT_EQ(WaitForMultiple(slots, 0), WaitSlot(0));
}

TEST(KernelWait, SameWaitableInTwoSlotsAnswersTheFirst)
{
    TEvent event(true, false);
    TEvent other(true, false);
    TWaitable* slots[] = {&other, &event, &event};
    event.Set();
    EXPECT_EQ(WaitForMultiple(slots, 1000), WaitSlot(1));
}

TEST(KernelWait, TimeoutTakesRoughlyTheTime)
{
    TEvent event(true, false);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(WaitOne(event, 120), WAIT_TIMEOUT);
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(elapsed, 115);
    EXPECT_LT(elapsed, 2000);
}

TEST(KernelWait, InfiniteWaitOnNothingFails)
{
    TWaitable* slots[] = {nullptr, nullptr};
    EXPECT_EQ(WaitForMultiple(slots, INFINITE), WAIT_FAILED);
    EXPECT_EQ(WaitForMultiple(slots, 0), WAIT_TIMEOUT);
}

TEST(KernelWait, SetFromAnotherThreadWakesTheWait)
{
    // Ping-pong: most rounds find the other side already blocked in poll.
    TEvent ping(false, false), pong(false, false);
    constexpr int kRounds = 200;
    std::thread partner([&] {
        for (int round = 0; round < kRounds; ++round) {
            if (WaitOne(pong, 5000) != WaitSlot(0))
                return;
            ping.Set();
        }
    });
    int answered = 0;
    for (int round = 0; round < kRounds; ++round) {
        pong.Set();
        if (WaitOne(ping, 5000) != WaitSlot(0))
            break;
        ++answered;
    }
    partner.join();
    EXPECT_EQ(answered, kRounds);
}

// --- Change notifications -----------------------------------------------------

struct TChangeCase
{
    const char* Name;
    uint32_t Filter;
    void (*Change)(const TTestDir& dir);
    bool Signals;
};

void CreateFile(const TTestDir& dir)
{
    Check(WriteFileBytes(dir.File("new.txt"), "x"), "create");
}
void DeleteFile(const TTestDir& dir)
{
    Check(unlink(dir.File("old.txt").c_str()) == 0, "unlink");
}
void RenameFile(const TTestDir& dir)
{
    Check(rename(dir.File("old.txt").c_str(), dir.File("renamed.txt").c_str()) == 0, "rename");
}
void MakeDirectory(const TTestDir& dir)
{
    Check(mkdir(dir.File("newdir").c_str(), 0755) == 0, "mkdir");
}
void RemoveDirectory(const TTestDir& dir)
{
    Check(rmdir(dir.File("olddir").c_str()) == 0, "rmdir");
}
void RenameDirectory(const TTestDir& dir)
{
    Check(rename(dir.File("olddir").c_str(), dir.File("moveddir").c_str()) == 0, "rename");
}
void ChangeMode(const TTestDir& dir)
{
    Check(chmod(dir.File("old.txt").c_str(), 0600) == 0, "chmod");
}
void AppendToFile(const TTestDir& dir)
{
    std::ofstream(dir.File("old.txt"), std::ios::app) << "more";
}
void TruncateFile(const TTestDir& dir)
{
    Check(truncate(dir.File("old.txt").c_str(), 1) == 0, "truncate");
}

void MakeFolderLink(const TTestDir& dir)
{
    Check(symlink("olddir", dir.File("newlink").c_str()) == 0, "symlink");
}
void RemoveFolderLink(const TTestDir& dir)
{
    Check(unlink(dir.File("oldlink").c_str()) == 0, "unlink");
}

void PrintTo(const TChangeCase& change, std::ostream* out)
{
    *out << change.Name;
}

const TChangeCase kChangeCases[] = {
    {"FileNameCreate", FILE_NOTIFY_CHANGE_FILE_NAME, CreateFile, true},
    {"FileNameDelete", FILE_NOTIFY_CHANGE_FILE_NAME, DeleteFile, true},
    {"FileNameRename", FILE_NOTIFY_CHANGE_FILE_NAME, RenameFile, true},
    {"FileNameIgnoresMkdir", FILE_NOTIFY_CHANGE_FILE_NAME, MakeDirectory, false},
    {"FileNameIgnoresRmdir", FILE_NOTIFY_CHANGE_FILE_NAME, RemoveDirectory, false},
    {"FileNameIgnoresWrite", FILE_NOTIFY_CHANGE_FILE_NAME, AppendToFile, false},
    {"DirNameMkdir", FILE_NOTIFY_CHANGE_DIR_NAME, MakeDirectory, true},
    {"DirNameRmdir", FILE_NOTIFY_CHANGE_DIR_NAME, RemoveDirectory, true},
    {"DirNameRename", FILE_NOTIFY_CHANGE_DIR_NAME, RenameDirectory, true},
    {"DirNameIgnoresFileCreate", FILE_NOTIFY_CHANGE_DIR_NAME, CreateFile, false},
    {"DirNameIgnoresFileRename", FILE_NOTIFY_CHANGE_DIR_NAME, RenameFile, false},
    {"AttributesChmod", FILE_NOTIFY_CHANGE_ATTRIBUTES, ChangeMode, true},
    {"AttributesIgnoresCreate", FILE_NOTIFY_CHANGE_ATTRIBUTES, CreateFile, false},
    {"SizeWrite", FILE_NOTIFY_CHANGE_SIZE, AppendToFile, true},
    {"SizeTruncate", FILE_NOTIFY_CHANGE_SIZE, TruncateFile, true},
    {"LastWriteWrite", FILE_NOTIFY_CHANGE_LAST_WRITE, AppendToFile, true},
    {"LastWriteIgnoresChmod", FILE_NOTIFY_CHANGE_LAST_WRITE, ChangeMode, false},
    {"SizeIgnoresRename", FILE_NOTIFY_CHANGE_SIZE, RenameFile, false},
    {"DirNameFolderLinkCreate", FILE_NOTIFY_CHANGE_DIR_NAME, MakeFolderLink, true},
    {"DirNameFolderLinkRemove", FILE_NOTIFY_CHANGE_DIR_NAME, RemoveFolderLink, true},
    {"FileNameIgnoresFolderLink", FILE_NOTIFY_CHANGE_FILE_NAME, MakeFolderLink, false},
};

class KernelChange : public ::testing::TestWithParam<TChangeCase>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(inotify.IsValid());
        Check(WriteFileBytes(dir.File("old.txt"), "old"), "old.txt");
        Check(mkdir(dir.File("olddir").c_str(), 0755) == 0, "olddir");
        Check(symlink("olddir", dir.File("oldlink").c_str()) == 0, "oldlink");
    }

    TTestDir dir;
    TInotify inotify;
};

constexpr uint32_t kEveryChange = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                  FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                                  FILE_NOTIFY_CHANGE_LAST_WRITE;

TEST_P(KernelChange, SignalsOnlyWhatTheFilterAsksFor)
{
    const TChangeCase& change = GetParam();
    auto notification = TChangeNotification::FindFirst(inotify, dir.Path(), change.Filter);
    ASSERT_NE(notification, nullptr);
    if (change.Signals) {
        change.Change(dir);
        EXPECT_EQ(WaitOne(*notification, 5000), WaitSlot(0));
        EXPECT_FALSE(notification->Gone());
        return;
    }
    // A second notification on the same directory hears everything (the two
    // share the kernel watch); once it signalled, the events have been read
    // and handed to both.
    auto probe = TChangeNotification::FindFirst(inotify, dir.Path(), kEveryChange);
    ASSERT_NE(probe, nullptr);
    change.Change(dir);
    ASSERT_EQ(WaitOne(*probe, 5000), WaitSlot(0));
    EXPECT_FALSE(notification->IsSignalled());
    TWaitable* slots[] = {notification.get()};
    EXPECT_EQ(WaitForMultiple(slots, 0), WAIT_TIMEOUT);
}

INSTANTIATE_TEST_SUITE_P(Filters, KernelChange, ::testing::ValuesIn(kChangeCases),
                         [](const auto& info) { return std::string(info.param.Name); });

class KernelNotification : public ::testing::Test
{
protected:
    TTestDir dir;
    TInotify inotify;
};

TEST_F(KernelNotification, FindNextRearms)
{
    auto notification =
        TChangeNotification::FindFirst(inotify, dir.Path(), FILE_NOTIFY_CHANGE_FILE_NAME);
    ASSERT_NE(notification, nullptr);
    Check(WriteFileBytes(dir.File("a"), ""), "a");
    ASSERT_EQ(WaitOne(*notification, 5000), WaitSlot(0));
    EXPECT_TRUE(notification->IsSignalled()) << "a wait does not re-arm";
    EXPECT_TRUE(notification->FindNext());
    EXPECT_FALSE(notification->IsSignalled());
    EXPECT_EQ(WaitOne(*notification, 0), WAIT_TIMEOUT);
    Check(WriteFileBytes(dir.File("b"), ""), "b");
    EXPECT_EQ(WaitOne(*notification, 5000), WaitSlot(0));
}

TEST_F(KernelNotification, DeletedOrMovedDirectoryIsSignalledAndGone)
{
    for (const bool move : {false, true}) {
        SCOPED_TRACE(move ? "moved" : "deleted");
        const std::string watched = dir.File("watched");
        Check(mkdir(watched.c_str(), 0755) == 0, "mkdir");
        auto notification =
            TChangeNotification::FindFirst(inotify, watched, FILE_NOTIFY_CHANGE_ATTRIBUTES);
        ASSERT_NE(notification, nullptr);
        EXPECT_EQ(notification->Directory(), watched);
        if (move)
            Check(rename(watched.c_str(), dir.File("elsewhere").c_str()) == 0, "rename");
        else
            Check(rmdir(watched.c_str()) == 0, "rmdir");
        ASSERT_EQ(WaitOne(*notification, 5000), WaitSlot(0));
        EXPECT_TRUE(notification->Gone());
        EXPECT_FALSE(notification->FindNext());
        notification.reset(); // the kernel may have dropped the watch already
        if (move)
            Check(rmdir(dir.File("elsewhere").c_str()) == 0, "rmdir");
    }
}

TEST_F(KernelNotification, UnwatchableDirectoryGivesNull)
{
    Check(WriteFileBytes(dir.File("plain"), ""), "plain");
    EXPECT_EQ(TChangeNotification::FindFirst(inotify, dir.File("missing"), kEveryChange), nullptr);
    EXPECT_EQ(TChangeNotification::FindFirst(inotify, dir.File("plain"), kEveryChange), nullptr)
        << "a file is not a directory";
}

TEST_F(KernelNotification, SharedWatchOutlivesOneOfItsNotifications)
{
    auto first = TChangeNotification::FindFirst(inotify, dir.Path(), FILE_NOTIFY_CHANGE_FILE_NAME);
    auto second = TChangeNotification::FindFirst(inotify, dir.Path(), FILE_NOTIFY_CHANGE_DIR_NAME);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    Check(mkdir(dir.File("sub").c_str(), 0755) == 0, "mkdir");
    ASSERT_EQ(WaitOne(*second, 5000), WaitSlot(0));
    EXPECT_FALSE(first->IsSignalled());

    second.reset();
    Check(WriteFileBytes(dir.File("file"), ""), "file");
    ASSERT_EQ(WaitOne(*first, 5000), WaitSlot(0));
    EXPECT_FALSE(first->Gone()) << "the kernel watch went with the other notification";
}

TEST_F(KernelNotification, OneReadReachesEveryNotificationOfTheInstance)
{
    TTestDir other;
    auto here = TChangeNotification::FindFirst(inotify, dir.Path(), FILE_NOTIFY_CHANGE_FILE_NAME);
    auto there =
        TChangeNotification::FindFirst(inotify, other.Path(), FILE_NOTIFY_CHANGE_FILE_NAME);
    ASSERT_NE(here, nullptr);
    ASSERT_NE(there, nullptr);
    Check(WriteFileBytes(other.File("x"), ""), "x");
    Check(WriteFileBytes(dir.File("y"), ""), "y");
    // Wait until both events are read; the order of the slots decides.
    TWaitable* slots[] = {here.get(), there.get()};
    QElapsedTimer clock;
    clock.start();
    while (!(here->IsSignalled() && there->IsSignalled()) && clock.elapsed() < 5000)
        WaitForMultiple(slots, 100);
    EXPECT_EQ(WaitForMultiple(slots, 0), WaitSlot(0));
    EXPECT_TRUE(there->IsSignalled());
}

TEST_F(KernelNotification, NotificationOutlivingItsInstanceIsGone)
{
    auto inner = std::make_unique<TInotify>();
    auto notification = TChangeNotification::FindFirst(*inner, dir.Path(), kEveryChange);
    ASSERT_NE(notification, nullptr);
    inner.reset();
    EXPECT_TRUE(notification->Gone());
    EXPECT_EQ(notification->Descriptor(), -1);
}

int ReadQueueLimit()
{
    std::ifstream limit("/proc/sys/fs/inotify/max_queued_events");
    int value = -1;
    limit >> value;
    return limit ? value : -1;
}

TEST_F(KernelNotification, QueueOverflowSignalsEveryDirectory)
{
    const int limit = ReadQueueLimit();
    if (limit <= 0 || limit > 1'000'000)
        GTEST_SKIP() << "cannot read a usable inotify queue limit (" << limit << ")";
    TTestDir quietDir;
    auto noisy = TChangeNotification::FindFirst(inotify, dir.Path(), FILE_NOTIFY_CHANGE_ATTRIBUTES);
    auto quiet = TChangeNotification::FindFirst(inotify, quietDir.Path(), kEveryChange);
    ASSERT_NE(noisy, nullptr);
    ASSERT_NE(quiet, nullptr);
    // Alternating names, because identical events in a row are merged.
    const std::string names[] = {dir.File("a"), dir.File("b")};
    for (const std::string& name : names)
        Check(WriteFileBytes(name, ""), "file");
    for (int index = 0; index <= limit + 10; ++index)
        Check(chmod(names[index % 2].c_str(), (index % 4 < 2) ? 0600 : 0644) == 0, "chmod");
    EXPECT_EQ(WaitOne(*quiet, 5000), WaitSlot(0))
        << "nothing changed there but the queue overflowed";
    EXPECT_FALSE(quiet->Gone());
    EXPECT_TRUE(noisy->IsSignalled());
}

// --- Threads -----------------------------------------------------------------

QThread* UiThread()
{
    return QCoreApplication::instance()->thread();
}

/// Runs a function as its run and counts destructions.
class TProbeThread : public TThread
{
public:
    explicit TProbeThread(std::function<void(TProbeThread&)> run, int* destroyed = nullptr)
        : run_(std::move(run)), destroyed_(destroyed)
    {
    }
    ~TProbeThread() override
    {
        TerminateAndWait();
        if (destroyed_ != nullptr)
            ++*destroyed_;
    }

    using TThread::Synchronize;
    using TThread::TerminateEvent;

protected:
    void Execute() override { run_(*this); }

private:
    std::function<void(TProbeThread&)> run_;
    int* destroyed_;
};

class KernelThread : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetErrorReporter([this](const QString& message) { reports.push_back(message); });
    }
    void TearDown() override
    {
        TThread::StopAll(5000);
        PumpUntil([] { return false; }, 50); // let end notifications free their objects
        SetErrorReporter(nullptr);
    }

    std::vector<QString> reports;
};

TEST_F(KernelThread, SynchronizeRunsOnTheUiThreadWhileTheWorkerWaits)
{
    std::atomic<bool> workerReturned{false};
    QThread* ranOn = nullptr;
    bool workerWaitedDuringCall = false;
    bool answer = false;
    bool callDoneWhenAnswered = false;
    bool ended = false;
    int destroyed = 0;

    auto* thread = new TProbeThread(
        [&](TProbeThread& self) {
            bool callDone = false;
            answer = self.Synchronize([&] {
                ranOn = QThread::currentThread();
                workerWaitedDuringCall = !workerReturned.load();
                callDone = true;
            });
            callDoneWhenAnswered = callDone;
            workerReturned = true;
        },
        &destroyed);
    thread->FreeOnTerminate = false;
    thread->OnTerminate = [&](TThread*) { ended = true; };
    thread->Start();
    ASSERT_TRUE(PumpUntil([&] { return ended; }));
    EXPECT_TRUE(answer);
    EXPECT_EQ(ranOn, UiThread());
    EXPECT_TRUE(workerWaitedDuringCall);
    EXPECT_TRUE(callDoneWhenAnswered);
    EXPECT_EQ(destroyed, 0) << "freed without FreeOnTerminate";
    delete thread;
    EXPECT_EQ(destroyed, 1);
}

TEST_F(KernelThread, CallInANestedEventLoopDoesNotHoldBackOtherCalls)
{
    // The first call runs an event loop of its own (as a modal dialog would)
    // until the second thread's call has run.
    std::atomic<bool> secondRan{false};
    std::atomic<bool> firstSawSecond{false};
    TEvent firstStarted(true, false);
    int destroyed = 0;
    auto* first = new TProbeThread(
        [&](TProbeThread& self) {
            self.Synchronize([&] {
                firstStarted.Set();
                firstSawSecond = PumpUntil([&] { return secondRan.load(); });
            });
        },
        &destroyed);
    auto* second = new TProbeThread(
        [&](TProbeThread& self) {
            WaitOne(firstStarted, 5000);
            self.Synchronize([&] { secondRan = true; });
        },
        &destroyed);
    first->Start();
    second->Start();
    ASSERT_TRUE(PumpUntil([&] { return destroyed == 2; }, 10000));
    EXPECT_TRUE(firstSawSecond.load());
}

TEST_F(KernelThread, DeletingARunningThreadEndsTheRunBeforeTheDerivedPartGoes)
{
    // The run goes on using its object after it was told to stop.
    int destroyed = 0;
    int destroyedWhenTheRunEnded = -1;
    TEvent started(true, false);
    auto* thread = new TProbeThread(
        [&](TProbeThread& self) {
            started.Set();
            WaitOne(self.TerminateEvent(), 5000);
            destroyedWhenTheRunEnded = destroyed;
        },
        &destroyed);
    thread->FreeOnTerminate = false;
    thread->Start();
    ASSERT_EQ(WaitOne(started, 5000), WaitSlot(0));
    delete thread;
    EXPECT_EQ(destroyedWhenTheRunEnded, 0);
}

TEST_F(KernelThread, SynchronizeOnTheUiThreadRunsAtOnce)
{
    TProbeThread thread([](TProbeThread&) {});
    bool ran = false;
    EXPECT_TRUE(thread.Synchronize([&] { ran = true; }));
    EXPECT_TRUE(ran);
}

TEST_F(KernelThread, TerminateBeforeTheCallStartedAbandonsIt)
{
    // Several threads, each told to stop only after it is about to call, so
    // that most have queued their call by then (either way: false).
    constexpr int kThreads = 8;
    std::atomic<int> callsRun{0};
    TEvent allAboutToCall(true, false);
    std::atomic<int> aboutToCall{0};
    std::array<std::atomic<int>, kThreads> answers{};
    TEvent finished(true, false);
    std::atomic<int> finishedCount{0};
    std::array<TProbeThread*, kThreads> threads{};
    int destroyed = 0;
    for (int index = 0; index < kThreads; ++index) {
        answers[index] = -1;
        threads[index] = new TProbeThread(
            [&, index](TProbeThread& self) {
                if (++aboutToCall == kThreads)
                    allAboutToCall.Set();
                answers[index] = self.Synchronize([&] { ++callsRun; }) ? 1 : 0;
                if (++finishedCount == kThreads)
                    finished.Set();
            },
            &destroyed);
        threads[index]->Start();
    }
    // No events are processed here, so no call can start.
    ASSERT_EQ(WaitOne(allAboutToCall, 5000), WaitSlot(0));
    for (TProbeThread* thread : threads)
        thread->Terminate();
    ASSERT_EQ(WaitOne(finished, 5000), WaitSlot(0)) << "a Synchronize did not give up";
    ASSERT_TRUE(PumpUntil([&] { return destroyed == kThreads; }));
    EXPECT_EQ(callsRun.load(), 0);
    for (int index = 0; index < kThreads; ++index)
        EXPECT_EQ(answers[index].load(), 0) << index;
}

TEST_F(KernelThread, ExceptionsOfTheRunReachTheHandlerExceptSystemCallErrors)
{
    struct TCase
    {
        const char* Name;
        std::function<void(TProbeThread&)> Run;
        std::vector<QString> Expected;
    };
    const TCase cases[] = {
        {"runtime error",
         [](TProbeThread&) { throw std::runtime_error("走行エラー"); },
         {QStringLiteral("走行エラー")}},
        {"system call error", [](TProbeThread&) { throw TSystemCallError("poll"); }, {}},
        {"error inside a synchronized call",
         [](TProbeThread& self) {
             self.Synchronize([] { throw std::logic_error("in the call"); });
         },
         {QStringLiteral("in the call")}},
        {"no error", [](TProbeThread&) {}, {}},
    };
    for (const TCase& testCase : cases) {
        SCOPED_TRACE(testCase.Name);
        reports.clear();
        bool ended = false;
        int destroyed = 0;
        auto* thread = new TProbeThread(testCase.Run, &destroyed);
        thread->OnTerminate = [&](TThread*) { ended = true; };
        thread->Start();
        ASSERT_TRUE(PumpUntil([&] { return destroyed == 1; }));
        EXPECT_TRUE(ended);
        // A report of the run was queued before the run ended; one queued
        // from another thread now arrives after it, so once this one is in,
        // every report of the run is in too.
        std::thread([] {
            HandleException(std::make_exception_ptr(std::runtime_error("sentinel")));
        }).join();
        const QString sentinel = QStringLiteral("sentinel");
        ASSERT_TRUE(PumpUntil([&] { return !reports.empty() && reports.back() == sentinel; }));
        std::vector<QString> expected = testCase.Expected;
        expected.push_back(sentinel);
        EXPECT_EQ(reports, expected);
    }
}

TEST_F(KernelThread, OnTerminateRunsOnTheUiThreadBeforeTheObjectIsFreed)
{
    int destroyed = 0;
    QThread* notifiedOn = nullptr;
    int destroyedWhenNotified = -1;
    TThread* notifiedWith = nullptr;
    auto* thread = new TProbeThread([](TProbeThread&) {}, &destroyed);
    thread->OnTerminate = [&](TThread* sender) {
        notifiedOn = QThread::currentThread();
        destroyedWhenNotified = destroyed;
        notifiedWith = sender;
    };
    thread->Start();
    ASSERT_TRUE(PumpUntil([&] { return destroyed == 1; }));
    EXPECT_EQ(notifiedOn, UiThread());
    EXPECT_EQ(destroyedWhenNotified, 0);
    EXPECT_EQ(notifiedWith, thread);
}

TEST_F(KernelThread, ClearedOnTerminateIsNotCalled)
{
    int destroyed = 0;
    bool called = false;
    TEvent go(true, false);
    auto* thread = new TProbeThread([&](TProbeThread&) { WaitOne(go, 5000); }, &destroyed);
    thread->OnTerminate = [&](TThread*) { called = true; };
    thread->Start();
    thread->OnTerminate = nullptr;
    go.Set();
    ASSERT_TRUE(PumpUntil([&] { return destroyed == 1; }));
    EXPECT_FALSE(called);
}

TEST_F(KernelThread, StopAllEndsRunsWaitingOnTheirTerminateEvent)
{
    int destroyed = 0;
    TEvent started(true, false);
    TEvent never(true, false);
    std::atomic<size_t> answer{99};
    auto* waiting = new TProbeThread(
        [&](TProbeThread& self) {
            started.Set();
            TWaitable* slots[] = {&never, &self.TerminateEvent()};
            answer = WaitForMultiple(slots, INFINITE).Index;
        },
        &destroyed);
    waiting->Start();
    ASSERT_EQ(WaitOne(started, 5000), WaitSlot(0));
    EXPECT_TRUE(TThread::StopAll(5000));
    EXPECT_EQ(answer.load(), 1u);
    ASSERT_TRUE(PumpUntil([&] { return destroyed == 1; }));
}

TEST_F(KernelThread, StopAllDoesNotDeadlockWithAPendingSynchronize)
{
    int destroyed = 0;
    std::atomic<int> calls{0};
    std::atomic<bool> lastAnswer{true};
    TEvent started(true, false);
    auto* thread = new TProbeThread(
        [&](TProbeThread& self) {
            started.Set();
            do
                lastAnswer = self.Synchronize([&] { ++calls; });
            while (!self.Terminated());
        },
        &destroyed);
    thread->Start();
    ASSERT_EQ(WaitOne(started, 5000), WaitSlot(0));
    // The UI thread waits here without processing events.
    EXPECT_TRUE(TThread::StopAll(5000));
    EXPECT_FALSE(lastAnswer.load());
    const int callsAtStop = calls.load();
    ASSERT_TRUE(PumpUntil([&] { return destroyed == 1; }));
    EXPECT_EQ(calls.load(), callsAtStop) << "an abandoned call ran later";
}

TEST_F(KernelThread, StopAllAnswersFalseWhenARunIgnoresIt)
{
    int destroyed = 0;
    TEvent release(true, false);
    auto* stubborn = new TProbeThread([&](TProbeThread&) { WaitOne(release, 10000); }, &destroyed);
    stubborn->Start();
    EXPECT_FALSE(TThread::StopAll(50));
    EXPECT_TRUE(stubborn->Terminated());
    release.Set();
    EXPECT_TRUE(TThread::StopAll(5000));
    ASSERT_TRUE(PumpUntil([&] { return destroyed == 1; }));
}

} // namespace
