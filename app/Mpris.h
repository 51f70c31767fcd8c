#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <functional>

class TMediaPlayer;
class TMprisPlayerAdaptor;
class Tfrm_Main;

/// The player's media controls on the session bus (MPRIS 2), for media keys
/// and the desktop's media controls: org.mpris.MediaPlayer2 (Quit through the
/// window's close, Raise) and org.mpris.MediaPlayer2.Player over the window's
/// player control and its queue.
///
/// Play, Pause, PlayPause and Stop are the control's own members, as its
/// buttons are; Next is the queue's continuation (Tfrm_Main::PlayNextInQueue),
/// which starts the next file also from pause, so nothing here changes how
/// the driver keeps its queue. PlaybackStatus is
/// the control's state: playing and opening (on the way to playing) are
/// "Playing", paused and opened-waiting-for-Play are "Paused", the rest
/// "Stopped". CanPlay and CanPause say whether the control holds something
/// that Play would start (not after its end). Metadata is that of the stream
/// that started last, its title the file's own name until the stream's tags
/// name one; between a file and the next there is no track. PropertiesChanged
/// follows the control's and the driver's events; Seeked follows Seek,
/// SetPosition and a drag of the seek slider.
/// Seek past the end acts as Next, as MPRIS asks; SetPosition with another
/// track's id or a position outside the track is ignored.
///
/// Without a session bus, or with the name taken, one line goes to standard
/// error and the program runs as before. The window's player must be a
/// TMediaPlayer; with any other, nothing is registered.
class TMprisService : public QObject
{
public:
    explicit TMprisService(Tfrm_Main& window);
    ~TMprisService() override;

private:
    friend class TMprisRootAdaptor;
    friend class TMprisPlayerAdaptor;

    void Register();
    void HookPlayer();

    void Quit();
    void Raise();

    QString PlaybackStatus() const;
    QVariantMap Metadata() const;
    QString TrackId() const;
    double Volume() const;
    void SetVolume(double volume);
    /// Microseconds; Length is -1 when unknown.
    int64_t Position() const;
    int64_t Length() const;
    bool CanGoNext() const;
    bool CanPlay() const;
    bool CanSeek() const;
    void Next();
    void PlayPause();
    void Seek(int64_t offset);
    void SetPosition(const QString& trackId, int64_t position);
    void SeekTo(int64_t position);

    /// The properties that PropertiesChanged reports.
    QVariantMap SignalledProperties() const;
    /// Sends PropertiesChanged with the values that differ from those last
    /// sent.
    void Refresh();

    Tfrm_Main& window_;
    QPointer<TMediaPlayer> player_;
    TMprisPlayerAdaptor* playerAdaptor_ = nullptr;
    bool registered_ = false;
    // Counts the streams started, so that each has a track id of its own.
    uint64_t streamNumber_ = 0;
    QVariantMap sent_;
    // The driver's handlers, called before the service's and put back when
    // it goes.
    std::function<void()> driverNewStream_;
    std::function<void(int32_t)> driverEndOfStream_;
    std::function<void(int32_t, int32_t)> driverPlayStateChange_;
};
