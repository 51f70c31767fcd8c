#include "platform/core/UserDirs.h"

#include "platform/core/Posix.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kMaxLinks = 40;

std::string AbsoluteVariable(const char* name)
{
    const char* value = std::getenv(name);
    return (value != nullptr && value[0] == '/') ? WithoutTrailingSlashes(value) : std::string();
}

std::string BelowHome(const char* variable, const char* relative)
{
    std::string path = AbsoluteVariable(variable);
    if (!path.empty())
        return path;
    const std::string home = HomeDirectory();
    return home.empty() ? std::string() : JoinPath(home, relative);
}

// Components in reverse order, so that the next one to visit is at the back.
void PushComponents(const std::string& path, std::vector<std::string>& pending)
{
    std::vector<std::string> components;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > start)
            components.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    pending.insert(pending.end(), components.rbegin(), components.rend());
}

bool Refuse(std::string& reason, const std::string& folder, const std::string& why)
{
    reason = "The folder " + folder + " " + why + ".";
    return false;
}

// Many systems give each account a group of its own and a umask of 002, so
// its folders come out group-writable; a group that holds the user alone
// lets nobody else write.
bool IsPrivateGroupOf(gid_t group, uid_t user)
{
    const passwd* account = ::getpwuid(user);
    if (account == nullptr || account->pw_gid != group || account->pw_name == nullptr)
        return false;
    const std::string userName = account->pw_name;
    const struct group* entry = ::getgrgid(group);
    if (entry == nullptr || entry->gr_name == nullptr || userName != entry->gr_name)
        return false;
    for (char** member = entry->gr_mem; member != nullptr && *member != nullptr; ++member) {
        if (userName != *member)
            return false;
    }
    return true;
}

bool OthersMayWrite(const struct stat& facts, uid_t user)
{
    if ((facts.st_mode & S_IWOTH) != 0)
        return true;
    return (facts.st_mode & S_IWGRP) != 0 && !IsPrivateGroupOf(facts.st_gid, user);
}

} // namespace

std::string HomeDirectory()
{
    std::string home = AbsoluteVariable("HOME");
    if (!home.empty())
        return home;
    const passwd* entry = ::getpwuid(::getuid());
    if (entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/')
        return WithoutTrailingSlashes(entry->pw_dir);
    return {};
}

std::string ConfigHomeDirectory()
{
    return BelowHome("XDG_CONFIG_HOME", ".config");
}

std::string DataHomeDirectory()
{
    return BelowHome("XDG_DATA_HOME", ".local/share");
}

bool EnsureUserDirectory(const std::string& directory, std::string& reason)
{
    reason.clear();
    if (directory.empty() || directory[0] != '/')
        return Refuse(reason, "\"" + directory + "\"", "is not an absolute path");
    const uid_t user = ::geteuid();
    std::vector<std::string> pending;
    PushComponents(directory, pending);
    std::string current = "/";
    int links = 0;
    // `current` never holds a link: each one met is replaced by its target,
    // so ".." can be taken from the text.
    while (!pending.empty()) {
        const std::string name = pending.back();
        pending.pop_back();
        if (name == ".")
            continue;
        if (name == "..") {
            current = ParentDirectory(current);
            continue;
        }
        const std::string next = JoinPath(current, name);
        struct stat facts;
        if (::lstat(next.c_str(), &facts) != 0) {
            if (errno != ENOENT)
                return Refuse(reason, next,
                              std::string("cannot be examined: ") + std::strerror(errno));
            if (::mkdir(next.c_str(), 0700) != 0 && errno != EEXIST)
                return Refuse(reason, next,
                              std::string("cannot be created: ") + std::strerror(errno));
            if (::lstat(next.c_str(), &facts) != 0)
                return Refuse(reason, next,
                              std::string("cannot be examined: ") + std::strerror(errno));
        }
        if (facts.st_uid != user && facts.st_uid != 0)
            return Refuse(reason, next, "belongs to another user");
        if (S_ISLNK(facts.st_mode)) {
            if (++links > kMaxLinks)
                return Refuse(reason, next, "is reached through too many symbolic links");
            std::string target(4096, '\0');
            const ssize_t length = ::readlink(next.c_str(), target.data(), target.size());
            if (length <= 0 || static_cast<size_t>(length) >= target.size())
                return Refuse(reason, next, "is a symbolic link that cannot be read");
            target.resize(static_cast<size_t>(length));
            if (target.front() == '/')
                current = "/";
            PushComponents(target, pending);
            continue;
        }
        if (!S_ISDIR(facts.st_mode))
            return Refuse(reason, next, "is not a folder");
        if (OthersMayWrite(facts, user) && (facts.st_mode & S_ISVTX) == 0)
            return Refuse(reason, next, "may be written by other users");
        current = next;
    }
    struct stat facts;
    if (::stat(current.c_str(), &facts) != 0)
        return Refuse(reason, current, std::string("cannot be examined: ") + std::strerror(errno));
    if (facts.st_uid != user)
        return Refuse(reason, current, "belongs to another user");
    if (OthersMayWrite(facts, user))
        return Refuse(reason, current, "may be written by other users");
    return true;
}
