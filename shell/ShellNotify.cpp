#include "shell/ShellNotify.h"

#include "platform/core/PathCodec.h"
#include "shell/ShellUtils.h"

#include <algorithm>
#include <optional>
#include <span>
#include <sys/stat.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace {

// Slot 0 of both runs is the thread's terminate event, which StopAll signals
// as well as ShutDown.
constexpr size_t kTerminateSlot = 0;
// Directory watcher.
constexpr size_t kDeviceSlot = 1;
constexpr size_t kListChangedSlot = 2;
constexpr size_t kFirstNotificationSlot = 3;
// Files watcher.
constexpr size_t kDirectoryChangedSlot = 1;
constexpr size_t kWatchSlot = 2;
constexpr size_t kMountTableSlot = 3;

/// The directory a path names now; none when it names no directory.
std::optional<std::pair<dev_t, ino_t>> DirectoryIdentity(const std::string& path)
{
    struct stat facts;
    if (path.empty() || stat(path.c_str(), &facts) != 0 || !S_ISDIR(facts.st_mode))
        return std::nullopt;
    return std::pair(facts.st_dev, facts.st_ino);
}

bool IsExistingDirectory(const std::string& path)
{
    return DirectoryIdentity(path).has_value();
}

/// The nearest directory above `path` that exists ("/" at the latest).
std::string NearestExistingAncestor(std::string path)
{
    for (;;) {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos || slash == 0)
            return "/";
        path.resize(slash);
        if (IsExistingDirectory(path))
            return path;
    }
}

// The folder tree's names, as the watcher keeps them. Case is ignored for
// the order only: this file system tells "Music" from "music", so both stay.
std::vector<std::string> WatchList(const std::vector<std::string>& names)
{
    std::vector<std::pair<QString, std::string>> keyed;
    for (const std::string& name : names)
        if (IsExistingDirectory(name)) {
            std::string directory = ShIncludeBackslash(name);
            keyed.emplace_back(PathToQString(directory), std::move(directory));
        }
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        const int order = a.first.compare(b.first, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a.second < b.second;
    });
    std::vector<std::string> list;
    list.reserve(keyed.size());
    for (auto& entry : keyed)
        if (list.empty() || list.back() != entry.second)
            list.push_back(std::move(entry.second));
    return list;
}

} // namespace

// ---------------------------------------------------------------------------
// TShDirWatcher

TShDirWatcher::TShDirWatcher(const std::vector<std::string>& directories, uint32_t notifyFilter,
                             TDeviceHandler deviceHandler, TChangeHandler changeHandler)
    : notifyFilter_(notifyFilter), directories_(WatchList(directories)),
      deviceHandler_(std::move(deviceHandler)), changeHandler_(std::move(changeHandler))
{
    Start();
}

TShDirWatcher::~TShDirWatcher()
{
    TerminateAndWait();
}

void TShDirWatcher::SetDirectories(const std::vector<std::string>* directories)
{
    {
        std::lock_guard guard(lock_);
        if (directories) {
            std::vector<std::string> list = WatchList(*directories);
            if (list == directories_)
                return;
            directories_ = std::move(list);
        } else {
            directories_.clear();
        }
        // Counted with the list, so that a rebuild knows which list it read.
        ++listChangedCount_;
    }
    listChangedEvent_.Set();
}

void TShDirWatcher::PostDeviceChange(std::unique_ptr<TDeviceChangeData> data)
{
    if (!deviceHandler_)
        return;
    std::unique_ptr<TDeviceChangeData> replaced;
    {
        std::lock_guard guard(lock_);
        replaced = std::exchange(pending_, std::move(data));
    }
    deviceEvent_.Set();
}

void TShDirWatcher::ShutDown()
{
    deviceHandler_ = nullptr;
    changeHandler_ = nullptr;
    // Signals the terminate slot and gives up a Synchronize already queued,
    // so the run ends without waiting for the UI thread.
    Terminate();
}

std::vector<std::string> TShDirWatcher::Directories() const
{
    std::lock_guard guard(lock_);
    return directories_;
}

// One inotify watch per directory: the user's watch limit
// (/proc/sys/fs/inotify/max_user_watches, shared by every process of the
// user) replaces the old limit of 61 directories. When it is reached,
// FindFirst fails (ENOSPC) and the directory is simply dropped, as any
// directory that cannot be watched is.
void TShDirWatcher::Rebuild(TInotify& inotify,
                            std::vector<std::unique_ptr<TChangeNotification>>& notifications,
                            std::vector<std::string>& watched)
{
    // A directory in both lists keeps its watch, so that a change in it
    // while the list is replaced is not lost (a pending one stays signalled).
    std::unordered_map<std::string, std::unique_ptr<TChangeNotification>> kept;
    for (size_t i = 0; i < notifications.size(); ++i) {
        if (notifications[i] && !notifications[i]->Gone())
            kept.emplace(std::move(watched[i]), std::move(notifications[i]));
    }
    notifications.clear();
    watched.clear();
    std::lock_guard guard(lock_);
    // Those that go are removed first: a kernel watch is shared by every
    // path of one directory, and removing it later would end a new one.
    const std::unordered_set<std::string> wanted(directories_.begin(), directories_.end());
    std::erase_if(kept, [&wanted](const auto& entry) { return !wanted.contains(entry.first); });
    std::vector<std::string> listed;
    for (std::string& directory : directories_) {
        std::unique_ptr<TChangeNotification> notification;
        if (auto found = kept.find(directory); found != kept.end())
            notification = std::move(found->second);
        else
            notification = TChangeNotification::FindFirst(inotify, directory, notifyFilter_);
        // One that cannot be watched (gone, or past the watch limit) leaves
        // the list.
        if (!notification)
            continue;
        notifications.push_back(std::move(notification));
        watched.push_back(directory);
        listed.push_back(std::move(directory));
    }
    directories_ = std::move(listed);
    builtListCount_ = listChangedCount_.load();
    ++rebuildCount_;
}

void TShDirWatcher::Execute()
{
    // One instance per thread: the per-user limit of instances is small.
    TInotify inotify;
    if (!inotify.IsValid())
        throw TSystemCallError("inotify_init1 failed");

    std::vector<std::unique_ptr<TChangeNotification>> notifications;
    std::vector<std::string> watched; // the directory of each notification
    std::vector<TWaitable*> slots;
    const auto rebuild = [&] {
        Rebuild(inotify, notifications, watched);
        slots = {&TerminateEvent(), &deviceEvent_, &listChangedEvent_};
        for (const auto& notification : notifications)
            slots.push_back(notification.get());
    };
    // A directory that is deleted, moved or unmounted cannot be re-armed: its
    // slot stays quiet until the next rebuild drops it. Its end still counts
    // as a change, so the tree hears of it.
    const auto rearm = [&](size_t slot) {
        if (!notifications[slot - kFirstNotificationSlot]->FindNext())
            slots[slot] = nullptr;
    };

    rebuild();
    // A change waits out its quiet time across device notices and new lists:
    // the tree hears of it once the quiet time has passed after them.
    bool changePending = false;
    for (;;) {
        const TWaitResult result =
            WaitForMultiple(slots, changePending ? kChangeQuietMs : INFINITE);
        if (result == WAIT_TIMEOUT) {
            changePending = false;
            ReportChange();
        } else if (result == WAIT_FAILED) {
            throw TSystemCallError("waiting for directory changes failed");
        } else if (result.Index >= kFirstNotificationSlot) {
            rearm(result.Index);
            changePending = true;
        } else if (result.Index == kTerminateSlot) {
            return;
        } else if (result.Index == kDeviceSlot) {
            if (SettleDevice() == TAfterWait::Leave)
                return;
        } else if (result.Index == kListChangedSlot) {
            rebuild();
        }
    }
}

// The terminate event is watched as well, so that a shut-down during a
// stream of device notices does not wait for them to settle.
TShDirWatcher::TAfterWait TShDirWatcher::SettleDevice()
{
    TWaitable* const slots[] = {&TerminateEvent(), &deviceEvent_};
    for (;;) {
        const TWaitResult result = WaitForMultiple(slots, kDeviceQuietMs);
        if (result == WaitSlot(kTerminateSlot))
            return TAfterWait::Leave;
        if (result == WAIT_TIMEOUT)
            break;
        if (result == WAIT_FAILED)
            throw TSystemCallError("waiting for device notices failed");
    }
    Synchronize([this] {
        // Read here, on the UI thread, where ShutDown clears it.
        const TDeviceHandler handler = deviceHandler_;
        if (!handler)
            return;
        std::unique_ptr<TDeviceChangeData> data;
        {
            std::lock_guard guard(lock_);
            data = std::move(pending_);
        }
        // A notice posted while the call was queued was delivered with it.
        if (data)
            handler(this, std::move(data));
    });
    return Terminated() ? TAfterWait::Leave : TAfterWait::Continue;
}

void TShDirWatcher::ReportChange()
{
    Synchronize([this] {
        // A copy: the handler may shut the watcher down, which clears it.
        const TChangeHandler handler = changeHandler_;
        if (handler)
            handler(this);
    });
}

// ---------------------------------------------------------------------------
// TShFilesWatcher

TShFilesWatcher::TShFilesWatcher(const std::string& directory, uint32_t notifyFilter,
                                 TChangeHandler changeHandler)
    : notifyFilter_(notifyFilter), directory_(directory), changeHandler_(std::move(changeHandler))
{
    Start();
}

TShFilesWatcher::~TShFilesWatcher()
{
    TerminateAndWait();
}

// There is no suspended state to test for: the thread always runs from
// creation on.
void TShFilesWatcher::SetDirectory(const std::string& path)
{
    {
        std::lock_guard guard(lock_);
        // The same path again looks anew once the directory went away.
        if (path == directory_ && watchingDirectory_)
            return;
        directory_ = IsExistingDirectory(path) ? path : std::string();
    }
    directoryChangedEvent_.Set();
}

void TShFilesWatcher::ShutDown()
{
    changeHandler_ = nullptr;
    Terminate();
}

std::string TShFilesWatcher::Directory() const
{
    std::lock_guard guard(lock_);
    return directory_;
}

// A directory that is missing (removed, renamed away, or never made yet
// under a name given at creation) is waited for on its nearest existing
// ancestor: a new sub-directory there may be it, or lead to it.
std::unique_ptr<TChangeNotification> TShFilesWatcher::OpenWatch(TInotify& inotify,
                                                                TIdentity& identity)
{
    const std::string directory = Directory();
    identity = DirectoryIdentity(directory);
    std::unique_ptr<TChangeNotification> watch;
    if (identity)
        watch = TChangeNotification::FindFirst(inotify, directory, notifyFilter_);
    if (!watch)
        identity.reset();
    {
        std::lock_guard guard(lock_);
        watchingDirectory_ = watch != nullptr;
    }
    if (watch) {
        ++watchCount_;
        return watch;
    }
    if (directory.empty())
        return nullptr;
    return TChangeNotification::FindFirst(inotify, NearestExistingAncestor(directory),
                                          FILE_NOTIFY_CHANGE_DIR_NAME);
}

void TShFilesWatcher::Execute()
{
    TInotify inotify;
    if (!inotify.IsValid())
        throw TSystemCallError("inotify_init1 failed");
    // A medium mounted again on the directory's path (or over it) hides the
    // directory watched so far: every mount change looks at the path again.
    TMountTableChange mountTable;

    TIdentity watched;
    std::unique_ptr<TChangeNotification> watch = OpenWatch(inotify, watched);
    const auto reopen = [&] {
        watch.reset();
        watch = OpenWatch(inotify, watched);
    };
    // The directory going, coming back or being mounted over counts as a
    // change of what it holds.
    bool changePending = false;
    const auto follow = [&] {
        const TIdentity before = watched;
        reopen();
        changePending = changePending || watched != before;
    };
    for (;;) {
        // With no watch its slot is null and never signalled.
        TWaitable* const slots[] = {&TerminateEvent(), &directoryChangedEvent_, watch.get(),
                                    &mountTable};
        const TWaitResult result =
            WaitForMultiple(slots, changePending ? kChangeQuietMs : INFINITE);
        if (result == WAIT_TIMEOUT) {
            changePending = false;
            ReportChange();
            reopen();
        } else if (result == WAIT_FAILED) {
            throw TSystemCallError("waiting for file changes failed");
        } else if (result.Index == kTerminateSlot) {
            return;
        } else if (result.Index == kDirectoryChangedSlot) {
            changePending = false;
            reopen();
        } else if (result.Index == kWatchSlot) {
            if (watched && watch->FindNext())
                changePending = true;
            else
                follow();
        } else if (result.Index == kMountTableSlot) {
            if (DirectoryIdentity(Directory()) != watched)
                follow();
        }
    }
}

void TShFilesWatcher::ReportChange()
{
    Synchronize([this] {
        const TChangeHandler handler = changeHandler_;
        if (handler)
            handler(this, Directory());
    });
}
