#pragma once

#include <string>

// The one place that decides where per-user files live. Every path is
// absolute and has no trailing "/"; each is read from the environment anew on
// every call, so a test that changes HOME or an XDG variable is seen at once.

/// $HOME when it is an absolute path, else the home directory of the user's
/// password entry; empty when neither gives an absolute path.
std::string HomeDirectory();

/// $XDG_CONFIG_HOME when absolute, else HomeDirectory() + "/.config"; empty
/// when there is no home directory.
std::string ConfigHomeDirectory();

/// $XDG_DATA_HOME when absolute, else HomeDirectory() + "/.local/share";
/// empty when there is no home directory.
std::string DataHomeDirectory();

/// Makes sure that `directory` (absolute) exists and is fit to hold the
/// user's private files. Missing levels are created with mode 0700. Each
/// level on the way must be a directory owned by the user or by root and
/// must not be writable by others, nor by a group other than the user's
/// private one (named after the user, holding no one else), unless it is
/// sticky (as /tmp is);
/// a symbolic link on the way is followed when it belongs to the user or to
/// root, and its target is checked the same way. The directory itself must
/// be owned by the user and writable by nobody else in the same sense. Nothing that is found
/// is changed: a folder that fails is refused. True when the directory may
/// be used; else false with a sentence in `reason` that names the folder at
/// fault and why.
bool EnsureUserDirectory(const std::string& directory, std::string& reason);
