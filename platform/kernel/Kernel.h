#pragma once

#include "platform/core/Posix.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The primitives the watcher threads are written against: events, a wait on
// several of them, a lock, a change notification for one directory (over
// inotify), a mount-table change and a thread class whose Synchronize runs
// a call on the UI thread. Waits are poll(2) over eventfd, inotify and
// mount-table descriptors.

/// Something a wait can end on.
class TWaitable
{
public:
    virtual ~TWaitable() = default;
    /// The descriptor that becomes readable when the state may have changed
    /// (several waitables may share one).
    virtual int Descriptor() const = 0;
    /// Reads what made the descriptor readable (called by the wait, once per
    /// readable descriptor, before the states are looked at again).
    virtual void Absorb() = 0;
    virtual bool IsSignalled() const = 0;
    /// The wait ended on this one: an automatic-reset event clears here.
    virtual void Acquire() {}
    /// Whether the descriptor tells of a change by priority data (POLLPRI)
    /// rather than by becoming readable.
    virtual bool SignalsByPriority() const { return false; }
};

/// An event with manual or automatic reset. Set and Reset may be called
/// from any thread; one thread waits on it. A manual-reset event stays set
/// until Reset; an automatic-reset one is cleared by the wait that it ends.
/// Setting an event that is already set changes nothing (no count).
class TEvent : public TWaitable
{
public:
    TEvent(bool manualReset, bool initiallySet);
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    /// False when the descriptor could not be made (the event never signals).
    bool IsValid() const { return fd_.IsOpen(); }
    void Set();
    void Reset();

    int Descriptor() const override { return fd_.Get(); }
    void Absorb() override;
    bool IsSignalled() const override;
    void Acquire() override;

private:
    TUniqueFd fd_;
    bool manualReset_;
    std::atomic<bool> set_;
};

/// What a wait ended on: a slot (with its index), the time limit, or a
/// failure; never mistaken for one another, whatever the number of slots.
struct TWaitResult
{
    enum class TKind : uint8_t
    {
        Slot,
        Timeout,
        Failed,
    };
    TKind Kind = TKind::Failed;
    size_t Index = 0; // the slot; 0 for the other kinds

    constexpr bool IsSlot() const { return Kind == TKind::Slot; }
    friend constexpr bool operator==(const TWaitResult&, const TWaitResult&) = default;
};

constexpr TWaitResult WaitSlot(size_t index)
{
    return {TWaitResult::TKind::Slot, index};
}
constexpr TWaitResult WAIT_TIMEOUT{TWaitResult::TKind::Timeout, 0};
constexpr TWaitResult WAIT_FAILED{TWaitResult::TKind::Failed, 0};
constexpr int INFINITE = -1;

/// Waits until one of the slots is signalled or `timeoutMs` pass (INFINITE:
/// no limit). Answers the lowest signalled slot (so the order of the slots
/// decides when several are signalled), WAIT_TIMEOUT, or WAIT_FAILED when
/// poll fails (or when an infinite wait has no descriptor that could ever
/// end it). A null slot is never signalled. A slot already signalled is
/// answered without blocking, also with a zero timeout. The slot that is
/// answered is acquired (an automatic-reset event clears); the others are
/// left as they are.
TWaitResult WaitForMultiple(std::span<TWaitable* const> slots, int timeoutMs);

/// The lock of a watcher (a critical section).
using TLock = std::mutex;

// Change filter bits.
constexpr uint32_t FILE_NOTIFY_CHANGE_FILE_NAME = 0x1;
constexpr uint32_t FILE_NOTIFY_CHANGE_DIR_NAME = 0x2;
constexpr uint32_t FILE_NOTIFY_CHANGE_ATTRIBUTES = 0x4;
constexpr uint32_t FILE_NOTIFY_CHANGE_SIZE = 0x8;
constexpr uint32_t FILE_NOTIFY_CHANGE_LAST_WRITE = 0x10;

/// Signalled when the mount table of this process changed since the wait
/// it last ended (automatic reset): the kernel marks /proc/self/mountinfo
/// with priority data on every mount and unmount. Used by one thread.
class TMountTableChange : public TWaitable
{
public:
    TMountTableChange();
    /// False when the table could not be opened (it never signals then).
    bool IsValid() const { return fd_.IsOpen(); }

    int Descriptor() const override { return fd_.Get(); }
    /// Only called after poll saw the mark, which that poll also cleared.
    void Absorb() override { signalled_ = true; }
    bool IsSignalled() const override { return signalled_; }
    void Acquire() override { signalled_ = false; }
    bool SignalsByPriority() const override { return true; }

private:
    TUniqueFd fd_;
    bool signalled_ = false;
};

class TChangeNotification;

/// One inotify instance, shared by the change notifications of one thread
/// (the per-user limit of instances is small and shared by every process).
/// Used by one thread. Destroy the notifications first; a notification that
/// outlives its instance is marked gone and never signals again.
class TInotify
{
public:
    TInotify();
    ~TInotify();
    TInotify(const TInotify&) = delete;
    TInotify& operator=(const TInotify&) = delete;

    bool IsValid() const { return fd_.IsOpen(); }
    int Descriptor() const { return fd_.Get(); }

private:
    friend class TChangeNotification;
    /// Reads every pending event and passes it to the notifications.
    void ReadEvents();
    void Attach(TChangeNotification* notification);
    void Detach(TChangeNotification* notification);

    TUniqueFd fd_; // closing it drops every watch of the instance
    std::vector<TChangeNotification*> notifications_;
};

/// A change notification for one directory, without its sub-directories.
/// Signalled when a change its filter asks for happened since the last
/// FindNext; also when the queue overflowed (every directory counts as
/// changed) and when the directory itself was deleted, moved or unmounted
/// (then Gone() is true and the owner drops it at its next rebuild).
///
/// Filter: FILE_NAME is the creation, deletion or either half of a rename of
/// anything but a directory; DIR_NAME the same of a sub-directory or of a
/// symbolic link to a directory (one that is one now or was one when last
/// looked at: the links are read when the watch is added);
/// ATTRIBUTES an attribute change (mode, owner, times set explicitly) of the
/// directory or an entry; SIZE and LAST_WRITE a write or truncation of an
/// entry (including the close of a file opened for writing). Several
/// notifications may watch the same directory on one TInotify. Used on the
/// thread of its TInotify; destruction removes the kernel watch.
class TChangeNotification : public TWaitable
{
public:
    /// Null when the directory cannot be watched (missing, no permission,
    /// ENOSPC or EMFILE: the user's watch limit is reached).
    static std::unique_ptr<TChangeNotification>
    FindFirst(TInotify& inotify, const std::string& directory, uint32_t filter);
    ~TChangeNotification() override;
    TChangeNotification(const TChangeNotification&) = delete;
    TChangeNotification& operator=(const TChangeNotification&) = delete;

    /// Re-arms: what was read so far no longer signals (events still queued
    /// in the kernel signal at the next wait). False when the watch is gone.
    bool FindNext();
    bool Gone() const { return gone_; }
    const std::string& Directory() const { return directory_; }

    int Descriptor() const override;
    void Absorb() override;
    bool IsSignalled() const override { return signalled_; }

private:
    friend class TInotify;
    TChangeNotification(TInotify& inotify, std::string directory, int watch, uint32_t filter);
    /// One event of this watch (mask and entry name of the inotify event).
    void Notice(uint32_t mask, std::string_view name);
    void Overflow();
    void Lose();
    /// Whether a name event without IN_ISDIR is about a link to a directory;
    /// keeps folderLinks_ up to date.
    bool IsFolderLinkEvent(std::string_view name);
    void ReadFolderLinks();

    TInotify* inotify_; // null once the instance went away
    std::string directory_;
    int watch_;
    uint32_t filter_;
    // Only a filter that takes one of file names and directory names needs
    // to tell links to directories apart.
    bool tellsFolderLinks_;
    std::set<std::string, std::less<>> folderLinks_;
    bool signalled_ = false;
    bool gone_ = false;
};

/// A worker thread. Start runs Execute on a thread of its own; when it
/// returns, the end notification runs on the UI thread and then, with
/// FreeOnTerminate, the object deletes itself there. Create it with new,
/// while the application object exists; the first one on the UI thread
/// (that is where the hand-over to the UI thread, UiThreadCalls, is made;
/// Synchronize and the end notification go through it). A run that leaves
/// with an exception has it reported before its end notification runs.
///
/// Without FreeOnTerminate the owner deletes it on the UI thread, after the
/// end notification or earlier: a subclass calls TerminateAndWait first
/// thing in its destructor, so that the run has ended before the members it
/// uses go. With FreeOnTerminate nobody deletes it.
///
/// At exit: when the application object goes away with end notifications
/// still queued, those objects are freed without OnTerminate; a run that
/// ends after the application object is gone leaks its object (nothing may
/// run it on the UI thread any more).
class TThread
{
public:
    TThread();
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    /// Starts the run; a second call does nothing. Throws std::system_error
    /// when no thread can be made.
    void Start();
    /// Tells the run to stop; a Synchronize that has not started gives up.
    /// Any thread.
    void Terminate();
    bool Terminated() const { return terminated_.load(); }

    /// Called on the UI thread after the run ended, before the object is
    /// freed; clear it (UI thread) to hear nothing. An exception it throws
    /// goes to the exception handler.
    std::function<void(TThread*)> OnTerminate;
    bool FreeOnTerminate = true;

    /// Tells every running thread to stop and waits up to `timeoutMs` for
    /// their runs to end (UI thread, before the application object goes
    /// away; INFINITE: no limit). True when all ended in time. Their end
    /// notifications stay queued and run when the event loop runs again.
    static bool StopAll(int timeoutMs);

protected:
    /// The run. An exception that leaves it goes to the application's
    /// exception handler, except TSystemCallError, which ends it quietly.
    virtual void Execute() = 0;
    /// Runs `call` on the UI thread while this thread waits; false when the
    /// thread was told to stop before the call started (it then never runs)
    /// or when the application object is gone. Called on the UI thread
    /// itself, it runs the call at once. An exception thrown by `call` is
    /// thrown again here, on this thread.
    bool Synchronize(const std::function<void()>& call);
    /// Signalled (and stays so) once Terminate was called: a run puts it
    /// among the slots of its waits to end a wait when it is told to stop.
    TWaitable& TerminateEvent();
    /// Tells the run to stop and waits until it has returned (at once when it
    /// never started or has ended). For the destructor of a subclass, on the
    /// UI thread; an end notification still queued then does nothing.
    void TerminateAndWait();

private:
    struct TState;
    struct TEndTicket;
    static void Run(TThread* self, std::shared_ptr<TState> state);
    static void EndOfRun(const std::shared_ptr<TState>& state, bool mayNotify);
    std::shared_ptr<TState> state_;
    std::atomic<bool> terminated_{false};
};

/// The error a failed system call raises inside a run: it ends the run
/// quietly, without a report.
class TSystemCallError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};
