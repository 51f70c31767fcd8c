#include "platform/core/AppDir.h"

#include "platform/core/Posix.h"
#include "platform/core/UserDirs.h"

#include <algorithm>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
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

// An installation keeps the program's data beside its bin directory; a
// build tree has no such sibling. Only the type is looked at.
bool IsInstalledProgram(const std::string& executableDirectory)
{
    const std::string page = InstalledDataDirectory(executableDirectory) + "help.htm";
    struct stat facts
    {
    };
    return ::stat(page.c_str(), &facts) == 0 && S_ISREG(facts.st_mode);
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

std::string ApplicationDirectoryFor(const std::string& executableDirectory, std::string& error)
{
    error.clear();
    // Root may write anywhere, so writability alone would put an installed
    // program's files into the system's bin directory.
    if (!IsInstalledProgram(executableDirectory) &&
        ::access(executableDirectory.c_str(), W_OK) == 0)
        return WithTrailingSeparator(executableDirectory);
    const std::string dataHome = DataHomeDirectory();
    if (dataHome.empty()) {
        error = "There is no home directory (HOME is unset and the user has no password entry).";
        return {};
    }
    const std::string directory = dataHome + "/tunemill";
    if (!EnsureUserDirectory(directory, error))
        return {};
    return WithTrailingSeparator(directory);
}

std::string InstalledDataDirectory(const std::string& executableDirectory)
{
    std::string directory = WithoutTrailingSlashes(executableDirectory);
    std::string_view relative = TUNEMILL_DATA_DIR_FROM_BIN;
    while (!relative.empty()) {
        const size_t end = std::min(relative.find('/'), relative.size());
        const std::string_view part = relative.substr(0, end);
        if (part == "..")
            directory = ParentDirectory(directory);
        else if (!part.empty() && part != ".")
            directory = JoinPath(directory, part);
        relative.remove_prefix(std::min(end + 1, relative.size()));
    }
    return WithTrailingSeparator(directory);
}

std::string ApplicationDirectory()
{
    std::lock_guard lock(gMutex);
    if (gApplicationDirectory.empty())
        gApplicationDirectory =
            ApplicationDirectoryFor(ExecutableDirectory(), gApplicationDirectoryError);
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
