#include "shell/ShellDbt.h"

#include "platform/core/ExceptionHandler.h"
#include "platform/shellns/LinuxShell.h"
#include "platform/shellns/ShellNs.h"
#include "platform/shellns/ShellNsItems.h"
#include "shell/ShellIDFunc.h"
#include "shell/ShellNotify.h"
#include "shell/ShellUtils.h"
#include "tests/support/TestFiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string ListBytes(TItemIdPosition list)
{
    return list ? std::string(reinterpret_cast<const char*>(list), ShIdListSize(list))
                : std::string();
}

std::string RemovableVolumeList(const std::string& mountPoint)
{
    TMount mount;
    mount.MountPoint = mountPoint;
    mount.Kind = TMountKind::Removable;
    return ListBytes(VolumeIdListOfMount(mount).Data());
}

struct TNotice
{
    std::string Caption;
    uint32_t Event = 0;
    std::string List; // the bytes; empty for none
    uint16_t Kind = 0;
    std::string Who;
};

// Records what a folder tree is told, into a log it may share with others.
class TTreeRecorder : public IShellTreeDeviceClient
{
public:
    TTreeRecorder(std::vector<TNotice>& log, std::string name = "tree")
        : log_(log), name_(std::move(name))
    {
    }
    void DeviceChange(const std::string& caption, uint32_t event, TItemIdPosition list,
                      uint16_t kind) override
    {
        log_.push_back({caption, event, ListBytes(list), kind, name_});
        if (OnChange)
            OnChange();
    }
    std::function<void()> OnChange;

private:
    std::vector<TNotice>& log_;
    std::string name_;
};

class TListRecorder : public IShellListDeviceClient
{
public:
    TListRecorder(std::vector<TNotice>& log, std::string name = "list")
        : log_(log), name_(std::move(name))
    {
    }
    void DeviceChange(TItemIdPosition list, uint16_t kind) override
    {
        log_.push_back({std::string(), 0, ListBytes(list), kind, name_});
    }

private:
    std::vector<TNotice>& log_;
    std::string name_;
};

// A machine of its own: device nodes, udev labels, the kernel's removable
// flags and a mount table, all under one directory; the namespace reads it.
class ShellDbt : public ::testing::Test
{
protected:
    ShellDbt()
    {
        for (const char* directory : {"dev", "by-label", "block", "block/sdb", "block/sdb/sdb1",
                                      "block/sdc", "block/sdc/sdc1"})
            Check(mkdir(dir.File(directory).c_str(), 0755) == 0, directory);
        for (const char* device : {"dev/vda1", "dev/sdb1", "dev/sdc1"})
            Check(WriteFileBytes(dir.File(device), ""), device);
        for (const char* disk : {"sdb", "sdc"}) {
            Check(WriteFileBytes(dir.File(std::string("block/") + disk + "/removable"), "1\n"),
                  "removable");
            Check(symlink((std::string(disk) + "/" + disk + "1").c_str(),
                          dir.File(std::string("block/") + disk + "1").c_str()) == 0,
                  "block link");
        }
        Check(symlink("../dev/sdb1", dir.File("by-label/MUSIC").c_str()) == 0, "label");
        Check(symlink("../dev/sdc1", dir.File("by-label/PHOTOS").c_str()) == 0, "label");
        sources.MountTable = dir.File("mountinfo");
        sources.LabelDirectory = dir.File("by-label");
        sources.BlockDirectory = dir.File("block");
        WriteTable({});
        saved = MountSources();
        SetMountSources(sources);
        SetShellNamespace(nullptr);
    }
    ~ShellDbt() override
    {
        SetErrorReporter(nullptr);
        SetMountSources(saved);
        SetShellNamespace(nullptr);
    }

    // The root file system is always there; `lines` follow it.
    void WriteTable(const std::vector<std::string>& lines)
    {
        std::string text = "20 1 8:1 / / rw,relatime - ext4 " + Device("vda1") + " rw\n";
        int id = 21;
        for (const std::string& line : lines) {
            text += std::to_string(id) + " 20 0:" + std::to_string(id) + " " + line + "\n";
            ++id;
        }
        Check(WriteFileBytes(sources.MountTable, text), "mountinfo");
    }
    std::string Device(const char* name) const { return dir.File(std::string("dev/") + name); }
    std::string Music() const { return "/ /media/u/MUSIC rw - vfat " + Device("sdb1") + " rw"; }
    std::string Photos() const { return "/ /media/u/PHOTOS rw - vfat " + Device("sdc1") + " rw"; }

    TTestDir dir;
    TMountSources sources;
    TMountSources saved;
    std::vector<TNotice> log;
};

TEST_F(ShellDbt, MediaArriveWithTheirLabelAndLeaveWithTheMountPointAlone)
{
    TTreeRecorder tree(log);
    TListRecorder list(log);
    TShellCtrlList registry;
    registry.RegisterTree(&tree);
    registry.RegisterList(&list);

    WriteTable({Music()});
    registry.Monitor()->Rescan();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].Who, "tree");
    EXPECT_EQ(log[0].Caption, "Music (/media/u/MUSIC)");
    EXPECT_EQ(log[0].Event, DBT_DEVICEARRIVAL);
    EXPECT_EQ(log[0].Kind, kDeviceKindRemovable);
    EXPECT_EQ(log[1].Who, "list");
    EXPECT_EQ(log[1].List, log[0].List);
    EXPECT_EQ(log[1].Kind, kDeviceKindRemovable);

    const TItemIdList held =
        TItemIdList::FromUntrustedBytes(log[0].List.data(), log[0].List.size());
    const auto items = DecodeNsList(held.Data());
    ASSERT_TRUE(items.has_value());
    ASSERT_EQ(items->size(), 2u);
    EXPECT_EQ((*items)[0].Kind, TNsItemKind::Computer);
    EXPECT_EQ((*items)[1].Kind, TNsItemKind::Volume);
    EXPECT_EQ((*items)[1].Name, "/media/u/MUSIC");
    EXPECT_TRUE((*items)[1].Flags & kNsFlagRemovable);

    log.clear();
    WriteTable({});
    registry.Monitor()->Rescan();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].Caption, " (/media/u/MUSIC)");
    EXPECT_EQ(log[0].Event, DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(log[0].Kind, kDeviceKindRemovable);
    EXPECT_EQ(log[0].List, RemovableVolumeList("/media/u/MUSIC")); // named although it is gone
    registry.UnregisterTree(&tree);
    registry.UnregisterList(&list);
}

TEST_F(ShellDbt, VolumeListEqualsTheParsedMountPoint)
{
    WriteTable({Music()});
    TItemIdList parsed;
    ASSERT_TRUE(ShIdListFromPath("/media/u/MUSIC", parsed));
    EXPECT_EQ(ListBytes(parsed.Data()), RemovableVolumeList("/media/u/MUSIC"));
}

TEST_F(ShellDbt, ArrivalSeesTheNewTableThoughTheNamespaceReadItThisPass)
{
    TTreeRecorder tree(log);
    TShellCtrlList registry;
    registry.RegisterTree(&tree);
    // Fills the namespace's copy of the table, which lasts until the event
    // loop runs again; no event is processed before the rescan.
    EXPECT_EQ(ShVolumeLabel("/media/u/MUSIC"), "");
    WriteTable({Music()});
    std::string labelDuringNotice;
    tree.OnChange = [&] { labelDuringNotice = ShVolumeLabel("/media/u/MUSIC"); };
    registry.Monitor()->Rescan();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].Caption, "Music (/media/u/MUSIC)");
    EXPECT_EQ(labelDuringNotice, "Music");
    registry.UnregisterTree(&tree);
}

TEST_F(ShellDbt, NetworkMountsComeAndGoWithoutCaptionOrList)
{
    TTreeRecorder tree(log);
    TShellCtrlList registry;
    registry.RegisterTree(&tree);
    const char* shares[] = {"/ /net/share rw - nfs4 server:/export rw",
                            "/ /mnt/smb rw - cifs //server/music rw",
                            "/ /home/u/remote rw - fuse.sshfs u@host:/home rw"};
    for (const char* share : shares) {
        log.clear();
        WriteTable({share});
        registry.Monitor()->Rescan();
        WriteTable({});
        registry.Monitor()->Rescan();
        ASSERT_EQ(log.size(), 2u) << share;
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(log[i].Event, i == 0 ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE);
            EXPECT_EQ(log[i].Kind, kDeviceKindNetwork) << share;
            EXPECT_EQ(log[i].Caption, "") << share;
            EXPECT_EQ(log[i].List, "") << share;
        }
    }
    registry.UnregisterTree(&tree);
}

TEST_F(ShellDbt, FixedAndIgnoredMountsGiveNoNotice)
{
    TTreeRecorder tree(log);
    TShellCtrlList registry;
    registry.RegisterTree(&tree);
    const char* quiet[] = {
        "/ /tmp rw - tmpfs tmpfs rw",
        "/ /run/user/1000 rw - tmpfs tmpfs rw",
        "/ /proc/sys/fs/binfmt_misc rw - binfmt_misc binfmt_misc rw",
        "/ /data rw - xfs /dev/vdb rw",
    };
    for (const char* line : quiet) {
        WriteTable({line});
        registry.Monitor()->Rescan();
        WriteTable({});
        registry.Monitor()->Rescan();
        EXPECT_TRUE(log.empty()) << line;
    }
    registry.UnregisterTree(&tree);
}

TEST_F(ShellDbt, SeveralChangesGiveOneNoticeEachInTableOrder)
{
    TTreeRecorder tree(log);
    TShellCtrlList registry;
    registry.RegisterTree(&tree);
    WriteTable({Photos(), "/ /tmp rw - tmpfs tmpfs rw", Music()});
    registry.Monitor()->Rescan();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].Caption, "Photos (/media/u/PHOTOS)");
    EXPECT_EQ(log[1].Caption, "Music (/media/u/MUSIC)");

    // Another medium on a mount point: the old one leaves, then the new one comes.
    log.clear();
    WriteTable({"/ /media/u/PHOTOS rw - vfat " + Device("sdb1") + " rw", Music()});
    registry.Monitor()->Rescan();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].Event, DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(log[0].Caption, " (/media/u/PHOTOS)");
    EXPECT_EQ(log[1].Event, DBT_DEVICEARRIVAL);
    EXPECT_EQ(log[1].Caption, "Music (/media/u/PHOTOS)");

    // Nothing changed: nothing to say.
    log.clear();
    registry.Monitor()->Rescan();
    EXPECT_TRUE(log.empty());
    registry.UnregisterTree(&tree);
}

TEST_F(ShellDbt, AnUnreadableTableIsNotTakenForAnEmptyOne)
{
    WriteTable({Music()});
    TTreeRecorder tree(log);
    TShellCtrlList registry;
    registry.RegisterTree(&tree);
    ASSERT_EQ(unlink(sources.MountTable.c_str()), 0);
    registry.Monitor()->Rescan();
    WriteTable({Music()});
    registry.Monitor()->Rescan();
    EXPECT_TRUE(log.empty());
    registry.UnregisterTree(&tree);
}

TEST(MountChanges, RemovalsInTheOldOrderThenArrivalsInTheNewOrder)
{
    const auto mount = [](const char* point, const char* source, const char* type) {
        TMount m;
        m.MountPoint = point;
        m.Source = source;
        m.FileSystemType = type;
        return m;
    };
    const std::vector<TMount> before = {
        mount("/", "/dev/a", "ext4"), mount("/m/x", "/dev/x", "vfat"),
        mount("/m/y", "/dev/y", "vfat"), mount("/m/z", "/dev/z", "vfat")};
    const std::vector<TMount> after = {
        mount("/", "/dev/a", "ext4"), mount("/m/w", "/dev/w", "vfat"),
        mount("/m/y", "/dev/y", "exfat"), mount("/m/v", "/dev/v", "vfat")};
    const std::vector<TMountChange> changes = MountChanges(before, after);
    const struct
    {
        const char* point;
        const char* type;
        uint32_t event;
    } expected[] = {
        {"/m/x", "vfat", DBT_DEVICEREMOVECOMPLETE}, {"/m/y", "vfat", DBT_DEVICEREMOVECOMPLETE},
        {"/m/z", "vfat", DBT_DEVICEREMOVECOMPLETE}, {"/m/w", "vfat", DBT_DEVICEARRIVAL},
        {"/m/y", "exfat", DBT_DEVICEARRIVAL},       {"/m/v", "vfat", DBT_DEVICEARRIVAL},
    };
    ASSERT_EQ(changes.size(), std::size(expected));
    for (size_t i = 0; i < changes.size(); ++i) {
        EXPECT_EQ(changes[i].Mount.MountPoint, expected[i].point) << i;
        EXPECT_EQ(changes[i].Mount.FileSystemType, expected[i].type) << i;
        EXPECT_EQ(changes[i].Event, expected[i].event) << i;
    }
}

TEST_F(ShellDbt, TheMonitorLivesFromTheFirstRegistrationToTheLast)
{
    TTreeRecorder tree(log);
    TListRecorder list(log);
    TShellCtrlList registry;
    EXPECT_FALSE(registry.HasMonitor());
    registry.RegisterTree(&tree);
    EXPECT_TRUE(registry.HasMonitor());
    EXPECT_EQ(registry.MonitorGeneration(), 1u);
    registry.RegisterList(&list);
    EXPECT_EQ(registry.MonitorGeneration(), 1u);
    registry.UnregisterTree(&tree);
    EXPECT_TRUE(registry.HasMonitor());
    registry.UnregisterTree(&tree); // not registered any more: nothing happens
    EXPECT_EQ(registry.Count(), 1u);
    registry.UnregisterList(&list);
    EXPECT_FALSE(registry.HasMonitor());
    EXPECT_EQ(registry.Count(), 0u);
    registry.RegisterList(&list);
    EXPECT_TRUE(registry.HasMonitor());
    EXPECT_EQ(registry.MonitorGeneration(), 2u);
    registry.UnregisterList(&list);

    // A new monitor starts from the table as it is then: no stale notices.
    WriteTable({Music()});
    registry.RegisterTree(&tree);
    registry.Monitor()->Rescan();
    EXPECT_TRUE(log.empty());
    registry.UnregisterTree(&tree);
}

TEST_F(ShellDbt, TheMonitorWatchesTheKernelTableOnly)
{
    // A missing table cannot be watched; the kernel's own can.
    TMountSources missing = sources;
    missing.MountTable = dir.File("none");
    TMountMonitor lost(missing, [](const std::string&, uint32_t, TItemIdPosition, uint16_t) {});
    EXPECT_FALSE(lost.IsWatching());
    TMountMonitor real(TMountSources(),
                       [](const std::string&, uint32_t, TItemIdPosition, uint16_t) {});
    EXPECT_TRUE(real.IsWatching());
    real.Stop();
    EXPECT_FALSE(real.IsWatching());
}

TEST_F(ShellDbt, BroadcastGoesToTreesAndListsInRegistrationOrder)
{
    TTreeRecorder first(log, "first");
    TListRecorder second(log, "second");
    TTreeRecorder third(log, "third");
    TShellCtrlList registry;
    registry.RegisterTree(&first);
    registry.RegisterList(&second);
    registry.RegisterTree(&third);
    const std::string list = RemovableVolumeList("/media/cd");
    registry.Broadcast("Cd (/media/cd)", DBT_DEVICEARRIVAL,
                       reinterpret_cast<TItemIdPosition>(list.data()), kDeviceKindRemovable);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].Who, "first");
    EXPECT_EQ(log[1].Who, "second");
    EXPECT_EQ(log[2].Who, "third");
    for (const TNotice& notice : log) {
        EXPECT_EQ(notice.List, list);
        EXPECT_EQ(notice.Kind, kDeviceKindRemovable);
    }
    EXPECT_EQ(log[0].Caption, "Cd (/media/cd)");
    EXPECT_EQ(log[0].Event, DBT_DEVICEARRIVAL);
    EXPECT_EQ(log[2].Caption, "Cd (/media/cd)");
    EXPECT_EQ(log[1].Caption, ""); // a file list gets no caption
    registry.UnregisterTree(&first);
    registry.UnregisterList(&second);
    registry.UnregisterTree(&third);
}

TEST_F(ShellDbt, ControlsMayUnregisterDuringABroadcast)
{
    TTreeRecorder first(log, "first");
    TTreeRecorder second(log, "second");
    TTreeRecorder third(log, "third");
    TTreeRecorder late(log, "late");
    TShellCtrlList registry;
    for (TTreeRecorder* tree : {&first, &second, &third})
        registry.RegisterTree(tree);
    // The first takes itself and the second out and brings in a newcomer.
    first.OnChange = [&] {
        registry.UnregisterTree(&first);
        registry.UnregisterTree(&second);
        registry.RegisterTree(&late);
    };
    registry.Broadcast("", DBT_DEVICEARRIVAL, nullptr, kDeviceKindNetwork);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].Who, "first");
    EXPECT_EQ(log[1].Who, "third");
    EXPECT_EQ(registry.Count(), 2u);

    log.clear();
    registry.Broadcast("", DBT_DEVICEREMOVECOMPLETE, nullptr, kDeviceKindNetwork);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].Who, "third");
    EXPECT_EQ(log[1].Who, "late");
    registry.UnregisterTree(&third);
    registry.UnregisterTree(&late);
}

TEST_F(ShellDbt, TheLastControlMayLeaveInsideAMonitorNotice)
{
    TTreeRecorder tree(log);
    TShellCtrlList registry;
    registry.RegisterTree(&tree);
    tree.OnChange = [&] { registry.UnregisterTree(&tree); };
    WriteTable({Photos(), Music()});
    registry.Monitor()->Rescan();
    // The scan stops with its monitor: the second medium is not reported.
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].Caption, "Photos (/media/u/PHOTOS)");
    EXPECT_FALSE(registry.HasMonitor());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(ShellDbt, AFailingNoticeIsReportedAndTheNextOneStillGoesOut)
{
    std::vector<QString> reports;
    SetErrorReporter([&](const QString& message) { reports.push_back(message); });
    TTreeRecorder tree(log);
    TShellCtrlList registry;
    registry.RegisterTree(&tree);
    tree.OnChange = [&] {
        if (log.size() == 1)
            throw std::runtime_error("tree refused");
    };
    WriteTable({Photos(), Music()});
    registry.Monitor()->Rescan();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].Caption, "Music (/media/u/MUSIC)");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].contains(QStringLiteral("tree refused")));
    tree.OnChange = nullptr;
    registry.UnregisterTree(&tree);
}

// The kernel's own table, watched through POLLPRI, in a mount namespace of
// this process alone (tests/shell/mount_namespace_test.sh starts it there).
class MountNamespace : public ::testing::Test
{
protected:
    static bool WaitFor(const std::function<bool()>& done)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        return done();
    }
    static std::string NamespaceOf(const char* process)
    {
        char target[128] = {};
        const ssize_t size =
            readlink((std::string("/proc/") + process + "/ns/mnt").c_str(), target, 127);
        return size > 0 ? std::string(target, size) : std::string();
    }
    /// Why this test may not mount here; empty when it may.
    static std::string WhyNotHere()
    {
        if (std::getenv("TUNEMILL_MOUNT_NAMESPACE") == nullptr)
            return "runs only inside a private mount namespace "
                   "(tests/shell/mount_namespace_test.sh)";
        // Never mount anything where the rest of the machine would see it.
        if (NamespaceOf("self").empty() || NamespaceOf("self") == NamespaceOf("1"))
            return "not in a mount namespace of its own";
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return std::string("mount is not permitted here: ") + std::strerror(errno);
        return {};
    }
};

TEST_F(MountNamespace, MediaMountedHereAreReportedByTheKernel)
{
    if (const std::string why = WhyNotHere(); !why.empty())
        GTEST_SKIP() << why;
    char point[] = "/media/tunemill-test-XXXXXX";
    if (mkdtemp(point) == nullptr)
        GTEST_SKIP() << "cannot create a directory under /media: " << std::strerror(errno);
    const std::string mountPoint = point;

    const TMountSources saved = MountSources();
    SetMountSources(TMountSources());
    SetShellNamespace(nullptr);
    std::vector<TNotice> log;
    TTreeRecorder tree(log);
    ShellCtrlList().RegisterTree(&tree);
    EXPECT_TRUE(ShellCtrlList().Monitor()->IsWatching());
    // Without a label, arrival and removal both show the mount point alone.
    const auto noticesFor = [&] {
        size_t count = 0;
        for (const TNotice& notice : log)
            count += notice.Caption == " (" + mountPoint + ")" ? 1 : 0;
        return count;
    };

    // The table library counts a tmpfs as a pseudo file system, which is no
    // volume; a directory of a disk bound under /media looks like media.
    const TTestDir medium;
    const bool mounted = mount(medium.Path().c_str(), point, nullptr, MS_BIND, nullptr) == 0;
    const int mountError = errno;
    bool looksRemovable = false;
    bool unmounted = false;
    if (mounted) {
        for (const TMount& mount : ReadMounts())
            looksRemovable =
                looksRemovable || (mount.MountPoint == mountPoint && mount.IsRemovable());
        if (looksRemovable) {
            EXPECT_TRUE(WaitFor([&] { return noticesFor() >= 1; }));
        }
        unmounted = umount(point) == 0;
        EXPECT_TRUE(unmounted) << std::strerror(errno);
        if (looksRemovable) {
            EXPECT_TRUE(WaitFor([&] { return noticesFor() >= 2; }));
        }
    }

    ShellCtrlList().UnregisterTree(&tree);
    if (mounted && !unmounted)
        umount2(point, MNT_DETACH);
    rmdir(point);
    SetMountSources(saved);
    SetShellNamespace(nullptr);
    if (!mounted)
        GTEST_SKIP() << "cannot bind a directory here: " << std::strerror(mountError);
    if (!looksRemovable)
        GTEST_SKIP() << "the file system of " << medium.Path()
                     << " is one the mount table classifier ignores";

    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].Event, DBT_DEVICEARRIVAL);
    EXPECT_EQ(log[0].Kind, kDeviceKindRemovable);
    EXPECT_EQ(log[0].List, RemovableVolumeList(mountPoint));
    EXPECT_EQ(log[1].Event, DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(log[1].Kind, kDeviceKindRemovable);
    EXPECT_EQ(log[1].List, log[0].List);
}

TEST_F(MountNamespace, FilesWatcherFollowsAMountOverItsDirectory)
{
    if (const std::string why = WhyNotHere(); !why.empty())
        GTEST_SKIP() << why;
    const TTestDir place, medium;
    const std::string watched = place.File("album");
    Check(mkdir(watched.c_str(), 0755) == 0, "mkdir");
    int reports = 0;
    auto* watcher = new TShFilesWatcher(watched, FILE_NOTIFY_CHANGE_FILE_NAME,
                                        [&](TShFilesWatcher*, const std::string&) { ++reports; });
    ASSERT_TRUE(WaitFor([&] { return watcher->WatchCount() == 1; }));
    if (mount(medium.Path().c_str(), watched.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        watcher->ShutDown();
        GTEST_SKIP() << "cannot bind a directory here: " << std::strerror(errno);
    }
    // What the mount itself reported has come by then.
    WaitFor([] { return false; });
    const int before = reports;
    Check(WriteFileBytes(watched + "/track.mp3", ""), "file");
    EXPECT_TRUE(WaitFor([&] { return reports > before; }));
    watcher->ShutDown();
    EXPECT_EQ(umount(watched.c_str()), 0) << std::strerror(errno);
}

} // namespace
