#include "platform/shellns/LinuxShell.h"

#include "platform/core/FileFacts.h"
#include "platform/core/PathCodec.h"
#include "platform/shellns/FsFolder.h"
#include "platform/shellns/ShellNsItems.h"
#include "platform/shellns/SysImageList.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>

namespace {

const char* const kComputerName = "コンピューター";
const char* const kHomeName = "ホーム";
const char* const kNetworkName = "ネットワーク";
const char* const kTrashName = "ゴミ箱";
const char* const kDesktopName = "デスクトップ";
const char* const kFolderTypeName = "ファイル フォルダー";
const char* const kSystemFolderTypeName = "システム フォルダー";

// ---- small helpers ---------------------------------------------------------

std::string StripTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string JoinPath(const std::string& directory, const std::string& name)
{
    if (!directory.empty() && directory.back() == '/')
        return directory + name;
    return directory + "/" + name;
}

bool IsDirectory(const std::string& path)
{
    struct stat facts;
    return stat(path.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode);
}

std::string ReadSmallFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class TFd
{
public:
    explicit TFd(int fd) : fd_(fd) {}
    ~TFd()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd)
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

bool IsEnd(TItemIdPosition position)
{
    return ItemIdCount(position) == 0;
}

TItemIdPosition NextItem(TItemIdPosition position)
{
    return position + ItemIdCount(position);
}

// A one-item list of the item at `position`.
TItemIdList CopyFirstItem(TItemIdPosition position)
{
    const uint16_t count = ItemIdCount(position);
    if (count == 0 || count > UINT16_MAX - 2)
        return {};
    TItemIdList list = TItemIdList::Allocate(static_cast<uint16_t>(count + 2));
    if (list)
        std::memcpy(list.MutableData(), position, count);
    return list;
}

// Every item of `position` but the last, and where the last one starts.
TItemIdList CopyAllButLast(TItemIdPosition position, TItemIdPosition& last)
{
    size_t bytes = 0;
    last = position;
    for (TItemIdPosition p = position; !IsEnd(p); p = NextItem(p)) {
        last = p;
        bytes = static_cast<size_t>(p - position);
    }
    TItemIdList list = TItemIdList::Allocate(static_cast<uint16_t>(bytes + 2));
    if (list && bytes > 0)
        std::memcpy(list.MutableData(), position, bytes);
    return list;
}

bool HasMoreThanOneItem(TItemIdPosition position)
{
    return !IsEnd(position) && !IsEnd(NextItem(position));
}

// The bytes of a whole list up to its terminator.
std::string_view ListBytes(TItemIdPosition position)
{
    TItemIdPosition p = position;
    while (!IsEnd(p))
        p = NextItem(p);
    return {reinterpret_cast<const char*>(position), static_cast<size_t>(p - position)};
}

int CompareBytes(std::string_view first, std::string_view second)
{
    const int order = first.compare(second);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

int FirstItemOrderByBytes(TItemIdPosition first, TItemIdPosition second)
{
    return CompareBytes({reinterpret_cast<const char*>(first), ItemIdCount(first)},
                        {reinterpret_cast<const char*>(second), ItemIdCount(second)});
}

int Sign(int value)
{
    return value < 0 ? -1 : value > 0 ? 1 : 0;
}

// One list of several items, or none when an item cannot be encoded or the
// whole would not fit a 16-bit size.
TItemIdList EncodeNsItems(const std::vector<TNsItem>& items)
{
    std::string bytes;
    for (const TNsItem& item : items) {
        TItemIdList one = EncodeNsItem(item);
        if (!one)
            return {};
        bytes.append(reinterpret_cast<const char*>(one.Data()), ItemIdCount(one.Data()));
    }
    if (bytes.size() + 2 > UINT16_MAX)
        return {};
    TItemIdList list = TItemIdList::Allocate(static_cast<uint16_t>(bytes.size() + 2));
    if (list && !bytes.empty())
        std::memcpy(list.MutableData(), bytes.data(), bytes.size());
    return list;
}

TNsItem SpecialItem(TNsItemKind kind)
{
    TNsItem item;
    item.Kind = kind;
    return item;
}

bool IsSpecial(TNsItemKind kind)
{
    return kind == TNsItemKind::Computer || kind == TNsItemKind::Home ||
           kind == TNsItemKind::Network || kind == TNsItemKind::Trash;
}

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

// The kind of a volume item when its mount is gone: what its flags recorded.
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

std::string VolumeDisplayName(const TNsEnvironment& environment, const TNsItem& item)
{
    const std::vector<TMount> mounts = environment.Mounts();
    const TMount* mount = FindMount(mounts, item.Name);
    std::string label = mount ? VolumeLabelOfMount(*mount) : std::string();
    if (label.empty())
        label = VolumeKindName(mount ? mount->Kind : KindOfFlags(item.Flags));
    return DisplayNameOfBytes(label + " (" + item.Name + ")");
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

bool TrashHasFiles(const TNsEnvironment& environment)
{
    DIR* directory = opendir(environment.TrashFiles().c_str());
    if (!directory)
        return false;
    bool any = false;
    while (const dirent* entry = readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            any = true;
            break;
        }
    }
    closedir(directory);
    return any;
}

int SpecialIcon(const TNsEnvironment& environment, TNsItemKind kind)
{
    switch (kind) {
    case TNsItemKind::Computer:
        return SysIconIndex(TSysIcon::Computer);
    case TNsItemKind::Home:
        return SysIconIndex(TSysIcon::Home);
    case TNsItemKind::Network:
        return SysIconIndex(TSysIcon::Network);
    case TNsItemKind::Trash:
        return SysIconIndex(TrashHasFiles(environment) ? TSysIcon::TrashFull
                                                       : TSysIcon::TrashEmpty);
    default:
        return SysIconIndex(TSysIcon::Document);
    }
}

const char* SpecialName(TNsItemKind kind)
{
    switch (kind) {
    case TNsItemKind::Computer:
        return kComputerName;
    case TNsItemKind::Home:
        return kHomeName;
    case TNsItemKind::Network:
        return kNetworkName;
    default:
        return kTrashName;
    }
}

// The order of the specials on the desktop; entries after them.
int DesktopRank(TNsItemKind kind)
{
    switch (kind) {
    case TNsItemKind::Computer:
        return 0;
    case TNsItemKind::Home:
        return 1;
    case TNsItemKind::Network:
        return 2;
    case TNsItemKind::Trash:
        return 3;
    default:
        return 4;
    }
}

bool MayStallAt(const TNsEnvironment& environment, const std::string& path)
{
    const std::vector<TMount> mounts = environment.Mounts();
    const TMount* mount = MountOfPath(mounts, path);
    return mount && mount->MayStall();
}

// [Computer][Volume m][entries...] for an absolute path, each component
// examined so that its item carries its facts.
HRESULT ParseAbsolutePath(const TNsEnvironment& environment, const std::string& name,
                          std::vector<TNsItem>& items)
{
    if (name.empty() || name.front() != '/' || name.find('\0') != std::string::npos)
        return E_INVALIDARG;
    const std::string path = StripTrailingSlashes(name);
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

    TFd directory(open(mount->MountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() < 0)
        return E_FAIL;
    for (size_t i = 0; i < components.size(); ++i) {
        std::optional<TNsItem> entry = ReadNsEntry(directory.Get(), components[i].c_str());
        if (!entry)
            return E_FAIL;
        items.push_back(std::move(*entry));
        if (i + 1 < components.size()) {
            directory.Reset(
                openat(directory.Get(), components[i].c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (directory.Get() < 0)
                return E_FAIL;
        }
    }
    return S_OK;
}

// Binds the items of `rest` one at a time, starting from `folder`.
HRESULT BindStepByStep(std::shared_ptr<IShellFolder> folder, TItemIdPosition rest,
                       std::shared_ptr<IShellFolder>& result)
{
    for (TItemIdPosition p = rest; !IsEnd(p); p = NextItem(p)) {
        const TItemIdList one = CopyFirstItem(p);
        if (!one)
            return E_OUTOFMEMORY;
        std::shared_ptr<IShellFolder> child;
        const HRESULT bound = folder->BindToObject(one.Data(), child);
        if (FAILED(bound))
            return bound;
        if (!child)
            return E_FAIL;
        folder = std::move(child);
    }
    result = std::move(folder);
    return S_OK;
}

// A directory's folder that knows its own absolute list, which the data
// objects of its selections name as their parent.
std::shared_ptr<IShellFolder> MakeFsFolder(const std::string& directory, bool mayStall,
                                           const std::vector<TNsItem>& absolute)
{
    auto folder = std::make_shared<TFsFolder>(directory, mayStall);
    if (TItemIdList list = EncodeNsItems(absolute))
        folder->SetAbsoluteIdList(std::move(list));
    return folder;
}

// An icon fixed when the extractor is made.
class TFixedExtractIcon : public IExtractIcon
{
public:
    TFixedExtractIcon(int index, int openIndex, uint32_t flags)
        : index_(index), openIndex_(openIndex), flags_(flags)
    {
    }
    HRESULT GetIconLocation(uint32_t flags, int& index, uint32_t& outFlags) override
    {
        index = (flags & GIL_OPENICON) ? openIndex_ : index_;
        outFlags = flags_;
        return S_OK;
    }

private:
    int index_;
    int openIndex_;
    uint32_t flags_;
};

// ---- the virtual folders ---------------------------------------------------

// What the desktop, computer, network and trash folders share: lists of
// several items are resolved by binding down to the last item's folder, and
// the answer for one child comes from the hooks below.
class TVirtualFolder : public IShellFolder,
                       public IShellIcon,
                       public std::enable_shared_from_this<TVirtualFolder>
{
public:
    explicit TVirtualFolder(std::shared_ptr<const TNsEnvironment> environment)
        : environment_(std::move(environment))
    {
    }

    HRESULT ParseDisplayName(QWidget*, const std::string&, TItemIdList&) override
    {
        return E_INVALIDARG;
    }

    HRESULT BindToObject(TItemIdPosition list, std::shared_ptr<IShellFolder>& folder) override
    {
        if (!list || IsEnd(list))
            return E_INVALIDARG;
        const std::optional<TNsItem> item = DecodeNsItem(list);
        if (!item || !Owns(*item))
            return E_INVALIDARG;
        std::shared_ptr<IShellFolder> child;
        const HRESULT bound = BindChild(*item, list, child);
        if (FAILED(bound))
            return bound;
        return BindStepByStep(std::move(child), NextItem(list), folder);
    }

    HRESULT CompareIDs(int column, TItemIdPosition first, TItemIdPosition second) override
    {
        // Whole lists are checked, so that a foreign tail is refused even
        // when the first items already decide.
        if (!DecodeNsList(first) || !DecodeNsList(second))
            return E_INVALIDARG;
        if (IsEnd(first) || IsEnd(second))
            return CompareResult(IsEnd(first) == IsEnd(second) ? 0 : IsEnd(first) ? -1 : 1);
        const std::optional<TNsItem> a = DecodeNsItem(first);
        const std::optional<TNsItem> b = DecodeNsItem(second);
        if (!a || !b || !Owns(*a) || !Owns(*b))
            return E_INVALIDARG;
        int order = Sign(CompareChildren(column, *a, *b));
        if (order == 0)
            order = FirstItemOrderByBytes(first, second);
        if (order != 0)
            return CompareResult(order);

        // One child: the rests decide, in that child's own order.
        const TItemIdPosition restA = NextItem(first);
        const TItemIdPosition restB = NextItem(second);
        if (IsEnd(restA) || IsEnd(restB))
            return CompareResult(IsEnd(restA) == IsEnd(restB) ? 0 : IsEnd(restA) ? -1 : 1);
        const TItemIdList one = CopyFirstItem(first);
        std::shared_ptr<IShellFolder> child;
        if (!one || FAILED(BindToObject(one.Data(), child)) || !child)
            return CompareResult(CompareBytes(ListBytes(restA), ListBytes(restB)));
        return child->CompareIDs(column, restA, restB);
    }

    HRESULT GetAttributesOf(std::span<const TItemIdPosition> items, uint32_t& attributes) override
    {
        if (items.empty())
            return E_INVALIDARG;
        const uint32_t asked = attributes;
        uint32_t common = ~0u;
        for (TItemIdPosition position : items) {
            if (!position || IsEnd(position))
                return E_INVALIDARG;
            uint32_t one = asked;
            HRESULT result = S_OK;
            if (HasMoreThanOneItem(position)) {
                result = InParent(position, [&](IShellFolder& parent, TItemIdPosition last) {
                    return parent.GetAttributesOf({&last, 1}, one);
                });
            } else {
                const std::optional<TNsItem> item = DecodeNsItem(position);
                if (!item || !Owns(*item))
                    return E_INVALIDARG;
                result = ChildAttributes(*item, position, asked, one);
            }
            if (FAILED(result))
                return result;
            common &= one;
        }
        attributes = common;
        return S_OK;
    }

    HRESULT GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                          std::shared_ptr<IDropTarget>& target) override
    {
        return UIObjectOf(owner, items, target);
    }
    HRESULT GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                          std::shared_ptr<IDataObject>& data) override
    {
        return UIObjectOf(owner, items, data);
    }
    HRESULT GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                          std::shared_ptr<IExtractIcon>& extractor) override
    {
        return UIObjectOf(owner, items, extractor);
    }
    HRESULT GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                          std::shared_ptr<IContextMenu>& menu) override
    {
        return UIObjectOf(owner, items, menu);
    }

    HRESULT GetDisplayNameOf(TItemIdPosition item, uint32_t flags, std::string& name) override
    {
        if (!item)
            return E_INVALIDARG;
        if (IsEnd(item))
            return OwnDisplayName(flags, name);
        if (HasMoreThanOneItem(item))
            return InParent(item, [&](IShellFolder& parent, TItemIdPosition last) {
                return parent.GetDisplayNameOf(last, flags, name);
            });
        const std::optional<TNsItem> decoded = DecodeNsItem(item);
        if (!decoded || !Owns(*decoded))
            return E_INVALIDARG;
        return ChildDisplayName(*decoded, item, flags, name);
    }

    HRESULT SetNameOf(QWidget* owner, TItemIdPosition item, const std::string& newName,
                      uint32_t flags, TItemIdList* newItem) override
    {
        if (!item || IsEnd(item))
            return E_INVALIDARG;
        if (HasMoreThanOneItem(item))
            return InParent(item, [&](IShellFolder& parent, TItemIdPosition last) {
                return parent.SetNameOf(owner, last, newName, flags, newItem);
            });
        const std::optional<TNsItem> decoded = DecodeNsItem(item);
        if (!decoded || !Owns(*decoded))
            return E_INVALIDARG;
        if (decoded->Kind == TNsItemKind::Entry)
            if (std::shared_ptr<IShellFolder> entries = EntryFolder())
                return entries->SetNameOf(owner, item, newName, flags, newItem);
        return E_FAIL;
    }

    HRESULT GetDataFromIDList(TItemIdPosition item, TWin32FindData& data) override
    {
        if (!item || IsEnd(item))
            return E_INVALIDARG;
        if (HasMoreThanOneItem(item))
            return InParent(item, [&](IShellFolder& parent, TItemIdPosition last) {
                return parent.GetDataFromIDList(last, data);
            });
        const std::optional<TNsItem> decoded = DecodeNsItem(item);
        if (!decoded || !Owns(*decoded))
            return E_INVALIDARG;
        return ChildData(*decoded, item, data);
    }

    std::shared_ptr<IShellIcon> QueryShellIcon() override
    {
        return std::shared_ptr<IShellIcon>(shared_from_this(), this);
    }

    HRESULT GetIconOf(TItemIdPosition item, uint32_t flags, int& index) override
    {
        if (!item || IsEnd(item) || HasMoreThanOneItem(item))
            return E_INVALIDARG;
        const std::optional<TNsItem> decoded = DecodeNsItem(item);
        if (!decoded || !Owns(*decoded))
            return E_INVALIDARG;
        if (decoded->Kind == TNsItemKind::Entry) {
            std::shared_ptr<IShellFolder> entries = EntryFolder();
            std::shared_ptr<IShellIcon> icons = entries ? entries->QueryShellIcon() : nullptr;
            return icons ? icons->GetIconOf(item, flags, index) : E_INVALIDARG;
        }
        index = ChildIcon(*decoded, (flags & GIL_OPENICON) != 0);
        return S_OK;
    }

protected:
    const TNsEnvironment& Environment() const { return *environment_; }
    const std::shared_ptr<const TNsEnvironment>& SharedEnvironment() const { return environment_; }

    /// Whether an item is of a kind that this folder holds.
    virtual bool Owns(const TNsItem& item) const = 0;
    virtual HRESULT BindChild(const TNsItem& item, TItemIdPosition position,
                              std::shared_ptr<IShellFolder>& folder) = 0;
    /// Negative, zero or positive; bytes break the ties afterwards.
    virtual int CompareChildren(int column, const TNsItem& first, const TNsItem& second) = 0;
    virtual HRESULT ChildAttributes(const TNsItem& item, TItemIdPosition position, uint32_t asked,
                                    uint32_t& attributes) = 0;
    virtual HRESULT ChildDisplayName(const TNsItem& item, TItemIdPosition position, uint32_t flags,
                                     std::string& name) = 0;
    virtual HRESULT OwnDisplayName(uint32_t flags, std::string& name) = 0;
    virtual int ChildIcon(const TNsItem& item, bool open) = 0;
    virtual HRESULT ChildData(const TNsItem&, TItemIdPosition, TWin32FindData&)
    {
        return E_INVALIDARG;
    }
    /// The folder that answers for Entry children; null when there are none.
    virtual std::shared_ptr<IShellFolder> EntryFolder() { return nullptr; }

    /// Runs `call` in the folder of the last item of a list of several.
    template <class Call> HRESULT InParent(TItemIdPosition list, Call&& call)
    {
        TItemIdPosition last = nullptr;
        const TItemIdList parentList = CopyAllButLast(list, last);
        if (!parentList)
            return E_OUTOFMEMORY;
        std::shared_ptr<IShellFolder> parent;
        const HRESULT bound = BindToObject(parentList.Data(), parent);
        if (FAILED(bound))
            return bound;
        if (!parent)
            return E_FAIL;
        // `last` points into the caller's list, which outlives this call.
        return call(*parent, last);
    }

private:
    template <class Interface>
    HRESULT UIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                       std::shared_ptr<Interface>& object)
    {
        if (items.empty())
            return E_INVALIDARG;
        if (items.size() == 1 && items[0] && HasMoreThanOneItem(items[0]))
            return InParent(items[0], [&](IShellFolder& parent, TItemIdPosition last) {
                return parent.GetUIObjectOf(owner, {&last, 1}, object);
            });
        bool allEntries = true;
        std::optional<TNsItem> first;
        for (TItemIdPosition position : items) {
            if (!position || IsEnd(position) || HasMoreThanOneItem(position))
                return E_INVALIDARG;
            std::optional<TNsItem> item = DecodeNsItem(position);
            if (!item || !Owns(*item))
                return E_INVALIDARG;
            allEntries = allEntries && item->Kind == TNsItemKind::Entry;
            if (!first)
                first = std::move(item);
        }
        if (allEntries)
            if (std::shared_ptr<IShellFolder> entries = EntryFolder())
                return entries->GetUIObjectOf(owner, items, object);
        if constexpr (std::is_same_v<Interface, IExtractIcon>) {
            if (items.size() == 1) {
                object = std::make_shared<TFixedExtractIcon>(ChildIcon(*first, false),
                                                             ChildIcon(*first, true), 0);
                return S_OK;
            }
        }
        // Drop targets and menus of the virtual items come with the file
        // operations; data objects only carry file-system selections.
        return E_NOINTERFACE;
    }

    std::shared_ptr<const TNsEnvironment> environment_;
};

// ---- the computer folder ---------------------------------------------------

class TListEnum : public IEnumIDList
{
public:
    explicit TListEnum(std::vector<TNsItem> items) : items_(std::move(items)) {}
    HRESULT Next(TItemIdList& item) override
    {
        while (next_ < items_.size()) {
            TItemIdList list = EncodeNsItem(items_[next_++]);
            if (list) {
                item = std::move(list);
                return S_OK;
            }
        }
        return S_FALSE;
    }

private:
    std::vector<TNsItem> items_;
    size_t next_ = 0;
};

// Volumes and network mounts: folders named by their mount point.
class TMountFolder : public TVirtualFolder
{
public:
    TMountFolder(std::shared_ptr<const TNsEnvironment> environment, TNsItemKind childKind)
        : TVirtualFolder(std::move(environment)), childKind_(childKind)
    {
    }

    HRESULT ParseDisplayName(QWidget*, const std::string& name, TItemIdList& list) override
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

    HRESULT EnumObjects(QWidget*, uint32_t flags, std::shared_ptr<IEnumIDList>& children) override
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

protected:
    bool Owns(const TNsItem& item) const override { return item.Kind == childKind_; }

    HRESULT BindChild(const TNsItem& item, TItemIdPosition,
                      std::shared_ptr<IShellFolder>& folder) override
    {
        const bool mayStall =
            childKind_ == TNsItemKind::NetworkMount || (item.Flags & kNsFlagNetwork) != 0;
        const TNsItemKind parentKind =
            childKind_ == TNsItemKind::Volume ? TNsItemKind::Computer : TNsItemKind::Network;
        folder = MakeFsFolder(item.Name, mayStall, {SpecialItem(parentKind), item});
        return S_OK;
    }

    int CompareChildren(int, const TNsItem& first, const TNsItem& second) override
    {
        const bool firstRoot = first.Name == "/";
        const bool secondRoot = second.Name == "/";
        if (firstRoot != secondRoot)
            return firstRoot ? -1 : 1;
        return CompareNsNames(VolumeDisplayName(Environment(), first),
                              VolumeDisplayName(Environment(), second));
    }

    HRESULT ChildAttributes(const TNsItem& item, TItemIdPosition, uint32_t,
                            uint32_t& attributes) override
    {
        attributes = SFGAO_FILESYSTEM | SFGAO_FOLDER | SFGAO_HASSUBFOLDER | SFGAO_CANLINK;
        if (childKind_ == TNsItemKind::Volume)
            attributes |= SFGAO_FILESYSANCESTOR;
        if (item.Flags & kNsFlagRemovable)
            attributes |= SFGAO_REMOVABLE;
        // A stalling server must not be asked; it is offered as a target and
        // the operation reports a refusal.
        const bool stalls =
            childKind_ == TNsItemKind::NetworkMount || (item.Flags & kNsFlagNetwork) != 0;
        if (stalls || access(item.Name.c_str(), W_OK) == 0)
            attributes |= SFGAO_DROPTARGET;
        return S_OK;
    }

    HRESULT ChildDisplayName(const TNsItem& item, TItemIdPosition, uint32_t flags,
                             std::string& name) override
    {
        name = (flags & SHGDN_FORPARSING) ? item.Name : VolumeDisplayName(Environment(), item);
        return S_OK;
    }

    HRESULT OwnDisplayName(uint32_t, std::string& name) override
    {
        name = childKind_ == TNsItemKind::Volume ? kComputerName : kNetworkName;
        return S_OK;
    }

    int ChildIcon(const TNsItem& item, bool) override { return SysIconIndex(VolumeIcon(item)); }

private:
    TNsItemKind childKind_;
};

// ---- the trash folder ------------------------------------------------------

class TTrashFolder : public TVirtualFolder
{
public:
    using TVirtualFolder::TVirtualFolder;

    HRESULT EnumObjects(QWidget*, uint32_t flags, std::shared_ptr<IEnumIDList>& children) override
    {
        std::vector<TNsItem> items;
        // Trashed files are not browsed, so all of them count as non-folders.
        if (flags & SHCONTF_NONFOLDERS) {
            const std::string directory = Environment().TrashFiles();
            if (DIR* handle = opendir(directory.c_str())) {
                while (const dirent* entry = readdir(handle)) {
                    if (std::strcmp(entry->d_name, ".") == 0 ||
                        std::strcmp(entry->d_name, "..") == 0)
                        continue;
                    std::optional<TNsItem> item = ReadNsEntry(dirfd(handle), entry->d_name);
                    if (!item)
                        continue;
                    if ((item->Attributes & FILE_ATTRIBUTE_HIDDEN) &&
                        !(flags & SHCONTF_INCLUDEHIDDEN))
                        continue;
                    item->Kind = TNsItemKind::TrashEntry;
                    items.push_back(std::move(*item));
                }
                closedir(handle);
            }
        }
        children = std::make_shared<TListEnum>(std::move(items));
        return S_OK;
    }

protected:
    bool Owns(const TNsItem& item) const override { return item.Kind == TNsItemKind::TrashEntry; }

    HRESULT BindChild(const TNsItem&, TItemIdPosition, std::shared_ptr<IShellFolder>&) override
    {
        return E_INVALIDARG;
    }

    int CompareChildren(int, const TNsItem& first, const TNsItem& second) override
    {
        return CompareNsNames(OriginalName(first.Name), OriginalName(second.Name));
    }

    HRESULT ChildAttributes(const TNsItem&, TItemIdPosition, uint32_t,
                            uint32_t& attributes) override
    {
        attributes = SFGAO_CANDELETE;
        return S_OK;
    }

    HRESULT ChildDisplayName(const TNsItem& item, TItemIdPosition, uint32_t flags,
                             std::string& name) override
    {
        const std::string original = OriginalName(item.Name);
        name = (flags & SHGDN_FORPARSING) ? original : DisplayNameOfBytes(original);
        return S_OK;
    }

    HRESULT OwnDisplayName(uint32_t, std::string& name) override
    {
        name = kTrashName;
        return S_OK;
    }

    int ChildIcon(const TNsItem& item, bool open) override
    {
        if (item.IsFolder())
            return SysIconIndex(open ? TSysIcon::FolderOpen : TSysIcon::Folder);
        return FileIconIndex(OriginalName(item.Name));
    }

    HRESULT ChildData(const TNsItem& item, TItemIdPosition, TWin32FindData& data) override
    {
        data = FindDataOfNsItem(item);
        data.FileName = OriginalName(item.Name);
        return S_OK;
    }

private:
    // A sort asks for the same names many times; the records do not change
    // under a name while it is in the Trash.
    const std::string& OriginalName(const std::string& name)
    {
        auto found = originalNames_.find(name);
        if (found == originalNames_.end())
            found = originalNames_
                        .emplace(name, TrashOriginalName(Environment().DataHome + "/Trash", name))
                        .first;
        return found->second;
    }

    std::map<std::string, std::string> originalNames_;
};

// ---- the desktop -----------------------------------------------------------

class TDesktopFolder : public TVirtualFolder
{
public:
    using TVirtualFolder::TVirtualFolder;

    HRESULT ParseDisplayName(QWidget*, const std::string& name, TItemIdList& list) override
    {
        std::vector<TNsItem> items;
        const HRESULT parsed = ParseAbsolutePath(Environment(), name, items);
        if (FAILED(parsed))
            return parsed;
        TItemIdList encoded = EncodeNsItems(items);
        if (!encoded)
            return E_FAIL;
        list = std::move(encoded);
        return S_OK;
    }

    HRESULT EnumObjects(QWidget* owner, uint32_t flags,
                        std::shared_ptr<IEnumIDList>& children) override
    {
        std::vector<TNsItem> specials;
        if (flags & SHCONTF_FOLDERS) {
            for (TNsItemKind kind : {TNsItemKind::Computer, TNsItemKind::Home, TNsItemKind::Network,
                                     TNsItemKind::Trash})
                specials.push_back(SpecialItem(kind));
        }
        std::shared_ptr<IEnumIDList> entries;
        if (FAILED(EntryFolder()->EnumObjects(owner, flags, entries)))
            entries.reset();
        children = std::make_shared<TDesktopEnum>(std::move(specials), std::move(entries));
        return S_OK;
    }

protected:
    bool Owns(const TNsItem& item) const override
    {
        return IsSpecial(item.Kind) || item.Kind == TNsItemKind::Entry;
    }

    HRESULT BindChild(const TNsItem& item, TItemIdPosition position,
                      std::shared_ptr<IShellFolder>& folder) override
    {
        switch (item.Kind) {
        case TNsItemKind::Computer:
            folder = std::make_shared<TMountFolder>(SharedEnvironment(), TNsItemKind::Volume);
            return S_OK;
        case TNsItemKind::Network:
            folder = std::make_shared<TMountFolder>(SharedEnvironment(), TNsItemKind::NetworkMount);
            return S_OK;
        case TNsItemKind::Trash:
            folder = std::make_shared<TTrashFolder>(SharedEnvironment());
            return S_OK;
        case TNsItemKind::Home:
            folder = MakeFsFolder(Environment().Home, MayStallAt(Environment(), Environment().Home),
                                  {SpecialItem(TNsItemKind::Home)});
            return S_OK;
        default: {
            const TItemIdList one = CopyFirstItem(position);
            if (!one)
                return E_OUTOFMEMORY;
            return EntryFolder()->BindToObject(one.Data(), folder);
        }
        }
    }

    int CompareChildren(int column, const TNsItem& first, const TNsItem& second) override
    {
        const int rankA = DesktopRank(first.Kind);
        const int rankB = DesktopRank(second.Kind);
        if (rankA != rankB)
            return rankA < rankB ? -1 : 1;
        if (first.Kind == TNsItemKind::Entry)
            return CompareNsEntries(column & 0xFFFF, first, second);
        return 0;
    }

    HRESULT ChildAttributes(const TNsItem& item, TItemIdPosition position, uint32_t asked,
                            uint32_t& attributes) override
    {
        switch (item.Kind) {
        case TNsItemKind::Computer:
            attributes = SFGAO_FOLDER | SFGAO_HASSUBFOLDER;
            return S_OK;
        case TNsItemKind::Home:
            attributes = SFGAO_FILESYSTEM | SFGAO_FOLDER | SFGAO_HASSUBFOLDER | SFGAO_DROPTARGET;
            return S_OK;
        case TNsItemKind::Network: {
            attributes = SFGAO_FOLDER;
            const std::vector<TMount> mounts = Environment().Mounts();
            if (std::any_of(mounts.begin(), mounts.end(),
                            [](const TMount& m) { return m.Kind == TMountKind::Network; }))
                attributes |= SFGAO_HASSUBFOLDER;
            return S_OK;
        }
        case TNsItemKind::Trash:
            attributes = SFGAO_FOLDER | SFGAO_DROPTARGET;
            return S_OK;
        default:
            attributes = asked;
            return EntryFolder()->GetAttributesOf({&position, 1}, attributes);
        }
    }

    HRESULT ChildDisplayName(const TNsItem& item, TItemIdPosition position, uint32_t flags,
                             std::string& name) override
    {
        if (item.Kind == TNsItemKind::Entry)
            return EntryFolder()->GetDisplayNameOf(position, flags, name);
        if (item.Kind == TNsItemKind::Home && (flags & SHGDN_FORPARSING))
            name = Environment().Home;
        else
            name = SpecialName(item.Kind);
        return S_OK;
    }

    HRESULT OwnDisplayName(uint32_t flags, std::string& name) override
    {
        name = (flags & SHGDN_FORPARSING) ? Environment().DesktopDirectory : kDesktopName;
        return S_OK;
    }

    int ChildIcon(const TNsItem& item, bool) override
    {
        return SpecialIcon(Environment(), item.Kind);
    }

    HRESULT ChildData(const TNsItem& item, TItemIdPosition position, TWin32FindData& data) override
    {
        if (item.Kind != TNsItemKind::Entry)
            return E_INVALIDARG;
        return EntryFolder()->GetDataFromIDList(position, data);
    }

    std::shared_ptr<IShellFolder> EntryFolder() override
    {
        const std::string& directory = Environment().DesktopDirectory;
        return MakeFsFolder(directory, MayStallAt(Environment(), directory), {});
    }

private:
    // The specials first, then whatever the desktop directory holds.
    class TDesktopEnum : public IEnumIDList
    {
    public:
        TDesktopEnum(std::vector<TNsItem> specials, std::shared_ptr<IEnumIDList> entries)
            : specials_(std::move(specials)), entries_(std::move(entries))
        {
        }
        HRESULT Next(TItemIdList& item) override
        {
            if (HRESULT special = specials_.Next(item); special == S_OK)
                return S_OK;
            if (!entries_)
                return S_FALSE;
            return entries_->Next(item);
        }

    private:
        TListEnum specials_;
        std::shared_ptr<IEnumIDList> entries_;
    };
};

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
    return found.empty() ? found : StripTrailingSlashes(found);
}

std::string AbsoluteVariable(const char* name, const std::string& fallback)
{
    const char* value = std::getenv(name);
    if (value && value[0] == '/')
        return StripTrailingSlashes(value);
    return fallback;
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
    std::string home = AbsoluteVariable("HOME", "");
    if (home.empty()) {
        if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
            home = StripTrailingSlashes(entry->pw_dir);
        else
            home = "/";
    }
    environment.Home = home;
    environment.ConfigHome = AbsoluteVariable("XDG_CONFIG_HOME", JoinPath(home, ".config"));
    environment.DataHome = AbsoluteVariable("XDG_DATA_HOME", JoinPath(home, ".local/share"));
    environment.DesktopDirectory = DesktopDirectoryOf(home, environment.ConfigHome);
    environment.Sources = MountSources();
    return environment;
}

std::vector<TMount> TNsEnvironment::Mounts() const
{
    if (!QCoreApplication::instance())
        return ReadMounts(Sources);
    if (!Cache->Mounts) {
        Cache->Mounts = ReadMounts(Sources);
        QTimer::singleShot(0, [cache = std::weak_ptr<TMountCache>(Cache)] {
            if (std::shared_ptr<TMountCache> held = cache.lock())
                held->Mounts.reset();
        });
    }
    return *Cache->Mounts;
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
    // Nothing is queued here: the watcher threads see every change themselves
    // and report it as it happens.
}

std::string TLinuxShellNamespace::GetVolumeLabel(const std::string& rootPath)
{
    const std::vector<TMount> mounts = environment_->Mounts();
    const TMount* mount = FindMount(mounts, StripTrailingSlashes(rootPath));
    return mount ? mount->Label : std::string();
}

std::shared_ptr<IShellNamespace> ShellNamespace()
{
    std::shared_ptr<IShellNamespace>& current = ProcessNamespace();
    if (!current)
        current = std::make_shared<TLinuxShellNamespace>();
    return current;
}

void SetShellNamespace(std::shared_ptr<IShellNamespace> shellNamespace)
{
    // Null makes the next ShellNamespace() read the environment afresh.
    ProcessNamespace() = std::move(shellNamespace);
}
