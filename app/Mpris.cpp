#include "app/Mpris.h"

#include "app/Unt_Main.h"
#include "platform/media/MediaPlayer.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const QString kServiceName = QStringLiteral("org.mpris.MediaPlayer2.com.lumesksoft.Tunemill");
const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");

void Warn(const QString& text)
{
    std::fprintf(stderr, "tunemill: %s\n", text.toLocal8Bit().constData());
}

} // namespace

class TMprisRootAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)

public:
    explicit TMprisRootAdaptor(TMprisService& service)
        : QDBusAbstractAdaptor(&service), service_(service)
    {
    }

    QString Identity() const { return QStringLiteral("Tunemill"); }
    QString DesktopEntry() const { return QStringLiteral("com.lumesksoft.Tunemill"); }
    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    QStringList SupportedUriSchemes() const { return {QStringLiteral("file")}; }
    QStringList SupportedMimeTypes() const
    {
        // The six groups' extensions as the shared MIME database names them.
        return {QStringLiteral("audio/midi"),     QStringLiteral("audio/x-midi"),
                QStringLiteral("audio/x-ms-wma"), QStringLiteral("audio/x-ms-asx"),
                QStringLiteral("audio/x-wav"),    QStringLiteral("audio/wav"),
                QStringLiteral("audio/mpeg"),     QStringLiteral("audio/x-aiff"),
                QStringLiteral("audio/x-aifc"),   QStringLiteral("audio/basic")};
    }

public Q_SLOTS:
    void Quit() { service_.Quit(); }
    void Raise() { service_.Raise(); }

private:
    TMprisService& service_;
};

class TMprisPlayerAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(double Rate READ Rate)
    Q_PROPERTY(double MinimumRate READ Rate)
    Q_PROPERTY(double MaximumRate READ Rate)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(bool CanGoNext READ CanGoNext)
    Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
    Q_PROPERTY(bool CanPlay READ CanPlay)
    Q_PROPERTY(bool CanPause READ CanPlay)
    Q_PROPERTY(bool CanSeek READ CanSeek)
    Q_PROPERTY(bool CanControl READ CanControl)

public:
    explicit TMprisPlayerAdaptor(TMprisService& service)
        : QDBusAbstractAdaptor(&service), service_(service)
    {
    }

    QString PlaybackStatus() const { return service_.PlaybackStatus(); }
    double Rate() const { return 1.0; }
    QVariantMap Metadata() const { return service_.Metadata(); }
    double Volume() const { return service_.Volume(); }
    void SetVolume(double volume) { service_.SetVolume(volume); }
    qlonglong Position() const { return service_.Position(); }
    bool CanGoNext() const { return service_.CanGoNext(); }
    bool CanGoPrevious() const { return false; }
    bool CanPlay() const { return service_.CanPlay(); }
    bool CanSeek() const { return service_.CanSeek(); }
    bool CanControl() const { return true; }

public Q_SLOTS:
    void Next() { service_.Next(); }
    // The queue keeps no history.
    void Previous() {}
    void Pause() { service_.player_->Pause(); }
    void PlayPause() { service_.PlayPause(); }
    void Stop() { service_.player_->Stop(); }
    void Play() { service_.player_->Play(); }
    void Seek(qlonglong Offset) { service_.Seek(Offset); }
    void SetPosition(const QDBusObjectPath& TrackId, qlonglong Position)
    {
        service_.SetPosition(TrackId.path(), Position);
    }

Q_SIGNALS:
    void Seeked(qlonglong Position);

private:
    TMprisService& service_;
};

TMprisService::TMprisService(Tfrm_Main& window) : QObject(&window), window_(window)
{
    player_ = dynamic_cast<TMediaPlayer*>(&window.WMP());
    if (!player_)
        return;
    new TMprisRootAdaptor(*this);
    playerAdaptor_ = new TMprisPlayerAdaptor(*this);
    Register();
    if (registered_)
        HookPlayer();
}

TMprisService::~TMprisService()
{
    if (registered_) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(kServiceName);
        bus.unregisterObject(kObjectPath);
    }
    // A window that goes first takes its player along.
    if (registered_ && player_) {
        player_->OnNewStream = driverNewStream_;
        player_->OnEndOfStream = driverEndOfStream_;
        player_->OnPlayStateChange = driverPlayStateChange_;
        player_->OnStreamInfoChange = nullptr;
        player_->OnVolumeChange = nullptr;
        player_->OnSeek = nullptr;
    }
}

void TMprisService::Register()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        Warn(QStringLiteral("no session bus, so no media controls (%1)")
                 .arg(bus.lastError().message()));
        return;
    }
    if (!bus.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors)) {
        Warn(QStringLiteral("the media controls' object %1 is taken").arg(kObjectPath));
        return;
    }
    if (!bus.registerService(kServiceName)) {
        bus.unregisterObject(kObjectPath);
        Warn(QStringLiteral("the bus name %1 is taken, so no media controls").arg(kServiceName));
        return;
    }
    registered_ = true;
}

void TMprisService::HookPlayer()
{
    driverNewStream_ = player_->OnNewStream;
    driverEndOfStream_ = player_->OnEndOfStream;
    driverPlayStateChange_ = player_->OnPlayStateChange;
    // After the driver, so that the queue has taken the stream's head.
    player_->OnNewStream = [this] {
        if (driverNewStream_)
            driverNewStream_();
        ++streamNumber_;
        Refresh();
    };
    player_->OnEndOfStream = [this](int32_t result) {
        if (driverEndOfStream_)
            driverEndOfStream_(result);
        Refresh();
    };
    player_->OnPlayStateChange = [this](int32_t oldState, int32_t newState) {
        if (driverPlayStateChange_)
            driverPlayStateChange_(oldState, newState);
        Refresh();
    };
    player_->OnStreamInfoChange = [this] { Refresh(); };
    player_->OnVolumeChange = [this](int) { Refresh(); };
    player_->OnSeek = [this](int64_t position) { Q_EMIT playerAdaptor_->Seeked(position / 1000); };
    sent_ = SignalledProperties();
}

void TMprisService::Quit()
{
    // After the reply has gone: the close ends the program.
    QTimer::singleShot(0, &window_, [window = &window_] { window->close(); });
}

void TMprisService::Raise()
{
    window_.BringToFront();
}

QString TMprisService::PlaybackStatus() const
{
    switch (player_->PlayState()) {
    case IMediaPlayer::psPlaying:
    case IMediaPlayer::psWaiting:
        return QStringLiteral("Playing");
    case IMediaPlayer::psPaused:
    case TMediaPlayer::psReady:
        return QStringLiteral("Paused");
    default:
        return QStringLiteral("Stopped");
    }
}

QString TMprisService::TrackId() const
{
    if (player_->CurrentUri().empty())
        return kNoTrack;
    return QStringLiteral("/com/lumesksoft/Tunemill/track/%1").arg(streamNumber_);
}

QVariantMap TMprisService::Metadata() const
{
    QVariantMap metadata;
    metadata.insert(QStringLiteral("mpris:trackid"),
                    QVariant::fromValue(QDBusObjectPath(TrackId())));
    const std::string uri = player_->CurrentUri();
    if (uri.empty())
        return metadata;
    metadata.insert(QStringLiteral("xesam:url"), QString::fromStdString(uri));
    // Without tags, what the display line shows.
    const QString title = player_->Title();
    metadata.insert(QStringLiteral("xesam:title"),
                    title.isEmpty() ? player_->CurrentEntryName() : title);
    if (const QString artist = player_->Artist(); !artist.isEmpty())
        metadata.insert(QStringLiteral("xesam:artist"), QStringList{artist});
    if (const int64_t length = Length(); length > 0)
        metadata.insert(QStringLiteral("mpris:length"), qlonglong(length));
    return metadata;
}

double TMprisService::Volume() const
{
    return player_->Volume() / 100.0;
}

void TMprisService::SetVolume(double volume)
{
    if (std::isnan(volume))
        return;
    player_->SetVolume(static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 100)));
    Refresh();
}

int64_t TMprisService::Position() const
{
    return std::max<int64_t>(player_->Position() / 1000, 0);
}

int64_t TMprisService::Length() const
{
    const int64_t duration = player_->Duration();
    return duration > 0 ? duration / 1000 : -1;
}

bool TMprisService::CanGoNext() const
{
    return !window_.PendingFiles.empty();
}

bool TMprisService::CanPlay() const
{
    return player_->CanPlay();
}

bool TMprisService::CanSeek() const
{
    return Length() > 0;
}

void TMprisService::Next()
{
    window_.PlayNextInQueue();
}

void TMprisService::PlayPause()
{
    if (player_->PlayState() == IMediaPlayer::psPlaying)
        player_->Pause();
    else
        player_->Play();
}

void TMprisService::Seek(int64_t offset)
{
    if (!CanSeek())
        return;
    const int64_t target = Position() + offset;
    if (target > Length()) {
        Next();
        return;
    }
    SeekTo(std::max<int64_t>(target, 0));
}

void TMprisService::SetPosition(const QString& trackId, int64_t position)
{
    if (!CanSeek() || trackId != TrackId() || position < 0 || position > Length())
        return;
    SeekTo(position);
}

void TMprisService::SeekTo(int64_t position)
{
    if (player_->SeekTo(position * 1000))
        Q_EMIT playerAdaptor_->Seeked(position);
}

QVariantMap TMprisService::SignalledProperties() const
{
    return {{QStringLiteral("PlaybackStatus"), PlaybackStatus()},
            {QStringLiteral("Metadata"), Metadata()},
            {QStringLiteral("Volume"), Volume()},
            {QStringLiteral("CanGoNext"), CanGoNext()},
            {QStringLiteral("CanPlay"), CanPlay()},
            {QStringLiteral("CanPause"), CanPlay()},
            {QStringLiteral("CanSeek"), CanSeek()}};
}

void TMprisService::Refresh()
{
    if (!registered_)
        return;
    const QVariantMap now = SignalledProperties();
    QVariantMap changed;
    for (auto it = now.begin(); it != now.end(); ++it) {
        if (sent_.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    }
    if (changed.isEmpty())
        return;
    sent_ = now;
    QDBusMessage signal =
        QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

#include "Mpris.moc"
