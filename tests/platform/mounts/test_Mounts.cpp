#include "platform/mounts/Mounts.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// A machine of its own: device nodes, udev label links, the kernel's block
// directory and a mount table, all under one test directory.
class Mounts : public ::testing::Test
{
protected:
    Mounts()
    {
        for (const char* directory :
             {"dev", "by-label", "block", "block/sdb", "block/sdb/sdb1", "block/sr0"})
            Check(mkdir(dir.File(directory).c_str(), 0755) == 0, directory);
        for (const char* device : {"dev/vda1", "dev/sdb1", "dev/sr0", "dev/vdb"})
            Check(WriteFileBytes(dir.File(device), ""), device);
        // A partition finds "removable" on its disk, one level up.
        Check(WriteFileBytes(dir.File("block/sdb/removable"), "1\n"), "removable");
        Check(symlink("sdb/sdb1", dir.File("block/sdb1").c_str()) == 0, "block link");
        Check(WriteFileBytes(dir.File("block/sr0/removable"), "1\n"), "removable");
        Check(symlink("../dev/sdb1", dir.File("by-label/My\\x20Disk").c_str()) == 0, "label");
        Check(symlink("../dev/vda1", dir.File("by-label/ROOT").c_str()) == 0, "label");
        sources.MountTable = dir.File("mountinfo");
        sources.LabelDirectory = dir.File("by-label");
        sources.BlockDirectory = dir.File("block");
    }

    void WriteTable(const std::vector<std::string>& lines)
    {
        std::string text;
        int id = 20;
        for (const std::string& line : lines) {
            const std::string number = std::to_string(id++);
            text += number + " 1 0:" + number + " " + line + "\n";
        }
        Check(WriteFileBytes(sources.MountTable, text), "mountinfo");
    }
    std::string Device(const char* name) const { return dir.File(std::string("dev/") + name); }

    TTestDir dir;
    TMountSources sources;
};

TEST_F(Mounts, DrivesAreClassifiedAndLabelled)
{
    WriteTable({
        "/ / rw,relatime - ext4 " + Device("vda1") + " rw",
        "/ /proc rw - proc proc rw",
        "/ /sys rw - sysfs sysfs rw",
        "/ /dev/pts rw - devpts devpts rw",
        "/ /sys/fs/cgroup rw - cgroup2 cgroup2 rw",
        "/ /tmp rw - tmpfs tmpfs rw",
        "/ /run/user/1000 rw - tmpfs tmpfs rw",
        "/ /snap/core/1 ro - squashfs /dev/loop0 ro",
        "/ /media/u/My\\040Disk rw - vfat " + Device("sdb1") + " rw",
        "/ /mnt/usb rw - ext4 " + Device("sdb1") + " rw",
        "/ /run/media/u/DVD ro - iso9660 " + Device("sr0") + " ro",
        "/ /data rw - xfs " + Device("vdb") + " rw",
        "/ /net/share rw - nfs4 server:/export rw",
        "/ /mnt/smb rw - cifs //server/share rw",
        "/ /home/u/remote rw - fuse.sshfs u@host:/home rw",
        "/ /proc/sys/fs/binfmt_misc rw - binfmt_misc binfmt_misc rw",
    });
    const std::vector<TMount> mounts = ReadMounts(sources);

    struct Expected
    {
        const char* mountPoint;
        TMountKind kind;
        const char* label;
        bool mayStall;
    };
    const Expected expected[] = {
        {"/", TMountKind::Fixed, "ROOT", false},
        {"/media/u/My Disk", TMountKind::Removable, "My Disk", false},
        {"/mnt/usb", TMountKind::Removable, "My Disk", false},
        {"/run/media/u/DVD", TMountKind::CdRom, "", false},
        {"/data", TMountKind::Fixed, "", false},
        {"/net/share", TMountKind::Network, "", true},
        {"/mnt/smb", TMountKind::Network, "", true},
        {"/home/u/remote", TMountKind::Network, "", true},
    };
    ASSERT_EQ(mounts.size(), std::size(expected));
    for (size_t i = 0; i < mounts.size(); ++i) {
        SCOPED_TRACE(expected[i].mountPoint);
        EXPECT_EQ(mounts[i].MountPoint, expected[i].mountPoint);
        EXPECT_EQ(mounts[i].Kind, expected[i].kind);
        EXPECT_EQ(mounts[i].Label, expected[i].label);
        EXPECT_EQ(mounts[i].MayStall(), expected[i].mayStall);
    }
    EXPECT_EQ(mounts[5].Source, "server:/export");
    EXPECT_TRUE(mounts[3].IsRemovable());
    EXPECT_FALSE(mounts[4].IsRemovable());
}

TEST_F(Mounts, StackedMountsKeepTheTopOneAndTheRootIsAlwaysThere)
{
    WriteTable({
        "/ /proc rw - proc proc rw",
        "/ /data rw - xfs " + Device("vdb") + " rw",
        "/ /data rw - ext4 " + Device("sdb1") + " rw",
    });
    const std::vector<TMount> mounts = ReadMounts(sources);
    ASSERT_EQ(mounts.size(), 2u);
    EXPECT_EQ(mounts[0].MountPoint, "/");
    EXPECT_EQ(mounts[1].FileSystemType, "ext4");
    EXPECT_EQ(mounts[1].Label, "My Disk");

    // A pseudo file system on "/" (a container's overlay, an initramfs)
    // still is the root drive.
    WriteTable({"/ / rw - tmpfs rootfs rw"});
    ASSERT_EQ(ReadMounts(sources).size(), 1u);
    EXPECT_EQ(ReadMounts(sources)[0].Kind, TMountKind::Fixed);

    sources.MountTable = dir.File("missing");
    const std::vector<TMount> unreadable = ReadMounts(sources);
    ASSERT_EQ(unreadable.size(), 1u);
    EXPECT_EQ(unreadable[0].MountPoint, "/");
}

TEST(MountsOfPaths, LongestMountPointAtASeparatorHoldsThePath)
{
    std::vector<TMount> mounts(4);
    mounts[0].MountPoint = "/";
    mounts[1].MountPoint = "/media/u/Disk";
    mounts[2].MountPoint = "/media";
    mounts[3].MountPoint = "/media/u/Disk 2";
    const struct
    {
        const char* path;
        const char* mountPoint;
    } cases[] = {
        {"/home/u/Music", "/"},
        {"/media/u/Disk", "/media/u/Disk"},
        {"/media/u/Disk/a.mp3", "/media/u/Disk"},
        {"/media/u/Disk 2/a.mp3", "/media/u/Disk 2"},
        {"/media/u/Disk2", "/media"},
        {"/mediastore", "/"},
    };
    for (const auto& c : cases) {
        const TMount* mount = MountOfPath(mounts, c.path);
        ASSERT_NE(mount, nullptr) << c.path;
        EXPECT_EQ(mount->MountPoint, c.mountPoint) << c.path;
    }
    EXPECT_EQ(MountOfPath(mounts, "relative/path"), nullptr);
}

// Mount points are plain directories here, named in a table of their own,
// so nothing can stall for real.
TEST(MountsOfPaths, StallAnswerComesFromTheMountOfTheLinkResolvedPath)
{
    TTestDir dir;
    for (const char* directory : {"local", "nas", "stick", "gvfs"})
        Check(mkdir(dir.File(directory).c_str(), 0755) == 0, directory);
    const std::pair<const char*, std::string> links[] = {
        {"Music", "nas/music"},      {"absolute", dir.File("nas")}, {"back", "local/../nas"},
        {"nas/toLocal", "../local"}, {"local/up", "../gvfs"},       {"loop", "loop"}};
    for (const auto& [name, target] : links)
        Check(symlink(target.c_str(), dir.File(name).c_str()) == 0, name);
    std::vector<TMount> mounts(4);
    mounts[0].MountPoint = "/";
    mounts[1].MountPoint = dir.File("nas");
    mounts[1].Kind = TMountKind::Network;
    mounts[2].MountPoint = dir.File("stick");
    mounts[2].FileSystemType = "fuseblk";
    mounts[3].MountPoint = dir.File("gvfs");
    mounts[3].FileSystemType = "fuse.gvfsd-fuse";
    const std::pair<const char*, bool> cases[] = {
        {"local", false},      {"Music/a.mp3", true}, {"absolute/a", true},     {"back", true},
        {"nas/toLocal", true}, {"local/up/x", true},  {"local/../Music", true}, {"stick/a", false},
        {"gvfs/a", true},      {"loop", false}};
    // Shared link reads give the same answers, asked in any order.
    TLinkAnswers answers;
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& [path, mayStall] : cases) {
            EXPECT_EQ(PathMayStall(mounts, dir.File(path)), mayStall) << path;
            EXPECT_EQ(PathMayStall(mounts, dir.File(path), &answers), mayStall) << path;
        }
    }
}

TEST(MountsUdevNames, EscapesAreDecoded)
{
    EXPECT_EQ(DecodeUdevName("My\\x20Disk"), "My Disk");
    EXPECT_EQ(DecodeUdevName("\\xe9\\x9f\\xb3\\xe6\\xa5\\xbd"), "音楽");
    EXPECT_EQ(DecodeUdevName("a\\x2fb"), "a/b");
    // Incomplete or malformed escapes stay as they are.
    EXPECT_EQ(DecodeUdevName("end\\x2"), "end\\x2");
    EXPECT_EQ(DecodeUdevName("\\xZZ"), "\\xZZ");
    EXPECT_EQ(DecodeUdevName("plain"), "plain");
}

TEST_F(Mounts, TheTableIsClassifiedWithTheDeclaredMediaRoots)
{
    WriteTable({
        "/ / rw - ext4 " + Device("vda1") + " rw",
        "/ /srv/sticks/a rw - ext4 " + Device("vdc") + " rw",
        "/ /media/u/b rw - ext4 " + Device("vdd") + " rw",
    });
    sources.MediaRoots = {"/srv/sticks"};
    const std::vector<TMount> mounts = ReadMounts(sources);
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(mounts[1].Kind, TMountKind::Removable);
    EXPECT_EQ(mounts[2].Kind, TMountKind::Fixed);
}

TEST(MountsClassify, KindFollowsTypeMountPointAndDevice)
{
    EXPECT_EQ(ClassifyMount("ext4", "/", false), TMountKind::Fixed);
    EXPECT_EQ(ClassifyMount("ext4", "/srv", true), TMountKind::Removable);
    EXPECT_EQ(ClassifyMount("vfat", "/media/usb", false), TMountKind::Removable);
    EXPECT_EQ(ClassifyMount("udf", "/mnt/dvd", false), TMountKind::CdRom);
    EXPECT_EQ(ClassifyMount("davfs", "/mnt/web", false), TMountKind::Network);
    EXPECT_EQ(ClassifyMount("smb3", "/mnt/share", false), TMountKind::Network);
    EXPECT_EQ(ClassifyMount("squashfs", "/snap/app/2", false), TMountKind::Ignored);
    EXPECT_EQ(ClassifyMount("squashfs", "/opt/image", false), TMountKind::Fixed);
    EXPECT_EQ(ClassifyMount("autofs", "/misc", false), TMountKind::Ignored);
    EXPECT_EQ(ClassifyMount("tmpfs", "/tmp", false, true), TMountKind::Ignored);
    EXPECT_EQ(ClassifyMount("ext4", "/run/foo", false), TMountKind::Ignored);
    EXPECT_EQ(ClassifyMount("ext4", "/running", false), TMountKind::Fixed);
    EXPECT_EQ(ClassifyMount("ext4", "/run/media/u/stick", false), TMountKind::Removable);
}

TEST(MountsClassify, MediaRootsCanBeDeclared)
{
    const std::vector<std::string> roots = {"/srv/removable", "/run/sticks"};
    EXPECT_EQ(ClassifyMount("ext4", "/srv/removable/a", false, false, roots),
              TMountKind::Removable);
    EXPECT_EQ(ClassifyMount("ext4", "/run/sticks/a", false, false, roots), TMountKind::Removable);
    // The default roots no longer count, and /run outside a root stays the system's.
    EXPECT_EQ(ClassifyMount("vfat", "/media/usb", false, false, roots), TMountKind::Fixed);
    EXPECT_EQ(ClassifyMount("ext4", "/run/media/u/x", false, false, roots), TMountKind::Ignored);
    EXPECT_EQ(ClassifyMount("ext4", "/srv/removable-not", false, false, roots), TMountKind::Fixed);
}

} // namespace
