#include "platform/shellns/VirtualFolder.h"

#include "platform/shellns/FsFolder.h"
#include "platform/shellns/LinuxShell.h"

#include <type_traits>

namespace {

// Level by level, by identity alone; lists known to decode.
int CompareListsByIdentity(TItemIdPosition first, TItemIdPosition second)
{
    for (;; first = NextItemId(first), second = NextItemId(second)) {
        if (IsItemIdEnd(first) || IsItemIdEnd(second))
            return IsItemIdEnd(first) == IsItemIdEnd(second) ? 0 : IsItemIdEnd(first) ? -1 : 1;
        const std::optional<TNsItem> a = DecodeNsItem(first);
        const std::optional<TNsItem> b = DecodeNsItem(second);
        if (!a || !b)
            return a ? 1 : (b ? -1 : 0);
        if (const int order = CompareNsIdentity(*a, *b); order != 0)
            return order;
    }
}

int Sign(int value)
{
    return value < 0 ? -1 : value > 0 ? 1 : 0;
}

// Binds the items of `rest` one at a time, starting from `folder`.
HRESULT BindStepByStep(std::shared_ptr<IShellFolder> folder, TItemIdPosition rest,
                       std::shared_ptr<IShellFolder>& result)
{
    for (TItemIdPosition p = rest; !IsItemIdEnd(p); p = NextItemId(p)) {
        const TItemIdList one = CopyFirstItemId(p);
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

} // namespace

TNsItem SpecialItem(TNsItemKind kind)
{
    TNsItem item;
    item.Kind = kind;
    return item;
}

std::shared_ptr<IShellFolder> MakeFsFolder(const std::shared_ptr<const TNsEnvironment>& environment,
                                           const std::string& directory,
                                           const std::vector<TNsItem>& absolute)
{
    auto folder = std::make_shared<TFsFolder>(
        directory, environment->MayStallAt(directory),
        [environment](const std::string& path) { return environment->MayStallAt(path); },
        [environment](const std::string& path) { return environment->MountMayStallAt(path); });
    if (TItemIdList list = EncodeNsItems(absolute))
        folder->SetAbsoluteIdList(std::move(list));
    return folder;
}

HRESULT TListEnum::Next(TItemIdList& item)
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

HRESULT TVirtualFolder::ParseDisplayName(QWidget*, const std::string&, TItemIdList&)
{
    return E_INVALIDARG;
}

HRESULT TVirtualFolder::BindToObject(TItemIdPosition list, std::shared_ptr<IShellFolder>& folder)
{
    if (!list || IsItemIdEnd(list))
        return E_INVALIDARG;
    const std::optional<TNsItem> item = DecodeNsItem(list);
    if (!item || !Owns(*item))
        return E_INVALIDARG;
    std::shared_ptr<IShellFolder> child;
    const HRESULT bound = BindChild(*item, list, child);
    if (FAILED(bound))
        return bound;
    return BindStepByStep(std::move(child), NextItemId(list), folder);
}

HRESULT TVirtualFolder::CompareIDs(int column, TItemIdPosition first, TItemIdPosition second)
{
    // Whole lists are checked, so that a foreign tail is refused even
    // when the first items already decide.
    if (!DecodeNsList(first) || !DecodeNsList(second))
        return E_INVALIDARG;
    if (IsItemIdEnd(first) || IsItemIdEnd(second))
        return CompareResult(IsItemIdEnd(first) == IsItemIdEnd(second) ? 0
                             : IsItemIdEnd(first)                      ? -1
                                                                       : 1);
    const std::optional<TNsItem> a = DecodeNsItem(first);
    const std::optional<TNsItem> b = DecodeNsItem(second);
    if (!a || !b || !Owns(*a) || !Owns(*b))
        return E_INVALIDARG;
    // The facts an item carries are one reading's; they may order two items
    // but never tell one item from itself.
    int order = IsSameNsItem(*a, *b) ? 0 : Sign(CompareChildren(column, *a, *b));
    if (order == 0)
        order = CompareNsIdentity(*a, *b);
    if (order != 0)
        return CompareResult(order);

    // One child: the rests decide, in that child's own order.
    const TItemIdPosition restA = NextItemId(first);
    const TItemIdPosition restB = NextItemId(second);
    if (IsItemIdEnd(restA) || IsItemIdEnd(restB))
        return CompareResult(IsItemIdEnd(restA) == IsItemIdEnd(restB) ? 0
                             : IsItemIdEnd(restA)                     ? -1
                                                                      : 1);
    const TItemIdList one = CopyFirstItemId(first);
    std::shared_ptr<IShellFolder> child;
    if (!one || FAILED(BindToObject(one.Data(), child)) || !child)
        return CompareResult(CompareListsByIdentity(restA, restB));
    return child->CompareIDs(column, restA, restB);
}

std::optional<TNsItem> TVirtualFolder::OwnChild(TItemIdPosition position) const
{
    if (!position || IsItemIdEnd(position) || HasSeveralItemIds(position))
        return std::nullopt;
    std::optional<TNsItem> item = DecodeNsItem(position);
    if (!item || !Owns(*item))
        return std::nullopt;
    return item;
}

HRESULT TVirtualFolder::GetSortKeys(int column, std::span<const TItemIdPosition> items,
                                    std::vector<TSortKey>& keys)
{
    std::vector<TNsItem> children;
    children.reserve(items.size());
    for (TItemIdPosition position : items) {
        std::optional<TNsItem> item = OwnChild(position);
        if (!item)
            return E_INVALIDARG;
        children.push_back(std::move(*item));
    }
    std::vector<TSortKey> made;
    if (!ChildSortKeys(column, children, made))
        return E_NOTIMPL;
    keys = std::move(made);
    return S_OK;
}

HRESULT TVirtualFolder::GetAttributesOf(std::span<const TItemIdPosition> items,
                                        uint32_t& attributes)
{
    if (items.empty())
        return E_INVALIDARG;
    const uint32_t asked = attributes;
    uint32_t common = ~0u;
    for (TItemIdPosition position : items) {
        uint32_t one = asked;
        const HRESULT result = ForItem(
            position,
            [&](IShellFolder& parent, TItemIdPosition last) {
                return parent.GetAttributesOf({&last, 1}, one);
            },
            [&](const TNsItem& item) { return ChildAttributes(item, position, asked, one); });
        if (FAILED(result))
            return result;
        common &= one;
    }
    attributes = common;
    return S_OK;
}

template <class Forward, class One>
HRESULT TVirtualFolder::ForItem(TItemIdPosition list, Forward&& forward, One&& one)
{
    if (!list || IsItemIdEnd(list))
        return E_INVALIDARG;
    if (HasSeveralItemIds(list))
        return InParent(list, forward);
    const std::optional<TNsItem> item = DecodeNsItem(list);
    if (!item || !Owns(*item))
        return E_INVALIDARG;
    return one(*item);
}

template <class Interface>
HRESULT TVirtualFolder::UIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                                   std::shared_ptr<Interface>& object)
{
    if (items.empty())
        return E_INVALIDARG;
    if (items.size() == 1 && items[0] && HasSeveralItemIds(items[0]))
        return InParent(items[0], [&](IShellFolder& parent, TItemIdPosition last) {
            return parent.GetUIObjectOf(owner, {&last, 1}, object);
        });
    bool allEntries = true;
    std::optional<TNsItem> first;
    for (TItemIdPosition position : items) {
        std::optional<TNsItem> item = OwnChild(position);
        if (!item)
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

HRESULT TVirtualFolder::GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                                      std::shared_ptr<IDropTarget>& target)
{
    return UIObjectOf(owner, items, target);
}

HRESULT TVirtualFolder::GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                                      std::shared_ptr<IDataObject>& data)
{
    return UIObjectOf(owner, items, data);
}

HRESULT TVirtualFolder::GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                                      std::shared_ptr<IExtractIcon>& extractor)
{
    return UIObjectOf(owner, items, extractor);
}

HRESULT TVirtualFolder::GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                                      std::shared_ptr<IContextMenu>& menu)
{
    return UIObjectOf(owner, items, menu);
}

HRESULT TVirtualFolder::GetDisplayNameOf(TItemIdPosition item, uint32_t flags, std::string& name)
{
    if (item && IsItemIdEnd(item))
        return OwnDisplayName(flags, name);
    return ForItem(
        item,
        [&](IShellFolder& parent, TItemIdPosition last) {
            return parent.GetDisplayNameOf(last, flags, name);
        },
        [&](const TNsItem& decoded) { return ChildDisplayName(decoded, item, flags, name); });
}

HRESULT TVirtualFolder::SetNameOf(QWidget* owner, TItemIdPosition item, const std::string& newName,
                                  uint32_t flags, TItemIdList* newItem)
{
    return ForItem(
        item,
        [&](IShellFolder& parent, TItemIdPosition last) {
            return parent.SetNameOf(owner, last, newName, flags, newItem);
        },
        [&](const TNsItem& decoded) {
            if (decoded.Kind == TNsItemKind::Entry)
                if (std::shared_ptr<IShellFolder> entries = EntryFolder())
                    return entries->SetNameOf(owner, item, newName, flags, newItem);
            return E_FAIL;
        });
}

HRESULT TVirtualFolder::GetDataFromIDList(TItemIdPosition item, TWin32FindData& data)
{
    return ForItem(
        item,
        [&](IShellFolder& parent, TItemIdPosition last) {
            return parent.GetDataFromIDList(last, data);
        },
        [&](const TNsItem& decoded) { return ChildData(decoded, item, data); });
}

std::shared_ptr<IShellIcon> TVirtualFolder::QueryShellIcon()
{
    return std::shared_ptr<IShellIcon>(shared_from_this(), this);
}

HRESULT TVirtualFolder::GetIconOf(TItemIdPosition item, uint32_t flags, int& index)
{
    if (!item || IsItemIdEnd(item) || HasSeveralItemIds(item))
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
