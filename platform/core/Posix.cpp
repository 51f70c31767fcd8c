#include "platform/core/Posix.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void TUniqueFd::Reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

TDirectoryReader::TDirectoryReader(const std::string& path)
{
    // opendir opens with O_DIRECTORY (no FIFO or device can be opened) and
    // sets no flags afterwards, which saves fdopendir's checks on every
    // folder a tree looks into.
    dir_ = ::opendir(path.c_str());
}

TDirectoryReader::TDirectoryReader(int directoryFd, const std::string& name, int flags)
{
    TUniqueFd fd(::openat(directoryFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | flags));
    if (!fd)
        return;
    dir_ = ::fdopendir(fd.Get());
    if (dir_ != nullptr)
        fd.Release();
}

TDirectoryReader::~TDirectoryReader()
{
    if (dir_ != nullptr)
        ::closedir(dir_);
}

int TDirectoryReader::Fd() const
{
    return dir_ != nullptr ? ::dirfd(dir_) : -1;
}

const dirent* TDirectoryReader::Next()
{
    if (dir_ == nullptr)
        return nullptr;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir_);
        if (entry == nullptr || !IsDotOrDotDot(entry->d_name))
            return entry;
    }
}

bool IsDotOrDotDot(std::string_view name)
{
    return name == "." || name == "..";
}

std::string JoinPath(std::string_view directory, std::string_view name)
{
    std::string path(directory);
    if (path.empty() || path.back() != '/')
        path += '/';
    path.append(name);
    return path;
}

std::string WithoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string ParentDirectory(std::string_view path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return ".";
    return std::string(slash == 0 ? path.substr(0, 1) : path.substr(0, slash));
}

bool MakeDirectories(const std::string& directory, mode_t mode)
{
    if (directory.empty())
        return false;
    for (size_t slash = directory.find('/', 1); slash != std::string::npos;
         slash = directory.find('/', slash + 1)) {
        const std::string prefix = directory.substr(0, slash);
        if (::mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST)
            return false;
    }
    if (::mkdir(directory.c_str(), mode) == 0)
        return true;
    struct stat facts;
    return errno == EEXIST && ::stat(directory.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode);
}
