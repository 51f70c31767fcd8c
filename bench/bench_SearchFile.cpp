// Cost of a recursive search against two floors, the plainest breadth-first
// walks that read every directory once: one examines every entry (what a
// search whose handler reads the entries' data cannot do without), the other
// only entries whose type the directory does not tell (all a search whose
// handler reads names only needs).
#include "search/SearchFile.h"
#include "tests/support/TestFiles.h"

#include <cstdio>
#include <ctime>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kDirectories = 5000;
constexpr int kEntries = 100'000;
constexpr int kLevels = 5;

// The processor time of this process (user and system): the walks are
// synchronous and the tree is cached, so this is their cost, without the
// other work of a shared machine that wall time would add.
double ProcessSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

template <typename Function> double Seconds(Function&& function)
{
    const double start = ProcessSeconds();
    function();
    return ProcessSeconds() - start;
}

// Five levels: four of five sub-directories each, the rest of the 5,000 on
// the fifth level, and the files spread evenly over every directory.
void BuildTree(const std::string& base)
{
    std::vector<std::string> level{base};
    std::vector<std::string> all;
    int made = 0;
    for (int depth = 1; depth <= kLevels; ++depth) {
        std::vector<std::string> next;
        const int perParent = depth < kLevels
                                  ? 5
                                  : (kDirectories - made + static_cast<int>(level.size()) - 1) /
                                        static_cast<int>(level.size());
        for (const std::string& parent : level) {
            for (int i = 0; i < perParent && made < kDirectories; ++i, ++made) {
                std::string path = parent + "/フォルダ" + std::to_string(i);
                mkdir(path.c_str(), 0755);
                next.push_back(path);
                all.push_back(path);
            }
        }
        level = std::move(next);
    }
    const int files = kEntries - kDirectories;
    for (int i = 0; i < files; ++i) {
        const std::string path =
            all[static_cast<size_t>(i) % all.size()] + "/曲 " + std::to_string(i) + ".mp3";
        close(open(path.c_str(), O_CREAT | O_WRONLY, 0644));
    }
}

// The floors: a breadth-first readdir walk that examines every entry
// (statEvery) or only those whose type the directory does not tell.
long Walk(const std::string& base, bool statEvery)
{
    long count = 0;
    std::deque<std::string> queue{base};
    while (!queue.empty()) {
        const std::string directory = queue.front() + "/";
        queue.pop_front();
        DIR* dir = opendir(directory.c_str());
        if (dir == nullptr)
            continue;
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.' &&
                (entry->d_name[1] == '\0' || (entry->d_name[1] == '.' && entry->d_name[2] == '\0')))
                continue;
            bool isDirectory = entry->d_type == DT_DIR;
            if (statEvery || entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
                struct stat status;
                if (fstatat(dirfd(dir), entry->d_name, &status, 0) != 0) {
                    if (statEvery)
                        continue;
                    isDirectory = false;
                } else {
                    isDirectory = S_ISDIR(status.st_mode);
                }
            }
            ++count;
            if (isDirectory)
                queue.push_back(directory + entry->d_name);
        }
        closedir(dir);
    }
    return count;
}

long SearchRun(const std::string& base, bool wantsData)
{
    long count = 0;
    TSearchFile search;
    search.SetDirectory(base);
    search.SetRecursive(true);
    search.SetWantsData(wantsData);
    search.OnFind = [&count](QObject*, const std::string&, TSearchFileData, bool&) { ++count; };
    search.Execute();
    return count;
}

} // namespace

int main()
{
    TTestDir tree;
    std::printf("building %d entries in %d directories...\n", kEntries, kDirectories);
    BuildTree(tree.Path());

    sync(); // keep write-back of the new tree out of the measurements

    struct TRun
    {
        const char* name;
        std::function<long()> run;
        double seconds = 1e30;
        long count = 0;
    };
    const std::string base = tree.Path();
    TRun runs[] = {
        {"stat-every-entry walk", [&] { return Walk(base, true); }},
        {"readdir walk", [&] { return Walk(base, false); }},
        {"search reading data", [&] { return SearchRun(base, true); }},
        {"search reading names", [&] { return SearchRun(base, false); }},
    };
    Walk(base, true); // warm the caches
    // Interleaved rounds, so that a slow moment of the machine hits all.
    for (int round = 0; round < 7; ++round) {
        for (TRun& run : runs)
            run.seconds = std::min(run.seconds, Seconds([&] { run.count = run.run(); }));
    }
    bool allCounted = true;
    for (const TRun& run : runs) {
        std::printf("%-22s %8.1f ms (%ld entries)\n", run.name, run.seconds * 1e3, run.count);
        allCounted = allCounted && run.count == kEntries;
    }
    std::printf("search reading data / stat-every-entry walk: ratio %.2f (goal: at most 1.5)\n",
                runs[2].seconds / runs[0].seconds);
    std::printf("search reading names / readdir walk:         ratio %.2f (goal: at most 1.5)\n",
                runs[3].seconds / runs[1].seconds);
    return allCounted ? 0 : 1;
}
