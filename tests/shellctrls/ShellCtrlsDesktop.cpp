#include "tests/shellctrls/ShellCtrlsDesktop.h"

#include "platform/shellns/LinuxShell.h"

#include <sys/stat.h>

TShellCtrlsDesktop::TShellCtrlsDesktop()
    : home(dir.File("home")), homeVariable_("HOME", home),
      configVariable_("XDG_CONFIG_HOME", dir.File("config")),
      dataVariable_("XDG_DATA_HOME", dir.File("data")), savedSources_(MountSources())
{
    for (const char* name : {"home", "config", "data", "t", "by-label", "block"})
        Mkdir(dir.File(name));
    WriteTable({});
}

TShellCtrlsDesktop::~TShellCtrlsDesktop()
{
    SetMountSources(savedSources_);
    SetShellNamespace(nullptr);
}

void TShellCtrlsDesktop::Mkdir(const std::string& path)
{
    Check(mkdir(path.c_str(), 0755) == 0, path);
}

void TShellCtrlsDesktop::WriteTable(const std::vector<std::string>& extra)
{
    std::string text = "20 1 0:20 / / rw - ext4 /dev/vda1 rw\n";
    int id = 21;
    for (const std::string& line : extra) {
        text += std::to_string(id) + " 1 0:" + std::to_string(id) + " " + line + "\n";
        ++id;
    }
    Check(WriteFileBytes(dir.File("mountinfo"), text), "mountinfo");
    TMountSources sources;
    sources.MountTable = dir.File("mountinfo");
    sources.LabelDirectory = dir.File("by-label");
    sources.BlockDirectory = dir.File("block");
    sources.MediaRoots = {dir.File("media")};
    SetMountSources(sources);
    SetShellNamespace(std::make_shared<TLinuxShellNamespace>());
}
