#include "platform/core/AppDir.h"

#include "platform/core/UserDirs.h"

#include <mutex>
#include <unistd.h>

namespace {

std::mutex gMutex;
std::string gApplicationDirectory;
std::string gApplicationDirectoryError;

std::string WithTrailingSeparator(std::string directory)
{
    if (directory.empty() || directory.back() != '/')
        directory += '/';
    return directory;
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
            gApplicationDirectoryError.clear();
        } else {
            const std::string dataHome = DataHomeDirectory();
            if (dataHome.empty()) {
                gApplicationDirectoryError =
                    "There is no home directory (HOME is unset and the user has no password "
                    "entry).";
            } else {
                const std::string directory = dataHome + "/tunemill";
                if (EnsureUserDirectory(directory, gApplicationDirectoryError))
                    gApplicationDirectory = WithTrailingSeparator(directory);
            }
        }
    }
    return gApplicationDirectory;
}

std::string ApplicationDirectoryError()
{
    std::lock_guard lock(gMutex);
    return gApplicationDirectory.empty() ? gApplicationDirectoryError : std::string();
}

void SetApplicationDirectory(const std::string& directory)
{
    std::lock_guard lock(gMutex);
    gApplicationDirectory = directory.empty() ? std::string() : WithTrailingSeparator(directory);
    gApplicationDirectoryError.clear();
}

std::string WithoutTrailingSeparator(const std::string& directory)
{
    if (directory.size() > 1 && directory.back() == '/')
        return directory.substr(0, directory.size() - 1);
    return directory;
}
