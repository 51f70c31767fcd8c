// Time from setting FileName to the first buffer at the audio sink, for a WAV
// and an MP3 written by MediaFiles, over several rounds on one player. The
// first round includes loading the plugins; its MP3 figure is what the first
// MP3 a user plays in a session costs.
//
//   bench_PlayerStart [rounds] [--default-ranks]
//
// --default-ranks undoes the player's decoder ranking after start-up, to show
// what the ranking buys.
#include "platform/core/PathCodec.h"
#include "platform/media/MediaPlayer.h"
#include "tests/support/MediaFiles.h"
#include "tests/support/TestFiles.h"

#include <QApplication>
#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// The bench target links no test-support library, and that library brings
// its own main(); the two sources the bench needs are compiled in here.

namespace {

using TClock = std::chrono::steady_clock;

class TTimedPlayer : public TMediaPlayer
{
public:
    void Arm()
    {
        seen_.store(false);
        firstBuffer_ = {};
    }
    bool Seen() const { return seen_.load(); }
    TClock::time_point FirstBuffer() const { return firstBuffer_; }

protected:
    GstElement* CreateAudioSink() override
    {
        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        GstPad* pad = gst_element_get_static_pad(sink, "sink");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &TTimedPlayer::OnBuffer, this, nullptr);
        gst_object_unref(pad);
        return sink;
    }

private:
    static GstPadProbeReturn OnBuffer(GstPad*, GstPadProbeInfo*, gpointer self)
    {
        auto* player = static_cast<TTimedPlayer*>(self);
        if (!player->seen_.load()) {
            player->firstBuffer_ = TClock::now();
            player->seen_.store(true);
        }
        return GST_PAD_PROBE_OK;
    }

    std::atomic<bool> seen_{false};
    TClock::time_point firstBuffer_;
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void RestoreDefaultRank(const char* name)
{
    if (GstPluginFeature* feature = gst_registry_lookup_feature(gst_registry_get(), name)) {
        gst_plugin_feature_set_rank(feature, GST_RANK_MARGINAL);
        gst_object_unref(feature);
    }
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    int rounds = 10;
    bool defaultRanks = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--default-ranks") == 0)
            defaultRanks = true;
        else
            rounds = std::max(1, std::atoi(argv[i]));
    }

    TTestDir dir;
    std::string error;
    const std::string wav = dir.File("start.wav");
    const std::string mp3 = dir.File("start.mp3");
    if (!WriteMediaFileAt(wav, TMediaKind::Wav, &error) ||
        !WriteMediaFileAt(mp3, TMediaKind::Mp3, &error)) {
        std::fprintf(stderr, "cannot write the media files: %s\n", error.c_str());
        return 1;
    }

    TTimedPlayer player;
    player.SetAutoStart(false);
    if (defaultRanks)
        RestoreDefaultRank("mpg123audiodec");

    std::vector<double> wavTimes, mp3Times;
    for (int round = 0; round < rounds; ++round) {
        for (const bool isMp3 : {false, true}) {
            player.Arm();
            const TClock::time_point start = TClock::now();
            try {
                player.SetFileName(PathToQString(isMp3 ? mp3 : wav));
            } catch (const EMediaPlayerError& failure) {
                std::fprintf(stderr, "open failed: %s\n", failure.what());
                return 1;
            }
            if (!player.Seen()) {
                std::fprintf(stderr, "no buffer reached the sink\n");
                return 1;
            }
            const double ms =
                std::chrono::duration<double, std::milli>(player.FirstBuffer() - start).count();
            (isMp3 ? mp3Times : wavTimes).push_back(ms);
            player.Stop();
        }
    }

    std::printf("decoder ranks: %s\n", defaultRanks ? "GStreamer defaults" : "the player's");
    std::printf("rounds: %d\n", rounds);
    std::printf("WAV first buffer: first round %.2f ms, median %.2f ms\n", wavTimes.front(),
                Median(wavTimes));
    std::printf("MP3 first buffer: first round %.2f ms, median %.2f ms\n", mp3Times.front(),
                Median(mp3Times));
    std::printf("first MP3 in the process: %.2f ms\n", mp3Times.front());
    return 0;
}
