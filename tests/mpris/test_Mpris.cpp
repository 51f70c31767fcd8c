// The media controls seen by a client of their own, over the real player and queue.
#include "app/Mpris.h"

#include "app/Unt_Main.h"
#include "platform/core/AppDir.h"
#include "platform/registry/Registry.h"
#include "platform/shellns/LinuxShell.h"
#include "tests/support/MediaFiles.h"
#include "tests/support/TestFiles.h"

#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using namespace Qt::StringLiterals;

const QString kService = u"org.mpris.MediaPlayer2.com.lumesksoft.Tunemill"_s;
const QString kPath = u"/org/mpris/MediaPlayer2"_s;
const QString kPlayer = u"org.mpris.MediaPlayer2.Player"_s;
const QString kProperties = u"org.freedesktop.DBus.Properties"_s;

// Ten seconds of silence (16-bit PCM at 8 kHz), so that calls land while it plays.
std::string WriteLongAu(const std::string& path)
{
    const char header[] = ".snd\0\0\0\x18\0\x02\x71\0\0\0\0\x03\0\0\x1f\x40\0\0\0\x01";
    Check(WriteFileBytes(path, std::string(header, 24) + std::string(160000, '\0')), path);
    return path;
}

// With the signals the service sent: the last value of each property, and seeks.
class Mpris : public QObject, public ::testing::Test
{
    Q_OBJECT

protected:
    Mpris()
        : home_("HOME", dir.Path()), config_("XDG_CONFIG_HOME", dir.File("config")),
          sink_("TUNEMILL_AUDIO_SINK", "fakesink sync=true"),
          client(QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"client"_s))
    {
        SetShellNamespace(std::make_shared<TLinuxShellNamespace>());
        SetApplicationDirectory(dir.Path() + "/");
        window = std::make_unique<Tfrm_Main>();
        window->show();
        service = std::make_unique<TMprisService>(*window);
        for (const QString& name : {u"PropertiesChanged"_s, u"Seeked"_s})
            client.connect(kService, kPath, {}, name, this, SLOT(Seen(QDBusMessage)));
    }
    // Without blocking: the service answers from this thread's event loop.
    QVariant Call(const QString& method, const QVariantList& args = {},
                  const QString& interface = kPlayer)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, interface, method);
        message.setArguments(args);
        const QDBusPendingCall call = client.asyncCall(message);
        EXPECT_TRUE(QTest::qWaitFor([&] { return call.isFinished(); })) << method.toStdString();
        return call.reply().arguments().value(0).value<QDBusVariant>().variant();
    }
    QVariant Get(const QString& name, const QString& interface = kPlayer)
    {
        return Call(u"Get"_s, {interface, name}, kProperties);
    }
    QVariant Meta(const QString& key)
    {
        return qdbus_cast<QVariantMap>(Get(u"Metadata"_s)).value(key);
    }
    bool Sent(const QString& property, const QVariant& value)
    {
        return QTest::qWaitFor([&] { return SentValues.value(property) == value; });
    }
    void Play(const TPendingFiles& files)
    {
        window->PendingFiles = files;
        window->StartPlaylist(true);
        ASSERT_TRUE(QTest::qWaitFor([&] { return Meta(u"xesam:url"_s) == Url(files.front()); }));
    }

    static QString Url(const std::string& p) { return QString::fromStdString("file://" + p); }

    TTestDir dir;
    TScopedVariable home_, config_, sink_;
    QDBusConnection client;
    std::unique_ptr<Tfrm_Main> window;
    std::unique_ptr<TMprisService> service;
    QVariantMap SentValues;
    std::vector<qlonglong> Seeked;

private Q_SLOTS:
    void Seen(const QDBusMessage& message)
    {
        const QVariantList args = message.arguments();
        if (message.member() == u"Seeked"_s)
            Seeked.push_back(args.value(0).toLongLong());
        else
            for (const auto& [name, value] :
                 qdbus_cast<QVariantMap>(args.value(1)).asKeyValueRange())
                SentValues[name] = name == u"Metadata"_s ? qdbus_cast<QVariantMap>(value) : value;
    }
};

TEST_F(Mpris, PropertiesCallsAndSignalsFollowThePlayer)
{
    EXPECT_EQ(Get(u"Identity"_s, u"org.mpris.MediaPlayer2"_s).toString(), u"Tunemill"_s);
    EXPECT_EQ(Get(u"PlaybackStatus"_s).toString(), u"Stopped"_s);

    Play({WriteMediaFile(dir.Path(), TMediaKind::Mp3, "song")});
    const QString title = QString::fromUtf8(kMediaTitle);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Meta(u"xesam:title"_s) == title; }));
    EXPECT_EQ(Meta(u"xesam:artist"_s).toStringList(), QStringList{QString::fromUtf8(kMediaArtist)});
    EXPECT_GT(Meta(u"mpris:length"_s).toLongLong(), 200000);
    EXPECT_TRUE(Sent(u"Metadata"_s, qdbus_cast<QVariantMap>(Get(u"Metadata"_s))));

    Play({WriteLongAu(dir.File("long.au"))});
    for (const auto& [method, status] : {std::pair{u"Pause"_s, u"Paused"_s},
                                         {u"Play"_s, u"Playing"_s},
                                         {u"PlayPause"_s, u"Paused"_s}}) {
        Call(method);
        EXPECT_EQ(Get(u"PlaybackStatus"_s).toString(), status) << method.toStdString();
        EXPECT_TRUE(Sent(u"PlaybackStatus"_s, status)) << method.toStdString();
    }

    Call(u"Set"_s, {kPlayer, u"Volume"_s, QVariant::fromValue(QDBusVariant(0.25))}, kProperties);
    EXPECT_EQ(Get(u"Volume"_s).toDouble(), 0.25);
    EXPECT_TRUE(Sent(u"Volume"_s, 0.25));

    // Another track's id and a position past the end are ignored.
    const QVariant track = Meta(u"mpris:trackid"_s);
    for (const auto& [id, position] :
         {std::pair{QVariant::fromValue(QDBusObjectPath(u"/elsewhere"_s)), 5000000},
          {track, 20000000},
          {track, 2000000}})
        Call(u"SetPosition"_s, {id, qlonglong(position)});
    ASSERT_TRUE(QTest::qWaitFor([&] { return Get(u"Position"_s).toLongLong() >= 1900000; }));
    Call(u"Seek"_s, {qlonglong(1000000)});
    ASSERT_TRUE(QTest::qWaitFor([&] { return Seeked.size() >= 2; }));
    EXPECT_EQ(Seeked[0], 2000000);
    EXPECT_NEAR(Seeked[1], 3000000, 100000);

    Call(u"Stop"_s);
    EXPECT_EQ(Get(u"PlaybackStatus"_s).toString(), u"Stopped"_s);
    EXPECT_TRUE(Sent(u"CanSeek"_s, false));
}

TEST_F(Mpris, NextStartsTheQueuesNextFileAndQuitClosesTheWindow)
{
    TPendingFiles files;
    for (const char* name : {"a.au", "b.au", "c.au"})
        files.push_back(WriteLongAu(dir.File(name)));
    Play(files);
    EXPECT_TRUE(Get(u"CanGoNext"_s).toBool());
    QVariant track = Meta(u"mpris:trackid"_s);
    for (size_t next = 1; next < files.size(); ++next) {
        Call(u"Next"_s);
        EXPECT_TRUE(QTest::qWaitFor([&] { return Meta(u"xesam:url"_s) == Url(files[next]); }));
        EXPECT_EQ(window->PendingFiles, TPendingFiles(files.begin() + next + 1, files.end()));
        EXPECT_NE(Meta(u"mpris:trackid"_s), track);
        track = Meta(u"mpris:trackid"_s);
    }
    EXPECT_FALSE(Get(u"CanGoNext"_s).toBool());
    EXPECT_TRUE(Sent(u"CanGoNext"_s, false));

    Call(u"Quit"_s, {}, u"org.mpris.MediaPlayer2"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }));
    EXPECT_EQ(Get(u"PlaybackStatus"_s).toString(), u"Stopped"_s);
    TRegistry saved;
    ASSERT_TRUE(saved.OpenKey(kWindowKey, false));
    for (const char* name : {"MainLeft", "MainTop", "MainWidth", "MainHeight", "STV_Width"})
        EXPECT_TRUE(saved.ValueExists(name)) << name;
}

} // namespace

#include "test_Mpris.moc"
