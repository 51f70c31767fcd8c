#include "shell/ShellDataItem.h"

#include <stdexcept>

namespace {

QWidget*& OwnerWindowHolder()
{
    static QWidget* owner = nullptr;
    return owner;
}

// The rename flag that the namespace passes on to its own change handling.
constexpr uint32_t kRenameFlags = 32;

int SmallIconIndex(TItemIdPosition absoluteIdList)
{
    return ShSysIconIndex(absoluteIdList, false, false);
}

} // namespace

void TShellDataItem::SetOwnerWindow(QWidget* owner)
{
    OwnerWindowHolder() = owner;
}

QWidget* TShellDataItem::OwnerWindow()
{
    return OwnerWindowHolder();
}

TItemIdPosition TShellDataItem::ListInFolder()
{
    // The desktop's own item has the empty absolute list; there is no
    // relative list of it inside any folder.
    return GetLevel() == 0 ? GetAbsoluteIdList() : RelativeIdList.Data();
}

int TShellDataItem::GetIconIndex()
{
    if (IconIndex != -1 || !GetParentFolder())
        return IconIndex;
    const TItemIdPosition relative = RelativeIdList.Data();

    const std::shared_ptr<IShellIcon> shellIcon = ParentFolder->QueryShellIcon();
    if (!shellIcon || relative == nullptr) {
        IconIndex = SmallIconIndex(GetAbsoluteIdList());
        return IconIndex;
    }
    // The folder's own answer only says that the item has a system icon;
    // the index is taken from the image list, as for every other item, so
    // both sizes and the open state agree.
    int index = -1;
    if (shellIcon->GetIconOf(relative, GIL_FORSHELL, index) == S_OK) {
        IconIndex = SmallIconIndex(GetAbsoluteIdList());
        return IconIndex;
    }

    std::shared_ptr<IExtractIcon> extractor;
    const TItemIdPosition items[] = {relative};
    if (SUCCEEDED(ParentFolder->GetUIObjectOf(OwnerWindow(), items, extractor)) && extractor) {
        uint32_t flags = 0;
        if (SUCCEEDED(extractor->GetIconLocation(GIL_FORSHELL, index, flags))) {
            IconIndex = index;
            // A per-class icon is the one the image list already has for the
            // kind, so it is taken from there rather than from the extractor.
            if ((flags & GIL_PERCLASS) != 0)
                IconIndex = SmallIconIndex(GetAbsoluteIdList());
        }
    }
    if (IconIndex < 0)
        IconIndex = SmallIconIndex(GetAbsoluteIdList());
    return IconIndex;
}

int TShellDataItem::GetOpenIconIndex()
{
    if (OpenIconIndex == -1)
        OpenIconIndex = ShSysIconIndex(GetAbsoluteIdList(), false, true);
    return OpenIconIndex;
}

bool TShellDataItem::GetParentFolder()
{
    if (ParentFolder)
        return true;
    std::shared_ptr<IShellFolder> desktop;
    if (FAILED(ShellNamespace()->GetDesktopFolder(desktop)) || !desktop)
        return false;
    const int level = GetLevel();
    if (level == 0 || level == 1) {
        ParentFolder = std::move(desktop);
        return true;
    }
    const TItemIdPosition parentList = GetParentIdList();
    if (parentList == nullptr)
        return false;
    std::shared_ptr<IShellFolder> folder;
    if (SUCCEEDED(desktop->BindToObject(parentList, folder)) && folder)
        ParentFolder = std::move(folder);
    return ParentFolder != nullptr;
}

std::string TShellDataItem::GetDisplayName()
{
    if (DisplayName.empty() && GetParentFolder()) {
        std::string name;
        if (ShStrRetToString(ParentFolder, ListInFolder(), SHGDN_INFOLDER, name))
            DisplayName = std::move(name);
    }
    return DisplayName;
}

bool TShellDataItem::HasAttribute(TShItemAttribute attribute)
{
    if (!GetParentFolder())
        return false;
    const TItemIdPosition list = ListInFolder();
    if (list == nullptr)
        return false;
    const uint32_t mask = ShItemAttributeMask(attribute);
    uint32_t attributes = mask;
    const TItemIdPosition items[] = {list};
    return SUCCEEDED(ParentFolder->GetAttributesOf(items, attributes)) &&
           (attributes & mask) == mask;
}

std::string TShellDataItem::GetPath()
{
    // The desktop's item carries the desktop directory's list as its
    // relative list, which is what gives it a path.
    const TItemIdPosition list = GetLevel() == 0 ? RelativeIdList.Data() : GetAbsoluteIdList();
    std::string path;
    if (!ShPathFromIdList(list, path))
        path.clear();
    return path;
}

std::shared_ptr<IDropTarget> TShellDataItem::GetDropTarget()
{
    if (!GetParentFolder() || !RelativeIdList)
        return nullptr;
    std::shared_ptr<IDropTarget> target;
    const TItemIdPosition items[] = {RelativeIdList.Data()};
    if (FAILED(ParentFolder->GetUIObjectOf(OwnerWindow(), items, target)))
        return nullptr;
    return target;
}

int TShellDataItem::GetOverlayIndex()
{
    if (!GetParentFolder())
        return -1;
    if (const std::shared_ptr<IShellIconOverlay> overlay = ParentFolder->QueryIconOverlay()) {
        int index = 0;
        if (RelativeIdList && overlay->GetOverlayIndex(RelativeIdList.Data(), index) == S_OK)
            return index - 1; // the folder numbers overlays from 1, the image list from 0
        return -1;
    }
    if (HasAttribute(iaShare))
        return 0;
    if (HasAttribute(iaLink))
        return 1;
    return -1;
}

TShItemIDType SpecialFolderKind(const std::shared_ptr<IShellFolder>& desktop, TItemIdPosition list)
{
    const struct
    {
        TShSpecialFolder folder;
        TShItemIDType type;
    } specials[] = {
        {sfDrives, itMyComputer},
        {sfNetwork, itNetWork},
        {sfBitBucket, itBitBucket},
    };
    for (const auto& special : specials) {
        TItemIdList known;
        if (ShSpecialFolderIdList(special.folder, known) &&
            ShCompareIdLists(desktop, known.Data(), list) == 0)
            return special.type;
    }
    return itUnknown;
}

TShItemIDType TShellDataItem::GetItemType()
{
    std::shared_ptr<IShellFolder> desktop;
    if (FAILED(ShellNamespace()->GetDesktopFolder(desktop)) || !desktop)
        return itUnknown;
    const int level = GetLevel();
    if (level == 0)
        return itDeskTop;
    if (level < 0)
        return itUnknown;

    if (level == 1) {
        if (const TShItemIDType special = SpecialFolderKind(desktop, RelativeIdList.Data());
            special != itUnknown)
            return special;
    }
    // Without the folder every attribute would read as absent, which would
    // pass the item off as virtual.
    if (!GetParentFolder())
        return itUnknown;
    if (!HasAttribute(iaFileSystem))
        return itVirtual;
    // Only volumes sit directly under the computer with FILESYSANCESTOR.
    if (level == 2 && HasAttribute(iaFileSysAncestor))
        return itRootDrive;
    return HasAttribute(iaFolder) ? itFolder : itFile;
}

TShellFolderItem::TShellFolderItem(IShellTreeNode* node, TItemIdList relativeIdList,
                                   TItemIdList absoluteIdList)
    : Node(node)
{
    RelativeIdList = std::move(relativeIdList);
    AbsoluteIdList = std::move(absoluteIdList);
}

int TShellFolderItem::GetAbsoluteIndex()
{
    return Node != nullptr ? Node->AbsoluteIndex() : -1;
}

int TShellFolderItem::GetLevel()
{
    return ShItemCount(AbsoluteIdList.Data());
}

TItemIdPosition TShellFolderItem::GetParentIdList()
{
    if (!ParentIdList) {
        // A child of the desktop has the desktop's empty list as its parent,
        // which cutting the last item off a one-item list cannot give.
        if (GetLevel() == 1)
            ShSpecialFolderIdList(sfDesktop, ParentIdList);
        else
            ParentIdList = ShParentIdList(AbsoluteIdList.Data());
    }
    return ParentIdList.Data();
}

bool TShellFolderItem::IsValid()
{
    return RelativeIdList && AbsoluteIdList;
}

void TShellFolderItem::AttachNode(IShellTreeNode* node)
{
    Node = node;
    if (Node == nullptr)
        return;
    Node->SetHasChildren(HasAttribute(iaHasSubFolder));
    Node->SetOverlayIndex(GetOverlayIndex());
}

bool TShellFolderItem::Rename(const std::string& newName, HRESULT* result)
{
    if (!GetParentFolder()) {
        if (result != nullptr)
            *result = E_FAIL;
        return false;
    }
    if (!HasAttribute(iaCanRename)) {
        if (result != nullptr)
            *result = E_ACCESSDENIED;
        return false;
    }
    TItemIdList newItem;
    QWidget* owner = Node != nullptr ? Node->TreeWindow() : nullptr;
    const HRESULT answer =
        ParentFolder->SetNameOf(owner, RelativeIdList.Data(), newName, kRenameFlags, &newItem);
    if (result != nullptr)
        *result = answer;
    const bool renamed = SUCCEEDED(answer);

    if (renamed) {
        const int level = GetLevel();
        // The parent's list comes from the old absolute list when it is not
        // cached yet, so it is had before that list goes.
        const TItemIdPosition parentList = level == 1 ? nullptr : GetParentIdList();
        ShFreeIdList(RelativeIdList);
        ShFreeIdList(AbsoluteIdList);
        DisplayName.clear();
        RelativeIdList = std::move(newItem);
        AbsoluteIdList = level == 1 ? ShCopyFirstItem(RelativeIdList.Data())
                                    : ShConcatIdLists(parentList, RelativeIdList.Data());
        // The watcher's notice of the old name must arrive before the node
        // is rebuilt, or it would be applied to the new one.
        ShellNamespace()->FlushChangeNotices();
        if (Node != nullptr) {
            const bool wasExpanded = Node->Expanded();
            Node->DeleteChildren();
            if (IShellTreeNode* parent = Node->Parent())
                parent->SortChildren(&TShellFolderItem::CompareFolderNodes);
            Node->FillChildren();
            if (wasExpanded)
                Node->Expand(false);
        }
    }
    if (Node != nullptr)
        Node->SetText(GetDisplayName());
    return renamed;
}

int TShellFolderItem::CompareFolderNodes(IShellTreeNode* first, IShellTreeNode* second)
{
    if (first == nullptr || second == nullptr)
        return 0;
    TShellFolderItem* firstItem = first->FolderItem();
    TShellFolderItem* secondItem = second->FolderItem();
    if (firstItem == nullptr || secondItem == nullptr || !firstItem->RelativeIdList ||
        !secondItem->RelativeIdList || !firstItem->GetParentFolder())
        return 0;
    const HRESULT result = firstItem->ParentFolder->CompareIDs(0, firstItem->RelativeIdList.Data(),
                                                               secondItem->RelativeIdList.Data());
    return FAILED(result) ? 0 : ResultCode(result);
}

TShellDragObject::TShellDragObject(std::shared_ptr<IDataObject> dataObject)
    : DataObject(std::move(dataObject))
{
    if (!DataObject)
        throw std::invalid_argument("パラメータが不正です。");
}
