#pragma once

#include <string>
#include <sys/types.h>

// Checked file input and output. Nothing here ever blocks on a special file
// (FIFO, device, socket), whatever sits at a path, so the program's own file
// names are safe to open even when something else was put there.

/// Writes all of `bytes` to `fd`, retrying partial writes and EINTR. False
/// on failure with errno set; a write that makes no progress counts as
/// ENOSPC, so a full disk never loops.
bool WriteAll(int fd, const std::string& bytes);

/// Opens `path` as open(2) does (O_NONBLOCK, O_NOCTTY and O_CLOEXEC are
/// added), but only when it is a regular file, or a link to one; with O_CREAT
/// a missing file is created with `mode`. The descriptor returned blocks
/// again as usual. On failure -1 with errno set; anything that is not a
/// regular file is refused without being read or written: EISDIR for a
/// directory, EINVAL for everything else (FIFO, device, socket). Links are
/// followed unless `flags` holds O_NOFOLLOW.
int OpenRegularFile(const std::string& path, int flags, mode_t mode = 0644);

/// True when `path` names a regular file (links followed), decided without
/// opening it.
bool IsRegularFile(const std::string& path);

/// The reason text for an errno left by the functions of this module:
/// "not a regular file" for EINVAL, else the system's text.
std::string FileErrorText(int error);

/// Reads the whole regular file `path` into `bytes`. False with errno set
/// (as OpenRegularFile sets it for a special file).
bool ReadRegularFile(const std::string& path, std::string& bytes);

/// Replaces the content of `path` whole or not at all: the bytes go to a
/// temporary file beside the file that is finally written, are synced and
/// renamed over it. When `path` is a symbolic link (a chain of them), the
/// link stays and its target is written, in the target's directory. An
/// existing file keeps its permission bits; a new one gets `newFileMode`.
/// A special file at the target is refused (EINVAL) and left alone. False
/// with errno set on failure; the old content is then untouched.
bool WriteFileAtomically(const std::string& path, const std::string& bytes,
                         mode_t newFileMode = 0600);

/// Flushes a directory's entries (a rename or unlink just made) to disk;
/// best effort, since the change itself is already done.
void SyncDirectory(const std::string& directory);

/// The path that WriteFileAtomically writes for `path`: the end of its chain
/// of symbolic links (relative targets taken from the link's directory), or
/// `path` itself when it is no link. A missing target is the answer as well.
std::string LinkTarget(const std::string& path);

/// Removes temporary files that a killed WriteFileAtomically of `path` left
/// behind and that were last modified more than `olderThanSeconds` ago. The
/// caller must hold whatever lock serialises the writers of `path`, or a
/// running writer may lose its temporary file.
void RemoveStaleTemporaryFiles(const std::string& path, int olderThanSeconds);

/// Renames `from` to `to` unless `to` exists (then false with EEXIST), on
/// file systems that cannot refuse by themselves too, so that one kept file
/// is never lost under another.
bool RenameNoReplace(const std::string& from, const std::string& to);

/// Renames a file that its reader refused to its name + ".malformed-" + the
/// local time (YYYYMMDD-HHMMSS), a counter added when that name is taken,
/// and syncs its directory; the new name, empty when it could not be moved
/// (errno tells why).
std::string MoveMalformedFileAside(const std::string& file);
