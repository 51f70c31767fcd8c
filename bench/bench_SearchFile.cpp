// Cost of a recursive search against the plainest breadth-first walk that
// reads every directory and examines every entry once.
#include "search/SearchFile.h"
#include "tests/support/TestFiles.h"

#include <chrono>
#include <cstdio>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDirectories = 5000;
constexpr int kEntries = 100'000;
constexpr int kLevels = 5;

template <typename Function> double Seconds(Function&& function)
{
    const auto start = Clock::now();
    function();
    return std::chrono::duration<double>(Clock::now() - start).count();
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

long PlainWalk(const std::string& base)
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
            struct stat status;
            if (fstatat(dirfd(dir), entry->d_name, &status, 0) != 0)
                continue;
            ++count;
            if (S_ISDIR(status.st_mode))
                queue.push_back(directory + entry->d_name);
        }
        closedir(dir);
    }
    return count;
}

long SearchRun(const std::string& base)
{
    long count = 0;
    TSearchFile search;
    search.SetDirectory(base);
    search.SetRecursive(true);
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

    long plainCount = 0;
    long searchCount = 0;
    PlainWalk(tree.Path()); // warm the caches
    // Interleaved rounds, so that a slow moment of the machine hits both.
    double plain = 1e30;
    double search = 1e30;
    for (int round = 0; round < 7; ++round) {
        plain = std::min(plain, Seconds([&] { plainCount = PlainWalk(tree.Path()); }));
        search = std::min(search, Seconds([&] { searchCount = SearchRun(tree.Path()); }));
    }
    std::printf("plain walk:       %8.1f ms (%ld entries)\n", plain * 1e3, plainCount);
    std::printf("recursive search: %8.1f ms (%ld entries)\n", search * 1e3, searchCount);
    std::printf("ratio %.2f (goal: at most 1.5)\n", search / plain);
    return plainCount == kEntries && searchCount == kEntries ? 0 : 1;
}
