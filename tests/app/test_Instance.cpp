#include "app/Instance.h"
#include "app/Unt_Main.h"

#include "platform/core/AppDir.h"
#include "platform/core/PathCodec.h"
#include "platform/shellns/LinuxShell.h"
#include "settings/Unt_Com.h"
#include "shellctrls/ShellTreeView.h"
#include "tests/app/ScriptedPlayer.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace Qt::StringLiterals;

// "$" in an argument stands for the test's folder; the other names are
// relative to it.
struct TOpenCase
{
    const char* Name;
    std::vector<std::string> Arguments;
    std::vector<std::string> Queue;
    const char* Selected = nullptr;
};

void PrintTo(const TOpenCase& c, std::ostream* out)
{
    *out << c.Name;
}

class OpenFilesTest : public ::testing::TestWithParam<TOpenCase>
{
protected:
    OpenFilesTest()
        : home_("HOME", dir.File("home")), config_("XDG_CONFIG_HOME", dir.File("config")),
          data_("XDG_DATA_HOME", dir.File("data")), pwd_("PWD", dir.File("music"))
    {
        for (const char* name : {"home", "config", "data", "app", "music", "music/sub", "other"})
            mkdir(dir.File(name).c_str(), 0755);
        for (const char* name : {"music/b.mp3", "music/a.mp3", "music/x y.mp3", "music/notes.txt",
                                 "music/sub/c.mp3", "other/d.mp3"})
            WriteFileBytes(dir.File(name), "");
        Check(::mkfifo(dir.File("fifo.mp3").c_str(), 0600) == 0, "mkfifo");
        Check(::chdir(dir.File("music").c_str()) == 0, "chdir");
        SetShellNamespace(std::make_shared<TLinuxShellNamespace>());
        SetApplicationDirectory(dir.File("app") + "/");
        FileTypeSwitches.fill(false);
        FileTypeSwitches[ftMP3] = true;
        auto scripted = std::make_unique<TScriptedPlayer>();
        player = scripted.get();
        window = std::make_unique<Tfrm_Main>(std::move(scripted));
        window->show();
    }
    ~OpenFilesTest() override
    {
        window.reset();
        (void)::chdir("/");
        FileTypeSwitches.fill(false);
        SetApplicationDirectory({});
        SetShellNamespace(nullptr);
    }
    std::string Expanded(std::string text)
    {
        if (const size_t at = text.find('$'); at != std::string::npos)
            text.replace(at, 1, dir.Path());
        return text;
    }

    TTestDir dir;
    TScopedVariable home_, config_, data_, pwd_;
    TScriptedPlayer* player = nullptr;
    std::unique_ptr<Tfrm_Main> window;
};

TEST_P(OpenFilesTest, QueuesTheMusicGivenInOrder)
{
    std::vector<std::string> arguments;
    for (const std::string& argument : GetParam().Arguments)
        arguments.push_back(Expanded(argument));
    TPendingFiles queue;
    for (const std::string& name : GetParam().Queue)
        queue.push_back(dir.File(name));
    ::alarm(60); // a hang on the FIFO ends the test
    OpenFiles(*window, arguments);
    ::alarm(0);
    EXPECT_EQ(window->PendingFiles, queue);
    if (queue.empty()) {
        EXPECT_TRUE(player->Calls.isEmpty()) << player->Calls.join(u' ').toStdString();
    } else {
        EXPECT_EQ(ReadFileBytes(dir.File("app/temp1.m3u")), PlaylistBytes(queue));
        EXPECT_EQ(player->Calls.join(u'|').toStdString(),
                  "Stop|Cancel|FileName=" + dir.File("app/temp1.m3u"));
    }
    if (GetParam().Selected) {
        EXPECT_EQ(window->STV()->SelectedPath(), dir.File(GetParam().Selected));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, OpenFilesTest,
    ::testing::Values(
        TOpenCase{"FilesInOrderOthersSkipped",
                  {"$/music/b.mp3", "$/fifo.mp3", "$/music/notes.txt", "$/music/none.mp3",
                   "$/music/a.mp3"},
                  {"music/b.mp3", "music/a.mp3"}},
        TOpenCase{"UrlAndRelativePaths",
                  {"file://$/music/x%20y.mp3", "sub/../b.mp3", "./sub/c.mp3"},
                  {"music/x y.mp3", "music/b.mp3", "music/sub/c.mp3"}},
        TOpenCase{"FolderInListOrder",
                  {"$/music/"},
                  {"music/a.mp3", "music/b.mp3", "music/x y.mp3"},
                  "music"},
        TOpenCase{"FoldersWithFilesInPlace",
                  {"sub/c.mp3", "$/music", "$/other"},
                  {"music/sub/c.mp3", "music/a.mp3", "music/b.mp3", "music/x y.mp3", "other/d.mp3"},
                  "music"},
        TOpenCase{"NothingUsable", {"$/music/notes.txt", "$/fifo.mp3", "http://host/a.mp3"}, {}},
        TOpenCase{"NothingGiven", {}, {}}),
    [](const ::testing::TestParamInfo<TOpenCase>& info) { return std::string(info.param.Name); });

} // namespace
