#include "shell/ShellIDList.h"

TItemIdPosition TShellIDListBase::Item(int index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return items_[static_cast<size_t>(index)];
}

int TShellIDListBase::GetRootLevel() const
{
    return ShItemCount(parent_);
}

bool TShellIDListBase::GetFolder(std::shared_ptr<IShellFolder>& folder) const
{
    // No ParentIdList is not the desktop: it names no folder at all.
    if (parent_ == nullptr)
        return false;
    std::shared_ptr<IShellFolder> desktop;
    if (FAILED(ShellNamespace()->GetDesktopFolder(desktop)) || !desktop)
        return false;
    if (GetRootLevel() == 0) {
        folder = std::move(desktop);
        return true;
    }
    std::shared_ptr<IShellFolder> bound;
    if (FAILED(desktop->BindToObject(parent_, bound)) || !bound)
        return false;
    folder = std::move(bound);
    return true;
}

uint32_t TShellIDListBase::GetCommonAttributes() const
{
    std::shared_ptr<IShellFolder> folder;
    if (items_.empty() || !GetFolder(folder))
        return 0;
    uint32_t attributes = SFGAO_CAPABILITYMASK;
    if (FAILED(folder->GetAttributesOf(items_, attributes)))
        return 0;
    return attributes;
}

bool TShellIDListBase::HasAttribute(TShItemAttribute attribute) const
{
    std::shared_ptr<IShellFolder> folder;
    if (items_.empty() || !GetFolder(folder))
        return false;
    const uint32_t mask = ShItemAttributeMask(attribute);
    uint32_t attributes = mask;
    if (FAILED(folder->GetAttributesOf(items_, attributes)))
        return false;
    return (attributes & mask) == mask;
}

std::string TShellIDListBase::GetItemPath(int index) const
{
    const TItemIdPosition item = Item(index);
    if (item == nullptr || parent_ == nullptr)
        return {};
    const TItemIdList absolute = ShConcatIdLists(parent_, item);
    std::string path;
    ShPathFromIdList(absolute.Data(), path);
    return path;
}

int TShellIDList::Add(TItemIdPosition item)
{
    items_.push_back(item);
    return Count() - 1;
}

void TShellIDList::Delete(int index)
{
    if (index >= 0 && index < Count())
        items_.erase(items_.begin() + index);
}

TShellIDList2::~TShellIDList2()
{
    parent_ = nullptr;
    ShFreeIdList(parentList_);
    Clear();
}

int TShellIDList2::Add(TItemIdList item)
{
    items_.push_back(item.Data());
    lists_.push_back(std::move(item));
    return Count() - 1;
}

void TShellIDList2::Delete(int index)
{
    if (index < 0 || index >= Count())
        return;
    items_.erase(items_.begin() + index);
    lists_.erase(lists_.begin() + index);
}

void TShellIDList2::Clear()
{
    items_.clear();
    lists_.clear();
    parent_ = nullptr;
    ShFreeIdList(parentList_);
}

void TShellIDList2::SetParentIdList(TItemIdList parent)
{
    parentList_ = std::move(parent);
    parent_ = parentList_.Data();
}
