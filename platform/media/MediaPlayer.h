#pragma once

#include "platform/media/IMediaPlayer.h"

#include <QWidget>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QSlider;
class QTimer;
class QToolButton;

typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;

/// Releases a GStreamer object reference; the holder of the player's pipeline.
struct TGstObjectRelease
{
    void operator()(GstElement* element) const;
};

/// The embedded media player: a display line (title and artist from the
/// stream's tags, else the file name), play/pause and stop buttons, a seek
/// slider, elapsed and total time, volume and mute, over one GStreamer
/// playbin kept for the life of the control.
///
/// FileName takes a path made by PathToQString; it is turned back into the
/// same bytes, so names that are not UTF-8 play. Setting it
/// - to a media file prerolls it before returning (a bounded wait of a few
///   seconds) and throws EMediaPlayerError with GStreamer's message text when
///   it cannot be opened or decoded (a missing file too); anything but a
///   regular file (a FIFO, a device) is refused without being opened;
///   FileName is then empty;
/// - to an M3U playlist (extension .m3u or .m3u8 in any case, or content
///   starting with "#EXTM3U") throws only when the playlist cannot be read.
///   Entries are byte paths, one per line (LF or CR LF), relative ones
///   resolved against the playlist's folder; "#" lines and blank lines are
///   ignored. Entries play in order, gapless: the next entry is queued when
///   the current one is about to finish. A missing, unreadable or special entry stops
///   the playlist after the current entry has played out; an entry that
///   cannot be decoded stops it when its failure shows, which may cut the
///   end of the entry before it.
///
/// Events (always posted through the Qt event loop, never fired from inside
/// a member call; a previous FileName's late events are dropped):
/// - OnNewStream when a single file or a playlist entry starts;
/// - OnEndOfStream once, after the single file or the playlist's last entry
///   ended (Result erEnded), or when a stream could not be opened or failed
///   while playing (Result erFailed); the control is then stopped. It never
///   fires between the entries of a playlist. An empty playlist reports
///   erEnded at once;
/// - OnPlayStateChange(old, new) on each change of the logical state:
///   psWaiting while opening, psPlaying, psPaused, psReady (opened with
///   AutoStart off), psStopped (after Stop, after the end, after a failure),
///   psClosed when a new FileName replaces the old one. The same state is
///   never reported twice in a row; before the first FileName the state is
///   psClosed;
/// - OnStreamInfoChange when tags or a duration of the playing stream
///   arrive (possibly with the same values again);
/// - OnVolumeChange after each change of the volume slider, SetVolume's too;
/// - OnSeek when the user lets go of the seek slider (SeekTo fires nothing).
///
/// Play does nothing without a FileName, while playing or opening, and after
/// what FileName named has run to its end or stopped at a failure (so a late
/// Play never replays it); it resumes from pause, starts a file opened with
/// AutoStart off, and plays from the start after Stop. The play button,
/// unlike Play, also replays after the end.
///
/// TUNEMILL_AUDIO_SINK, when set, is a bin description that replaces the
/// audio sink ("fakesink", "fakesink sync=true").
class TMediaPlayer : public QWidget, public IMediaPlayer
{
public:
    /// OnEndOfStream results.
    enum TEndResult : int32_t
    {
        erEnded = 0,
        erFailed = 1,
    };
    /// Opened and prerolled, waiting for Play (AutoStart off).
    static constexpr int32_t psReady = 10;

    explicit TMediaPlayer(QWidget* parent = nullptr);
    ~TMediaPlayer() override;

    QString FileName() const override { return fileName_; }
    void SetFileName(const QString& fileName) override;
    bool AutoStart() const override { return autoStart_; }
    void SetAutoStart(bool autoStart) override { autoStart_ = autoStart; }

    void Play() override;
    void Stop() override;
    void Pause();
    /// Nothing to cancel: Stop already released the stream.
    void Cancel() override {}
    /// Refreshes the seek slider and the time labels; cheap.
    void Realign() override;

    /// The current logical play state (the last one reported).
    int32_t PlayState() const { return state_; }
    /// The text of the display line.
    QString DisplayText() const;
    /// Whether Play would start or resume what FileName names.
    bool CanPlay() const { return !fileName_.isEmpty() && !endReached_; }

    /// The file: URI of the single file or playlist entry whose stream
    /// started last; empty before a stream of the current FileName started.
    std::string CurrentUri() const;
    /// The own name of that file (what the display line shows without tags).
    QString CurrentEntryName() const { return currentEntryName_; }
    /// The stream's title and artist tags; empty until the stream has them.
    QString Title() const { return tagTitle_; }
    QString Artist() const { return tagArtist_; }
    /// Of the open stream, in nanoseconds; -1 when unknown or none is open
    /// (after Stop and after the end, nothing is open).
    int64_t Duration() const;
    int64_t Position() const;
    /// Moves the open stream to `position` (nanoseconds), as the seek
    /// slider does; false when no stream is open.
    bool SeekTo(int64_t position);
    /// The volume slider, 0 to 100; SetVolume clamps.
    int Volume() const;
    void SetVolume(int volume);

    std::function<void()> OnStreamInfoChange;
    std::function<void(int Volume)> OnVolumeChange;
    /// Position: where the slider sent the stream, in nanoseconds.
    std::function<void(int64_t Position)> OnSeek;

protected:
    /// Makes the audio sink; the default honours TUNEMILL_AUDIO_SINK and
    /// otherwise returns nullptr (playbin's own choice). Called once, when
    /// the first FileName is set (so an override takes effect). Returns a
    /// floating or new reference, or nullptr.
    virtual GstElement* CreateAudioSink();

    virtual void DoStreamInfoChange()
    {
        if (OnStreamInfoChange)
            OnStreamInfoChange();
    }
    virtual void DoVolumeChange(int volume)
    {
        if (OnVolumeChange)
            OnVolumeChange(volume);
    }
    virtual void DoSeek(int64_t position)
    {
        if (OnSeek)
            OnSeek(position);
    }

    void customEvent(QEvent* event) override;

private:
    struct TOpenWait
    {
        uint64_t generation = 0;
        std::string uri;
        bool prerolled = false;
        bool finished = false;
        std::optional<std::string> error;
    };

    void EnsurePipeline();
    void BuildUi();

    void CloseStream();
    void Halt();
    enum class TPreroll
    {
        Done,
        Failed,
        Stalled
    };
    /// Prerolls entry `index`; on failure returns false with the message.
    bool OpenEntry(size_t index, std::string& error);
    TPreroll Preroll(const std::string& uri, std::chrono::milliseconds timeout, std::string& error);
    void StartFromBeginning();
    void StartPlaying();
    void FailAndReport();
    void StopAfterFailure();
    void ContinueWithEntry(size_t index);
    void OnDrainTick();
    void ChangeState(int32_t newState);
    void PostEndOfStream(int32_t result);

    void HandleBusMessage(GstMessage* message, const std::string& errorUri);
    void HandleTags(GstMessage* message);
    void UpdateDisplay();
    void OnPlayPauseClicked();
    void OnSeekReleased();
    void OnVolumeChanged(int value);
    void OnMuteClicked();

    // The C callbacks live in the .cpp and hand over to these members.
    struct TCallbacks;
    friend struct TCallbacks;
    bool OnBusSync(GstMessage* message);
    void OnAboutToFinish();

    QString fileName_;
    bool autoStart_ = true;
    int32_t state_ = psClosed;
    bool endReached_ = false;
    bool opened_ = false;

    std::unique_ptr<GstElement, TGstObjectRelease> playbin_;
    std::atomic<uint64_t> generation_{1};

    // Shared with GStreamer's threads (about-to-finish, bus sync handler).
    std::mutex mutex_;
    std::condition_variable openDone_;
    TOpenWait openWait_;
    std::vector<std::string> entries_;
    std::vector<std::string> uris_; // of entries_, empty where a path has none
    uint64_t queueGeneration_ = 0;
    size_t nextEntry_ = 0;
    bool nextEntryUnreadable_ = false;
    bool nextEntryDeferred_ = false;

    // UI thread only.
    size_t streamsStarted_ = 0;
    size_t openedEntry_ = 0;
    bool queuedEntryFailed_ = false;
    QTimer* drainTimer_ = nullptr;
    int64_t drainPosition_ = -1;
    QString currentEntryName_;
    QString tagTitle_;
    QString tagArtist_;

    QLabel* display_ = nullptr;
    QSlider* seek_ = nullptr;
    QLabel* time_ = nullptr;
    QToolButton* playPause_ = nullptr;
    QToolButton* stop_ = nullptr;
    QToolButton* mute_ = nullptr;
    QSlider* volume_ = nullptr;
};
