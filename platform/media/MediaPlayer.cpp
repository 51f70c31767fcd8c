#include "platform/media/MediaPlayer.h"

#include "platform/core/ExceptionHandler.h"
#include "platform/core/FileIO.h"
#include "platform/core/PathCodec.h"
#include "platform/core/Posix.h"
#include "platform/media/GstHolders.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <gst/audio/streamvolume.h>
#include <gst/base/gstbasesink.h>
#include <gst/gst.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

void TGstObjectRelease::operator()(GstElement* element) const
{
    gst_object_unref(element);
}

namespace {

// How long opening may take before the setter gives up. Local files preroll
// in milliseconds; the bound only matters for a stalled source.
constexpr auto kOpenTimeout = std::chrono::seconds(5);
// How long a demuxer's first buffer may wait for its decoder bin to expose
// the pad it is linked to.
constexpr auto kExposeTimeout = std::chrono::seconds(1);

// playbin's GstPlayFlags: audio and software volume only. A jukebox has no
// use for video or subtitle branches, and a video sink would need a display.
constexpr guint kPlayFlagAudio = 1u << 1;
constexpr guint kPlayFlagSoftVolume = 1u << 4;

void InitGstreamerOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        gst_init(nullptr, nullptr);
        // With equal ranks a libav MP3 decoder wins the tie; mpg123 starts
        // about three times faster and needs far less memory.
        if (GstPluginFeature* feature =
                gst_registry_lookup_feature(gst_registry_get(), "mpg123audiodec")) {
            gst_plugin_feature_set_rank(feature, GST_RANK_PRIMARY);
            gst_object_unref(feature);
        }
    });
}

QEvent::Type PlayerEventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

// Everything the control tells itself through the event loop, so that no
// event fires inside a member call or on a GStreamer thread.
class TPlayerEvent : public QEvent
{
public:
    enum TKind
    {
        kBusMessage,
        kStateChange,
        kEndOfStream,
        kVolumeChange
    };

    TPlayerEvent(TKind kind, uint64_t generation)
        : QEvent(PlayerEventType()), Kind(kind), Generation(generation)
    {
    }

    TKind Kind;
    uint64_t Generation;
    TMessagePtr Message;
    std::string ErrorUri;
    int32_t First = 0;
    int32_t Second = 0;
};

std::string ErrorText(GstMessage* message)
{
    GError* raw = nullptr;
    gst_message_parse_error(message, &raw, nullptr);
    TErrorPtr error(raw);
    if (error && error->message && *error->message)
        return error->message;
    return "ストリームを再生できません";
}

// The uri of the uridecodebin that an error came from; empty for errors
// outside one (the sink's, for example).
std::string SourceUri(GstMessage* message)
{
    for (GstObject* object = GST_MESSAGE_SRC(message); object; object = GST_OBJECT_PARENT(object)) {
        if (!GST_IS_ELEMENT(object))
            continue;
        GstElementFactory* factory = gst_element_get_factory(GST_ELEMENT(object));
        if (factory && std::strcmp(GST_OBJECT_NAME(factory), "uridecodebin") == 0) {
            gchar* uri = nullptr;
            g_object_get(object, "uri", &uri, nullptr);
            TGCharPtr owned(uri);
            return owned ? std::string(owned.get()) : std::string();
        }
    }
    return {};
}

std::string FileUri(const std::string& path)
{
    TGCharPtr uri(gst_filename_to_uri(path.c_str(), nullptr));
    return uri ? std::string(uri.get()) : std::string();
}

// Why a source element may not be given `path`, or empty when it may. A
// FIFO or a device would block the source's open for good, and with it the
// thread that changes the pipeline's state.
std::string SourceRefusal(const std::string& path)
{
    TUniqueFd fd(OpenRegularFile(path, O_RDONLY));
    return fd ? std::string() : FileErrorText(errno);
}

void SkipByteOrderMark(std::string& bytes)
{
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0)
        bytes.erase(0, 3);
}

bool IsPlaylist(const std::string& path)
{
    const std::string name(PathOwnName(path));
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        std::string extension = name.substr(dot + 1);
        for (char& c : extension)
            c = static_cast<char>(g_ascii_tolower(c));
        if (extension == "m3u" || extension == "m3u8")
            return true;
    }
    TUniqueFd fd(OpenRegularFile(path, O_RDONLY));
    char head[10] = {};
    const ssize_t count = fd ? ::read(fd.Get(), head, sizeof head) : -1;
    std::string start(head, count > 0 ? static_cast<size_t>(count) : 0);
    SkipByteOrderMark(start);
    return start.rfind("#EXTM3U", 0) == 0;
}

std::vector<std::string> ParsePlaylist(std::string bytes, const std::string& playlistPath)
{
    SkipByteOrderMark(bytes);
    const size_t slash = playlistPath.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string()
                                                          : playlistPath.substr(0, slash);
    std::vector<std::string> entries;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line.front() == '#')
            continue;
        entries.push_back(line.front() == '/' ? line : folder + "/" + line);
    }
    return entries;
}

// fluiddec loads the first usable file it finds in sounds/sf3, sounds/sf2 or
// soundfonts under the system data directories (XDG_DATA_DIRS); Debian's
// soundfont packages install there (default-GM.sf2/.sf3 alternatives). Only
// when none of those folders holds anything, which happens when
// XDG_DATA_DIRS leaves out /usr/share, is the Debian default named here.
const std::string& FallbackSoundFont()
{
    static const std::string font = [] {
        for (const gchar* const* dir = g_get_system_data_dirs(); *dir; ++dir) {
            for (const char* sub : {"sounds/sf3", "sounds/sf2", "soundfonts"}) {
                TGCharPtr folder(g_build_filename(*dir, sub, nullptr));
                if (GDir* listing = g_dir_open(folder.get(), 0, nullptr)) {
                    const bool hasFiles = g_dir_read_name(listing) != nullptr;
                    g_dir_close(listing);
                    if (hasFiles)
                        return std::string();
                }
            }
        }
        for (const char* candidate :
             {"/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2"}) {
            if (g_file_test(candidate, G_FILE_TEST_EXISTS))
                return std::string(candidate);
        }
        return std::string();
    }();
    return font;
}

QString FormatTime(gint64 nanoseconds)
{
    const gint64 seconds = nanoseconds > 0 ? nanoseconds / GST_SECOND : 0;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

struct TMediaPlayer::TCallbacks
{
    static GstBusSyncReply BusSync(GstBus*, GstMessage* message, gpointer self)
    {
        try {
            static_cast<TMediaPlayer*>(self)->OnBusSync(message);
        } catch (...) {
            HandleException(std::current_exception());
        }
        // A sync handler that drops a message owns it.
        gst_message_unref(message);
        return GST_BUS_DROP;
    }

    static void AboutToFinish(GstElement*, gpointer self)
    {
        try {
            static_cast<TMediaPlayer*>(self)->OnAboutToFinish();
        } catch (...) {
            HandleException(std::current_exception());
        }
    }

    static void ElementSetup(GstElement*, GstElement* element, gpointer)
    {
        GstElementFactory* factory = gst_element_get_factory(element);
        const char* name = factory ? GST_OBJECT_NAME(factory) : "";
        if (std::strcmp(name, "aiffparse") == 0) {
            TPadPtr source(gst_element_get_static_pad(element, "src"));
            if (source)
                gst_pad_add_probe(source.get(), GST_PAD_PROBE_TYPE_BUFFER, &AwaitExposedPad,
                                  nullptr, nullptr);
        } else if (std::strcmp(name, "fluiddec") == 0) {
            const std::string& font = FallbackSoundFont();
            if (!font.empty())
                g_object_set(element, "soundfont", font.c_str(), nullptr);
        }
    }

    // aiffparse reads in pull mode from a task that starts while decodebin is
    // still plugging it, and its always-present source pad is linked to a
    // decode pad before that pad is exposed. A first buffer pushed in that
    // moment meets an unlinked pad: the not-linked error is dropped as one of
    // autoplugging's trial errors, the parser stops, and nothing ever
    // prerolls (about half of all opens of a short file). The first buffer
    // waits here until the pad beyond is linked.
    static GstPadProbeReturn AwaitExposedPad(GstPad* pad, GstPadProbeInfo*, gpointer)
    {
        const auto deadline = std::chrono::steady_clock::now() + kExposeTimeout;
        while (!GST_PAD_IS_FLUSHING(pad) && std::chrono::steady_clock::now() < deadline) {
            TPadPtr peer(gst_pad_get_peer(pad));
            if (peer && !GST_IS_PROXY_PAD(peer.get()))
                break;
            if (peer) {
                TPadPtr exposed(GST_PAD(gst_proxy_pad_get_internal(GST_PROXY_PAD(peer.get()))));
                if (!exposed || gst_pad_is_linked(exposed.get()))
                    break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return GST_PAD_PROBE_REMOVE;
    }
};

TMediaPlayer::TMediaPlayer(QWidget* parent) : QWidget(parent)
{
    InitGstreamerOnce();
    BuildUi();
}

TMediaPlayer::~TMediaPlayer()
{
    if (!playbin_)
        return;
    gst_element_set_state(playbin_.get(), GST_STATE_NULL);
    TBusPtr bus(gst_pipeline_get_bus(GST_PIPELINE(playbin_.get())));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    g_signal_handlers_disconnect_by_data(playbin_.get(), this);
    // Events already posted to this widget are discarded by ~QObject.
}

void TMediaPlayer::BuildUi()
{
    drainTimer_ = new QTimer(this);
    drainTimer_->setInterval(150);
    connect(drainTimer_, &QTimer::timeout, this, [this] { OnDrainTick(); });

    display_ = new QLabel(this);
    display_->setObjectName(QStringLiteral("display"));
    display_->setTextFormat(Qt::PlainText);
    display_->setMinimumWidth(1);

    seek_ = new QSlider(Qt::Horizontal, this);
    seek_->setObjectName(QStringLiteral("seek"));
    seek_->setRange(0, 0);
    seek_->setToolTip(QStringLiteral("シーク"));
    connect(seek_, &QSlider::sliderReleased, this, [this] { OnSeekReleased(); });

    auto makeButton = [this](const char* name, QStyle::StandardPixmap icon, const QString& tip) {
        auto* button = new QToolButton(this);
        button->setObjectName(QString::fromLatin1(name));
        button->setIcon(style()->standardIcon(icon));
        button->setToolTip(tip);
        button->setAutoRaise(true);
        return button;
    };
    playPause_ = makeButton("playPause", QStyle::SP_MediaPlay, QStringLiteral("再生"));
    stop_ = makeButton("stop", QStyle::SP_MediaStop, QStringLiteral("停止"));
    mute_ = makeButton("mute", QStyle::SP_MediaVolume, QStringLiteral("消音"));
    mute_->setCheckable(true);
    connect(playPause_, &QToolButton::clicked, this, [this] { OnPlayPauseClicked(); });
    connect(stop_, &QToolButton::clicked, this, [this] { Stop(); });
    connect(mute_, &QToolButton::clicked, this, [this] { OnMuteClicked(); });

    time_ = new QLabel(this);
    time_->setObjectName(QStringLiteral("time"));
    time_->setText(FormatTime(0) + QStringLiteral(" / ") + FormatTime(0));

    volume_ = new QSlider(Qt::Horizontal, this);
    volume_->setObjectName(QStringLiteral("volume"));
    volume_->setRange(0, 100);
    volume_->setValue(100);
    volume_->setToolTip(QStringLiteral("音量"));
    volume_->setFixedWidth(80);
    connect(volume_, &QSlider::valueChanged, this, [this](int value) { OnVolumeChanged(value); });

    auto* controls = new QHBoxLayout;
    controls->setContentsMargins(0, 0, 0, 0);
    controls->setSpacing(2);
    controls->addWidget(playPause_);
    controls->addWidget(stop_);
    controls->addWidget(time_);
    controls->addStretch(1);
    controls->addWidget(mute_);
    controls->addWidget(volume_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addWidget(display_);
    layout->addWidget(seek_);
    layout->addLayout(controls);
    layout->addStretch(1);
}

void TMediaPlayer::EnsurePipeline()
{
    if (playbin_)
        return;
    GstElement* playbin = gst_element_factory_make("playbin", nullptr);
    if (!playbin)
        throw EMediaPlayerError("GStreamer の playbin 要素がインストールされていません");
    playbin_.reset(GST_ELEMENT(gst_object_ref_sink(playbin)));
    g_object_set(playbin, "flags", kPlayFlagAudio | kPlayFlagSoftVolume, nullptr);
    if (GstElement* sink = CreateAudioSink())
        g_object_set(playbin, "audio-sink", sink, nullptr);
    gst_stream_volume_set_volume(GST_STREAM_VOLUME(playbin), GST_STREAM_VOLUME_FORMAT_CUBIC,
                                 volume_->value() / 100.0);
    g_object_set(playbin, "mute", gboolean(mute_->isChecked()), nullptr);

    TBusPtr bus(gst_pipeline_get_bus(GST_PIPELINE(playbin)));
    gst_bus_set_sync_handler(bus.get(), &TCallbacks::BusSync, this, nullptr);
    g_signal_connect(playbin, "about-to-finish", G_CALLBACK(&TCallbacks::AboutToFinish), this);
    g_signal_connect(playbin, "element-setup", G_CALLBACK(&TCallbacks::ElementSetup), this);
}

GstElement* TMediaPlayer::CreateAudioSink()
{
    const char* description = std::getenv("TUNEMILL_AUDIO_SINK");
    if (!description || !*description)
        return nullptr;
    GError* raw = nullptr;
    GstElement* sink = gst_parse_bin_from_description(description, TRUE, &raw);
    TErrorPtr error(raw);
    if (!sink)
        throw EMediaPlayerError(std::string("TUNEMILL_AUDIO_SINK: ") +
                                (error ? error->message : "invalid description"));
    return sink;
}

void TMediaPlayer::SetFileName(const QString& fileName)
{
    EnsurePipeline();
    CloseStream();
    if (fileName.isEmpty())
        return;

    const std::string path = QStringToPath(fileName);
    ChangeState(psWaiting);
    const bool playlist = IsPlaylist(path);
    std::vector<std::string> entries;
    if (playlist) {
        std::string bytes;
        if (!ReadRegularFile(path, bytes)) {
            const std::string reason = FileErrorText(errno);
            ChangeState(psStopped);
            throw EMediaPlayerError("再生リストを読み込めません: " + reason);
        }
        entries = ParsePlaylist(std::move(bytes), path);
    } else {
        entries.push_back(path);
    }
    std::vector<std::string> uris;
    for (const std::string& entry : entries)
        uris.push_back(FileUri(entry));
    {
        std::lock_guard lock(mutex_);
        entries_ = std::move(entries);
        uris_ = std::move(uris);
    }
    fileName_ = fileName;

    if (entries_.empty()) {
        endReached_ = true;
        ChangeState(psStopped);
        PostEndOfStream(erEnded);
        return;
    }
    std::string error;
    if (!OpenEntry(0, error)) {
        if (!playlist) {
            Halt();
            fileName_.clear();
            ChangeState(psStopped);
            throw EMediaPlayerError(error);
        }
        // The playlist itself was fine: its first entry failing is an end of
        // stream for the driver, which then goes on with the next file.
        FailAndReport();
        return;
    }
    if (autoStart_)
        StartPlaying();
    else
        ChangeState(psReady);
}

void TMediaPlayer::Play()
{
    if (fileName_.isEmpty() || endReached_)
        return;
    switch (state_) {
    case psPaused:
    case psReady:
        StartPlaying();
        break;
    case psStopped:
        StartFromBeginning();
        break;
    default: // playing, opening
        break;
    }
}

void TMediaPlayer::Stop()
{
    if (fileName_.isEmpty())
        return;
    Halt();
    endReached_ = false;
    ChangeState(psStopped);
}

void TMediaPlayer::Pause()
{
    if (state_ != psPlaying)
        return;
    gst_element_set_state(playbin_.get(), GST_STATE_PAUSED);
    ChangeState(psPaused);
}

void TMediaPlayer::Realign()
{
    gint64 position = 0;
    gint64 duration = 0;
    if (opened_) {
        if (!gst_element_query_position(playbin_.get(), GST_FORMAT_TIME, &position))
            position = 0;
        if (!gst_element_query_duration(playbin_.get(), GST_FORMAT_TIME, &duration))
            duration = 0;
    }
    if (!seek_->isSliderDown()) {
        const int durationMs = static_cast<int>(duration / GST_MSECOND);
        if (seek_->maximum() != durationMs)
            seek_->setRange(0, durationMs);
        seek_->setValue(static_cast<int>(position / GST_MSECOND));
    }
    const QString text = FormatTime(position) + QStringLiteral(" / ") + FormatTime(duration);
    if (time_->text() != text)
        time_->setText(text);
}

QString TMediaPlayer::DisplayText() const
{
    return display_->text();
}

std::string TMediaPlayer::CurrentUri() const
{
    // OpenEntry counts the streams of the entries before the one it opens as
    // started; the entry's own start is still to come until the count passes it.
    if (streamsStarted_ <= openedEntry_ || streamsStarted_ > uris_.size())
        return {};
    return uris_[streamsStarted_ - 1];
}

int64_t TMediaPlayer::Duration() const
{
    gint64 duration = -1;
    if (!opened_ || !gst_element_query_duration(playbin_.get(), GST_FORMAT_TIME, &duration))
        return -1;
    return duration;
}

int64_t TMediaPlayer::Position() const
{
    gint64 position = -1;
    if (!opened_ || !gst_element_query_position(playbin_.get(), GST_FORMAT_TIME, &position))
        return -1;
    return position;
}

bool TMediaPlayer::SeekTo(int64_t position)
{
    if (!opened_)
        return false;
    return gst_element_seek_simple(playbin_.get(), GST_FORMAT_TIME,
                                   GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT),
                                   std::max<int64_t>(position, 0));
}

int TMediaPlayer::Volume() const
{
    return volume_->value();
}

void TMediaPlayer::SetVolume(int volume)
{
    volume_->setValue(volume);
}

void TMediaPlayer::CloseStream()
{
    Halt();
    if (!fileName_.isEmpty())
        ChangeState(psClosed);
    fileName_.clear();
    endReached_ = false;
    {
        std::lock_guard lock(mutex_);
        entries_.clear();
        uris_.clear();
    }
    currentEntryName_.clear();
    tagTitle_.clear();
    tagArtist_.clear();
    UpdateDisplay();
    Realign();
}

void TMediaPlayer::Halt()
{
    {
        std::lock_guard lock(mutex_);
        openWait_.finished = true;
        openDone_.notify_all();
    }
    // NULL next: once it returns no streaming thread of the old stream runs,
    // so everything it posted carries the old generation and is dropped.
    if (playbin_)
        gst_element_set_state(playbin_.get(), GST_STATE_NULL);
    generation_.fetch_add(1);
    opened_ = false;
    drainTimer_->stop();
}

bool TMediaPlayer::OpenEntry(size_t index, std::string& error)
{
    const std::string& uri = uris_[index];
    if (uri.empty()) {
        error = "ファイル名を URI に変換できません";
        return false;
    }
    if (const std::string refusal = SourceRefusal(entries_[index]); !refusal.empty()) {
        error = "ファイルを開けません: " + refusal;
        return false;
    }

    const uint64_t generation = generation_.load();
    {
        std::lock_guard lock(mutex_);
        queueGeneration_ = generation;
        nextEntry_ = index + 1;
        nextEntryUnreadable_ = false;
        nextEntryDeferred_ = false;
    }
    streamsStarted_ = index;
    openedEntry_ = index;
    queuedEntryFailed_ = false;
    currentEntryName_ = PathToQString(std::string(PathOwnName(entries_[index])));
    tagTitle_.clear();
    tagArtist_.clear();
    UpdateDisplay();

    switch (Preroll(uri, kOpenTimeout, error)) {
    case TPreroll::Done:
        opened_ = true;
        return true;
    case TPreroll::Stalled:
        error = "ストリームを開く処理が時間内に終わりませんでした";
        return false;
    case TPreroll::Failed:
        break;
    }
    return false;
}

TMediaPlayer::TPreroll TMediaPlayer::Preroll(const std::string& uri,
                                             std::chrono::milliseconds timeout, std::string& error)
{
    {
        std::lock_guard lock(mutex_);
        openWait_ = TOpenWait{};
        openWait_.generation = generation_.load();
        openWait_.uri = uri;
    }
    g_object_set(playbin_.get(), "uri", uri.c_str(), nullptr);
    const GstStateChangeReturn result = gst_element_set_state(playbin_.get(), GST_STATE_PAUSED);

    std::unique_lock lock(mutex_);
    if (result == GST_STATE_CHANGE_ASYNC) {
        openDone_.wait_for(lock, timeout,
                           [this] { return openWait_.prerolled || openWait_.error.has_value(); });
    }
    openWait_.finished = true;
    openDone_.notify_all();
    if (openWait_.error) {
        error = *openWait_.error;
        return TPreroll::Failed;
    }
    if (result == GST_STATE_CHANGE_FAILURE) {
        error = "ストリームを開けません";
        return TPreroll::Failed;
    }
    if (result == GST_STATE_CHANGE_ASYNC && !openWait_.prerolled)
        return TPreroll::Stalled;
    return TPreroll::Done;
}

void TMediaPlayer::StartPlaying()
{
    if (gst_element_set_state(playbin_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        FailAndReport();
        return;
    }
    ChangeState(psPlaying);
}

void TMediaPlayer::StartFromBeginning()
{
    Halt();
    ChangeState(psWaiting);
    std::string error;
    if (!OpenEntry(0, error)) {
        FailAndReport();
        return;
    }
    StartPlaying();
}

void TMediaPlayer::FailAndReport()
{
    Halt();
    endReached_ = true;
    ChangeState(psStopped);
    PostEndOfStream(erFailed);
}

void TMediaPlayer::ChangeState(int32_t newState)
{
    if (newState == state_)
        return;
    auto* event = new TPlayerEvent(TPlayerEvent::kStateChange, 0);
    event->First = state_;
    event->Second = newState;
    state_ = newState;
    QCoreApplication::postEvent(this, event);

    const bool playing = newState == psPlaying;
    playPause_->setIcon(
        style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    playPause_->setToolTip(playing ? QStringLiteral("一時停止") : QStringLiteral("再生"));
}

void TMediaPlayer::StopAfterFailure()
{
    Halt();
    endReached_ = true;
    ChangeState(psStopped);
    Realign();
    DoEndOfStream(erFailed);
}

void TMediaPlayer::ContinueWithEntry(size_t index)
{
    Halt();
    std::string error;
    if (!OpenEntry(index, error)) {
        StopAfterFailure();
        return;
    }
    if (state_ == psPlaying &&
        gst_element_set_state(playbin_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        StopAfterFailure();
}

void TMediaPlayer::OnDrainTick()
{
    if (state_ == psPaused)
        return;
    gint64 position = -1;
    if (opened_ && !gst_element_query_position(playbin_.get(), GST_FORMAT_TIME, &position))
        position = -1;
    if (position >= 0 && position != drainPosition_) {
        drainPosition_ = position;
        return;
    }
    StopAfterFailure();
}

void TMediaPlayer::PostEndOfStream(int32_t result)
{
    auto* event = new TPlayerEvent(TPlayerEvent::kEndOfStream, generation_.load());
    event->First = result;
    QCoreApplication::postEvent(this, event);
}

bool TMediaPlayer::OnBusSync(GstMessage* message)
{
    const uint64_t generation = generation_.load();
    const bool fromPipeline = GST_MESSAGE_SRC(message) == GST_OBJECT(playbin_.get());
    std::string errorUri;
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
        // An error of the queued entry is not this open's error.
        errorUri = SourceUri(message);
        std::lock_guard lock(mutex_);
        if (openWait_.generation == generation && !openWait_.error &&
            (errorUri.empty() || errorUri == openWait_.uri)) {
            openWait_.error = ErrorText(message);
            openDone_.notify_all();
        }
        break;
    }
    case GST_MESSAGE_ASYNC_DONE:
        if (fromPipeline) {
            std::lock_guard lock(mutex_);
            if (openWait_.generation == generation) {
                openWait_.prerolled = true;
                openDone_.notify_all();
            }
        }
        return true;
    case GST_MESSAGE_TAG:
        // Only what reached the sink: in a gapless playlist the next entry's
        // demuxer posts its tags while the current entry is still playing.
        if (!GST_IS_BASE_SINK(GST_MESSAGE_SRC(message)))
            return true;
        break;
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_STREAM_START:
    case GST_MESSAGE_DURATION_CHANGED:
        break;
    default:
        return true;
    }
    auto* event = new TPlayerEvent(TPlayerEvent::kBusMessage, generation);
    event->Message.reset(gst_message_ref(message));
    event->ErrorUri = std::move(errorUri);
    QCoreApplication::postEvent(this, event);
    return true;
}

void TMediaPlayer::OnAboutToFinish()
{
    std::string uri;
    {
        std::lock_guard lock(mutex_);
        if (queueGeneration_ != generation_.load() || nextEntry_ >= uris_.size())
            return;
        // A short entry is read to its end before it has prerolled; a next
        // entry queued then and failing would stall that preroll, and waiting
        // here can block it too. Such an entry is opened after the EOS.
        if (!openWait_.finished) {
            nextEntryDeferred_ = true;
            return;
        }
        // A missing, unreadable or special entry is not queued, so the
        // current entry plays to its end and the EOS reports the failure.
        if (!SourceRefusal(entries_[nextEntry_]).empty()) {
            nextEntryUnreadable_ = true;
            return;
        }
        uri = uris_[nextEntry_++];
    }
    // Without a new uri playbin ends with EOS; an entry that cannot even be
    // named therefore ends the playlist.
    if (!uri.empty())
        g_object_set(playbin_.get(), "uri", uri.c_str(), nullptr);
}

void TMediaPlayer::customEvent(QEvent* event)
{
    if (event->type() != PlayerEventType()) {
        QWidget::customEvent(event);
        return;
    }
    auto* playerEvent = static_cast<TPlayerEvent*>(event);
    switch (playerEvent->Kind) {
    case TPlayerEvent::kStateChange:
        DoPlayStateChange(playerEvent->First, playerEvent->Second);
        return;
    case TPlayerEvent::kEndOfStream:
        if (playerEvent->Generation == generation_.load())
            DoEndOfStream(playerEvent->First);
        return;
    case TPlayerEvent::kBusMessage:
        if (playerEvent->Generation == generation_.load())
            HandleBusMessage(playerEvent->Message.get(), playerEvent->ErrorUri);
        return;
    case TPlayerEvent::kVolumeChange:
        DoVolumeChange(playerEvent->First);
        return;
    }
}

void TMediaPlayer::HandleBusMessage(GstMessage* message, const std::string& errorUri)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_STREAM_START: {
        const size_t index = streamsStarted_++;
        if (index < entries_.size())
            currentEntryName_ = PathToQString(std::string(PathOwnName(entries_[index])));
        tagTitle_.clear();
        tagArtist_.clear();
        UpdateDisplay();
        Realign();
        const uint64_t generation = generation_.load();
        DoNewStream();
        if (queuedEntryFailed_ && generation == generation_.load()) {
            drainPosition_ = -1;
            drainTimer_->start();
        }
        break;
    }
    case GST_MESSAGE_EOS: {
        bool unreadable = false;
        bool deferred = false;
        size_t next = 0;
        {
            std::lock_guard lock(mutex_);
            unreadable = nextEntryUnreadable_;
            deferred = nextEntryDeferred_ && nextEntry_ < entries_.size();
            next = nextEntry_;
        }
        if (deferred) {
            ContinueWithEntry(next);
            break;
        }
        Halt();
        endReached_ = true;
        ChangeState(psStopped);
        Realign();
        DoEndOfStream(unreadable ? erFailed : erEnded);
        break;
    }
    case GST_MESSAGE_ERROR: {
        if (!opened_)
            break;
        // An error of the queued entry stalls playbin: the current entry
        // gets no EOS. Stop, but not before the current entry was announced.
        const bool currentStarted = streamsStarted_ > openedEntry_;
        const size_t current = currentStarted ? streamsStarted_ - 1 : openedEntry_;
        const bool queuedEntry =
            !errorUri.empty() && current < uris_.size() && errorUri != uris_[current];
        if (!queuedEntry) {
            StopAfterFailure();
        } else if (!currentStarted) {
            queuedEntryFailed_ = true;
        } else {
            // Let the current entry play out what has reached the sink.
            drainPosition_ = -1;
            drainTimer_->start();
        }
        break;
    }
    case GST_MESSAGE_TAG:
        HandleTags(message);
        break;
    case GST_MESSAGE_DURATION_CHANGED:
        Realign();
        DoStreamInfoChange();
        break;
    default:
        break;
    }
}

void TMediaPlayer::HandleTags(GstMessage* message)
{
    GstTagList* raw = nullptr;
    gst_message_parse_tag(message, &raw);
    TTagListPtr tags(raw);
    auto take = [&tags](const char* tag, QString& into) {
        gchar* value = nullptr;
        if (tags && gst_tag_list_get_string(tags.get(), tag, &value)) {
            TGCharPtr owned(value);
            into = QString::fromUtf8(owned.get());
        }
    };
    take(GST_TAG_TITLE, tagTitle_);
    take(GST_TAG_ARTIST, tagArtist_);
    UpdateDisplay();
    DoStreamInfoChange();
}

void TMediaPlayer::UpdateDisplay()
{
    QString text = currentEntryName_;
    if (!tagTitle_.isEmpty())
        text = tagArtist_.isEmpty() ? tagTitle_ : tagTitle_ + QStringLiteral(" - ") + tagArtist_;
    if (display_->text() != text) {
        display_->setText(text);
        display_->setToolTip(text);
    }
}

void TMediaPlayer::OnPlayPauseClicked()
{
    if (state_ == psPlaying) {
        Pause();
        return;
    }
    // The button is the user asking again, so it replays what has ended.
    if (endReached_ && !fileName_.isEmpty()) {
        endReached_ = false;
        StartFromBeginning();
        return;
    }
    Play();
}

void TMediaPlayer::OnSeekReleased()
{
    const int64_t position = int64_t(seek_->value()) * GST_MSECOND;
    if (SeekTo(position))
        DoSeek(position);
}

void TMediaPlayer::OnVolumeChanged(int value)
{
    if (playbin_)
        gst_stream_volume_set_volume(GST_STREAM_VOLUME(playbin_.get()),
                                     GST_STREAM_VOLUME_FORMAT_CUBIC, value / 100.0);
    // Posted: SetVolume is a member call.
    auto* event = new TPlayerEvent(TPlayerEvent::kVolumeChange, 0);
    event->First = value;
    QCoreApplication::postEvent(this, event);
}

void TMediaPlayer::OnMuteClicked()
{
    const bool muted = mute_->isChecked();
    mute_->setIcon(
        style()->standardIcon(muted ? QStyle::SP_MediaVolumeMuted : QStyle::SP_MediaVolume));
    if (playbin_)
        g_object_set(playbin_.get(), "mute", gboolean(muted), nullptr);
}
