#include "platform/core/FileFacts.h"

#include "platform/core/PathCodec.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

std::optional<TFileTime> FileTimeOf(const struct statx_timestamp& stamp)
{
    return FileTimeFromUnixTime(stamp.tv_sec, stamp.tv_nsec);
}

} // namespace

uint32_t FileAttributesOf(mode_t mode, std::string_view name, bool danglingLink)
{
    uint32_t attributes = 0;
    if (!danglingLink && S_ISDIR(mode))
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (danglingLink || (!S_ISDIR(mode) && !S_ISREG(mode)))
        attributes |= FILE_ATTRIBUTE_SYSTEM;
    if ((mode & S_IWUSR) == 0)
        attributes |= FILE_ATTRIBUTE_READONLY;
    if (!name.empty() && name.front() == '.')
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    return attributes;
}

std::optional<TFileFacts> ReadFileFacts(int directoryFd, const char* name)
{
    constexpr unsigned kMask =
        STATX_TYPE | STATX_MODE | STATX_INO | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_BTIME;
    struct statx status;
    bool danglingLink = false;
    if (statx(directoryFd, name, AT_NO_AUTOMOUNT, kMask, &status) != 0) {
        // A link whose target is missing or loops is still an entry.
        if (errno != ENOENT && errno != ELOOP)
            return std::nullopt;
        if (statx(directoryFd, name, AT_NO_AUTOMOUNT | AT_SYMLINK_NOFOLLOW, kMask, &status) != 0 ||
            !S_ISLNK(status.stx_mode))
            return std::nullopt;
        danglingLink = true;
    }

    TFileFacts facts;
    facts.Attributes = FileAttributesOf(status.stx_mode, PathOwnName(name), danglingLink);
    if (S_ISREG(status.stx_mode) && !danglingLink)
        facts.Size = static_cast<int64_t>(status.stx_size);
    if ((status.stx_mask & STATX_BTIME) != 0)
        facts.CreationTime = FileTimeOf(status.stx_btime);
    if ((status.stx_mask & STATX_MTIME) != 0)
        facts.LastWriteTime = FileTimeOf(status.stx_mtime);
    if ((status.stx_mask & STATX_ATIME) != 0)
        facts.LastAccessTime = FileTimeOf(status.stx_atime);
    facts.Device = makedev(status.stx_dev_major, status.stx_dev_minor);
    facts.Inode = status.stx_ino;
    return facts;
}
