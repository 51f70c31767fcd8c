#pragma once

#include "platform/core/DateTime.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <sys/types.h>

// What the program knows of one directory entry, read once from the file
// system and shared by the file search and the namespace's find records.
//
// The attribute word keeps the find records' bit values. On this file system
// they mean:
// - directory: a directory, or a symbolic link to one;
// - read-only: the owner's write permission bit is clear (the mode bits, not
//   an access check: for root everything would be writable);
// - hidden: the name begins with ".";
// - system: neither a regular file nor a directory (device, socket, pipe, a
//   symbolic link whose target is missing or loops);
// - archive: never set.

constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x1;
constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x4;
constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;

struct TFileFacts
{
    uint32_t Attributes = 0;
    /// Bytes of a regular file; 0 for directories and system entries.
    int64_t Size = 0;
    /// The birth time where the file system records it.
    std::optional<TFileTime> CreationTime;
    std::optional<TFileTime> LastWriteTime;
    std::optional<TFileTime> LastAccessTime;
    /// Identity of the entry (of a link's target when it has one), which
    /// tells a second way into a directory already seen.
    dev_t Device = 0;
    ino_t Inode = 0;

    bool IsDirectory() const { return (Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

/// The facts of `name` in the directory open as `directoryFd` (AT_FDCWD for
/// a path relative to the current directory, or an absolute `name`).
/// Symbolic links are followed; a link that cannot be followed is described
/// itself, as a system entry. None when the entry no longer exists or
/// cannot be examined.
std::optional<TFileFacts> ReadFileFacts(int directoryFd, const char* name);

/// The attribute word for an entry of the given mode (of the link's target,
/// or of the link itself when `danglingLink`) and name.
uint32_t FileAttributesOf(mode_t mode, std::string_view name, bool danglingLink = false);
