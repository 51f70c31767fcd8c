#include "platform/core/PathCodec.h"
#include "platform/media/MediaPlayer.h"
#include "tests/support/MediaFiles.h"
#include "tests/support/TestFiles.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Pumps the event loop in short slices until `done` holds or the deadline
// passes.
template <typename TPredicate> bool PumpUntil(TPredicate done, int milliseconds = 10000)
{
    QDeadlineTimer deadline(milliseconds);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Lets late events arrive, so that "exactly once" is checked for real.
void PumpFor(int milliseconds)
{
    PumpUntil([] { return false; }, milliseconds);
}

// Records the stream events in order ("new", "end:0", "end:1") and the
// play-state changes separately.
struct TRecorder
{
    explicit TRecorder(IMediaPlayer& player)
    {
        player.OnNewStream = [this] { Streams.push_back("new"); };
        player.OnEndOfStream = [this](int32_t result) {
            Streams.push_back("end:" + std::to_string(result));
        };
        player.OnPlayStateChange = [this](int32_t oldState, int32_t newState) {
            States.push_back({oldState, newState});
        };
    }
    bool Ended() const
    {
        for (const std::string& event : Streams)
            if (event.rfind("end:", 0) == 0)
                return true;
        return false;
    }
    std::vector<std::string> Streams;
    std::vector<std::pair<int32_t, int32_t>> States;
};

// A player over a sink of the test's choice, which also tells when the end of
// a stream reached the sink.
class TTestPlayer : public TMediaPlayer
{
public:
    explicit TTestPlayer(std::string sink = "fakesink") : sinkDescription_(std::move(sink)) {}

    bool WaitForEosAtSink()
    {
        std::unique_lock lock(mutex_);
        return eosSeen_.wait_for(lock, std::chrono::seconds(5), [this] { return eos_; });
    }

protected:
    GstElement* CreateAudioSink() override
    {
        GstElement* sink = gst_parse_bin_from_description(sinkDescription_.c_str(), TRUE, nullptr);
        GstPad* pad = gst_element_get_static_pad(sink, "sink");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &TTestPlayer::Probe, this,
                          nullptr);
        gst_object_unref(pad);
        return sink;
    }

private:
    static GstPadProbeReturn Probe(GstPad*, GstPadProbeInfo* info, gpointer self)
    {
        if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS) {
            auto* player = static_cast<TTestPlayer*>(self);
            std::lock_guard lock(player->mutex_);
            player->eos_ = true;
            player->eosSeen_.notify_all();
        }
        return GST_PAD_PROBE_OK;
    }

    std::string sinkDescription_;
    std::mutex mutex_;
    std::condition_variable eosSeen_;
    bool eos_ = false;
};

void ExpectNoRepeatedState(const TRecorder& recorder)
{
    for (size_t i = 0; i < recorder.States.size(); ++i) {
        EXPECT_NE(recorder.States[i].first, recorder.States[i].second) << "change " << i;
        if (i > 0) {
            EXPECT_EQ(recorder.States[i - 1].second, recorder.States[i].first) << "change " << i;
        }
    }
}

const std::vector<std::string> kOneStream = {"new", "end:0"};

class MediaPlayerKinds : public ::testing::TestWithParam<TMediaKind>
{
};

TEST_P(MediaPlayerKinds, PlaysOnceFromNewStreamToEndOfStream)
{
    TTestDir dir;
    std::string error;
    const std::string path = dir.File("sample" + MediaExtension(GetParam()));
    ASSERT_TRUE(WriteMediaFileAt(path, GetParam(), &error)) << error;

    TMediaPlayer player;
    TRecorder recorder(player);
    player.SetFileName(PathToQString(path));
    EXPECT_TRUE(recorder.Streams.empty());
    EXPECT_TRUE(recorder.States.empty());

    ASSERT_TRUE(PumpUntil([&] { return recorder.Ended(); }));
    PumpFor(200);
    EXPECT_EQ(recorder.Streams, kOneStream);
    ExpectNoRepeatedState(recorder);
    ASSERT_FALSE(recorder.States.empty());
    EXPECT_EQ(recorder.States.front(), std::make_pair(int32_t(6), int32_t(3)));
    EXPECT_EQ(recorder.States.back().second, IMediaPlayer::psStopped);
}

INSTANTIATE_TEST_SUITE_P(AllGroups, MediaPlayerKinds, ::testing::ValuesIn(AllMediaKinds()),
                         [](const auto& info) { return MediaExtension(info.param).substr(1); });

TEST(MediaPlayer, RefusesWhatCannotBeOpenedWithoutFiringEvents)
{
    TTestDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File("text.mp3"), "This is not audio at all.\n"));
    for (const char* name : {"x.wav", "list.m3u"})
        Check(::mkfifo(dir.File(name).c_str(), 0600) == 0, name);
    ::alarm(30); // a hang on a FIFO ends the test
    const std::vector<std::string> refused = {dir.File("text.mp3"), dir.File("missing.wav"),
                                              dir.File("missing.m3u"), dir.File("x.wav"),
                                              dir.File("list.m3u")};
    for (const std::string& path : refused) {
        SCOPED_TRACE(path);
        TMediaPlayer player;
        TRecorder recorder(player);
        try {
            player.SetFileName(PathToQString(path));
            ADD_FAILURE() << "no exception";
        } catch (const EMediaPlayerError& error) {
            EXPECT_STRNE(error.what(), "");
        }
        EXPECT_TRUE(recorder.Streams.empty());
        EXPECT_TRUE(recorder.States.empty());
        EXPECT_TRUE(player.FileName().isEmpty());
        // A late Play after the refusal has nothing to start.
        player.Play();
        PumpFor(100);
        EXPECT_TRUE(recorder.Streams.empty());
    }
    ::alarm(0);
}

TEST(MediaPlayer, PlaylistStopsAtABadEntryAndALatePlayDoesNotRestartIt)
{
    TTestDir dir;
    const std::string good = WriteMediaFile(dir.Path(), TMediaKind::Wav);
    ASSERT_FALSE(good.empty());
    const std::string undecodable = dir.File("bad.mp3");
    ASSERT_TRUE(WriteFileBytes(undecodable, "not audio"));
    const std::string missing = dir.File("gone.wav");
    const std::string fifo = dir.File("fifo.wav");
    Check(::mkfifo(fifo.c_str(), 0600) == 0, "mkfifo");
    ::alarm(60); // a hang on the FIFO ends the test

    struct TCase
    {
        const char* Name;
        std::vector<std::string> Entries;
        std::vector<std::string> Expected;
    };
    const std::vector<TCase> cases = {
        {"undecodable second", {good, undecodable, good}, {"new", "end:1"}},
        {"missing second", {good, missing, good}, {"new", "end:1"}},
        {"undecodable first", {undecodable, good}, {"end:1"}},
        {"missing first", {missing, good}, {"end:1"}},
        {"FIFO second", {good, fifo, good}, {"new", "end:1"}},
        {"FIFO first", {fifo, good}, {"end:1"}},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        ASSERT_TRUE(WriteM3u(dir.File("list.m3u"), test.Entries));
        TMediaPlayer player;
        TRecorder recorder(player);
        player.SetFileName(PathToQString(dir.File("list.m3u")));
        EXPECT_TRUE(recorder.Streams.empty());
        player.Play(); // the driver's start message, right after the setter
        ASSERT_TRUE(PumpUntil([&] { return recorder.Ended(); }));
        player.Play();
        PumpFor(300);
        EXPECT_EQ(recorder.Streams, test.Expected);
        EXPECT_EQ(player.PlayState(), IMediaPlayer::psStopped);
        ExpectNoRepeatedState(recorder);
    }
    ::alarm(0);
}

// The AIFF demuxer's first buffer can race its decoder bin; a lost race
// used to leave a preroll that never came.
TEST(MediaPlayer, AiffPrerollsEveryTime)
{
    TTestDir dir;
    const std::string path = WriteMediaFile(dir.Path(), TMediaKind::Aiff);
    TMediaPlayer player;
    player.SetAutoStart(false);
    for (int round = 0; round < 20; ++round) {
        const QDeadlineTimer deadline(1000);
        ASSERT_NO_THROW(player.SetFileName(PathToQString(path))) << "round " << round;
        ASSERT_FALSE(deadline.hasExpired()) << "round " << round;
    }
}

TEST(MediaPlayer, PlaylistPlaysEveryEntryGaplessAndEndsOnce)
{
    TTestDir dir;
    std::vector<std::string> entries;
    for (const TMediaKind kind : {TMediaKind::Wav, TMediaKind::Mp3, TMediaKind::Au})
        entries.push_back(WriteMediaFile(dir.Path(), kind));
    ASSERT_TRUE(WriteM3u(dir.File("three.M3U"), entries));

    TMediaPlayer player;
    TRecorder recorder(player);
    player.SetFileName(PathToQString(dir.File("three.M3U")));
    ASSERT_TRUE(PumpUntil([&] { return recorder.Ended(); }));
    PumpFor(200);
    EXPECT_EQ(recorder.Streams, (std::vector<std::string>{"new", "new", "new", "end:0"}));
    ExpectNoRepeatedState(recorder);
}

TEST(MediaPlayer, PlaylistEntriesResolveAgainstItsFolder)
{
    TTestDir dir;
    ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0755), 0);
    ASSERT_FALSE(WriteMediaFile(dir.File("sub"), TMediaKind::Wav, "a").empty());
    ASSERT_FALSE(WriteMediaFile(dir.Path(), TMediaKind::Au, "b").empty());
    // CR LF, comments, a blank line, and a name that is not UTF-8.
    const std::string odd = std::string("\xff\xfe") + ".wav";
    ASSERT_TRUE(WriteMediaFileAt(dir.File(odd), TMediaKind::Wav));
    ASSERT_TRUE(WriteFileBytes(dir.File("list.m3u"), "#EXTM3U\r\n# a comment\r\nsub/a.wav\r\n\r\n"
                                                     "#EXTINF:1,b\r\nb.au\r\n" +
                                                         odd + "\r\n"));

    TMediaPlayer player;
    TRecorder recorder(player);
    player.SetFileName(PathToQString(dir.File("list.m3u")));
    ASSERT_TRUE(PumpUntil([&] { return recorder.Ended(); }));
    PumpFor(200);
    EXPECT_EQ(recorder.Streams, (std::vector<std::string>{"new", "new", "new", "end:0"}));
    EXPECT_EQ(player.DisplayText(), PathToQString(odd));
}

TEST(MediaPlayer, NameThatIsNotUtf8Plays)
{
    TTestDir dir;
    const std::string path = dir.File(std::string("\xff\xfe-\x89\xb9.mp3"));
    ASSERT_TRUE(WriteMediaFileAt(path, TMediaKind::Mp3));

    TMediaPlayer player;
    TRecorder recorder(player);
    player.SetFileName(PathToQString(path));
    ASSERT_TRUE(PumpUntil([&] { return recorder.Ended(); }));
    EXPECT_EQ(recorder.Streams, kOneStream);
    EXPECT_EQ(player.FileName(), PathToQString(path));
}

TEST(MediaPlayer, DisplayLineShowsTagsElseTheFileName)
{
    TTestDir dir;
    const std::string tagged = WriteMediaFile(dir.Path(), TMediaKind::Mp3, "tagged");
    const std::string untagged = WriteMediaFile(dir.Path(), TMediaKind::Wav, "未タグ");
    ASSERT_FALSE(tagged.empty());
    ASSERT_FALSE(untagged.empty());

    TMediaPlayer player;
    TRecorder recorder(player);
    player.SetFileName(PathToQString(tagged));
    ASSERT_TRUE(PumpUntil([&] { return recorder.Ended(); }));
    EXPECT_TRUE(player.DisplayText().contains(QString::fromUtf8(kMediaTitle)))
        << player.DisplayText().toStdString();
    EXPECT_TRUE(player.DisplayText().contains(QString::fromUtf8(kMediaArtist)));

    recorder.Streams.clear();
    player.SetFileName(PathToQString(untagged));
    ASSERT_TRUE(PumpUntil([&] { return recorder.Ended(); }));
    EXPECT_EQ(player.DisplayText(), QStringLiteral("未タグ.wav"));
}

TEST(MediaPlayer, PlayOnlyStartsWhatIsNotAlreadyGoing)
{
    TTestDir dir;
    const std::string path = WriteMediaFile(dir.Path(), TMediaKind::Wav);
    ASSERT_FALSE(path.empty());
    // A clocked sink, so that the file is still playing when Play comes.
    TTestPlayer player("fakesink sync=true");
    TRecorder recorder(player);
    player.Play(); // no FileName yet
    PumpFor(50);
    EXPECT_TRUE(recorder.Streams.empty());
    EXPECT_TRUE(recorder.States.empty());

    player.SetFileName(PathToQString(path));
    player.Play();
    ASSERT_TRUE(PumpUntil([&] { return !recorder.Streams.empty(); }));
    player.Play();
    player.Pause();
    EXPECT_EQ(player.PlayState(), IMediaPlayer::psPaused);
    player.Play(); // resumes: no new stream
    EXPECT_EQ(player.PlayState(), IMediaPlayer::psPlaying);
    ASSERT_TRUE(PumpUntil([&] { return recorder.Ended(); }));
    player.Play(); // after the end: nothing
    PumpFor(100);
    EXPECT_EQ(recorder.Streams, kOneStream);

    // After an ordinary Stop, Play starts again from the beginning.
    player.Stop();
    player.Play();
    EXPECT_EQ(player.PlayState(), IMediaPlayer::psPlaying);
    ASSERT_TRUE(PumpUntil([&] { return recorder.Streams.size() == 4; }));
    EXPECT_EQ(recorder.Streams, (std::vector<std::string>{"new", "end:0", "new", "end:0"}));
    ExpectNoRepeatedState(recorder);
}

TEST(MediaPlayer, AutoStartOffOpensWithoutPlaying)
{
    TTestDir dir;
    const std::string path = WriteMediaFile(dir.Path(), TMediaKind::Au);
    TMediaPlayer player;
    TRecorder recorder(player);
    player.SetAutoStart(false);
    player.SetFileName(PathToQString(path));
    PumpFor(200);
    EXPECT_FALSE(recorder.Ended());
    EXPECT_EQ(player.PlayState(), TMediaPlayer::psReady);
    player.Play();
    ASSERT_TRUE(PumpUntil([&] { return recorder.Ended(); }));
    EXPECT_EQ(recorder.Streams, kOneStream);
}

TEST(MediaPlayer, ReplacedFileNeverDeliversItsLateEvents)
{
    TTestDir dir;
    const std::string first = WriteMediaFile(dir.Path(), TMediaKind::Wav, "first");
    const std::string second = WriteMediaFile(dir.Path(), TMediaKind::Au, "second");
    TTestPlayer player;
    TRecorder recorder(player);
    player.SetFileName(PathToQString(first));
    // The first file's end has reached the sink, so its messages are posted
    // (or about to be) before the replacement stops its pipeline.
    ASSERT_TRUE(player.WaitForEosAtSink());
    player.SetFileName(PathToQString(second));
    ASSERT_TRUE(PumpUntil([&] { return recorder.Ended(); }));
    PumpFor(200);
    EXPECT_EQ(recorder.Streams, kOneStream);
    EXPECT_EQ(player.DisplayText(), QStringLiteral("second.au"));
    // closed, opening, playing for the first; then closed again for the second.
    ASSERT_GE(recorder.States.size(), 4u);
    EXPECT_EQ(recorder.States[2], std::make_pair(int32_t(2), int32_t(6)));
    ExpectNoRepeatedState(recorder);
}

} // namespace
