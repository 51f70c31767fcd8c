#pragma once

#include <QObject>
#include <QStringList>

class Tfrm_Main;

// Files given on the command line, and the one running copy that takes them.

/// True when another copy of the program runs and took `files` from this
/// one, which then ends.
bool HandOverToRunningInstance(const QStringList& files);

/// Makes this copy the one that takes the files of later starts.
class TInstanceService : public QObject
{
public:
    explicit TInstanceService(Tfrm_Main& window);
};

/// Plays the music files among `files` as a play command would, or a folder
/// given as "このフォルダを再生" would.
void OpenFiles(Tfrm_Main& window, const QStringList& files);
