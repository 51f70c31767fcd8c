// The driver with the real player: playlists through the hand-over and the
// posted messages, as a play command uses them.
#include "app/Unt_Main.h"

#include "platform/core/AppDir.h"
#include "platform/core/PathCodec.h"
#include "platform/media/MediaPlayer.h"
#include "tests/support/MediaFiles.h"
#include "tests/support/TestFiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
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

} // namespace
