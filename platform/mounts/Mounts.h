#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// The mounted file systems, as the computer folder shows them as drives and
// the device notices report them. Reading the table never touches a mounted
// file system itself, so that a stalled network server cannot block.

enum class TMountKind
{
    Fixed,     // a local disk
    Removable, // a removable block device, or media under /media, /run/media
    CdRom,     // an optical file system (also removable)
    Network,   // nfs, cifs/smb3, sshfs, davfs, ...
    Ignored    // proc, sysfs, cgroup, devpts, snap images and the like
};

struct TMount
{
    std::string MountPoint;
    std::string Source; // the device or the remote share
    std::string FileSystemType;
    TMountKind Kind = TMountKind::Fixed;
    /// The udev label of the device; empty when it has none.
    std::string Label;

    bool IsRemovable() const { return Kind == TMountKind::Removable || Kind == TMountKind::CdRom; }
    /// Network and user-space (FUSE) file systems may stall: callers must
    /// not look inside them on the UI thread. fuseblk (a local device behind
    /// FUSE) does not.
    bool MayStall() const;
};

/// Where the table and its facts come from; tests point them elsewhere.
struct TMountSources
{
    std::string MountTable = "/proc/self/mountinfo";
    std::string LabelDirectory = "/dev/disk/by-label";
    std::string BlockDirectory = "/sys/class/block";
    /// Where the desktop mounts removable media; a mount below one of them
    /// counts as removable whatever its device.
    std::vector<std::string> MediaRoots = {"/media", "/run/media"};
};

/// The sources of this machine, unless SetMountSources replaced them.
const TMountSources& MountSources();
void SetMountSources(const TMountSources& sources);

/// The mounts a user would call drives, in table order: the root file system
/// always (alone, with no source, when the table cannot be read), then every
/// mount not classified Ignored. Of mounts stacked on one mount point only
/// the top one is kept.
std::vector<TMount> ReadMounts(const TMountSources& sources = MountSources());

/// The class of one mount; `removableDevice` tells whether the source is a
/// block device that the kernel reports removable.
TMountKind ClassifyMount(const std::string& fileSystemType, const std::string& mountPoint,
                         bool removableDevice, bool pseudoFileSystem = false,
                         const std::vector<std::string>& mediaRoots = TMountSources().MediaRoots);

/// The mount that holds a path: the longest mount point that prefixes it at
/// a "/" boundary; null when none does.
const TMount* MountOfPath(const std::vector<TMount>& mounts, const std::string& path);

/// Whether looking at `path` may stall the caller: whether the mount that
/// holds it may (TMount::MayStall), the path's symbolic links resolved.
/// Links are resolved against `mounts`, one component at a time, and only
/// where the component lies on a mount that cannot stall, so a stalled
/// server is never asked; no path is examined for its device. A relative
/// path, or one that no mount holds, does not stall.
/// `links`, when given, keeps what each link read answered (the target, or
/// none for a component that is no link), so that a caller asking about
/// many paths below one folder reads each component once. Keep it only for
/// a batch of questions asked together.
using TLinkAnswers = std::unordered_map<std::string, std::optional<std::string>>;
bool PathMayStall(const std::vector<TMount>& mounts, const std::string& path,
                  TLinkAnswers* links = nullptr);

/// Decodes the "\xHH" escapes of udev link names ("My\x20Disk").
std::string DecodeUdevName(const std::string& name);
