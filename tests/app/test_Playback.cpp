// The driver with the real player: playlists through the hand-over and the
// posted messages, as a play command uses them.
#include "app/Unt_Main.h"

#include "platform/core/AppDir.h"
#include "platform/core/PathCodec.h"
#include "platform/media/MediaPlayer.h"
#include "platform/shellns/LinuxShell.h"
#include "settings/Unt_Com.h"
#include "settings/Unt_Option.h"
#include "shellctrls/ShellListView.h"
#include "shellctrls/ShellTreeView.h"
#include "tests/support/MediaFiles.h"
#include "tests/support/TestFiles.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Wraps the real player and records which file each started stream is, by
// following what the driver handed it.
class TRecordingPlayer : public IMediaPlayer
{
public:
    TRecordingPlayer()
    {
        inner_.OnNewStream = [this] {
            Started.push_back(next_ < entries_.size() ? entries_[next_++] : "?");
            EndsAtLastStart = EndCount;
            DoNewStream();
        };
        inner_.OnEndOfStream = [this](int32_t result) {
            ++EndCount;
            DoEndOfStream(result);
        };
        inner_.OnPlayStateChange = [this](int32_t oldState, int32_t newState) {
            DoPlayStateChange(oldState, newState);
        };
    }

    QString FileName() const override { return inner_.FileName(); }
    void SetFileName(const QString& fileName) override
    {
        inner_.SetFileName(fileName);
        const std::string path = QStringToPath(fileName);
        entries_.clear();
        next_ = 0;
        if (path.size() > 4 && path.compare(path.size() - 4, 4, ".m3u") == 0) {
            const std::string bytes = ReadFileBytes(path);
            for (size_t start = 0; start < bytes.size();) {
                const size_t end = bytes.find("\r\n", start);
                entries_.push_back(bytes.substr(start, end - start));
                start = end + 2;
            }
        } else {
            entries_.push_back(path);
        }
    }
    bool AutoStart() const override { return inner_.AutoStart(); }
    void SetAutoStart(bool autoStart) override { inner_.SetAutoStart(autoStart); }
    void Play() override { inner_.Play(); }
    void Stop() override { inner_.Stop(); }
    void Cancel() override { inner_.Cancel(); }
    void Realign() override { inner_.Realign(); }

    std::vector<std::string> Started;
    int EndCount = 0;
    int EndsAtLastStart = -1;

private:
    TMediaPlayer inner_;
    std::vector<std::string> entries_;
    size_t next_ = 0;
};

class Playback : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetApplicationDirectory(dir.Path());
        auto recording = std::make_unique<TRecordingPlayer>();
        player = recording.get();
        window = std::make_unique<Tfrm_Main>(std::move(recording));
        good1 = WriteMediaFile(dir.Path(), TMediaKind::Wav, "good1");
        good2 = WriteMediaFile(dir.Path(), TMediaKind::Mp3, "good2");
        good3 = WriteMediaFile(dir.Path(), TMediaKind::Au, "good3");
        bad = dir.File("not music.mp3");
        ASSERT_FALSE(good1.empty());
        ASSERT_FALSE(good2.empty());
        ASSERT_FALSE(good3.empty());
        ASSERT_TRUE(WriteFileBytes(bad, "This is a text file, not an MP3 stream.\n"));
    }
    void TearDown() override
    {
        window.reset();
        SetApplicationDirectory({});
    }

    // Plays until the queue is empty and the last stream has ended, then a
    // little longer, so that anything started twice would show.
    void PlayToTheEnd()
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            if (window->PendingFiles.empty() && !player->Started.empty() &&
                player->EndCount > player->EndsAtLastStart)
                break;
        }
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    size_t LoggedLines(const std::string& part) const
    {
        return CountOccurrences(ReadErrorLogs(dir.Path()), part);
    }

    TTestDir dir;
    TRecordingPlayer* player = nullptr;
    std::unique_ptr<Tfrm_Main> window;
    std::string good1, good2, good3, bad;
};

TEST_F(Playback, BadEntriesInTheMiddleAreSkippedAndLoggedOnce)
{
    const std::string fifo = dir.File("x.wav");
    Check(::mkfifo(fifo.c_str(), 0600) == 0, "mkfifo");
    ::alarm(60); // a hang on the FIFO ends the test
    window->PendingFiles = {good1, bad, good2, fifo, good3};
    window->StartPlaylist(true);
    PlayToTheEnd();
    EXPECT_EQ(player->Started, (std::vector<std::string>{good1, good2, good3}));
    EXPECT_TRUE(window->PendingFiles.empty());
    EXPECT_EQ(LoggedLines("FV_MainDblClick-E"), 2u);
    EXPECT_EQ(LoggedLines("ファイル名 : " + bad + "\r\n"), 1u);
    EXPECT_EQ(LoggedLines("ファイル名 : " + fifo + "\r\n"), 1u);
    ::alarm(0);
}

TEST_F(Playback, BadFirstEntryIsSkippedAndLoggedOnce)
{
    window->PendingFiles = {bad, good1, good2};
    window->StartPlaylist(true);
    PlayToTheEnd();
    EXPECT_EQ(player->Started, (std::vector<std::string>{good1, good2}));
    EXPECT_TRUE(window->PendingFiles.empty());
    EXPECT_EQ(LoggedLines("FV_MainDblClick-E"), 1u);
    EXPECT_EQ(LoggedLines("ファイル名 : " + bad + "\r\n"), 1u);
}

TEST_F(Playback, NameThatIsNotUtf8PlaysThroughTheQueue)
{
    const std::string odd = WriteMediaFile(dir.Path(), TMediaKind::Wav, "caf\xe9 \xff");
    ASSERT_FALSE(odd.empty());
    window->PendingFiles = {odd, good1};
    window->StartPlaylist(true);
    PlayToTheEnd();
    EXPECT_EQ(player->Started, (std::vector<std::string>{odd, good1}));
    EXPECT_EQ(LoggedLines("FV_MainDblClick-E"), 0u);
}

// As a user would: a home of its own with a folder of three MP3 files and a
// text file, MP3 switched on in the options dialog, then each command.
class EndToEnd : public Playback
{
protected:
    EndToEnd()
        : home_("HOME", dir.File("home")), config_("XDG_CONFIG_HOME", dir.File("config")),
          data_("XDG_DATA_HOME", dir.File("data"))
    {
    }
    void SetUp() override
    {
        for (const char* name : {"home", "config", "data", "home/music"})
            mkdir(dir.File(name).c_str(), 0755);
        SetShellNamespace(std::make_shared<TLinuxShellNamespace>());
        FileTypeSwitches.fill(false);
        Playback::SetUp();
        for (const char* name : {"b", "c", "a"})
            songs.push_back(WriteMediaFile(dir.File("home/music"), TMediaKind::Mp3, name));
        std::sort(songs.begin(), songs.end());
        ASSERT_TRUE(WriteFileBytes(dir.File("home/music/notes.txt"), "not music\n"));
        window->show();
    }
    void TearDown() override
    {
        Playback::TearDown();
        FileTypeSwitches.fill(false);
        SetShellNamespace(nullptr);
    }
    std::vector<std::string> Run(const std::function<void()>& command)
    {
        player->Started.clear();
        command();
        PlayToTheEnd();
        return player->Started;
    }
    QRect RowRect(const std::string& path)
    {
        TShellListView* list = window->SLV();
        for (int row = 0; row < list->RowCount(); ++row)
            if (list->FileList()->GetItem(row)->GetPath() == path)
                return list->ReportView()->visualRect(list->ReportView()->model()->index(row, 0));
        return {};
    }

    TScopedVariable home_, config_, data_;
    std::vector<std::string> songs;
};

TEST_F(EndToEnd, EveryCommandPlaysItsFilesOnceInOrder)
{
    window->findChild<QAction*>(QStringLiteral("Option_Option"))->trigger();
    ASSERT_NE(frm_Option, nullptr);
    frm_Option->SetRowChecked(ftMP3, true);
    QTest::mouseClick(frm_Option->Button1(), Qt::LeftButton);
    ASSERT_TRUE(FileTypeSwitches[ftMP3]);
    window->STV()->SelectPath(dir.File("home/music"));

    const auto trigger = [&](const char* name) {
        return [&, name] { window->findChild<QAction*>(QString::fromLatin1(name))->trigger(); };
    };
    EXPECT_EQ(Run(trigger("PMN_STV_0")), songs);
    EXPECT_EQ(Run(trigger("PMN_STV_1")), songs);
    QTreeView* report = window->SLV()->ReportView();
    QTest::mouseClick(report->viewport(), Qt::LeftButton, {}, RowRect(songs[2]).center());
    QTest::mouseClick(report->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      RowRect(songs[0]).center());
    EXPECT_EQ(Run(trigger("PMN_SLV_0")), (std::vector<std::string>{songs[0], songs[2]}));
    EXPECT_EQ(Run([&] {
                  QTest::mouseDClick(report->viewport(), Qt::LeftButton, {},
                                     RowRect(songs[1]).center());
              }),
              std::vector<std::string>{songs[1]});
}

} // namespace
