#include "platform/shellns/MountFolder.h"

#include "platform/core/Posix.h"
#include "platform/shellns/FsFolder.h"
#include "platform/shellns/LinuxShell.h"

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::string VolumeDisplayName(const TNsEnvironment& environment, const TNsItem& item)
{
    const std::vector<TMount> mounts = environment.Mounts();
    const TMount* mount = FindMount(mounts, item.Name);
    std::string label = mount ? VolumeLabelOfMount(*mount) : std::string();
    if (label.empty())
        label = VolumeKindName(mount ? mount->Kind : KindOfFlags(item.Flags));
    return DisplayNameOfBytes(label + " (" + item.Name + ")");
}

} // namespace

TNsItem MountItem(const TMount& mount, TNsItemKind kind)
{
    TNsItem item;
    item.Kind = kind;
    item.Name = mount.MountPoint;
    if (mount.IsRemovable())
        item.Flags |= kNsFlagRemovable;
    if (mount.Kind == TMountKind::CdRom)
        item.Flags |= kNsFlagOptical;
    if (mount.MayStall())
        item.Flags |= kNsFlagNetwork;
    return item;
}

const TMount* FindMount(const std::vector<TMount>& mounts, const std::string& mountPoint)
{
    const auto found = std::find_if(mounts.begin(), mounts.end(), [&](const TMount& mount) {
        return mount.MountPoint == mountPoint;
    });
    return found == mounts.end() ? nullptr : &*found;
}

TMountKind KindOfFlags(uint8_t flags)
{
    if (flags & kNsFlagOptical)
        return TMountKind::CdRom;
    if (flags & kNsFlagRemovable)
        return TMountKind::Removable;
    if (flags & kNsFlagNetwork)
        return TMountKind::Network;
    return TMountKind::Fixed;
}

TSysIcon VolumeIcon(const TNsItem& item)
{
    if (item.Flags & kNsFlagOptical)
        return TSysIcon::DriveOptical;
    if (item.Flags & kNsFlagRemovable)
        return TSysIcon::DriveRemovable;
    if (item.Kind == TNsItemKind::NetworkMount || (item.Flags & kNsFlagNetwork))
        return TSysIcon::DriveNetwork;
    return TSysIcon::DriveFixed;
}

HRESULT ParseAbsolutePath(const TNsEnvironment& environment, const std::string& name,
                          std::vector<TNsItem>& items)
{
    if (name.empty() || name.front() != '/' || name.find('\0') != std::string::npos)
        return E_INVALIDARG;
    const std::string path = WithoutTrailingSlashes(name);
    const std::vector<TMount> mounts = environment.Mounts();
    const TMount* mount = MountOfPath(mounts, path);
    if (!mount)
        return E_FAIL;
    items.push_back(SpecialItem(TNsItemKind::Computer));
    items.push_back(MountItem(*mount, TNsItemKind::Volume));

    std::vector<std::string> components;
    size_t start = mount->MountPoint == "/" ? 1 : mount->MountPoint.size();
    while (start < path.size()) {
        const size_t slash = path.find('/', start);
        const size_t end = slash == std::string::npos ? path.size() : slash;
        if (end > start)
            components.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    if (components.empty())
        return S_OK;

    TUniqueFd directory(open(mount->MountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory)
        return E_FAIL;
    for (size_t i = 0; i < components.size(); ++i) {
        std::optional<TNsItem> entry = ReadNsEntry(directory.Get(), components[i].c_str());
        if (!entry)
            return E_FAIL;
        items.push_back(std::move(*entry));
        if (i + 1 < components.size()) {
            directory.Reset(
                openat(directory.Get(), components[i].c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!directory)
                return E_FAIL;
        }
    }
    return S_OK;
}

HRESULT TMountFolder::ParseDisplayName(QWidget*, const std::string& name, TItemIdList& list)
{
    std::vector<TNsItem> items;
    const HRESULT parsed = ParseAbsolutePath(Environment(), name, items);
    if (FAILED(parsed))
        return parsed;
    items.erase(items.begin());
    if (childKind_ == TNsItemKind::NetworkMount) {
        if (!(items.front().Flags & kNsFlagNetwork))
            return E_INVALIDARG;
        items.front().Kind = TNsItemKind::NetworkMount;
    }
    TItemIdList encoded = EncodeNsItems(items);
    if (!encoded)
        return E_FAIL;
    list = std::move(encoded);
    return S_OK;
}

HRESULT TMountFolder::EnumObjects(QWidget*, uint32_t flags, std::shared_ptr<IEnumIDList>& children)
{
    std::vector<TNsItem> items;
    if (flags & SHCONTF_FOLDERS) {
        for (const TMount& mount : Environment().Mounts()) {
            if (childKind_ == TNsItemKind::Volume || mount.Kind == TMountKind::Network)
                items.push_back(MountItem(mount, childKind_));
        }
    }
    children = std::make_shared<TListEnum>(std::move(items));
    return S_OK;
}

HRESULT TMountFolder::BindChild(const TNsItem& item, TItemIdPosition,
                                std::shared_ptr<IShellFolder>& folder)
{
    const TNsItemKind parentKind =
        childKind_ == TNsItemKind::Volume ? TNsItemKind::Computer : TNsItemKind::Network;
    folder = MakeFsFolder(SharedEnvironment(), item.Name, {SpecialItem(parentKind), item});
    return S_OK;
}

int TMountFolder::CompareChildren(int, const TNsItem& first, const TNsItem& second)
{
    const bool firstRoot = first.Name == "/";
    const bool secondRoot = second.Name == "/";
    if (firstRoot != secondRoot)
        return firstRoot ? -1 : 1;
    return CompareNsNames(VolumeDisplayName(Environment(), first),
                          VolumeDisplayName(Environment(), second));
}

bool TMountFolder::ChildSortKeys(int, const std::vector<TNsItem>& items,
                                 std::vector<TSortKey>& keys)
{
    std::vector<std::string> shown;
    for (const TNsItem& item : items)
        shown.push_back(VolumeDisplayName(Environment(), item));
    const std::vector<std::string_view> names(shown.begin(), shown.end());
    const std::vector<uint32_t> places = NsNamePlaces(names);
    keys.resize(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        keys[i].Numbers = {items[i].Name == "/" ? 0u : 1u, places[i], 0};
        keys[i].Bytes = NsIdentityBytes(items[i]);
    }
    return true;
}

HRESULT TMountFolder::ChildAttributes(const TNsItem& item, TItemIdPosition, uint32_t,
                                      uint32_t& attributes)
{
    attributes = SFGAO_FILESYSTEM | SFGAO_FOLDER | SFGAO_HASSUBFOLDER | SFGAO_CANLINK;
    if (childKind_ == TNsItemKind::Volume)
        attributes |= SFGAO_FILESYSANCESTOR;
    if (item.Flags & kNsFlagRemovable)
        attributes |= SFGAO_REMOVABLE;
    // A stalling server must not be asked; it is offered as a target and
    // the operation reports a refusal.
    if (Environment().MayStallAt(item.Name) || access(item.Name.c_str(), W_OK) == 0)
        attributes |= SFGAO_DROPTARGET;
    return S_OK;
}

HRESULT TMountFolder::ChildDisplayName(const TNsItem& item, TItemIdPosition, uint32_t flags,
                                       std::string& name)
{
    name = (flags & SHGDN_FORPARSING) ? item.Name : VolumeDisplayName(Environment(), item);
    return S_OK;
}

HRESULT TMountFolder::OwnDisplayName(uint32_t, std::string& name)
{
    name = childKind_ == TNsItemKind::Volume ? kComputerName : kNetworkName;
    return S_OK;
}

int TMountFolder::ChildIcon(const TNsItem& item, bool)
{
    return SysIconIndex(VolumeIcon(item));
}
