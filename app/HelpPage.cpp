#include "app/HelpPage.h"

#include "platform/core/AppDir.h"
#include "platform/core/Posix.h"

#include <sys/stat.h>

std::string HelpPageFileIn(const std::vector<std::string>& directories)
{
    for (const std::string& directory : directories) {
        if (directory.empty())
            continue;
        std::string file = JoinPath(directory, "help.htm");
        struct stat facts
        {
        };
        if (::stat(file.c_str(), &facts) == 0 && S_ISREG(facts.st_mode))
            return file;
    }
    return {};
}

std::string HelpPageFileFor(const std::string& executableDirectory)
{
    // The installation's own layout first, so that any prefix works.
    return HelpPageFileIn(
        {executableDirectory, InstalledDataDirectory(executableDirectory), TUNEMILL_DATA_DIR});
}

std::string HelpPageFile()
{
    return HelpPageFileFor(ExecutableDirectory());
}
