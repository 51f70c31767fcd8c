#include "platform/kernel/Kernel.h"

#include "platform/core/ExceptionHandler.h"
#include "platform/core/UiThreadCalls.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// ---------------------------------------------------------------------------
// Events

namespace {

// The counter is only a wake-up; the state lives in the atomic, so reading
// the counter to zero never loses a Set.
void DrainEventDescriptor(int fd)
{
    if (fd < 0)
        return;
    eventfd_t value;
    while (eventfd_read(fd, &value) < 0 && errno == EINTR) {
    }
}

} // namespace

TEvent::TEvent(bool manualReset, bool initiallySet)
    : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), manualReset_(manualReset), set_(initiallySet)
{
    if (initiallySet && fd_)
        eventfd_write(fd_.Get(), 1);
}

void TEvent::Set()
{
    // The state first: a waiter that drains the descriptor and then looks at
    // the state either sees it set or is woken by the write that follows.
    set_.store(true);
    if (fd_)
        eventfd_write(fd_.Get(), 1);
}

void TEvent::Reset()
{
    set_.store(false);
    DrainEventDescriptor(fd_.Get());
}

void TEvent::Absorb()
{
    DrainEventDescriptor(fd_.Get());
}

bool TEvent::IsSignalled() const
{
    return set_.load();
}

void TEvent::Acquire()
{
    if (manualReset_)
        return;
    set_.store(false);
    DrainEventDescriptor(fd_.Get());
}

// ---------------------------------------------------------------------------
// The wait

TWaitResult WaitForMultiple(std::span<TWaitable* const> slots, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const bool infinite = timeoutMs < 0;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs);

    std::vector<pollfd> descriptors;
    std::vector<TWaitable*> absorbers; // the first waitable of each descriptor
    for (TWaitable* slot : slots) {
        if (slot == nullptr || slot->Descriptor() < 0)
            continue;
        const int fd = slot->Descriptor();
        const bool known = std::any_of(descriptors.begin(), descriptors.end(),
                                       [fd](const pollfd& entry) { return entry.fd == fd; });
        if (known)
            continue;
        descriptors.push_back(
            {fd, static_cast<short>(slot->SignalsByPriority() ? POLLPRI : POLLIN), 0});
        absorbers.push_back(slot);
    }

    bool lastRound = false;
    for (;;) {
        for (size_t index = 0; index < slots.size(); ++index) {
            TWaitable* slot = slots[index];
            if (slot != nullptr && slot->IsSignalled()) {
                slot->Acquire();
                return WaitSlot(index);
            }
        }
        if (infinite && descriptors.empty())
            return WAIT_FAILED; // nothing could ever end this wait

        int pollTimeout = -1;
        if (!infinite) {
            const auto remaining = deadline - Clock::now();
            if (remaining <= Clock::duration::zero()) {
                pollTimeout = 0;
            } else {
                // Rounded up, so that a wait never wakes just before its end
                // and spins on zero-length polls.
                const auto ms = std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
                pollTimeout = static_cast<int>(std::min<long long>(ms, INT_MAX));
            }
        }

        if (lastRound)
            return WAIT_TIMEOUT;
        const int ready = poll(descriptors.data(), descriptors.size(), pollTimeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return WAIT_FAILED;
        }
        if (ready == 0) {
            if (pollTimeout == 0)
                return WAIT_TIMEOUT;
            continue; // the deadline is looked at again above
        }
        // Past the deadline, what this poll found gets one more look at the
        // states and no further poll, so a busy descriptor cannot stretch it.
        lastRound = pollTimeout == 0;
        for (size_t index = 0; index < descriptors.size(); ++index) {
            const short events = descriptors[index].revents;
            if (events & POLLNVAL)
                return WAIT_FAILED;
            // One absorb per descriptor: a shared inotify descriptor reads its
            // queue once and hands each event to every notification.
            if (events & (POLLIN | POLLPRI | POLLERR | POLLHUP))
                absorbers[index]->Absorb();
        }
    }
}

// ---------------------------------------------------------------------------
// Change notifications

namespace {

constexpr uint32_t kNameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr uint32_t kWriteEvents = IN_MODIFY | IN_CLOSE_WRITE;
constexpr uint32_t kSelfEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;

uint32_t WatchMask(uint32_t filter)
{
    uint32_t mask = IN_ONLYDIR | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;
    if (filter & (FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME))
        mask |= kNameEvents;
    if (filter & FILE_NOTIFY_CHANGE_ATTRIBUTES)
        mask |= IN_ATTRIB;
    if (filter & (FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE))
        mask |= kWriteEvents;
    return mask;
}

} // namespace

TMountTableChange::TMountTableChange()
    : fd_(open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC | O_NONBLOCK))
{
}

TInotify::TInotify() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

TInotify::~TInotify()
{
    for (TChangeNotification* notification : notifications_)
        notification->Lose();
    notifications_.clear();
}

void TInotify::Attach(TChangeNotification* notification)
{
    notifications_.push_back(notification);
}

void TInotify::Detach(TChangeNotification* notification)
{
    std::erase(notifications_, notification);
}

void TInotify::ReadEvents()
{
    if (!fd_)
        return;
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t length = read(fd_.Get(), buffer, sizeof buffer);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0)
            return; // EAGAIN: the queue is empty
        for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                // Events were lost: nobody can tell which directory changed.
                for (TChangeNotification* notification : notifications_)
                    notification->Overflow();
                continue;
            }
            // The same directory watched twice shares one watch descriptor,
            // so an event goes to every notification of that descriptor.
            for (TChangeNotification* notification : notifications_) {
                if (notification->watch_ == event->wd)
                    notification->Notice(event->mask, event->len > 0 ? std::string_view(event->name)
                                                                     : std::string_view());
            }
        }
    }
}

std::unique_ptr<TChangeNotification>
TChangeNotification::FindFirst(TInotify& inotify, const std::string& directory, uint32_t filter)
{
    if (!inotify.IsValid())
        return nullptr;
    // IN_MASK_ADD: a second notification on the same directory gets the same
    // watch descriptor and must not narrow what the first one hears.
    const int watch =
        inotify_add_watch(inotify.Descriptor(), directory.c_str(), WatchMask(filter) | IN_MASK_ADD);
    if (watch < 0)
        return nullptr; // ENOENT, EACCES, ENOTDIR, ENOSPC, EMFILE: cannot be watched
    return std::unique_ptr<TChangeNotification>(
        new TChangeNotification(inotify, directory, watch, filter));
}

TChangeNotification::TChangeNotification(TInotify& inotify, std::string directory, int watch,
                                         uint32_t filter)
    : inotify_(&inotify), directory_(std::move(directory)), watch_(watch), filter_(filter),
      tellsFolderLinks_(((filter & FILE_NOTIFY_CHANGE_FILE_NAME) != 0) !=
                        ((filter & FILE_NOTIFY_CHANGE_DIR_NAME) != 0))
{
    inotify_->Attach(this);
    // After the watch was added, so that a link made meanwhile is in one of
    // the two or in both.
    ReadFolderLinks();
}

TChangeNotification::~TChangeNotification()
{
    if (inotify_ == nullptr)
        return;
    inotify_->Detach(this);
    if (watch_ < 0)
        return;
    const bool shared =
        std::any_of(inotify_->notifications_.begin(), inotify_->notifications_.end(),
                    [this](const TChangeNotification* other) { return other->watch_ == watch_; });
    // EINVAL: the kernel dropped the watch already (directory deleted or
    // unmounted, IN_IGNORED not read yet); nothing to undo.
    if (!shared)
        inotify_rm_watch(inotify_->Descriptor(), watch_);
}

bool TChangeNotification::FindNext()
{
    signalled_ = false;
    return !gone_;
}

int TChangeNotification::Descriptor() const
{
    return inotify_ != nullptr ? inotify_->Descriptor() : -1;
}

void TChangeNotification::Absorb()
{
    if (inotify_ != nullptr)
        inotify_->ReadEvents();
}

namespace {

// Follows the link for the second look: a link to a directory is listed as
// a directory. Neither look opens anything.
bool IsFolderLink(int directoryFd, const char* name)
{
    struct stat facts;
    return fstatat(directoryFd, name, &facts, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(facts.st_mode) &&
           fstatat(directoryFd, name, &facts, 0) == 0 && S_ISDIR(facts.st_mode);
}

} // namespace

void TChangeNotification::ReadFolderLinks()
{
    folderLinks_.clear();
    if (!tellsFolderLinks_)
        return;
    TDirectoryReader reader(directory_);
    if (!reader.IsOpen())
        return;
    while (const dirent* entry = reader.Next()) {
        if ((entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) &&
            IsFolderLink(reader.Fd(), entry->d_name))
            folderLinks_.emplace(entry->d_name);
    }
}

bool TChangeNotification::IsFolderLinkEvent(std::string_view name)
{
    if (name.empty())
        return false;
    const auto known = folderLinks_.find(name);
    const bool was = known != folderLinks_.end();
    const bool is = IsFolderLink(AT_FDCWD, JoinPath(directory_, name).c_str());
    if (was && !is)
        folderLinks_.erase(known);
    else if (is && !was)
        folderLinks_.emplace(name);
    return was || is;
}

void TChangeNotification::Notice(uint32_t mask, std::string_view name)
{
    if (mask & kSelfEvents) {
        signalled_ = true;
        gone_ = true;
    }
    if (mask & IN_IGNORED) {
        // The kernel dropped the watch; its number may be handed out again,
        // so this notification must neither receive nor remove it any more.
        watch_ = -1;
        return;
    }
    if (mask & kNameEvents) {
        const bool folder = (mask & IN_ISDIR) || (tellsFolderLinks_ && IsFolderLinkEvent(name));
        const uint32_t wanted = folder ? FILE_NOTIFY_CHANGE_DIR_NAME : FILE_NOTIFY_CHANGE_FILE_NAME;
        if (filter_ & wanted)
            signalled_ = true;
    }
    if ((mask & IN_ATTRIB) && (filter_ & FILE_NOTIFY_CHANGE_ATTRIBUTES))
        signalled_ = true;
    if ((mask & kWriteEvents) &&
        (filter_ & (FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE)))
        signalled_ = true;
}

void TChangeNotification::Overflow()
{
    signalled_ = true;
    // Lost events may have made or removed links.
    ReadFolderLinks();
}

void TChangeNotification::Lose()
{
    inotify_ = nullptr;
    watch_ = -1;
    gone_ = true;
}

// ---------------------------------------------------------------------------
// Threads

namespace {

// One lock for the list of live runs; a run leaves it and hands its end
// over under this lock, so once StopAll sees the list empty every end is
// queued (the hand-over's lock nests inside this one, never the other way).
std::mutex gMutex;
std::condition_variable gRunEnded;
std::vector<TThread*> gLiveRuns;

enum class TPhase
{
    Pending,
    Running,
    Done,
    Abandoned,
};

struct TRequest
{
    TPhase Phase = TPhase::Pending;
    const std::function<void()>* Call = nullptr;
    std::exception_ptr Error;
};

} // namespace

struct TThread::TState
{
    std::mutex Mutex;
    std::condition_variable Changed;
    std::thread Worker;
    TThread* Owner = nullptr; // null once the object is gone
    bool Started = false;
    TEvent Terminated{true, false};
};

namespace {

/// Carried by a queued Synchronize call. When the call is dropped unrun (the
/// application went away), the last copy's end releases the waiting worker.
struct TSyncTicket
{
    std::shared_ptr<void> StateHolder;
    std::mutex* Mutex;
    std::condition_variable* Changed;
    std::shared_ptr<TRequest> Request;

    ~TSyncTicket()
    {
        {
            std::lock_guard lock(*Mutex);
            if (Request->Phase != TPhase::Pending)
                return;
            Request->Phase = TPhase::Abandoned;
            Request->Call = nullptr;
        }
        Changed->notify_all();
    }
};

} // namespace

/// Carried by a queued end notification. When it is dropped unrun (the
/// application went away while it was queued) the object is still freed, on
/// the UI thread, without OnTerminate: its listeners may be gone.
struct TThread::TEndTicket
{
    std::shared_ptr<TState> State;
    std::atomic<bool> Ran{false};

    ~TEndTicket()
    {
        if (!Ran)
            EndOfRun(State, false);
    }
};

TThread::TThread() : state_(std::make_shared<TState>())
{
    state_->Owner = this;
    PrepareUiThreadCalls();
}

// A subclass that did not wait in its own destructor is waited for here,
// too late for its members but before the object's memory goes.
TThread::~TThread()
{
    TerminateAndWait();
    std::lock_guard lock(state_->Mutex);
    state_->Owner = nullptr;
}

void TThread::TerminateAndWait()
{
    Terminate();
    std::thread worker;
    {
        std::lock_guard lock(state_->Mutex);
        worker = std::move(state_->Worker);
    }
    if (!worker.joinable())
        return;
    if (worker.get_id() == std::this_thread::get_id())
        worker.detach();
    else
        worker.join();
}

void TThread::Start()
{
    PrepareUiThreadCalls();
    std::shared_ptr<TState> state = state_;
    {
        std::lock_guard lock(state->Mutex);
        if (state->Started)
            return;
        state->Started = true;
    }
    {
        std::lock_guard lock(gMutex);
        gLiveRuns.push_back(this);
    }
    // The run waits for this lock, so the end notification (which joins
    // Worker) cannot come before Worker is assigned.
    std::unique_lock lock(state->Mutex);
    try {
        state->Worker = std::thread(&TThread::Run, this, state);
    } catch (...) {
        // No thread (resource limit): not a live run, or StopAll would wait
        // for it.
        lock.unlock();
        std::lock_guard liveLock(gMutex);
        std::erase(gLiveRuns, this);
        throw;
    }
}

void TThread::Run(TThread* self, std::shared_ptr<TState> state)
{
    {
        std::lock_guard lock(state->Mutex);
    }
    std::exception_ptr error;
    try {
        self->Execute();
    } catch (const TSystemCallError&) {
        // A failed system call ends a watcher without a report.
    } catch (...) {
        error = std::current_exception();
    }

    std::unique_lock lock(gMutex);
    std::erase(gLiveRuns, self);
    // The error travels through the same queue as the end notification: the
    // report comes first, and the exception object is handed over under a
    // lock that thread checkers see.
    if (error && PostToUiThread([error] { HandleException(error); }))
        error = nullptr;
    // `self` may be freed on the UI thread from the moment the post is made.
    auto ticket = std::make_shared<TEndTicket>();
    ticket->State = state;
    const bool posted = PostToUiThread([ticket] {
        ticket->Ran = true;
        EndOfRun(ticket->State, true);
    });
    if (posted) {
        ticket.reset(); // the queued call alone decides what its end does
    } else {
        // No UI thread to finish on: the object leaks (see the class comment).
        ticket->Ran = true;
        std::lock_guard stateLock(state->Mutex);
        if (state->Worker.joinable())
            state->Worker.detach();
    }
    lock.unlock();
    gRunEnded.notify_all();
    if (error)
        HandleException(error); // no UI thread any more: reported from here
}

void TThread::EndOfRun(const std::shared_ptr<TState>& state, bool mayNotify)
{
    std::thread worker;
    if (!IsUiThread() && QCoreApplication::instance() != nullptr) {
        // Never free or notify off the UI thread: the object leaks.
        std::lock_guard lock(state->Mutex);
        if (state->Worker.joinable())
            state->Worker.detach();
        return;
    }
    TThread* owner;
    {
        std::lock_guard lock(state->Mutex);
        worker = std::move(state->Worker);
        owner = state->Owner;
    }
    // The run has posted its last act; joining waits only for its return.
    if (worker.joinable())
        worker.join();
    if (owner == nullptr)
        return;
    if (mayNotify && owner->OnTerminate) {
        // A copy: the handler may clear OnTerminate while it runs.
        const std::function<void(TThread*)> handler = owner->OnTerminate;
        try {
            handler(owner);
        } catch (...) {
            HandleException(std::current_exception());
        }
    }
    if (owner->FreeOnTerminate)
        delete owner;
}

TWaitable& TThread::TerminateEvent()
{
    return state_->Terminated;
}

void TThread::Terminate()
{
    terminated_.store(true);
    state_->Terminated.Set();
    // Under the lock, so a Synchronize between its check and its wait cannot
    // miss the wake-up.
    {
        std::lock_guard lock(state_->Mutex);
    }
    state_->Changed.notify_all();
}

bool TThread::Synchronize(const std::function<void()>& call)
{
    if (IsUiThread()) {
        call();
        return true;
    }
    if (terminated_.load())
        return false;
    std::shared_ptr<TState> state = state_;
    auto request = std::make_shared<TRequest>();
    request->Call = &call;

    auto ticket = std::make_shared<TSyncTicket>();
    ticket->StateHolder = state;
    ticket->Mutex = &state->Mutex;
    ticket->Changed = &state->Changed;
    ticket->Request = request;
    const bool posted = PostToUiThread([ticket] {
        TRequest& request = *ticket->Request;
        const std::function<void()>* call;
        {
            std::lock_guard lock(*ticket->Mutex);
            if (request.Phase != TPhase::Pending)
                return; // the worker gave up before the call started
            request.Phase = TPhase::Running;
            call = request.Call;
        }
        std::exception_ptr error;
        try {
            (*call)();
        } catch (...) {
            error = std::current_exception();
        }
        {
            // Moved, so that only the worker holds the exception from
            // here on: its count is not visible to thread checkers.
            std::lock_guard lock(*ticket->Mutex);
            request.Error = std::move(error);
            request.Phase = TPhase::Done;
            request.Call = nullptr;
        }
        ticket->Changed->notify_all();
    });
    ticket.reset();
    if (!posted)
        return false;

    std::unique_lock lock(state->Mutex);
    state->Changed.wait(lock, [&] {
        if (request->Phase == TPhase::Pending && terminated_.load()) {
            request->Phase = TPhase::Abandoned;
            request->Call = nullptr;
        }
        return request->Phase == TPhase::Done || request->Phase == TPhase::Abandoned;
    });
    if (request->Phase == TPhase::Abandoned)
        return false;
    std::exception_ptr error = std::move(request->Error);
    lock.unlock();
    if (error)
        std::rethrow_exception(error);
    return true;
}

bool TThread::StopAll(int timeoutMs)
{
    std::unique_lock lock(gMutex);
    // Terminate first: a run waiting in Synchronize for this very thread then
    // gives up instead of waiting for an event loop that is not running.
    for (TThread* thread : gLiveRuns)
        thread->Terminate();
    const auto allEnded = [] { return gLiveRuns.empty(); };
    if (timeoutMs == INFINITE) {
        gRunEnded.wait(lock, allEnded);
        return true;
    }
    return gRunEnded.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)), allEnded);
}
