#pragma once

#include "platform/shellns/LinuxShell.h" // VolumeIdListOfMount

#include "platform/core/Posix.h"
#include "platform/mounts/Mounts.h"
#include "platform/shellns/ItemIdList.h"
#include "shell/DeviceChangeData.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;

// Device notices: one process-wide registry of the browsing controls hears
// volumes come and go and hands each change to every registered control, in
// registration order. The volumes are the mounts of the mount table; a
// monitor on the UI thread watches the table while any control is
// registered.

/// What a folder tree implements to hear about volumes.
class IShellTreeDeviceClient
{
public:
    virtual ~IShellTreeDeviceClient() = default;
    /// A volume came (DBT_DEVICEARRIVAL) or went (DBT_DEVICEREMOVECOMPLETE).
    /// `caption` is "label (mount point)" on arrival of media, " (mount
    /// point)" on removal, empty for network volumes; `list` is the volume
    /// root's absolute list (only valid during the call; null for network
    /// volumes); `kind` is kDeviceKindRemovable or kDeviceKindNetwork.
    virtual void DeviceChange(const std::string& caption, uint32_t event, TItemIdPosition list,
                              uint16_t kind) = 0;
};

/// What a file list implements to hear about volumes; `list` and `kind` as
/// for the folder tree.
class IShellListDeviceClient
{
public:
    virtual ~IShellListDeviceClient() = default;
    virtual void DeviceChange(TItemIdPosition list, uint16_t kind) = 0;
};

/// One added or removed mount.
struct TMountChange
{
    TMount Mount;
    uint32_t Event; // DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE
};

/// The mounts that differ between two tables, a mount being its mount point,
/// source and file-system type: first the removed ones in the order of
/// `before`, then the added ones in the order of `after` (so that media
/// swapped on one mount point leave before they arrive).
std::vector<TMountChange> MountChanges(const std::vector<TMount>& before,
                                       const std::vector<TMount>& after);

/// Receives the notices of a monitor: the arguments a folder tree gets.
using TDeviceNoticeHandler = std::function<void(const std::string& caption, uint32_t event,
                                                TItemIdPosition list, uint16_t kind)>;

/// Watches a mount table on the UI thread. The kernel marks the table
/// priority-readable (POLLPRI) on every mount change; the monitor then reads
/// it again (ReadMounts) and turns each change (MountChanges) into one
/// notice: removable media as kind 1 with the volume's list and a caption,
/// network mounts as kind 2 with an empty caption and no list; other mounts
/// give none. Before the notices, the shell namespace is made to read the
/// table again, so that a control that looks at the new volume sees it.
/// An error while handling a notice goes to HandleException and ends that
/// notice only.
class TMountMonitor : public QObject
{
public:
    /// Reads the table of `sources` once as the starting point (no notices
    /// for it) and watches `sources.MountTable` when it can be opened.
    TMountMonitor(TMountSources sources, TDeviceNoticeHandler handler, QObject* parent = nullptr);
    ~TMountMonitor() override;

    /// Reads the table now and reports what changed since the last read.
    /// The kernel signals its own table; a test's file never does, so tests
    /// call this after rewriting it. Does nothing once stopped.
    void Rescan();
    /// Stops watching and reporting for good; a scan under way sends no
    /// further notice.
    void Stop();

    /// Whether the table is watched for POLLPRI.
    bool IsWatching() const;
    /// Whether a scan is under way (its handler is on the stack).
    bool IsScanning() const { return scanning_ > 0; }
    /// The table as last read.
    const std::vector<TMount>& Mounts() const { return mounts_; }

private:
    void Notify(const TMountChange& change);

    TMountSources sources_;
    TDeviceNoticeHandler handler_;
    std::vector<TMount> mounts_;
    TUniqueFd tableFd_;
    QSocketNotifier* notifier_ = nullptr;
    int scanning_ = 0;
    bool stopped_ = false;
};

/// The registry of the browsing controls. A control registers when it is
/// created and unregisters when it is destroyed; each pointer is the
/// caller's and must stay valid while registered. The first registration
/// starts a TMountMonitor over MountSources(); the last unregistration
/// stops it; registering again starts a new one. UI thread only.
class TShellCtrlList
{
public:
    TShellCtrlList();
    ~TShellCtrlList();
    TShellCtrlList(const TShellCtrlList&) = delete;
    TShellCtrlList& operator=(const TShellCtrlList&) = delete;

    void RegisterTree(IShellTreeDeviceClient* tree);
    void UnregisterTree(IShellTreeDeviceClient* tree);
    void RegisterList(IShellListDeviceClient* list);
    void UnregisterList(IShellListDeviceClient* list);

    /// Hands a notice to every control registered when it starts, in
    /// registration order: a tree gets (caption, event, list, kind), a file
    /// list (list, kind). A control unregistered meanwhile (by itself or by
    /// another) is skipped; one registered meanwhile waits for the next.
    void Broadcast(const std::string& caption, uint32_t event, TItemIdPosition list, uint16_t kind);

    /// The number of registered controls.
    size_t Count() const;
    bool HasMonitor() const { return monitor_ != nullptr; }
    /// How many monitors this registry has started.
    uint64_t MonitorGeneration() const { return monitorGeneration_; }
    /// The running monitor; null when there is none.
    TMountMonitor* Monitor() const { return monitor_.get(); }

private:
    struct TEntry
    {
        IShellTreeDeviceClient* Tree = nullptr;
        IShellListDeviceClient* List = nullptr;
        bool Present() const { return Tree != nullptr || List != nullptr; }
    };

    void Add(TEntry entry);
    void Remove(TEntry entry);

    std::vector<TEntry> entries_;
    std::unique_ptr<TMountMonitor> monitor_;
    uint64_t monitorGeneration_ = 0;
    int broadcasting_ = 0;
};

/// The registry of this process.
TShellCtrlList& ShellCtrlList();
