#pragma once

#include <deque>
#include <string>

// The play queue and the playlist files that hand it to the player.

/// Full paths still to be played, head first; duplicates allowed.
using TPendingFiles = std::deque<std::string>;

/// The file-type test: true exactly when the extension of the path's final
/// component (from its last ".", lowercased in ASCII) belongs to a group
/// whose switch is on. Reads the switches at every call; looks at nothing
/// but the name.
bool IsMusicFile(const std::string& path);

/// The extension as IsMusicFile sees it: from the last "." of the final
/// component (after the last "/"), dot included; empty without a dot.
std::string FileExtension(const std::string& path);

/// Sorts by whole path, ascending, case ignored, not numeric, in the
/// namespace's collation locale; identical keys keep byte order.
void SortByPath(TPendingFiles& paths);

/// A path that can be one line of a playlist file: it holds no CR or LF.
bool IsPlaylistLine(const std::string& path);

/// The playlist bytes: each path followed by CR LF, nothing else.
std::string PlaylistBytes(const TPendingFiles& paths);

/// Creates or truncates the file and writes the playlist. Throws
/// std::runtime_error "ファイル %s を作成できません" when the file cannot be
/// created and "ファイル %s に書き込めません" when a write fails.
void WritePlaylistFile(const std::string& fileName, const TPendingFiles& paths);
