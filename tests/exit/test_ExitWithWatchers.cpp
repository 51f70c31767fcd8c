// The application object must go away within a second while watcher threads
// still wait, and no watcher may outlive it. A program of its own, because the
// application object of a test binary lives until the end of main.
#include "app/TML.h"
#include "platform/kernel/Kernel.h"
#include "shell/ShellNotify.h"
#include "tests/support/TestFiles.h"

#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <thread>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TTestDir directory;
    std::atomic<int> reports{0};
    auto application = std::make_unique<TML>(argc, argv);

    // Never shut down by an owner: the application has to stop them.
    new TShDirWatcher({directory.Path()}, FILE_NOTIFY_CHANGE_DIR_NAME, nullptr,
                      [&reports](TShDirWatcher*) { ++reports; });
    new TShFilesWatcher(directory.Path(), FILE_NOTIFY_CHANGE_FILE_NAME,
                        [&reports](TShFilesWatcher*, const std::string&) { ++reports; });
    // Let both runs reach their waits, then leave a change pending in each, so
    // that both are inside their quiet interval when the application ends.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    WriteFileBytes(directory.File("new.mp3"), "x");
    Check(mkdir(directory.File("sub").c_str(), 0755) == 0, "mkdir");
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the changes reach the watchers

    QElapsedTimer timer;
    timer.start();
    application.reset();
    const qint64 elapsed = timer.elapsed();

    // Nothing may be left running: a zero-time stop finds no run to wait for.
    const bool noneRunning = TThread::StopAll(0);
    // Long enough for both quiet intervals to pass, had a watcher survived.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    std::printf("application ended in %lld ms; watchers running after it: %s; reports: %d\n",
                static_cast<long long>(elapsed), noneRunning ? "none" : "some", reports.load());
    // A second with some room for a loaded machine.
    const bool ok = elapsed < 1500 && noneRunning && reports.load() == 0;
    return ok ? 0 : 1;
}
