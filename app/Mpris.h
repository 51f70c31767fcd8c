#pragma once

#include <QObject>

class Tfrm_Main;

/// The player's media controls on the session bus (MPRIS 2), for media keys
/// and the desktop's media controls. Without a session bus, or with the
/// name taken, the program runs as before.
class TMprisService : public QObject
{
public:
    explicit TMprisService(Tfrm_Main& window);
};
