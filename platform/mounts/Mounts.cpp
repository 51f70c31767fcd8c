#include "platform/mounts/Mounts.h"

#include "platform/core/PathCodec.h"
#include "platform/core/Posix.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <libmount/libmount.h>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TMountSources& CurrentSources()
{
    static TMountSources sources;
    return sources;
}

bool StartsWithDirectory(const std::string& path, const std::string& directory)
{
    return path == directory ||
           (path.size() > directory.size() && path.compare(0, directory.size(), directory) == 0 &&
            path[directory.size()] == '/');
}

std::string RealPath(const std::string& path)
{
    std::unique_ptr<char, decltype(&free)> resolved(realpath(path.c_str(), nullptr), &free);
    return resolved ? std::string(resolved.get()) : std::string();
}

// udev names each link after the label, with its special bytes escaped.
std::map<std::string, std::string> ReadLabels(const std::string& directory)
{
    std::map<std::string, std::string> labels;
    TDirectoryReader dir(directory);
    while (const dirent* entry = dir.Next()) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string device = RealPath(JoinPath(directory, entry->d_name));
        if (!device.empty())
            labels[device] = DecodeUdevName(entry->d_name);
    }
    return labels;
}

// A partition has no "removable" of its own; its disk, one level up, has.
bool IsRemovableDevice(const std::string& blockDirectory, const std::string& deviceName)
{
    for (const char* relative : {"/removable", "/../removable"}) {
        std::ifstream in(blockDirectory + "/" + deviceName + relative);
        char flag = 0;
        if (in.get(flag))
            return flag == '1';
    }
    return false;
}

bool IsNetworkType(const std::string& type)
{
    static const char* const kNetworkTypes[] = {
        "nfs",   "nfs4",        "cifs",        "smb3",      "smbfs",         "ncpfs",
        "afs",   "ceph",        "9p",          "glusterfs", "fuse.sshfs",    "sshfs",
        "davfs", "fuse.davfs2", "fuse.rclone", "fuse.s3fs", "fuse.glusterfs"};
    return std::find(std::begin(kNetworkTypes), std::end(kNetworkTypes), type) !=
           std::end(kNetworkTypes);
}

// Kernel and container plumbing that the pseudo-file-system list of the
// table library does not cover.
bool IsPlumbingType(const std::string& type)
{
    static const char* const kTypes[] = {
        "autofs", "fusectl", "binfmt_misc", "nsfs",      "tracefs",  "debugfs",  "securityfs",
        "pstore", "bpf",     "mqueue",      "hugetlbfs", "configfs", "efivarfs", "rpc_pipefs"};
    return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

} // namespace

bool TMount::MayStall() const
{
    // fuseblk serves a local block device (NTFS, exFAT sticks) and answers
    // as fast as the device does.
    return Kind == TMountKind::Network ||
           (FileSystemType.starts_with("fuse") && FileSystemType != "fuseblk");
}

const TMountSources& MountSources()
{
    return CurrentSources();
}

void SetMountSources(const TMountSources& sources)
{
    CurrentSources() = sources;
}

TMountKind ClassifyMount(const std::string& fileSystemType, const std::string& mountPoint,
                         bool removableDevice, bool pseudoFileSystem,
                         const std::vector<std::string>& mediaRoots)
{
    bool underMediaRoot = false;
    for (const std::string& root : mediaRoots)
        underMediaRoot = underMediaRoot || StartsWithDirectory(mountPoint, root);
    if (IsNetworkType(fileSystemType))
        return TMountKind::Network;
    if (pseudoFileSystem || IsPlumbingType(fileSystemType))
        return TMountKind::Ignored;
    if (fileSystemType == "squashfs" && StartsWithDirectory(mountPoint, "/snap"))
        return TMountKind::Ignored;
    for (const char* plumbing : {"/proc", "/sys", "/dev"}) {
        if (StartsWithDirectory(mountPoint, plumbing))
            return TMountKind::Ignored;
    }
    // /run holds the system's own mounts, except the media the desktop puts there.
    if (StartsWithDirectory(mountPoint, "/run") && !underMediaRoot)
        return TMountKind::Ignored;
    if (fileSystemType == "iso9660" || fileSystemType == "udf")
        return TMountKind::CdRom;
    if (removableDevice || underMediaRoot)
        return TMountKind::Removable;
    return TMountKind::Fixed;
}

std::vector<TMount> ReadMounts(const TMountSources& sources)
{
    std::vector<TMount> mounts;
    const std::map<std::string, std::string> labels = ReadLabels(sources.LabelDirectory);

    std::unique_ptr<libmnt_table, decltype(&mnt_unref_table)> table(mnt_new_table(),
                                                                    &mnt_unref_table);
    std::unique_ptr<libmnt_iter, decltype(&mnt_free_iter)> iterator(mnt_new_iter(MNT_ITER_FORWARD),
                                                                    &mnt_free_iter);
    const bool parsed =
        table && iterator && mnt_table_parse_file(table.get(), sources.MountTable.c_str()) == 0;

    bool haveRoot = false;
    libmnt_fs* fs = nullptr;
    while (parsed && mnt_table_next_fs(table.get(), iterator.get(), &fs) == 0) {
        const char* target = mnt_fs_get_target(fs);
        if (target == nullptr)
            continue;
        TMount mount;
        mount.MountPoint = target;
        if (const char* source = mnt_fs_get_source(fs))
            mount.Source = source;
        if (const char* type = mnt_fs_get_fstype(fs))
            mount.FileSystemType = type;

        const bool isRoot = mount.MountPoint == "/";
        const bool isNetwork = IsNetworkType(mount.FileSystemType) || mnt_fs_is_netfs(fs) == 1;
        std::string device;
        // Only local device nodes are resolved: a remote source is a name.
        if (!isNetwork && mount.Source.starts_with("/"))
            device = RealPath(mount.Source);
        const bool removable =
            !device.empty() &&
            IsRemovableDevice(sources.BlockDirectory, std::string(PathOwnName(device)));
        mount.Kind = isNetwork ? TMountKind::Network
                               : ClassifyMount(mount.FileSystemType, mount.MountPoint, removable,
                                               mnt_fs_is_pseudofs(fs) == 1, sources.MediaRoots);
        if (isRoot && mount.Kind == TMountKind::Ignored)
            mount.Kind = TMountKind::Fixed;
        if (mount.Kind == TMountKind::Ignored)
            continue;
        if (const auto label = labels.find(device); !device.empty() && label != labels.end())
            mount.Label = label->second;

        // A later mount on the same point hides the earlier one.
        const auto stacked = std::find_if(mounts.begin(), mounts.end(), [&](const TMount& m) {
            return m.MountPoint == mount.MountPoint;
        });
        if (stacked != mounts.end())
            *stacked = std::move(mount);
        else
            mounts.push_back(std::move(mount));
        haveRoot = haveRoot || isRoot;
    }
    if (!haveRoot) {
        TMount root;
        root.MountPoint = "/";
        mounts.insert(mounts.begin(), std::move(root));
    }
    return mounts;
}

const TMount* MountOfPath(const std::vector<TMount>& mounts, const std::string& path)
{
    const TMount* best = nullptr;
    for (const TMount& mount : mounts) {
        const bool holds = mount.MountPoint == "/" ? path.starts_with("/")
                                                   : StartsWithDirectory(path, mount.MountPoint);
        if (holds && (best == nullptr || mount.MountPoint.size() > best->MountPoint.size()))
            best = &mount;
    }
    return best;
}

namespace {

/// The target of a link; none for a path that is no link (or unreadable).
std::optional<std::string> ReadLink(const std::string& path, TLinkAnswers* links)
{
    if (links != nullptr) {
        if (const auto known = links->find(path); known != links->end())
            return known->second;
    }
    std::optional<std::string> target;
    char buffer[PATH_MAX];
    const ssize_t length = readlink(path.c_str(), buffer, sizeof buffer);
    if (length > 0 && static_cast<size_t>(length) < sizeof buffer)
        target.emplace(buffer, static_cast<size_t>(length));
    if (links != nullptr)
        links->emplace(path, target);
    return target;
}

} // namespace

bool PathMayStall(const std::vector<TMount>& mounts, const std::string& path, TLinkAnswers* links)
{
    if (!path.starts_with('/'))
        return false;
    // Components still to walk, the next one last, so that a link's target
    // goes in front of what followed the link.
    std::vector<std::string> pending;
    const auto pushComponents = [&pending](std::string_view text) {
        std::vector<std::string> components;
        for (size_t start = 0; start <= text.size();) {
            const size_t slash = std::min(text.find('/', start), text.size());
            if (slash > start)
                components.emplace_back(text.substr(start, slash - start));
            start = slash + 1;
        }
        pending.insert(pending.end(), components.rbegin(), components.rend());
    };
    pushComponents(path);

    // The kernel's own bound; past it the rest is taken as written.
    constexpr int kMaxLinks = 40;
    int followed = 0;
    std::string resolved = "/";
    while (!pending.empty()) {
        const std::string component = std::move(pending.back());
        pending.pop_back();
        if (component == ".")
            continue;
        if (component == "..") {
            // `resolved` holds no links, so its text parent is the real one.
            resolved.resize(std::max<size_t>(resolved.rfind('/'), 1));
            continue;
        }
        std::string candidate = JoinPath(resolved, component);
        const TMount* mount = MountOfPath(mounts, candidate);
        if (mount == nullptr)
            return false;
        // Asking a stalled server whether this is a link would stall too.
        if (mount->MayStall())
            return true;
        std::optional<std::string> target;
        if (followed < kMaxLinks)
            target = ReadLink(candidate, links);
        if (!target) {
            resolved = std::move(candidate);
            continue;
        }
        ++followed;
        if (target->front() == '/')
            resolved = "/";
        pushComponents(*target);
    }
    const TMount* mount = MountOfPath(mounts, resolved);
    return mount && mount->MayStall();
}

std::string DecodeUdevName(const std::string& name)
{
    std::string decoded;
    decoded.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
            const int high = HexDigitValue(name[i + 2]);
            const int low = HexDigitValue(name[i + 3]);
            if (high >= 0 && low >= 0) {
                decoded += static_cast<char>(high * 16 + low);
                i += 3;
                continue;
            }
        }
        decoded += name[i];
    }
    return decoded;
}
