#include "app/Unt_Main.h"

#include "platform/core/AppDir.h"
#include "platform/core/PathCodec.h"
#include "platform/registry/Registry.h"
#include "settings/Unt_Com.h"
#include "tests/app/ScriptedPlayer.h"
#include "tests/support/TestFiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class PlayerDriver : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetApplicationDirectory(dir.Path());
        auto scripted = std::make_unique<TScriptedPlayer>();
        player = scripted.get();
        window = std::make_unique<Tfrm_Main>(std::move(scripted));
    }
    void TearDown() override
    {
        window.reset();
        SetApplicationDirectory({});
    }

    // Delivers what has been posted, as the message loop would.
    static void Pump()
    {
        for (int round = 0; round < 5; ++round)
            QCoreApplication::sendPostedEvents();
    }
    std::string Log() const { return ReadErrorLogs(dir.Path()); }
    static size_t Count(const std::string& text, const std::string& part)
    {
        return CountOccurrences(text, part);
    }
    QString Temp(int n) const
    {
        return PathToQString(dir.File("temp" + std::to_string(n) + ".m3u"));
    }

    TTestDir dir;
    TScriptedPlayer* player = nullptr;
    std::unique_ptr<Tfrm_Main> window;
};

TEST_F(PlayerDriver, PlaylistHandOverStartsThePlayerAfterTheCommand)
{
    window->PendingFiles = {"/m/a.mp3", "/m/b.mp3", "/m/c.mp3"};
    window->StartPlaylist(true);
    EXPECT_EQ(player->Calls, QStringList{QStringLiteral("FileName=") + Temp(1)});
    EXPECT_EQ(ReadFileBytes(dir.File("temp1.m3u")), "/m/a.mp3\r\n/m/b.mp3\r\n/m/c.mp3\r\n");
    Pump();
    EXPECT_EQ(player->Calls.last(), QStringLiteral("Play"));

    // Each started entry leaves the queue; the end of the last one finds it empty.
    player->StartStream();
    EXPECT_EQ(window->PendingFiles, (TPendingFiles{"/m/b.mp3", "/m/c.mp3"}));
    player->StartStream();
    player->StartStream();
    EXPECT_TRUE(window->PendingFiles.empty());
    player->Calls.clear();
    player->EndStream();
    Pump();
    EXPECT_TRUE(player->Calls.isEmpty());
}

TEST_F(PlayerDriver, PlaylistNamesAlternate)
{
    window->PendingFiles = {"/m/a.mp3"};
    window->StartPlaylist(true);
    EXPECT_TRUE(FileExists(dir.File("temp1.m3u")));
    window->StartPlaylist(true);
    EXPECT_FALSE(FileExists(dir.File("temp1.m3u")));
    EXPECT_TRUE(FileExists(dir.File("temp2.m3u")));
    window->StartPlaylist(true);
    EXPECT_TRUE(FileExists(dir.File("temp1.m3u")));
    EXPECT_FALSE(FileExists(dir.File("temp2.m3u")));
    EXPECT_EQ(player->FileName(), Temp(1));
}

TEST_F(PlayerDriver, UndeletableFirstPlaylistKeepsTheSecondInUse)
{
    // A non-empty directory by that name exists and cannot be unlinked.
    ASSERT_EQ(::mkdir(dir.File("temp1.m3u").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFileBytes(dir.File("temp1.m3u/keep"), "x"));
    window->PendingFiles = {"/m/a.mp3"};
    for (int round = 0; round < 3; ++round) {
        window->StartPlaylist(true);
        EXPECT_EQ(player->FileName(), Temp(2));
    }
    EXPECT_EQ(ReadFileBytes(dir.File("temp2.m3u")), "/m/a.mp3\r\n");
}

TEST_F(PlayerDriver, GuardedFailurePlaysTheQueueFileByFileInstead)
{
    player->Refused = {Temp(1)};
    window->PendingFiles = {"/m/a.mp3", "/m/b.mp3"};
    window->StartPlaylist(true);
    Pump();
    // The player was never told to Play whatever it held before.
    EXPECT_EQ(player->Calls, (QStringList{QStringLiteral("FileName=") + Temp(1),
                                          QStringLiteral("FileName=/m/a.mp3")}));
    EXPECT_EQ(Count(Log(), "prc_StartPlaylist-E"), 1u);
    player->StartStream();
    EXPECT_EQ(window->PendingFiles, TPendingFiles{"/m/b.mp3"});
}

TEST_F(PlayerDriver, GuardedFailureWhoseLogCannotBeWrittenStillPlaysTheQueue)
{
    // Neither the playlist nor the log can be written in a missing folder.
    SetApplicationDirectory(dir.File("missing"));
    window->PendingFiles = {"/m/a.mp3", "/m/b.mp3"};
    EXPECT_NO_THROW(window->StartPlaylist(true));
    Pump();
    EXPECT_EQ(player->Calls, QStringList{QStringLiteral("FileName=/m/a.mp3")});
}

TEST_F(PlayerDriver, UnguardedFailurePropagatesAndPostsNothing)
{
    SetApplicationDirectory(dir.File("missing"));
    window->PendingFiles = {"/m/a.mp3", "/m/b.mp3"};
    EXPECT_THROW(window->StartPlaylist(false), std::runtime_error);
    Pump();
    EXPECT_TRUE(player->Calls.isEmpty());
    EXPECT_EQ(window->PendingFiles.size(), 2u);
}

TEST_F(PlayerDriver, PathsWithLineBreaksLeaveBothPlaylistAndQueue)
{
    window->PendingFiles = {"/m/a.mp3", "/m/b\nc.mp3", "/m/d\r.mp3", "/m/e.mp3"};
    window->StartPlaylist(true);
    EXPECT_EQ(window->PendingFiles, (TPendingFiles{"/m/a.mp3", "/m/e.mp3"}));
    EXPECT_EQ(ReadFileBytes(dir.File("temp1.m3u")), "/m/a.mp3\r\n/m/e.mp3\r\n");
    const std::string log = Log();
    EXPECT_EQ(Count(log, "prc_StartPlaylist-E"), 2u);
    EXPECT_NE(log.find("/m/b\\nc.mp3"), std::string::npos);
}

TEST_F(PlayerDriver, RefusedEntriesAreLoggedAndSkippedOneByOne)
{
    player->Refused = {QStringLiteral("/m/b.mp3")};
    window->PendingFiles = {"/m/b.mp3", "/m/c.mp3"};
    player->EndStream();
    Pump();
    EXPECT_EQ(player->Calls, (QStringList{QStringLiteral("FileName=/m/b.mp3"),
                                          QStringLiteral("FileName=/m/c.mp3")}));
    // C stays at the head until its stream starts.
    EXPECT_EQ(window->PendingFiles, TPendingFiles{"/m/c.mp3"});
    player->StartStream();
    EXPECT_TRUE(window->PendingFiles.empty());

    const std::string log = Log();
    EXPECT_EQ(Count(log, "\r\n"), 1u);
    EXPECT_NE(log.find(" Unt_Main             FV_MainDblClick-E    0 "
                       "このファイルは再生できませんファイル名 : /m/b.mp3\r\n"),
              std::string::npos)
        << log;
}

TEST_F(PlayerDriver, EveryEntryRefusedEmptiesTheQueue)
{
    player->Refused = {QStringLiteral("/m/a.mp3"), QStringLiteral("/m/b.mp3")};
    window->PendingFiles = {"/m/a.mp3", "/m/b.mp3"};
    player->EndStream();
    Pump();
    EXPECT_TRUE(window->PendingFiles.empty());
    EXPECT_EQ(Count(Log(), "FV_MainDblClick-E"), 2u);
}

TEST_F(PlayerDriver, DoubleClickedFileDoesNotConsumeTheQueue)
{
    window->PendingFiles = {"/m/a.mp3", "/m/b.mp3", "/m/c.mp3"};
    window->StartPlaylist(true);
    Pump();
    player->StartStream(); // a
    ASSERT_TRUE(window->PlayFile("/x/clicked.mp3", false));
    player->StartStream(); // the clicked file
    EXPECT_EQ(window->PendingFiles, (TPendingFiles{"/m/b.mp3", "/m/c.mp3"}));
    player->Calls.clear();
    player->EndStream();
    Pump();
    EXPECT_EQ(player->Calls, QStringList{QStringLiteral("FileName=/m/b.mp3")});
    player->StartStream();
    EXPECT_EQ(window->PendingFiles, TPendingFiles{"/m/c.mp3"});
}

TEST_F(PlayerDriver, RefusedDoubleClickIsOnlyLogged)
{
    player->Refused = {QStringLiteral("/x/bad.mp3")};
    window->PendingFiles = {"/m/b.mp3"};
    EXPECT_FALSE(window->PlayFile("/x/bad.mp3", false));
    Pump();
    EXPECT_EQ(window->PendingFiles, TPendingFiles{"/m/b.mp3"});
    EXPECT_EQ(Count(Log(), "FV_MainDblClick-E"), 1u);
}

TEST_F(PlayerDriver, NothingStartsAfterTheCloseStep)
{
    window->PendingFiles = {"/m/a.mp3", "/m/b.mp3"};
    player->EndStream(); // WM_PLAYNEXT is now pending
    window->CloseStep();
    Pump();
    EXPECT_EQ(player->Calls, QStringList{QStringLiteral("Stop")});
    EXPECT_TRUE(window->Closing);
    EXPECT_TRUE(window->PendingFiles.empty());
}

TEST_F(PlayerDriver, PlayStateDecidesTheTimer)
{
    for (int32_t state : {3, 4, 5, 2, -1}) {
        window->Timer1()->stop();
        player->ChangeState(0, state);
        EXPECT_TRUE(window->Timer1()->isActive()) << state;
    }
    for (int32_t state : {0, 1, 6}) {
        window->Timer1()->start();
        player->ChangeState(2, state);
        EXPECT_FALSE(window->Timer1()->isActive()) << state;
    }
    EXPECT_EQ(window->Timer1()->interval(), 100);
}

TEST_F(PlayerDriver, TimerRunsFromStreamStartToStreamEndAndRealignsThePlayer)
{
    EXPECT_FALSE(window->Timer1()->isActive());
    player->StartStream();
    EXPECT_TRUE(window->Timer1()->isActive());
    QElapsedTimer clock;
    clock.start();
    while (player->RealignCount == 0 && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_GT(player->RealignCount, 0);
    player->EndStream();
    EXPECT_FALSE(window->Timer1()->isActive());
}

TEST_F(PlayerDriver, ShowLoadsAndCloseSavesTheSwitches)
{
    setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
    FileTypeSwitches.fill(false);
    window->PendingFiles = {"/stale.mp3"};
    window->show();
    EXPECT_TRUE(window->PendingFiles.empty());
    EXPECT_FALSE(window->Closing);
    FileTypeSwitches[ftWAV] = true;
    window->close();
    EXPECT_TRUE(window->Closing);
    EXPECT_EQ(player->Calls.last(), QStringLiteral("Stop"));
    {
        TRegistry registry;
        ASSERT_TRUE(registry.OpenKey(kOptionKey, false));
        EXPECT_EQ(registry.ReadInteger("playWAV"), 1);
        EXPECT_EQ(registry.ReadInteger("playMP3"), 0);
    }
    FileTypeSwitches.fill(false);
    unsetenv("XDG_CONFIG_HOME");
}

TEST_F(PlayerDriver, WindowHasTheDesignedFrame)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tunemill"));
    EXPECT_EQ(window->geometry(), QRect(258, 101, 754, 541));
    EXPECT_EQ(window->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
    EXPECT_EQ(window->font().pixelSize(), 12);
}

} // namespace
