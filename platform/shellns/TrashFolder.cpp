#include "platform/shellns/TrashFolder.h"

#include "platform/core/FileFacts.h"
#include "platform/core/Posix.h"
#include "platform/shellns/FsFolder.h"
#include "platform/shellns/LinuxShell.h"
#include "platform/shellns/SysImageList.h"

bool TrashHasFiles(const TNsEnvironment& environment)
{
    TDirectoryReader directory(environment.TrashFiles());
    return directory.Next() != nullptr;
}

HRESULT TTrashFolder::EnumObjects(QWidget*, uint32_t flags, std::shared_ptr<IEnumIDList>& children)
{
    std::vector<TNsItem> items;
    // Trashed files are not browsed, so all of them count as non-folders.
    if (flags & SHCONTF_NONFOLDERS) {
        TDirectoryReader directory(Environment().TrashFiles());
        while (const dirent* entry = directory.Next()) {
            std::optional<TNsItem> item = ReadNsEntry(directory.Fd(), entry->d_name);
            if (!item)
                continue;
            if ((item->Attributes & FILE_ATTRIBUTE_HIDDEN) && !(flags & SHCONTF_INCLUDEHIDDEN))
                continue;
            item->Kind = TNsItemKind::TrashEntry;
            items.push_back(std::move(*item));
        }
    }
    children = std::make_shared<TListEnum>(std::move(items));
    return S_OK;
}

HRESULT TTrashFolder::BindChild(const TNsItem&, TItemIdPosition, std::shared_ptr<IShellFolder>&)
{
    return E_INVALIDARG;
}

int TTrashFolder::CompareChildren(int, const TNsItem& first, const TNsItem& second)
{
    return CompareNsNames(OriginalName(first.Name), OriginalName(second.Name));
}

bool TTrashFolder::ChildSortKeys(int, const std::vector<TNsItem>& items,
                                 std::vector<TSortKey>& keys)
{
    std::vector<std::string_view> originals;
    for (const TNsItem& item : items)
        originals.push_back(OriginalName(item.Name));
    const std::vector<uint32_t> places = NsNamePlaces(originals);
    keys.resize(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        keys[i].Numbers[0] = places[i];
        keys[i].Bytes = NsIdentityBytes(items[i]);
    }
    return true;
}

HRESULT TTrashFolder::ChildAttributes(const TNsItem&, TItemIdPosition, uint32_t,
                                      uint32_t& attributes)
{
    attributes = SFGAO_CANDELETE;
    return S_OK;
}

HRESULT TTrashFolder::ChildDisplayName(const TNsItem& item, TItemIdPosition, uint32_t flags,
                                       std::string& name)
{
    const std::string original = OriginalName(item.Name);
    name = (flags & SHGDN_FORPARSING) ? original : DisplayNameOfBytes(original);
    return S_OK;
}

HRESULT TTrashFolder::OwnDisplayName(uint32_t, std::string& name)
{
    name = kTrashName;
    return S_OK;
}

int TTrashFolder::ChildIcon(const TNsItem& item, bool open)
{
    if (item.IsFolder())
        return SysIconIndex(open ? TSysIcon::FolderOpen : TSysIcon::Folder);
    return FileIconIndex(OriginalName(item.Name));
}

HRESULT TTrashFolder::ChildData(const TNsItem& item, TItemIdPosition, TWin32FindData& data)
{
    data = FindDataOfNsItem(item);
    data.FileName = OriginalName(item.Name);
    return S_OK;
}

// A sort asks for the same names many times; the records do not change
// under a name while it is in the Trash.
const std::string& TTrashFolder::OriginalName(const std::string& name)
{
    AssertNamespaceThread();
    auto found = originalNames_.find(name);
    if (found == originalNames_.end())
        found =
            originalNames_.emplace(name, TrashOriginalName(Environment().DataHome + "/Trash", name))
                .first;
    return found->second;
}
