#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <stdexcept>

// The members of the embedded media player that the player driver uses, so
// that the driver can be driven by a scripted player in tests.
//
// Events follow the components' one sequence: the player calls its virtual
// Do... step, which fires the On... callback when one is set. Events are
// delivered on the UI thread from the event loop, never from inside a
// member call.

/// A failure of the player; what() carries the message text (UTF-8).
class EMediaPlayerError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class IMediaPlayer
{
public:
    /// Play states reported by OnPlayStateChange; other values are other
    /// active states (opening, buffering, ...).
    enum TPlayState : int32_t
    {
        psStopped = 0,
        psPaused = 1,
        psPlaying = 2,
        psWaiting = 3,
        psClosed = 6,
    };

    virtual ~IMediaPlayer() = default;

    virtual QString FileName() const = 0;
    /// Opens a media file or an M3U playlist; with AutoStart on, playback of
    /// what was opened begins without a further call. Throws
    /// EMediaPlayerError with a message text when the file cannot be opened.
    virtual void SetFileName(const QString& fileName) = 0;
    virtual bool AutoStart() const = 0;
    virtual void SetAutoStart(bool autoStart) = 0;

    /// Starts playback of the current FileName.
    virtual void Play() = 0;
    virtual void Stop() = 0;
    virtual void Cancel() = 0;
    /// Redoes the control's alignment layout.
    virtual void Realign() = 0;

    std::function<void()> OnNewStream;
    std::function<void(int32_t Result)> OnEndOfStream;
    std::function<void(int32_t OldState, int32_t NewState)> OnPlayStateChange;

protected:
    virtual void DoNewStream()
    {
        if (OnNewStream)
            OnNewStream();
    }
    virtual void DoEndOfStream(int32_t result)
    {
        if (OnEndOfStream)
            OnEndOfStream(result);
    }
    virtual void DoPlayStateChange(int32_t oldState, int32_t newState)
    {
        if (OnPlayStateChange)
            OnPlayStateChange(oldState, newState);
    }
};
