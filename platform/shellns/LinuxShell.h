#pragma once

#include "platform/core/Posix.h"
#include "platform/mounts/Mounts.h"
#include "platform/shellns/ShellNs.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The Linux desktop as a namespace. The desktop root holds four special
// folders (コンピューター, ホーム, ネットワーク, ゴミ箱) followed by the
// entries of the user's desktop directory; the computer folder holds one
// volume per mount, the network folder the network mounts, the trash folder
// the files of the freedesktop Trash (DesktopFolder.h, MountFolder.h and
// TrashFolder.h here). File-system directories are shown by TFsFolder
// (FsFolder.h).
//
// Absolute lists of file-system items run through the computer folder and the
// volume that holds the path (the longest mount point prefix):
// "/home/u/Music" is [Computer][Volume "/"]["home"]["u"]["Music"].

/// The mount table as last read, shared by the copies of an environment.
struct TMountCache
{
    std::optional<std::vector<TMount>> Mounts;
    /// The table, open since just before it was read: the kernel's table
    /// marks it (POLLPRI) on every mount change.
    TUniqueFd Table;
    /// Inode, size and change times of the table when it was read, for a
    /// table that is a plain file and so marks nothing.
    std::array<int64_t, 5> Stamp{};
    /// Whether the open table is the kernel's, whose mark says it all.
    bool Marks = false;
};

/// Where the desktop finds its sources. Read from the process environment
/// when a namespace is made, so a test that changes HOME or the XDG
/// variables sees them in the next namespace it makes.
struct TNsEnvironment
{
    std::string Home;             // $HOME (else the password entry), no trailing "/"
    std::string ConfigHome;       // $XDG_CONFIG_HOME, default ~/.config
    std::string DataHome;         // $XDG_DATA_HOME, default ~/.local/share
    std::string DesktopDirectory; // see DesktopDirectoryOf
    TMountSources Sources;        // MountSources() at the time

    /// The environment of this process now.
    static TNsEnvironment FromProcess();

    /// $DataHome/Trash/files and $DataHome/Trash/info.
    std::string TrashFiles() const { return DataHome + "/Trash/files"; }
    std::string TrashInfo() const { return DataHome + "/Trash/info"; }

    /// The mount table (ReadMounts of Sources), kept until the table changes
    /// or the namespace's change notices are flushed, so a sort or a tree
    /// expansion that asks many times reads it once. Whether it changed is
    /// seen on the table itself, with no event loop. Reading never touches
    /// a mounted file system, so it cannot block.
    std::vector<TMount> Mounts() const;
    /// PathMayStall of `path` over the kept table.
    bool MayStallAt(const std::string& path) const;
    /// Whether a mount that may stall is mounted exactly at `path`, taken
    /// as written (no link is read).
    bool MountMayStallAt(const std::string& path) const;
    /// Drops the kept table; the next call reads it afresh.
    void ForgetMounts() const { Cache->Mounts.reset(); }

    std::shared_ptr<TMountCache> Cache = std::make_shared<TMountCache>();

private:
    const std::vector<TMount>& KeptMounts() const;
};

/// The desktop directory for a home and a configuration directory:
/// XDG_DESKTOP_DIR of `configHome`/user-dirs.dirs (quoted, "$HOME/..." or
/// absolute), else home/Desktop when that is a directory, else the home.
std::string DesktopDirectoryOf(const std::string& home, const std::string& configHome);

/// A volume label as the controls show it: lower-cased, then a capital
/// first letter when that is a to z ("MUSIC" becomes "Music").
std::string ShownVolumeLabel(const std::string& label);

/// ShownVolumeLabel of a mount's label; empty when it has none.
inline std::string VolumeLabelOfMount(const TMount& mount)
{
    return ShownVolumeLabel(mount.Label);
}

/// The absolute list of a volume, [Computer][Volume], made from the mount
/// alone (no disk access), so that it also names a volume that has just
/// gone away; the same bytes the namespace gives that volume.
TItemIdList VolumeIdListOfMount(const TMount& mount);

/// The word for a kind of volume: "ローカル ディスク", "リムーバブル ディスク",
/// "CD ドライブ" or "ネットワーク ドライブ".
std::string VolumeKindName(TMountKind kind);

/// The original name of a trashed file: the last component of the
/// percent-decoded Path= of info/<name>.trashinfo under `trashDirectory`
/// (the directory holding files/ and info/); `name` when there is no
/// readable record.
std::string TrashOriginalName(const std::string& trashDirectory, const std::string& name);

/// The namespace of the Linux desktop (see the top of this file).
class TLinuxShellNamespace : public IShellNamespace
{
public:
    /// A namespace over the process environment now.
    TLinuxShellNamespace();
    explicit TLinuxShellNamespace(TNsEnvironment environment);

    const TNsEnvironment& Environment() const { return *environment_; }

    HRESULT GetDesktopFolder(std::shared_ptr<IShellFolder>& desktop) override;
    /// 0 desktop (the empty list), 5 home, 10 trash, 16 the desktop directory
    /// (as a file-system list), 17 computer, 18 network; E_INVALIDARG for
    /// every other value.
    HRESULT GetSpecialFolderLocation(QWidget* owner, int csidl, TItemIdList& list) override;
    bool GetPathFromIDList(TItemIdPosition list, std::string& path) override;
    bool GetFileInfo(TItemIdPosition list, uint32_t flags, TShFileInfo& info) override;
    /// The watchers see file changes themselves, so nothing is queued; the
    /// kept mount table is dropped, since a device notice is what asks.
    void FlushChangeNotices() override;
    /// The raw label of the mount at exactly `rootPath`; empty when none.
    std::string GetVolumeLabel(const std::string& rootPath) override;

private:
    std::shared_ptr<const TNsEnvironment> environment_;
    std::shared_ptr<IShellFolder> desktop_;
};
