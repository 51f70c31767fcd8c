#pragma once

#include <QByteArrayList>
#include <QObject>
#include <QStringList>
#include <string>
#include <vector>

class Tfrm_Main;

// Files given on the command line, and the one running copy that takes them.
// The first copy owns a name on the session bus; a later start hands its
// files to it there and ends.

/// The arguments after the program name, byte for byte as the program was
/// given them. `arguments` are Qt's (its own options taken out), which lose
/// bytes that are not UTF-8; each is matched with the raw argument it came
/// from.
std::vector<std::string> CommandLineFiles(const QStringList& arguments);

/// An argument as an absolute path: a local file URL decoded byte for byte,
/// a relative path joined to `directory`, "." and ".." folded by name (as
/// the shell's cd does). Empty for a URL that names no local path, or a
/// relative path without a directory.
std::string ArgumentPath(const std::string& argument, const std::string& directory);

/// True when another copy of the program runs and took `files` from this
/// one (as absolute paths), which then ends. Without a session bus, or when
/// the running copy does not answer within 2 s, says so in one line on
/// standard error and returns false.
bool HandOverToRunningInstance(const std::vector<std::string>& files);

/// Makes this copy the one that takes the files of later starts: owns the
/// bus name and exports OpenFiles. Without a bus, or with the name taken,
/// the program runs on its own.
class TInstanceService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.lumesksoft.Tunemill")

public:
    explicit TInstanceService(Tfrm_Main& window);
    ~TInstanceService() override;

public Q_SLOTS:
    /// Raises and activates the window, then opens the absolute `paths` as
    /// the command line does. Returns at once: the files open after the
    /// caller has its answer.
    Q_SCRIPTABLE void OpenFiles(const QByteArrayList& paths);

private:
    Tfrm_Main& window_;
    bool registered_ = false;
};

/// Opens what the command line names, relative paths against the current
/// directory. The music files (IsMusicFile) become the queue in the order
/// given and play as a playlist (guarded), after the player is stopped and
/// cancelled. A folder alone is selected in the tree and played as
/// "このフォルダを再生" plays it; a folder given with other names is
/// selected and its list's music files take its place in the queue, and the
/// tree ends on the first folder. Names that are neither (missing, special
/// files, files of other types) are skipped without being opened. Nothing
/// happens when nothing usable is given.
void OpenFiles(Tfrm_Main& window, const std::vector<std::string>& files);
