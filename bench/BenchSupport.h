#pragma once

// What the benchmarks share: timing, medians, a user of their own, and a
// player that plays nothing.

#include "platform/media/IMediaPlayer.h"
#include "tests/support/TestFiles.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

template <typename Function> double Seconds(Function&& function)
{
    const auto start = std::chrono::steady_clock::now();
    function();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

inline void MakeDir(const std::string& path)
{
    Check(mkdir(path.c_str(), 0755) == 0, path);
}

/// HOME, the XDG directories and a runtime directory in `dir`, which also
/// gets "t" for the benchmark's folders, so that the desktop is the same on
/// every machine; the offscreen platform unless one is set. Before the
/// application object.
inline void UseOwnDesktop(const TTestDir& dir)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    for (const char* name : {"home", "config", "data", "t"})
        MakeDir(dir.File(name));
    Check(mkdir(dir.File("runtime").c_str(), 0700) == 0, "runtime");
    setenv("XDG_RUNTIME_DIR", dir.File("runtime").c_str(), 1);
    setenv("HOME", dir.File("home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
    setenv("XDG_DATA_HOME", dir.File("data").c_str(), 1);
}

/// Takes every file and plays nothing, so a bench times the window alone.
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
