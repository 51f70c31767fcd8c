#pragma once

#include <string>

// Where the program keeps the files that the design puts "beside the
// executable": the playlists, the error log, the layout INI file.

/// The directory of the running executable (from /proc/self/exe), with a
/// trailing "/".
std::string ExecutableDirectory();

/// The directory the program writes its files to, with a trailing "/": the
/// executable's directory when it is writable and not an installed
/// program's (one whose InstalledDataDirectory() holds "help.htm" as a
/// regular file, whoever runs it), else DataHomeDirectory() +
/// "/tunemill/", made sure of by EnsureUserDirectory. Empty when neither can
/// be used (ApplicationDirectoryError says why); callers must then write
/// nothing. Decided once per process unless SetApplicationDirectory replaced
/// it; a refusal is decided anew on the next call.
std::string ApplicationDirectory();

/// The directory that ApplicationDirectory() decides on for a program whose
/// executable lies in `executableDirectory`, with a trailing "/"; empty with
/// the reason in `error` when neither place can be used.
std::string ApplicationDirectoryFor(const std::string& executableDirectory, std::string& error);

/// The installed program's data directory as seen from the directory of its
/// executable, with a trailing "/": "<prefix>/bin/" gives
/// "<prefix>/share/tunemill/" (the installation's own layout, so any prefix
/// works).
std::string InstalledDataDirectory(const std::string& executableDirectory);

/// Why ApplicationDirectory() answered empty; empty when it did not.
std::string ApplicationDirectoryError();

/// Replaces the application directory for the rest of the process (tests);
/// a trailing "/" is added when missing. An empty string restores the default.
void SetApplicationDirectory(const std::string& directory);

/// A directory path without its trailing "/", except that the root keeps it.
std::string WithoutTrailingSeparator(const std::string& directory);
