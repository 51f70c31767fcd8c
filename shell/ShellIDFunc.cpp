#include "shell/ShellIDFunc.h"

#include <cstring>

void ShFreeIdList(TItemIdList& list)
{
    list.Reset();
}

TItemIdList ShAllocIdList(uint16_t size)
{
    return TItemIdList::Allocate(size);
}

// Sums are taken wide and refused when they do not fit: a wrapped size would
// copy a truncated list or overrun a block too small for its bytes.
uint16_t ShFirstItemSize(TItemIdPosition list)
{
    if (list == nullptr || ItemIdCount(list) == 0)
        return 0;
    const size_t size = size_t{ItemIdCount(list)} + 2;
    return size > UINT16_MAX ? 0 : static_cast<uint16_t>(size);
}

uint16_t ShIdListSize(TItemIdPosition list)
{
    if (list == nullptr)
        return 0;
    size_t size = 2;
    for (TItemIdPosition item = list; ItemIdCount(item) != 0; item += ItemIdCount(item)) {
        size += ItemIdCount(item);
        if (size > UINT16_MAX)
            return 0;
    }
    return static_cast<uint16_t>(size);
}

TItemIdPosition ShNextItem(TItemIdPosition position)
{
    return position == nullptr ? nullptr : position + ItemIdCount(position);
}

TItemIdPosition ShNextItemOrNil(TItemIdPosition position)
{
    if (position == nullptr || ItemIdCount(position) == 0)
        return nullptr;
    const TItemIdPosition next = position + ItemIdCount(position);
    return ItemIdCount(next) == 0 ? nullptr : next;
}

TItemIdList ShCopyFirstItem(TItemIdPosition list)
{
    const uint16_t size = ShFirstItemSize(list);
    if (size == 0)
        return {};
    TItemIdList copy = ShAllocIdList(size);
    // The zero fill supplies the terminator.
    if (copy)
        std::memcpy(copy.MutableData(), list, ItemIdCount(list));
    return copy;
}

TItemIdList ShCopyIdList(TItemIdPosition list)
{
    if (list == nullptr)
        return {};
    const uint16_t size = ShIdListSize(list);
    if (size == 0)
        return {};
    TItemIdList copy = ShAllocIdList(size);
    if (copy)
        std::memcpy(copy.MutableData(), list, size);
    return copy;
}

TItemIdList ShConcatIdLists(TItemIdPosition first, TItemIdPosition second)
{
    if (first == nullptr || second == nullptr)
        return {};
    const size_t firstSize = ShIdListSize(first);
    const size_t secondSize = ShIdListSize(second);
    if (firstSize == 0 || secondSize == 0 || firstSize - 2 + secondSize > UINT16_MAX)
        return {};
    const size_t firstItems = firstSize - 2;
    TItemIdList joined = ShAllocIdList(static_cast<uint16_t>(firstItems + secondSize));
    if (joined) {
        std::memcpy(joined.MutableData(), first, firstItems);
        std::memcpy(joined.MutableData() + firstItems, second, secondSize);
    }
    return joined;
}

TItemIdList ShAppendIdList(TItemIdList& accumulated, TItemIdList& added)
{
    TItemIdList result;
    if (accumulated && added)
        result = ShConcatIdLists(accumulated.Data(), added.Data());
    else if (accumulated)
        result = ShCopyIdList(accumulated.Data());
    else if (added)
        result = ShCopyIdList(added.Data());
    ShFreeIdList(accumulated);
    ShFreeIdList(added);
    return result;
}

TItemIdList ShParentIdList(TItemIdPosition list)
{
    TItemIdList parent;
    for (TItemIdPosition item = list; item != nullptr && ItemIdCount(item) != 0;) {
        const TItemIdPosition next = ShNextItemOrNil(item);
        if (next == nullptr)
            break;
        TItemIdList copy = ShCopyFirstItem(item);
        parent = ShAppendIdList(parent, copy);
        item = next;
    }
    return parent;
}

TItemIdList ShLastItem(TItemIdPosition list)
{
    if (list == nullptr)
        return {};
    TItemIdPosition last = list;
    while (const TItemIdPosition next = ShNextItemOrNil(last))
        last = next;
    return ShCopyFirstItem(last);
}

int ShCompareIdLists(const std::shared_ptr<IShellFolder>& folder, TItemIdPosition first,
                     TItemIdPosition second)
{
    if (!folder || first == nullptr || second == nullptr)
        return 3;
    const HRESULT result = folder->CompareIDs(0, first, second);
    if (FAILED(result))
        return 3;
    const int order = ResultCode(result);
    return order == 0 ? 0 : (order > 0 ? 1 : 2);
}

bool ShIsDesktop(const std::shared_ptr<IShellFolder>& folder, TItemIdPosition list)
{
    TItemIdList desktop;
    if (!ShSpecialFolderIdList(sfDesktop, desktop))
        return false;
    return ShCompareIdLists(folder, desktop.Data(), list) == 0;
}

int ShItemCount(TItemIdPosition list)
{
    if (list == nullptr)
        return -1;
    std::shared_ptr<IShellFolder> desktop;
    if (FAILED(ShellNamespace()->GetDesktopFolder(desktop)) || !desktop)
        return -1;
    if (ShIsDesktop(desktop, list))
        return 0;
    int count = 0;
    for (TItemIdPosition item = list; ItemIdCount(item) != 0; item = ShNextItem(item))
        ++count;
    return count;
}

bool ShPathFromIdList(TItemIdPosition list, std::string& path)
{
    path.clear();
    if (list == nullptr)
        return false;
    std::string found;
    if (!ShellNamespace()->GetPathFromIDList(list, found))
        return false;
    path = std::move(found);
    return true;
}

bool ShIdListFromPath(const std::string& path, TItemIdList& list)
{
    list.Reset();
    std::shared_ptr<IShellFolder> desktop;
    if (FAILED(ShellNamespace()->GetDesktopFolder(desktop)) || !desktop)
        return false;
    TItemIdList parsed;
    if (FAILED(desktop->ParseDisplayName(nullptr, path, parsed)) || !parsed)
        return false;
    list = std::move(parsed);
    return true;
}

bool ShSpecialFolderIdList(TShSpecialFolder folder, TItemIdList& list)
{
    list.Reset();
    TItemIdList location;
    if (FAILED(ShellNamespace()->GetSpecialFolderLocation(nullptr, ShSpecialFolderCsidl(folder),
                                                          location)) ||
        !location)
        return false;
    list = std::move(location);
    return true;
}

bool ShStrRetToString(const std::shared_ptr<IShellFolder>& folder, TItemIdPosition list,
                      uint32_t flags, std::string& name)
{
    name.clear();
    if (!folder || list == nullptr)
        return false;
    std::string displayName;
    if (FAILED(folder->GetDisplayNameOf(list, flags, displayName)))
        return false;
    name = std::move(displayName);
    return true;
}

int ShSysIconIndex(TItemIdPosition list, bool large, bool open)
{
    if (list == nullptr)
        return 0;
    uint32_t flags = SHGFI_SYSICONINDEX | SHGFI_PIDL;
    if (!large)
        flags |= SHGFI_SMALLICON;
    if (open)
        flags |= SHGFI_OPENICON;
    TShFileInfo info;
    if (!ShellNamespace()->GetFileInfo(list, flags, info))
        return 0;
    return info.IconIndex;
}

const TSysImageList* ShSysImageList(bool large)
{
    // Any item would do: the list handed back is the process's one list of
    // that size. The desktop is the item that always exists.
    TItemIdList desktop;
    if (!ShSpecialFolderIdList(sfDesktop, desktop))
        return nullptr;
    TShFileInfo info;
    const uint32_t flags = SHGFI_SYSICONINDEX | SHGFI_PIDL | (large ? 0u : SHGFI_SMALLICON);
    if (!ShellNamespace()->GetFileInfo(desktop.Data(), flags, info))
        return nullptr;
    return info.ImageList;
}
