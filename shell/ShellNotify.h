#pragma once

#include "platform/kernel/Kernel.h"
#include "shell/DeviceChangeData.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// The watcher threads of the browsing controls. Each waits on its change
// notifications and events and reports on the UI thread (through
// Synchronize) once the changes have settled. Both start at creation, run
// until ShutDown (or TThread::StopAll, or a failed system call) and then free
// themselves: owners call ShutDown once and never touch the object again.
// Handlers are set at creation and cleared by ShutDown, both on the UI
// thread, and are read on the UI thread inside the synchronised call, so a
// handler cleared by ShutDown is never called.

/// Watches a sorted set of directories (each one itself, without its
/// sub-directories) and reports after 1500 ms without a further change. A
/// directory that cannot be watched when the thread (re)builds its
/// notifications (gone by then, or past the user's inotify watch limit) is
/// dropped from the list without a report; one deleted, moved or unmounted
/// while watched counts as a change and is dropped at the next rebuild. The
/// watcher also carries device notices of the folder tree and hands the last
/// one back after 1000 ms without a further notice.
class TShDirWatcher final : public TThread
{
public:
    using TChangeHandler = std::function<void(TShDirWatcher*)>;
    /// The handler owns the data it is given.
    using TDeviceHandler = std::function<void(TShDirWatcher*, std::unique_ptr<TDeviceChangeData>)>;

    /// Quiet times before a report.
    static constexpr int kChangeQuietMs = 1500;
    static constexpr int kDeviceQuietMs = 1000;

    /// Keeps the names of `directories` that are existing directories (as
    /// ShIncludeBackslash gives them, sorted, see SetDirectories) and starts
    /// the thread at once. `notifyFilter` is a FILE_NOTIFY_CHANGE_* mask.
    /// UI thread; create with new.
    TShDirWatcher(const std::vector<std::string>& directories, uint32_t notifyFilter,
                  TDeviceHandler deviceHandler, TChangeHandler changeHandler);

    /// Replaces the watched list by the names of `directories` that are
    /// existing directories, each with ShIncludeBackslash, sorted without
    /// regard to case (ties in byte order) and without repeats (two names are
    /// one directory only when their bytes are equal). Nothing happens when
    /// that list equals the current one. `nullptr` (none) empties the list
    /// and always makes the thread rebuild. UI thread.
    void SetDirectories(const std::vector<std::string>* directories);

    /// Keeps `data` as the pending notice (freeing one still pending) and
    /// restarts the device quiet time; ignored when no device handler is set.
    /// UI thread.
    void PostDeviceChange(std::unique_ptr<TDeviceChangeData> data);

    /// Clears both handlers and tells the thread to stop; it then frees
    /// itself. UI thread; the last call an owner makes.
    void ShutDown();

    /// The watched list. A directory that could not be watched has been
    /// dropped from it. Any thread.
    std::vector<std::string> Directories() const;

    /// How often a new list (or none) was handed to the thread.
    int ListChangedCount() const { return listChangedCount_.load(); }
    /// How often the thread has (re)built its notifications, the first
    /// build included.
    int RebuildCount() const { return rebuildCount_.load(); }
    /// Whether the thread watches the list last handed to it (as far as it
    /// could be watched). Any thread.
    bool WatchesLastList() const { return builtListCount_.load() == listChangedCount_.load(); }

protected:
    void Execute() override;

private:
    ~TShDirWatcher() override;

    enum class TAfterWait
    {
        Continue,
        Leave
    };
    void Rebuild(TInotify& inotify,
                 std::vector<std::unique_ptr<TChangeNotification>>& notifications,
                 std::vector<std::string>& watched);
    TAfterWait SettleDevice();
    void ReportChange();

    const uint32_t notifyFilter_;
    TEvent deviceEvent_{false, false};
    TEvent listChangedEvent_{false, false};
    mutable TLock lock_;
    std::vector<std::string> directories_;       // guarded by lock_
    std::unique_ptr<TDeviceChangeData> pending_; // guarded by lock_
    TDeviceHandler deviceHandler_;               // UI thread only
    TChangeHandler changeHandler_;               // UI thread only
    std::atomic<int> listChangedCount_{0};
    std::atomic<int> rebuildCount_{0};
    std::atomic<int> builtListCount_{0};
};

/// Watches one directory (not its sub-directories) and reports it after
/// 2000 ms without a further change. The file list runs two: names
/// (FILE_NAME | DIR_NAME) and contents (ATTRIBUTES | SIZE | LAST_WRITE).
/// A directory that goes away (removed, renamed, unmounted) while the
/// watcher still names it is watched again when it returns, also when a
/// medium is mounted on its path again; its going and its return are
/// reported as changes.
class TShFilesWatcher final : public TThread
{
public:
    using TChangeHandler = std::function<void(TShFilesWatcher*, const std::string& directory)>;

    static constexpr int kChangeQuietMs = 2000;

    /// Keeps `directory` as given and starts the thread at once; it watches
    /// the directory when it is an existing one (empty: none) and idles
    /// otherwise. UI thread; create with new.
    TShFilesWatcher(const std::string& directory, uint32_t notifyFilter,
                    TChangeHandler changeHandler);

    /// Nothing happens when `path` equals the current directory byte for
    /// byte and that directory is being watched; otherwise the watch moves
    /// to `path` when it is an existing directory, else the watcher idles
    /// with no directory. UI thread.
    void SetDirectory(const std::string& path);

    /// Clears the handler and tells the thread to stop; it then frees
    /// itself. UI thread; the last call an owner makes.
    void ShutDown();

    /// The current directory (empty: none). Any thread.
    std::string Directory() const;

    /// How often a watch was opened on an existing directory.
    int WatchCount() const { return watchCount_.load(); }

protected:
    void Execute() override;

private:
    ~TShFilesWatcher() override;

    /// The device and inode of the directory watched; none while it is
    /// missing.
    using TIdentity = std::optional<std::pair<dev_t, ino_t>>;
    std::unique_ptr<TChangeNotification> OpenWatch(TInotify& inotify, TIdentity& identity);
    void ReportChange();

    const uint32_t notifyFilter_;
    TEvent directoryChangedEvent_{false, false};
    mutable TLock lock_;
    std::string directory_;          // guarded by lock_
    bool watchingDirectory_ = false; // guarded by lock_
    TChangeHandler changeHandler_;   // UI thread only
    std::atomic<int> watchCount_{0};
};
