// Cost of "このフォルダ以下を再生" on a tree of 100,000 entries (5,000 folders,
// a quarter of the files music) against a floor: the plainest program that
// gives the same playlist, a breadth-first readdir walk (fstatat only where
// the directory does not tell the type), the six groups' extensions, sort
// keys made once per path with the command's collation, a sort by them and
// one write of the CRLF lines.
//
// Goal: the command within 1.5 times the floor, medians over rounds taken in
// turn. Every round checks that the command's playlist holds the floor's
// bytes; a measured wrong answer ends the run with exit code 1. A missed
// goal is printed, never an exit code: this is no test.
//
//   bench_RecursivePlay [rounds] [floor|command]
//
// A name runs only that side, for a profiler.
#include "app/Unt_Main.h"
#include "bench/BenchSupport.h"
#include "platform/core/AppDir.h"
#include "platform/core/PathCodec.h"
#include "platform/core/Posix.h"
#include "platform/shellns/FsFolder.h"
#include "settings/Unt_Com.h"
#include "shellctrls/ShellTreeView.h"
#include "tests/support/TestFiles.h"

#include <QApplication>
#include <QCollator>
#include <QCollatorSortKey>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <numeric>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFolders = 5'000;
constexpr int kFiles = 95'000;
constexpr int kLevels = 5;

// The six groups' extensions, without the dot.
constexpr std::array<std::string_view, 12> kMusicExtensions = {
    "mp3", "wma", "wmx", "mid", "rmi", "midi", "wav", "aif", "aifc", "aiff", "au", "snd"};

// What the generator gives a music file other than ".mp3": every extension
// of the other groups, in mixed letter case.
constexpr std::array<const char*, 12> kOtherMusic = {".WMA",  ".wmx",  ".Mid", ".rmi",
                                                     ".MIDI", ".wav",  ".Wav", ".aif",
                                                     ".AIFC", ".aiff", ".Au",  ".SND"};
constexpr std::array<const char*, 12> kNotMusic = {".txt",  ".jpg",   ".mp3.bak", ".m3u",
                                                   "",      ".mp4",   ".MP",      ".flac",
                                                   ".wav~", ".aiffx", ".html",    ".mp3 "};
constexpr std::array<const char*, 5> kFilePrefixes = {"曲 ", "Track ", "track ", "トラック ",
                                                      "b-side "};
constexpr std::array<const char*, 4> kFolderPrefixes = {"フォルダ ", "Album ", "album ", "盤 "};

double ProcessSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Wall time, which the user waits, and the process's processor time, which
// the other work of a shared machine does not inflate.
struct TTimes
{
    std::vector<double> Wall;
    std::vector<double> Processor;
};

template <typename Function> void Time(TTimes& times, Function&& function)
{
    const double processorStart = ProcessSeconds();
    times.Wall.push_back(Seconds(function));
    times.Processor.push_back(ProcessSeconds() - processorStart);
}

// Five levels: four of five sub-folders each, the rest of the 5,000 on the
// fifth, every 997th folder named with a music extension (the search reports
// folders, and the file-type test does not look at what a name names); the
// files spread over every folder, names unique ignoring case.
long BuildTree(const std::string& base)
{
    std::vector<std::string> level{base};
    std::vector<std::string> all;
    long music = 0;
    for (int depth = 1; depth <= kLevels; ++depth) {
        std::vector<std::string> next;
        const size_t perParent =
            depth < kLevels ? 5 : (kFolders - all.size() + level.size() - 1) / level.size();
        for (const std::string& parent : level) {
            for (size_t i = 0; i < perParent && all.size() < kFolders; ++i) {
                const size_t number = all.size();
                std::string name =
                    kFolderPrefixes[number % kFolderPrefixes.size()] + std::to_string(number);
                if (number % 997 == 500) {
                    name += ".Wav";
                    ++music;
                }
                const std::string path = JoinPath(parent, name);
                MakeDir(path);
                next.push_back(path);
                all.push_back(path);
            }
        }
        level = std::move(next);
    }
    size_t otherMusic = 0;
    size_t notMusic = 0;
    for (int i = 0; i < kFiles; ++i) {
        std::string name =
            kFilePrefixes[static_cast<size_t>(i) % kFilePrefixes.size()] + std::to_string(i);
        if (i % 4 == 0) {
            const int n = i / 4;
            if (n % 10 >= 7)
                name += kOtherMusic[otherMusic++ % kOtherMusic.size()];
            else
                name += n % 13 == 0 ? ".MP3" : n % 17 == 0 ? ".Mp3" : ".mp3";
            ++music;
        } else {
            name += kNotMusic[notMusic++ % kNotMusic.size()];
        }
        const std::string path = JoinPath(all[static_cast<size_t>(i) % all.size()], name);
        TUniqueFd file(::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
        Check(file.IsOpen(), path);
    }
    return music;
}

bool HasMusicExtension(const char* name)
{
    const char* dot = std::strrchr(name, '.');
    if (dot == nullptr)
        return false;
    char folded[8];
    const size_t length = std::strlen(dot + 1);
    if (length > sizeof folded)
        return false;
    for (size_t i = 0; i < length; ++i) {
        const char c = dot[1 + i];
        folded[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view extension(folded, length);
    for (const std::string_view candidate : kMusicExtensions) {
        if (extension == candidate)
            return true;
    }
    return false;
}

// The collation of the command's sort: the namespace's locale, case
// ignored, digits compared as characters.
QCollator PathCollator()
{
    QCollator collator(NsCollationLocale());
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    return collator;
}

// The floor: answers the playlist's bytes, written to `playlist` too.
std::string Floor(const std::string& root, const std::string& playlist)
{
    std::vector<std::string> paths;
    std::deque<std::string> queue{root};
    while (!queue.empty()) {
        const std::string directory = std::move(queue.front());
        queue.pop_front();
        TDirectoryReader reader(directory);
        if (!reader.IsOpen())
            continue;
        while (const dirent* entry = reader.Next()) {
            bool isDirectory = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
                struct stat status;
                isDirectory =
                    fstatat(reader.Fd(), entry->d_name, &status, 0) == 0 && S_ISDIR(status.st_mode);
            }
            const bool music = HasMusicExtension(entry->d_name);
            if (!music && !isDirectory)
                continue;
            std::string path = JoinPath(directory, entry->d_name);
            if (music)
                paths.push_back(path);
            if (isDirectory)
                queue.push_back(std::move(path));
        }
    }

    const QCollator collator = PathCollator();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(paths.size());
    for (const std::string& path : paths)
        keys.push_back(collator.sortKey(PathToQString(path)));
    std::vector<size_t> order(paths.size());
    std::iota(order.begin(), order.end(), size_t{0});
    // Bytes order what the collation calls equal, so that the answer is one.
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const int compared = keys[a].compare(keys[b]);
        return compared != 0 ? compared < 0 : paths[a] < paths[b];
    });

    std::string bytes;
    for (const size_t index : order) {
        bytes += paths[index];
        bytes += "\r\n";
    }
    TUniqueFd file(::open(playlist.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    Check(file.IsOpen() &&
              ::write(file.Get(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()),
          playlist);
    return bytes;
}

size_t CountLines(const std::string& bytes)
{
    return CountOccurrences(bytes, "\r\n");
}

// Where two playlists part, for the failure message.
std::string FirstDifference(const std::string& expected, const std::string& actual)
{
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        ++at;
    const size_t lineStart = expected.rfind('\n', at == 0 ? 0 : at - 1);
    const size_t from = lineStart == std::string::npos ? 0 : lineStart + 1;
    const auto line = [from](const std::string& text) {
        const size_t end = text.find("\r\n", from);
        return from >= text.size() ? std::string("(end)") : text.substr(from, end - from);
    };
    return "line " + std::to_string(CountLines(expected.substr(0, from)) + 1) + ": floor \"" +
           line(expected) + "\", command \"" + line(actual) + "\"";
}

void PrintTimes(const char* name, const TTimes& times)
{
    std::printf("%-9s wall: median %8.1f ms (min %8.1f, max %8.1f)   processor: median %8.1f ms\n",
                name, Median(times.Wall) * 1e3,
                *std::min_element(times.Wall.begin(), times.Wall.end()) * 1e3,
                *std::max_element(times.Wall.begin(), times.Wall.end()) * 1e3,
                Median(times.Processor) * 1e3);
}

int Run(int argc, char** argv)
{
    TTestDir dir;
    UseOwnDesktop(dir);
    QApplication application(argc, argv);
    int rounds = 7;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "floor") == 0 || std::strcmp(argv[i], "command") == 0)
            only = argv[i];
        else
            rounds = std::max(1, std::atoi(argv[i]));
    }

    const std::string root = dir.File("t");
    const std::string applicationDirectory = dir.File("app");
    MakeDir(applicationDirectory);
    SetApplicationDirectory(applicationDirectory);
    std::printf("building %d folders and %d files under %s...\n", kFolders, kFiles, root.c_str());
    const long music = BuildTree(root);
    sync(); // keep the write-back of the new tree out of the measurements

    Tfrm_Main window(std::make_unique<TSilentPlayer>());
    window.STV()->SelectPath(root);
    QCoreApplication::processEvents();
    if (window.STV()->SelectedPath() != root)
        throw std::runtime_error("the tree did not select " + root + " (it shows " +
                                 window.STV()->SelectedPath() + ")");
    FileTypeSwitches.fill(true);

    const std::string floorPlaylist = dir.File("floor.m3u");
    std::string expected = Floor(root, floorPlaylist); // warms the caches
    if (CountLines(expected) != static_cast<size_t>(music))
        throw std::runtime_error("the floor found " + std::to_string(CountLines(expected)) +
                                 " music entries, the tree holds " + std::to_string(music));
    std::printf("%ld music entries of %d; collation locale %s, rounds %d, load %s\n", music,
                kFolders + kFiles, qPrintable(NsCollationLocale().name()), rounds,
                ReadFileBytes("/proc/loadavg").substr(0, 14).c_str());

    const auto checkCommand = [&] {
        QCoreApplication::processEvents(); // the posted start, untimed
        const std::string playlist = QStringToPath(window.WMP().FileName());
        const std::string actual = ReadFileBytes(playlist);
        if (actual != expected)
            throw std::runtime_error(
                "the command's playlist " + playlist + " (" + std::to_string(CountLines(actual)) +
                " lines) is not the floor's (" + std::to_string(CountLines(expected)) +
                " lines): " + FirstDifference(expected, actual));
        if (window.PendingFiles.size() != CountLines(expected))
            throw std::runtime_error(
                "the queue holds " + std::to_string(window.PendingFiles.size()) +
                " paths, the playlist " + std::to_string(CountLines(expected)));
    };

    TTimes floorTimes;
    TTimes commandTimes;
    for (int round = 0; round < rounds; ++round) {
        if (only != "command") {
            std::string bytes;
            Time(floorTimes, [&] { bytes = Floor(root, floorPlaylist); });
            if (bytes != expected)
                throw std::runtime_error("the floor changed its answer");
        }
        if (only != "floor") {
            Time(commandTimes, [&] { window.PMN_STV_1Click(); });
            checkCommand();
        }
    }

    if (!floorTimes.Wall.empty())
        PrintTimes("floor", floorTimes);
    if (!commandTimes.Wall.empty())
        PrintTimes("command", commandTimes);
    if (!floorTimes.Wall.empty() && !commandTimes.Wall.empty()) {
        const double ratio = Median(commandTimes.Wall) / Median(floorTimes.Wall);
        std::printf("command / floor: wall %.2f, processor %.2f (goal: wall at most 1.5): %s\n",
                    ratio, Median(commandTimes.Processor) / Median(floorTimes.Processor),
                    ratio <= 1.5 ? "met" : "not met");
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "bench_RecursivePlay: %s\n", failure.what());
        return 1;
    }
}
