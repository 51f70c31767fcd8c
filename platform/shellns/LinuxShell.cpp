#include "platform/shellns/LinuxShell.h"

#include "platform/core/FileFacts.h"
#include "platform/core/FileIO.h"
#include "platform/core/PathCodec.h"
#include "platform/core/Posix.h"
#include "platform/core/UserDirs.h"
#include "platform/shellns/DesktopFolder.h"
#include "platform/shellns/FsFolder.h"
#include "platform/shellns/MountFolder.h"
#include "platform/shellns/ShellNsItems.h"
#include "platform/shellns/SysImageList.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdlib>
#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

const char* const kFolderTypeName = "ファイル フォルダー";
const char* const kSystemFolderTypeName = "システム フォルダー";

bool IsDirectory(const std::string& path)
{
    struct stat facts;
    return stat(path.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode);
}

// Empty for anything but a regular file: a FIFO planted at the name must not
// hold the caller in open().
std::string ReadSmallFile(const std::string& path)
{
    std::string text;
    return ReadRegularFile(path, text) ? text : std::string();
}

std::string ConfiguredDesktop(const std::string& home, const std::string& configHome)
{
    const std::string text = ReadSmallFile(configHome + "/user-dirs.dirs");
    std::istringstream lines(text);
    std::string line;
    std::string found;
    while (std::getline(lines, line)) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        line.erase(0, start);
        static const std::string kKey = "XDG_DESKTOP_DIR";
        if (!line.starts_with(kKey))
            continue;
        size_t at = line.find_first_not_of(" \t", kKey.size());
        if (at == std::string::npos || line[at] != '=')
            continue;
        std::string value = line.substr(at + 1);
        while (!value.empty() &&
               (value.back() == '\r' || value.back() == ' ' || value.back() == '\t'))
            value.pop_back();
        value.erase(0, std::min(value.size(), value.find_first_not_of(" \t")));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value == "$HOME" || value == "$HOME/")
            found = home;
        else if (value.starts_with("$HOME/"))
            found = JoinPath(home, value.substr(6));
        else if (value.starts_with("/"))
            found = value;
        // The last assignment wins, as when the file is sourced.
    }
    return found.empty() ? found : WithoutTrailingSlashes(found);
}

std::array<int64_t, 5> TableStamp(const std::string& path)
{
    struct stat facts;
    if (stat(path.c_str(), &facts) != 0)
        return {};
    return {static_cast<int64_t>(facts.st_ino), static_cast<int64_t>(facts.st_size),
            static_cast<int64_t>(facts.st_mtim.tv_sec), facts.st_mtim.tv_nsec,
            facts.st_ctim.tv_sec * 1'000'000'000 + facts.st_ctim.tv_nsec};
}

bool TableChanged(const TMountCache& cache, const std::string& path)
{
    if (cache.Table) {
        pollfd marked = {cache.Table.Get(), POLLPRI, 0};
        if (poll(&marked, 1, 0) > 0 && (marked.revents & (POLLPRI | POLLERR)) != 0)
            return true;
        if (cache.Marks)
            return false;
    }
    return TableStamp(path) != cache.Stamp;
}

std::shared_ptr<IShellNamespace>& ProcessNamespace()
{
    static std::shared_ptr<IShellNamespace> shellNamespace;
    return shellNamespace;
}

} // namespace

// ---- the environment -------------------------------------------------------

TNsEnvironment TNsEnvironment::FromProcess()
{
    TNsEnvironment environment;
    // The namespace shows a home whatever happens; with none at all, the root.
    std::string home = HomeDirectory();
    if (home.empty())
        home = "/";
    const std::string configHome = ConfigHomeDirectory();
    const std::string dataHome = DataHomeDirectory();
    environment.Home = home;
    environment.ConfigHome = configHome.empty() ? JoinPath(home, ".config") : configHome;
    environment.DataHome = dataHome.empty() ? JoinPath(home, ".local/share") : dataHome;
    environment.DesktopDirectory = DesktopDirectoryOf(home, environment.ConfigHome);
    environment.Sources = MountSources();
    return environment;
}

std::vector<TMount> TNsEnvironment::Mounts() const
{
    return KeptMounts();
}

bool TNsEnvironment::MayStallAt(const std::string& path) const
{
    return PathMayStall(KeptMounts(), path);
}

bool TNsEnvironment::MountMayStallAt(const std::string& path) const
{
    for (const TMount& mount : KeptMounts()) {
        if (mount.MountPoint == path)
            return mount.MayStall();
    }
    return false;
}

const std::vector<TMount>& TNsEnvironment::KeptMounts() const
{
    AssertNamespaceThread();
    TMountCache& cache = *Cache;
    if (cache.Mounts && !TableChanged(cache, Sources.MountTable))
        return *cache.Mounts;
    // Opened before the read, so that a change during the read marks it.
    cache.Table.Reset(open(Sources.MountTable.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct statfs fileSystem;
    cache.Marks = cache.Table && fstatfs(cache.Table.Get(), &fileSystem) == 0 &&
                  fileSystem.f_type == PROC_SUPER_MAGIC;
    cache.Stamp = TableStamp(Sources.MountTable);
    cache.Mounts = ReadMounts(Sources);
    return *cache.Mounts;
}

std::string DesktopDirectoryOf(const std::string& home, const std::string& configHome)
{
    std::string configured = ConfiguredDesktop(home, configHome);
    if (!configured.empty())
        return configured;
    const std::string fallback = JoinPath(home, "Desktop");
    return IsDirectory(fallback) ? fallback : home;
}

std::string ShownVolumeLabel(const std::string& rawLabel)
{
    if (rawLabel.empty())
        return {};
    // Lower-cased as a file name is, whatever the script; bytes that are not
    // UTF-8 come through unchanged.
    std::string label = QStringToPath(PathToQString(rawLabel).toLower());
    if (!label.empty() && label[0] >= 'a' && label[0] <= 'z')
        label[0] = static_cast<char>(label[0] - 'a' + 'A');
    return label;
}

TItemIdList VolumeIdListOfMount(const TMount& mount)
{
    return EncodeNsItems(
        {SpecialItem(TNsItemKind::Computer), MountItem(mount, TNsItemKind::Volume)});
}

std::string VolumeKindName(TMountKind kind)
{
    switch (kind) {
    case TMountKind::Removable:
        return "リムーバブル ディスク";
    case TMountKind::CdRom:
        return "CD ドライブ";
    case TMountKind::Network:
        return "ネットワーク ドライブ";
    default:
        return "ローカル ディスク";
    }
}

std::string TrashOriginalName(const std::string& trashDirectory, const std::string& name)
{
    const std::string text = ReadSmallFile(trashDirectory + "/info/" + name + ".trashinfo");
    std::istringstream lines(text);
    std::string line;
    bool inGroup = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.starts_with("[")) {
            inGroup = line == "[Trash Info]";
            continue;
        }
        if (!inGroup || !line.starts_with("Path="))
            continue;
        std::string decoded;
        const std::string value = line.substr(5);
        for (size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '%' && i + 2 < value.size() && HexDigitValue(value[i + 1]) >= 0 &&
                HexDigitValue(value[i + 2]) >= 0) {
                decoded += static_cast<char>(HexDigitValue(value[i + 1]) * 16 +
                                             HexDigitValue(value[i + 2]));
                i += 2;
            } else {
                decoded += value[i];
            }
        }
        const std::string_view own = PathOwnName(decoded);
        if (!own.empty() && own != "." && own != ".." && own.find('\0') == std::string_view::npos)
            return std::string(own);
        break;
    }
    return name;
}

// ---- the namespace ---------------------------------------------------------

TLinuxShellNamespace::TLinuxShellNamespace() : TLinuxShellNamespace(TNsEnvironment::FromProcess())
{
}

TLinuxShellNamespace::TLinuxShellNamespace(TNsEnvironment environment)
    : environment_(std::make_shared<const TNsEnvironment>(std::move(environment))),
      desktop_(std::make_shared<TDesktopFolder>(environment_))
{
}

HRESULT TLinuxShellNamespace::GetDesktopFolder(std::shared_ptr<IShellFolder>& desktop)
{
    desktop = desktop_;
    return S_OK;
}

HRESULT TLinuxShellNamespace::GetSpecialFolderLocation(QWidget* owner, int csidl, TItemIdList& list)
{
    std::vector<TNsItem> items;
    switch (csidl) {
    case 0:
        break;
    case 5:
        items.push_back(SpecialItem(TNsItemKind::Home));
        break;
    case 10:
        items.push_back(SpecialItem(TNsItemKind::Trash));
        break;
    case 16:
        return desktop_->ParseDisplayName(owner, environment_->DesktopDirectory, list);
    case 17:
        items.push_back(SpecialItem(TNsItemKind::Computer));
        break;
    case 18:
        items.push_back(SpecialItem(TNsItemKind::Network));
        break;
    default:
        return E_INVALIDARG;
    }
    TItemIdList encoded = EncodeNsItems(items);
    if (!encoded)
        return E_OUTOFMEMORY;
    list = std::move(encoded);
    return S_OK;
}

bool TLinuxShellNamespace::GetPathFromIDList(TItemIdPosition list, std::string& path)
{
    const std::optional<std::vector<TNsItem>> items = DecodeNsList(list);
    if (!items)
        return false;
    if (items->empty()) {
        path = environment_->DesktopDirectory;
        return true;
    }
    std::string result;
    size_t entriesFrom = 0;
    const TNsItemKind first = items->front().Kind;
    if (first == TNsItemKind::Home) {
        result = environment_->Home;
        entriesFrom = 1;
    } else if ((first == TNsItemKind::Computer || first == TNsItemKind::Network) &&
               items->size() >= 2 &&
               (*items)[1].Kind == (first == TNsItemKind::Computer ? TNsItemKind::Volume
                                                                   : TNsItemKind::NetworkMount)) {
        result = (*items)[1].Name;
        entriesFrom = 2;
    } else if (first == TNsItemKind::Entry) {
        result = environment_->DesktopDirectory;
    } else {
        return false;
    }
    for (size_t i = entriesFrom; i < items->size(); ++i) {
        if ((*items)[i].Kind != TNsItemKind::Entry)
            return false;
        result = JoinPath(result, (*items)[i].Name);
    }
    path = std::move(result);
    return true;
}

bool TLinuxShellNamespace::GetFileInfo(TItemIdPosition list, uint32_t flags, TShFileInfo& info)
{
    const std::optional<std::vector<TNsItem>> items = DecodeNsList(list);
    if (!items)
        return false;
    const TNsItem* last = items->empty() ? nullptr : &items->back();
    // Trashed files are typed by the name they had.
    std::string fileName = last ? last->Name : std::string();
    if (last && last->Kind == TNsItemKind::TrashEntry)
        fileName = TrashOriginalName(environment_->DataHome + "/Trash", last->Name);
    const bool open = (flags & SHGFI_OPENICON) != 0;

    if (flags & SHGFI_SYSICONINDEX) {
        if (!last)
            info.IconIndex = SysIconIndex(TSysIcon::Desktop);
        else if (IsSpecial(last->Kind))
            info.IconIndex = SpecialIcon(*environment_, last->Kind);
        else if (last->Kind == TNsItemKind::Volume || last->Kind == TNsItemKind::NetworkMount)
            info.IconIndex = SysIconIndex(VolumeIcon(*last));
        else if (last->IsFolder())
            info.IconIndex = SysIconIndex(open ? TSysIcon::FolderOpen : TSysIcon::Folder);
        else
            info.IconIndex = FileIconIndex(fileName);
        info.ImageList = &SysImageList((flags & SHGFI_SMALLICON) == 0);
    }
    if (flags & SHGFI_TYPENAME) {
        if (!last || IsSpecial(last->Kind)) {
            info.TypeName = kSystemFolderTypeName;
        } else if (last->Kind == TNsItemKind::Volume || last->Kind == TNsItemKind::NetworkMount) {
            const std::vector<TMount> mounts = environment_->Mounts();
            const TMount* mount = FindMount(mounts, last->Name);
            info.TypeName = VolumeKindName(mount ? mount->Kind
                                           : last->Kind == TNsItemKind::NetworkMount
                                               ? TMountKind::Network
                                               : KindOfFlags(last->Flags));
        } else if (last->IsFolder()) {
            info.TypeName = kFolderTypeName;
        } else {
            info.TypeName = FileTypeName(fileName).toStdString();
        }
    }
    return true;
}

void TLinuxShellNamespace::FlushChangeNotices()
{
    AssertNamespaceThread();
    environment_->ForgetMounts();
}

std::string TLinuxShellNamespace::GetVolumeLabel(const std::string& rootPath)
{
    const std::vector<TMount> mounts = environment_->Mounts();
    const TMount* mount = FindMount(mounts, WithoutTrailingSlashes(rootPath));
    return mount ? mount->Label : std::string();
}

void AssertNamespaceThread()
{
    const QCoreApplication* application = QCoreApplication::instance();
    Q_ASSERT_X(!application || QThread::currentThread() == application->thread(), "namespace",
               "the namespace is for the UI thread");
    (void)application;
}

std::shared_ptr<IShellNamespace> ShellNamespace()
{
    AssertNamespaceThread();
    std::shared_ptr<IShellNamespace>& current = ProcessNamespace();
    if (!current)
        current = std::make_shared<TLinuxShellNamespace>();
    return current;
}

void SetShellNamespace(std::shared_ptr<IShellNamespace> shellNamespace)
{
    AssertNamespaceThread();
    // Null makes the next ShellNamespace() read the environment afresh.
    ProcessNamespace() = std::move(shellNamespace);
}
