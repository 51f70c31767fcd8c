#include "platform/core/AppDir.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex gMutex;
std::string gApplicationDirectory;

std::string WithTrailingSeparator(std::string directory)
{
    if (directory.empty() || directory.back() != '/')
        directory += '/';
    return directory;
}

bool MakeDirectories(const std::string& directory)
{
    for (size_t slash = directory.find('/', 1); slash != std::string::npos;
         slash = directory.find('/', slash + 1)) {
        const std::string prefix = directory.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return ::mkdir(directory.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string DataHomeDirectory()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/')
        return WithTrailingSeparator(dataHome) + "tunemill/";
    const char* home = std::getenv("HOME");
    return WithTrailingSeparator(home != nullptr && home[0] != '\0' ? home : "/tmp") +
           ".local/share/tunemill/";
}

} // namespace

std::string ExecutableDirectory()
{
    std::string buffer(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0)
        return "./";
    buffer.resize(static_cast<size_t>(length));
    return buffer.substr(0, buffer.rfind('/') + 1);
}

std::string ApplicationDirectory()
{
    std::lock_guard lock(gMutex);
    if (gApplicationDirectory.empty()) {
        const std::string executableDirectory = ExecutableDirectory();
        if (::access(executableDirectory.c_str(), W_OK) == 0) {
            gApplicationDirectory = executableDirectory;
        } else {
            gApplicationDirectory = DataHomeDirectory();
            MakeDirectories(WithoutTrailingSeparator(gApplicationDirectory));
        }
    }
    return gApplicationDirectory;
}

void SetApplicationDirectory(const std::string& directory)
{
    std::lock_guard lock(gMutex);
    gApplicationDirectory = directory.empty() ? std::string() : WithTrailingSeparator(directory);
}

std::string WithoutTrailingSeparator(const std::string& directory)
{
    if (directory.size() > 1 && directory.back() == '/')
        return directory.substr(0, directory.size() - 1);
    return directory;
}
