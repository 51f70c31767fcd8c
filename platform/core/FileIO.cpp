#include "platform/core/FileIO.h"

#include "platform/core/PathCodec.h"
#include "platform/core/Posix.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxLinks = 40; // as the kernel's own limit

int RefusalFor(mode_t mode)
{
    return S_ISDIR(mode) ? EISDIR : EINVAL;
}

std::string TemporaryPrefix(const std::string& target)
{
    return "." + std::string(PathOwnName(target)) + ".tmp-";
}

} // namespace

void SyncDirectory(const std::string& directory)
{
    TUniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd)
        ::fsync(fd.Get());
}

bool WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (count > 0) {
            done += static_cast<size_t>(count);
        } else if (count == 0) {
            errno = ENOSPC;
            return false;
        } else if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

int OpenRegularFile(const std::string& path, int flags, mode_t mode)
{
    // The type is looked at before opening, so that a device never sees an
    // open at all; the fstat afterwards closes the race with a swap.
    struct stat facts;
    const int statResult =
        (flags & O_NOFOLLOW) != 0 ? ::lstat(path.c_str(), &facts) : ::stat(path.c_str(), &facts);
    if (statResult == 0 && !S_ISREG(facts.st_mode)) {
        errno =
            (flags & O_NOFOLLOW) != 0 && S_ISLNK(facts.st_mode) ? ELOOP : RefusalFor(facts.st_mode);
        return -1;
    }
    TUniqueFd fd(::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode));
    if (!fd) {
        // A FIFO that appeared in between answers ENXIO to a non-blocking
        // write open; name it as the refusal it is.
        const int error = errno;
        errno = (error == ENXIO && ::stat(path.c_str(), &facts) == 0 && !S_ISREG(facts.st_mode))
                    ? EINVAL
                    : error;
        return -1;
    }
    if (::fstat(fd.Get(), &facts) != 0)
        return -1;
    if (!S_ISREG(facts.st_mode)) {
        errno = RefusalFor(facts.st_mode);
        return -1;
    }
    const int status = ::fcntl(fd.Get(), F_GETFL);
    if (status == -1 || ::fcntl(fd.Get(), F_SETFL, status & ~O_NONBLOCK) == -1)
        return -1;
    return fd.Release();
}

bool IsRegularFile(const std::string& path)
{
    struct stat facts;
    return ::stat(path.c_str(), &facts) == 0 && S_ISREG(facts.st_mode);
}

std::string FileErrorText(int error)
{
    if (error == EINVAL)
        return "not a regular file";
    return std::strerror(error);
}

bool ReadRegularFile(const std::string& path, std::string& bytes)
{
    bytes.clear();
    TUniqueFd fd(OpenRegularFile(path, O_RDONLY));
    if (!fd)
        return false;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(fd.Get(), buffer, sizeof buffer);
        if (count > 0)
            bytes.append(buffer, static_cast<size_t>(count));
        else if (count == 0)
            return true;
        else if (errno != EINTR)
            return false;
    }
}

std::string LinkTarget(const std::string& path)
{
    std::string current = path;
    for (int depth = 0; depth < kMaxLinks; ++depth) {
        std::string target(4096, '\0');
        const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<size_t>(length) >= target.size())
            return current;
        target.resize(static_cast<size_t>(length));
        current = target.front() == '/' ? target : JoinPath(ParentDirectory(current), target);
    }
    return current;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, mode_t newFileMode)
{
    const std::string target = LinkTarget(path);
    struct stat facts;
    const bool exists = ::stat(target.c_str(), &facts) == 0;
    if (!exists && errno != ENOENT)
        return false;
    if (exists && !S_ISREG(facts.st_mode)) {
        errno = RefusalFor(facts.st_mode);
        return false;
    }
    const mode_t mode = exists ? facts.st_mode & 07777 : newFileMode;

    const std::string directory = ParentDirectory(target);
    std::string temporary = JoinPath(directory, TemporaryPrefix(target) + "XXXXXX");
    TUniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd)
        return false;
    // Root saving a user's file leaves it the user's; others cannot give a
    // file away, and their file is theirs already.
    const bool giveBack = exists && ::geteuid() == 0;
    bool ok = (!giveBack || ::fchown(fd.Get(), facts.st_uid, facts.st_gid) == 0) &&
              ::fchmod(fd.Get(), mode) == 0 && WriteAll(fd.Get(), bytes) && ::fsync(fd.Get()) == 0;
    int error = errno;
    if (::close(fd.Release()) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        errno = error;
        return false;
    }
    // The rename is done and cannot be taken back; a failing directory sync
    // only weakens durability, so it is not reported as a failed write.
    SyncDirectory(directory);
    return true;
}

void RemoveStaleTemporaryFiles(const std::string& path, int olderThanSeconds)
{
    const std::string target = LinkTarget(path);
    const std::string prefix = TemporaryPrefix(target);
    const std::time_t limit = std::time(nullptr) - olderThanSeconds;
    TDirectoryReader reader(ParentDirectory(target));
    while (const dirent* entry = reader.Next()) {
        const std::string name = entry->d_name;
        // mkostemp's six characters follow the prefix, nothing else.
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        struct stat facts;
        if (::fstatat(reader.Fd(), entry->d_name, &facts, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(facts.st_mode) && facts.st_mtime < limit)
            ::unlinkat(reader.Fd(), entry->d_name, 0);
    }
}

bool RenameNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

std::string MoveMalformedFileAside(const std::string& file)
{
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = file + ".malformed-" + stamp;
    for (int counter = 1; counter < 1000; ++counter) {
        const std::string target = counter == 1 ? base : base + "-" + std::to_string(counter);
        if (RenameNoReplace(file, target)) {
            SyncDirectory(ParentDirectory(file));
            return target;
        }
        if (errno != EEXIST)
            break;
    }
    return {};
}
