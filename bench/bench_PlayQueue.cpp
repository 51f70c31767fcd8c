// Cost of the file-type test and of the playlist hand-over, each as a ratio
// to the plainest code that touches the same bytes.
#include "app/PlayQueue.h"
#include "app/Unt_Main.h"
#include "bench/BenchSupport.h"
#include "platform/core/AppDir.h"
#include "settings/Unt_Com.h"

#include <QApplication>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

template <typename Function> double BestSeconds(int rounds, Function&& function)
{
    double best = 1e30;
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        function();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

std::vector<std::string> MakePaths(size_t count)
{
    static const char* const kExtensions[] = {".mp3",  ".MP3", ".wav", ".txt",  ".jpeg",
                                              ".midi", ".au",  "",     ".Aiff", ".wma"};
    std::vector<std::string> paths;
    paths.reserve(count);
    for (size_t i = 0; i < count; ++i)
        paths.push_back("/home/user/音楽/アルバム " + std::to_string(i % 977) + "/track." +
                        std::to_string(i) + kExtensions[i % 10]);
    return paths;
}

// The file-type test written plainly: the extension of the final component,
// ASCII-lowercased, compared with each extension of the six groups in turn.
bool PlainIsMusicFile(const std::string& path)
{
    static const std::array<std::pair<std::string_view, TFileType>, 11> kTable = {{
        {"mp3", ftMP3},
        {"wma", ftWMA},
        {"wmx", ftWMA},
        {"mid", ftMDI},
        {"rmi", ftMDI},
        {"midi", ftMDI},
        {"wav", ftWAV},
        {"aif", ftAIF},
        {"aifc", ftAIF},
        {"aiff", ftAIF},
        {"au", ftSND},
    }};
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    char folded[8];
    const size_t length = path.size() - dot - 1;
    if (length > sizeof folded)
        return false;
    for (size_t i = 0; i < length; ++i) {
        const char c = path[dot + 1 + i];
        folded[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view extension(folded, length);
    for (const auto& [candidate, group] : kTable) {
        if (extension == candidate)
            return FileTypeSwitches[group];
    }
    return extension == "snd" && FileTypeSwitches[ftSND];
}

void BenchIsMusicFile()
{
    FileTypeSwitches.fill(true);
    FileTypeSwitches[ftWAV] = false;
    const std::vector<std::string> paths = MakePaths(1000000);
    size_t accepted = 0, plain = 0, disagreements = 0;
    for (const std::string& path : paths) {
        const bool answer = IsMusicFile(path);
        accepted += answer ? 1 : 0;
        plain += PlainIsMusicFile(path) ? 1 : 0;
        disagreements += answer != PlainIsMusicFile(path) ? 1 : 0;
    }
    // Printed, so that neither loop can be optimised away.
    size_t sink = 0;
    const double tested = BestSeconds(5, [&] {
        for (const std::string& path : paths)
            sink += IsMusicFile(path) ? 1 : 0;
    });
    const double floor = BestSeconds(5, [&] {
        for (const std::string& path : paths)
            sink += PlainIsMusicFile(path) ? 1 : 0;
    });
    std::printf("IsMusicFile, 1,000,000 paths: %.1f ms; plain loop %.1f ms; ratio %.2f "
                "(goal: at most 1.5; accepted %zu, plain %zu, disagreements %zu; %zu)\n",
                tested * 1e3, floor * 1e3, tested / floor, accepted, plain, disagreements, sink);
}

void BenchStartPlaylist()
{
    const std::string directory =
        (std::filesystem::temp_directory_path() / "tunemill-bench-playlist").string();
    std::filesystem::create_directories(directory);
    SetApplicationDirectory(directory);
    const std::vector<std::string> paths = MakePaths(100000);

    Tfrm_Main window(std::make_unique<TSilentPlayer>());
    window.PendingFiles.assign(paths.begin(), paths.end());
    const double handOver = BestSeconds(15, [&] { window.StartPlaylist(true); });
    const std::string plainFile = directory + "/plain.m3u";
    // The floor: the same bytes, gathered and written with one call.
    const double floor = BestSeconds(15, [&] {
        std::string bytes;
        for (const std::string& path : paths) {
            bytes += path;
            bytes += "\r\n";
        }
        const int fd = ::open(plainFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
            std::perror(plainFile.c_str());
        if (fd >= 0)
            ::close(fd);
    });
    std::printf("StartPlaylist, 100,000 entries: %.1f ms; plain single write %.1f ms; ratio %.2f\n",
                handOver * 1e3, floor * 1e3, handOver / floor);
    std::filesystem::remove_all(directory);
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    BenchIsMusicFile();
    BenchStartPlaylist();
    return 0;
}
