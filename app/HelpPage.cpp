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

std::string HelpPageFile()
{
    return HelpPageFileIn({ExecutableDirectory(), TUNEMILL_DATA_DIR});
}
