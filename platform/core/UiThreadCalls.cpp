#include "platform/core/UiThreadCalls.h"

#include "platform/core/Posix.h"

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <atomic>
#include <cerrno>
#include <deque>
#include <mutex>
#include <sys/eventfd.h>

namespace {

class TDispatcher : public QObject
{
public:
    explicit TDispatcher(int wakeFd);
    ~TDispatcher() override;

    void Wake() const { eventfd_write(wakeFd_.Get(), 1); }

private:
    void RunQueued();

    TUniqueFd wakeFd_;
};

// One lock for the dispatcher pointer and its queue: a post and the
// dispatcher's end exclude each other, so nothing is queued for a
// dispatcher that is being destroyed.
std::mutex gMutex;
TDispatcher* gDispatcher = nullptr;
std::deque<std::function<void()>> gQueued;
// The dispatcher's thread, so that other threads can tell where they are
// without asking the application object.
std::atomic<QThread*> gUiThread{nullptr};

void DrainWake(int fd)
{
    eventfd_t value;
    while (eventfd_read(fd, &value) < 0 && errno == EINTR) {
    }
}

TDispatcher::TDispatcher(int wakeFd) : wakeFd_(wakeFd)
{
    auto* notifier = new QSocketNotifier(wakeFd_.Get(), QSocketNotifier::Read, this);
    QObject::connect(notifier, &QSocketNotifier::activated, this, [this] { RunQueued(); });
}

TDispatcher::~TDispatcher()
{
    std::deque<std::function<void()>> dropped;
    bool current = false;
    {
        std::lock_guard lock(gMutex);
        if (gDispatcher == this) {
            current = true;
            gDispatcher = nullptr;
            dropped.swap(gQueued);
        }
    }
    // Destroyed outside the lock: a dropped call may own objects whose
    // destructors hand calls over again.
    dropped.clear();
    if (current)
        gUiThread.store(nullptr);
}

void TDispatcher::RunQueued()
{
    DrainWake(wakeFd_.Get());
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard lock(gMutex);
            if (gQueued.empty())
                return;
            call = std::move(gQueued.front());
            gQueued.pop_front();
        }
        call();
    }
}

} // namespace

void PrepareUiThreadCalls()
{
    QCoreApplication* application = QCoreApplication::instance();
    // A socket notifier belongs to the thread that makes it.
    if (application == nullptr || QThread::currentThread() != application->thread())
        return;
    {
        std::lock_guard lock(gMutex);
        if (gDispatcher != nullptr)
            return;
    }
    // Only this thread makes one, so nobody can meanwhile.
    const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0)
        return;
    auto* dispatcher = new TDispatcher(wakeFd);
    dispatcher->setParent(application);
    gUiThread.store(QThread::currentThread());
    std::lock_guard lock(gMutex);
    gDispatcher = dispatcher;
}

bool IsUiThread()
{
    QThread* uiThread = gUiThread.load();
    if (uiThread == nullptr) {
        // No hand-over yet: only the UI thread itself can have asked then.
        QCoreApplication* application = QCoreApplication::instance();
        return application != nullptr && QThread::currentThread() == application->thread();
    }
    return QThread::currentThread() == uiThread;
}

bool PostToUiThread(std::function<void()> call)
{
    {
        std::lock_guard lock(gMutex);
        if (gDispatcher != nullptr) {
            gQueued.push_back(std::move(call));
            gDispatcher->Wake();
            return true;
        }
    }
    return false; // `call` goes here, outside the lock
}
