#pragma once

#include "platform/media/IMediaPlayer.h"

#include <QSet>
#include <QStringList>

// A player that records the driver's calls and fires its events when the
// test says so, as the event loop would.
class TScriptedPlayer : public IMediaPlayer
{
public:
    QString FileName() const override { return fileName_; }
    void SetFileName(const QString& fileName) override
    {
        Calls << QStringLiteral("FileName=") + fileName;
        if (Refused.contains(fileName))
            throw EMediaPlayerError("このファイルは再生できません");
        fileName_ = fileName;
    }
    bool AutoStart() const override { return autoStart_; }
    void SetAutoStart(bool autoStart) override { autoStart_ = autoStart; }
    void Play() override { Calls << QStringLiteral("Play"); }
    void Stop() override { Calls << QStringLiteral("Stop"); }
    void Cancel() override { Calls << QStringLiteral("Cancel"); }
    void Realign() override { ++RealignCount; }

    void StartStream() { DoNewStream(); }
    void EndStream() { DoEndOfStream(0); }
    void ChangeState(int32_t oldState, int32_t newState) { DoPlayStateChange(oldState, newState); }

    QStringList Calls;
    QSet<QString> Refused;
    int RealignCount = 0;

private:
    QString fileName_;
    bool autoStart_ = true;
};
