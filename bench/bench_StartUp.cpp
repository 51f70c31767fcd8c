// Start-up: from the application object made to the main window exposed,
// with the tree, the list and the real player built (the splash, which the
// program entry shows, is not waited for), beside a bare QMainWindow with a
// menu shown the same way. Every figure comes from a fresh process (the
// bench runs itself again with --child), median over rounds; the parts of
// the main window's figure are timed apart in processes of their own:
//  - "parts": GStreamer's initialisation, the player built, the window built
//    around it, show(), exposure;
//  - "controls": the font database loaded, then the folder tree and the file
//    list built alone as the window builds them, and the tree filling the
//    list.
// The first widget that measures text pays for loading the fonts (the tree,
// in the window; the bare window's show()).
// The first round of a new user also builds GStreamer's registry and the
// user's caches; it is printed apart and left out of the medians.
//
// Goal: none beyond the report; the figure is compared with the bare window.
//
//   bench_StartUp [rounds]
//
// The platform is the environment's (offscreen when none is set); run under
// a display with DISPLAY and QT_QPA_PLATFORM=xcb.
#include "app/Unt_Main.h"
#include "bench/BenchSupport.h"
#include "platform/kernel/Kernel.h"
#include "platform/media/MediaPlayer.h"
#include "shellctrls/ShellListView.h"
#include "shellctrls/ShellTreeView.h"
#include "tests/support/TestFiles.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMainWindow>
#include <QMenuBar>
#include <QWindow>
#include <gst/gst.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

// One child's report: named moments, printed as milliseconds since the
// application object was made, and the moment itself as clock nanoseconds.
class TStamps
{
public:
    TStamps() : start_(TClock::now()) {}
    void Stamp(const char* name)
    {
        const double ms = std::chrono::duration<double, std::milli>(TClock::now() - start_).count();
        std::printf("%s %.3f\n", name, ms);
    }
    void PrintStart() const
    {
        std::printf("start-ns %lld\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                               start_.time_since_epoch())
                                               .count()));
    }

private:
    TClock::time_point start_;
};

long long NowNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(TClock::now().time_since_epoch())
        .count();
}

// Shows the window and processes events until the platform says it is
// exposed; false after ten seconds.
bool ShowExposed(QWidget& window, TStamps& stamps)
{
    window.show();
    stamps.Stamp("shown");
    const TClock::time_point deadline = TClock::now() + std::chrono::seconds(10);
    while (window.windowHandle() == nullptr || !window.windowHandle()->isExposed()) {
        if (TClock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    stamps.Stamp("exposed");
    return true;
}

int RunMode(const std::string& mode, TStamps& stamps)
{
    if (mode == "bare") {
        QMainWindow window;
        window.setGeometry(258, 101, 754, 541);
        QMenu* menu = window.menuBar()->addMenu(QStringLiteral("ファイル"));
        menu->addAction(QStringLiteral("終了"));
        window.setCentralWidget(new QWidget(&window));
        stamps.Stamp("built");
        return ShowExposed(window, stamps) ? 0 : 1;
    }
    if (mode == "main") {
        Tfrm_Main window;
        stamps.Stamp("built");
        return ShowExposed(window, stamps) ? 0 : 1;
    }
    if (mode == "parts") {
        gst_init(nullptr, nullptr);
        stamps.Stamp("gst-init");
        auto player = std::make_unique<TMediaPlayer>();
        stamps.Stamp("player");
        Tfrm_Main window(std::move(player));
        stamps.Stamp("built");
        return ShowExposed(window, stamps) ? 0 : 1;
    }
    if (mode == "controls") {
        // The first text measured loads the font database, whichever widget
        // measures it; apart, so that the tree's figure is its own.
        QWidget holder;
        QFontMetrics(holder.font()).height();
        stamps.Stamp("fonts");
        auto* tree = new TShellTreeView(&holder);
        tree->SetIndent(19);
        tree->SetShowRoot(false);
        tree->SetCheckboxes(false);
        tree->SetShVirtuaItems({itBitBucket, itNetWork, itVirtual});
        stamps.Stamp("tree");
        auto* list = new TShellListView(&holder);
        list->SetMultiSelect(true);
        list->SetViewStyle(vsReport);
        list->SetShVirtuaItems({itBitBucket, itNetWork, itVirtual});
        stamps.Stamp("list");
        tree->SetShellListView(list);
        stamps.Stamp("tree-fills-list");
        return 0;
    }
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}

int Child(const std::string& mode, int argc, char** argv)
{
    QApplication application(argc, argv);
    TStamps stamps;
    stamps.PrintStart();
    const int result = RunMode(mode, stamps);
    // The controls' watcher threads end before the application object goes.
    TThread::StopAll(1000);
    return result;
}

using TReport = std::map<std::string, double>;

// Runs this program again with --child and the mode; its report, and
// "spawn" (from fork to the application object made), "total" (fork to the
// last moment). Empty when the child failed.
TReport RunChild(const char* mode, const std::string& errorFile)
{
    int pipeFds[2];
    Check(pipe(pipeFds) == 0, "pipe");
    const long long forked = NowNanoseconds();
    const pid_t pid = fork();
    Check(pid >= 0, "fork");
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        // The platform's warnings go to a file, shown when the child fails.
        const int errors =
            ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (errors >= 0)
            dup2(errors, STDERR_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        char self[] = "/proc/self/exe";
        char child[] = "--child";
        char* arguments[] = {self, child, const_cast<char*>(mode), nullptr};
        execv(self, arguments);
        _exit(127);
    }
    close(pipeFds[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t got; (got = read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0)
            break;
        output.append(buffer, static_cast<size_t>(got));
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    TReport report;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "child %s failed (status %d): %s\n%s\n", mode, status, output.c_str(),
                     ReadFileBytes(errorFile).c_str());
        return report;
    }
    double last = 0;
    long long start = 0;
    for (size_t at = 0; at < output.size();) {
        const size_t end = output.find('\n', at);
        const std::string line = output.substr(at, end - at);
        at = end == std::string::npos ? output.size() : end + 1;
        const size_t space = line.find(' ');
        if (space == std::string::npos)
            continue;
        const std::string name = line.substr(0, space);
        if (name == "start-ns") {
            start = std::atoll(line.c_str() + space + 1);
            continue;
        }
        const double ms = std::atof(line.c_str() + space + 1);
        report[name] = ms;
        last = std::max(last, ms);
    }
    report["spawn"] = static_cast<double>(start - forked) * 1e-6;
    report["total"] = report["spawn"] + last;
    return report;
}

// Prints the median of a moment (or of the time between two) and answers it;
// 0 when a report lacks it.
double PrintRow(const char* label, const std::vector<TReport>& reports, const std::string& name,
                const std::string& since = "")
{
    std::vector<double> values;
    for (const TReport& report : reports) {
        const auto found = report.find(name);
        if (found == report.end())
            return 0;
        double value = found->second;
        if (!since.empty())
            value -= report.at(since);
        values.push_back(value);
    }
    if (values.empty())
        return 0;
    std::printf("  %-44s %8.1f ms  (min %7.1f, max %7.1f)\n", label, Median(values),
                *std::min_element(values.begin(), values.end()),
                *std::max_element(values.begin(), values.end()));
    return Median(values);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0)
        return Child(argv[2], argc, argv);

    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    TTestDir dir;
    UseOwnDesktop(dir);
    setenv("TUNEMILL_AUDIO_SINK", "fakesink", 1);

    const std::string errorFile = dir.File("child-errors.txt");
    const char* const modes[] = {"bare", "main", "parts", "controls"};
    std::map<std::string, TReport> first;
    for (const char* mode : modes) {
        first[mode] = RunChild(mode, errorFile);
        if (first[mode].empty())
            return 1;
    }
    std::map<std::string, std::vector<TReport>> reports;
    // Taken in turn, so that a slow moment of the machine hits all.
    for (int round = 0; round < rounds; ++round) {
        for (const char* mode : modes) {
            TReport report = RunChild(mode, errorFile);
            if (report.empty())
                return 1;
            reports[mode].push_back(std::move(report));
        }
    }

    std::printf("platform %s, %d rounds, load %s\n",
                getenv("QT_QPA_PLATFORM") ? getenv("QT_QPA_PLATFORM") : "(default)", rounds,
                ReadFileBytes("/proc/loadavg").substr(0, 14).c_str());
    std::printf("first round of a new user (caches and GStreamer's registry built): "
                "bare %.1f ms, main %.1f ms to exposed\n",
                first["bare"]["exposed"], first["main"]["exposed"]);
    std::printf("application object made -> window exposed, medians:\n");
    PrintRow("bare QMainWindow with a menu", reports["bare"], "exposed");
    PrintRow("Tfrm_Main (tree, list, player)", reports["main"], "exposed");
    PrintRow("bare: process start -> application object", reports["bare"], "spawn");
    PrintRow("main: process start -> application object", reports["main"], "spawn");
    std::printf("the bare window's steps:\n");
    PrintRow("built", reports["bare"], "built");
    PrintRow("show()", reports["bare"], "shown", "built");
    PrintRow("show() returned -> exposed", reports["bare"], "exposed", "shown");
    std::printf("the main window's steps (\"parts\" processes):\n");
    const std::pair<const char*, double> parts[] = {
        {"GStreamer's initialisation",
         PrintRow("GStreamer initialised (gst_init)", reports["parts"], "gst-init")},
        {"the player",
         PrintRow("TMediaPlayer built, after gst_init", reports["parts"], "player", "gst-init")},
        {"the window's build",
         PrintRow("Tfrm_Main built around the player", reports["parts"], "built", "player")},
        {"show()", PrintRow("show()", reports["parts"], "shown", "built")},
        {"the wait for exposure",
         PrintRow("show() returned -> exposed", reports["parts"], "exposed", "shown")},
    };
    const double all = PrintRow("all", reports["parts"], "exposed");
    const auto largest = std::max_element(
        parts, std::end(parts), [](const auto& a, const auto& b) { return a.second < b.second; });
    std::printf("  largest part: %s, %.0f %% of all\n", largest->first,
                all > 0 ? largest->second / all * 100 : 0.0);
    std::printf("the window's controls built alone (\"controls\" processes):\n");
    PrintRow("font database loaded (first text measured)", reports["controls"], "fonts");
    PrintRow("TShellTreeView built", reports["controls"], "tree", "fonts");
    PrintRow("TShellListView built", reports["controls"], "list", "tree");
    PrintRow("the tree fills the list (SetShellListView)", reports["controls"], "tree-fills-list",
             "list");
    return 0;
}
