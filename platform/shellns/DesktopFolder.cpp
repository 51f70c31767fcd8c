#include "platform/shellns/DesktopFolder.h"

#include "platform/shellns/FsFolder.h"
#include "platform/shellns/LinuxShell.h"
#include "platform/shellns/MountFolder.h"
#include "platform/shellns/SysImageList.h"
#include "platform/shellns/TrashFolder.h"

#include <algorithm>

namespace {

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

} // namespace

bool IsSpecial(TNsItemKind kind)
{
    return kind == TNsItemKind::Computer || kind == TNsItemKind::Home ||
           kind == TNsItemKind::Network || kind == TNsItemKind::Trash;
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

HRESULT TDesktopFolder::ParseDisplayName(QWidget*, const std::string& name, TItemIdList& list)
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

HRESULT TDesktopFolder::EnumObjects(QWidget* owner, uint32_t flags,
                                    std::shared_ptr<IEnumIDList>& children)
{
    std::vector<TNsItem> specials;
    if (flags & SHCONTF_FOLDERS) {
        for (TNsItemKind kind :
             {TNsItemKind::Computer, TNsItemKind::Home, TNsItemKind::Network, TNsItemKind::Trash})
            specials.push_back(SpecialItem(kind));
    }
    std::shared_ptr<IEnumIDList> entries;
    if (FAILED(EntryFolder()->EnumObjects(owner, flags, entries)))
        entries.reset();
    children = std::make_shared<TDesktopEnum>(std::move(specials), std::move(entries));
    return S_OK;
}

bool TDesktopFolder::Owns(const TNsItem& item) const
{
    return IsSpecial(item.Kind) || item.Kind == TNsItemKind::Entry;
}

HRESULT TDesktopFolder::BindChild(const TNsItem& item, TItemIdPosition position,
                                  std::shared_ptr<IShellFolder>& folder)
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
        folder =
            MakeFsFolder(SharedEnvironment(), Environment().Home, {SpecialItem(TNsItemKind::Home)});
        return S_OK;
    default: {
        const TItemIdList one = CopyFirstItemId(position);
        if (!one)
            return E_OUTOFMEMORY;
        return EntryFolder()->BindToObject(one.Data(), folder);
    }
    }
}

int TDesktopFolder::CompareChildren(int column, const TNsItem& first, const TNsItem& second)
{
    const int rankA = DesktopRank(first.Kind);
    const int rankB = DesktopRank(second.Kind);
    if (rankA != rankB)
        return rankA < rankB ? -1 : 1;
    if (first.Kind == TNsItemKind::Entry)
        return CompareNsEntries(column & 0xFFFF, first, second);
    return 0;
}

bool TDesktopFolder::ChildSortKeys(int column, const std::vector<TNsItem>& items,
                                   std::vector<TSortKey>& keys)
{
    // A special's rank is its own, and entries of one directory differ in
    // what their keys already hold, so identity adds nothing.
    std::vector<TNsItem> entries;
    std::vector<std::string_view> names;
    for (const TNsItem& item : items)
        if (item.Kind == TNsItemKind::Entry) {
            entries.push_back(item);
            names.push_back(item.Name);
        }
    std::vector<TSortKey> entryKeys = NsEntrySortKeys(column & 0xFFFF, entries, names);
    keys.resize(items.size());
    size_t entry = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].Kind == TNsItemKind::Entry)
            keys[i] = std::move(entryKeys[entry++]);
        // An entry's first number is 0 or 1.
        keys[i].Numbers[0] |= static_cast<uint64_t>(DesktopRank(items[i].Kind)) << 32;
    }
    return true;
}

HRESULT TDesktopFolder::ChildAttributes(const TNsItem& item, TItemIdPosition position,
                                        uint32_t asked, uint32_t& attributes)
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

HRESULT TDesktopFolder::ChildDisplayName(const TNsItem& item, TItemIdPosition position,
                                         uint32_t flags, std::string& name)
{
    if (item.Kind == TNsItemKind::Entry)
        return EntryFolder()->GetDisplayNameOf(position, flags, name);
    if (item.Kind == TNsItemKind::Home && (flags & SHGDN_FORPARSING))
        name = Environment().Home;
    else
        name = SpecialName(item.Kind);
    return S_OK;
}

HRESULT TDesktopFolder::OwnDisplayName(uint32_t flags, std::string& name)
{
    name = (flags & SHGDN_FORPARSING) ? Environment().DesktopDirectory : kDesktopName;
    return S_OK;
}

int TDesktopFolder::ChildIcon(const TNsItem& item, bool)
{
    return SpecialIcon(Environment(), item.Kind);
}

HRESULT TDesktopFolder::ChildData(const TNsItem& item, TItemIdPosition position,
                                  TWin32FindData& data)
{
    if (item.Kind != TNsItemKind::Entry)
        return E_INVALIDARG;
    return EntryFolder()->GetDataFromIDList(position, data);
}

std::shared_ptr<IShellFolder> TDesktopFolder::EntryFolder()
{
    return MakeFsFolder(SharedEnvironment(), Environment().DesktopDirectory, {});
}
