#include "shell/ShellDbt.h"

#include "platform/core/ExceptionHandler.h"
#include "platform/shellns/ShellNs.h"
#include "platform/shellns/ShellNsItems.h"
#include "shell/ShellIDFunc.h"
#include "shell/ShellUtils.h"

#include <QSocketNotifier>
#include <algorithm>
#include <exception>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool SameMount(const TMount& first, const TMount& second)
{
    return first.MountPoint == second.MountPoint && first.Source == second.Source &&
           first.FileSystemType == second.FileSystemType;
}

bool Contains(const std::vector<TMount>& mounts, const TMount& mount)
{
    return std::any_of(mounts.begin(), mounts.end(),
                       [&](const TMount& other) { return SameMount(other, mount); });
}

// ReadMounts answers a lone, sourceless root when it cannot read the table.
// Taking that for the truth would report every volume as gone and then back
// again on the next good read.
bool IsUnreadTable(const std::vector<TMount>& mounts)
{
    return mounts.size() == 1 && mounts.front().MountPoint == "/" &&
           mounts.front().Source.empty() && mounts.front().FileSystemType.empty();
}

// The namespace keeps the table it read; a control that looks at a new
// volume during the notice must not get the old one.
void ForgetNamespaceMounts()
{
    if (const std::shared_ptr<IShellNamespace> shell = ShellNamespace())
        shell->FlushChangeNotices();
}

// Counts a nesting level for as long as it lives, exceptions included.
class TDepth
{
public:
    explicit TDepth(int& depth) : depth_(depth) { ++depth_; }
    ~TDepth() { --depth_; }
    TDepth(const TDepth&) = delete;
    TDepth& operator=(const TDepth&) = delete;

private:
    int& depth_;
};

} // namespace

std::vector<TMountChange> MountChanges(const std::vector<TMount>& before,
                                       const std::vector<TMount>& after)
{
    std::vector<TMountChange> changes;
    for (const TMount& mount : before) {
        if (!Contains(after, mount))
            changes.push_back({mount, DBT_DEVICEREMOVECOMPLETE});
    }
    for (const TMount& mount : after) {
        if (!Contains(before, mount))
            changes.push_back({mount, DBT_DEVICEARRIVAL});
    }
    return changes;
}

// ---- the monitor -----------------------------------------------------------

TMountMonitor::TMountMonitor(TMountSources sources, TDeviceNoticeHandler handler, QObject* parent)
    : QObject(parent), sources_(std::move(sources)), handler_(std::move(handler))
{
    // Opened before the first read, so that a change between the two still
    // marks this descriptor and is seen by the next scan.
    tableFd_.Reset(open(sources_.MountTable.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    mounts_ = ReadMounts(sources_);
    if (tableFd_) {
        notifier_ = new QSocketNotifier(tableFd_.Get(), QSocketNotifier::Exception, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { Rescan(); });
    }
}

TMountMonitor::~TMountMonitor()
{
    // The dispatcher must forget the descriptor before it is closed.
    delete notifier_;
}

void TMountMonitor::Rescan()
{
    if (stopped_)
        return;
    const TDepth depth(scanning_);
    std::vector<TMountChange> changes;
    try {
        std::vector<TMount> current = ReadMounts(sources_);
        if (IsUnreadTable(current))
            return;
        changes = MountChanges(mounts_, current);
        // Kept before any notice goes out: a handler that runs the event
        // loop may start the next scan, which must compare with this table.
        mounts_ = std::move(current);
        if (!changes.empty())
            ForgetNamespaceMounts();
    } catch (...) {
        HandleException(std::current_exception());
        return;
    }
    for (const TMountChange& change : changes) {
        if (stopped_)
            return;
        try {
            Notify(change);
        } catch (...) {
            HandleException(std::current_exception());
        }
    }
}

void TMountMonitor::Notify(const TMountChange& change)
{
    const TMount& mount = change.Mount;
    if (mount.IsRemovable()) {
        const TItemIdList list = VolumeIdListOfMount(mount);
        if (!list)
            return;
        std::string caption = " (" + mount.MountPoint + ")";
        if (change.Event == DBT_DEVICEARRIVAL)
            caption = ShVolumeLabel(mount.MountPoint) + caption;
        handler_(caption, change.Event, list.Data(), kDeviceKindRemovable);
    } else if (mount.Kind == TMountKind::Network) {
        handler_(std::string(), change.Event, nullptr, kDeviceKindNetwork);
    }
    // Fixed disks (and whatever else the table holds) are no device notice.
}

void TMountMonitor::Stop()
{
    stopped_ = true;
    if (notifier_)
        notifier_->setEnabled(false);
}

bool TMountMonitor::IsWatching() const
{
    return notifier_ != nullptr && notifier_->isEnabled();
}

// ---- the registry ----------------------------------------------------------

TShellCtrlList::TShellCtrlList() = default;

TShellCtrlList::~TShellCtrlList() = default;

void TShellCtrlList::RegisterTree(IShellTreeDeviceClient* tree)
{
    Add({tree, nullptr});
}

void TShellCtrlList::UnregisterTree(IShellTreeDeviceClient* tree)
{
    Remove({tree, nullptr});
}

void TShellCtrlList::RegisterList(IShellListDeviceClient* list)
{
    Add({nullptr, list});
}

void TShellCtrlList::UnregisterList(IShellListDeviceClient* list)
{
    Remove({nullptr, list});
}

size_t TShellCtrlList::Count() const
{
    return static_cast<size_t>(std::count_if(entries_.begin(), entries_.end(),
                                             [](const TEntry& entry) { return entry.Present(); }));
}

void TShellCtrlList::Add(TEntry entry)
{
    if (!entry.Present())
        return;
    if (!monitor_) {
        monitor_ = std::make_unique<TMountMonitor>(
            MountSources(), [this](const std::string& caption, uint32_t event, TItemIdPosition list,
                                   uint16_t kind) { Broadcast(caption, event, list, kind); });
        ++monitorGeneration_;
    }
    entries_.push_back(entry);
}

void TShellCtrlList::Remove(TEntry entry)
{
    const auto found = std::find_if(entries_.begin(), entries_.end(), [&](const TEntry& other) {
        return other.Tree == entry.Tree && other.List == entry.List;
    });
    if (!entry.Present() || found == entries_.end())
        return;
    // During a broadcast the loop walks the entries by position: leave a hole
    // that it skips and close the holes once it is done.
    if (broadcasting_ > 0)
        *found = TEntry();
    else
        entries_.erase(found);
    if (Count() == 0 && monitor_) {
        monitor_->Stop();
        // A control that unregisters from inside a notice has the monitor's
        // scan below it on the stack; that scan ends before the monitor goes.
        if (monitor_->IsScanning())
            monitor_.release()->deleteLater();
        else
            monitor_.reset();
    }
}

void TShellCtrlList::Broadcast(const std::string& caption, uint32_t event, TItemIdPosition list,
                               uint16_t kind)
{
    struct TCloseHoles
    {
        TShellCtrlList& owner;
        ~TCloseHoles()
        {
            if (--owner.broadcasting_ == 0)
                std::erase_if(owner.entries_, [](const TEntry& entry) { return !entry.Present(); });
        }
    };
    ++broadcasting_;
    const TCloseHoles closeHoles{*this};
    const size_t count = entries_.size();
    for (size_t i = 0; i < count; ++i) {
        const TEntry entry = entries_[i];
        if (entry.Tree)
            entry.Tree->DeviceChange(caption, event, list, kind);
        else if (entry.List)
            entry.List->DeviceChange(list, kind);
    }
}

TShellCtrlList& ShellCtrlList()
{
    static TShellCtrlList registry;
    return registry;
}
