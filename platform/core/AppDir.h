#pragma once

#include <string>

// Where the program keeps the files that the design puts "beside the
// executable": the playlists, the error log, the layout INI file.

/// The directory of the running executable (from /proc/self/exe), with a
/// trailing "/".
std::string ExecutableDirectory();

/// The directory the program writes its files to, with a trailing "/": the
/// executable's directory when it is writable, else $XDG_DATA_HOME/tunemill/
/// (default ~/.local/share/tunemill/), created when missing. Decided once per
/// process unless SetApplicationDirectory replaced it.
std::string ApplicationDirectory();

/// Replaces the application directory for the rest of the process (tests);
/// a trailing "/" is added when missing. An empty string restores the default.
void SetApplicationDirectory(const std::string& directory);

/// A directory path without its trailing "/", except that the root keeps it.
std::string WithoutTrailingSeparator(const std::string& directory);
