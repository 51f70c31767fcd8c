#pragma once

#include <dirent.h>
#include <string>
#include <string_view>
#include <sys/types.h>

// Small POSIX helpers that several stand-ins share: an owning file
// descriptor, a directory reader and the path helpers that go with them.

/// Owns one file descriptor and closes it on every way out. Move-only.
class TUniqueFd
{
public:
    TUniqueFd() = default;
    explicit TUniqueFd(int fd) : fd_(fd) {}
    ~TUniqueFd() { Reset(); }
    TUniqueFd(TUniqueFd&& other) noexcept : fd_(other.Release()) {}
    TUniqueFd& operator=(TUniqueFd&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;

    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    explicit operator bool() const { return IsOpen(); }
    /// Gives the descriptor up without closing it.
    int Release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    /// Closes the descriptor held, if any, and holds `fd` instead.
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

/// One open directory, read entry by entry; closed on every way out.
class TDirectoryReader
{
public:
    /// Opens `path` as a directory (never following into a FIFO or device:
    /// O_DIRECTORY refuses anything else without blocking).
    explicit TDirectoryReader(const std::string& path);
    /// Reads the directory `name` relative to the directory `directoryFd`
    /// (AT_FDCWD for the current one); `flags` may add O_NOFOLLOW.
    TDirectoryReader(int directoryFd, const std::string& name, int flags = 0);
    ~TDirectoryReader();
    TDirectoryReader(const TDirectoryReader&) = delete;
    TDirectoryReader& operator=(const TDirectoryReader&) = delete;

    bool IsOpen() const { return dir_ != nullptr; }
    /// The descriptor of the open directory, for the *at() calls.
    int Fd() const;
    /// The next entry other than "." and "..", or null at the end; a read
    /// error ends the listing (errno tells it apart from the end).
    const dirent* Next();

private:
    DIR* dir_ = nullptr;
};

/// True for "." and "..".
bool IsDotOrDotDot(std::string_view name);

/// `directory` and `name` with exactly one "/" between them.
std::string JoinPath(std::string_view directory, std::string_view name);

/// `path` without trailing "/" characters; the root stays "/".
std::string WithoutTrailingSlashes(std::string path);

/// The directory part of `path`: "." when it has no "/", "/" for an entry
/// of the root.
std::string ParentDirectory(std::string_view path);

/// Creates `directory` and every missing parent with `mode`; true when the
/// directory exists afterwards (already existing counts).
bool MakeDirectories(const std::string& directory, mode_t mode = 0700);
