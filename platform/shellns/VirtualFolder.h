#pragma once

#include "platform/shellns/ShellNs.h"
#include "platform/shellns/ShellNsItems.h"

#include <memory>
#include <string>
#include <vector>

struct TNsEnvironment;

// What the folders of the desktop namespace that are not directories (the
// desktop, the computer, the network and the trash) share.

inline constexpr const char* kComputerName = "コンピューター";
inline constexpr const char* kHomeName = "ホーム";
inline constexpr const char* kNetworkName = "ネットワーク";
inline constexpr const char* kTrashName = "ゴミ箱";
inline constexpr const char* kDesktopName = "デスクトップ";

/// The item of a special folder (no name, no facts).
TNsItem SpecialItem(TNsItemKind kind);

/// A directory's folder that knows its own absolute list, which the data
/// objects of its selections name as their parent, and asks the
/// environment's mount table whether looking at it or below it may stall.
std::shared_ptr<IShellFolder> MakeFsFolder(const std::shared_ptr<const TNsEnvironment>& environment,
                                           const std::string& directory,
                                           const std::vector<TNsItem>& absolute);

/// Enumerates a list of items made beforehand.
class TListEnum : public IEnumIDList
{
public:
    explicit TListEnum(std::vector<TNsItem> items) : items_(std::move(items)) {}
    HRESULT Next(TItemIdList& item) override;

private:
    std::vector<TNsItem> items_;
    size_t next_ = 0;
};

/// Lists of several items are resolved by binding down to the last item's
/// folder, and the answer for one child comes from the hooks below.
class TVirtualFolder : public IShellFolder,
                       public IShellIcon,
                       public std::enable_shared_from_this<TVirtualFolder>
{
public:
    explicit TVirtualFolder(std::shared_ptr<const TNsEnvironment> environment)
        : environment_(std::move(environment))
    {
    }

    HRESULT ParseDisplayName(QWidget* owner, const std::string& name, TItemIdList& list) override;
    HRESULT BindToObject(TItemIdPosition list, std::shared_ptr<IShellFolder>& folder) override;
    HRESULT CompareIDs(int column, TItemIdPosition first, TItemIdPosition second) override;
    /// E_NOTIMPL unless ChildSortKeys gives keys.
    HRESULT GetSortKeys(int column, std::span<const TItemIdPosition> items,
                        std::vector<TSortKey>& keys) override;
    HRESULT GetAttributesOf(std::span<const TItemIdPosition> items, uint32_t& attributes) override;
    HRESULT GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                          std::shared_ptr<IDropTarget>& target) override;
    HRESULT GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                          std::shared_ptr<IDataObject>& data) override;
    HRESULT GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                          std::shared_ptr<IExtractIcon>& extractor) override;
    HRESULT GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                          std::shared_ptr<IContextMenu>& menu) override;
    HRESULT GetDisplayNameOf(TItemIdPosition item, uint32_t flags, std::string& name) override;
    HRESULT SetNameOf(QWidget* owner, TItemIdPosition item, const std::string& newName,
                      uint32_t flags, TItemIdList* newItem) override;
    HRESULT GetDataFromIDList(TItemIdPosition item, TWin32FindData& data) override;
    std::shared_ptr<IShellIcon> QueryShellIcon() override;
    HRESULT GetIconOf(TItemIdPosition item, uint32_t flags, int& index) override;

protected:
    const TNsEnvironment& Environment() const { return *environment_; }
    const std::shared_ptr<const TNsEnvironment>& SharedEnvironment() const { return environment_; }

    /// Whether an item is of a kind that this folder holds.
    virtual bool Owns(const TNsItem& item) const = 0;
    virtual HRESULT BindChild(const TNsItem& item, TItemIdPosition position,
                              std::shared_ptr<IShellFolder>& folder) = 0;
    /// Negative, zero or positive; identity (CompareNsIdentity) breaks the
    /// ties afterwards, and items that IsSameNsItem are never asked.
    virtual int CompareChildren(int column, const TNsItem& first, const TNsItem& second) = 0;
    /// One key per child, whose order among distinct children is that of
    /// CompareChildren followed by identity; false (the default) when the
    /// folder gives no keys.
    virtual bool ChildSortKeys(int /*column*/, const std::vector<TNsItem>& /*items*/,
                               std::vector<TSortKey>& /*keys*/)
    {
        return false;
    }
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
        const TItemIdList parentList = CopyAllButLastItemId(list, last);
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
    /// Runs `forward(parent, last)` in the folder of the last item of a list
    /// of several, or `one(item)` with the item of a one-item list when this
    /// folder holds it; E_INVALIDARG for no list, the empty list or an item
    /// of another folder.
    template <class Forward, class One>
    HRESULT ForItem(TItemIdPosition list, Forward&& forward, One&& one);
    /// A one-item list of a child of this folder, decoded; none otherwise.
    std::optional<TNsItem> OwnChild(TItemIdPosition position) const;
    template <class Interface>
    HRESULT UIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                       std::shared_ptr<Interface>& object);

    std::shared_ptr<const TNsEnvironment> environment_;
};
