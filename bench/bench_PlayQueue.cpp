// Cost of the file-type test and of the playlist hand-over, each as a ratio
// to the plainest code that touches the same bytes.
#include "app/PlayQueue.h"
#include "app/Unt_Main.h"
#include "platform/core/AppDir.h"
#include "settings/Unt_Com.h"

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
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

class TSilentPlayer : public IMediaPlayer
{
public:
    QString FileName() const override { return fileName_; }
    void SetFileName(const QString& fileName) override { fileName_ = fileName; }
    bool AutoStart() const override { return true; }
    void SetAutoStart(bool) override {}
    void Play() override {}
    void Stop() override {}
    void Cancel() override {}
    void Realign() override {}

private:
    QString fileName_;
};

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

void BenchIsMusicFile()
{
    FileTypeSwitches.fill(true);
    FileTypeSwitches[ftWAV] = false;
    const std::vector<std::string> paths = MakePaths(1000000);
    size_t accepted = 0;
    const double tested = BestSeconds(5, [&] {
        for (const std::string& path : paths)
            accepted += IsMusicFile(path) ? 1 : 0;
    });
    // The floor: find the final dot and compare one extension.
    size_t plain = 0;
    const double floor = BestSeconds(5, [&] {
        for (const std::string& path : paths) {
            const size_t dot = path.rfind('.');
            plain += (dot != std::string::npos && path.compare(dot, std::string::npos, ".mp3") == 0)
                         ? 1
                         : 0;
        }
    });
    std::printf("IsMusicFile, 1,000,000 paths: %.1f ms; plain loop %.1f ms; ratio %.2f "
                "(accepted %zu, plain %zu)\n",
                tested * 1e3, floor * 1e3, tested / floor, accepted, plain);
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
    const double handOver = BestSeconds(5, [&] { window.StartPlaylist(true); });
    const std::string plainFile = directory + "/plain.m3u";
    const double floor = BestSeconds(5, [&] {
        std::FILE* file = std::fopen(plainFile.c_str(), "wb");
        for (const std::string& path : paths) {
            std::fwrite(path.data(), 1, path.size(), file);
            std::fwrite("\r\n", 1, 2, file);
        }
        std::fclose(file);
    });
    std::printf(
        "StartPlaylist, 100,000 entries: %.1f ms ; plain buffered write %.1f ms; ratio %.2f\n",
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
