#include "app/Instance.h"
#include "app/Unt_Main.h"

#include "platform/core/AppDir.h"
#include "platform/shellns/LinuxShell.h"
#include "settings/Unt_Com.h"
#include "shellctrls/ShellTreeView.h"
#include "tests/app/ScriptedPlayer.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// "$" is the test's folder, other names are relative to it; the tree starts on home.
struct TOpenCase
{
    const char* Name;
    std::vector<std::string> Arguments, Queue;
    const char* Selected;
};

void PrintTo(const TOpenCase& c, std::ostream* out)
{
    *out << c.Name;
}

class OpenFilesTest : public ::testing::TestWithParam<TOpenCase>
{
protected:
    ~OpenFilesTest() override
    {
        window.reset();
        FileTypeSwitches.fill(false);
        SetApplicationDirectory({});
        SetShellNamespace(nullptr);
    }

    TTestDir dir;
    TScopedVariable home_{"HOME", dir.File("home")}, config_{"XDG_CONFIG_HOME", dir.File("config")};
    std::unique_ptr<Tfrm_Main> window;
};

TEST_P(OpenFilesTest, QueuesTheMusicGivenInOrder)
{
    for (const std::string name : {"home/", "config/", "app/", "m/", "m/s/", "o/", "m/b.mp3",
                                   "m/a.mp3", "m/x y.mp3", "m/notes.txt", "m/s/c.mp3", "o/d.mp3"})
        Check(name.ends_with('/') ? ::mkdir(dir.File(name).c_str(), 0755) == 0
                                  : WriteFileBytes(dir.File(name), ""),
              name);
    Check(::mkfifo(dir.File("fifo.mp3").c_str(), 0600) == 0, "mkfifo");
    SetShellNamespace(std::make_shared<TLinuxShellNamespace>());
    SetApplicationDirectory(dir.File("app") + "/");
    FileTypeSwitches[ftMP3] = true;
    auto* player = new TScriptedPlayer;
    window = std::make_unique<Tfrm_Main>(std::unique_ptr<IMediaPlayer>(player));
    window->show();

    std::vector<std::string> arguments = GetParam().Arguments;
    for (std::string& argument : arguments)
        if (const size_t at = argument.find('$'); at != std::string::npos)
            argument.replace(at, 1, dir.Path());
    TPendingFiles queue;
    for (const std::string& name : GetParam().Queue)
        queue.push_back(dir.File(name));
    ::alarm(60); // a hang on the FIFO ends the test
    OpenFiles(*window, arguments);
    ::alarm(0);
    EXPECT_EQ(window->PendingFiles, queue);
    EXPECT_EQ(player->Calls.join(u'|').toStdString(),
              queue.empty() ? "" : "Stop|Cancel|FileName=" + dir.File("app/temp1.m3u"));
    EXPECT_EQ(window->STV()->SelectedPath(), dir.File(GetParam().Selected));
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, OpenFilesTest,
    ::testing::Values(
        TOpenCase{"FilesInOrderOthersSkipped",
                  {"$/m/b.mp3", "$/fifo.mp3", "$/m/notes.txt", "$/none.mp3", "$/m/a.mp3"},
                  {"m/b.mp3", "m/a.mp3"},
                  "home"},
        TOpenCase{"UrlAndDotsFolded",
                  {"file://$/m/x%20y.mp3", "$/m/s/../b.mp3", "$/m/./s/c.mp3"},
                  {"m/x y.mp3", "m/b.mp3", "m/s/c.mp3"},
                  "home"},
        TOpenCase{"FolderInListOrder", {"$/m/"}, {"m/a.mp3", "m/b.mp3", "m/x y.mp3"}, "m"},
        TOpenCase{"FoldersWithFilesInPlace",
                  {"$/m/s/c.mp3", "$/m", "$/o"},
                  {"m/s/c.mp3", "m/a.mp3", "m/b.mp3", "m/x y.mp3", "o/d.mp3"},
                  "m"},
        TOpenCase{
            "NothingUsable", {"$/m/notes.txt", "$/fifo.mp3", "http://host/a.mp3"}, {}, "home"}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
